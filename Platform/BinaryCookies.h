// The Cookies.binarycookies file format of the shared HTTP cookie storage.
//
// File: "cook", the page count (u32 BE), each page's size (u32 BE), the pages back to back,
// a checksum (u32 BE), the footer 07 17 20 05, the length of the trailing property list
// (u32 BE) and that property list ({NSHTTPCookieAcceptPolicy: n}, binary).
// Page (all LE): 00 00 01 00, the record count, each record's offset, four zero bytes, the
// records. Record (all LE): size, version, flags, has-port, the offsets of domain, name,
// path, value, comment and comment URL (0: none), expiry and creation time (doubles,
// seconds since 2001-01-01 UTC), the port (u16, only with has-port 1), then the strings,
// each ending in NUL. The checksum adds up the bytes at offsets 0, 4, 8, ... of every page.
//
// The file comes from outside: parse() checks every count, size and offset against the
// bytes it has and refuses anything that does not add up, with a reason; it never reads
// outside the input. A parsed jar keeps each record's bytes, so that a rewrite after a
// deletion (serialize()) keeps every other record exactly as it was.
//
// Threads: any; no state.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Platform/HTTPCookieStorage.h"

namespace hvn::BinaryCookies {

// One cookie record: its decoded fields and its bytes as found in the file.
struct Record {
    HTTPCookie cookie;
    std::string bytes;
};

// The records of one page, in the order of the page's offset table.
struct Page {
    std::vector<Record> records;
};

struct Jar {
    std::vector<Page> pages;
    uint32_t storedChecksum = 0;  // the checksum the file holds
    bool checksumMatches = true;  // storedChecksum is the checksum of the pages
    // The trailing binary property list, as found (or defaultPropertyList()).
    std::string propertyList;

    // Every cookie, pages in file order, records in offset-table order.
    std::vector<HTTPCookie> cookies() const;
    size_t cookieCount() const;
};

// Decodes a whole file. nullopt with error set (a short English reason) when the bytes are
// not a valid jar.
std::optional<Jar> parse(std::string_view bytes, std::string* error = nullptr);

// Builds the file of a jar: the page table and the page headers from the records (whose
// bytes are copied unchanged), the checksum, the footer and jar.propertyList. Pages without
// records are left out.
std::string serialize(const Jar& jar);

// A fresh, valid file holding the cookies in their order: a run of cookies of the same
// domain shares a page. propertyList defaults to defaultPropertyList().
std::string encode(const std::vector<HTTPCookie>& cookies);
std::string encode(const std::vector<HTTPCookie>& cookies, const std::string& propertyList);

// The bytes of one record for a cookie (version 0; the strings comment, comment URL, domain,
// name, path, value follow the fixed part, which the port lengthens by 2 bytes).
std::string encodeRecord(const HTTPCookie& cookie);
// Decodes one record (exactly the record's bytes); nullopt with error set when it is invalid.
std::optional<HTTPCookie> parseRecord(std::string_view record, std::string* error = nullptr);

// Removes the records whose cookie `select` answers true for, and the pages left empty.
// Returns how many were removed.
size_t removeWhere(Jar& jar, const std::function<bool(const HTTPCookie&)>& select);

// The checksum of one page's bytes, and of the pages of a jar as serialize() lays them out.
uint32_t pageChecksum(std::string_view page);
uint32_t checksum(const Jar& jar);

// The binary property list {NSHTTPCookieAcceptPolicy: policy} (75 bytes). The default
// policy 2 accepts cookies from the main document's domain only.
std::string defaultPropertyList(uint8_t acceptPolicy = 2);

// The bytes that end every file's pages and checksum.
inline constexpr char kFooter[4] = {'\x07', '\x17', '\x20', '\x05'};

}  // namespace hvn::BinaryCookies

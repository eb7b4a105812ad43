// Property lists (XML and binary) read into and written from hvn::Value, through libplist.
#pragma once

#include <optional>
#include <string>

#include "Platform/Value.h"

namespace hvn {

enum class PlistFormat { XML, Binary };

namespace PropertyList {

// Parses XML or binary plist bytes; nullopt when they are not a property list.
std::optional<Value> parse(const std::string& bytes);
std::optional<Value> parse(const Data& bytes);
// Serialises a value. A null value cannot be stored in a property list: it is written as
// an empty string inside containers, and the whole document is empty for a null root.
std::string serialize(const Value& value, PlistFormat format = PlistFormat::XML);

// Reads a plist file; nullopt when missing, unreadable or not a property list.
std::optional<Value> readFile(const std::string& path);
// Writes a plist file. With atomically, writes a temporary file beside it, flushes it and
// renames it over the target, so a reader sees the old or the new file and never a part.
// Creates missing parent folders. Returns false with errorText filled on failure.
bool writeFile(const std::string& path, const Value& value, PlistFormat format = PlistFormat::XML,
               bool atomically = true, std::string* errorText = nullptr);

}  // namespace PropertyList

// Reads a whole file into bytes; nullopt when it cannot be read.
std::optional<std::string> readWholeFile(const std::string& path);
// Writes bytes to a file through a temporary file and rename (see PropertyList::writeFile).
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* errorText = nullptr);

}  // namespace hvn

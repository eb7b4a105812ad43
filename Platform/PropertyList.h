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
// Writes a plist file. With atomically, goes through writeFileAtomically (below); without,
// rewrites the file in place. Creates missing parent folders. Returns false with errorText
// filled on failure.
bool writeFile(const std::string& path, const Value& value, PlistFormat format = PlistFormat::XML,
               bool atomically = true, std::string* errorText = nullptr);

}  // namespace PropertyList

// Reads a whole regular file into bytes; nullopt when it is missing, is no regular file or
// cannot be read. Never blocks (a FIFO is no regular file).
std::optional<std::string> readWholeFile(const std::string& path);
// Reads an open descriptor to its end, appending to out. 0, or the errno of the failed read.
int readToEnd(int fd, std::string& out);

// The file that a write to path lands on: path itself or, when path is a symbolic link, the
// file at the end of its chain of links (which need not exist yet). nullopt, with errorText
// filled, when the chain loops or cannot be followed.
std::optional<std::string> resolveWriteTarget(const std::string& path, std::string* errorText = nullptr);

// Replaces a file's contents so that a reader sees the old or the new file and never a part:
// writes a temporary file beside it, flushes it, renames it over the file and flushes the
// folder. A symbolic link is written through (resolveWriteTarget): the link stays and the
// file it points at gets the bytes. A replaced file keeps its permission bits and, when the
// caller may give files away (root), its owner and group; a new file gets 0644 less the
// umask, and missing parent folders are created. Returns false with errorText (naming the
// path and the system's reason) when the target exists but is not a regular file, or on any
// failure before the rename; the target is then untouched and no temporary file is left.
// Also false when only the flush of the folder fails, after the new contents are in place.
bool writeFileAtomically(const std::string& path, const std::string& bytes, std::string* errorText = nullptr);

}  // namespace hvn

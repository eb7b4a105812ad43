// Texts of the diskutil companion's report lines: paths made safe for one line, and mode
// bits written as ls writes them.
#pragma once

#include <sys/types.h>

#include <string>
#include <string_view>

namespace diskutil {

// The bytes of a file name or path as one line of valid UTF-8: a backslash becomes "\\",
// a double quote "\"", line feed, carriage return and tab "\n", "\r", "\t", any other control
// character and every byte that is not part of valid UTF-8 "\xHH", and the C1 controls and
// the Unicode line and paragraph separators "\uXXXX". Everything else is kept as it is.
std::string escapeForLine(std::string_view bytes);

// The ten-character ls form of a mode ("-rw-r--r--", "drwx------", "drwxrwxrwt").
std::string modeString(mode_t mode);

}  // namespace diskutil

// Strict UTF-8 reading: a well-formed sequence is the shortest form of a code point up to
// U+10FFFF that is not a surrogate (U+D800-U+DFFF). Pure functions, any thread.
#pragma once

#include <cstddef>
#include <string_view>

namespace cli::utf8 {

// The length (1 to 4) of the well-formed sequence that starts at text[pos], with its code
// point in *codePoint when that is given; 0 when the bytes there do not start one (a stray
// continuation byte, an overlong form, a surrogate, a code point above U+10FFFF, a cut-off
// sequence) or pos is at or past the end.
size_t sequenceAt(std::string_view text, size_t pos, char32_t* codePoint = nullptr);

// True when the whole text is well-formed UTF-8 (an empty text is).
bool isValid(std::string_view text);

}  // namespace cli::utf8

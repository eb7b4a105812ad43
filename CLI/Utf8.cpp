#include "CLI/Utf8.h"

namespace cli::utf8 {

size_t sequenceAt(std::string_view text, size_t pos, char32_t* codePoint) {
    if (pos >= text.size()) return 0;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[pos + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        if (codePoint) *codePoint = lead;
        return 1;
    }
    size_t length = 0;
    char32_t lowest = 0;  // below this the form is overlong
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        lowest = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        lowest = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        lowest = 0x10000;
    } else {
        return 0;  // a continuation byte, C0/C1 (always overlong) or F5-FF
    }
    char32_t cp = lead & (0x7F >> length);
    if (text.size() - pos < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(i) & 0x3F);
    }
    if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    if (codePoint) *codePoint = cp;
    return length;
}

bool isValid(std::string_view text) {
    for (size_t pos = 0; pos < text.size();) {
        size_t n = sequenceAt(text, pos);
        if (n == 0) return false;
        pos += n;
    }
    return true;
}

}  // namespace cli::utf8

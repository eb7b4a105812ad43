#include "CLI/TerminalText.h"

#include "CLI/Utf8.h"

namespace cli {

namespace {

void appendHex(std::string& out, unsigned char byte) {
    static const char* digits = "0123456789abcdef";
    out += "\\x";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

}  // namespace

std::string terminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t pos = 0; pos < text.size();) {
        char32_t cp = 0;
        const size_t n = utf8::sequenceAt(text, pos, &cp);
        if (n == 0) {
            appendHex(out, static_cast<unsigned char>(text[pos]));
            ++pos;
            continue;
        }
        switch (cp) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
                    for (size_t i = 0; i < n; ++i) appendHex(out, static_cast<unsigned char>(text[pos + i]));
                } else {
                    out.append(text.substr(pos, n));
                }
        }
        pos += n;
    }
    return out;
}

}  // namespace cli

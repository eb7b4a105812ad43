#include "Companions/diskutil/DiskutilText.h"

#include <sys/stat.h>

#include <cstdio>

namespace diskutil {

namespace {

void appendHexByte(std::string& out, unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, "\\x%02X", c);
    out += buffer;
}

// Length of the valid UTF-8 sequence at the start of s and its code point; 0 when the
// bytes there are not one (overlong forms, surrogates and values past U+10FFFF included).
size_t utf8Sequence(std::string_view s, char32_t& codePoint) {
    const auto b0 = static_cast<unsigned char>(s[0]);
    size_t length;
    char32_t cp;
    if (b0 < 0x80) {
        codePoint = b0;
        return 1;
    } else if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1F;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0F;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07;
    } else {
        return 0;
    }
    if (s.size() < length) return 0;
    for (size_t i = 1; i < length; ++i) {
        const auto b = static_cast<unsigned char>(s[i]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    codePoint = cp;
    return length;
}

}  // namespace

std::string escapeForLine(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    size_t i = 0;
    while (i < bytes.size()) {
        char32_t cp = 0;
        const size_t length = utf8Sequence(bytes.substr(i), cp);
        if (length == 0) {
            appendHexByte(out, static_cast<unsigned char>(bytes[i]));
            ++i;
            continue;
        }
        if (length == 1) {
            const char c = bytes[i];
            switch (c) {
                case '\\':
                    out += "\\\\";
                    break;
                case '"':
                    out += "\\\"";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                default:
                    if (cp < 0x20 || cp == 0x7F) {
                        appendHexByte(out, static_cast<unsigned char>(c));
                    } else {
                        out += c;
                    }
            }
        } else if ((cp >= 0x80 && cp <= 0x9F) || cp == 0x2028 || cp == 0x2029) {
            char buffer[12];
            std::snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(cp));
            out += buffer;
        } else {
            out.append(bytes.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string modeString(mode_t mode) {
    std::string s(10, '-');
    switch (mode & S_IFMT) {
        case S_IFDIR:
            s[0] = 'd';
            break;
        case S_IFLNK:
            s[0] = 'l';
            break;
        case S_IFIFO:
            s[0] = 'p';
            break;
        case S_IFSOCK:
            s[0] = 's';
            break;
        case S_IFCHR:
            s[0] = 'c';
            break;
        case S_IFBLK:
            s[0] = 'b';
            break;
        default:
            break;
    }
    const char* letters = "rwxrwxrwx";
    for (int i = 0; i < 9; ++i) {
        if (mode & (0400 >> i)) s[1 + i] = letters[i];
    }
    auto special = [&](int at, mode_t bit, char withExec, char withoutExec) {
        if (mode & bit) s[at] = s[at] == 'x' ? withExec : withoutExec;
    };
    special(3, S_ISUID, 's', 'S');
    special(6, S_ISGID, 's', 'S');
    special(9, S_ISVTX, 't', 'T');
    return s;
}

}  // namespace diskutil

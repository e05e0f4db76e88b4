// Key and value names as entries of the registry store's folders: plain (escaped) ones,
// long ones named by a hash, and the case folding under which names match.
#include "platforms/posix/registry_names.h"

#include <locale.h>
#include <stdint.h>
#include <stdio.h>
#include <wctype.h>

namespace platform {
namespace regnames {

namespace {

// Leaves room in a file name (255 bytes) for the value prefix and a writer's temporary
// prefix.
constexpr size_t kPlainMax = 200;

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Unicode's simple upper-case mappings, as the C library has them for a UTF-8 locale
// (C.UTF-8 is part of the C library); ASCII alone where there is no such locale.
uint32_t upper(uint32_t c) {
    static const locale_t utf8 = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C.utf8", static_cast<locale_t>(0));
    }();
    if (utf8) return static_cast<uint32_t>(towupper_l(static_cast<wint_t>(c), utf8));
    return c >= 'a' && c <= 'z' ? c - 0x20 : c;
}

} // namespace

std::string escape(const std::string& name) {
    std::string out;
    for (size_t i = 0; i < name.size(); i++) {
        unsigned char c = static_cast<unsigned char>(name[i]);
        if (c == '/' || c == '\\' || c == '%' || c == '@' || c < 0x20 || c == 0x7F ||
            (i == 0 && c == '.')) {
            char hex[4];
            snprintf(hex, sizeof hex, "%%%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

std::string unescape(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); i++) {
        int hi, lo;
        if (s[i] == '%' && i + 2 < s.size() && (hi = hexDigit(s[i + 1])) >= 0 &&
            (lo = hexDigit(s[i + 2])) >= 0) {
            out += static_cast<char>(hi * 16 + lo);
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

std::u32string fold(const std::string& s) {
    std::u32string out;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
    size_t i = 0, n = s.size();
    while (i < n) {
        unsigned c = p[i];
        unsigned len = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : 4;
        if (len > 1 && i + len <= n) {
            uint32_t cp = c & (0x7F >> len);
            bool ok = true;
            for (unsigned k = 1; k < len; k++) {
                ok = ok && (p[i + k] & 0xC0) == 0x80;
                cp = (cp << 6) | (p[i + k] & 0x3F);
            }
            if (ok) {
                out += upper(cp);
                i += len;
                continue;
            }
        }
        out += c < 0x80 ? upper(c) : 0x110000 + c; // a stray byte stays distinct
        i++;
    }
    return out;
}

bool fitsPlain(const std::string& name) {
    return escape(name).size() <= kPlainMax;
}

// 64-bit FNV-1a over the folded characters.
std::string longStem(const std::string& name) {
    uint64_t h = 0xcbf29ce484222325ull;
    for (char32_t c : fold(name))
        for (int k = 0; k < 4; k++)
            h = (h ^ ((c >> (8 * k)) & 0xFF)) * 0x100000001b3ull;
    char stem[24];
    snprintf(stem, sizeof stem, "%%~%016llx", static_cast<unsigned long long>(h));
    return stem;
}

bool isLong(const char* entry) {
    return entry[0] == '%' && entry[1] == '~';
}

} // namespace regnames
} // namespace platform

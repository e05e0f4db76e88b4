#include "core/text/utf.h"

#include <string.h>

namespace text {

std::u16string fromUtf8(const char* s, size_t n) {
    std::u16string out;
    out.reserve(n);
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    size_t i = 0;
    while (i < n) {
        unsigned c = p[i];
        unsigned len = c < 0x80                ? 1
                       : c >= 0xC2 && c < 0xE0 ? 2
                       : c >= 0xE0 && c < 0xF0 ? 3
                       : c >= 0xF0 && c < 0xF5 ? 4
                                               : 0;
        uint32_t cp = len == 1 ? c : len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
        bool ok = len != 0 && i + len <= n;
        for (unsigned k = 1; ok && k < len; k++) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        // Overlong forms and values past U+10FFFF are invalid. An encoded lone surrogate
        // stands for itself (so that one from a script survives a trip to the system and
        // back), except in the range that escapes invalid bytes.
        if (ok && ((len == 3 && (cp < 0x800 || (cp >= 0xDC80 && cp < 0xDD00))) ||
                   (len == 4 && (cp < 0x10000 || cp > 0x10FFFF))))
            ok = false;
        if (!ok) {
            out.push_back(static_cast<char16_t>(0xDC00 + c));
            i++;
            continue;
        }
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
        i += len;
    }
    return out;
}

static void putUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

std::string toCesu8(const uint16_t* s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++)
        putUtf8(out, s[i]);
    return out;
}

std::string toUtf8(const uint16_t* s, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++) {
        uint32_t u = s[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < n && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
            putUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (s[i + 1] - 0xDC00));
            i++;
        } else if (u >= 0xDC80 && u < 0xDD00) {
            out.push_back(static_cast<char>(u - 0xDC00)); // an escaped invalid byte
        } else {
            putUtf8(out, u);
        }
    }
    return out;
}

std::string validUtf8(const std::string& s) {
    std::u16string w = fromUtf8(s.data(), s.size());
    for (size_t i = 0; i < w.size(); i++) {
        char16_t c = w[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
            w[i + 1] < 0xE000)
            i++; // a pair
        else if (c >= 0xD800 && c < 0xE000)
            w[i] = 0xFFFD;
    }
    return toUtf8(reinterpret_cast<const uint16_t*>(w.data()), w.size());
}

namespace {
// Skips whole words (8 bytes) of ASCII from i, which the two conversions below copy as
// they are: the index of the first word holding another byte, or of the shorter rest.
size_t skipAscii(const unsigned char* p, size_t i, size_t n) {
    while (n - i >= 8) {
        uint64_t w;
        memcpy(&w, p + i, 8);
        if (w & 0x8080808080808080ull) break;
        i += 8;
    }
    return i;
}
} // namespace

// Three-byte surrogates start with 0xED followed by 0xA0..0xBF; four-byte sequences start
// with 0xF0..0xF4. Runs of other bytes are copied whole.
void cesu8ToUtf8(const char* s, size_t n, std::string& out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    size_t start = 0;
    for (size_t i = 0; i + 5 < n; i++) {
        if (p[i] < 0x80 && (i = skipAscii(p, i, n)) + 5 >= n) break;
        if (p[i] != 0xED || (p[i + 1] & 0xF0) != 0xA0 || p[i + 3] != 0xED ||
            (p[i + 4] & 0xF0) != 0xB0)
            continue;
        uint32_t hi = ((p[i + 1] & 0x0F) << 6) | (p[i + 2] & 0x3F);
        uint32_t lo = ((p[i + 4] & 0x0F) << 6) | (p[i + 5] & 0x3F);
        out.append(s + start, i - start);
        putUtf8(out, 0x10000 + (hi << 10) + lo);
        i += 5;
        start = i + 1;
    }
    out.append(s + start, n - start);
}

void utf8ToCesu8(const char* s, size_t n, std::string& out) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(s);
    size_t start = 0;
    for (size_t i = 0; i + 3 < n; i++) {
        if (p[i] < 0x80 && (i = skipAscii(p, i, n)) + 3 >= n) break;
        if (p[i] < 0xF0 || p[i] > 0xF4) continue;
        uint32_t cp = ((p[i] & 0x07) << 18) | ((p[i + 1] & 0x3F) << 12) | ((p[i + 2] & 0x3F) << 6) |
                      (p[i + 3] & 0x3F);
        if (cp < 0x10000 || cp > 0x10FFFF) continue;
        out.append(s + start, i - start);
        cp -= 0x10000;
        putUtf8(out, 0xD800 + (cp >> 10));
        putUtf8(out, 0xDC00 + (cp & 0x3FF));
        i += 3;
        start = i + 1;
    }
    out.append(s + start, n - start);
}

} // namespace text

// Engine strings are CESU-8: each UTF-16 code unit is one to three bytes. Strings that
// came from elsewhere may also hold four-byte sequences (one code point above U+FFFF),
// which decode to a surrogate pair.
#include "core/engine/text.h"

#include <string.h>

namespace engine {

const char* bytesAsUtf8(duk_context* ctx, const char* bytes, size_t n, size_t* size) {
    *size = n;
    if (isAscii(bytes, n)) return bytes; // every script source passes here
    size_t extra = 0;
    for (size_t i = 0; i < n; i++)
        extra += static_cast<unsigned char>(bytes[i]) >> 7;
    *size = n + extra;
    char* out = static_cast<char*>(duk_push_fixed_buffer(ctx, n + extra));
    char* w = out;
    for (size_t i = 0; i < n; i++) {
        unsigned c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            *w++ = static_cast<char>(c);
        } else {
            *w++ = static_cast<char>(0xC0 | (c >> 6));
            *w++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

void pushBytes(duk_context* ctx, const char* bytes, size_t n) {
    if (isAscii(bytes, n)) {
        duk_push_lstring(ctx, bytes, n);
        return;
    }
    size_t size;
    const char* text = bytesAsUtf8(ctx, bytes, n, &size);
    duk_push_lstring(ctx, text, size);
    duk_remove(ctx, -2);
}

void pushChars(duk_context* ctx, const uint16_t* chars, size_t n) {
    size_t size = 0;
    for (size_t i = 0; i < n; i++)
        size += chars[i] < 0x80 ? 1 : chars[i] < 0x800 ? 2 : 3;
    char* out = static_cast<char*>(duk_push_fixed_buffer(ctx, size ? size : 1));
    char* w = out;
    for (size_t i = 0; i < n; i++) {
        unsigned c = chars[i];
        if (c < 0x80) {
            *w++ = static_cast<char>(c);
        } else if (c < 0x800) {
            *w++ = static_cast<char>(0xC0 | (c >> 6));
            *w++ = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            *w++ = static_cast<char>(0xE0 | (c >> 12));
            *w++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            *w++ = static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    duk_push_lstring(ctx, out, size);
    duk_remove(ctx, -2);
}

// Decodes one code point at s[*i]; malformed bytes decode as themselves.
static uint32_t decode(const unsigned char* s, size_t n, size_t* i) {
    unsigned c = s[*i];
    unsigned len = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
    if (len == 1 || *i + len > n) {
        (*i)++;
        return c;
    }
    uint32_t cp = len == 2 ? c & 0x1F : len == 3 ? c & 0x0F : c & 0x07;
    for (unsigned k = 1; k < len; k++)
        cp = (cp << 6) | (s[*i + k] & 0x3F);
    *i += len;
    return cp;
}

const char* readBytes(duk_context* ctx, duk_idx_t idx, size_t* len) {
    duk_size_t size = 0;
    const char* s = duk_get_lstring(ctx, idx, &size);
    if (!s) s = "";
    if (isAscii(s, size)) {
        if (len) *len = size;
        return s;
    }
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    // Decode into a buffer of the input's size: each character takes at least one byte.
    char* out = static_cast<char*>(duk_push_fixed_buffer(ctx, size + 1));
    size_t n = 0;
    for (size_t i = 0; i < size;) {
        uint32_t cp = decode(u, size, &i);
        if (cp >= 0x10000) { // a surrogate pair: two code units
            out[n++] = static_cast<char>((0xD800 + ((cp - 0x10000) >> 10)) & 0xFF);
            cp = 0xDC00 + ((cp - 0x10000) & 0x3FF);
        }
        out[n++] = static_cast<char>(cp & 0xFF);
    }
    out[n] = 0;
    if (len) *len = n;
    return out;
}

const uint16_t* readChars(duk_context* ctx, duk_idx_t idx, size_t* len) {
    duk_size_t size = 0;
    const char* s = duk_get_lstring(ctx, idx, &size);
    if (!s) s = "";
    const unsigned char* u = reinterpret_cast<const unsigned char*>(s);
    uint16_t* out = static_cast<uint16_t*>(duk_push_fixed_buffer(ctx, (size + 1) * 2));
    size_t n = 0;
    for (size_t i = 0; i < size;) {
        uint32_t cp = decode(u, size, &i);
        if (cp >= 0x10000) {
            out[n++] = static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10));
            cp = 0xDC00 + ((cp - 0x10000) & 0x3FF);
        }
        out[n++] = static_cast<uint16_t>(cp);
    }
    out[n] = 0;
    if (len) *len = n;
    return out;
}

size_t charCount(duk_context* ctx, duk_idx_t idx) {
    duk_size_t size = 0;
    const unsigned char* u =
        reinterpret_cast<const unsigned char*>(duk_get_lstring(ctx, idx, &size));
    size_t n = 0;
    for (size_t i = 0; u && i < size;)
        n += decode(u, size, &i) >= 0x10000 ? 2 : 1;
    return n;
}

} // namespace engine

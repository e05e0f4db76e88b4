// The one pair of conversions between engine strings and native text. Byte strings
// cross one character U+0000..U+00FF per byte; wide text crosses one UTF-16 code unit at
// a time, lone surrogates kept. Nothing else pushes raw bytes as a string.
#ifndef CAPSULE_ENGINE_TEXT_H
#define CAPSULE_ENGINE_TEXT_H

#include "duktape.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

namespace engine {

// Whether n bytes are all ASCII, eight at a time: every script source and every new engine
// string passes here.
inline bool isAscii(const char* s, size_t n) {
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t w;
        memcpy(&w, s + i, 8);
        if (w & UINT64_C(0x8080808080808080)) return false;
    }
    for (; i < n; i++)
        if (static_cast<unsigned char>(s[i]) >= 0x80) return false;
    return true;
}

// Bytes, one character each, in the engine's encoding: the bytes themselves when they are
// ASCII, else a buffer pushed on the stack.
const char* bytesAsUtf8(duk_context* ctx, const char* bytes, size_t n, size_t* size);
// Pushes a string of n bytes, one character per byte.
void pushBytes(duk_context* ctx, const char* bytes, size_t n);
// Pushes a string of n UTF-16 code units.
void pushChars(duk_context* ctx, const uint16_t* chars, size_t n);
// The string at idx as NUL-terminated bytes (each code unit's low 8 bits). The text is
// the engine's own when the string is ASCII, else a buffer pushed on the stack; either
// lives as long as the current native frame.
const char* readBytes(duk_context* ctx, duk_idx_t idx, size_t* len);
// The string at idx as NUL-terminated UTF-16 in a buffer pushed on the stack.
const uint16_t* readChars(duk_context* ctx, duk_idx_t idx, size_t* len);
// Number of UTF-16 code units of the string at idx.
size_t charCount(duk_context* ctx, duk_idx_t idx);

} // namespace engine

#endif

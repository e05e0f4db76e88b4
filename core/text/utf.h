// Text conversions that need no engine: UTF-8 (the platform's file names, command line
// and environment) to and from UTF-16 (the engine's code units). The room core/text/
// includes nothing of the project.
#ifndef CAPSULE_TEXT_UTF_H
#define CAPSULE_TEXT_UTF_H

#include <stddef.h>
#include <stdint.h>
#include <string>

namespace text {

// Invalid UTF-8 bytes become U+DC80..U+DCFF and lone surrogates of that range turn back
// into the same bytes, so a name that is not valid UTF-8 survives the round trip. Other
// lone surrogates travel in their three-byte form, both ways.
std::u16string fromUtf8(const char* s, size_t n);
std::string toUtf8(const uint16_t* s, size_t n);
// The text with every sequence that is no UTF-8 of a character (a stray byte, an encoded
// lone surrogate) replaced by U+FFFD: for files that must be valid UTF-8.
std::string validUtf8(const std::string& s);

// The engine's own encoding (CESU-8: a code point above U+FFFF as two three-byte
// surrogates) to UTF-8 (four bytes for such a code point) and back, appended to out. The
// two agree everywhere else, so the text is copied as it is; a lone surrogate stays in its
// three-byte form, which a UTF-8 reader then refuses.
void cesu8ToUtf8(const char* s, size_t n, std::string& out);
void utf8ToCesu8(const char* s, size_t n, std::string& out);
// UTF-16 in the engine's encoding: each code unit on its own (one to three bytes), so a
// lone surrogate and every other character is kept.
std::string toCesu8(const uint16_t* s, size_t n);

} // namespace text

#endif

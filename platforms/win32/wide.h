// UTF-8 (the platform layer's text) to and from the UTF-16 of the wide Windows calls,
// through the same conversions as the engine's, so that names survive the round trip.
#ifndef CAPSULE_WIN32_WIDE_H
#define CAPSULE_WIN32_WIDE_H

#include "core/text/utf.h"

#include <string>
#include <wchar.h>

namespace platform {

inline std::wstring widen(const std::string& s) {
    std::u16string w = text::fromUtf8(s.data(), s.size());
    return std::wstring(w.begin(), w.end());
}

inline std::string narrow(const wchar_t* s, size_t n) {
    static_assert(sizeof(wchar_t) == sizeof(uint16_t), "wide characters are UTF-16 units");
    return text::toUtf8(reinterpret_cast<const uint16_t*>(s), n);
}

inline std::string narrow(const wchar_t* s) {
    return s ? narrow(s, wcslen(s)) : std::string();
}

} // namespace platform

#endif

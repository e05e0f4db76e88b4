// Argument conventions shared by every native: presence of optional arguments, the
// format error for too few arguments, and the integer conversion. Header-only over the
// table, so that module libraries can use it too.
#ifndef CAPSULE_NATIVE_ARGS_H
#define CAPSULE_NATIVE_ARGS_H

#include "core/module_api.h"

#include <stddef.h>
#include <stdint.h>

namespace native {

// An optional argument counts as given when it exists and is not undefined.
inline bool present(unsigned argc, const HostValue* argv, unsigned i) {
    return i < argc && !hostIsUndefined(argv[i]);
}

// Reports "Native function format error: <usage>"; the native returns what this returns.
inline int formatError(const ModuleApi* api, HostContext* cx, const char* usage) {
    api->reportError(cx, "Native function format error: %s", usage);
    return 0;
}

// A number truncated toward zero to 32 bits; NaN and values out of range give INT32_MIN.
inline int32_t toInt(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return static_cast<int32_t>(d);
}

inline int32_t intArg(const ModuleApi* api, HostContext* cx, HostValue v) {
    return toInt(api->toNumber(cx, v));
}

// A byte string: one byte per character (each character's low 8 bits), NULs included.
// The bytes live as long as the native runs.
struct Bytes {
    const char* data;
    size_t size;
};
inline Bytes bytesArg(const ModuleApi* api, HostContext* cx, HostValue v) {
    int n = api->toLength(cx, v);
    return Bytes{api->toBytes(cx, v), n > 0 ? static_cast<size_t>(n) : 0};
}

} // namespace native

#endif

/* The helpers of module libraries: the one helper header a module library uses beside the
 * table itself (module_api.h; module_path.h adds file names for the libraries that open
 * files). Header-only C99 over the table, usable from C and C++, in the manner of Lua's
 * lauxlib.h over lua.h: the helpers reach the table through the one global hostApi and
 * take the context first.
 *
 * A library defines hostApi once, in the file with initModule, which stores the table:
 *
 *   HOST_API_DEFINE;
 *   HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
 *       hostApi = table;
 *       ...
 *   }
 *
 * Texts that the helpers hand out come from slots 1 and 2 and live as module_api.h says
 * (until the native returns); a property reader with a null object reads nothing and
 * gives what it gives for a missing property.
 */
#ifndef CAPSULE_MODULE_HELPERS_H
#define CAPSULE_MODULE_HELPERS_H

#include "module_api.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The table that initModule was given; defined by HOST_API_DEFINE. */
extern const ModuleApi* hostApi;

/* (In C++ the definition keeps the C linkage of the declaration above.) */
#define HOST_API_DEFINE const ModuleApi* hostApi = 0

/* Reports "Native function format error: <usage>" (too few arguments); returns 0, which
 * the native returns. */
static inline int hostFormatError(HostContext* cx, const char* usage) {
    hostApi->reportError(cx, "Native function format error: %s", usage);
    return 0;
}

/* A number truncated toward zero to 32 bits; NaN and values out of range give INT32_MIN
 * (values above -2147483649 and below 2147483648 truncate: 2147483647.5 gives 2147483647). */
static inline int32_t hostToInt32(double d) {
    if (!(d > -2147483649.0 && d < 2147483648.0)) return INT32_MIN;
    return (int32_t)d;
}

/* Number(v) as by hostToInt32. */
static inline int32_t hostIntArg(HostContext* cx, HostValue v) {
    return hostToInt32(hostApi->toNumber(cx, v));
}

/* Whether optional argument i is given: it exists and is not undefined. */
static inline int hostPresent(unsigned argc, const HostValue* argv, unsigned i) {
    return i < argc && !hostIsUndefined(argv[i]);
}

/* The record of self (getPrivate); null when self is null or holds no record of the
 * calling native's class. */
static inline void* hostRecord(HostContext* cx, HostObject* self) {
    return self ? hostApi->getPrivate(cx, self) : NULL;
}

/* Defines obj[name] = value as an enumerable, read-only data property (a later definition
 * replaces it); 0 when the engine refuses. */
static inline int hostPublish(HostContext* cx, HostObject* obj, const char* name, HostValue value) {
    return hostApi->defineProperty(cx, obj, name, value, NULL, NULL,
                                   HOST_ATTR_ENUMERATE | HOST_ATTR_READONLY);
}

/* Number(obj[name]); def when obj is null or obj[name] is undefined or missing. */
static inline double hostNumberProperty(HostContext* cx, HostObject* obj, const char* name,
                                        double def) {
    return obj ? hostApi->propertyAsNumber(cx, obj, name, def) : def;
}

/* hostNumberProperty as by hostToInt32 (def when undefined or missing, INT32_MIN for NaN). */
static inline int32_t hostIntProperty(HostContext* cx, HostObject* obj, const char* name,
                                      int32_t def) {
    return hostToInt32(hostNumberProperty(cx, obj, name, def));
}

/* The text properties: three readers of obj[name], by what a caller needs of it. */

/* String(obj[name]) as narrow text (each UTF-16 unit cut to its low byte, as slot 1); null
 * when obj is null or obj[name] is undefined or missing ("" for the empty string). */
static inline const char* hostTextProperty(HostContext* cx, HostObject* obj, const char* name) {
    return obj ? hostApi->propertyAsBytes(cx, obj, name, NULL) : NULL;
}

/* String(obj[name]) as NUL-terminated UTF-16 (as slot 2); null when obj is null or
 * obj[name] is undefined or missing ("" for the empty string). */
static inline const HostChar* hostCharsProperty(HostContext* cx, HostObject* obj,
                                                const char* name) {
    return obj ? hostApi->propertyAsChars(cx, obj, name, NULL) : NULL;
}

/* The bytes of v, one per character (each character's low 8 bits), and their count in
 * *length. v is converted once: a string gives all its characters, NULs included; any
 * other value gives String(v) up to its first NUL (a second conversion might give another
 * text). Never null. */
static inline const char* hostBytesArg(HostContext* cx, HostValue v, size_t* length) {
    const char* bytes = hostApi->toBytes(cx, v);
    *length = 0;
    if (!bytes) return "";
    if (hostIsString(v)) {
        int n = hostApi->toLength(cx, v);
        *length = n > 0 ? (size_t)n : 0;
    } else {
        *length = strlen(bytes);
    }
    return bytes;
}

/* obj[name], read once, as bytes by hostBytesArg; never null: "" (length 0) when obj is
 * null or obj[name] is undefined or missing. */
static inline const char* hostBytesProperty(HostContext* cx, HostObject* obj, const char* name,
                                            size_t* length) {
    HostValue v = obj ? hostApi->getProperty(cx, obj, name) : HOST_UNDEFINED;
    *length = 0;
    return hostIsUndefined(v) ? "" : hostBytesArg(cx, v, length);
}

#ifdef __cplusplus
}
#endif

#endif

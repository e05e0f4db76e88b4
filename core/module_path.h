/* File names in module libraries: a script's string as the runtime's own file functions
 * name the file, so that a module opens what File.status sees. Header-only C over the
 * interface table, for the libraries that open files by name (socket, serial). */
#ifndef CAPSULE_MODULE_PATH_H
#define CAPSULE_MODULE_PATH_H

#include "module_api.h"

#include <stdlib.h>

static inline void hostPutUtf8(unsigned char** p, unsigned long c) {
    unsigned char* o = *p;
    if (c < 0x80) {
        *o++ = (unsigned char)c;
    } else if (c < 0x800) {
        *o++ = (unsigned char)(0xC0 | c >> 6);
        *o++ = (unsigned char)(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        *o++ = (unsigned char)(0xE0 | c >> 12);
        *o++ = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        *o++ = (unsigned char)(0x80 | (c & 0x3F));
    } else {
        *o++ = (unsigned char)(0xF0 | c >> 18);
        *o++ = (unsigned char)(0x80 | (c >> 12 & 0x3F));
        *o++ = (unsigned char)(0x80 | (c >> 6 & 0x3F));
        *o++ = (unsigned char)(0x80 | (c & 0x3F));
    }
    *p = o;
}

/* UTF-16 text in UTF-8, in memory from malloc (the caller frees it): U+DC80 to U+DCFF stand
 * for the bytes 0x80 to 0xFF that were no UTF-8 in a name read from the system. Null for
 * null text or when no memory is left. */
static inline char* hostPathFromChars(const HostChar* s) {
    size_t n = 0, i;
    if (!s) return NULL;
    while (s[n])
        n++;
    unsigned char* out = (unsigned char*)malloc(n * 3 + 1);
    unsigned char* p = out;
    for (i = 0; out && i < n; i++) {
        unsigned long c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000)
            hostPutUtf8(&p, 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00UL));
        else if (c >= 0xDC80 && c < 0xDD00)
            *p++ = (unsigned char)(c - 0xDC00);
        else
            hostPutUtf8(&p, c);
    }
    if (p) *p = 0;
    return (char*)out;
}

/* obj[name] as a file name (see hostPathFromChars); null when it is undefined. */
static inline char* hostPathProperty(const ModuleApi* api, HostContext* cx, HostObject* obj,
                                     const char* name) {
    return obj ? hostPathFromChars(api->propertyAsChars(cx, obj, name, NULL)) : NULL;
}

#endif

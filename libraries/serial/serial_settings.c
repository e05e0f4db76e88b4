/* The settings object that open, set, read and write take, and the format error. */
#include "serial.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int serialFormatError(HostContext* cx, const char* usage) {
    serialApi->reportError(cx, "Native function format error: %s", usage);
    return 0;
}

/* The settings object of a call to Serial.<name>, or null with the error reported: the
 * format error without an argument, a plain error when the argument is no object. */
HostObject* serialSettings(HostContext* cx, unsigned argc, HostValue* argv, const char* native) {
    if (argc < 1) {
        char usage[64];
        snprintf(usage, sizeof usage, "%s(<params>)", native);
        serialFormatError(cx, usage);
        return NULL;
    }
    HostObject* settings = hostToObject(argv[0]);
    if (!settings) serialApi->reportError(cx, "%s: params is not an object", native);
    return settings;
}

/* A number field truncated toward zero to 32 bits; NaN and numbers out of range give
 * INT32_MIN, an absent field the default. */
int serialInt(HostContext* cx, HostObject* settings, const char* name, int def) {
    double d = serialApi->propertyAsNumber(cx, settings, name, def);
    if (!(d > (double)INT32_MIN - 1 && d < (double)INT32_MAX + 1)) return INT32_MIN;
    return (int)d;
}

void serialReadLine(HostContext* cx, HostObject* settings, SerialLine* line) {
    line->bufInSize = serialInt(cx, settings, "bufInSize", 1024);
    line->bufOutSize = serialInt(cx, settings, "bufOutSize", 1024);
    line->baudRate = serialInt(cx, settings, "baudRate", 2400);
    line->byteSize = serialInt(cx, settings, "byteSize", 8) & 0xFF;
}

/* A copy of a byte-string field (absent: empty), one byte per character, made so that
 * it can be used outside the request; null when memory runs out. The field is read once;
 * a string gives all its characters, NULs included, while any other value is converted
 * once and ends at its first NUL (a second conversion might give another text). */
char* serialCopyBytes(HostContext* cx, HostObject* settings, const char* name, size_t* length) {
    HostValue v = serialApi->getProperty(cx, settings, name);
    const char* bytes = "";
    size_t n = 0;
    if (!hostIsUndefined(v)) {
        bytes = serialApi->toBytes(cx, v);
        if (!bytes) bytes = "";
        n = hostIsString(v) ? (size_t)serialApi->toLength(cx, v) : strlen(bytes);
    }
    char* copy = (char*)malloc(n ? n : 1);
    if (copy) memcpy(copy, bytes, n);
    *length = n;
    return copy;
}

/* The settings object that open, set, read and write take. */
#include "serial.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* The settings object of a call to Serial.<name>, or null with the error reported: the
 * format error without an argument, a plain error when the argument is no object. */
HostObject* serialSettings(HostContext* cx, unsigned argc, HostValue* argv, const char* native) {
    if (argc < 1) {
        char usage[64];
        snprintf(usage, sizeof usage, "%s(<params>)", native);
        hostFormatError(cx, usage);
        return NULL;
    }
    HostObject* settings = hostToObject(argv[0]);
    if (!settings) hostApi->reportError(cx, "%s: params is not an object", native);
    return settings;
}

void serialReadLine(HostContext* cx, HostObject* settings, SerialLine* line) {
    line->bufInSize = hostIntProperty(cx, settings, "bufInSize", 1024);
    line->bufOutSize = hostIntProperty(cx, settings, "bufOutSize", 1024);
    line->baudRate = hostIntProperty(cx, settings, "baudRate", 2400);
    line->byteSize = hostIntProperty(cx, settings, "byteSize", 8) & 0xFF;
}

/* A copy of a byte-string field as hostBytesProperty reads it (absent: empty), made so
 * that it can be used outside the request; null when memory runs out. */
char* serialCopyBytes(HostContext* cx, HostObject* settings, const char* name, size_t* length) {
    size_t n;
    const char* bytes = hostBytesProperty(cx, settings, name, &n);
    char* copy = (char*)malloc(n ? n : 1);
    if (copy) memcpy(copy, bytes, n);
    *length = n;
    return copy;
}

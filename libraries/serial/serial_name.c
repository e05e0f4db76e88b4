/* Port names: the Windows form "COMn" (any case, also written "\\.\COMn") names the n-th
 * serial port, /dev/ttyS(n-1); every other name is a device path used as it stands. */
#include "serial_name.h"

#include <stdio.h>
#include <string.h>

/* n of "COMn" for n from 1 to 256 without leading zeros, else 0. */
static int comNumber(const char* name) {
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return 0;
    const char* digits = name + 3;
    if (*digits < '1' || *digits > '9') return 0;
    int n = 0;
    for (const char* p = digits; *p; p++) {
        if (*p < '0' || *p > '9' || p - digits >= 3) return 0;
        n = n * 10 + (*p - '0');
    }
    return n <= 256 ? n : 0;
}

const char* serialDevicePath(const char* name, char* buffer, size_t size) {
    const char* com = strncmp(name, "\\\\.\\", 4) == 0 ? name + 4 : name;
    int n = comNumber(com);
    if (n == 0) return name;
    snprintf(buffer, size, "/dev/ttyS%d", n - 1);
    return buffer;
}

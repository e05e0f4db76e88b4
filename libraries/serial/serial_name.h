/* Port names and the devices they name. */
#ifndef CAPSULE_SERIAL_NAME_H
#define CAPSULE_SERIAL_NAME_H

#include <stddef.h>

/* The device path for a port name: "COMn" and "\\.\COMn" (n from 1 to 256, any case)
 * give /dev/ttyS(n-1), written into buffer; any other name is returned as it stands. */
const char* serialDevicePath(const char* name, char* buffer, size_t size);

#endif

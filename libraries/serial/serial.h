/* What the files of the serial module share: the open device and the settings read from
 * a script's settings object. */
#ifndef CAPSULE_SERIAL_H
#define CAPSULE_SERIAL_H

#include "module_helpers.h"
#include "serial_name.h"

#include <stddef.h>

/* The most bytes one read can ask for: what the terminal's input queue holds at most
 * (4096 bytes less one). A read of more could never be satisfied. */
#define SERIAL_READ_MAX 4095

/* An open device. `users` counts the record that holds it plus every read or write
 * running on it outside the request; the descriptor is closed when the last lets go, so
 * a close on another script thread never pulls it from under a running call. The count
 * only changes inside the request. */
typedef struct SerialPort {
#ifdef _WIN32
    void* handle; /* the communications handle */
#else
    int fd;
#endif
    int users;
} SerialPort;

/* The line configuration that open and set apply. */
typedef struct SerialLine {
    int bufInSize, bufOutSize; /* driver queue sizes (Windows; no Linux counterpart) */
    int baudRate;
    int byteSize; /* low 8 bits used */
} SerialLine;

/* serial_settings.c: the settings object and its fields. */
HostObject* serialSettings(HostContext* cx, unsigned argc, HostValue* argv, const char* native);
void serialReadLine(HostContext* cx, HostObject* settings, SerialLine* line);
char* serialCopyBytes(HostContext* cx, HostObject* settings, const char* name, size_t* length);

/* serial_port.c (Linux) or serial_port_win32.c (Windows): the device. Blocking calls here
 * run outside the request. */
SerialPort* serialOpen(const char* name);
int serialHandleNumber(const SerialPort* port); /* the handle that open publishes */
void serialConfigure(SerialPort* port, const SerialLine* line);
void serialRelease(SerialPort* port);
size_t serialRead(SerialPort* port, char* buffer, size_t count);
size_t serialWrite(SerialPort* port, char* bytes, size_t length);

#endif

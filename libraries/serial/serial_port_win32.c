/* The device side on Windows: a communications port opened for the module alone, whose
 * driver reads return at once with what is queued; reads that wait for their whole
 * answer, writes that first drop what has been received. */
#define WIN32_LEAN_AND_MEAN
#include "serial.h"

#include <stdint.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

/* "COMn" (any case, n of one or more digits) is opened as "\\.\COMn": the plain name
 * reaches only COM1 to COM9. Every other name is used as it stands. */
static int isComName(const char* name) {
    if ((name[0] | 0x20) != 'c' || (name[1] | 0x20) != 'o' || (name[2] | 0x20) != 'm') return 0;
    const char* p = name + 3;
    if (!*p) return 0;
    for (; *p; p++)
        if (*p < '0' || *p > '9') return 0;
    return 1;
}

/* Opens the port named by a port name (UTF-8), or null: read and write
 * access, no sharing (a second open of the same port fails until this one is closed),
 * only if it exists, write-through. What has no line settings (a file) is no port. */
SerialPort* serialOpen(const char* name) {
    if (!name) return NULL; /* the name did not convert */
    const char* prefix = isComName(name) ? "\\\\.\\" : "";
    size_t length = strlen(prefix) + strlen(name) + 1;
    char* full = (char*)malloc(length);
    wchar_t* wide = (wchar_t*)malloc(length * sizeof *wide);
    HANDLE h = INVALID_HANDLE_VALUE;
    if (full && wide) {
        strcpy(full, prefix);
        strcat(full, name);
        if (MultiByteToWideChar(CP_UTF8, 0, full, -1, wide, (int)length) > 0)
            h = CreateFileW(wide, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING,
                            FILE_FLAG_WRITE_THROUGH, NULL);
    }
    free(full);
    free(wide);
    if (h == INVALID_HANDLE_VALUE) return NULL;
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    SerialPort* port = GetCommState(h, &dcb) ? (SerialPort*)malloc(sizeof *port) : NULL;
    if (!port) {
        CloseHandle(h);
        return NULL;
    }
    port->handle = h;
    port->users = 1;
    return port;
}

int serialHandleNumber(const SerialPort* port) {
    return (int)(intptr_t)port->handle;
}

/* From the driver's current settings, changes only these: reads return at once with what
 * is queued (the longest interval, 1 ms in all); the queue sizes; the speed and data bits,
 * no parity, one stop bit, no CTS or DSR output flow control, RTS off. A refused setting
 * leaves the driver's previous one. */
void serialConfigure(SerialPort* port, const SerialLine* line) {
    HANDLE h = (HANDLE)port->handle;
    COMMTIMEOUTS timeouts;
    if (GetCommTimeouts(h, &timeouts)) {
        timeouts.ReadIntervalTimeout = MAXDWORD;
        timeouts.ReadTotalTimeoutConstant = 1;
        SetCommTimeouts(h, &timeouts);
    }
    SetupComm(h, (DWORD)line->bufInSize, (DWORD)line->bufOutSize);
    DCB dcb;
    memset(&dcb, 0, sizeof dcb);
    dcb.DCBlength = sizeof dcb;
    if (GetCommState(h, &dcb)) {
        dcb.BaudRate = (DWORD)line->baudRate;
        dcb.ByteSize = (BYTE)line->byteSize;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fRtsControl = RTS_CONTROL_DISABLE;
        SetCommState(h, &dcb);
    }
}

void serialRelease(SerialPort* port) {
    if (port && --port->users == 0) {
        CloseHandle((HANDLE)port->handle);
        free(port);
    }
}

/* Bytes waiting in the input queue (any line error cleared), -1 when the driver refuses
 * to tell. */
static long queued(HANDLE h) {
    DWORD errors;
    COMSTAT status;
    return ClearCommError(h, &errors, &status) ? (long)status.cbInQue : -1;
}

/* Waits until count bytes are queued, at most 15 pauses of 1 ms per byte and no fewer
 * than 150, then reads them; returns the count read: count, or 0 when they did not all
 * arrive in time (what did arrive stays queued). */
size_t serialRead(SerialPort* port, char* buffer, size_t count) {
    HANDLE h = (HANDLE)port->handle;
    long budget = (long)count * 15 < 150 ? 150 : (long)count * 15;
    long n;
    while ((n = queued(h)) >= 0 && (size_t)n < count && budget > 0) {
        Sleep(1);
        budget--;
    }
    if (n < 0 || (size_t)n < count) return 0;
    size_t done = 0;
    DWORD k;
    while (done < count && ReadFile(h, buffer + done, (DWORD)(count - done), &k, NULL) && k > 0)
        done += k;
    return done;
}

/* Drops what has been received, then writes the bytes in one synchronous write; returns
 * the count written. */
size_t serialWrite(SerialPort* port, char* bytes, size_t length) {
    HANDLE h = (HANDLE)port->handle;
    PurgeComm(h, PURGE_RXCLEAR);
    DWORD written = 0;
    if (length > 0 && !WriteFile(h, bytes, (DWORD)length, &written, NULL)) return 0;
    return written;
}

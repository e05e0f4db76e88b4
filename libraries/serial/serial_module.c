/* The serial port module (bin/mserial.so, mserial.dll): the script class Serial, one serial
 * line per object, over the module interface table and the platform's serial calls.
 *
 *   new Serial()             a closed port
 *   s.open(settings)         opens settings.port (default "COM1") unless open, configures
 *                            the line, defines settings.handle; true when a port is open
 *   s.set(settings)          configures the open line again; false when closed
 *   s.close()                closes the port
 *   s.read({count})          exactly count bytes (default 1) as a byte string, or the
 *                            empty text when they do not arrive in time
 *   s.write({content})       drops what was received, sends the bytes; the count sent
 *
 * Settings are all read before anything is done: a getter may run script that closes the
 * port. read and write wait outside the request, so other script threads go on; the
 * port they use stays open until they are done (see SerialPort).
 */
#include "serial.h"

#include "module_path.h"

#include <stdlib.h>

HOST_API_DEFINE;

/* The private record of a Serial object: its open device, null while closed. */
typedef struct SerialRecord {
    SerialPort* port;
} SerialRecord;

/* The record of self, or null with "<native>: <message>" reported. */
static SerialRecord* recordOrReport(HostContext* cx, HostObject* self, const char* native,
                                    const char* message) {
    SerialRecord* r = hostRecord(cx, self);
    if (!r) hostApi->reportError(cx, "%s: %s", native, message);
    return r;
}

/* The common start of open, set, read and write: the settings object and the record, or
 * null with the error reported. */
static SerialRecord* callStart(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                               const char* native, HostObject** settings) {
    *settings = serialSettings(cx, argc, argv, native);
    return *settings ? recordOrReport(cx, self, native, "Serial not initialized") : NULL;
}

/* Runs a read or a write on the port with the request suspended, holding the port open
 * meanwhile; its count. */
static size_t outsideRequest(HostContext* cx, SerialPort* port, char* bytes, size_t n,
                             size_t (*io)(SerialPort*, char*, size_t)) {
    port->users++;
    int depth = hostApi->suspendRequest(cx);
    size_t done = io(port, bytes, n);
    hostApi->resumeRequest(cx, depth);
    serialRelease(port);
    return done;
}

static int serialConstruct(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                           HostValue* rval) {
    (void)argc, (void)argv, (void)rval;
    if (!self || hostRecord(cx, self)) return 1; /* no instance, or one already */
    SerialRecord* r = (SerialRecord*)calloc(1, sizeof *r);
    if (!r) {
        hostApi->reportError(cx, "Serial: out of memory");
        return 0;
    }
    if (!hostApi->setPrivate(cx, self, r)) free(r);
    return 1;
}

static int serialOpenNative(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    HostObject* settings;
    SerialRecord* r = callStart(cx, self, argc, argv, "Serial.open", &settings);
    if (!r) return 0;
    SerialLine line;
    serialReadLine(cx, settings, &line);
    if (!r->port) {
        /* The port is named as the runtime's file functions name files. */
        char* name = hostPathProperty(hostApi, cx, settings, "port");
        r->port = serialOpen(name ? name : "COM1");
        free(name);
    }
    *rval = HOST_FALSE;
    if (r->port) {
        serialConfigure(r->port, &line);
        hostPublish(cx, settings, "handle", hostApi->newNumber(cx, serialHandleNumber(r->port)));
        *rval = HOST_TRUE;
    }
    return 1;
}

static int serialSet(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                     HostValue* rval) {
    HostObject* settings;
    SerialRecord* r = callStart(cx, self, argc, argv, "Serial.set", &settings);
    if (!r) return 0;
    SerialLine line;
    serialReadLine(cx, settings, &line);
    *rval = hostBoolean(r->port != NULL);
    if (r->port) serialConfigure(r->port, &line);
    return 1;
}

static int serialClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                       HostValue* rval) {
    (void)argc, (void)argv, (void)rval;
    SerialRecord* r = recordOrReport(cx, self, "Serial.close", "Not initialized");
    if (!r) return 0;
    serialRelease(r->port);
    r->port = NULL;
    return 1;
}

static int serialReadNative(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                            HostValue* rval) {
    HostObject* settings;
    SerialRecord* r = callStart(cx, self, argc, argv, "Serial.read", &settings);
    if (!r) return 0;
    int count = hostIntProperty(cx, settings, "count", 1);
    if (count < 0 || count > SERIAL_READ_MAX) {
        hostApi->reportError(cx, "Serial.read: count must be 0 to %d", SERIAL_READ_MAX);
        return 0;
    }
    char buffer[SERIAL_READ_MAX];
    size_t got =
        r->port && count > 0 ? outsideRequest(cx, r->port, buffer, (size_t)count, serialRead) : 0;
    *rval = hostApi->newStringN(cx, buffer, got);
    return 1;
}

static int serialWriteNative(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                             HostValue* rval) {
    HostObject* settings;
    SerialRecord* r = callStart(cx, self, argc, argv, "Serial.write", &settings);
    if (!r) return 0;
    size_t length;
    char* bytes = serialCopyBytes(cx, settings, "content", &length);
    if (!bytes) {
        hostApi->reportError(cx, "Serial.write: out of memory");
        return 0;
    }
    size_t written = r->port ? outsideRequest(cx, r->port, bytes, length, serialWrite) : 0;
    free(bytes);
    *rval = hostApi->newNumber(cx, (double)written);
    return 1;
}

static void serialFinalize(HostContext* cx, HostObject* obj) {
    SerialRecord* r = hostRecord(cx, obj);
    if (!r) return;
    serialRelease(r->port);
    hostApi->setPrivate(cx, obj, NULL);
    free(r);
}

static const HostFunctionSpec serialFns[] = {
    {"open", serialOpenNative, 1, 0, 0},   {"set", serialSet, 1, 0, 0},
    {"close", serialClose, 0, 0, 0},       {"read", serialReadNative, 1, 0, 0},
    {"write", serialWriteNative, 1, 0, 0}, {NULL, NULL, 0, 0, 0},
};

static const HostFunctionSpec noFns[] = {{NULL, NULL, 0, 0, 0}};

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
    hostApi = table;
    hostApi->defineClass(cx, "Serial", serialConstruct, 0, NULL, serialFns, NULL, noFns,
                         serialFinalize);
}

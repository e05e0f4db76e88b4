/* The USB module (bin/musb.so): the script class USB over the libusb 0.1 interface and
 * the module interface table alone.
 *
 *   new USB()                  starts the library (once per process)
 *   usb.enumerate()            an array of device objects, one "Found:" line each
 *   usb.open(device)           opens a device; true, or false when it is not present
 *   usb.close(device)          closes it; true
 *   usb.send(device, request)  one control transfer; the bytes transferred
 *   usb.getAnswer(device, r)   one endpoint read; the bytes read
 *
 * Device objects carry a small handle number while open (usb_handles.c); transfers run
 * outside the engine request (usb_transfers.c).
 */
#include "usb_module.h"

#include <pthread.h>
#include <stdlib.h>
#include <usb.h>

HOST_API_DEFINE;

static pthread_once_t libraryStarted = PTHREAD_ONCE_INIT;

static void startLibrary(void) {
    usb_init();
}

/* new USB() */
static int usbConstruct(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                        HostValue* rval) {
    (void)argc, (void)argv, (void)rval;
    UsbRecord* r = (UsbRecord*)calloc(1, sizeof(UsbRecord));
    if (!r) {
        hostApi->reportError(cx, "out of memory");
        return 0;
    }
    if (!self || !hostApi->setPrivate(cx, self, r)) {
        free(r);
        hostApi->reportError(cx, "USB must be called with new");
        return 0;
    }
    pthread_once(&libraryStarted, startLibrary);
    usb_set_debug(4);
    r->initialized = 1;
    return 1;
}

/* Open devices belong to the device objects and stay open. */
static void usbFinalize(HostContext* cx, HostObject* obj) {
    UsbRecord* r = hostRecord(cx, obj);
    if (!r) return;
    hostApi->setPrivate(cx, obj, NULL);
    free(r);
}

static const HostFunctionSpec usbFns[] = {
    {"enumerate", usbEnumerate, 0, 0, 0}, {"open", usbOpen, 1, 0, 0},
    {"close", usbClose, 1, 0, 0},         {"send", usbSend, 2, 0, 0},
    {"getAnswer", usbGetAnswer, 2, 0, 0}, {NULL, NULL, 0, 0, 0},
};

static const HostFunctionSpec noFns[] = {{NULL, NULL, 0, 0, 0}};

HOST_MODULE_EXPORT void initModule(HostContext* cx, const ModuleApi* table) {
    hostApi = table;
    hostApi->defineClass(cx, "USB", usbConstruct, 0, NULL, usbFns, NULL, noFns, usbFinalize);
}

/* Transfers: send (a control transfer) and getAnswer (an endpoint read). Each reads its
 * request object, then leaves the engine request for the transfer itself and comes back
 * to make the result; the device stays held in the handle table meanwhile. */
#include "usb_module.h"

#include "usb_handles.h"

#include <stdio.h>
#include <string.h>

#define INTERRUPT_IN 0x81
#define DEFAULT_TIMEOUT 5000

/* A transfer's outcome: the library's status (a count, or a negative error) and its
 * error text, taken at once, before another transfer replaces it. */
typedef struct Outcome {
    int status;
    char error[256];
} Outcome;

static void finish(Outcome* o, int status) {
    o->status = status;
    snprintf(o->error, sizeof o->error, "%s", usb_strerror());
}

/* The held device of the device object, or null. */
static UsbHandle* deviceOf(HostContext* cx, HostValue device, usb_dev_handle** dev) {
    return usbHandleAcquire(hostNumberProperty(cx, hostToObject(device), "handle", 0), dev);
}

/* A buffer of length zero bytes for the transfer; null, with the error reported, for a
 * length out of range or when memory runs out. */
static char* transferBuffer(HostContext* cx, const char* native, int length) {
    if (length < 0 || length > USB_MAX_LENGTH) {
        hostApi->reportError(cx, "%s: length %d is out of range (0 to %d)", native, length,
                             USB_MAX_LENGTH);
        return NULL;
    }
    char* buffer = (char*)hostApi->allocate(cx, (size_t)length);
    if (buffer) memset(buffer, 0, (size_t)length);
    return buffer;
}

/* The first count bytes of the buffer as the result, when count is above 0. */
static int result(HostContext* cx, const char* buffer, int length, int count, HostValue* rval) {
    if (count <= 0) return 0;
    *rval = hostApi->newStringN(cx, buffer, (size_t)(count < length ? count : length));
    return 1;
}

/* send(device, request) */
int usbSend(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "USB.send(<device>, <request>)");
    usb_dev_handle* dev;
    UsbHandle* held = deviceOf(cx, argv[0], &dev);
    if (!held) {
        hostApi->reportError(cx, "USB.send: Device not initialized");
        return 0;
    }
    HostObject* r = hostToObject(argv[1]);
    int requestType = hostIntProperty(cx, r, "requestType", 0);
    int request = hostIntProperty(cx, r, "request", 0);
    int value = hostIntProperty(cx, r, "value", 0);
    int index = hostIntProperty(cx, r, "index", 0);
    int length = hostIntProperty(cx, r, "length", 0);
    HostValue bytes = r ? hostApi->getProperty(cx, r, "bytes") : HOST_UNDEFINED;
    int timeout = hostIntProperty(cx, r, "timeout", DEFAULT_TIMEOUT);
    char* buffer = transferBuffer(cx, "USB.send", length);
    if (buffer && !hostIsUndefined(bytes)) {
        size_t n;
        const char* data = hostBytesArg(cx, bytes, &n);
        memcpy(buffer, data, n < (size_t)length ? n : (size_t)length);
    }
    Outcome o = {0, ""};
    if (buffer) {
        int depth = hostApi->suspendRequest(cx);
        finish(&o,
               usb_control_msg(dev, requestType, request, value, index, buffer, length, timeout));
        hostApi->resumeRequest(cx, depth);
    }
    usbHandleRelease(held);
    if (!buffer) return 0;
    int ok = result(cx, buffer, length, o.status, rval);
    hostApi->release(cx, buffer);
    if (!ok)
        hostApi->reportError(cx,
                             "USB.send: ERROR! Unable to send USB control message: {requestType: "
                             "0x%02X, request: 0x%02X, value: 0x%04X, index: 0x%04X, length: "
                             "0x%04X, timeout: %d ms}: %d %s",
                             requestType, request, value, index, length, timeout, o.status,
                             o.error);
    return ok;
}

/* getAnswer(device, request) */
int usbGetAnswer(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval) {
    (void)self;
    if (argc < 2) return hostFormatError(cx, "USB.getAnswer(<device>, <request>)");
    usb_dev_handle* dev;
    UsbHandle* held = deviceOf(cx, argv[0], &dev);
    if (!held) {
        hostApi->reportError(cx, "USB.read: Device not initialized");
        return 0;
    }
    HostObject* r = hostToObject(argv[1]);
    int endPoint = hostIntProperty(cx, r, "endPoint", INTERRUPT_IN);
    int length = hostIntProperty(cx, r, "length", 0);
    int timeout = hostIntProperty(cx, r, "timeout", DEFAULT_TIMEOUT);
    char* buffer = transferBuffer(cx, "USB.getAnswer", length);
    Outcome o = {0, ""};
    if (buffer) {
        int depth = hostApi->suspendRequest(cx);
        finish(&o, usb_interrupt_read(dev, endPoint, buffer, length, timeout));
        hostApi->resumeRequest(cx, depth);
    }
    usbHandleRelease(held);
    if (!buffer) return 0;
    int ok = result(cx, buffer, length, o.status, rval);
    hostApi->release(cx, buffer);
    if (!ok)
        hostApi->reportError(cx,
                             "USB.getAnswer: ERROR! Unable to read endpoint\nendPoint=0x%02X "
                             "length=0x%04X\n%d %s",
                             endPoint, length, o.status, o.error);
    return ok;
}

/* What the files of the USB module share: the table, the two argument helpers, the
 * record of a USB object and the natives that usb_module.c registers. */
#ifndef CAPSULE_USB_MODULE_H
#define CAPSULE_USB_MODULE_H

#include "module_api.h"

#include <stdint.h>

extern const ModuleApi* api;

/* The largest transfer a request may ask for: a control transfer's length is a 16-bit
 * field, and no HID report comes near it. */
#define USB_MAX_LENGTH 65535

/* The record of a USB object: marks an object made by the constructor. The library keeps
 * the bus list itself, process-wide. */
typedef struct UsbRecord {
    int initialized;
} UsbRecord;

/* Reports "Native function format error: <usage>" and returns 0. */
int usbFormatError(HostContext* cx, const char* usage);

/* Property reads; obj may be null (no object), which reads as a missing property. */
/* obj[name] as a number, or def when it is undefined or missing. */
double usbNumberProperty(HostContext* cx, HostObject* obj, const char* name, double def);
/* The same truncated toward zero to 32 bits (NaN and values out of range: INT32_MIN). */
int32_t usbIntProperty(HostContext* cx, HostObject* obj, const char* name, int32_t def);
/* A copy of obj[name] as narrow text (free it), or null when it is missing. */
char* usbTextProperty(HostContext* cx, HostObject* obj, const char* name);

/* The record of self, or null when self is no USB object. */
UsbRecord* usbRecordOf(HostContext* cx, HostObject* self);

int usbEnumerate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval);
int usbOpen(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int usbClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int usbSend(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int usbGetAnswer(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval);

#endif

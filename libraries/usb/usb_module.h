/* What the files of the USB module share: the record of a USB object and the natives that
 * usb_module.c registers. */
#ifndef CAPSULE_USB_MODULE_H
#define CAPSULE_USB_MODULE_H

#include "module_helpers.h"

/* The largest transfer a request may ask for: a control transfer's length is a 16-bit
 * field, and no HID report comes near it. */
#define USB_MAX_LENGTH 65535

/* The record of a USB object: marks an object made by the constructor. The library keeps
 * the bus list itself, process-wide. */
typedef struct UsbRecord {
    int initialized;
} UsbRecord;

int usbEnumerate(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval);
int usbOpen(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int usbClose(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int usbSend(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv, HostValue* rval);
int usbGetAnswer(HostContext* cx, HostObject* self, unsigned argc, HostValue* argv,
                 HostValue* rval);

#endif

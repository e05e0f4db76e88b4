/* The table of open devices. Scripts hold an open device by a small number, never given
 * out twice, so a forged or stale number finds nothing instead of an address. */
#ifndef CAPSULE_USB_HANDLES_H
#define CAPSULE_USB_HANDLES_H

#include <usb.h>

typedef struct UsbHandle UsbHandle;

/* Enters an opened device; its number (1, 2, ...), or 0 when out of memory. */
double usbHandleAdd(usb_dev_handle* dev);

/* The device of a live number, held for a transfer until usbHandleRelease; null for a
 * number that is unknown, closed or no number at all. */
UsbHandle* usbHandleAcquire(double number, usb_dev_handle** dev);
void usbHandleRelease(UsbHandle* h);

/* Retires the number at once; the device is released and closed now, or by the last
 * transfer still running on it. Unknown numbers are ignored. */
void usbHandleClose(double number);

#endif

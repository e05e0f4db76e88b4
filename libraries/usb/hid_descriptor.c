/* The walk over an interface's class descriptors for the HID report length. */
#include "hid_descriptor.h"

#include <stddef.h>

#define HID_DESCRIPTOR_TYPE 0x21

int hidReportDescriptorLength(const unsigned char* extra, int size) {
    if (!extra) return 0;
    for (int at = 0; at + 1 < size;) {
        int length = extra[at];
        if (length == 0) break;
        if (extra[at + 1] == HID_DESCRIPTOR_TYPE && length > 8 && length <= size - at)
            return extra[at + 7] | extra[at + 8] << 8;
        at += length;
    }
    return 0;
}

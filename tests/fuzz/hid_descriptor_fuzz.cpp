// The USB module's report-descriptor walk on any bytes: no read outside them, and a
// 16-bit length or 0.
#include "libraries/usb/hid_descriptor.h"

#include <stdint.h>
#include <stdlib.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0xFFFF) return 0; // an interface's extra bytes fit a 16-bit total length
    int n = hidReportDescriptorLength(data, static_cast<int>(size));
    if (n < 0 || n > 0xFFFF) abort();
    return 0;
}

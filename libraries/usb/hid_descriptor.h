/* The length of the HID report descriptor that an interface announces. Plain bytes in,
 * a number out: no library and no engine, so it is tested on byte arrays directly. */
#ifndef CAPSULE_HID_DESCRIPTOR_H
#define CAPSULE_HID_DESCRIPTOR_H

#ifdef __cplusplus
extern "C" {
#endif

/* Walks the class descriptors that follow an interface descriptor (each starts with its
 * length byte and its type byte): the first HID descriptor (type 0x21) longer than 8
 * bytes that lies wholly inside the bytes gives the 16-bit little-endian value at its
 * offset 7. 0 when there is none. A length byte of 0 ends the walk. */
int hidReportDescriptorLength(const unsigned char* extra, int size);

#ifdef __cplusplus
}
#endif

#endif

// The USB module's walk over an interface's class descriptors for the HID report
// descriptor length, on byte arrays: well-formed, short, overlong and lying length bytes.
#include "libraries/usb/hid_descriptor.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct Case {
    const char* what;
    std::vector<unsigned char> bytes;
    int expected;
};

TEST(HidDescriptor, ReportLengthFromTheExtraBytes) {
    const Case cases[] = {
        {"none", {}, 0},
        {"one HID descriptor", {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x23, 0x01}, 0x0123},
        {"after another descriptor",
         {3, 0x99, 0, 9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x34, 0x12},
         0x1234},
        {"overlong: more class descriptors follow",
         {12, 0x21, 0x11, 0x01, 0, 2, 0x22, 0x80, 0, 0x23, 4, 0},
         0x80},
        {"the first of two", {9, 0x21, 0, 0, 0, 1, 0x22, 5, 0, 9, 0x21, 0, 0, 0, 1, 0x22, 6, 0}, 5},
        {"short HID descriptor skipped",
         {8, 0x21, 0, 0, 0, 1, 0x22, 7, 9, 0x21, 0, 0, 0, 1, 0x22, 9, 0},
         9},
        {"no HID descriptor", {7, 0x05, 0x81, 0x03, 8, 0, 10}, 0},
        {"length byte past the end", {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x23}, 0},
        {"lying length skips over the HID descriptor",
         {12, 0x99, 0, 9, 0x21, 0x11, 1, 0, 1, 0x22, 1, 0},
         0},
        {"zero length byte ends the walk", {0, 0x21, 9, 0x21, 0, 0, 0, 1, 0x22, 1, 0}, 0},
        {"a lone length byte", {9}, 0},
        {"a length of one steps on", {1, 9, 0x21, 0, 0, 0, 1, 0x22, 2, 0}, 2},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hidReportDescriptorLength(c.bytes.data(), static_cast<int>(c.bytes.size())),
                  c.expected)
            << c.what;
}

TEST(HidDescriptor, SizeBoundsTheWalk) {
    const unsigned char bytes[] = {9, 0x21, 0x11, 0x01, 0, 1, 0x22, 0x23, 0x01};
    EXPECT_EQ(hidReportDescriptorLength(bytes, 9), 0x0123);
    EXPECT_EQ(hidReportDescriptorLength(bytes, 8), 0);
    EXPECT_EQ(hidReportDescriptorLength(bytes, 0), 0);
    EXPECT_EQ(hidReportDescriptorLength(bytes, -5), 0);
    EXPECT_EQ(hidReportDescriptorLength(nullptr, 9), 0);
}

} // namespace

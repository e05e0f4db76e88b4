// Port names of the serial module: the Windows names of serial ports and device paths.
#include "libraries/serial/serial_name.c"

#include <gtest/gtest.h>
#include <string>

TEST(SerialName, ComNamesMapToTtySAndOtherNamesStayAsGiven) {
    const struct {
        const char* name;
        const char* path;
    } cases[] = {
        {"COM1", "/dev/ttyS0"},
        {"com12", "/dev/ttyS11"},
        {"\\\\.\\COM3", "/dev/ttyS2"},
        {"COM256", "/dev/ttyS255"},
        {"COM257", "COM257"},
        {"COM0", "COM0"},
        {"COM01", "COM01"},
        {"COM", "COM"},
        {"COM1x", "COM1x"},
        {"COM-1", "COM-1"},
        {"COM99999999999", "COM99999999999"},
        {"\\\\.\\ttyUSB0", "\\\\.\\ttyUSB0"},
        {"/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char buffer[32];
        EXPECT_EQ(std::string(serialDevicePath(c.name, buffer, sizeof buffer)), c.path) << c.name;
    }
}

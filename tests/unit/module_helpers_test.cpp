// The pure parts of the module libraries' helper header, compiled as C++: the number to
// 32-bit integer conversion and the presence of optional arguments.
#include "core/module_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace {

TEST(ModuleHelpers, ToInt32TruncatesTowardZeroAndGivesInt32MinOutOfRange) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        double d;
        int32_t expected;
    } cases[] = {
        {0.0, 0},
        {-0.0, 0},
        {-0.5, 0},
        {0.5, 0},
        {1.9, 1},
        {-1.9, -1},
        {2147483647.0, INT32_MAX},
        {2147483647.5, INT32_MAX},
        {2147483648.0, INT32_MIN},
        {-2147483648.0, INT32_MIN},
        {-2147483648.5, INT32_MIN},
        {-2147483649.0, INT32_MIN},
        {1e300, INT32_MIN},
        {-1e300, INT32_MIN},
        {inf, INT32_MIN},
        {-inf, INT32_MIN},
        {std::nan(""), INT32_MIN},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hostToInt32(c.d), c.expected) << c.d;
}

TEST(ModuleHelpers, AnOptionalArgumentIsPresentWhenItExistsAndIsNotUndefined) {
    const HostValue argv[] = {hostNumber(1), HOST_UNDEFINED, HOST_NULL, HOST_FALSE};
    const struct {
        unsigned argc, i;
        bool expected;
    } cases[] = {
        {4, 0, true},  {4, 1, false}, {4, 2, true},  {4, 3, true},
        {4, 4, false}, {1, 0, true},  {1, 1, false}, {0, 0, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hostPresent(c.argc, argv, c.i) != 0, c.expected) << c.argc << " " << c.i;
}

} // namespace

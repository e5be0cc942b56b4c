#include <cmath>
#include <gtest/gtest.h>
#include <limits>

#include "core/common/display.h"

namespace corvalent {
namespace {

TEST(Display, BytesSwitchUnitsAtOneGibibyte)
{
    EXPECT_EQ(Display::bytes(0), "0 MB");
    EXPECT_EQ(Display::bytes(786'432), "1 MB") << "0.75 MB rounds up";
    EXPECT_EQ(Display::bytes(1'073'741'823), "1024 MB");
    EXPECT_EQ(Display::bytes(1'073'741'824), "1.0 GB");
    EXPECT_EQ(Display::bytes(std::numeric_limits<std::uint64_t>::max()), "17179869184.0 GB");
}

TEST(Display, AgesAtTheirUnitBoundariesAndClamped)
{
    EXPECT_EQ(Display::age(59.9), "just started");
    EXPECT_EQ(Display::age(60), "1m");
    EXPECT_EQ(Display::age(3'599), "59m");
    EXPECT_EQ(Display::age(3'600), "1h 0m");
    EXPECT_EQ(Display::age(86'399), "23h 59m");
    EXPECT_EQ(Display::age(86'400), "1d 0h");
    EXPECT_EQ(Display::age(std::nan("")), "just started");
    EXPECT_EQ(Display::age(-std::numeric_limits<double>::infinity()), "just started");
    EXPECT_EQ(Display::age(std::numeric_limits<double>::infinity()), Display::age(1e12));
}

}  // namespace
}  // namespace corvalent

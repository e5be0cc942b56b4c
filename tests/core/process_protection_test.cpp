#include <gtest/gtest.h>

#include "core/process_protection.h"

namespace corvalent {
namespace {

TEST(ProcessProtection, RawValuesOutsideTheTableHaveNoCase)
{
    for (std::int32_t raw = 0; raw <= 7; ++raw) {
        const auto protection = processProtectionFromRaw(raw);
        ASSERT_TRUE(protection) << raw;
        EXPECT_EQ(rawValue(*protection), raw);
    }
    EXPECT_FALSE(processProtectionFromRaw(8));
    EXPECT_FALSE(processProtectionFromRaw(-1));
    EXPECT_EQ(explanation(ProcessProtection::none), "Available to stop");
    EXPECT_EQ(explanation(ProcessProtection::restrictedLocation), "Executable location is not approved");
}

}  // namespace
}  // namespace corvalent

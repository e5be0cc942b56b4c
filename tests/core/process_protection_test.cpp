#include <gtest/gtest.h>

#include "core/process_protection.h"

namespace corvalent {
namespace {

// An unexpected code must never turn into a case, least of all `none`.
TEST(ProcessProtection, RawValuesOutsideTheTableHaveNoCase)
{
    EXPECT_EQ(processProtectionFromRaw(7), ProcessProtection::restrictedLocation);
    EXPECT_FALSE(processProtectionFromRaw(8));
    EXPECT_FALSE(processProtectionFromRaw(-1));
}

}  // namespace
}  // namespace corvalent

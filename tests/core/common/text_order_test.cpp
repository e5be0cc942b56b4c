#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

#include "core/common/text_order.h"

namespace corvalent {
namespace {

TEST(TextOrder, NamesSortLikePeopleReadThem)
{
    std::vector<std::string> names{"file10", "File2", "file1", "apple", "Zebra"};
    std::sort(names.begin(), names.end(), [](const auto& a, const auto& b) { return localizedStandardLess(a, b); });
    EXPECT_EQ(names, (std::vector<std::string>{"apple", "file1", "File2", "file10", "Zebra"}));
    EXPECT_FALSE(localizedStandardLess("same", "same"));
    // Names that differ only in case still get a fixed order.
    EXPECT_NE(localizedStandardLess("Tool", "tool"), localizedStandardLess("tool", "Tool"));
}

}  // namespace
}  // namespace corvalent

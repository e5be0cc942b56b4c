// The main of the test programs without Qt objects.
#include <gtest/gtest.h>

#include "test_support.h"

int main(int argc, char** argv)
{
    corvalent::testing::setAsideAccountHome();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

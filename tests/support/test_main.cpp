// The main of the test programs without Qt objects.
#include <gtest/gtest.h>

#include "test_support.h"

#ifdef CORVALENT_TEST_LISTS_FOLDERS
#include "core/disk/folder_listing.h"
#endif

int main(int argc, char** argv)
{
#ifdef CORVALENT_TEST_LISTS_FOLDERS
    // Started as the program's own folder lister by a test of that road.
    if (argc == 3 && argv[1] == corvalent::FolderLister::helperFlag)
        return corvalent::FolderLister::printListing(argv[2]);
#endif
    corvalent::testing::setAsideAccountHome();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

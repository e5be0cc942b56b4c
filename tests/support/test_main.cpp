// The main of the test programs without Qt objects.
#include <gtest/gtest.h>

#include "test_support.h"

#ifdef CORVALENT_TEST_LISTS_FOLDERS
#include "core/disk/trash/disk_items_apart.h"
#include "core/disk/trash/disk_trash.h"
#include "core/disk/folder_listing.h"
#endif

int main(int argc, char** argv)
{
#ifdef CORVALENT_TEST_LISTS_FOLDERS
    // Started as the program's own folder lister by a test of that road.
    if (argc == 3 && argv[1] == corvalent::FolderLister::helperFlag)
        return corvalent::FolderLister::printListing(argv[2]);
    // Started by a move's last check to look at the other items it relies on.
    if (argc >= 2 && argv[1] == corvalent::DiskItemsApart::helperFlag)
        return corvalent::DiskTrashExecutor::printExamined(argc - 2, argv + 2);
#endif
    corvalent::testing::setAsideAccountHome();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

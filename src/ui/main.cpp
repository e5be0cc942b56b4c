#include <string_view>

#include "core/disk/trash/disk_items_apart.h"
#include "core/disk/trash/disk_trash.h"
#include "core/disk/folder_listing.h"
#include "models/full_disk_access.h"
#include "ui/shell/corvalent_app.h"

int main(int argc, char** argv)
{
    // A fresh process asked only whether protected folders can be read: it
    // answers through its exit status, before any window or setting exists.
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "--full-disk-access-check")
            return corvalent::FullDiskAccessProbe::exitStatus(corvalent::FullDiskAccessProbe::currentStatus());
    }
    // The folder chooser's helper: lists one folder's folders and ends.
    if (argc == 3 && argv[1] == corvalent::FolderLister::helperFlag)
        return corvalent::FolderLister::printListing(argv[2]);
    // The last check before a move: looks at the other items it relies on and ends.
    if (argc >= 2 && argv[1] == corvalent::DiskItemsApart::helperFlag)
        return corvalent::DiskTrashExecutor::printExamined(argc - 2, argv + 2);
    return corvalent::runApplication(argc, argv);
}

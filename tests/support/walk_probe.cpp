// Walks the folder named by its argument as whatever account runs it and
// prints "<entries> <inaccessible>". Tests start it as an unprivileged account
// so that folders without permissions really are unreadable.
#include <iostream>

#include "bridge/disk_walk.h"

int main(int argc, char** argv)
{
    if (argc != 2) return 2;
    corvalent::PLDiskScanStats stats{};
    const auto result = corvalent::pl_scan_disk(argv[1], 0, nullptr, nullptr, &stats);
    std::cout << stats.entries << ' ' << stats.inaccessible << '\n';
    return result == 0 ? 0 : 1;
}

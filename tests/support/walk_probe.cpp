// Walks the folder named by its first argument as whatever account runs it,
// with the thread count of its second (default 1), and prints
// "<entries> <inaccessible> <digest>", the digest standing for every visit in
// order. Tests start it as an unprivileged account so that folders without
// permissions really are unreadable.
#include <cstdint>
#include <iostream>
#include <string>

#include "bridge/disk_walk.h"

namespace {

struct Digest final : corvalent::PLDiskVisitor {
    std::uint64_t value = 1469598103934665603ULL;

    void add(std::string_view bytes)
    {
        for (const char byte : bytes) value = (value ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
    }

    bool visit(const corvalent::PLDiskEntry& entry) override
    {
        add(std::to_string(entry.depth) + ":" + std::to_string(static_cast<int>(entry.kind)) + ":" +
            std::to_string(entry.error != 0) + ":");
        add(entry.name);
        return true;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) return 2;
    corvalent::PLDiskWalkOptions options;
    options.threads = argc == 3 ? std::stoi(argv[2]) : 1;
    Digest digest;
    corvalent::PLDiskScanStats stats{};
    const auto result = corvalent::pl_walk_disk(argv[1], options, digest, stats);
    std::cout << stats.entries << ' ' << stats.inaccessible << ' ' << digest.value << '\n';
    return result == 0 ? 0 : 1;
}

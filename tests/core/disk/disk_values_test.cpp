#include <gtest/gtest.h>
#include <set>
#include <string>
#include <vector>

#include "core/disk/disk.h"

namespace corvalent {
namespace {

DiskFile file(std::string path, std::uint64_t bytes, std::uint64_t logical = 0, std::uint64_t inode = 0)
{
    return DiskFile{std::move(path), bytes, logical, inode == 0 ? 0U : 1U, inode, false};
}

TEST(DiskCapacity, FiguresStayWithinTheTotal)
{
    const auto figures = [](const DiskCapacity& c) {
        return std::vector<std::uint64_t>{c.available, c.immediatelyAvailable, c.used(), c.occupied(), c.reclaimable()};
    };
    EXPECT_EQ(figures(DiskCapacity::make("Data", 1'000, 400)), (std::vector<std::uint64_t>{400, 400, 600, 600, 0}));
    EXPECT_EQ(figures(DiskCapacity::make("Data", 1'000, 400, 100)),
              (std::vector<std::uint64_t>{400, 100, 600, 900, 300}));
    EXPECT_EQ(figures(DiskCapacity::make("Odd", 100, 150, 500)), (std::vector<std::uint64_t>{100, 100, 0, 0, 0}));
    // More immediately available than available: differences floor at 0 instead of wrapping.
    EXPECT_EQ(figures(DiskCapacity::make("Odd", 1'000, 100, 300)), (std::vector<std::uint64_t>{100, 300, 900, 700, 0}));
    EXPECT_DOUBLE_EQ(DiskCapacity::make("Data", 1'000, 400).usedFraction(), 0.6);
    EXPECT_DOUBLE_EQ(DiskCapacity::make("Empty", 0, 0).usedFraction(), 0.0);
}

TEST(DiskScanEstimate, EstimatesAreAbsentWhenTheyWouldMislead)
{
    using namespace DiskScanEstimate;
    EXPECT_EQ(fraction(500, 200), 0.98) << "never complete before the walk ends";
    EXPECT_EQ(fraction(0, 200), std::nullopt);
    EXPECT_EQ(fraction(50, 0), std::nullopt);

    EXPECT_EQ(remainingSeconds(0.5, 10), 10.0);
    EXPECT_EQ(remainingSeconds(0.02, 100'000), 604'800.0) << "at most a week";
    EXPECT_EQ(remainingSeconds(0.9, 1), std::nullopt) << "under a second";
    EXPECT_EQ(remainingSeconds(0.5, 0.5), std::nullopt);
    EXPECT_EQ(remainingSeconds(0.01, 100), std::nullopt);
    EXPECT_EQ(remainingSeconds(0.98, 100), std::nullopt);

    EXPECT_EQ(totalFiles(1'000, 0.25, std::nullopt), 4'000);
    EXPECT_EQ(totalFiles(1'000, 0.25, 2'000), 2'500) << "blended with the previous scan's total";
    EXPECT_EQ(totalFiles(100, 0.5, 1'000), 1'000) << "too few files to extrapolate";
    EXPECT_EQ(totalFiles(100, 0.5, std::nullopt), std::nullopt);
    EXPECT_EQ(totalFiles(200, 0.01, 150), 200) << "never fewer than already scanned";
    EXPECT_EQ(totalFiles(-1, 0.5, 1'000), std::nullopt);
}

TEST(DiskCollectors, LargestFilesAndDuplicateBucketsStayBounded)
{
    LargestFileCollector largest(2);
    largest.consider(file("/b", 10));
    largest.consider(file("/empty", 0));
    largest.consider(file("/a", 30));
    largest.consider(file("/c", 10));  // ties with the smallest kept: stays out
    auto kept = largest.descending();
    ASSERT_EQ(kept.size(), 2U);
    EXPECT_EQ(kept[0].path, "/a");
    EXPECT_EQ(kept[1].path, "/b");
    largest.consider(file("/d", 11));
    EXPECT_EQ(largest.descending()[1].path, "/d");

    PotentialDuplicateCollector duplicates;
    for (int i = 0; i < 10; ++i) duplicates.consider(file("/ten" + std::to_string(i), 100, 10'000'000, 10 + i));
    duplicates.consider(file("/twelve-a", 100, 12'000'000, 30));
    duplicates.consider(file("/twelve-a-link", 0, 12'000'000, 30));
    duplicates.consider(file("/twelve-b", 100, 12'000'000, 31));
    duplicates.consider(file("/eleven-a", 100, 11'000'000, 32));
    duplicates.consider(file("/eleven-b", 100, 11'000'000, 33));
    auto groups = duplicates.groups();
    ASSERT_EQ(groups.size(), 3U);
    EXPECT_EQ(groups[0].logicalBytesPerFile, 10'000'000U);
    EXPECT_EQ(groups[0].files.size(), 8U);
    EXPECT_EQ(groups[0].estimatedRecoverableBytes, 700U);
    EXPECT_EQ(groups[1].logicalBytesPerFile, 12'000'000U) << "equal savings: the larger size first";
    EXPECT_EQ(groups[1].files.size(), 2U) << "a second link to one file is not a copy";
    EXPECT_EQ(groups[2].logicalBytesPerFile, 11'000'000U);

    // A full set of buckets holding lone files still makes room for a pair.
    PotentialDuplicateCollector crowded;
    for (std::uint64_t i = 0; i < PotentialDuplicateCollector::maxBuckets; ++i)
        crowded.consider(file("/lone" + std::to_string(i), 10, 20'000'000 + i, 100 + i));
    crowded.consider(file("/pair-a", 10, 15'000'000, 1));
    crowded.consider(file("/pair-b", 10, 15'000'000, 2));
    groups = crowded.groups();
    ASSERT_EQ(groups.size(), 1U);
    EXPECT_EQ(groups[0].id, "15000000:/pair-a");
}

TEST(DiskVolumes, MountTableParsingAndUserVolumes)
{
    const auto mounts = parseMountInfo(
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "23 22 8:2 / /home rw,relatime shared:2 master:3 - ext4 /dev/sda2 rw\n"
        "24 22 7:0 / /snap/core/1 ro shared:4 - squashfs /dev/loop0 ro\n"
        "25 22 0:30 / /run/user/1000 rw - tmpfs tmpfs rw\n"
        "26 22 8:2 /srv/data /mnt/data rw - ext4 /dev/sda2 rw\n"
        "27 22 8:17 / /run/media/me/USB\\040Stick rw - vfat /dev/sdb1 rw\n"
        "28 22 8:3 / /boot rw - ext4 /dev/sda3 rw\n"
        "garbage\n"
        "29 22 8:4 / /no-separator rw ext4 /dev/sda4 rw\n"
        "30 22 x:y / /bad-device rw - ext4 /dev/sda5 rw\n"
        "31 22 8:6 / /short rw -\n"
        "32 22 8:7 / /last rw - xfs /dev/sdc1 rw");
    ASSERT_EQ(mounts.size(), 8U);
    EXPECT_EQ(mounts[1], (MountEntry{8, 2, "/", "/home", "ext4", "/dev/sda2", 23, 22}));
    EXPECT_EQ(mounts[4].root, "/srv/data");
    EXPECT_EQ(mounts[5].mountPoint, "/run/media/me/USB Stick");
    EXPECT_EQ(mounts[7].mountPoint, "/last");

    // A disk on /home/srv/data/build/usb sits, on sda2, inside the folder
    // /mnt/data/build (the same folder through a bind mount) as well.
    auto table = mounts;
    table.push_back(parseMountInfo("33 23 8:9 / /home/srv/data/build/usb rw - vfat /dev/sdd1 rw")[0]);
    const auto holds = [&](std::string_view path, std::uint64_t mount) { return holdsMountPoint(table, path, mount); };
    EXPECT_TRUE(holds("/home/srv/data/build", 23));
    EXPECT_TRUE(holds("/home/srv", 0)) << "the mount that holds the folder found by its path";
    EXPECT_TRUE(holds("/mnt/data/build", 26));
    EXPECT_TRUE(holds("/run/media/me/USB Stick", 27)) << "a mount point itself";
    EXPECT_FALSE(holds("/mnt/data/other", 26));
    EXPECT_FALSE(holds("/home/srv/data/build-2", 23));

    std::vector<bool> user;
    for (const auto& mount : mounts) user.push_back(isUserVolumeMount(mount));
    EXPECT_EQ(user, (std::vector<bool>{true, true, false, false, false, true, false, true}));

    const auto volumes = DiskScanner::volumes(std::make_shared<MountFigureCache>()).volumes;
    ASSERT_FALSE(volumes.empty());
    EXPECT_EQ(volumes.front().id, "/");
    std::set<std::string> ids;
    for (const auto& volume : volumes) {
        EXPECT_TRUE(ids.insert(volume.id).second) << volume.id;
        EXPECT_GT(volume.capacity.total, 0U) << volume.id;
    }
    EXPECT_GE(volumes.front().capacity.total, volumes.front().capacity.available);
    EXPECT_GT(volumes.front().capacity.available, 0U);
}

}  // namespace
}  // namespace corvalent

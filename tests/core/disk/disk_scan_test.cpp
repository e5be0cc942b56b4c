#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "core/disk/disk.h"
#include "core/disk/disk_insights.h"
#include "core/common/utf8.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::writeFile;
const auto allocated = testing::allocatedBytes;

DiskScanResult scan(const fs::path& root, int depth = 6, std::vector<DiskScanProgress>* reports = nullptr,
                    std::stop_token stop = {})
{
    const auto keep = [reports](const DiskScanProgress& progress) {
        if (reports != nullptr) reports->push_back(progress);
    };
    return DiskScanner::scan(root.string(), true, depth, 14, {}, keep, stop);
}

// Every node holds exactly what its children hold, and names are text.
void expectConsistent(const DiskNode& node)
{
    EXPECT_TRUE(isValidUtf8(node.id));
    if (node.children.empty()) return;
    std::uint64_t bytes = 0;
    std::int64_t files = 0;
    for (const auto& child : node.children) {
        bytes += child.bytes;
        files += child.fileCount;
        expectConsistent(child);
    }
    EXPECT_EQ(bytes, node.bytes) << node.id;
    EXPECT_EQ(files, node.fileCount) << node.id;
}

std::vector<std::string> names(const DiskNode& node)
{
    std::vector<std::string> list;
    for (const auto& child : node.children) list.push_back(child.name);
    return list;
}

TEST(DiskScan, TotalsMatchAnIndependentCount)
{
    const TempDir dir;
    const auto root = fs::canonical(dir.path());
    for (int i = 0; i < 120; ++i) {
        const auto folder =
            root / ("d" + std::to_string(i % 4)) / ("s" + std::to_string(i % 3)) / (i % 5 == 0 ? "t/u" : "");
        writeFile(folder / ("f" + std::to_string(i)), static_cast<std::size_t>(i) * 7'919 % 200'000 + 1);
    }
    fs::create_directories(root / "d1/empty");
    fs::create_hard_link(root / "d2/s2/f2", root / "d2/s2/f2-link");
    writeFile(root / "d3/sparse", 4'096);
    ASSERT_EQ(::truncate((root / "d3/sparse").c_str(), 1 << 30), 0);
    fs::create_directory_symlink(root, root / "d0/back");

    std::map<std::string, std::pair<std::uint64_t, std::int64_t>> expected{{root.string(), {}}};
    std::set<std::pair<dev_t, ino_t>> seenInodes;
    std::int64_t entries = 1;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        ++entries;
        struct stat info {};
        ASSERT_EQ(::lstat(entry.path().c_str(), &info), 0);
        if (S_ISDIR(info.st_mode)) expected[entry.path().string()];
        if (!S_ISREG(info.st_mode)) continue;
        const bool first = seenInodes.insert({info.st_dev, info.st_ino}).second;
        for (auto folder = entry.path().parent_path();; folder = folder.parent_path()) {
            auto& [bytes, files] = expected[folder.string()];
            bytes += first ? static_cast<std::uint64_t>(info.st_blocks) * 512 : 0;
            ++files;
            if (folder == root) break;
        }
    }

    std::vector<DiskScanProgress> reports;
    const auto result = scan(root, 6, &reports);
    EXPECT_FALSE(result.cancelled);
    EXPECT_EQ(result.scannedEntries, entries);
    EXPECT_EQ(result.inaccessibleEntries, 0);
    EXPECT_EQ(result.root.id, root.string());
    EXPECT_EQ(result.root.fileCount, 122) << "both names of the hard link count";
    expectConsistent(result.root);

    std::size_t folders = 0;
    const auto compare = [&](const auto& self, const DiskNode& node) -> void {
        if (!node.isDirectory) return;
        ++folders;
        ASSERT_TRUE(node.path.has_value());
        EXPECT_EQ(std::pair(node.bytes, node.fileCount), expected[*node.path]) << *node.path;
        for (const auto& child : node.children) self(self, child);
    };
    compare(compare, result.root);
    EXPECT_EQ(folders, expected.size() - 1) << "every folder but the empty one has a node";

    ASSERT_FALSE(reports.empty());
    EXPECT_EQ(reports.back(), (DiskScanProgress{entries, 122, result.root.bytes}));

    // A root that is a symbolic link scans the folder it names.
    const auto throughLink = scan(root / "d0/back");
    EXPECT_EQ(throughLink.root.id, root.string());
    EXPECT_EQ(throughLink.root.bytes, result.root.bytes);
}

TEST(DiskScan, TreeShowsTheLargestChildrenWithinItsBounds)
{
    const TempDir dir;
    const auto root = fs::canonical(dir.path());
    std::uint64_t restBytes = 0;
    for (int i = 1; i <= 20; ++i) {
        const auto file = root / "wide" / ("s" + std::to_string(100 + i)) / "f";
        writeFile(file, static_cast<std::size_t>(i) * 8'192);
        if (i <= 6) restBytes += allocated(file);
    }
    writeFile(root / "same/a10/f", 4'096);
    writeFile(root / "same/a2/f", 4'096);
    writeFile(root / "deep/mid/low/f", 12'288);
    writeFile(root / "deep/mid/g", 4'096);
    writeFile(root / "loose", 4'096);

    const auto result = scan(root, 2);
    const auto& tree = result.root;
    expectConsistent(tree);

    const auto* wide = tree.node((root / "wide").string());
    ASSERT_NE(wide, nullptr);
    ASSERT_EQ(wide->children.size(), 15U);
    EXPECT_EQ(wide->children.front().name, "s120");
    EXPECT_EQ(wide->children[13].name, "s107");
    const auto& other = wide->children.back();
    EXPECT_EQ(other.name, "Other folders");
    EXPECT_FALSE(other.path.has_value()) << "nothing to act on";
    EXPECT_EQ(other.bytes, restBytes);
    EXPECT_EQ(other.fileCount, 6);

    EXPECT_EQ(names(*tree.node((root / "same").string())), (std::vector<std::string>{"a2", "a10"}));

    // Below the depth bound a folder's content shows as its own files.
    const auto mid = (root / "deep/mid").string();
    ASSERT_NE(tree.node(mid), nullptr);
    EXPECT_EQ(tree.node(mid + "/low"), nullptr);
    ASSERT_EQ(tree.node(mid)->children.size(), 1U);
    const auto& direct = tree.node(mid)->children.front();
    EXPECT_EQ(direct.path, mid);
    EXPECT_EQ(direct.bytes, allocated(root / "deep/mid/low/f") + allocated(root / "deep/mid/g"));
    EXPECT_EQ(direct.fileCount, 2);
    EXPECT_EQ(tree.children.back().bytes, allocated(root / "loose"));

    // A pseudo-child shares its folder's path but not its id.
    EXPECT_EQ(tree.parent(direct.id), tree.node(mid));
    EXPECT_EQ(tree.parent(tree.id), nullptr);
}

// A second hard link is no second file, and a name that is not text never
// gets a node or a duplicate entry: its bytes count toward the nearest
// nameable folder. The largest files keep it, by its own bytes, but it is
// never offered for cleanup.
TEST(DiskScan, LargestFilesAndDuplicatesHoldEachFileOnce)
{
    const TempDir dir;
    const auto root = fs::canonical(dir.path());
    for (const auto* name : {"copies/one", "copies/two", "other/three", "bad\xff", "dir\xfe/inner"})
        writeFile(root / name, 11'000'000);
    fs::create_hard_link(root / "copies/one", root / "copies/one-link");
    writeFile(root / "near/x", 9'999'999);
    writeFile(root / "near/y", 9'999'999);

    const auto result = scan(root);
    expectConsistent(result.root);
    EXPECT_EQ(result.root.fileCount, 8);
    EXPECT_EQ(names(result.root), (std::vector<std::string>{"copies", "near", "other", "Files in this folder"}));
    EXPECT_EQ(result.root.children.back().bytes, allocated(root / "bad\xff") + allocated(root / "dir\xfe/inner"));

    std::vector<std::uint64_t> sizes;
    for (const auto& file : result.largestFiles) sizes.push_back(file.bytes);
    EXPECT_TRUE(std::is_sorted(sizes.rbegin(), sizes.rend()));
    EXPECT_EQ(sizes.size(), 7U) << "one name of the linked file";
    for (const auto& raw : {root / "bad\xff", root / "dir\xfe/inner"})
        EXPECT_TRUE(std::ranges::any_of(result.largestFiles, [&](const DiskFile& file) {
            return file.path == raw.string();
        })) << "listed by its own bytes";
    for (const auto& candidate : DiskInsights::candidates(result, {}, 80))
        EXPECT_TRUE(isValidUtf8(candidate.path)) << candidate.path;

    ASSERT_EQ(result.potentialDuplicateGroups.size(), 1U) << "9,999,999 bytes is below the threshold";
    const auto& group = result.potentialDuplicateGroups.front();
    ASSERT_EQ(group.files.size(), 3U);
    EXPECT_EQ(group.files.back().path, (root / "other/three").string());
    EXPECT_EQ(group.estimatedRecoverableBytes, 2 * allocated(root / "other/three"));
}

TEST(DiskScan, CancelledScanKeepsAConsistentPartialTree)
{
    const TempDir dir;
    const auto root = fs::canonical(dir.path());
    // A hundred names per folder, most of them hard links: new inodes are slow to make on some file systems.
    for (int i = 0; i < 2'400; ++i) {
        const auto folder = root / ("d" + std::to_string(i % 24));
        if (i < 24)
            writeFile(folder / "f", 1);
        else
            fs::create_hard_link(folder / "f", folder / ("f" + std::to_string(i)));
    }

    std::stop_source before;
    before.request_stop();
    std::vector<DiskScanProgress> reports;
    auto result = scan(root, 6, &reports, before.get_token());
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(result.root.bytes, 0U);
    ASSERT_EQ(reports.size(), 1U) << "the final report comes even when nothing was measured";

    // Stopped from inside the first progress report, partway through.
    std::stop_source during;
    reports.clear();
    result = DiskScanner::scan(
        root.string(), true, 6, 14, {},
        [&](const DiskScanProgress& progress) {
            reports.push_back(progress);
            during.request_stop();
        },
        during.get_token());
    EXPECT_TRUE(result.cancelled);
    EXPECT_GT(result.root.fileCount, 0);
    EXPECT_LT(result.root.fileCount, 2'400);
    expectConsistent(result.root);
    ASSERT_EQ(reports.size(), 2U);
    EXPECT_EQ(reports.back().measuredBytes, result.root.bytes);
    EXPECT_EQ(reports.back().scannedFiles, result.root.fileCount);
}

// Hard links across folders, equal sizes and names that are not text: the
// tree, totals, largest files and duplicate buckets do not depend on how
// many folders are read at once.
TEST(DiskScan, AnyThreadCountGivesTheSameResult)
{
    const TempDir dir;
    const auto root = fs::canonical(dir.path());
    for (int a = 0; a < 20; ++a) {
        for (int b = 0; b < 6; ++b) {
            const auto folder = root / ("f" + std::to_string(a)) / ("g" + std::to_string(b));
            for (int c = 0; c < 10; ++c) writeFile(folder / ("file" + std::to_string(c)), 4'096 * ((a * 7 + b * 3 + c) % 9 + 1));
        }
    }
    for (int a = 0; a < 20; ++a)
        fs::create_hard_link(root / ("f" + std::to_string(a)) / "g1/file1",
                             root / ("f" + std::to_string((a + 1) % 20)) / ("shared" + std::to_string(a)));
    writeFile(root / std::string("caf\xE9/big.bin"), 900'000);

    const auto reference = DiskScanner::scan(root.string(), true, 6, 14, {}, {}, {}, 1);
    EXPECT_EQ(reference.root.fileCount, 20 * 6 * 10 + 20 + 1);
    for (int threads : {2, 8}) {
        auto result = DiskScanner::scan(root.string(), true, 6, 14, {}, {}, {}, threads);
        result.duration = reference.duration;
        EXPECT_TRUE(result == reference) << threads << " threads";
    }
}

// The desktop's own protected folders are where user-dirs.dirs puts them,
// under whatever names the desktop's language gave them. A folder set to the
// home itself (a way to turn one off) leaves nothing out. The home is $HOME
// for the whole rule: its own "Documents" is one of the fixed places.
TEST(DiskScan, PrivacyProtectedFoldersAreTheDesktopsOwn)
{
    const TempDir dir;
    const auto root = fs::canonical(dir.path());
    const auto home = root / "home";
    for (const char* folder : {"Dokumente/a", "Bureau/b", "Musik/c", "Documents/d", "Dokumente2/e"})
        writeFile(home / folder / "file", 4'096);
    fs::create_directories(home / ".config");
    std::ofstream(home / ".config/user-dirs.dirs") << "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
                                                      "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n"
                                                      "XDG_DOWNLOAD_DIR=\"$HOME/\"\n"
                                                      "XDG_MUSIC_DIR=\"$HOME/Musik\"\n";

    const auto saved = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto restore = [](const char* name, const std::optional<std::string>& value) {
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    };
    const auto savedHome = saved("HOME"), savedConfig = saved("XDG_CONFIG_HOME");
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    const auto leftOut = DiskScanner::scan(root.string(), false, 6, 14, {}, {});
    const auto all = DiskScanner::scan(root.string(), true, 6, 14, {}, {});
    // The home named through a link: the walk meets its folders where they really are.
    fs::create_directory_symlink(root, root / "link");
    ::setenv("HOME", (root / "link/home").c_str(), 1);
    const auto linked = DiskScanner::scan(root.string(), false, 6, 14, {}, {});
    restore("HOME", savedHome);
    restore("XDG_CONFIG_HOME", savedConfig);

    const auto* scannedHome = leftOut.root.node(home.string());
    ASSERT_NE(scannedHome, nullptr) << "the home folder is never left out";
    auto seen = names(*scannedHome);
    std::ranges::sort(seen);
    EXPECT_EQ(seen, (std::vector<std::string>{".config", "Dokumente2", "Musik"}));
    EXPECT_EQ(leftOut.privacySkippedLocations, 3);
    EXPECT_EQ(leftOut.root.fileCount, 3);
    EXPECT_EQ(all.privacySkippedLocations, 0);
    EXPECT_EQ(all.root.fileCount, 6);
    EXPECT_EQ(linked.privacySkippedLocations, 3) << "a home named through a link";
    EXPECT_EQ(linked.root.fileCount, 3);
}

// A home reached through a link (/home a link to /var/home), scanned as HOME
// names it and where it really is: a limited scan leaves out its fixed
// protected folders and the desktop's own, whether user-dirs.dirs names them
// through the link or by their real path.
TEST(DiskScan, AHomeReachedThroughALinkKeepsItsProtectedFoldersOut)
{
    const testing::TempHome temp(testing::TempHome::Reached::throughLink);
    const testing::ScopedVariable config("XDG_CONFIG_HOME", (temp.home / ".config").string());
    for (const char* folder : {"Documents/a", "Downloads/b", "Bureau/c", "Papiers/d", "Musik/e"})
        writeFile(temp.home / folder / "file", 4'096);
    fs::create_directory(temp.home / ".config");
    std::ofstream(temp.home / ".config/user-dirs.dirs")
        << "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n"
        << "XDG_DOCUMENTS_DIR=\"" << (temp.home / "Papiers").string() << "\"\n";
    const fs::path named = std::getenv("HOME");
    ASSERT_NE(named, temp.home);

    for (const auto& root : {named, temp.home}) {
        SCOPED_TRACE(root.string());
        const auto limited = DiskScanner::scan(root.string(), false, 6, 14, {}, {});
        ASSERT_EQ(limited.root.id, temp.home.string());
        auto seen = names(limited.root);
        std::ranges::sort(seen);
        EXPECT_EQ(seen, (std::vector<std::string>{".config", "Musik"}));
        EXPECT_EQ(limited.privacySkippedLocations, 4);
        EXPECT_EQ(limited.root.fileCount, 2) << "Musik's file and user-dirs.dirs";
        EXPECT_EQ(DiskScanner::scan(root.string(), true, 6, 14, {}, {}).root.fileCount, 6);
    }
}

// The desktop's folders on a share that never answers: Documents is the
// mount itself, Downloads a link into it, Desktop named outside the home
// through a link into it; the home is reached through a link as well. A
// scan that leaves them out ends without asking the share, and a scan that
// takes them in maps the home, its mount point listed, never looked at.
TEST(DiskScan, DesktopFoldersOnAShareThatNeverAnswersHoldNoScan)
{
    const testing::TempHome temp(testing::TempHome::Reached::throughLink);
    const testing::ScopedVariable config("XDG_CONFIG_HOME", (temp.home / ".config").string());
    writeFile(temp.home / "Music/song", 4'096);
    fs::create_directory_symlink(temp.home / "Documents", temp.root.path() / "elsewhere");
    fs::create_directory(temp.home / ".config");
    std::ofstream(temp.home / ".config/user-dirs.dirs")
        << "XDG_DESKTOP_DIR=\"" << (temp.root.path() / "elsewhere/desk").string() << "\"\n";
    fs::create_directory_symlink(temp.home / "Documents/docs", temp.home / "Downloads");
    testing::SlowTree tree;
    tree.folders = {"docs", "desk"};
    tree.slowStat = tree.slowList = {".", "docs", "desk"};
    tree.neverAnswers = true;
    testing::SlowMount share(temp.home / "Documents", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();

    // A scan held by the share would hold the test as well: it is let go.
    const auto scanWithin = [&share, &temp](bool includePrivacy) -> std::optional<DiskScanResult> {
        auto scanning = std::async(std::launch::async, [&temp, includePrivacy] {
            return DiskScanner::scan(temp.home.string(), includePrivacy, 6, 14, {}, {});
        });
        if (scanning.wait_for(std::chrono::seconds(60)) == std::future_status::ready) return scanning.get();
        share.unmount();
        return std::nullopt;
    };
    const auto leftOut = scanWithin(false);
    ASSERT_TRUE(leftOut) << "the scan that leaves the protected folders out waits on the share";
    const auto all = scanWithin(true);
    ASSERT_TRUE(all) << "the scan of the home waits on the share";
    EXPECT_EQ(share.slowCallsBegun(), 0U);

    for (const auto& result : {*leftOut, *all}) {
        auto seen = names(result.root);
        std::ranges::sort(seen);
        EXPECT_EQ(seen, (std::vector<std::string>{".config", "Music"})) << "folders that hold files";
        EXPECT_EQ(result.scannedEntries, 7) << "the home, .config and its file, Music and its file, "
                                               "the link Downloads and the mount point Documents";
        EXPECT_EQ(result.inaccessibleEntries, 0);
    }
}

// Visits come in one order, so a folder whose listing hangs holds back every
// visit after it. The progress still shows what the other readers found
// beyond it, and the scan stops at once.
TEST(DiskScan, ProgressCountsWhatIsFoundBeyondAFolderThatHangs)
{
    const TempDir dir;
    testing::SlowTree tree;
    tree.folders = {"held"};
    tree.slowList = {"held"};
    for (int i = 0; i < 6; ++i) tree.files.emplace_back("f" + std::to_string(i) + "/file", 4'096);
    testing::SlowMount mount(dir.path() / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    std::mutex lock;
    DiskScanProgress latest;
    const auto progress = [&] {
        const std::lock_guard guard(lock);
        return latest;
    };
    std::stop_source stop;
    auto scanned = std::async(std::launch::async, [&] {
        const auto keep = [&](const DiskScanProgress& report) {
            const std::lock_guard guard(lock);
            latest = report;
        };
        return DiskScanner::scan(mount.path().string(), true, 6, 14, {}, keep, stop.get_token(), 4);
    });
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    testing::eventually([&] { return progress().scannedFiles >= 6; }, std::chrono::seconds(10));
    EXPECT_EQ(progress(), (DiskScanProgress{1 + 7 + 6, 6, 6 * 4'096}))
        << "the root visited; held, six folders and their files found";

    stop.request_stop();
    ASSERT_EQ(scanned.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    const auto result = scanned.get();
    EXPECT_TRUE(result.cancelled);
    EXPECT_EQ(progress(), (DiskScanProgress{1, 0, 0})) << "the last report: what was visited";
}

}  // namespace
}  // namespace corvalent

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>

#include "core/disk/disk_insights.h"
#include "core/common/paths.h"
#include "core/process/process_disk_owner.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using C = DiskCleanupCategory;
using S = DiskCleanupSafety;

constexpr std::string_view anaHome = "/home/ana";

struct Case {
    std::string path;
    C category;
    S safety;
    std::vector<std::string> owners = {};
};

TEST(DiskInsightsClassify, RulesAndProtectedLocations)
{
    const std::string h(anaHome);
    const Paths::Home home(anaHome);
    const std::vector<Case> cases{
        // Protected places come before every rule: the home's cache folder itself is no cache.
        {h + "/Library/Caches", C::system, S::protected_},
        {h + "/Library/Caches/com.example.app", C::cache, S::safe},
        {"/Library/Caches", C::cache, S::safe},
        {h + "/Library/Caches/com.example.app", C::cache, S::review, {"B", "A", "B"}},
        {h + "/Downloads/setup.dmg", C::downloads, S::review},
        {"/tmp/x.DMG", C::installer, S::review},
        {h + "/Library/Caches/app/store.sqlite", C::database, S::protected_},
        {h + "/Library/Mobile Documents/com~apple~CloudDocs/a.txt", C::cloud, S::protected_},
        {"/Applications/Tool.app", C::application, S::review},
        {"/Applications/Tool.app/Contents/MacOS/Tool", C::application, S::protected_},
        {"/Applications/Tool.APP", C::other, S::review},
        {h + "/Library/Developer/CoreSimulator/Devices/x", C::developer, S::protected_},
        {h + "/Library/Developer/Xcode/DerivedData/App-abc", C::developer, S::review},
        {h + "/notes/big.bin", C::personal, S::review},
        {"/data/big.bin", C::other, S::review},
        {h + "/a/../Library/Caches/x/", C::cache, S::safe},
        // Linux counterparts.
        {"/var/lib/docker/overlay", C::system, S::protected_},
        {"/home/bob/file", C::system, S::protected_},
        {h, C::system, S::protected_},
        {h + "/.cache/pip/wheels", C::cache, S::safe},
        {h + "/.ssh/id_ed25519", C::system, S::protected_},
        {"/media/usb/.Trash-1000/files/x", C::system, S::protected_},
        {h + "/.local/share/containers/storage/x", C::container, S::protected_},
    };
    for (const auto& c : cases) {
        const auto candidate = DiskInsights::classify(c.path, 7, false, c.owners, home);
        EXPECT_EQ(candidate.category, c.category) << c.path;
        EXPECT_EQ(candidate.safety, c.safety) << c.path;
    }

    const auto owned = DiskInsights::classify(h + "/Library/Caches/x", 1, true, {"B", "A", "B"}, home);
    EXPECT_EQ(owned.activeOwners, (std::vector<std::string>{"A", "B"}));
    EXPECT_EQ(owned.reason, "A running app may be using this cache.");
    const auto standardized = DiskInsights::classify(h + "/a/../b/", 1, true, {}, home);
    EXPECT_EQ(standardized.path, h + "/b");
    EXPECT_EQ(standardized.reason, "This folder is large enough to review.");
    EXPECT_EQ(DiskInsights::classify("/data/f", 1, false, {}, home).reason, "This is one of the largest measured files.");
}

DiskProcessOwner owner(std::string id, std::string name, std::optional<std::string> app,
                       std::vector<std::string> folders = {})
{
    return DiskProcessOwner{std::move(id), std::move(name), std::move(app), std::move(folders), 100, 1.5};
}

TEST(DiskInsightsOwners, MatchingByApplicationAndWorkingFolder)
{
    const std::vector<DiskProcessOwner> owners{
        owner("app:editor", "Editor", "/Applications/Editor.app"),
        owner("app:mail", "Mail", "/Applications/Mail.app"),
        owner("app:qt", "Qt", "/Applications/Qt.app"),
        owner("dev", "node", std::nullopt, {"/Users/me/project"}),
    };
    const auto ids = [&](std::string_view path) {
        std::vector<std::string> matched;
        for (const auto& o : DiskInsights::matchingOwners(path, owners)) matched.push_back(o.id);
        return matched;
    };
    EXPECT_EQ(ids("/Applications/Editor.app/Contents"), std::vector<std::string>{"app:editor"});
    EXPECT_EQ(ids("/Users/me/Library/Containers/com.apple.mail"), std::vector<std::string>{"app:mail"});
    EXPECT_EQ(ids("/Users/me/Library/Caches/qt"), std::vector<std::string>{}) << "too short a name";
    EXPECT_EQ(ids("/Users/me/project/node_modules"), std::vector<std::string>{"dev"});
    EXPECT_EQ(ids("/Users/me"), std::vector<std::string>{"dev"}) << "a folder holding the working folder";
    EXPECT_EQ(ids("/Users/me/project-old"), std::vector<std::string>{});

    ProcessGroup group;
    group.id = "g";
    group.title = "Tool";
    for (const char* cwd : {"/b", "/", "", "/a", "/b"}) {
        ProcessRecord member;
        member.cwd = cwd;
        group.members.push_back(member);
    }
    EXPECT_EQ(diskProcessOwner(group).workingDirectories, (std::vector<std::string>{"/a", "/b"}));
}

// The desktop session, its shells and terminals work in the home folder:
// such a folder, or one above it, would claim everything in the home.
TEST(DiskInsightsOwners, WorkingFoldersThatHoldTheHomeClaimNothing)
{
    const testing::TempDir dir;
    const auto base = fs::canonical(dir.path());
    const auto home = base / "real" / "ana";
    fs::create_directories(home / "project");
    fs::create_directory_symlink(base / "real", base / "link");

    ProcessGroup group;
    group.id = "g";
    group.title = "Session";
    for (const auto& cwd :
         std::vector<std::string>{home.string(), home.string() + "/", (base / "real").string(), base.string(), "/", "",
                                  (home / "project").string(), (base / "real" / "anabel").string(), "/srv/www"}) {
        ProcessRecord member;
        member.cwd = cwd;
        group.members.push_back(member);
    }
    std::vector<std::string> below{(base / "real" / "anabel").string(), (home / "project").string(), "/srv/www"};
    std::ranges::sort(below);
    EXPECT_EQ(diskProcessOwner(group, Paths::Home(home.string())).workingDirectories, below);
    EXPECT_EQ(diskProcessOwner(group, Paths::Home((base / "link" / "ana").string())).workingDirectories, below)
        << "a home named through a link is compared where it really is";
}

// A generated home folder with a project and an application's cache, scanned for real.
class OwnedHome : public ::testing::Test {
protected:
    testing::TempDir home;
    std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";

    void SetUp() override { ::setenv("HOME", home.path().c_str(), 1); }
    void TearDown() override { ::setenv("HOME", savedHome.c_str(), 1); }

    DiskScanResult scan(const std::vector<DiskProcessOwner>& owners)
    {
        return DiskScanner::scan(home.path().string(), true, 6, 14, owners, {});
    }
};

TEST_F(OwnedHome, OwnersGetTheirProjectAndCacheStorage)
{
    const auto root = home.path();
    testing::writeFile(root / "projects/shop/src/a.js", 40'000);
    testing::writeFile(root / "projects/shop/src/b.js", 8'000);
    testing::writeFile(root / ".cache/shop/blob", 100'000);
    testing::writeFile(root / "Library/Caches/Shop/c", 20'000);
    testing::writeFile(root / "elsewhere/x", 5'000);
    const auto shop = owner("shop", "Shop", std::nullopt, {(root / "projects/shop").string()});
    const auto climber = owner("dots", "..", std::nullopt);
    const auto result = scan({shop, climber});

    ASSERT_EQ(result.ownerStorage.size(), 1U) << "a \"..\" owner claims nothing";
    const auto& storage = result.ownerStorage[0];
    EXPECT_EQ(storage.id, "shop");
    std::map<DiskOwnerStorageKind, DiskOwnerStorageSegment> segments;
    for (const auto& segment : storage.segments) segments[segment.kind] = segment;
    ASSERT_EQ(segments.count(DiskOwnerStorageKind::project), 1U);
    EXPECT_EQ(segments[DiskOwnerStorageKind::project].fileCount, 2);
    EXPECT_EQ(segments[DiskOwnerStorageKind::project].bytes,
              result.root.node((root / "projects/shop").string())->bytes);
    ASSERT_EQ(segments.count(DiskOwnerStorageKind::cache), 1U);
    EXPECT_EQ(segments[DiskOwnerStorageKind::cache].fileCount, 2) << ".cache/shop and Library/Caches/Shop";
    EXPECT_EQ(storage.segments.front().kind, DiskOwnerStorageKind::cache) << "largest segment first";

    const auto summaries = DiskInsights::activeStorageSummaries(result.ownerStorage, {}, {shop});
    ASSERT_EQ(summaries.size(), 1U);
    EXPECT_EQ(summaries[0].linkedBytes, storage.bytes());
    EXPECT_EQ(summaries[0].linkedItems, 4);
    EXPECT_TRUE(DiskInsights::activeStorageSummaries(result.ownerStorage, {}, {}).empty());
}

// Files of a folder come before and after its subfolders' files, and an
// owner's program is itself a file: each file counts once for every owner
// whose path holds it.
TEST_F(OwnedHome, NestedOwnersAndAProgramFileCountEachFileOnce)
{
    const auto root = home.path();
    for (int i = 0; i < 30; ++i) {
        testing::writeFile(root / "work" / ("top" + std::to_string(i)), 4'096);
        testing::writeFile(root / "work" / ("sub" + std::to_string(i)) / "inner/file", 4'096);
    }
    testing::writeFile(root / "bin/tool", 8'192);
    testing::writeFile(root / "bin/other", 8'192);
    const auto outer = owner("outer", "Outer", std::nullopt, {(root / "work").string()});
    const auto inner = owner("inner", "Inner", std::nullopt, {(root / "work/sub7").string()});
    const auto tool = owner("tool", "Tool", (root / "bin/tool").string());
    const auto result = scan({outer, inner, tool});

    std::map<std::string, std::pair<std::int64_t, std::uint64_t>> counted;
    for (const auto& storage : result.ownerStorage) counted[storage.id] = {storage.fileCount(), storage.bytes()};
    ASSERT_EQ(counted.size(), 3U);
    EXPECT_EQ(counted["outer"].first, 60);
    EXPECT_EQ(counted["outer"].second, result.root.node((root / "work").string())->bytes);
    EXPECT_EQ(counted["inner"].first, 1);
    EXPECT_EQ(counted["tool"].first, 1) << "the program, not its neighbour";
    EXPECT_GT(counted["tool"].second, 0U);
}

// What a moved item took with it: the storage a scan counted for its files.
TEST_F(OwnedHome, AMovedItemLeavesItsOwnersStorage)
{
    const auto root = home.path();
    testing::writeFile(root / "projects/shop/src/a.js", 40'000);
    testing::writeFile(root / "projects/shop/src/b.js", 8'000);
    testing::writeFile(root / ".cache/shop/blob", 100'000);
    const auto shop = owner("shop", "Shop", std::nullopt, {(root / "projects/shop").string()});
    const auto result = scan({shop});
    ASSERT_EQ(result.ownerStorage.size(), 1U);
    const auto kinds = [](const std::vector<DiskOwnerStorage>& storage) {
        std::map<DiskOwnerStorageKind, std::pair<std::uint64_t, std::int64_t>> found;
        for (const auto& entry : storage)
            for (const auto& segment : entry.segments) found[segment.kind] = {segment.bytes, segment.fileCount};
        return found;
    };
    using K = DiskOwnerStorageKind;
    const auto fileA = testing::allocatedBytes(root / "projects/shop/src/a.js");
    const auto fileB = testing::allocatedBytes(root / "projects/shop/src/b.js");
    const auto blob = testing::allocatedBytes(root / ".cache/shop/blob");

    const auto oneFile = DiskScanner::ownerStorage((root / "projects/shop/src/a.js").string(), {shop});
    EXPECT_EQ(kinds(oneFile), (std::map<K, std::pair<std::uint64_t, std::int64_t>>{{K::project, {fileA, 1}}}));
    EXPECT_EQ(kinds(remainingStorage(result.ownerStorage, oneFile)),
              (std::map<K, std::pair<std::uint64_t, std::int64_t>>{{K::project, {fileB, 1}}, {K::cache, {blob, 1}}}));

    const auto project = DiskScanner::ownerStorage((root / "projects").string(), {shop});
    EXPECT_EQ(kinds(project), (std::map<K, std::pair<std::uint64_t, std::int64_t>>{{K::project, {fileA + fileB, 2}}}))
        << "a folder that holds the working folder";
    EXPECT_EQ(kinds(remainingStorage(result.ownerStorage, project)),
              (std::map<K, std::pair<std::uint64_t, std::int64_t>>{{K::cache, {blob, 1}}}))
        << "a kind without files drops out";
    auto everything = project;
    for (const auto& entry : DiskScanner::ownerStorage((root / ".cache/shop").string(), {shop}))
        everything.push_back(entry);
    EXPECT_TRUE(remainingStorage(result.ownerStorage, everything).empty()) << "an owner without files drops out";
    EXPECT_TRUE(DiskScanner::ownerStorage((root / "projects").string(), {}).empty());
    EXPECT_TRUE(DiskScanner::ownerStorage((root / "elsewhere").string(), {shop}).empty()) << "nothing there";
}

TEST_F(OwnedHome, CandidatesFromAScan)
{
    const auto root = home.path();
    testing::writeFile(root / ".cache/tool/big", 3'000'000);
    testing::writeFile(root / ".cache/tool/small", 100'000);
    testing::writeFile(root / "Downloads/setup.zip", 2'000'000);
    testing::writeFile(root / "notes/huge.bin", 4'000'000);
    const auto result = scan({});

    EXPECT_TRUE(DiskInsights::candidates(result, {}, 0).empty());
    const auto list = DiskInsights::candidates(result, {}, 80);
    std::vector<std::string> paths;
    for (const auto& candidate : list) paths.push_back(candidate.path);
    const auto at = [&](const fs::path& p) { return std::find(paths.begin(), paths.end(), p.string()); };
    // The cache folder is offered (safe, first) and the file inside it is not offered again.
    ASSERT_NE(at(root / ".cache/tool"), paths.end());
    EXPECT_EQ(list.front().path, (root / ".cache/tool").string());
    EXPECT_EQ(list.front().safety, S::safe);
    EXPECT_EQ(at(root / ".cache/tool/big"), paths.end());
    // A personal folder is never offered, a large file in it is.
    EXPECT_EQ(at(root / "notes"), paths.end());
    EXPECT_NE(at(root / "notes/huge.bin"), paths.end());
    for (const auto& candidate : list) {
        EXPECT_FALSE(candidate.path.ends_with(directFilesSuffix)) << "pseudo-children are never candidates";
        EXPECT_NE(candidate.path, root.string()) << "the root is never a candidate";
        // It moves only while it is the item the scan measured.
        struct stat info {};
        ASSERT_TRUE(candidate.scanned && ::lstat(candidate.path.c_str(), &info) == 0) << candidate.path;
        EXPECT_EQ(candidate.scanned->inode, info.st_ino);
        EXPECT_EQ(candidate.scanned->isDirectory, candidate.isDirectory);
    }
}

// A home reached through a link, as where /home is a link to /var/home: a
// scan's paths are where the files really are, and the home's rules hold
// there. The Trash's copy and its info file are never offered; the copy in
// Documents is a personal file, and a running tool's cache is its own.
TEST(DiskInsightsClassify, AHomeReachedThroughALinkIsTheHomeWhereItReallyIs)
{
    const testing::TempHome linked(testing::TempHome::Reached::throughLink);
    const testing::ScopedVariable dataHome("XDG_DATA_HOME", "");  // the home Trash under ~/.local/share
    const auto& home = linked.home;
    const auto trash = home / ".local/share/Trash";
    testing::writeFile(home / "Documents/X.pdf", 3'000'000);
    testing::writeFile(trash / "files/X.pdf", 3'000'000);
    testing::writeFile(trash / "info/X.pdf.trashinfo", 100);
    testing::writeFile(home / ".cache/tool/blob", 2'000'000);
    const auto tool = owner("tool", "Tool", std::nullopt);
    const auto result = DiskScanner::scan(std::getenv("HOME"), true, 6, 14, {tool}, {});
    ASSERT_EQ(result.root.path, home.string()) << "scanned where it really is";

    std::map<std::string, DiskCleanupCandidate> listed;
    for (const auto& candidate : DiskInsights::candidates(result, {tool}, 80)) listed[candidate.path] = candidate;
    const auto at = [&](const fs::path& path) {
        const auto found = listed.find(path.string());
        EXPECT_NE(found, listed.end()) << path;
        return found == listed.end() ? std::pair(C::other, S::review)
                                     : std::pair(found->second.category, found->second.safety);
    };
    EXPECT_EQ(at(trash / "files/X.pdf"), std::pair(C::system, S::protected_));
    EXPECT_EQ(at(trash / "info/X.pdf.trashinfo"), std::pair(C::system, S::protected_));
    EXPECT_EQ(at(home / "Documents/X.pdf"), std::pair(C::personal, S::review));
    EXPECT_EQ(at(home / ".cache/tool"), std::pair(C::cache, S::safe)) << "the home's cache";
    EXPECT_EQ(DiskInsights::classify(home.string(), 1, true, {}).safety, S::protected_) << "the home itself";

    ASSERT_EQ(result.ownerStorage.size(), 1U) << "the tool's cache in the home";
    EXPECT_EQ(result.ownerStorage[0].segments.front().kind, DiskOwnerStorageKind::cache);
}

// A home below /var, reached through a link (/home a link to /var/home): in
// either spelling, what is in it is judged as in any home; the rest of /var
// stays protected.
TEST(DiskInsightsClassify, AHomeBelowVarIsJudgedAsAHome)
{
    const testing::TempDir var("/var/tmp");
    const testing::TempDir elsewhere;
    const auto real = fs::canonical(var.path()) / "home" / "u";
    fs::create_directories(real);
    fs::create_directory_symlink(real.parent_path(), elsewhere.path() / "home");
    const auto named = elsewhere.path() / "home" / "u";
    const Paths::Home home(named.string());
    ASSERT_EQ(home.real(), real.string());

    for (const auto& spelling : {named, real}) {
        const auto at = [&](const std::string& below) {
            const auto candidate = DiskInsights::classify((spelling / below).string(), 7, false, {}, home);
            return std::pair(candidate.category, candidate.safety);
        };
        EXPECT_EQ(at("Downloads/big.iso"), std::pair(C::downloads, S::review)) << spelling;
        EXPECT_EQ(at("notes/big.bin"), std::pair(C::personal, S::review)) << spelling;
        EXPECT_EQ(at(".ssh/id_ed25519"), std::pair(C::system, S::protected_)) << spelling;
        EXPECT_EQ(DiskInsights::classify(spelling.string(), 7, true, {}, home).safety, S::protected_) << spelling;
    }
    for (const auto& other : {real.parent_path() / "v/Downloads/big.iso", var.path() / "big.iso", real.parent_path()})
        EXPECT_EQ(DiskInsights::classify(other.string(), 7, false, {}, home).safety, S::protected_) << other;
}

// A home that is /var itself, named so or reached through a link: all of
// /var stays protected, its home rules notwithstanding.
TEST(DiskInsightsClassify, AHomeThatIsVarItselfLeavesVarProtected)
{
    const testing::TempDir elsewhere;
    fs::create_directory_symlink("/var", elsewhere.path() / "home");
    for (const auto& named : {std::string("/var"), (elsewhere.path() / "home").string()}) {
        const Paths::Home home(named);
        ASSERT_EQ(home.real(), "/var");
        for (const auto* below : {"/var/Downloads/big.iso", "/var/notes/big.bin", "/var/cache/tool/blob"})
            EXPECT_EQ(DiskInsights::classify(below, 7, false, {}, home).safety, S::protected_) << named << below;
    }
}

TEST(DiskInsightsPlan, RescuePlanAndReconciliation)
{
    const auto plan = DiskInsights::rescuePlan(DiskCapacity::make("v", 1'000'000'000'000, 50'000'000'000), {});
    EXPECT_EQ(plan.urgency, DiskRescueUrgency::critical);
    EXPECT_EQ(plan.targetAvailable, 100'000'000'000U);
    EXPECT_EQ(plan.bytesToTarget, 50'000'000'000U);
    const auto tight = DiskInsights::rescuePlan(DiskCapacity::make("v", 256'000'000'000, 40'000'000'000), {});
    EXPECT_EQ(tight.urgency, DiskRescueUrgency::tight);
    EXPECT_EQ(tight.targetAvailable, 38'400'000'000U);
    EXPECT_EQ(tight.bytesToTarget, 0U);
    EXPECT_EQ(DiskInsights::rescuePlan(DiskCapacity::make("v", 16'000'000'000, 1), {}).targetAvailable, 16'000'000'000U);
    const auto empty = DiskInsights::rescuePlan(DiskCapacity::make("v", 0, 0), {});
    EXPECT_EQ(empty.urgency, DiskRescueUrgency::critical);
    EXPECT_EQ(empty.projectedAvailableAfterLowRisk, 0U);

    const auto h = Paths::homeFolder();
    std::vector<DiskCleanupCandidate> candidates{
        DiskInsights::classify(h + "/Library/Caches/a", 30, true, {}, Paths::Home(h)),
        DiskInsights::classify("/data/f.bin", 20, false, {}, Paths::Home(h)),
        DiskInsights::classify("/etc/x", 1'000, false, {}, Paths::Home(h)),
        // Already in a Trash: moving it there again frees nothing.
        DiskCleanupCandidate{"/media/usb/.Trash-1000/files/big", 500, false, S::safe, C::cache, "", "", {}},
    };
    const auto withItems = DiskInsights::rescuePlan(DiskCapacity::make("v", 100, 60), candidates);
    EXPECT_EQ(withItems.lowRiskBytes, 30U);
    EXPECT_EQ(withItems.reviewBytes, 20U);
    EXPECT_EQ(withItems.projectedAvailableAfterLowRisk, 90U);
    EXPECT_EQ(DiskInsights::rescuePlan(DiskCapacity::make("v", 100, 90), candidates).projectedAvailableAfterLowRisk, 100U);
    EXPECT_FALSE(DiskInsights::rescuePlan(DiskCapacity::make("v", 100, 60), {candidates[2]}).hasOpportunities());

    DiskScanResult result;
    result.root.path = "/";
    result.root.bytes = 601;
    const DiskVolume volume{"/", "Computer", "/", DiskCapacity::make("Computer", 1'000, 400), true, false};
    const auto whole = DiskStorageReconciliation::make(result, &volume);
    EXPECT_TRUE(whole.isWholeVolume);
    EXPECT_EQ(whole.occupiedOnDisk, 600U);
    EXPECT_EQ(whole.notMeasured, 0U);
    EXPECT_EQ(whole.measuredBeyondFilesystemTotal, 1U);
    result.root.path = "/srv/data";
    const auto folder = DiskStorageReconciliation::make(result, &volume);
    EXPECT_FALSE(folder.isWholeVolume);
    EXPECT_FALSE(folder.occupiedOnDisk);
    EXPECT_FALSE(folder.notMeasured);
    EXPECT_EQ(folder.usableSpace, 400U);
}

}  // namespace
}  // namespace corvalent

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "bridge/mount_table.h"
#include "core/common/child_process.h"
#include "core/disk/disk_duplicates.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using VerificationError = DiskDuplicateVerificationError;

constexpr std::uint64_t MB = 1'000'000;

// Pseudo-random contents, the same for the same seed; `flipAt` changes one byte.
void writeContents(const fs::path& path, std::uint64_t size, std::uint32_t seed, std::uint64_t flipAt = -1)
{
    std::minstd_rand random(seed);
    std::string data(size, '\0');
    for (auto& byte : data) byte = static_cast<char>(random() >> 7);
    if (flipAt < size) data[flipAt] ^= 0x01;
    std::ofstream(path, std::ios::binary) << data;
}

// The files as a scan records them.
DiskDuplicateGroup groupOf(const std::vector<fs::path>& paths)
{
    std::vector<DiskFile> files;
    for (const auto& path : paths) {
        const auto id = DiskItemIdentity::capture(path.string());
        files.push_back({path.string(), testing::allocatedBytes(path), id.size, id.device, id.inode, false});
    }
    return DiskDuplicateGroup::make(files.front().logicalBytes, files);
}

std::string sha256sum(const fs::path& path)
{
    const auto run = runChild({.executable = "/usr/bin/sha256sum",
                               .arguments = {path.string()},
                               .deadline = std::chrono::seconds(60),
                               .stop = {}});
    if (run.exitStatus != 0 || run.output.size() < 64) throw std::runtime_error("sha256sum failed");
    return run.output.substr(0, 64);
}

// The kind and message of the error with which verifying `group` is refused, if it is.
template <typename Error = VerificationError>
std::optional<std::pair<typename Error::Kind, std::string>> refusal(const DiskDuplicateGroup& group,
                                                                    std::stop_token stop = {}, unsigned threads = 0)
{
    try {
        DiskDuplicateVerifier::verify(group, stop, threads);
    } catch (const Error& error) {
        return std::pair(error.kind(), std::string(error.what()));
    }
    return std::nullopt;
}

// The message of whatever error verifying `group` ends with; empty when it succeeds.
std::string refusalMessage(const DiskDuplicateGroup& group, std::stop_token stop, unsigned threads)
{
    try {
        DiskDuplicateVerifier::verify(group, stop, threads);
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

std::pair<VerificationError::Kind, std::string> changed(const std::string& name)
{
    return {VerificationError::Kind::changed, name + " changed while Corvalent was verifying it. Scan again."};
}

// The entry of /proc/self/fd under which this process has `path` open, if any.
std::optional<fs::path> descriptorOf(const fs::path& path)
{
    std::error_code error, linkError;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error))
        if (fs::read_symlink(it->path(), linkError) == path) return it->path();
    return std::nullopt;
}

TEST(DiskDuplicateVerifier, ProvesIdenticalContentsMostRecoverableFirstAndLeavesTheFilesAsTheyWere)
{
    TempDir dir;
    const auto a = dir.path() / "a", b = dir.path() / "b", c = dir.path() / "c", d = dir.path() / "d";
    writeContents(a, 12 * MB, 7);
    writeContents(c, 12 * MB, 7);
    for (const auto& path : {b, d}) writeContents(path, 12 * MB, 7, 11 * MB + 3);  // one byte differs, near the end
    const std::vector before{DiskRecordedIdentity::capture(a.string()), DiskRecordedIdentity::capture(c.string())};
    const auto p = sha256sum(a), q = sha256sum(b);
    EXPECT_TRUE(DiskDuplicateVerifier::verify(groupOf({a, b})).empty());

    // The allocated sizes come from the scan, and all copies but the smallest
    // count. The set whose digest sorts last is made the more recoverable, so
    // that the order is not the digests'.
    auto group = groupOf({a, b, c, d});
    std::ranges::reverse(group.files);  // the result is in path order whatever the group's order
    const bool acFirst = p > q;
    group.files[0].bytes = 4'000'000;
    group.files[2].bytes = 4'000'010;
    group.files[1].bytes = group.files[3].bytes = acFirst ? 5'000'000 : 3'000'000;
    const auto sets = DiskDuplicateVerifier::verify(group);
    ASSERT_EQ(sets.size(), 2U);
    const auto &ac = sets[acFirst ? 0 : 1], &bd = sets[acFirst ? 1 : 0];
    EXPECT_EQ(ac.id, p);
    EXPECT_EQ(ac.estimatedRecoverableBytes, acFirst ? 5'000'000U : 3'000'000U);
    EXPECT_EQ(bd.id, q);
    EXPECT_EQ(bd.estimatedRecoverableBytes, 4'000'010U);
    EXPECT_EQ(ac.files, (std::vector{group.files[3], group.files[1]}));
    EXPECT_EQ(ac.logicalBytesPerFile, 12 * MB);
    EXPECT_EQ(ac.identities, before) << "the files' own, as they were before they were read";

    // Empty files are copies of each other and recover nothing; an empty group gives nothing.
    for (const char* name : {"one", "two"}) std::ofstream(dir.path() / name).close();
    const auto empty = DiskDuplicateVerifier::verify(groupOf({dir.path() / "one", dir.path() / "two"}));
    ASSERT_EQ(empty.size(), 1U);
    EXPECT_EQ(empty[0].estimatedRecoverableBytes, 0U);
    EXPECT_TRUE(DiskDuplicateVerifier::verify(DiskDuplicateGroup{}).empty());
}

TEST(DiskDuplicateVerifier, RefusesTheWholeGroupWhenAFileIsNotAsScanned)
{
    TempDir dir;
    const auto a = dir.path() / "a.bin", b = dir.path() / "b.bin";
    for (const auto& path : {a, b}) writeContents(path, 1 * MB, 3);
    const auto group = groupOf({a, b});

    // Gone since the scan: the error of the identity capture, unchanged.
    fs::rename(b, dir.path() / "moved.bin");
    EXPECT_EQ(refusal<DiskTrashError>(group),
              std::pair(DiskTrashError::Kind::unavailable, "“b.bin” is no longer in “" + dir.path().string() + "”."));

    // A link is never followed, even to an identical file.
    fs::create_symlink(a, b);
    EXPECT_EQ(refusal<DiskTrashError>(group),
              std::pair(DiskTrashError::Kind::symbolicLink,
                        std::string("Corvalent does not move symbolic links or items reached through them.")));

    // Swapped for another file of the same contents (the moved one keeps its
    // inode), then for one of another size: neither is the file the scan saw.
    for (const std::uint64_t size : {1 * MB, 1 * MB + 1}) {
        fs::remove(b);
        writeContents(b, size, 3);
        EXPECT_EQ(refusal(group), changed("b.bin")) << size;
    }
}

// One thread, and more threads than any group here has files.
constexpr std::array threadCounts{1U, 2U, 8U};

TEST(DiskDuplicateVerifier, ReadingFilesSideBySideFindsTheSameSetsAsReadingThemOneByOne)
{
    TempDir dir;
    // Three copies, two copies, and three single files, one of which differs
    // from another only in its last byte; the size is no multiple of a read.
    const std::vector<std::pair<const char*, std::uint32_t>> contents{{"a", 1}, {"b", 1}, {"c", 2}, {"d", 1}, {"e", 3},
                                                                      {"f", 2}, {"g", 4}, {"h", 4}, {"i", 5}};
    std::vector<fs::path> paths;
    for (const auto& [name, seed] : contents) {
        paths.push_back(dir.path() / name);
        writeContents(paths.back(), 3 * MB + 17, seed, name == std::string("h") ? 3 * MB + 16 : -1);
    }
    auto group = groupOf(paths);
    const auto oneByOne = DiskDuplicateVerifier::verify(group, {}, 1);
    ASSERT_EQ(oneByOne.size(), 2U);
    const auto names = [](const DiskVerifiedDuplicateSet& set) {
        std::vector<std::string> result;
        for (const auto& file : set.files) result.emplace_back(file.name());
        return result;
    };
    EXPECT_EQ(names(oneByOne[0]), (std::vector<std::string>{"a", "b", "d"}));
    EXPECT_EQ(names(oneByOne[1]), (std::vector<std::string>{"c", "f"}));

    std::ranges::reverse(group.files);
    for (const unsigned threads : {0U, 2U, 3U, 8U, 16U}) {
        EXPECT_EQ(DiskDuplicateVerifier::verify(group, {}, threads), oneByOne) << threads << " threads";
    }
}

TEST(DiskDuplicateVerifier, TheFirstFailingFileInTheGroupsOrderIsReportedWhateverTheThreads)
{
    TempDir dir;
    const auto folder = dir.path() / "folder";
    fs::create_directory(folder);
    // Files the size a folder reports, so that the folder can stand in a group
    // as a member that opens but cannot be read.
    const auto size = DiskItemIdentity::capture(folder.string()).size;
    std::vector<fs::path> paths{folder};
    for (const char* name : {"first", "gone", "last", "link", "second"}) {
        paths.push_back(dir.path() / name);
        writeContents(paths.back(), size, 9);
    }
    const auto group = groupOf(paths);
    fs::remove(dir.path() / "gone");
    fs::remove(dir.path() / "link");
    fs::create_symlink(dir.path() / "first", dir.path() / "link");

    const auto members = [&group](std::initializer_list<std::string_view> names) {
        auto chosen = group;
        chosen.files.clear();
        for (const auto name : names)
            chosen.files.push_back(*std::ranges::find(group.files, name, [](const DiskFile& f) { return f.name(); }));
        return chosen;
    };
    const auto missing =
        std::pair(DiskTrashError::Kind::unavailable, "“gone” is no longer in “" + dir.path().string() + "”.");
    const auto linked = std::pair(DiskTrashError::Kind::symbolicLink,
                                  std::string("Corvalent does not move symbolic links or items reached through them."));
    const auto unreadable = std::pair(DiskTrashError::Kind::unavailable,
                                      "Corvalent can't read “folder” (" + std::generic_category().message(EISDIR) + ").");
    const std::vector<std::pair<DiskDuplicateGroup, std::pair<DiskTrashError::Kind, std::string>>> cases{
        {members({"first", "gone", "link", "second"}), missing},
        {members({"second", "link", "gone", "first"}), linked},
        {members({"first", "second", "folder", "last"}), unreadable},
        {members({"first", "folder", "gone", "link"}), unreadable},
    };
    // Failures come at nearly the same moment on different threads: repeated,
    // a report of whichever came first would show.
    for (const unsigned threads : threadCounts)
        for (int round = 0; round < 10; ++round)
            for (std::size_t i = 0; i < cases.size(); ++i)
                EXPECT_EQ(refusal<DiskTrashError>(cases[i].first, {}, threads), cases[i].second)
                    << "case " << i << ", " << threads << " threads";
}

// Reads cannot be paused from outside, so a watcher thread waits until the
// verifier has the file open, acts, and checks the file is still open after.
// The verifier looks at the file before opening it and again only after
// closing it, so a change made while it is open must be seen; a stop is seen
// in its reads or, at the latest, before it returns. When the watcher was too
// late the attempt proves nothing and is repeated.
TEST(DiskDuplicateVerifier, AChangeOrAStopDuringTheReadsRefusesTheGroup)
{
    TempDir dir;
    std::vector<fs::path> paths;
    for (const char* name : {"a.bin", "b.bin", "c.bin", "d.bin", "gone.bin"}) {  // zeros that take no space
        paths.push_back(dir.path() / name);
        std::ofstream(paths.back()).close();
        fs::resize_file(paths.back(), 256 * MB);
    }
    const auto& a = paths.front();
    // A file after the changed one fails at once, long before the change is
    // seen: the change, the first failure in the group's order, is reported.
    const auto withGone = groupOf({a, paths[1], paths[4]});
    fs::remove(paths[4]);
    paths.pop_back();
    const auto group = groupOf(paths);

    // Already stopped: not even a missing file is looked at.
    const auto stopped = std::pair(VerificationError::Kind::cancelled, std::string("Duplicate verification stopped."));
    std::stop_source early;
    early.request_stop();
    auto withMissing = group;
    withMissing.files.front().path = (dir.path() / "missing.bin").string();
    for (const unsigned threads : threadCounts)
        EXPECT_EQ(refusal(withMissing, early.get_token(), threads), stopped) << threads << " threads";

    int changes = 0;  // each change sets a time not set before
    for (const unsigned threads : {1U, 8U})
        for (const bool change : {true, false}) {
            bool proven = false;
            for (int attempt = 1; attempt <= 20 && !proven; ++attempt) {
                // Readers a stop left behind let go of their files soon; the
                // watcher must see this attempt's own.
                const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                while (descriptorOf(a) && std::chrono::steady_clock::now() < until) std::this_thread::yield();
                ASSERT_FALSE(descriptorOf(a)) << "a reader an earlier stop left behind still holds a.bin";
                std::stop_source source;
                std::optional<bool> stillOpen;  // after the action, once the watcher acted
                std::jthread watcher([&](std::stop_token done) {
                    for (std::optional<fs::path> descriptor; !done.stop_requested(); std::this_thread::yield())
                        if ((descriptor = descriptorOf(a))) {
                            const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000 + ++changes, 0}};
                            change ? ::utimensat(AT_FDCWD, a.c_str(), times, AT_SYMLINK_NOFOLLOW)
                                   : source.request_stop();
                            std::error_code error;
                            stillOpen = fs::read_symlink(*descriptor, error) == a;
                            return;
                        }
                });
                // Too late a watcher may even see the missing file reported.
                const auto error = refusalMessage(change ? withGone : group, source.get_token(), threads);
                watcher.request_stop();
                watcher.join();
                proven = change ? stillOpen.value_or(false) : stillOpen.has_value();
                if (!proven) continue;
                EXPECT_EQ(error, change ? changed("a.bin").second : stopped.second)
                    << threads << " threads: a change or stop went unnoticed";
            }
            EXPECT_TRUE(proven) << threads << " threads: the watcher never caught the file open";
        }
}

// A member swapped for a named pipe and back, over and over, while its group
// is verified: opening a pipe that nobody writes to would wait for a writer
// for ever. Every verification must come back, and a stop must end one.
TEST(DiskDuplicateVerifier, AMemberSwappedForANamedPipeNeverHoldsAVerificationUp)
{
    TempDir dir;
    std::vector<fs::path> paths;
    for (const char* name : {"m0", "m1", "m2", "m3"}) {
        paths.push_back(dir.path() / name);
        writeContents(paths.back(), 64 * 1024, 5);
    }
    const auto group = groupOf(paths);
    const auto& member = paths.back();
    const auto away = fs::path(member.string() + ".away");

    std::atomic<int> swaps = 0;
    std::jthread swapper([&](std::stop_token done) {
        while (!done.stop_requested()) {
            const bool swapped = ::rename(member.c_str(), away.c_str()) == 0 && ::mkfifo(member.c_str(), 0600) == 0 &&
                                 ::unlink(member.c_str()) == 0 && ::rename(away.c_str(), member.c_str()) == 0;
            if (!swapped) return;
            ++swaps;
        }
    });

    // What a verification ended with, by name; the message of anything unforeseen.
    const auto outcome = [&group, &member](std::stop_token stop) -> std::string {
        try {
            const auto sets = DiskDuplicateVerifier::verify(group, stop, 4);
            return sets.size() == 1 && sets[0].files == group.files ? "verified" : "wrong sets";
        } catch (const VerificationError& error) {
            if (std::pair(error.kind(), std::string(error.what())) == changed("m3")) return "changed";
            if (error.kind() == VerificationError::Kind::cancelled) return "cancelled";
            return error.what();
        } catch (const DiskTrashError& error) {
            // The capture before the open met the member away or the pipe in its place.
            if (error.kind() == DiskTrashError::Kind::unsupportedItem) return "not a file";
            if (error.what() == "“m3” is no longer in “" + member.parent_path().string() + "”.") return "missing";
            return error.what();
        }
    };
    std::map<std::string, int> outcomes;
    for (int round = 0; round < 1'000; ++round) ++outcomes[outcome({})];
    const std::set<std::string> expected{"verified", "changed", "missing", "not a file"};
    for (const auto& [name, count] : outcomes) EXPECT_TRUE(expected.contains(name)) << name << " (" << count << "×)";
    EXPECT_LT(outcomes["verified"], 1'000) << "the swaps never met a verification";

    // A stop ends whatever verification runs; the loop ends only through one.
    std::atomic<int> rounds = 0;
    std::map<std::string, int> beforeStop;
    std::jthread verifier([&](std::stop_token stop) {
        for (std::string last; last != "cancelled"; ++rounds) ++beforeStop[last = outcome(stop)];
    });
    ASSERT_TRUE(testing::eventually([&] { return rounds >= 100; }, std::chrono::minutes(2)));
    verifier.request_stop();
    verifier.join();
    EXPECT_EQ(beforeStop["cancelled"], 1);
    swapper.request_stop();
    swapper.join();
    EXPECT_GT(swaps.load(), 0);
    EXPECT_EQ(outcome({}), "verified") << "the member is back as it was";
}

// How many descriptors of this process are open on the mount with this id.
std::size_t descriptorsOnMount(std::uint64_t mountId)
{
    const auto wanted = "mnt_id:\t" + std::to_string(mountId) + "\n";
    std::size_t count = 0;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fdinfo", error), end; !error && it != end; it.increment(error)) {
        // A descriptor that closes before or while its entry is read counts as closed.
        const int file = ::open(it->path().c_str(), O_RDONLY | O_CLOEXEC);
        if (file < 0) continue;
        const auto text = readMountInfo(file);  // the whole of a small /proc file
        ::close(file);
        count += text && text->find(wanted) != std::string::npos;
    }
    return count;
}

// A member on a hung mount: its read, or the look before its open, takes 30 s.
// A stop ends the verification long before that; the blocked reader ends on
// its own once the mount goes, and lets go of the file.
TEST(DiskDuplicateVerifier, AStopEndsAVerificationWhoseMemberWaitsOnAHungMount)
{
    using namespace std::chrono_literals;
    for (const bool slowRead : {true, false})
        for (const unsigned threads : {1U, 3U}) {
            const auto what = std::to_string(threads) + " threads, slow " + (slowRead ? "read" : "stat");
            TempDir dir;
            testing::SlowTree tree;
            tree.files = {{"a.bin", 256 * 1024}, {"b.bin", 256 * 1024}, {"c.bin", 256 * 1024}};
            (slowRead ? tree.slowRead : tree.slowStat) = {"b.bin"};
            testing::SlowMount mount(dir.path() / "mnt", tree);
            if (!mount.mounted()) GTEST_SKIP() << mount.problem();

            // As a scan would record them, without looking at the slow member.
            DiskDuplicateGroup group;
            for (const char* name : {"a.bin", "b.bin", "c.bin"})
                group.files.push_back({(mount.path() / name).string(), 256 * 1024, 256 * 1024, 0, 0, false});
            group.logicalBytesPerFile = 256 * 1024;

            std::stop_source stop;
            std::jthread stopper([&] {
                EXPECT_TRUE(mount.waitForSlowCalls(1)) << what;
                stop.request_stop();
            });
            const auto start = std::chrono::steady_clock::now();
            EXPECT_EQ(refusalMessage(group, stop.get_token(), threads), "Duplicate verification stopped.") << what;
            EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << what;
            stopper.join();

            // The reader blocked in the read still holds its file; once the
            // mount goes, its read fails and it closes the file.
            struct statx root {};
            ASSERT_EQ(::statx(AT_FDCWD, mount.path().c_str(), 0, STATX_MNT_ID, &root), 0);
            if (slowRead) {
                EXPECT_GE(descriptorsOnMount(root.stx_mnt_id), 1U) << what;
            }
            mount.unmount();
            EXPECT_TRUE(testing::eventually([&] { return descriptorsOnMount(root.stx_mnt_id) == 0; })) << what;
        }
}

// A member that was not there when it was opened is not the file the scan
// saw, even when it is back by the look after: the group changed.
TEST(DiskDuplicateVerifier, AMemberMissingWhenOpenedIsAChangeEvenWhenItIsBack)
{
    TempDir dir;
    testing::SlowTree tree;
    tree.files = {{"a.bin", 64 * 1024}, {"b.bin", 64 * 1024}};
    tree.goneAtOpen = {"b.bin"};
    testing::SlowMount mount(dir.path() / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    const auto b = mount.path() / "b.bin";
    ASSERT_NO_THROW(DiskItemIdentity::capture(b.string())) << "looked at, it is there";
    for (const unsigned threads : threadCounts)
        EXPECT_EQ(refusalMessage(groupOf({mount.path() / "a.bin", b}), {}, threads), changed("b.bin").second)
            << threads << " threads";
}

TEST(DiskDuplicateVerifiedSet, RecoverableBytesSaturateAndUnpairedIdentitiesAreLeftOut)
{
    const std::array<unsigned char, 32> digest{};
    const auto file = [](std::string path, std::uint64_t bytes) { return DiskFile{std::move(path), bytes, 1, 1, 0, false}; };
    constexpr auto most = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(DiskVerifiedDuplicateSet::make(digest, {file("/a", most), file("/b", 5), file("/c", 9)}, {})
                  .estimatedRecoverableBytes,
              most - 5);
    EXPECT_EQ(DiskVerifiedDuplicateSet::make(digest, {}, {}).logicalBytesPerFile, 0U);

    // Rather than misattributed, identities that cannot be paired are dropped: the set cannot be acted on.
    const auto unpaired =
        DiskVerifiedDuplicateSet::make(digest, {file("/b", 1), file("/a", 1)}, {{.identity = {.path = "/b"}}});
    EXPECT_EQ(unpaired.files, (std::vector{file("/a", 1), file("/b", 1)}));
    EXPECT_TRUE(unpaired.identities.empty());
}

}  // namespace
}  // namespace corvalent

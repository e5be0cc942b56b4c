#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/child_process.h"
#include "core/disk_duplicates.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

constexpr std::uint64_t MB = 1'000'000;
constexpr std::string_view emptySha256 = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

// Pseudo-random contents, the same for the same seed; `flipAt` changes one byte.
void writeContents(const fs::path& path, std::uint64_t size, std::uint32_t seed,
                   std::optional<std::uint64_t> flipAt = std::nullopt)
{
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    std::uint32_t state = seed * 2'654'435'761U + 1;
    for (std::uint64_t written = 0; written < size;) {
        chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(size - written, 65'536)));
        for (auto& byte : chunk) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            byte = static_cast<char>(state & 0xff);
        }
        if (flipAt && *flipAt >= written && *flipAt < written + chunk.size())
            chunk[static_cast<std::size_t>(*flipAt - written)] ^= 0x01;
        out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        written += chunk.size();
    }
}

// A file of zeros that takes no space: cheap to make at any size.
void writeSparse(const fs::path& path, std::uint64_t size)
{
    std::ofstream(path, std::ios::binary).close();
    fs::resize_file(path, size);
}

// The file as a scan records it.
DiskFile scanned(const fs::path& path)
{
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) throw std::runtime_error("cannot stat " + path.string());
    return DiskFile{path.string(),
                    static_cast<std::uint64_t>(info.st_blocks) * 512,
                    static_cast<std::uint64_t>(info.st_size),
                    static_cast<std::uint64_t>(info.st_dev),
                    static_cast<std::uint64_t>(info.st_ino),
                    false};
}

DiskDuplicateGroup groupOf(const std::vector<fs::path>& paths)
{
    std::vector<DiskFile> files;
    for (const auto& path : paths) files.push_back(scanned(path));
    return DiskDuplicateGroup::make(files.front().logicalBytes, files);
}

std::string sha256sum(const fs::path& path)
{
    ChildRunRequest request;
    request.executable = "/usr/bin/sha256sum";
    request.arguments = {path.string()};
    request.deadline = std::chrono::seconds(60);
    const auto run = runChild(request);
    if (run.exitStatus != 0 || run.output.size() < 64) throw std::runtime_error("sha256sum failed");
    return run.output.substr(0, 64);
}

std::vector<std::string> pathsOf(const DiskVerifiedDuplicateSet& set)
{
    std::vector<std::string> paths;
    for (const auto& file : set.files) paths.push_back(file.path);
    return paths;
}

template <typename Error, typename Work>
std::optional<Error> thrownBy(Work work)
{
    try {
        work();
    } catch (const Error& error) {
        return error;
    }
    return std::nullopt;
}

// The descriptor number under which this process has `path` open, if any.
std::optional<std::string> openDescriptor(const fs::path& path)
{
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error)) {
        std::error_code linkError;
        if (fs::read_symlink(it->path(), linkError) == path) return it->path().filename().string();
    }
    return std::nullopt;
}

bool stillOpen(const std::string& descriptor, const fs::path& path)
{
    std::error_code error;
    return fs::read_symlink(fs::path("/proc/self/fd") / descriptor, error) == path;
}

// Runs `action` from another thread once `verify` has `path` open, and tells
// whether the file was still open after the action, that is, whether the
// action certainly fell inside the file's read.
struct WatchedRun {
    bool actedWhileOpen = false;
    bool acted = false;
};

WatchedRun runWhileOpen(const fs::path& path, const std::function<void()>& verify, const std::function<void()>& action)
{
    WatchedRun result;
    std::jthread watcher([&](std::stop_token done) {
        while (!done.stop_requested()) {
            if (const auto descriptor = openDescriptor(path)) {
                action();
                result.acted = true;
                result.actedWhileOpen = stillOpen(*descriptor, path);
                return;
            }
            std::this_thread::yield();
        }
    });
    verify();
    watcher.request_stop();
    watcher.join();
    return result;
}

TEST(DiskDuplicateVerifier, ProvesIdenticalContentsAndLeavesTheFilesAsTheyWere)
{
    TempDir dir;
    const auto a = dir.path() / "a.bin";
    const auto b = dir.path() / "b.bin";
    writeContents(a, 12 * MB, 1);
    writeContents(b, 12 * MB, 1);
    const auto expectedBefore =
        std::vector<DiskItemIdentity>{DiskItemIdentity::capture(a.string()), DiskItemIdentity::capture(b.string())};

    auto group = groupOf({a, b});
    std::swap(group.files[0], group.files[1]);  // the result is in path order whatever the group's order
    const auto sets = DiskDuplicateVerifier::verify(group);

    ASSERT_EQ(sets.size(), 1U);
    const auto& set = sets[0];
    EXPECT_EQ(set.id, sha256sum(a));
    EXPECT_EQ(pathsOf(set), (std::vector<std::string>{a.string(), b.string()}));
    EXPECT_EQ(set.logicalBytesPerFile, 12 * MB);
    EXPECT_EQ(set.estimatedRecoverableBytes, testing::allocatedBytes(a) + testing::allocatedBytes(b) -
                                                 std::min(testing::allocatedBytes(a), testing::allocatedBytes(b)));
    // The identities are the files' own, and reading changed nothing about them.
    EXPECT_EQ(set.identities, expectedBefore);
    EXPECT_EQ(DiskItemIdentity::capture(b.string()), expectedBefore[1]);
}

TEST(DiskDuplicateVerifier, GroupsOnlyFilesWithTheSameContent)
{
    TempDir dir;
    const auto a = dir.path() / "a.bin";
    const auto b = dir.path() / "b.bin";
    const auto c = dir.path() / "c.bin";
    writeContents(a, 12 * MB, 7);
    writeContents(b, 12 * MB, 7, 11 * MB + 3);  // one byte differs, near the end
    EXPECT_TRUE(DiskDuplicateVerifier::verify(groupOf({a, b})).empty());

    writeContents(c, 12 * MB, 7);
    const auto sets = DiskDuplicateVerifier::verify(groupOf({a, b, c}));
    ASSERT_EQ(sets.size(), 1U);
    EXPECT_EQ(pathsOf(sets[0]), (std::vector<std::string>{a.string(), c.string()}));
    EXPECT_EQ(sets[0].id, sha256sum(c));
    ASSERT_EQ(sets[0].identities.size(), 2U);
    EXPECT_EQ(sets[0].identities[1].path, c.string());
}

TEST(DiskDuplicateVerifier, SeparatesPairsAndPutsTheMoreRecoverableFirst)
{
    TempDir dir;
    std::vector<fs::path> paths;
    for (const char* name : {"p1", "p2", "q1", "q2"}) paths.push_back(dir.path() / name);
    writeContents(paths[0], 3 * MB, 21);
    writeContents(paths[1], 3 * MB, 21);
    writeContents(paths[2], 3 * MB, 22);
    writeContents(paths[3], 3 * MB, 22);
    const auto p = sha256sum(paths[0]);
    const auto q = sha256sum(paths[2]);
    ASSERT_NE(p, q);

    // The allocated sizes come from the scan: give the pair whose digest sorts
    // last the larger figure, so that the order is not the digests'. One copy
    // of the other pair takes a little more: all copies but the smallest count.
    const auto later = p > q ? std::vector<fs::path>{paths[0], paths[1]} : std::vector<fs::path>{paths[2], paths[3]};
    auto group = groupOf(paths);
    bool firstOfEarlier = true;
    for (auto& file : group.files) {
        if (file.path == later[0].string() || file.path == later[1].string()) {
            file.bytes = 5'000'000;
        } else {
            file.bytes = firstOfEarlier ? 4'000'010 : 4'000'000;
            firstOfEarlier = false;
        }
    }

    const auto sets = DiskDuplicateVerifier::verify(group);
    ASSERT_EQ(sets.size(), 2U);
    EXPECT_EQ(sets[0].id, std::max(p, q));
    EXPECT_EQ(sets[0].estimatedRecoverableBytes, 5'000'000U);
    EXPECT_EQ(sets[1].id, std::min(p, q));
    EXPECT_EQ(sets[1].estimatedRecoverableBytes, 4'000'010U);
    EXPECT_EQ(pathsOf(sets[0]), (std::vector<std::string>{later[0].string(), later[1].string()}));
}

TEST(DiskDuplicateVerifier, EmptyFilesHashAsEmptyInputAndRecoverNothing)
{
    TempDir dir;
    std::ofstream(dir.path() / "one").close();
    std::ofstream(dir.path() / "two").close();
    const auto sets = DiskDuplicateVerifier::verify(groupOf({dir.path() / "one", dir.path() / "two"}));
    ASSERT_EQ(sets.size(), 1U);
    EXPECT_EQ(sets[0].id, emptySha256);
    EXPECT_EQ(sets[0].estimatedRecoverableBytes, 0U);
    EXPECT_EQ(sets[0].logicalBytesPerFile, 0U);
    EXPECT_TRUE(DiskDuplicateVerifier::verify(DiskDuplicateGroup{}).empty());
}

TEST(DiskDuplicateVerifier, RefusesTheWholeGroupWhenAFileIsNotAsScanned)
{
    TempDir dir;
    const auto a = dir.path() / "a.bin";
    const auto b = dir.path() / "b.bin";
    writeContents(a, 1 * MB, 3);
    writeContents(b, 1 * MB, 3);
    const auto group = groupOf({a, b});

    // Gone since the scan: the error of the identity capture, unchanged.
    fs::rename(b, dir.path() / "moved.bin");
    const auto missing = thrownBy<DiskTrashError>([&] { DiskDuplicateVerifier::verify(group); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind(), DiskTrashError::Kind::unavailable);
    EXPECT_EQ(std::string(missing->what()), std::generic_category().message(ENOENT));

    // A link is never followed, even to an identical file.
    fs::create_symlink(a, b);
    const auto link = thrownBy<DiskTrashError>([&] { DiskDuplicateVerifier::verify(group); });
    ASSERT_TRUE(link);
    EXPECT_EQ(link->kind(), DiskTrashError::Kind::symbolicLink);

    // Another size: not the file the scan saw.
    fs::remove(b);
    writeContents(b, 1 * MB + 1, 3);
    const auto resized = thrownBy<DiskDuplicateVerificationError>([&] { DiskDuplicateVerifier::verify(group); });
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->kind(), DiskDuplicateVerificationError::Kind::changed);
    EXPECT_EQ(std::string(resized->what()), "b.bin changed while Corvalent was verifying it. Scan again.");
}

// Reads cannot be paused from outside, so a watcher thread waits until the
// verifier has the file open, gives it a new modification time, and checks
// the file is still open afterwards. The verifier looks at the file before
// opening it and again only after closing it, so a change made while the
// file is open must be seen. When the watcher was too late (the read ended
// first) the attempt proves nothing and is repeated.
TEST(DiskDuplicateVerifier, AFileChangedWhileReadRefusesTheGroup)
{
    TempDir dir;
    const auto a = dir.path() / "a.bin";
    const auto b = dir.path() / "b.bin";
    writeSparse(a, 64 * MB);
    writeSparse(b, 64 * MB);
    const auto group = groupOf({a, b});

    int provingAttempts = 0;
    for (int attempt = 1; attempt <= 20 && provingAttempts == 0; ++attempt) {
        std::optional<DiskDuplicateVerificationError> error;
        const auto run = runWhileOpen(
            a, [&] { error = thrownBy<DiskDuplicateVerificationError>([&] { DiskDuplicateVerifier::verify(group); }); },
            [&] {
                const timespec times[2] = {{0, UTIME_OMIT}, {1'000'000 + attempt, 0}};
                ::utimensat(AT_FDCWD, a.c_str(), times, AT_SYMLINK_NOFOLLOW);
            });
        if (!run.actedWhileOpen) continue;
        ++provingAttempts;
        ASSERT_TRUE(error) << "a change inside the read went unnoticed";
        EXPECT_EQ(error->kind(), DiskDuplicateVerificationError::Kind::changed);
        EXPECT_EQ(std::string(error->what()), "a.bin changed while Corvalent was verifying it. Scan again.");
    }
    EXPECT_EQ(provingAttempts, 1) << "the watcher never caught the file open";
}

TEST(DiskDuplicateVerifier, StopsWhenAsked)
{
    TempDir dir;
    const auto a = dir.path() / "a.bin";
    const auto b = dir.path() / "b.bin";
    writeSparse(a, 256 * MB);
    writeSparse(b, 256 * MB);
    const auto group = groupOf({a, b});

    // Already stopped: not even a missing file is looked at.
    std::stop_source stopped;
    stopped.request_stop();
    auto withMissing = group;
    withMissing.files.insert(withMissing.files.begin(), scanned(a));
    withMissing.files.front().path = (dir.path() / "missing.bin").string();
    const auto early = thrownBy<DiskDuplicateVerificationError>(
        [&] { DiskDuplicateVerifier::verify(withMissing, stopped.get_token()); });
    ASSERT_TRUE(early);
    EXPECT_EQ(early->kind(), DiskDuplicateVerificationError::Kind::cancelled);
    EXPECT_EQ(std::string(early->what()), "Duplicate verification stopped.");

    // Asked from another thread while the first file is open: the stop is seen
    // in that file's reads or, at the latest, before the second file.
    bool proven = false;
    for (int attempt = 0; attempt < 20 && !proven; ++attempt) {
        std::stop_source source;
        std::optional<DiskDuplicateVerificationError> error;
        const auto run = runWhileOpen(
            a,
            [&] {
                error = thrownBy<DiskDuplicateVerificationError>(
                    [&] { DiskDuplicateVerifier::verify(group, source.get_token()); });
            },
            [&] { source.request_stop(); });
        if (!run.acted) continue;
        proven = true;
        ASSERT_TRUE(error);
        EXPECT_EQ(error->kind(), DiskDuplicateVerificationError::Kind::cancelled);
    }
    EXPECT_TRUE(proven) << "the watcher never caught the file open";
}

TEST(DiskDuplicateVerifiedSet, MakePairsIdentitiesWithFilesInPathOrder)
{
    std::array<unsigned char, 32> digest{};
    for (std::size_t i = 0; i < digest.size(); ++i) digest[i] = static_cast<unsigned char>(i * 8 + 7);
    const auto file = [](std::string path, std::uint64_t bytes, std::uint64_t logical) {
        return DiskFile{std::move(path), bytes, logical, 1, 0, false};
    };
    const auto identity = [](std::string path) {
        DiskItemIdentity id;
        id.path = std::move(path);
        return id;
    };

    const auto set =
        DiskVerifiedDuplicateSet::make(digest, {file("/b", 30, 11), file("/a", 10, 12), file("/c", 20, 13)},
                                       {identity("/b"), identity("/a"), identity("/c")});
    EXPECT_EQ(set.id, "070f171f272f373f474f575f676f777f878f979fa7afb7bfc7cfd7dfe7eff7ff");
    EXPECT_EQ(pathsOf(set), (std::vector<std::string>{"/a", "/b", "/c"}));
    ASSERT_EQ(set.identities.size(), 3U);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(set.identities[i].path, set.files[i].path);
    EXPECT_EQ(set.logicalBytesPerFile, 11U) << "the first file given, not the first by path";
    EXPECT_EQ(set.estimatedRecoverableBytes, 50U);

    constexpr auto most = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(DiskVerifiedDuplicateSet::make(digest, {file("/a", most, 1), file("/b", 5, 1), file("/c", 9, 1)}, {})
                  .estimatedRecoverableBytes,
              most - 5)
        << "the sum saturates";
    const auto single = DiskVerifiedDuplicateSet::make(digest, {file("/a", 10, 4)}, {identity("/a")});
    EXPECT_EQ(single.estimatedRecoverableBytes, 0U);
    const auto none = DiskVerifiedDuplicateSet::make(digest, {}, {});
    EXPECT_EQ(none.logicalBytesPerFile, 0U);
    EXPECT_TRUE(none.files.empty());

    // Identities that cannot be paired are left out rather than misattributed.
    const auto unpaired =
        DiskVerifiedDuplicateSet::make(digest, {file("/b", 1, 1), file("/a", 1, 1)}, {identity("/b")});
    EXPECT_EQ(pathsOf(unpaired), (std::vector<std::string>{"/a", "/b"}));
    EXPECT_TRUE(unpaired.identities.empty());
}

}  // namespace
}  // namespace corvalent

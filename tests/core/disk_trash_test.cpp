#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <sys/stat.h>
#include <unistd.h>

#include "core/disk_trash.h"
#include "core/freedesktop_trash.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Kind = DiskTrashError::Kind;

std::string contents(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

void write(const fs::path& file, const std::string& text)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << text;
}

// A temp home and data folder, so that the Trash is a real one of the test's own.
class TrashTest : public ::testing::Test {
protected:
    testing::TempDir root;
    fs::path home = root.path() / "home";
    fs::path data = root.path() / "data";
    fs::path work = root.path() / "work";
    std::string savedHome = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";

    void SetUp() override
    {
        fs::create_directories(home);
        fs::create_directories(work);
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
    }
    void TearDown() override
    {
        ::setenv("HOME", savedHome.c_str(), 1);
        ::unsetenv("XDG_DATA_HOME");
    }

    static DiskCleanupCandidate candidate(const fs::path& path)
    {
        return DiskInsights::classify(path.string(), 1, fs::is_directory(fs::symlink_status(path)), {});
    }
    fs::path trashFiles() const { return data / "Trash" / "files"; }
    bool trashEmpty() const { return !fs::exists(trashFiles()) || fs::is_empty(trashFiles()); }

    static void expectRefused(Kind kind, const std::function<void()>& action)
    {
        try {
            action();
            ADD_FAILURE() << "no refusal";
        } catch (const DiskTrashError& error) {
            EXPECT_EQ(error.kind(), kind) << error.what();
        }
    }
};

TEST_F(TrashTest, FileAndFolderRoundTrip)
{
    const auto file = work / "report.txt";
    write(file, "quarterly figures");
    const auto folder = work / "folder";
    for (int i = 0; i < 50; ++i) write(folder / ("f" + std::to_string(i)), std::string(100 + i, 'x'));
    ::chmod(file.c_str(), 0640);

    for (const auto& item : {file, folder}) {
        const auto before = DiskItemIdentity::capture(item.string());
        const auto receipt = DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(item)));
        EXPECT_FALSE(fs::exists(fs::symlink_status(item)));
        EXPECT_EQ(receipt.originalPath, item.string());
        EXPECT_EQ(fs::path(receipt.trashedPath).parent_path(), fs::canonical(trashFiles()));
        EXPECT_TRUE(receipt.trashedIdentity.sameItemAs(before));
        const auto info = data / "Trash" / "info" / (fs::path(receipt.trashedPath).filename().string() + ".trashinfo");
        const auto text = contents(info);
        EXPECT_NE(text.find("[Trash Info]\nPath=" + FreedesktopTrash::percentEncoded(item.string()) + "\n"),
                  std::string::npos);
        EXPECT_NE(text.find("\nDeletionDate="), std::string::npos);

        DiskTrashExecutor::restore(receipt);
        EXPECT_EQ(DiskItemIdentity::capture(item.string()), before) << "same inode, mode, size and time";
        EXPECT_FALSE(fs::exists(info)) << "the info file goes with the item";
    }
    EXPECT_EQ(contents(file), "quarterly figures");
    EXPECT_EQ(contents(folder / "f49"), std::string(149, 'x'));
    EXPECT_TRUE(trashEmpty());
}

TEST_F(TrashTest, ItemChangedAfterReviewIsRefusedAndStays)
{
    const auto file = work / "data.bin";
    const auto swapIn = work / "other.bin";
    const auto prepareFile = [&] {
        write(file, "0123456789");
        return DiskTrashExecutor::prepare(candidate(file));
    };

    // Another file renamed over it, with the same size and time.
    auto request = prepareFile();
    write(swapIn, "abcdefghij");
    const auto time = fs::last_write_time(file);
    fs::last_write_time(swapIn, time);
    fs::rename(swapIn, file);
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::moveToTrash(request); });
    EXPECT_EQ(contents(file), "abcdefghij") << "the replacement is left alone";

    request = prepareFile();
    ::chmod(file.c_str(), 0600);
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::moveToTrash(request); });

    request = prepareFile();
    std::ofstream(file, std::ios::app) << "more";
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::moveToTrash(request); });
    EXPECT_EQ(contents(file), "0123456789more");
    EXPECT_TRUE(trashEmpty());
}

TEST_F(TrashTest, RefusalsTouchNothing)
{
    const auto target = work / "target.txt";
    write(target, "x");
    const auto link = work / "link.txt";
    fs::create_symlink(target, link);
    const auto linkedFolder = work / "linked";
    fs::create_directory_symlink(work, linkedFolder);
    const auto fifo = work / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto database = work / "store.sqlite";
    write(database, "db");

    expectRefused(Kind::symbolicLink, [&] { DiskTrashExecutor::prepare(candidate(link)); });
    expectRefused(Kind::symbolicLink, [&] { DiskTrashExecutor::prepare(candidate(linkedFolder / "target.txt")); });
    expectRefused(Kind::unsupportedItem, [&] { DiskTrashExecutor::prepare(candidate(fifo)); });
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(candidate(database)); });
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(candidate("/")); });
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(candidate(home)); });
    auto reviewedAsSafe = candidate(database);
    reviewedAsSafe.safety = DiskCleanupSafety::review;
    // Classified again at the moment of acting, whatever the candidate says.
    expectRefused(Kind::protectedPath, [&] { DiskTrashExecutor::prepare(reviewedAsSafe); });
    try {
        DiskTrashExecutor::prepare(candidate(work / "missing"));
        ADD_FAILURE() << "a missing item was prepared";
    } catch (const DiskTrashError& error) {
        EXPECT_EQ(error.kind(), Kind::unavailable);
        EXPECT_STREQ(error.what(), "No such file or directory");
    }
    EXPECT_TRUE(fs::exists(target) && fs::is_symlink(link) && fs::exists(fifo) && fs::exists(database));
    EXPECT_TRUE(trashEmpty());
}

TEST_F(TrashTest, RestoreNeverReplacesAndChecksTheTrashCopy)
{
    const auto file = work / "notes.txt";
    write(file, "first");
    const auto receipt = DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(file)));

    write(file, "newcomer");
    expectRefused(Kind::destinationExists, [&] { DiskTrashExecutor::restore(receipt); });
    fs::remove(file);
    fs::create_symlink(work / "nowhere", file);
    expectRefused(Kind::destinationExists, [&] { DiskTrashExecutor::restore(receipt); });
    fs::remove(file);

    std::ofstream(receipt.trashedPath, std::ios::app) << " changed";
    expectRefused(Kind::identityChanged, [&] { DiskTrashExecutor::restore(receipt); });
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(fs::exists(receipt.trashedPath));
}

TEST_F(TrashTest, SameNamesGetDistinctTrashNamesAndLongNamesFailFast)
{
    const auto first = work / "a" / "same.txt";
    const auto second = work / "b" / "same.txt";
    write(first, "one");
    write(second, "two");
    const auto one = DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(first)));
    const auto two = DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(second)));
    EXPECT_NE(one.trashedPath, two.trashedPath);
    DiskTrashExecutor::restore(two);
    DiskTrashExecutor::restore(one);
    EXPECT_EQ(contents(first), "one");
    EXPECT_EQ(contents(second), "two");

    // The info file's name would pass the file system's limit.
    const auto longName = work / std::string(250, 'n');
    write(longName, "x");
    try {
        DiskTrashExecutor::moveToTrash(DiskTrashExecutor::prepare(candidate(longName)));
        ADD_FAILURE() << "moved";
    } catch (const DiskTrashError& error) {
        EXPECT_EQ(error.kind(), Kind::unavailable);
        EXPECT_STREQ(error.what(), "File name too long");
    }
    EXPECT_TRUE(fs::exists(longName));
    EXPECT_TRUE(trashEmpty());
    EXPECT_TRUE(fs::is_empty(data / "Trash" / "info"));
}

TEST_F(TrashTest, OtherFileSystemUsesItsTopFolderTrash)
{
    // /dev/shm is a memory file system of its own on Linux.
    struct stat shm {};
    struct stat tmp {};
    if (::stat("/dev/shm", &shm) != 0 || ::stat(work.c_str(), &tmp) != 0 || shm.st_dev == tmp.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "no second writable file system";
    const auto trash = fs::path("/dev/shm") / (".Trash-" + std::to_string(::getuid()));
    const bool trashExisted = fs::exists(trash);
    const testing::TempDir other("/dev/shm");
    const auto item = other.path() / "a b%.txt";
    write(item, "elsewhere");
    const auto placement = FreedesktopTrash::moveToTrash(item.string(), false);
    EXPECT_EQ(fs::path(placement.trashedPath).parent_path(), trash / "files");
    const auto relative = item.string().substr(std::string("/dev/shm/").size());
    EXPECT_NE(contents(placement.infoPath).find("Path=" + FreedesktopTrash::percentEncoded(relative) + "\n"),
              std::string::npos);
    EXPECT_EQ(FreedesktopTrash::percentEncoded("a b%.txt"), "a%20b%25.txt");
    EXPECT_TRUE(trashEmpty()) << "the home trash is not used";

    FreedesktopTrash::moveBack(placement.trashedPath, item.string(), false);
    FreedesktopTrash::removeInfo(placement.trashedPath, item.string());
    EXPECT_EQ(contents(item), "elsewhere");
    EXPECT_FALSE(fs::exists(placement.infoPath));
    std::error_code ignored;
    if (!trashExisted) fs::remove_all(trash, ignored);
}

}  // namespace
}  // namespace corvalent

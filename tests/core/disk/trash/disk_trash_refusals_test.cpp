// What a refused move or Undo says: the item or its folder named, what is
// wrong in a sentence, never the system's text alone; a refused Undo in
// words of its own, never asking for a scan that cannot help it.

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <array>
#include <cerrno>
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "trash_test.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::Kind;
using testing::TrashTest;
using testing::write;

constexpr uid_t unprivileged = 65534;

struct Refusal {
    Kind kind = Kind::unavailable;
    std::string text;
    bool operator==(const Refusal&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Refusal& refusal)
{
    return out << static_cast<int>(refusal.kind) << " " << refusal.text;
}

Refusal refusalOf(const std::function<void()>& action)
{
    try {
        action();
    } catch (const DiskTrashError& error) {
        return Refusal{error.kind(), error.what()};
    }
    return Refusal{Kind::unavailable, "(no refusal)"};
}

bool ownAll(const fs::path& tree, uid_t owner)
{
    for (const auto& entry : fs::recursive_directory_iterator(tree))
        if (::lchown(entry.path().c_str(), owner, owner) != 0) return false;
    return ::chown(tree.c_str(), owner, owner) == 0;
}

// What `action` is refused with when an ordinary account runs it, so that
// permissions hold: as root, in a child that becomes an unprivileged account
// owning `tree` meanwhile. Nothing when that account cannot be had.
std::optional<Refusal> refusalOfAnAccount(const fs::path& tree, const std::function<void()>& action)
{
    if (::getuid() != 0) return refusalOf(action);
    std::array<int, 2> pipe{};
    if (!ownAll(tree, unprivileged) || ::pipe(pipe.data()) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        std::string said;  // the kind's digit and the text
        if (::setgroups(0, nullptr) == 0 && ::setresgid(unprivileged, unprivileged, unprivileged) == 0 &&
            ::setresuid(unprivileged, unprivileged, unprivileged) == 0) {
            const auto refusal = refusalOf(action);
            said = std::to_string(static_cast<int>(refusal.kind)) + refusal.text;
        }
        [[maybe_unused]] const auto written = ::write(pipe[1], said.data(), said.size());
        ::_exit(0);
    }
    ::close(pipe[1]);
    std::string said;
    std::array<char, 512> buffer{};
    for (ssize_t n = 0; (n = ::read(pipe[0], buffer.data(), buffer.size())) > 0;) said.append(buffer.data(), n);
    ::close(pipe[0]);
    ::waitpid(child, nullptr, 0);
    EXPECT_TRUE(ownAll(tree, ::getuid()));
    if (said.empty()) return std::nullopt;
    return Refusal{static_cast<Kind>(said[0] - '0'), said.substr(1)};
}

struct Unmount {
    fs::path path;
    ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
};

TEST_F(TrashTest, RefusalsNameWhatIsWrongAndAnUndoSaysWhatKeepsItemsFromGoingBack)
{
    struct Row {
        std::string situation;
        std::function<std::optional<Refusal>(const fs::path& at)> refused;  // nullopt: cannot be made here
        Refusal expected;
        bool restore = false;
    };
    const auto quoted = [](const fs::path& path) { return "“" + path.string() + "”"; };
    const auto moving = [&](const fs::path& item, const std::function<void()>& change) {
        write(item, "x");
        const auto request = DiskTrashExecutor::prepare(candidate(item));
        change();
        return refusalOf([&] { DiskTrashExecutor::moveToTrash(request); });
    };
    const auto restoring = [&](const fs::path& item, const std::function<void(const DiskTrashReceipt&)>& change) {
        write(item, "plan");
        const auto receipt = trashed(item);
        change(receipt);
        return refusalOf([&] { DiskTrashExecutor::restore(receipt); });
    };
    // What keeps it from going back, and that it is still in the Trash; unless its copy there is gone.
    const auto cannotGoBack = [](const std::string& reason) {
        return "“plan.txt” can't go back: " + reason + ". It is still in the Trash.";
    };
    const auto copyGone = "“plan.txt” can't go back: its copy in the Trash was moved or removed.";

    const std::vector<Row> rows{
        {"the item removed after review",
         [&](const fs::path& at) { return moving(at / "a.txt", [&] { fs::remove(at / "a.txt"); }); },
         {Kind::unavailable, "“a.txt” is no longer in " + quoted(work / "1") + "."}},
        {"its folder renamed after review",
         [&](const fs::path& at) { return moving(at / "dl/a.txt", [&] { fs::rename(at / "dl", at / "dl.old"); }); },
         {Kind::unavailable, "“a.txt” can't be found: the folder " + quoted(work / "2/dl") + " is gone."}},
        {"its folder replaced by a file",
         [&](const fs::path& at) {
             return moving(at / "dl/a.txt", [&] {
                 fs::rename(at / "dl", at / "dl.old");
                 write(at / "dl", "a file");
             });
         },
         {Kind::unavailable, "“a.txt” can't be found: " + quoted(work / "3/dl") + " is no longer a folder."}},
        {"a Trash that is no folder",
         [&](const fs::path& at) {
             return moving(at / "a.txt", [&] {
                 fs::create_directories(data / "Trash");
                 write(trashFiles(), "not a folder");
             });
         },
         {Kind::unavailable,
          "“a.txt” can't be moved to Trash: the Trash on its disk can't be used (Not a directory)."}},
        {"a disk with no room left",
         [&](const fs::path& at) -> std::optional<Refusal> {
             fs::create_directories(at / "small");
             if (::getuid() != 0 || ::mount("tmpfs", (at / "small").c_str(), "tmpfs", 0, "size=1m,nr_inodes=2") != 0)
                 return std::nullopt;
             const Unmount unmount{at / "small"};
             return moving(at / "small/a.txt", [] {});  // its Trash folder cannot be made
         },
         {Kind::unavailable, "“a.txt” can't be moved to Trash: its disk has no room left (No space left on device)."}},
        {"a folder the account may not change",
         [&](const fs::path& at) {
             write(at / "locked/a.txt", "x");
             return refusalOfAnAccount(root.path(), [&] {
                 const auto request = DiskTrashExecutor::prepare(candidate(at / "locked/a.txt"));
                 fs::permissions(at / "locked", fs::perms::owner_read | fs::perms::owner_exec);
                 DiskTrashExecutor::moveToTrash(request);
             });
         },
         {Kind::unavailable, "“a.txt” can't be moved to Trash: you may not change its folder " +
                                 quoted(work / "6/locked") + " (Permission denied)."}},

        {"Undo with its folder gone",
         [&](const fs::path& at) {
             return restoring(at / "shared/plan.txt", [&](auto&) { fs::remove_all(at / "shared"); });
         },
         {Kind::unavailable, cannotGoBack("its folder " + quoted(work / "7/shared") + " is gone")},
         true},
        {"Undo with the copy in the Trash renamed",
         [&](const fs::path& at) {
             return restoring(at / "plan.txt", [](const DiskTrashReceipt& receipt) {
                 fs::rename(receipt.trashedPath, receipt.trashedPath + ".renamed");
             });
         },
         {Kind::unavailable, copyGone},
         true},
        {"Undo after another program emptied the Trash",
         [&](const fs::path& at) {
             return restoring(at / "plan.txt", [&](auto&) {
                 for (const auto& entry : fs::directory_iterator(trashFiles())) fs::remove_all(entry.path());
             });
         },
         {Kind::unavailable, copyGone},
         true},
        {"Undo with the copy in the Trash changed",
         [&](const fs::path& at) {
             return restoring(at / "plan.txt",
                              [](const DiskTrashReceipt& receipt) { write(receipt.trashedPath, "changed"); });
         },
         {Kind::identityChanged, cannotGoBack("its copy in the Trash was changed or replaced")},
         true},
        {"Undo with its folder now a link",
         [&](const fs::path& at) {
             return restoring(at / "shared/plan.txt", [&](auto&) {
                 fs::rename(at / "shared", at / "shared.old");
                 fs::create_directory_symlink(at / "shared.old", at / "shared");
             });
         },
         {Kind::symbolicLink, cannotGoBack("its folder " + quoted(work / "11/shared") + " is now a symbolic link")},
         true},
        {"Undo with a folder above it now a link",
         [&](const fs::path& at) {
             return restoring(at / "outer/inner/plan.txt", [&](auto&) {
                 fs::rename(at / "outer", at / "outer.old");
                 fs::create_directory_symlink(at / "outer.old", at / "outer");
             });
         },
         {Kind::symbolicLink,
          cannotGoBack("its folder " + quoted(work / "12/outer/inner") + " is now behind a symbolic link")},
         true},
        {"Undo with its folder replaced by a file",
         [&](const fs::path& at) {
             return restoring(at / "shared/plan.txt", [&](auto&) {
                 fs::remove_all(at / "shared");
                 write(at / "shared", "a file");
             });
         },
         {Kind::unavailable, cannotGoBack(quoted(work / "13/shared") + " is no longer a folder")},
         true},
        {"Undo into a folder of another account",
         [&](const fs::path& at) -> std::optional<Refusal> {
             if (::getuid() != 0) return std::nullopt;
             return restoring(at / "shared/plan.txt", [&](auto&) {
                 ASSERT_EQ(::chown((at / "shared").c_str(), unprivileged, unprivileged), 0);
             });
         },
         {Kind::unavailable, cannotGoBack("its folder " + quoted(work / "14/shared") + " belongs to another user")},
         true},
        {"Undo into a read-only folder",
         [&](const fs::path& at) {
             write(at / "shared/plan.txt", "plan");
             return refusalOfAnAccount(root.path(), [&] {
                 const auto receipt = trashed(at / "shared/plan.txt");
                 fs::permissions(at / "shared", fs::perms::owner_read | fs::perms::owner_exec);
                 DiskTrashExecutor::restore(receipt);
             });
         },
         {Kind::unavailable, cannotGoBack("its folder " + quoted(work / "15/shared") + " is read-only")},
         true},
    };

    std::vector<std::string> systemTexts;
    for (int error = 1; error < 134; ++error) systemTexts.push_back(std::generic_category().message(error));
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& row = rows[i];
        SCOPED_TRACE(row.situation);
        const auto at = work / std::to_string(i + 1);
        fs::create_directories(at);
        const auto refused = row.refused(at);
        if (!refused) {
            std::cout << "[ SKIPPED  ] " << row.situation << ": cannot be made here\n";
            continue;
        }
        EXPECT_EQ(*refused, row.expected);
        for (const auto& bare : systemTexts) EXPECT_NE(refused->text.substr(0, bare.size()), bare);
        EXPECT_TRUE(refused->text.starts_with("“") && refused->text.find("” ") != std::string::npos)
            << "the item named first";
        if (row.restore) {
            EXPECT_TRUE(refused->text.starts_with("“plan.txt” can't go back: ")) << refused->text;
            EXPECT_EQ(refused->text.find("Scan"), std::string::npos) << "no scan helps a restore";
            EXPECT_EQ(refused->text.find("does not move"), std::string::npos);
        }
        // The Trash is usable again for the next row.
        if (fs::is_regular_file(trashFiles())) fs::remove(trashFiles());
    }
}

}  // namespace
}  // namespace corvalent

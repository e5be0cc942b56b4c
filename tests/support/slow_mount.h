#pragma once

// A slow or hung file system for one test: a small FUSE tree (served by
// corvalent_slow_fs, see slow_fs.cpp) in which chosen entries' listing
// (getdents64), stat (fstatat, also of the mount point itself) or read sleep.
//
//     TempDir dir;
//     SlowTree tree;
//     tree.folders = {"a", "a/slow", "b"};
//     tree.files = {{"b/f.bin", 4096}};
//     tree.slowList = {"a/slow"};          // listing a/slow takes 30 s
//     SlowMount mount(dir.path() / "mnt", tree);
//     if (!mount.mounted()) GTEST_SKIP() << mount.problem();
//     ... scan mount.path() ...
//
// To make a folder whose stat takes 30 s inside an ordinary tree (what a dead
// network mount looks like to a walk listing its parent), mount with
// slowStat = {"."} under a temp folder and scan that temp folder.
//
// A mount that never answers, listed as a disk, as a USB disk or a share
// whose server is gone is to whoever reads the mount table:
//
//     tree.slowStat = tree.slowStatfs = {"."};
//     tree.neverAnswers = true;
//     tree.source = "/dev/corvalent-test";
//
// Teardown never waits for a sleeping call: the mount is detached, the server
// asked to end, and every call still sleeping in it fails at once (EIO, or
// ENOTCONN once the server is gone). A caller that is killed or interrupted
// while its call sleeps gets EINTR at once, as with a killable wait on a
// network file system, unless the tree never answers. Declare the SlowMount
// after the TempDir holding its mount point, and after whatever waits for
// work that may still sleep in it (a model, a lane drained when the test
// ends), so that it goes first and that work ends.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace corvalent::testing {

struct SlowTree {
    // Paths relative to the mount's root; folders above an entry are implied.
    std::vector<std::string> folders;
    // Files and their sizes. Every file holds the same byte pattern, so files
    // of one size are duplicates of each other.
    std::vector<std::pair<std::string, std::uint64_t>> files;
    // Entries whose listing, stat or read sleeps `delay`; "." is the root.
    std::vector<std::string> slowList, slowStat, slowRead;
    std::chrono::milliseconds delay = std::chrono::seconds(30);
    // Entries whose file-system figures (statfs) sleep; "." is the root.
    std::vector<std::string> slowStatfs;
    // Files whose open fails as for a missing file (ENOENT) while their stat
    // still answers: away when opened, back when looked at again.
    std::vector<std::string> goneAtOpen;
    // Sleeping calls ignore `delay` and their caller's interrupt: they end
    // only when the mount goes (at teardown), as on a hard network mount.
    bool neverAnswers = false;
    // The mount's source in the mount table; a "/dev/..." name makes it a
    // disk to whoever lists volumes. No commas or blanks.
    std::string source;
};

class SlowMount {
public:
    // Mounts `tree` at `mountPoint` (made when missing) and waits until the
    // mount is in place, at most a few seconds.
    SlowMount(const std::filesystem::path& mountPoint, const SlowTree& tree);
    // Same as unmount().
    ~SlowMount();
    SlowMount(const SlowMount&) = delete;
    SlowMount& operator=(const SlowMount&) = delete;

    // False where FUSE is missing (no /dev/fuse, no fusermount3, the server
    // not built) or mounting failed; problem() then says why.
    bool mounted() const { return mounted_; }
    const std::string& problem() const { return problem_; }
    const std::filesystem::path& path() const { return mountPoint_; }

    // How many slow calls have begun so far, ended or not: a test waits for
    // this to know that a call now sleeps.
    std::size_t slowCallsBegun() const;
    // The same, counting only calls made by process `caller`: other
    // programs may look at every mount, this one among them.
    std::size_t slowCallsBegunBy(pid_t caller) const;
    // The same, counting only calls made by live children of `parent`.
    std::size_t slowCallsBegunByChildrenOf(pid_t parent) const;
    // How many of them have ended, slept out or cut short.
    std::size_t slowCallsEnded() const;
    // Waits until at least `count` slow calls have begun; false after `timeout`.
    bool waitForSlowCalls(std::size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(10)) const;

    // Detaches the mount and ends its server, never waiting for a sleeping
    // call; the calls still sleeping fail. Safe to call twice.
    void unmount();

private:
    std::filesystem::path mountPoint_;
    std::filesystem::path logFolder_;
    pid_t server_ = -1;
    bool mounted_ = false;
    std::string problem_;
};

}  // namespace corvalent::testing

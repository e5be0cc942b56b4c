#pragma once

// The folders a folder holds, listed for a folder chooser in a process of its
// own: a folder on a mount that does not answer holds its reader in the
// kernel for good, even through SIGKILL, and a thread of ours caught there
// would keep this program from ever ending. A helper caught there is left to
// end by itself whenever the mount answers.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/folder_list.h"
#include "core/common/child_process.h"

namespace corvalent {

struct FolderListing {
    enum class Outcome { listed, failed, notAnswering, stopped };
    Outcome outcome = Outcome::listed;
    std::int32_t error = 0;               // with `failed`: why the folder could not be read
    std::vector<PLFolderEntry> folders;  // in the order the file system lists them

    bool operator==(const FolderListing&) const = default;
};

// The listings whose helper has not ended yet, by the mount that holds
// their folder (FolderLister::countedUnder), shared by the listings of one
// chooser: a helper caught on a mount that does not answer stays until the
// mount does, and any other folder of that mount would hold the next helper
// as well, so the mount is not asked again while a listing on it is out.
class PendingListings {
public:
    // Waits up to `wait` until no listing counted under `key` is out, then
    // counts the caller's and answers true; false while one is still out, or
    // on a stop.
    bool begin(const std::string& key, std::chrono::milliseconds wait, std::stop_token stop);
    // The caller's listing has ended.
    void end(const std::string& key);
    // How many listings counted under `key` are out.
    int out(const std::string& key) const;

private:
    mutable std::mutex mutex_;
    std::condition_variable_any ended_;
    std::map<std::string, int> out_;
};

namespace FolderLister {

// The argument that makes the program list a folder and end.
inline constexpr std::string_view helperFlag = "--list-folders";

// What a listing of `path` is counted under: the mount point of the mount
// that holds it, as the kernel's mount table spells it. On the mounts that
// hold the home and the system, which answer while the program runs, the
// folder itself: a listing held there went on through a link onto another
// mount, and the rest of them still answers. Found from the path's text
// alone ("." and ".." taken away by spelling; a path below the home in the
// home's real spelling) and the table, so that no mount is looked at.
std::string countedUnder(const std::string& path);

// Lists `path` by running `program` (this program, unless a test names
// another) with helperFlag and the path; a helper that has not answered
// within `limit` leaves the folder not answering. With `pending`, a folder
// on a mount whose last listing is still out after a short wait is not
// asked: it is not answering.
FolderListing listApart(const std::string& path, std::chrono::milliseconds limit, std::stop_token stop,
                        std::shared_ptr<PendingListings> pending = nullptr,
                        const std::string& program = std::string(thisProgram));

// The helper's side: lists `path` onto standard output. Returns the exit status.
int printListing(const char* path);

// The helper's output, and back.
std::string encode(const PLFolderListing& listing);
FolderListing decode(std::string_view output);

}  // namespace FolderLister
}  // namespace corvalent

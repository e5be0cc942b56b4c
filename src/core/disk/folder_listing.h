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

namespace corvalent {

struct FolderListing {
    enum class Outcome { listed, failed, notAnswering, stopped };
    Outcome outcome = Outcome::listed;
    std::int32_t error = 0;               // with `failed`: why the folder could not be read
    std::vector<PLFolderEntry> folders;  // in the order the file system lists them

    bool operator==(const FolderListing&) const = default;
};

// The folders whose helper has not ended yet, shared by the listings of one
// chooser: a folder is not asked again while a helper of it is still out,
// as one caught on a mount that does not answer stays until the mount does.
class FolderHelpers {
public:
    // Waits up to `wait` until no helper of `path` is out, then counts the
    // caller's and answers true; false while one is still out, or on a stop.
    bool begin(const std::string& path, std::chrono::milliseconds wait, std::stop_token stop);
    // The caller's helper has ended.
    void end(const std::string& path);
    // How many helpers of `path` are out.
    int out(const std::string& path) const;

private:
    mutable std::mutex mutex_;
    std::condition_variable_any ended_;
    std::map<std::string, int> out_;
};

namespace FolderLister {

// The argument that makes the program list a folder and end.
inline constexpr std::string_view helperFlag = "--list-folders";

// Lists `path` by running `program` with helperFlag and the path; a helper
// that has not answered within `limit` leaves the folder not answering. With
// `helpers`, a folder whose last helper is still out after a short wait is
// not asked again: it is not answering.
FolderListing listApart(const std::string& program, const std::string& path, std::chrono::milliseconds limit,
                        std::stop_token stop, std::shared_ptr<FolderHelpers> helpers = nullptr);

// The helper's side: lists `path` onto standard output. Returns the exit status.
int printListing(const char* path);

// The helper's output, and back.
std::string encode(const PLFolderListing& listing);
FolderListing decode(std::string_view output);

}  // namespace FolderLister
}  // namespace corvalent

#pragma once

// The folders a folder holds, listed for a folder chooser in a process of its
// own: a folder on a mount that does not answer holds its reader in the
// kernel for good, even through SIGKILL, and a thread of ours caught there
// would keep this program from ever ending. A helper caught there is left to
// end by itself whenever the mount answers.

#include <chrono>
#include <cstdint>
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

namespace FolderLister {

// The argument that makes the program list a folder and end.
inline constexpr std::string_view helperFlag = "--list-folders";

// Lists `path` by running `program` with helperFlag and the path; a helper
// that has not answered within `limit` leaves the folder not answering.
FolderListing listApart(const std::string& program, const std::string& path, std::chrono::milliseconds limit,
                        std::stop_token stop);

// The helper's side: lists `path` onto standard output. Returns the exit status.
int printListing(const char* path);

// The helper's output, and back.
std::string encode(const PLFolderListing& listing);
FolderListing decode(std::string_view output);

}  // namespace FolderLister
}  // namespace corvalent

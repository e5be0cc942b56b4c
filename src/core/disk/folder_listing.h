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
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "bridge/folder_list.h"
#include "core/common/child_process.h"

namespace corvalent {

struct FolderListing {
    // `waiting`: not asked yet, since its share has as many listings out as
    // it may (PendingListings::perShare).
    enum class Outcome { listed, failed, notAnswering, waiting, stopped };
    Outcome outcome = Outcome::listed;
    std::int32_t error = 0;               // with `failed`: why the folder could not be read
    std::vector<PLFolderEntry> folders;  // in the order the file system lists them

    bool operator==(const FolderListing&) const = default;
};

// Where a listing is counted (FolderLister::countedUnder).
struct ListingPlace {
    // The folder, links on the home's and the system's mounts followed.
    std::string folder;
    // The mount point, as the mount table spells it, of the other mount that
    // holds the folder; empty on the home's and the system's mounts.
    std::string share;

    bool operator==(const ListingPlace&) const = default;
};

// The helpers listing folders for one chooser, by folder and by share. A
// helper caught on a mount that does not answer stays until the mount does,
// and a second listing of its folder would be caught behind it: a folder
// with a helper out is not asked again until that helper ends, and its
// answer, however late, goes to all who waited for it, else, when it
// lists the folder, to whoever asks next. A share holds at most
// perShare helpers at once, so a dead share holds a bounded number of
// processes and threads, while one slow folder leaves room for the rest.
class PendingListings : public std::enable_shared_from_this<PendingListings> {
public:
    static constexpr int perShare = 2;
    // How long a helper may list before it is ended.
    static constexpr std::chrono::minutes helperLifetime{2};
    // How long an answer nobody waited for is kept for the next to ask.
    static constexpr std::chrono::minutes keptAnswer{1};

    // Lists `path`, counted at `place`, through `program`. Answers
    // notAnswering once the folder's helper has been out for `limit`
    // (started now, or earlier and still out), and waiting once the share
    // has kept it from being asked for `limit`; the helper goes on.
    // Without a bound (milliseconds::max()), waits for the answer itself.
    FolderListing list(const ListingPlace& place, const std::string& path, const std::string& program,
                       std::chrono::milliseconds limit, std::stop_token stop);
    // How many helpers are out on the share `key`, or for the folder `key`
    // counted by itself.
    int out(const std::string& key) const;

private:
    using Clock = std::chrono::steady_clock;
    struct Folder {
        std::string share;
        bool reading = false;
        Clock::time_point since;
        std::uint64_t helper = 0;             // the last helper sent
        std::optional<FolderListing> answer;  // its answer
        bool handed = false;                  // given to those who waited for it
        Clock::time_point answeredAt;
    };

    bool sendLocked(const ListingPlace& place, const std::string& path, const std::string& program);
    void ended(const ListingPlace& place, std::optional<FolderListing> answer);
    void tidyLocked();

    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::uint64_t changes_ = 0;
    std::uint64_t helpers_ = 0;
    std::map<std::string, Folder> folders_;
    std::map<std::string, int> shares_;
};

namespace FolderLister {

// The argument that makes the program list a folder and end.
inline constexpr std::string_view helperFlag = "--list-folders";

// Where a listing of `path` is counted: the folder, and the share that
// holds it unless that is the home's or the system's mount, which answer
// while the program runs. "." and ".." are taken away by spelling, a path
// below the home is taken in the home's real spelling, and then the links
// on the home's and the system's mounts are read one component at a time,
// up to the first point where the mount table puts another mount: a path
// through a link into a share is counted with that share, and no other
// mount is ever looked at.
ListingPlace countedUnder(const std::string& path);

// Lists `path` by running `program` (this program, unless a test names
// another) with helperFlag and the path; a helper that has not answered
// within `limit` is ended and leaves the folder not answering. With
// `pending`, through PendingListings::list, at the place countedUnder names.
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

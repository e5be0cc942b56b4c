#include "core/disk/folder_listing.h"

#include <fcntl.h>
#include <cerrno>
#include <algorithm>
#include <charconv>
#include <climits>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <cstdio>

#include "bridge/file_descriptor.h"
#include "bridge/mount_table.h"
#include "core/common/child_process.h"
#include "core/common/paths.h"

namespace corvalent::FolderLister {
namespace {

// Each entry is its kind's letter, its name and a NUL; an error is "!",
// the errno in digits and a NUL.
constexpr std::string_view kindLetters = "dlme";

// Links followed in one path at most, as the kernel's own limit.
constexpr int maxLinks = 40;

ChildRunRequest helperRun(const std::string& path, const std::string& program, std::chrono::milliseconds deadline)
{
    ChildRunRequest request;
    request.executable = program;
    request.arguments = {std::string(helperFlag), path};
    request.outputCap = 64 * 1'024 * 1'024;
    request.deadline = deadline;
    request.killGrace = std::chrono::milliseconds(100);
    return request;
}

FolderListing outcomeOf(const ChildRunResult& run)
{
    FolderListing listing;
    if (run.stopped) {
        listing.outcome = FolderListing::Outcome::stopped;
    } else if (run.timedOut) {
        listing.outcome = FolderListing::Outcome::notAnswering;
    } else if (!run.launched || run.exitStatus != 0 || run.overflowed) {
        listing.outcome = FolderListing::Outcome::failed;
        listing.error = EIO;
    } else {
        listing = decode(run.output);
    }
    return listing;
}

}  // namespace

std::string encode(const PLFolderListing& listing)
{
    std::string out;
    for (const auto& entry : listing.entries) {
        out += kindLetters[static_cast<std::size_t>(entry.kind)];
        out += entry.name;
        out += '\0';
    }
    if (listing.error != 0) out += '!' + std::to_string(listing.error) + '\0';
    return out;
}

FolderListing decode(std::string_view output)
{
    FolderListing listing;
    while (!output.empty()) {
        const auto end = output.find('\0');
        // A record cut short is no record.
        if (end == std::string_view::npos) break;
        const auto record = output.substr(0, end);
        output.remove_prefix(end + 1);
        if (record.empty()) continue;
        const auto rest = record.substr(1);
        if (record.front() == '!') {
            int error = 0;
            std::from_chars(rest.data(), rest.data() + rest.size(), error);
            listing.error = error != 0 ? error : EIO;
            continue;
        }
        const auto kind = kindLetters.find(record.front());
        if (kind == std::string_view::npos || rest.empty()) continue;
        listing.folders.push_back({std::string(rest), static_cast<PLFolderKind>(kind)});
    }
    // Entries read before an error are still shown; nothing read shows the error.
    if (listing.error != 0 && listing.folders.empty()) listing.outcome = FolderListing::Outcome::failed;
    return listing;
}

int printListing(const char* path)
{
    const auto text = encode(pl_list_folders(path));
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0 ? 0 : 1;
}

ListingPlace countedUnder(const std::string& path)
{
    const auto home = Paths::Home::current();
    const auto spelled = home.realSpelling(Paths::standardized(path));
    const FileDescriptor file(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    const auto text = file.valid() ? readMountInfo(file.get()) : std::nullopt;
    const auto table = parseMountInfo(text.value_or(std::string()));
    // Without a table no mount is known to answer: nothing is read.
    if (table.empty()) return {spelled, {}};
    const auto* homeMount = mountHolding(table, home.real());
    const auto* systemMount = mountHolding(table, "/");

    // The real home is where the reading starts for a path below it.
    const bool belowHome = home.real() != "/" && isAtOrBelow(spelled, home.real());
    std::string at = belowHome ? home.real() : "/";
    std::vector<std::string> left;  // the components still to go, the next one last
    const auto push = [&left](std::string_view rest) {
        std::vector<std::string> names;
        for (std::size_t from = 0; from <= rest.size();) {
            const auto slash = std::min(rest.find('/', from), rest.size());
            if (slash > from) names.emplace_back(rest.substr(from, slash - from));
            from = slash + 1;
        }
        left.insert(left.end(), names.rbegin(), names.rend());
    };
    push(std::string_view(spelled).substr(belowHome ? home.real().size() : 0));
    // `next` and what is left, by spelling alone.
    const auto spelledFrom = [&left](std::string folder) {
        for (auto rest = left.rbegin(); rest != left.rend(); ++rest) folder += '/' + *rest;
        return Paths::standardized(folder);
    };
    int links = 0;
    while (!left.empty()) {
        const auto name = std::move(left.back());
        left.pop_back();
        if (name == ".") continue;
        if (name == "..") {
            at = Paths::folderAndName(at).first;
            continue;
        }
        const auto next = at == "/" ? at + name : at + '/' + name;
        const auto* mount = mountHolding(table, next);
        if (mount != nullptr && mount != homeMount && mount != systemMount) {
            // Another mount: what lies on it is not read.
            return {spelledFrom(next), mount->mountPoint};
        }
        std::string target(PATH_MAX, '\0');
        const auto length = ::readlink(next.c_str(), target.data(), target.size());
        if (length > 0) {
            // A link the kernel will not follow either ends the reading here:
            // nothing is read through it.
            if (static_cast<std::size_t>(length) >= target.size() || ++links > maxLinks) return {spelledFrom(next), {}};
            target.resize(static_cast<std::size_t>(length));
            if (target.front() == '/') at = "/";
            push(target);
            continue;
        }
        at = next;
    }
    return {at, {}};
}

FolderListing listApart(const std::string& path, std::chrono::milliseconds limit, std::stop_token stop,
                        std::shared_ptr<PendingListings> pending, const std::string& program)
{
    if (pending) return pending->list(countedUnder(path), path, program, limit, std::move(stop));
    auto request = helperRun(path, program, limit);
    request.stop = std::move(stop);
    return outcomeOf(runChild(request));
}

}  // namespace corvalent::FolderLister

namespace corvalent {

namespace {

// `since` + `limit`, where milliseconds::max() is no bound at all.
std::optional<std::chrono::steady_clock::time_point> boundAfter(std::chrono::steady_clock::time_point since,
                                                                std::chrono::milliseconds limit)
{
    if (limit == std::chrono::milliseconds::max()) return std::nullopt;
    return since + limit;
}

}  // namespace

FolderListing PendingListings::list(const ListingPlace& place, const std::string& path, const std::string& program,
                                    std::chrono::milliseconds limit, std::stop_token stop)
{
    const auto asked = Clock::now();
    FolderListing listing;
    std::optional<std::uint64_t> awaited;  // the helper this caller has seen out
    std::unique_lock lock(mutex_);
    for (;;) {
        if (stop.stop_requested()) {
            listing.outcome = FolderListing::Outcome::stopped;
            break;
        }
        auto& folder = folders_[place.folder];
        if (!folder.reading && folder.answer &&
            (awaited == folder.helper || (!folder.handed && folder.answer->outcome == FolderListing::Outcome::listed &&
                                          Clock::now() - folder.answeredAt < keptAnswer))) {
            listing = *folder.answer;
            folder.handed = true;
            break;
        }
        std::optional<Clock::time_point> until;
        if (folder.reading) {
            awaited = folder.helper;
            until = boundAfter(folder.since, limit);
            listing.outcome = FolderListing::Outcome::notAnswering;
        } else if (!place.share.empty() && shares_[place.share] >= perShare) {
            until = boundAfter(asked, limit);
            listing.outcome = FolderListing::Outcome::waiting;
        } else if (!sendLocked(place, path, program)) {
            listing.outcome = FolderListing::Outcome::failed;
            listing.error = EAGAIN;
            break;
        } else {
            continue;
        }
        if (until && Clock::now() >= *until) break;
        const auto seen = changes_;
        const auto changed = [&] { return changes_ != seen; };
        if (until)
            changed_.wait_until(lock, stop, *until, changed);
        else
            changed_.wait(lock, stop, changed);
    }
    tidyLocked();
    return listing;
}

bool PendingListings::sendLocked(const ListingPlace& place, const std::string& path, const std::string& program)
{
    auto& folder = folders_[place.folder];
    folder.reading = true;
    folder.since = Clock::now();
    folder.helper = ++helpers_;
    folder.answer.reset();
    folder.share = place.share;
    if (!place.share.empty()) ++shares_[place.share];
    try {
        // A thread of its own, which a stop never ends: the helper's answer,
        // however late, is kept for whoever asks next.
        std::thread([self = shared_from_this(), place, path, program] {
            auto request = FolderLister::helperRun(path, program, helperLifetime);
            // A helper that even SIGKILL has not ended yet is still in its folder.
            request.reapedLater = [self, place] { self->ended(place, std::nullopt); };
            const auto run = runChild(request);
            if (!run.outlived) self->ended(place, FolderLister::outcomeOf(run));
        }).detach();
    } catch (const std::system_error&) {
        folder.reading = false;
        if (!place.share.empty() && --shares_[place.share] <= 0) shares_.erase(place.share);
        return false;
    }
    return true;
}

void PendingListings::ended(const ListingPlace& place, std::optional<FolderListing> answer)
{
    {
        std::lock_guard lock(mutex_);
        auto& folder = folders_[place.folder];
        folder.reading = false;
        folder.answer = std::move(answer);
        folder.handed = false;
        folder.answeredAt = Clock::now();
        if (!place.share.empty() && --shares_[place.share] <= 0) shares_.erase(place.share);
        tidyLocked();
        ++changes_;
    }
    changed_.notify_all();
}

void PendingListings::tidyLocked()
{
    // An answer stays a while for those who waited, and for the next to ask
    // when nobody did.
    const auto now = Clock::now();
    std::erase_if(folders_, [&](const auto& entry) {
        const auto& folder = entry.second;
        return !folder.reading && (!folder.answer || now - folder.answeredAt >= keptAnswer);
    });
}

int PendingListings::out(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    if (const auto share = shares_.find(key); share != shares_.end()) return share->second;
    const auto folder = folders_.find(key);
    return folder != folders_.end() && folder->second.reading && folder->second.share.empty() ? 1 : 0;
}

}  // namespace corvalent

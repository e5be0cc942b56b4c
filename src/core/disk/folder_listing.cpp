#include "core/disk/folder_listing.h"

#include <fcntl.h>
#include <cerrno>
#include <charconv>
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

// How long a stopped helper is given to end before its folder counts as not answering.
constexpr std::chrono::milliseconds endingHelperWait{400};

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

std::string countedUnder(const std::string& path)
{
    auto spelled = Paths::standardized(path);
    // Only the home is resolved: below it, a link may lead onto the very
    // mount that does not answer.
    const auto named = Paths::homeFolder();
    const auto home = Paths::resolved(named);
    if (named != "/" && Paths::isAtOrBelow(spelled, named)) {
        const auto rest = spelled.substr(named.size());
        spelled = home == "/" && !rest.empty() ? rest : home + rest;
    }
    const FileDescriptor file(::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC));
    const auto text = file.valid() ? readMountInfo(file.get()) : std::nullopt;
    const auto table = parseMountInfo(text.value_or(std::string()));
    const auto* mount = mountHolding(table, spelled);
    if (mount == nullptr || mount == mountHolding(table, home) || mount == mountHolding(table, "/")) return spelled;
    return mount->mountPoint;
}

FolderListing listApart(const std::string& path, std::chrono::milliseconds limit, std::stop_token stop,
                        std::shared_ptr<PendingListings> pending, const std::string& program)
{
    FolderListing listing;
    const auto key = pending ? countedUnder(path) : std::string();
    if (pending && !pending->begin(key, endingHelperWait, stop)) {
        listing.outcome = stop.stop_requested() ? FolderListing::Outcome::stopped : FolderListing::Outcome::notAnswering;
        return listing;
    }
    ChildRunRequest request;
    request.executable = program;
    request.arguments = {std::string(helperFlag), path};
    request.outputCap = 64 * 1'024 * 1'024;
    request.deadline = limit;
    request.killGrace = std::chrono::milliseconds(100);
    request.stop = std::move(stop);
    if (pending) request.reapedLater = [pending, key] { pending->end(key); };
    const auto run = runChild(request);
    if (pending && !run.outlived) pending->end(key);
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

}  // namespace corvalent::FolderLister

namespace corvalent {

bool PendingListings::begin(const std::string& key, std::chrono::milliseconds wait, std::stop_token stop)
{
    std::unique_lock lock(mutex_);
    if (!ended_.wait_for(lock, stop, wait, [&] { return !out_.contains(key); })) return false;
    ++out_[key];
    return true;
}

void PendingListings::end(const std::string& key)
{
    {
        std::lock_guard lock(mutex_);
        if (auto found = out_.find(key); found != out_.end() && --found->second <= 0) out_.erase(found);
    }
    ended_.notify_all();
}

int PendingListings::out(const std::string& key) const
{
    std::lock_guard lock(mutex_);
    const auto found = out_.find(key);
    return found == out_.end() ? 0 : found->second;
}

}  // namespace corvalent

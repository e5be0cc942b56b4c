#include "bridge/disk_walk.h"

#include <cerrno>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>
#include <vector>

#include "bridge/walk_descriptors.h"
#include "bridge/walk_state.h"

namespace corvalent {
namespace {

using walk::Folder;
using walk::Item;
using walk::WalkState;

constexpr std::uint64_t tickMask = 2'048 - 1;
constexpr int maximumThreads = 8;

void increment(std::uint64_t& counter)
{
    if (counter != std::numeric_limits<std::uint64_t>::max()) ++counter;
}

// Delivers the walk's entries to the visitor, on the calling thread.
class Visiting {
public:
    Visiting(WalkState& state, const PLDiskWalkOptions& options, PLDiskVisitor& visitor, PLDiskScanStats& stats)
        : state_(state), stop_(options.stop), visitor_(visitor), stats_(stats)
    {
    }

    void run(std::string_view rootPath)
    {
        Folder& root = state_.root();
        if (!await(root)) {
            stats_.cancelled = 1;
            return;
        }
        const Item& rootEntry = state_.rootEntry();
        PLDiskEntry entry{};
        entry.name = rootPath;
        rootEntry.fill(entry);
        if (rootEntry.kind == PLDiskEntryKind::folder && rootEntry.error == 0) entry.error = root.error;
        if (!count(entry) || rootEntry.kind != PLDiskEntryKind::folder) return;

        struct Frame {
            Folder* folder;
            std::size_t next;
        };
        std::vector<Frame> stack{{&root, 0}};
        while (!stack.empty()) {
            auto& frame = stack.back();
            if (frame.next == frame.folder->items.size()) {
                state_.release(*frame.folder);
                stack.pop_back();
                if (!stack.empty()) stack.back().folder->items[stack.back().next - 1].folder.reset();
                continue;
            }
            auto& item = frame.folder->items[frame.next++];
            entry.name = std::string_view(frame.folder->names).substr(item.nameOffset, item.nameLength);
            entry.depth = static_cast<std::uint32_t>(stack.size());
            item.fill(entry);
            Folder* child = item.folder.get();
            if (child != nullptr) {
                if (!await(*child)) {
                    stats_.cancelled = 1;
                    return;
                }
                entry.error = child->error;
            }
            walk::addFound(met_, item);
            if (item.privacySkipped) increment(stats_.privacySkipped);
            if (!count(entry)) return;
            if (child != nullptr) stack.push_back({child, 0});
        }
    }

private:
    WalkState& state_;
    const std::stop_token& stop_;
    PLDiskVisitor& visitor_;
    PLDiskScanStats& stats_;
    PLDiskAhead met_;  // of the entries readers found, those visited

    PLDiskAhead ahead() const
    {
        const auto found = state_.found();
        const auto less = [](std::uint64_t a, std::uint64_t b) { return a > b ? a - b : 0; };
        return {less(found.entries, met_.entries), less(found.files, met_.files),
                less(found.allocatedBytes, met_.allocatedBytes)};
    }

    bool await(Folder& folder)
    {
        return state_.await(folder, stop_, [this] { return visitor_.waiting(stats_.entries, ahead()); });
    }

    bool count(const PLDiskEntry& entry)
    {
        increment(stats_.entries);
        if (entry.error != 0) increment(stats_.inaccessible);
        if (!visitor_.visit(entry) || ((stats_.entries & tickMask) == 0 && !visitor_.tick(stats_.entries, ahead())) ||
            stop_.stop_requested()) {
            stats_.cancelled = 1;
            return false;
        }
        return true;
    }
};

}  // namespace

std::int32_t pl_walk_disk(const char* root, const PLDiskWalkOptions& options, PLDiskVisitor& visitor,
                          PLDiskScanStats& stats)
{
    stats = PLDiskScanStats{};
    if (root == nullptr || root[0] == '\0') return EINVAL;
    if (options.stop.stop_requested()) {
        stats.cancelled = 1;
        return 0;
    }
    // Every call into the file system is a reader's: the caller only waits
    // and visits, so a stop returns whatever a reader is blocked in.
    const auto state = std::make_shared<WalkState>(options, root, descriptorBudget(options.threads, maximumThreads));
    int started = 0;
    for (; started < state->readers(); ++started) {
        try {
            std::thread([state] { state->readLoop(); }).detach();
        } catch (const std::system_error& error) {
            if (started == 0) return error.code().value();
            break;
        }
    }
    struct Ending {
        WalkState& state;
        ~Ending() { state.end(); }
    } ending{*state};
    Visiting(*state, options, visitor, stats).run(root);
    return 0;
}

}  // namespace corvalent

// Mounted volumes and their capacity, from the kernel's mount table, sysfs,
// udev's links and, for the figures, `stat -f` in a child process per mount:
// no thread of this program calls into a mounted file system here, and none
// resolves a mount point (the table spells them resolved already).

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

#include "bridge/mount_table.h"
#include "core/disk/disk.h"
#include "core/common/child_process.h"
#include "core/common/saturating.h"
#include "core/common/text_order.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

std::string readText(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

std::string resolved(const std::string& path)
{
    std::error_code error;
    const auto canonical = fs::canonical(path, error);
    return error ? path : canonical.string();
}

std::vector<MountEntry> mountTable()
{
    return parseMountInfo(readText("/proc/self/mountinfo"));
}

// The file-system label of a block device, from udev's by-label links.
std::optional<std::string> labelOf(const std::string& source)
{
    if (!source.starts_with("/dev/")) return std::nullopt;
    const auto device = resolved(source);
    std::error_code error;
    for (const auto& link : fs::directory_iterator("/dev/disk/by-label", error)) {
        if (resolved(link.path().string()) == device) return unescapedMountField(link.path().filename().string());
    }
    return std::nullopt;
}

std::string nameFor(const MountEntry& entry, std::string_view mountPoint)
{
    if (auto label = labelOf(entry.source); label && !label->empty()) return *label;
    if (mountPoint == "/") return "Computer";
    return fs::path(mountPoint).filename().string();
}

struct DeviceKind {
    bool isInternal = false;
    bool isRemovable = false;
};

// sysfs knows whether a disk is removable; partitions ask their disk.
DeviceKind deviceKind(const MountEntry& entry)
{
    const auto device = "/sys/dev/block/" + std::to_string(entry.major) + ":" + std::to_string(entry.minor);
    std::error_code error;
    auto folder = fs::canonical(device, error);
    if (error) return {};
    if (fs::exists(folder / "partition", error)) folder = folder.parent_path();
    const bool removable = readText(folder / "removable").starts_with("1");
    const bool usb = folder.string().find("/usb") != std::string::npos;
    return {!removable && !usb, removable};
}

using Figures = MountFigureCache::Figures;

std::optional<DiskCapacity> capacityFrom(const Figures& figures, std::string name)
{
    // As df counts: blocks kept back for root are neither used nor available to the user.
    const auto used = flooredDifference(figures.blocks, figures.freeBlocks) * figures.unit;
    const auto available = figures.availableBlocks * figures.unit;
    const auto total = saturatingAdd(used, available);
    if (total < 1) return std::nullopt;
    // Nothing here is purgeable: what is available is available now.
    return DiskCapacity::make(std::move(name), total, available, available);
}

// A mount's figures as `stat -f` reads them, in a process of its own: a
// call on a mount that does not answer waits in the kernel for good, even
// through SIGKILL, and a thread of ours caught there would keep this program
// from ever ending (its descriptors, standard output included, with it). A
// child caught there is left to end by itself whenever the mount answers.
std::optional<Figures> figuresFromChild(const std::string& mountPoint)
{
    ChildRunRequest request;
    request.executable = "/usr/bin/stat";
    request.arguments = {"--file-system", "--format=%S %b %f %a", "--", mountPoint};
    request.outputCap = 256;
    // Long: while this child waits, the mount is not asked again (see MountFigureCache).
    request.deadline = std::chrono::minutes(5);
    const auto run = runChild(request);
    if (run.exitStatus != 0) return std::nullopt;
    Figures figures;
    std::istringstream words(run.output);
    words >> figures.unit >> figures.blocks >> figures.freeBlocks >> figures.availableBlocks;
    if (!words) return std::nullopt;
    return figures;
}

// Sends a reader after `entry` on a detached thread, unless one is out;
// false when none was sent.
bool sendReader(const MountEntry& entry, const std::shared_ptr<MountFigureCache>& cache,
                std::chrono::milliseconds limit)
{
    const auto key = MountFigureCache::keyOf(entry);
    if (!cache->beginRead(key)) return false;
    try {
        std::thread([cache, key, point = entry.mountPoint, limit] {
            const auto start = std::chrono::steady_clock::now();
            auto figures = figuresFromChild(point);
            cache->endRead(key, std::move(figures), std::chrono::steady_clock::now() - start > limit);
        }).detach();
    } catch (const std::system_error&) {
        cache->cancelRead(key);  // no thread to spare: the mount is left out this time
        return false;
    }
    return true;
}

// Whether the answer a mount gave late stands in for it in a list made now:
// one with figures, while the mount is not asked again or has been asked for
// less than slowVolumeLimit.
bool lateAnswerStandsIn(const MountFigureCache::Mount& known, std::chrono::steady_clock::time_point now)
{
    return known.answered && known.slow && known.figures &&
           (!known.reading || now - known.readingSince < DiskScanner::slowVolumeLimit);
}

}  // namespace

std::string MountFigureCache::keyOf(const MountEntry& entry)
{
    return entry.mountPoint + " " + std::to_string(entry.major) + ":" + std::to_string(entry.minor);
}

bool MountFigureCache::beginRead(const std::string& mount)
{
    const std::lock_guard guard(lock_);
    auto& known = mounts_[mount];
    if (known.reading) return false;
    known.reading = true;
    known.readingSince = std::chrono::steady_clock::now();
    return true;
}

void MountFigureCache::cancelRead(const std::string& mount)
{
    const std::lock_guard guard(lock_);
    mounts_[mount].reading = false;
}

void MountFigureCache::endRead(const std::string& mount, std::optional<Figures> figures, bool slow)
{
    {
        const std::lock_guard guard(lock_);
        auto& known = mounts_[mount];
        known.reading = false;
        known.answered = true;
        known.figures = figures;
        known.slow = slow;
    }
    answered_.notify_all();
}

void MountFigureCache::awaitReads(const std::vector<std::string>& mounts,
                                  std::chrono::steady_clock::time_point deadline)
{
    std::unique_lock guard(lock_);
    answered_.wait_until(guard, deadline, [&] {
        return std::none_of(mounts.begin(), mounts.end(), [&](const std::string& mount) {
            const auto known = mounts_.find(mount);
            return known != mounts_.end() && known->second.reading;
        });
    });
}

MountFigureCache::Mount MountFigureCache::mount(const std::string& key) const
{
    const std::lock_guard guard(lock_);
    const auto known = mounts_.find(key);
    return known == mounts_.end() ? Mount{} : known->second;
}

void MountFigureCache::keepOnly(const std::vector<std::string>& mounts)
{
    const std::lock_guard guard(lock_);
    std::erase_if(mounts_, [&](const auto& known) {
        return !known.second.reading && std::find(mounts.begin(), mounts.end(), known.first) == mounts.end();
    });
}

bool isUserVolumeMount(const MountEntry& entry)
{
    if (entry.mountPoint == "/") return true;
    // Block-backed file systems only: pseudo, memory and network file systems are no volumes.
    if (!entry.source.starts_with("/dev/")) return false;
    static constexpr std::array<std::string_view, 3> images{"squashfs", "overlay", "tmpfs"};
    if (std::find(images.begin(), images.end(), entry.fileSystem) != images.end()) return false;
    // A bind mount of a folder or file shows part of a volume listed already.
    if (entry.root != "/" && entry.fileSystem != "btrfs") return false;
    if (isAtOrBelow(entry.mountPoint, "/run/media")) return true;
    for (const std::string_view hidden : {"/proc", "/sys", "/dev", "/run", "/boot", "/snap"})
        if (isAtOrBelow(entry.mountPoint, hidden)) return false;
    return true;
}

namespace DiskScanner {

DiskVolumeList volumes(const std::shared_ptr<MountFigureCache>& cache, std::chrono::milliseconds limit)
{
    const auto start = std::chrono::steady_clock::now();
    const auto mounts = mountTable();
    std::vector<const MountEntry*> candidates;
    const auto root = std::find_if(mounts.begin(), mounts.end(), [](const MountEntry& e) { return e.mountPoint == "/"; });
    const MountEntry fallbackRoot{0, 0, "/", "/", "", ""};
    candidates.push_back(root != mounts.end() ? &*root : &fallbackRoot);
    for (const auto& entry : mounts)
        if (entry.mountPoint != "/" && isUserVolumeMount(entry)) candidates.push_back(&entry);

    // This list waits only for the readers it sent itself, and not for one
    // whose mount's late answer stands in; a reader sent by an earlier list
    // and still out is not waited for again.
    std::vector<std::string> keys;
    std::vector<std::string> awaited;
    for (const auto* entry : candidates) {
        keys.push_back(MountFigureCache::keyOf(*entry));
        const bool sent = sendReader(*entry, cache, limit);
        if (sent && !lateAnswerStandsIn(cache->mount(keys.back()), std::chrono::steady_clock::now()))
            awaited.push_back(keys.back());
    }
    cache->keepOnly(keys);
    cache->awaitReads(awaited, start + limit);

    // Each mount's answer for this list: fresh, or a late one standing in
    // while the mount is asked again; none while it is still asked (or not
    // asked at all).
    struct Answer {
        bool given = false;
        bool asked = false;
        std::optional<Figures> figures;  // none when it could not be measured
    };
    std::vector<Answer> answers;
    const auto now = std::chrono::steady_clock::now();
    for (const auto& key : keys) {
        const auto known = cache->mount(key);
        answers.push_back({known.answered && (!known.reading || lateAnswerStandsIn(known, now)), known.reading,
                           known.figures});
    }

    // A path or a device is listed once, the first that answered winning;
    // a mount not answering is named when nothing listed stands for it.
    using Device = std::pair<std::uint32_t, std::uint32_t>;
    DiskVolumeList list;
    std::vector<Device> devices;
    const auto listed = [&](const MountEntry& entry) {
        const Device device{entry.major, entry.minor};
        return std::any_of(list.volumes.begin(), list.volumes.end(),
                           [&](const DiskVolume& v) { return v.id == entry.mountPoint; }) ||
               (entry.major != 0 && std::find(devices.begin(), devices.end(), device) != devices.end());
    };
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        const auto& entry = *candidates[index];
        const auto& answer = answers[index];
        if (!answer.given || !answer.figures || listed(entry)) continue;
        auto name = nameFor(entry, entry.mountPoint);
        auto figures = capacityFrom(*answer.figures, name);
        if (!figures) continue;
        const auto kind = deviceKind(entry);
        list.volumes.push_back(DiskVolume{entry.mountPoint, std::move(name), entry.mountPoint, std::move(*figures),
                                          kind.isInternal, kind.isRemovable});
        devices.emplace_back(entry.major, entry.minor);
    }
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        const auto& entry = *candidates[index];
        const bool named = std::any_of(list.notResponding.begin(), list.notResponding.end(),
                                       [&](const DiskUnresponsiveVolume& v) { return v.id == entry.mountPoint; });
        if (answers[index].given || !answers[index].asked || named || listed(entry)) continue;
        const auto kind = deviceKind(entry);
        list.notResponding.push_back({entry.mountPoint, nameFor(entry, entry.mountPoint), kind.isInternal,
                                      kind.isRemovable});
    }

    const auto rank = [](const auto& volume) {
        if (volume.id == "/") return 0;
        return volume.isInternal && !volume.isRemovable ? 1 : 2;
    };
    const auto order = [&](const auto& a, const auto& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return localizedStandardLess(a.name, b.name);
    };
    std::stable_sort(list.volumes.begin(), list.volumes.end(), order);
    std::stable_sort(list.notResponding.begin(), list.notResponding.end(), order);
    return list;
}

}  // namespace DiskScanner
}  // namespace corvalent

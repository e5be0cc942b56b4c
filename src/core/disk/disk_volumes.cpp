// Mounted volumes and their capacity, from the kernel's mount table,
// statvfs and sysfs. Only statvfs and the resolving of a mount point touch
// the mounted file system itself; the rest reads the kernel's own tables.

#include <algorithm>
#include <array>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
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

bool below(std::string_view path, std::string_view folder)
{
    return path == folder || (path.starts_with(folder) && path.size() > folder.size() && path[folder.size()] == '/');
}

std::vector<MountEntry> mountTable()
{
    return parseMountInfo(readText("/proc/self/mountinfo"));
}

// The mount that holds `path`: the longest mount point it lies below.
const MountEntry* mountHolding(const std::vector<MountEntry>& mounts, std::string_view path)
{
    const MountEntry* best = nullptr;
    for (const auto& entry : mounts) {
        if ((entry.mountPoint == "/" || below(path, entry.mountPoint)) &&
            (best == nullptr || entry.mountPoint.size() >= best->mountPoint.size()))
            best = &entry;
    }
    return best;
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

std::optional<struct statvfs> figuresOf(const std::string& path)
{
    struct statvfs figures {};
    if (::statvfs(path.c_str(), &figures) != 0) return std::nullopt;
    return figures;
}

std::optional<DiskCapacity> capacityFrom(const struct statvfs& figures, std::string name)
{
    const std::uint64_t unit = figures.f_frsize != 0 ? figures.f_frsize : figures.f_bsize;
    // As df counts: blocks kept back for root are neither used nor available to the user.
    const auto usedBlocks = flooredDifference(figures.f_blocks, figures.f_bfree);
    const auto used = usedBlocks * unit;
    const auto available = static_cast<std::uint64_t>(figures.f_bavail) * unit;
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
std::optional<struct statvfs> figuresFromChild(const std::string& mountPoint)
{
    ChildRunRequest request;
    request.executable = "/usr/bin/stat";
    request.arguments = {"--file-system", "--format=%S %b %f %a", "--", mountPoint};
    request.outputCap = 256;
    // Long: while this child waits, the mount is not asked again (see MountReads).
    request.deadline = std::chrono::minutes(5);
    const auto run = runChild(request);
    if (run.exitStatus != 0) return std::nullopt;
    struct statvfs figures {};
    std::istringstream words(run.output);
    words >> figures.f_frsize >> figures.f_blocks >> figures.f_bfree >> figures.f_bavail;
    if (!words) return std::nullopt;
    return figures;
}

// What a reader found of one mount: its path and its figures.
struct MountReading {
    std::string path;
    std::optional<struct statvfs> figures;
};

// Shared by one call of volumes() and its readers, which may outlive it.
struct Readings {
    std::mutex lock;
    std::condition_variable changed;
    std::vector<std::optional<MountReading>> found;  // by candidate
    std::size_t pending = 0;
};

// Reads each mount on a detached thread and waits at most `limit` for all:
// a reader whose child waits on a mount that does not answer is left to wait.
// A mount whose earlier reader still waits is not read again.
std::vector<std::optional<MountReading>> readMounts(const std::vector<const MountEntry*>& mounts,
                                                    const std::shared_ptr<MountReads>& reads,
                                                    std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    auto readings = std::make_shared<Readings>();
    readings->found.resize(mounts.size());
    for (std::size_t index = 0; index < mounts.size(); ++index) {
        const auto& entry = *mounts[index];
        auto key = entry.mountPoint + " " + std::to_string(entry.major) + ":" + std::to_string(entry.minor);
        if (!reads->begin(key)) continue;
        const std::lock_guard guard(readings->lock);
        try {
            std::thread([readings, reads, index, point = entry.mountPoint, key] {
                // The kernel's mount table names mount points by their real paths.
                MountReading reading{point, figuresFromChild(point)};
                reads->end(key);
                const std::lock_guard done(readings->lock);
                readings->found[index] = std::move(reading);
                --readings->pending;
                readings->changed.notify_all();
            }).detach();
            ++readings->pending;
        } catch (const std::system_error&) {
            reads->end(key);  // no thread to spare: the mount is left out this time
        }
    }
    std::unique_lock guard(readings->lock);
    readings->changed.wait_until(guard, deadline, [&] { return readings->pending == 0; });
    return readings->found;
}

}  // namespace

bool MountReads::begin(const std::string& mount)
{
    const std::lock_guard guard(lock_);
    return reading_.insert(mount).second;
}

void MountReads::end(const std::string& mount)
{
    const std::lock_guard guard(lock_);
    reading_.erase(mount);
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
    if (below(entry.mountPoint, "/run/media")) return true;
    for (const std::string_view hidden : {"/proc", "/sys", "/dev", "/run", "/boot", "/snap"})
        if (below(entry.mountPoint, hidden)) return false;
    return true;
}

namespace DiskScanner {

std::optional<DiskCapacity> capacity(std::string_view path)
{
    const std::string text(path);
    const auto mounts = mountTable();
    const auto* mount = mountHolding(mounts, text);
    const auto name = mount != nullptr ? nameFor(*mount, mount->mountPoint) : std::string("Computer");
    const auto figures = figuresOf(text);
    return figures ? capacityFrom(*figures, name) : std::nullopt;
}

std::vector<DiskVolume> volumes()
{
    return volumes(std::make_shared<MountReads>());
}

std::vector<DiskVolume> volumes(const std::shared_ptr<MountReads>& reads, std::chrono::milliseconds limit)
{
    const auto mounts = mountTable();
    std::vector<const MountEntry*> candidates;
    const auto root = std::find_if(mounts.begin(), mounts.end(), [](const MountEntry& e) { return e.mountPoint == "/"; });
    const MountEntry fallbackRoot{0, 0, "/", "/", "", ""};
    candidates.push_back(root != mounts.end() ? &*root : &fallbackRoot);
    for (const auto& entry : mounts)
        if (entry.mountPoint != "/" && isUserVolumeMount(entry)) candidates.push_back(&entry);

    const auto readings = readMounts(candidates, reads, limit);
    std::vector<DiskVolume> list;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> devices;
    for (std::size_t index = 0; index < candidates.size(); ++index) {
        const auto* entry = candidates[index];
        const auto& reading = readings[index];
        if (!reading || !reading->figures) continue;
        const auto& path = reading->path;
        const std::pair device{entry->major, entry->minor};
        const bool seenPath = std::any_of(list.begin(), list.end(), [&](const DiskVolume& v) { return v.id == path; });
        const bool seenDevice =
            entry->major != 0 && std::find(devices.begin(), devices.end(), device) != devices.end();
        if (seenPath || seenDevice) continue;
        auto name = nameFor(*entry, path);
        auto figures = capacityFrom(*reading->figures, name);
        if (!figures) continue;
        const auto kind = deviceKind(*entry);
        list.push_back(DiskVolume{path, std::move(name), path, std::move(*figures), kind.isInternal, kind.isRemovable});
        devices.push_back(device);
    }

    const auto rank = [](const DiskVolume& volume) {
        if (volume.url == "/") return 0;
        return volume.isInternal && !volume.isRemovable ? 1 : 2;
    };
    std::stable_sort(list.begin(), list.end(), [&](const DiskVolume& a, const DiskVolume& b) {
        if (rank(a) != rank(b)) return rank(a) < rank(b);
        return localizedStandardLess(a.name, b.name);
    });
    return list;
}

}  // namespace DiskScanner
}  // namespace corvalent

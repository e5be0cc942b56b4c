#include "core/disk/disk.h"

#include <cmath>
#include <limits>

#include "core/common/saturating.h"

namespace corvalent {

DiskCapacity DiskCapacity::make(std::string volumeName, std::uint64_t total, std::uint64_t available,
                                std::optional<std::uint64_t> immediatelyAvailable)
{
    DiskCapacity capacity;
    capacity.volumeName = std::move(volumeName);
    capacity.total = total;
    capacity.available = std::min(available, total);
    capacity.immediatelyAvailable = std::min(immediatelyAvailable.value_or(available), total);
    return capacity;
}

std::uint64_t DiskCapacity::used() const
{
    return flooredDifference(total, available);
}

std::uint64_t DiskCapacity::occupied() const
{
    return flooredDifference(total, immediatelyAvailable);
}

std::uint64_t DiskCapacity::reclaimable() const
{
    return flooredDifference(available, immediatelyAvailable);
}

double DiskCapacity::usedFraction() const
{
    return total == 0 ? 0.0 : static_cast<double>(used()) / static_cast<double>(total);
}

const DiskNode* DiskNode::node(std::string_view withID) const
{
    if (id == withID) return this;
    for (const auto& child : children)
        if (const auto* found = child.node(withID)) return found;
    return nullptr;
}

const DiskNode* DiskNode::parent(std::string_view of) const
{
    for (const auto& child : children)
        if (child.id == of) return this;
    for (const auto& child : children)
        if (const auto* found = child.parent(of)) return found;
    return nullptr;
}

std::string_view DiskFile::name() const
{
    std::string_view text = path;
    while (text.size() > 1 && text.back() == '/') text.remove_suffix(1);
    const auto slash = text.rfind('/');
    return slash == std::string_view::npos ? text : text.substr(slash + 1);
}

// A file counted under another link has the size and time of every link to it.
std::optional<DiskScannedItem> DiskScannedItem::of(const DiskFile& file)
{
    if (file.inode == 0) return std::nullopt;
    return DiskScannedItem{false, file.device, file.inode, file.logicalBytes, file.modified};
}

// A folder's bytes are what it holds, which may change without it changing.
std::optional<DiskScannedItem> DiskScannedItem::of(const DiskNode& node)
{
    if (!node.isDirectory || node.inode == 0) return std::nullopt;
    return DiskScannedItem{true, node.device, node.inode, std::nullopt, std::nullopt};
}

namespace DiskScanEstimate {

std::optional<double> fraction(std::uint64_t measuredBytes, std::optional<std::uint64_t> estimatedTotalBytes)
{
    if (!estimatedTotalBytes || *estimatedTotalBytes == 0 || measuredBytes == 0) return std::nullopt;
    return std::min(static_cast<double>(measuredBytes) / static_cast<double>(*estimatedTotalBytes), 0.98);
}

std::optional<double> remainingSeconds(std::optional<double> progress, double elapsed)
{
    if (!progress || !(*progress >= 0.02) || *progress >= 0.98 || !(elapsed >= 0.75)) return std::nullopt;
    const double estimate = elapsed * (1.0 - *progress) / *progress;
    if (!std::isfinite(estimate) || estimate < 1.0) return std::nullopt;
    return std::min(estimate, 604'800.0);
}

std::optional<std::int64_t> totalFiles(std::int64_t scannedFiles, std::optional<double> progress,
                                       std::optional<std::int64_t> previousTotalFiles)
{
    if (scannedFiles < 0) return std::nullopt;
    const bool hasPrevious = previousTotalFiles && *previousTotalFiles > 0;
    const std::optional<std::int64_t> fallback =
        hasPrevious ? std::optional(std::max(*previousTotalFiles, scannedFiles)) : std::nullopt;
    if (!progress || !(*progress >= 0.02) || scannedFiles < 128) return fallback;

    double estimate = static_cast<double>(scannedFiles) / *progress;
    if (hasPrevious)
        estimate = estimate * *progress + (1.0 - *progress) * static_cast<double>(*previousTotalFiles);
    // Capped to the integer range before it is converted.
    constexpr double largest = 9.2e18;
    const auto rounded = static_cast<std::int64_t>(std::round(std::min(estimate, largest)));
    return std::max(rounded, scannedFiles);
}

}  // namespace DiskScanEstimate
}  // namespace corvalent

// The two bounded collectors a scan feeds with every file.

#include <algorithm>
#include <functional>

#include "core/disk/disk.h"
#include "core/common/saturating.h"

namespace corvalent {

DiskDuplicateGroup DiskDuplicateGroup::make(std::uint64_t logicalBytesPerFile, std::vector<DiskFile> files)
{
    DiskDuplicateGroup group;
    std::stable_sort(files.begin(), files.end(), [](const DiskFile& a, const DiskFile& b) { return a.path < b.path; });
    group.logicalBytesPerFile = logicalBytesPerFile;
    group.id = std::to_string(logicalBytesPerFile) + ":" + (files.empty() ? std::string() : files.front().path);
    group.estimatedRecoverableBytes = recoverableBytes(files);
    group.files = std::move(files);
    return group;
}

std::uint64_t recoverableBytes(const std::vector<DiskFile>& files)
{
    if (files.empty()) return 0;
    std::uint64_t sum = 0;
    std::uint64_t smallest = files.front().bytes;
    for (const auto& file : files) {
        sum = saturatingAdd(sum, file.bytes);
        smallest = std::min(smallest, file.bytes);
    }
    return flooredDifference(sum, smallest);
}

void LargestFileCollector::consider(DiskFile file)
{
    if (limit_ < 1 || file.bytes == 0) return;
    if (heap_.size() >= static_cast<std::size_t>(limit_)) {
        // An equal size does not displace the file that came first.
        if (file.bytes <= heap_.front().bytes) return;
        heap_.front() = std::move(file);
        siftDown(0);
        return;
    }
    heap_.push_back(std::move(file));
    siftUp(heap_.size() - 1);
}

void LargestFileCollector::siftUp(std::size_t index)
{
    while (index > 0) {
        const auto parent = (index - 1) / 2;
        if (heap_[index].bytes >= heap_[parent].bytes) return;
        std::swap(heap_[index], heap_[parent]);
        index = parent;
    }
}

void LargestFileCollector::siftDown(std::size_t index)
{
    while (2 * index + 1 < heap_.size()) {
        auto child = 2 * index + 1;
        if (child + 1 < heap_.size() && heap_[child + 1].bytes < heap_[child].bytes) ++child;
        if (heap_[child].bytes >= heap_[index].bytes) return;
        std::swap(heap_[index], heap_[child]);
        index = child;
    }
}

std::vector<DiskFile> LargestFileCollector::descending() const
{
    auto files = heap_;
    std::stable_sort(files.begin(), files.end(), [](const DiskFile& a, const DiskFile& b) {
        return a.bytes != b.bytes ? a.bytes > b.bytes : a.path < b.path;
    });
    return files;
}

void PotentialDuplicateCollector::consider(DiskFile file)
{
    if (file.logicalBytes < smallestSize) return;
    const auto size = file.logicalBytes;
    auto bucket = buckets_.find(size);
    if (bucket == buckets_.end()) {
        if (buckets_.size() >= maxBuckets) {
            if (singleFileSizes_.empty()) return;
            const auto evicted = *singleFileSizes_.begin();
            singleFileSizes_.erase(singleFileSizes_.begin());
            buckets_.erase(evicted);
        }
        bucket = buckets_.emplace(size, std::vector<DiskFile>{}).first;
        singleFileSizes_.insert(size);
    } else {
        if (bucket->second.size() >= maxFilesPerBucket) return;
        // One file reached twice (a second hard link) is no duplicate of itself.
        if (file.device != 0 && file.inode != 0 &&
            std::any_of(bucket->second.begin(), bucket->second.end(), [&](const DiskFile& kept) {
                return kept.device == file.device && kept.inode == file.inode;
            }))
            return;
        singleFileSizes_.erase(size);
    }
    bucket->second.push_back(std::move(file));
}

std::vector<DiskDuplicateGroup> PotentialDuplicateCollector::groups(
    const std::function<bool(const DiskFile&)>& inTrash) const
{
    std::vector<DiskDuplicateGroup> groups;
    for (const auto& [size, files] : buckets_) {
        if (files.size() < 2) continue;
        // A copy in a Trash goes when the Trash is emptied: it never makes a pair.
        const auto outside = inTrash ? std::count_if(files.begin(), files.end(), std::not_fn(inTrash))
                                     : static_cast<std::ptrdiff_t>(files.size());
        if (outside >= 2) groups.push_back(DiskDuplicateGroup::make(size, files));
    }
    std::sort(groups.begin(), groups.end(), [](const DiskDuplicateGroup& a, const DiskDuplicateGroup& b) {
        if (a.estimatedRecoverableBytes != b.estimatedRecoverableBytes)
            return a.estimatedRecoverableBytes > b.estimatedRecoverableBytes;
        return a.logicalBytesPerFile > b.logicalBytesPerFile;
    });
    if (groups.size() > maxGroups) groups.resize(maxGroups);
    return groups;
}

}  // namespace corvalent

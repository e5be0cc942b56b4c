#include "core/process/processes.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstring>
#include <iterator>
#include <thread>
#include <unordered_map>
#include <vector>

#include "bridge/process_bridge.h"
#include "core/process/desktop_entries.h"

namespace corvalent {
namespace {

// The record's protection from the bridge's code; an unknown code protects.
ProcessProtection protectionFor(std::int32_t pid, std::uint32_t uid, const std::string& path, const std::string& name)
{
    return processProtectionFromRaw(pl_protection_reason(pid, uid, path.c_str(), name.c_str()))
        .value_or(ProcessProtection::restrictedLocation);
}

std::string text(const char* field, std::size_t capacity)
{
    return std::string(field, ::strnlen(field, capacity));
}

ProcessRecord recordFrom(const PLProcessInfo& info)
{
    ProcessRecord record;
    record.pid = info.pid;
    record.parent = info.parent;
    record.uid = info.uid;
    record.started = info.started;
    record.cpuTime = info.cpuTime;
    if (info.hasMemory == 1) record.memory = info.footprint;
    record.name = text(info.name, sizeof info.name);
    record.path = text(info.path, sizeof info.path);
    record.cwd = text(info.cwd, sizeof info.cwd);
    record.role = text(info.role, sizeof info.role);
    record.protection = protectionFor(record.pid, record.uid, record.path, record.name);
    if (const auto app = text(info.flatpakApp, sizeof info.flatpakApp); !app.empty())
        record.applicationHint = DesktopEntries::flatpakInstallation(app, DesktopEntries::userDataHome());
    record.image = info.image;
    return record;
}

// A record of a process the previous sample knew, running the same program
// under the same owner: what was read once per program stays, and so does
// the protection decided from it. The working folder is the one read now.
ProcessRecord recordKnown(const PLProcessInfo& info, const ProcessRecord& before)
{
    ProcessRecord record = before;
    record.parent = info.parent;
    record.cwd = text(info.cwd, sizeof info.cwd);
    record.cpuTime = info.cpuTime;
    record.memory.reset();
    if (info.hasMemory == 1) record.memory = info.footprint;
    record.cpu.reset();
    return record;
}

}  // namespace

ProcessRecord ProcessRecord::make(std::int32_t pid, std::int32_t parent, std::uint32_t uid, std::uint64_t started,
                                  std::uint64_t cpuTime, std::optional<std::uint64_t> memory, std::string name,
                                  std::string path, std::string cwd, std::string role, std::optional<double> cpu)
{
    ProcessRecord record{pid,
                         parent,
                         uid,
                         started,
                         cpuTime,
                         memory,
                         std::move(name),
                         std::move(path),
                         std::move(cwd),
                         std::move(role),
                         cpu,
                         ProcessProtection::none,
                         {},
                         0};
    record.protection = protectionFor(record.pid, record.uid, record.path, record.name);
    return record;
}

std::string ProcessRecord::id() const
{
    // Built in place: ids are made for every record of every sample.
    char pidText[16];
    char startedText[24];
    const auto pidEnd = std::to_chars(pidText, pidText + sizeof pidText, pid).ptr;
    const auto startedEnd = std::to_chars(startedText, startedText + sizeof startedText, started).ptr;
    std::string id;
    id.reserve(static_cast<std::size_t>((pidEnd - pidText) + 1 + (startedEnd - startedText)));
    id.append(pidText, pidEnd).append(1, ':').append(startedText, startedEnd);
    return id;
}

double ProcessRecord::age() const
{
    const std::chrono::duration<double> now = std::chrono::system_clock::now().time_since_epoch();
    const double seconds = now.count() - static_cast<double>(started) / 1'000'000.0;
    return seconds > 0 ? seconds : 0;
}

namespace Scanner {

ScanResult scan(const ScanResult* previous)
{
    // Reading /proc costs system calls, not computation: a large table is
    // read on a few threads at once.
    constexpr std::size_t processesPerReader = 256;
    constexpr int maximumReaders = 4;
    const double start = uptimeSeconds();
    constexpr std::int32_t capacity = 32'768;
    std::vector<std::int32_t> pids(capacity, 0);
    const auto listed = pl_list(pids.data(), capacity);
    const auto count = static_cast<std::size_t>(listed < 0 ? 0 : (listed > capacity ? capacity : listed));

    // Swap is read once, first: while none is in use no process has swapped
    // memory, and each footprint comes from a lighter file.
    const auto swap = pl_swap_used();
    const std::int32_t flags = swap == 0 ? 0 : PL_SAMPLE_SWAP_IN_USE;
    std::unordered_map<std::int32_t, const ProcessRecord*> known;
    if (previous != nullptr) {
        known.reserve(previous->records.size());
        for (const auto& record : previous->records) known.try_emplace(record.pid, &record);
    }

    // Each reader takes one contiguous share of the table and keeps its
    // records apart, so the records come out in the table's order.
    const auto readShare = [&](std::size_t from, std::size_t to, std::vector<ProcessRecord>& records) {
        PLProcessInfo info;
        for (std::size_t i = from; i < to; ++i) {
            const auto found = known.find(pids[i]);
            const ProcessRecord* before = found == known.end() ? nullptr : found->second;
            const PLKnownProcess knownProcess{before ? before->started : 0, before ? before->image : 0,
                                              before ? before->uid : 0};
            const auto read = pl_read_sample(pids[i], before ? &knownProcess : nullptr, flags, &info);
            if (read == 1) records.push_back(recordFrom(info));
            if (read == 2) records.push_back(recordKnown(info, *before));
        }
    };
    const auto readers = std::clamp<std::size_t>(count / processesPerReader, 1,
                                                 static_cast<std::size_t>(std::min(pl_available_processors(), maximumReaders)));
    std::vector<std::vector<ProcessRecord>> shares(readers);
    {
        std::vector<std::jthread> helpers;
        for (std::size_t reader = 1; reader < readers; ++reader)
            helpers.emplace_back([&, reader] {
                readShare(count * reader / readers, count * (reader + 1) / readers, shares[reader]);
            });
        readShare(0, count / readers, shares[0]);
    }
    ScanResult result;
    result.records.reserve(count);
    for (auto& share : shares) std::move(share.begin(), share.end(), std::back_inserter(result.records));
    if (swap >= 0) result.swap = static_cast<std::uint64_t>(swap);
    result.pressure = memoryPressureFromLevel(pl_memory_pressure());
    result.timestamp = uptimeSeconds();
    result.duration = uptimeSeconds() - start;
    return result;
}

std::optional<ProcessRecord> read(std::int32_t pid)
{
    PLProcessInfo info;
    if (pl_read(pid, &info) != 1) return std::nullopt;
    return recordFrom(info);
}

std::int32_t signal(const ProcessRecord& record, bool force)
{
    return pl_signal(record.pid, record.started, record.path.c_str(), force ? 1 : 0);
}

std::optional<double> cpu(const ProcessRecord& current, const ProcessRecord* previous, double elapsed)
{
    if (previous == nullptr) return std::nullopt;
    if (previous->pid != current.pid || previous->started != current.started) return std::nullopt;
    if (!(elapsed > 0)) return std::nullopt;
    if (current.cpuTime < previous->cpuTime) return std::nullopt;
    return static_cast<double>(current.cpuTime - previous->cpuTime) / 1'000'000'000.0 / elapsed * 100.0;
}

}  // namespace Scanner
}  // namespace corvalent

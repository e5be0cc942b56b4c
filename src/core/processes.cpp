#include "core/processes.h"

#include <charconv>
#include <chrono>
#include <cstring>
#include <vector>

#include "bridge/process_bridge.h"
#include "core/desktop_entries.h"

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
                         {}};
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

double uptimeSeconds()
{
    const std::chrono::duration<double> now = std::chrono::steady_clock::now().time_since_epoch();
    return now.count();
}

namespace Scanner {

ScanResult scan()
{
    const double start = uptimeSeconds();
    constexpr std::int32_t capacity = 32'768;
    std::vector<std::int32_t> pids(capacity, 0);
    const auto listed = pl_list(pids.data(), capacity);
    const auto count = static_cast<std::size_t>(listed < 0 ? 0 : (listed > capacity ? capacity : listed));

    ScanResult result;
    result.records.reserve(count);
    PLProcessInfo info;
    for (std::size_t i = 0; i < count; ++i) {
        if (pl_read(pids[i], &info) == 1) result.records.push_back(recordFrom(info));
    }
    const auto swap = pl_swap_used();
    if (swap >= 0) result.swap = static_cast<std::uint64_t>(swap);
    result.pressure = pl_memory_pressure();
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

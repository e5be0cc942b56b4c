#include "ui/overview/overview_states.h"

#include <QLocale>
#include <QStringList>
#include <QTimeZone>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <thread>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"

namespace corvalent {
namespace {

const QString dot = QStringLiteral(" \u00b7 ");

QLocale english()
{
    return QLocale(QLocale::English, QLocale::UnitedStates);
}

}  // namespace

int activeCoreCount()
{
    return std::max(1U, std::thread::hardware_concurrency());
}

std::uint64_t physicalMemoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 1;
    return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

OverviewMetricState memoryOverviewState(MemoryPressure pressure, const QPalette& palette)
{
    switch (pressure) {
    case MemoryPressure::normal: return {"No action needed", CorvalentStyle::teal()};
    case MemoryPressure::elevated: return {"Memory is getting tight", CorvalentStyle::orange()};
    case MemoryPressure::critical: return {"Close heavy work soon", CorvalentStyle::red()};
    case MemoryPressure::unavailable: break;
    }
    return {"Reading system state", CorvalentStyle::secondary(palette)};
}

OverviewMetricState cpuOverviewState(std::optional<double> measuredCPU, int activeCores, const QPalette& palette)
{
    const int cores = std::max(activeCores, 1);
    const QString suffix = dot + QString::number(cores) + " cores";
    if (!measuredCPU) return {"Waiting" + suffix, CorvalentStyle::secondary(palette)};
    // A share of all cores; 100 % is one core busy.
    const double load = *measuredCPU / (static_cast<double>(cores) * 100.0);
    if (load < 0.1) return {"Quiet" + suffix, CorvalentStyle::teal()};
    if (load < 0.35) return {"Light load" + suffix, CorvalentStyle::cyan()};
    if (load < 0.7) return {"Busy" + suffix, CorvalentStyle::orange()};
    return {"High load" + suffix, CorvalentStyle::red()};  // NaN lands here too
}

OverviewMetricState diskOverviewState(const std::optional<DiskCapacity>& capacity, const QPalette& palette)
{
    if (!capacity || capacity->total == 0) return {"Reading disk capacity", CorvalentStyle::secondary(palette)};
    const double free = static_cast<double>(capacity->available) / static_cast<double>(capacity->total);
    // std::round rounds halves away from zero.
    const QString percent = QString::number(static_cast<long long>(std::round(free * 100.0))) + "% free" + dot;
    if (free >= 0.25) return {percent + "comfortable", CorvalentStyle::teal()};
    if (free >= 0.12) return {percent + "getting tight", CorvalentStyle::orange()};
    if (free >= 0.05) return {percent + "low space", CorvalentStyle::orange()};
    return {percent + "almost full", CorvalentStyle::red()};
}

OverviewMetricState swapOverviewState(std::optional<std::uint64_t> swapBytes, std::uint64_t physicalMemory,
                                      const QPalette& palette)
{
    if (!swapBytes) return {"Waiting for system data", CorvalentStyle::secondary(palette)};
    if (*swapBytes == 0) return {"No RAM stored on disk", CorvalentStyle::teal()};
    const double share =
        static_cast<double>(*swapBytes) / static_cast<double>(std::max<std::uint64_t>(physicalMemory, 1));
    if (share < 0.05) return {"Light use" + dot + "RAM on disk", CorvalentStyle::teal()};
    if (share < 0.2) return {"Some RAM is on disk", CorvalentStyle::cyan()};
    return {"Heavy use" + dot + "may feel slower", CorvalentStyle::orange()};
}

QString cpuMetricHelp(int activeCores)
{
    const int cores = std::max(activeCores, 1);
    return "Combined load from measured processes. This computer has " + QString::number(cores) +
           " active cores: 100% is one core; " + groupedCount(static_cast<std::int64_t>(cores) * 100) +
           "% is all cores.";
}

QString diskMetricHelp(const std::optional<DiskCapacity>& capacity)
{
    if (!capacity) return "Usable space on the selected disk, not counting space the file system keeps in reserve.";
    return QString::fromStdString(capacity->volumeName) + ": " + bytesText(capacity->available) + " available, " +
           bytesText(capacity->used()) + " used of " + bytesText(capacity->total) +
           ". Available space leaves out space the file system keeps in reserve.";
}

QString processRefreshDetail(const QDateTime& lastRefreshedAt)
{
    if (!lastRefreshedAt.isValid()) return "Waiting for first refresh";
    // One fixed zone, so that the time reads the same on every machine.
    const QTimeZone pacific("America/Los_Angeles");
    const auto shown = pacific.isValid() ? lastRefreshedAt.toTimeZone(pacific) : lastRefreshedAt.toLocalTime();
    return "Updated " + english().toString(shown, "h:mm AP t");
}

EmptySummary runningWorkEmpty(bool sampled, int hiddenProtected)
{
    if (!sampled) return {"Reading processes\u2026", "arrow.triangle.2.circlepath", {}};
    QString detail;
    if (hiddenProtected > 0)
        detail = groupedCount(hiddenProtected) +
                 (hiddenProtected == 1 ? " protected process hidden" : " protected processes hidden");
    return {"No running work to show", "waveform.path.ecg", detail};
}

StorageFooter storageOverviewFooter(const DiskModel& model)
{
    return storageOverviewFooter(model.status(), model.scannedEntries(), model.result(), model.volumes());
}

StorageFooter storageOverviewFooter(const DiskModelStatus& status, std::int64_t scannedEntries,
                                    const std::optional<DiskScanResult>& result, const std::vector<DiskVolume>& volumes)
{
    using Kind = DiskModelStatus::Kind;
    switch (status.kind) {
    case Kind::idle: {
        const auto count = static_cast<std::int64_t>(volumes.size());
        const QString detail = count == 0 ? QString("No disks found")
                                          : groupedCount(count) + (count == 1 ? " disk" : " disks") + " connected";
        std::optional<QString> help;
        if (!volumes.empty()) {
            QStringList names;
            for (const auto& volume : volumes)
                names << QString::fromStdString(volume.name) + (isExternal(volume) ? " (external)" : "");
            help = "Connected: " + names.join(", ");
        }
        return {"Not scanned", detail, "internaldrive", help};
    }
    case Kind::scanning:
        return {"Mapping " + groupedCount(scannedEntries) + " items", "Results build as the scan progresses",
                "arrow.triangle.2.circlepath", std::nullopt};
    case Kind::ready: {
        if (!result) return {"Disk map ready", "Open Disk Space to explore", "checkmark.circle.fill", std::nullopt};
        const QString measured = groupedCount(result->root.fileCount) + " files measured";
        if (result->cancelled) return {"Partial map saved", measured, "pause.circle.fill", std::nullopt};
        return {"Disk map ready", measured, "checkmark.circle.fill", std::nullopt};
    }
    case Kind::failed:
        return {"Scan needs attention", status.message, "exclamationmark.triangle.fill", std::nullopt};
    }
    return {};
}

}  // namespace corvalent

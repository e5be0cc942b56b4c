#pragma once

// The texts and tints of the overview: what each metric card and summary
// footer says for the models' current figures. Plain functions, so that every
// threshold can be checked without a window.

#include <QColor>
#include <QDateTime>
#include <QPalette>
#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "core/disk/disk.h"
#include "core/process/memory_pressure.h"
#include "models/disk_model.h"

namespace corvalent {

struct OverviewMetricState {
    QString text;
    QColor tint;
    bool operator==(const OverviewMetricState&) const = default;
};

OverviewMetricState memoryOverviewState(MemoryPressure pressure, const QPalette& palette);
OverviewMetricState cpuOverviewState(std::optional<double> measuredCPU, int activeCores, const QPalette& palette);
OverviewMetricState diskOverviewState(const std::optional<DiskCapacity>& capacity, const QPalette& palette);
// `swapBytes` is absent without a sample or without swap.
OverviewMetricState swapOverviewState(std::optional<std::uint64_t> swapBytes, std::uint64_t physicalMemory,
                                      const QPalette& palette);

QString cpuMetricHelp(int activeCores);
QString diskMetricHelp(const std::optional<DiskCapacity>& capacity);
// `lastRefreshedAt` invalid: no refresh yet.
QString processRefreshDetail(const QDateTime& lastRefreshedAt);

struct StorageFooter {
    QString title;
    QString detail;
    QString symbol;
    std::optional<QString> help;
    bool operator==(const StorageFooter&) const = default;
};

StorageFooter storageOverviewFooter(const DiskModel& model);
StorageFooter storageOverviewFooter(const DiskModelStatus& status, std::int64_t scannedEntries,
                                    const std::optional<DiskScanResult>& result,
                                    const std::vector<DiskVolume>& volumes);

// What the running-work panel says while it has no group to list: that the
// first sample is still being read, or, once one has come, that nothing is
// visible and how many protected processes the visibility settings hide.
struct EmptySummary {
    QString title;
    QString symbol;
    QString detail;  // empty for none
    bool operator==(const EmptySummary&) const = default;
};

EmptySummary runningWorkEmpty(bool sampled, int hiddenProtected);

// The cores the system schedules on; at least 1.
int activeCoreCount();
// Installed memory in bytes; at least 1.
std::uint64_t physicalMemoryBytes();

}  // namespace corvalent

#include "models/performance_check.h"

#include <QCoreApplication>
#include <QDir>
#include <QStringList>
#include <QTimer>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "core/disk/disk.h"
#include "models/app_notifications.h"
#include "models/background_task.h"
#include "models/vantle_model.h"

namespace corvalent::PerformanceCheck {
namespace {

bool argumentGiven(const char* flag)
{
    const auto arguments = QCoreApplication::arguments();
    return arguments.contains(QLatin1String(flag));
}

constexpr double runSeconds = 12.0;
constexpr int stepMilliseconds = 16;

std::string number(double value)
{
    if (!std::isfinite(value)) return "0";
    char text[64];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string quoted(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '/': out += "\\/"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                constexpr char hex[] = "0123456789abcdef";
                out += "\\u00";
                out += hex[(c >> 4) & 0xF];
                out += hex[c & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

// Writes the report and tells whether all of it reached standard output.
bool print(const std::string& text)
{
    std::size_t written = 0;
    while (written < text.size()) {
        const auto n = ::write(STDOUT_FILENO, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        written += static_cast<std::size_t>(n);
    }
    return true;
}

// The process run: steps of 16 ms on the GUI thread for 12 s, each measuring
// how late the event loop answers, while the model filters, sorts and the
// list scrolls as a person would make it.
class ProcessRun : public QObject {
public:
    ProcessRun(VantleModel& model, std::function<void(int)> finished) : model_(model), finished_(std::move(finished))
    {
        // Measure only once there is something to show.
        if (model_.snapshot()) {
            begin();
        } else {
            connect(&model_, &VantleModel::snapshotChanged, this, &ProcessRun::begin, Qt::SingleShotConnection);
            model_.refresh();
        }
    }

private:
    void begin()
    {
        start_ = uptimeSeconds();
        const auto groups = model_.groups();
        if (!groups.empty()) model_.setFocused(groups.front().id);
        for (const auto& group : groups) ids_.push_back(QString::fromStdString(group.id));
        step();
    }

    void step()
    {
        if (uptimeSeconds() - start_ >= runSeconds) {
            finish();
            return;
        }
        const double stepStart = uptimeSeconds();
        QTimer::singleShot(stepMilliseconds, Qt::PreciseTimer, this, [this, stepStart] {
            const double lateness = uptimeSeconds() - (stepStart + stepMilliseconds / 1000.0);
            samples_.push_back(lateness >= 0 ? lateness * 1000.0 : 0.0);
            const auto n = samples_.size();
            if (n % 90 == 0) model_.setSearch(model_.search().isEmpty() ? QStringLiteral("Test worker") : QString());
            if (n % 120 == 0) model_.setSortCPU(!model_.sortCPU());
            if (n % 30 == 0 && !ids_.empty()) {
                const auto k = n / 30;
                emit AppNotifications::instance().performanceScroll(k % 2 == 1 ? ids_.back() : ids_.front());
            }
            step();
        });
    }

    void finish()
    {
        std::sort(samples_.begin(), samples_.end());
        std::map<std::string, ReportValue> report;
        report["fixture_processes"] = std::int64_t{2'000};
        report["heartbeat_samples"] = static_cast<std::int64_t>(samples_.size());
        report["main_actor_delay_p95_ms"] = percentile95(samples_);
        report["main_actor_delay_max_ms"] = samples_.empty() ? 0.0 : samples_.back();
        if (model_.snapshot())
            report["snapshot_preparation_ms"] = model_.snapshot()->preparationMS;
        else
            report["snapshot_preparation_ms"] = std::int64_t{0};
        const bool written = print(reportJSON(report));
        finished_(written ? 0 : 1);
        deleteLater();
    }

    VantleModel& model_;
    std::function<void(int)> finished_;
    double start_ = 0;
    std::vector<QString> ids_;
    std::vector<double> samples_;
};

void runDisk(VantleModel& model, std::function<void(int)> finished)
{
    const auto root = QDir::currentPath().toStdString();
    BackgroundTask::start(
        &model,
        [root](std::stop_token) {
            const DiskProcessOwner fixture{"performance-fixture", "Performance fixture", std::nullopt, {root}, 0,
                                           std::nullopt};
            return DiskScanner::scan(root, false, DiskScanner::defaultHierarchyDepth,
                                     DiskScanner::defaultChildrenPerFolder, {fixture}, {});
        },
        [finished = std::move(finished)](DiskScanResult result) {
            std::map<std::string, ReportValue> report;
            report["disk_scan_duration_ms"] = result.duration * 1000.0;
            report["disk_scanned_entries"] = result.scannedEntries;
            report["disk_measured_bytes"] = static_cast<std::int64_t>(
                std::min<std::uint64_t>(result.root.bytes, static_cast<std::uint64_t>(INT64_MAX)));
            report["disk_inaccessible_entries"] = result.inaccessibleEntries;
            report["disk_root_path"] = result.root.path.value_or("");
            report["disk_root_children"] = static_cast<std::int64_t>(result.root.children.size());
            const auto* first = result.ownerStorage.empty() ? nullptr : &result.ownerStorage.front();
            report["disk_attributed_bytes"] = first ? static_cast<std::int64_t>(std::min<std::uint64_t>(
                                                          first->bytes(), static_cast<std::uint64_t>(INT64_MAX)))
                                                    : std::int64_t{0};
            report["disk_attributed_files"] = first ? first->fileCount() : std::int64_t{0};
            finished(print(reportJSON(report)) ? 0 : 1);
        });
}

}  // namespace

std::string reportJSON(const std::map<std::string, ReportValue>& report)
{
    std::string text = "{";
    bool first = true;
    for (const auto& [key, value] : report) {
        text += first ? "\n  " : ",\n  ";
        first = false;
        text += quoted(key) + " : ";
        if (const auto* integer = std::get_if<std::int64_t>(&value))
            text += std::to_string(*integer);
        else if (const auto* real = std::get_if<double>(&value))
            text += number(*real);
        else
            text += quoted(std::get<std::string>(value));
    }
    return text + (first ? "}" : "\n}");
}

double percentile95(const std::vector<double>& sorted)
{
    if (sorted.empty()) return 0.0;
    return sorted[static_cast<std::size_t>(static_cast<double>(sorted.size() - 1) * 0.95)];
}

void run(VantleModel& model, std::function<void(int)> finished)
{
    if (diskEnabled())
        runDisk(model, std::move(finished));
    else if (processEnabled())
        new ProcessRun(model, std::move(finished));
    else
        finished(0);
}

bool processEnabled()
{
    static const bool value = argumentGiven("--performance-check");
    return value;
}

bool diskEnabled()
{
    static const bool value = argumentGiven("--disk-performance-check");
    return value;
}

bool enabled()
{
    return processEnabled() || diskEnabled();
}

VantleModelEnvironment measuredEnvironment(VantleModelEnvironment environment)
{
    environment.sample = [](const ScanResult*) { return scan(); };
    environment.measurementMode = true;
    return environment;
}

ScanResult scan()
{
    ScanResult result;
    result.records.reserve(2'000);
    const auto user = ::getuid();
    for (std::int32_t i = 0; i < 2'000; ++i) {
        const auto number = std::to_string(i);
        result.records.push_back(ProcessRecord::make(100'000 + i, 1, user, 1, 0,
                                                     static_cast<std::uint64_t>(2'000 - i) * 1'024,
                                                     "Test worker " + number,
                                                     "/System/Library/PerformanceFixture/worker-" + number, "/", ""));
    }
    result.pressure = MemoryPressure::normal;
    result.swap = 0;
    result.timestamp = uptimeSeconds();
    result.duration = 0;
    return result;
}

}  // namespace corvalent::PerformanceCheck

#pragma once

// The process workspace's state on the GUI thread: the latest sample and its
// rows, the user's selection and filters, the sampling loop, stopping and the
// impact review. The process table is read in the thread pool; only results
// are published here.

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/process/impact_assessment.h"
#include "core/process/snapshot.h"
#include "models/background_task.h"
#include "models/running_applications.h"

namespace corvalent {

// A prepared stop, shown for confirmation.
struct StopRequest {
    QString id;
    std::vector<ProcessRecord> records;  // by pid
    std::vector<std::string> impacts;    // one per group holding a selected process
    bool force = false;
};

// An open impact review.
struct ImpactReview {
    QString id;
    ImpactAssessment assessment;
    std::vector<ProcessRecord> records;
};

// What the model takes from its surroundings; tests replace any of it.
struct VantleModelEnvironment {
    // The process table, or the measurement fixture; given the previous
    // sample (null at first), which spares re-reading what it already knows.
    std::function<ScanResult(const ScanResult* previous)> sample;
    bool measurementMode = false;                      // fixture mode: nothing can be stopped
    std::function<double()> uptime;                    // seconds on a steady clock
    std::shared_ptr<RunningApplications> applications;
    ApplicationPlaces applicationPlaces;  // where installed applications are read; none by default
    double applicationsCheckInterval = 60.0;  // seconds between checks of the applications folders
    int tickMilliseconds = 1'000;
    double shownInterval = 3.0;
    double hiddenInterval = 30.0;
    int stopFollowUpMilliseconds = 3'000;

    static VantleModelEnvironment system();
};

class VantleModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString search READ search WRITE setSearch NOTIFY searchChanged)
    Q_PROPERTY(bool sortCPU READ sortCPU WRITE setSortCPU NOTIFY sortCPUChanged)
    Q_PROPERTY(bool showSystem READ showSystem WRITE setShowSystem NOTIFY showSystemChanged)
    Q_PROPERTY(bool showProtectedProcesses READ showProtectedProcesses WRITE setShowProtectedProcesses NOTIFY
                   showProtectedProcessesChanged)
    Q_PROPERTY(bool scanning READ scanning NOTIFY scanningChanged)
    Q_PROPERTY(bool stopping READ stopping NOTIFY stoppingChanged)
    Q_PROPERTY(QString status READ status NOTIFY statusChanged)
    Q_PROPERTY(QString focused READ focusedText NOTIFY focusedChanged)
    Q_PROPERTY(QDateTime lastRefreshedAt READ lastRefreshedAt NOTIFY lastRefreshedAtChanged)

public:
    explicit VantleModel(VantleModelEnvironment environment = VantleModelEnvironment::system(),
                         QObject* parent = nullptr);
    ~VantleModel() override;

    // Published state.
    const std::optional<ProcessSnapshot>& snapshot() const { return snapshot_; }
    const std::vector<ProcessGroup>& visible() const { return visible_; }
    const std::set<std::string>& selected() const { return selected_; }
    void setSelected(std::set<std::string> ids);
    const std::optional<std::string>& focused() const { return focused_; }
    QString focusedText() const { return focused_ ? QString::fromStdString(*focused_) : QString(); }
    void setFocused(std::optional<std::string> id);
    QString search() const { return search_; }
    void setSearch(const QString& text);
    bool sortCPU() const { return sortCPU_; }
    void setSortCPU(bool on);
    bool showSystem() const { return showSystem_; }
    void setShowSystem(bool on);
    bool showProtectedProcesses() const { return showProtectedProcesses_; }
    void setShowProtectedProcesses(bool on);
    bool scanning() const { return scanning_; }
    bool stopping() const { return stopping_; }
    QString status() const { return status_; }
    const std::optional<StopRequest>& request() const { return request_; }
    void setRequest(std::optional<StopRequest> request);
    const std::optional<ImpactReview>& impactReview() const { return impactReview_; }
    void setImpactReview(std::optional<ImpactReview> review);
    QDateTime lastRefreshedAt() const { return lastRefreshedAt_; }
    std::optional<double> measuredCPU() const { return measuredCPU_; }

    // Derived on every read.
    std::vector<ProcessGroup> groups() const;
    MemoryPressure pressure() const;
    QString swap() const;
    int availableProcessCount() const;
    std::uint64_t selectedMemory() const;
    int scanMS() const;
    int hiddenProtectedCount() const;
    std::optional<ProcessGroup> detail() const;
    std::vector<ProcessRecord> chosen() const;

    // Starts the sampling loop once.
    void start();
    // Takes one sample and publishes it; `done` runs when it is published, or
    // at once when a sample is already in flight.
    void refresh(std::function<void()> done = {});
    void setProcessViewActive(bool active);
    bool processViewActive() const { return processViewActive_; }
    // Whether the main window is on screen (shown, not minimised); the shell
    // tells. Samples come at the shown interval only while it is.
    void setWindowShown(bool shown);
    bool windowShown() const { return windowShown_; }
    // Working on the measurement's fixed table: nothing can be stopped.
    bool measuring() const { return environment_.measurementMode; }
    void toggle(const ProcessGroup& group);
    void prepare(bool force);
    // Carries out a confirmed request; `done` runs when the outcome is known.
    // The request is taken by value: callers often pass the model's own
    // `request()`, which the stop clears.
    void stop(StopRequest request, std::function<void()> done = {});
    void explainSelection();

signals:
    void snapshotChanged();
    void visibleChanged();
    void selectedChanged();
    void focusedChanged();
    void searchChanged();
    void sortCPUChanged();
    void showSystemChanged();
    void showProtectedProcessesChanged();
    void scanningChanged();
    void stoppingChanged();
    void statusChanged();
    void requestChanged();
    void impactReviewChanged();
    void lastRefreshedAtChanged();

private:
    void filter();
    void tick();
    void setScanning(bool on);
    void setStopping(bool on);
    void setStatus(const QString& text);
    void publish(ProcessSnapshot snapshot);
    void finishStop(const StopRequest& request, const std::vector<std::string>& failures,
                    const std::set<std::string>& refusedAsStale, std::function<void()> done);

    VantleModelEnvironment environment_;
    std::optional<ProcessSnapshot> snapshot_;
    std::vector<ProcessGroup> visible_;
    std::set<std::string> selected_;
    std::optional<std::string> focused_;
    QString search_;
    bool sortCPU_ = false;
    bool showSystem_ = false;
    bool showProtectedProcesses_ = false;
    bool scanning_ = false;
    bool stopping_ = false;
    QString status_;
    std::optional<StopRequest> request_;
    std::optional<ImpactReview> impactReview_;
    QDateTime lastRefreshedAt_;
    std::optional<double> measuredCPU_;

    // Built off the GUI thread with a sample; replaced when its folders changed.
    std::shared_ptr<const ApplicationIndex> installedApplications_ = std::make_shared<const ApplicationIndex>();
    std::optional<double> applicationsCheckedAt_;
    QTimer* loop_ = nullptr;
    BackgroundTask impactTask_;
    double lastScan_ = 0;  // uptime at which the latest published sample was taken
    bool processViewActive_ = true;
    bool windowShown_ = false;
    std::vector<std::function<void()>> afterRefresh_;  // waiting for the sample in flight
};

}  // namespace corvalent

#include "models/vantle_model.h"

#include <QUuid>

#include <algorithm>

#include "core/common/display.h"
#include "core/common/saturating.h"
#include "models/preferences.h"

namespace corvalent {
namespace {

const QString readingStatus = QStringLiteral("Reading local processes…");
const QString readyStatus = QStringLiteral("Select only work you are ready to stop.");
constexpr int impactGroupLimit = 12;

struct StopWork {
    std::vector<std::string> failures;
    std::set<std::string> refusedAsStale;  // not stopped: never to be counted as exited
};

StopWork stopWork(const std::vector<ProcessStopOutcome>& outcomes)
{
    StopWork work;
    for (const auto& outcome : outcomes) {
        if (!outcome.failure.empty()) work.failures.push_back(outcome.failure);
        if (outcome.result == ProcessStopResult::refusedAsStale) work.refusedAsStale.insert(outcome.id);
    }
    return work;
}

QString outcomeMessage(std::size_t requested, std::size_t survivors, const std::vector<std::string>& failures)
{
    auto message = QString::number(requested - survivors) + " of " + QString::number(requested) +
                   " selected processes exited.";
    if (survivors >= 1)
        message += " " + QString::number(survivors) +
                   " still running; check for save dialogs or review before force stopping.";
    if (!failures.empty()) {
        QStringList shown;
        for (std::size_t i = 0; i < std::min<std::size_t>(failures.size(), 3); ++i)
            shown << QString::fromStdString(failures[i]);
        message += " " + shown.join("; ");
    }
    return message + " Apps may start new helpers automatically.";
}

}  // namespace

VantleModelEnvironment VantleModelEnvironment::system()
{
    VantleModelEnvironment environment;
    environment.sample = [](const ScanResult* previous) { return Scanner::scan(previous); };
    environment.uptime = uptimeSeconds;
    environment.applications = systemRunningApplications();
    environment.applicationPlaces = ApplicationPlaces::fromEnvironment();
    return environment;
}

VantleModel::VantleModel(VantleModelEnvironment environment, QObject* parent)
    : QObject(parent),
      environment_(std::move(environment)),
      showProtectedProcesses_(Preferences::standard().showProtectedProcesses()),
      status_(readingStatus)
{
}

VantleModel::~VantleModel() = default;

void VantleModel::setSelected(std::set<std::string> ids)
{
    selected_ = std::move(ids);
    emit selectedChanged();
}

void VantleModel::setFocused(std::optional<std::string> id)
{
    focused_ = std::move(id);
    emit focusedChanged();
}

void VantleModel::setSearch(const QString& text)
{
    search_ = text;
    emit searchChanged();
    filter();
}

void VantleModel::setSortCPU(bool on)
{
    sortCPU_ = on;
    emit sortCPUChanged();
    filter();
}

void VantleModel::setShowSystem(bool on)
{
    showSystem_ = on;
    emit showSystemChanged();
    filter();
}

void VantleModel::setShowProtectedProcesses(bool on)
{
    showProtectedProcesses_ = on;
    emit showProtectedProcessesChanged();
    Preferences::standard().setShowProtectedProcesses(on);
    filter();
}

void VantleModel::setRequest(std::optional<StopRequest> request)
{
    request_ = std::move(request);
    emit requestChanged();
}

void VantleModel::setImpactReview(std::optional<ImpactReview> review)
{
    impactReview_ = std::move(review);
    emit impactReviewChanged();
}

void VantleModel::setScanning(bool on)
{
    scanning_ = on;
    emit scanningChanged();
}

void VantleModel::setStopping(bool on)
{
    stopping_ = on;
    emit stoppingChanged();
}

void VantleModel::setStatus(const QString& text)
{
    status_ = text;
    emit statusChanged();
}

std::vector<ProcessGroup> VantleModel::groups() const
{
    if (!snapshot_) return {};
    if (showProtectedProcesses_ || environment_.measurementMode)
        return showSystem_ ? snapshot_->groups : snapshot_->userGroups;
    return showSystem_ ? snapshot_->unprotectedGroups : snapshot_->unprotectedUserGroups;
}

MemoryPressure VantleModel::pressure() const
{
    return snapshot_ ? snapshot_->result.pressure : MemoryPressure::unavailable;
}

QString VantleModel::swap() const
{
    if (!snapshot_ || !snapshot_->result.swap) return "Unavailable";
    return QString::fromStdString(Display::bytes(*snapshot_->result.swap));
}

int VantleModel::availableProcessCount() const
{
    int count = 0;
    for (const auto& group : groups()) count += static_cast<int>(group.stoppable.size());
    return count;
}

std::uint64_t VantleModel::selectedMemory() const
{
    std::uint64_t total = 0;
    for (const auto& record : chosen())
        if (record.memory) total = saturatingAdd(total, *record.memory);
    return total;
}

int VantleModel::scanMS() const
{
    if (!snapshot_) return 0;
    return static_cast<int>(snapshot_->result.duration * 1000.0 + snapshot_->preparationMS);
}

int VantleModel::hiddenProtectedCount() const
{
    if (showProtectedProcesses_ || environment_.measurementMode || !snapshot_) return 0;
    int count = 0;
    for (const auto& group : showSystem_ ? snapshot_->groups : snapshot_->userGroups)
        count += static_cast<int>(group.members.size() - group.stoppable.size());
    return count;
}

std::optional<ProcessGroup> VantleModel::detail() const
{
    if (!focused_) return std::nullopt;
    for (auto& group : groups())
        if (group.id == *focused_) return group;
    return std::nullopt;
}

std::vector<ProcessRecord> VantleModel::chosen() const
{
    std::vector<ProcessRecord> records;
    if (!snapshot_) return records;
    for (const auto& id : selected_) {
        const auto found = snapshot_->eligible.find(id);
        if (found != snapshot_->eligible.end()) records.push_back(found->second);
    }
    std::stable_sort(records.begin(), records.end(),
                     [](const ProcessRecord& a, const ProcessRecord& b) { return a.pid < b.pid; });
    return records;
}

void VantleModel::filter()
{
    auto list = groups();
    if (!search_.isEmpty()) {
        std::erase_if(list, [&](const ProcessGroup& group) {
            return !QString::fromStdString(group.searchText).contains(search_, Qt::CaseInsensitive);
        });
    }
    if (sortCPU_) {
        std::stable_sort(list.begin(), list.end(), [](const ProcessGroup& a, const ProcessGroup& b) {
            const double keyA = a.cpu.value_or(-1.0);
            const double keyB = b.cpu.value_or(-1.0);
            if (keyA != keyB) return keyA > keyB;
            return a.id < b.id;
        });
    }
    visible_ = std::move(list);
    emit visibleChanged();
}

void VantleModel::start()
{
    if (loop_ != nullptr) return;
    loop_ = new QTimer(this);
    loop_->setInterval(environment_.tickMilliseconds);
    connect(loop_, &QTimer::timeout, this, &VantleModel::tick);
    loop_->start();
}

void VantleModel::tick()
{
    if (!processViewActive_) return;
    const double interval = windowShown_ ? environment_.shownInterval : environment_.hiddenInterval;
    if (environment_.uptime() - lastScan_ >= interval && !request_ && !impactReview_ && !stopping_) refresh();
}

void VantleModel::refresh(std::function<void()> done)
{
    if (scanning_) {
        if (done) done();
        return;
    }
    setScanning(true);
    auto previous = snapshot_;
    auto sample = environment_.sample;
    // The applications folders are checked at most once an interval; the
    // index is rebuilt only when they changed.
    const double now = environment_.uptime();
    const bool checkApplications =
        !applicationsCheckedAt_ || now - *applicationsCheckedAt_ >= environment_.applicationsCheckInterval;
    if (checkApplications) applicationsCheckedAt_ = now;
    struct Sampled {
        ProcessSnapshot snapshot;
        std::shared_ptr<const ApplicationIndex> applications;
    };
    BackgroundTask::start(
        this,
        [previous = std::move(previous), sample, checkApplications, places = environment_.applicationPlaces,
         applications = installedApplications_](std::stop_token) mutable {
            if (checkApplications && ApplicationIndex::stamp(places) != applications->builtStamp())
                applications = std::make_shared<const ApplicationIndex>(ApplicationIndex::build(places));
            auto snapshot = ProcessSnapshot::make(sample(previous ? &previous->result : nullptr),
                                                  previous ? &*previous : nullptr, *applications);
            return Sampled{std::move(snapshot), std::move(applications)};
        },
        [this, done = std::move(done)](Sampled fresh) {
            installedApplications_ = std::move(fresh.applications);
            publish(std::move(fresh.snapshot));
            if (done) done();
        },
        {.lane = TaskLane::processes});
}

void VantleModel::publish(ProcessSnapshot fresh)
{
    std::optional<double> total;
    for (const auto& record : fresh.result.records)
        if (record.cpu) total = total.value_or(0.0) + *record.cpu;
    measuredCPU_ = total;
    snapshot_ = std::move(fresh);
    emit snapshotChanged();
    // The cadence runs from when the sample was taken, not from when it
    // arrived here: a slow sample or a busy GUI thread would delay every next one.
    lastScan_ = snapshot_->result.timestamp;
    lastRefreshedAt_ = QDateTime::currentDateTime();
    emit lastRefreshedAtChanged();
    std::set<std::string> kept;
    for (const auto& id : selected_)
        if (snapshot_->eligible.count(id) == 1) kept.insert(id);
    setSelected(std::move(kept));
    filter();
    setScanning(false);
    if (status_ == readingStatus) setStatus(readyStatus);

    auto waiting = std::move(afterRefresh_);
    afterRefresh_.clear();
    for (auto& callback : waiting) callback();
}

void VantleModel::setWindowShown(bool shown)
{
    // Read at the next tick: the cadence follows within one tick.
    windowShown_ = shown;
}

void VantleModel::setProcessViewActive(bool active)
{
    processViewActive_ = active;
    if (active && environment_.uptime() - lastScan_ >= environment_.shownInterval) refresh();
}

void VantleModel::toggle(const ProcessGroup& group)
{
    const bool allSelected = std::all_of(group.stoppableIDs.begin(), group.stoppableIDs.end(),
                                         [&](const std::string& id) { return selected_.count(id) == 1; });
    auto ids = selected_;
    for (const auto& id : group.stoppableIDs) {
        if (allSelected)
            ids.erase(id);
        else
            ids.insert(id);
    }
    setSelected(std::move(ids));
}

void VantleModel::prepare(bool force)
{
    if (environment_.measurementMode) return;
    auto records = chosen();
    if (records.empty() || stopping_) return;
    std::vector<std::string> impacts;
    for (const auto& group : groups()) {
        if (std::any_of(group.members.begin(), group.members.end(),
                        [&](const ProcessRecord& member) { return selected_.count(member.id()) == 1; }))
            impacts.push_back(group.impact);
    }
    setRequest(StopRequest{QUuid::createUuid().toString(QUuid::WithoutBraces), std::move(records), std::move(impacts),
                           force});
}

void VantleModel::stop(StopRequest request, std::function<void()> done)
{
    if (environment_.measurementMode) return;
    // One stop at a time: a second confirmation must not start a second stop
    // whose end would clear the first one's state.
    if (stopping_) return;
    setRequest(std::nullopt);
    setStopping(true);
    const auto currentGroups = groups();
    auto platform = environment_.applications;
    const auto applications = platform->list(currentGroups);
    BackgroundTask::start(
        this,
        [request, applications, currentGroups, platform, installed = installedApplications_](std::stop_token) {
            return stopWork(ProcessStop::stop(
                request.records, request.force, applications, currentGroups, *installed,
                [&platform](const RunningApplication& application) { return platform->terminate(application); }));
        },
        [this, request, done = std::move(done)](StopWork work) mutable {
            setStatus(QStringLiteral("Stop requested. Checking which processes exited…"));
            QTimer::singleShot(environment_.stopFollowUpMilliseconds, this,
                               [this, request, work = std::move(work), done = std::move(done)]() mutable {
                                   finishStop(request, work.failures, work.refusedAsStale, std::move(done));
                               });
        },
        {.lane = TaskLane::processes, .userInitiated = true});
}

void VantleModel::finishStop(const StopRequest& request, const std::vector<std::string>& failures,
                             const std::set<std::string>& refusedAsStale, std::function<void()> done)
{
    // The outcome needs a sample taken after the wait: a sample already in
    // flight may have started before the processes exited.
    auto judge = [this, request, failures, refusedAsStale, done = std::move(done)]() {
        std::set<std::string> present;
        if (snapshot_)
            for (const auto& record : snapshot_->result.records) present.insert(record.id());
        std::set<std::string> survivors;
        for (const auto& record : request.records)
            if (present.count(record.id()) == 1 || refusedAsStale.count(record.id()) == 1) survivors.insert(record.id());
        std::set<std::string> stillEligible;
        for (const auto& id : survivors)
            if (snapshot_ && snapshot_->eligible.count(id) == 1) stillEligible.insert(id);
        setSelected(std::move(stillEligible));
        setStatus(outcomeMessage(request.records.size(), survivors.size(), failures));
        setStopping(false);
        if (done) done();
    };
    if (scanning_)
        afterRefresh_.push_back([this, judge = std::move(judge)]() mutable { refresh(std::move(judge)); });
    else
        refresh(std::move(judge));
}

void VantleModel::explainSelection()
{
    if (environment_.measurementMode || stopping_) return;
    auto records = chosen();
    if (records.empty()) return;
    const auto currentGroups = groups();
    std::unordered_set<std::string> ids;
    for (const auto& record : records) ids.insert(record.id());
    impactTask_.cancel();
    impactTask_ = BackgroundTask::start(
        this,
        [currentGroups, ids](std::stop_token) { return ImpactAssessment::make(currentGroups, ids, impactGroupLimit); },
        [this, ids, records = std::move(records)](ImpactAssessment assessment) mutable {
            if (stopping_ || assessment.selectedCount < 1) return;
            const std::set<std::string> asked(ids.begin(), ids.end());
            if (asked != selected_) return;
            setImpactReview(ImpactReview{QUuid::createUuid().toString(QUuid::WithoutBraces), std::move(assessment),
                                         std::move(records)});
        },
        {.lane = TaskLane::processes});
}

}  // namespace corvalent

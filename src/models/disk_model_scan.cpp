// The disk model's scan: its start, progress and end, a stop, and the wait
// of a scan whose place an earlier scan still reads.

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

#include "core/common/paths.h"
#include "models/disk_model.h"
#include "models/preferences.h"

namespace corvalent {
namespace {

// Runs `work` on the GUI thread with the model, unless the model is gone by
// then. Called from a job: the guard is read on the GUI thread only.
template <typename Work>
void postToModel(QPointer<DiskModel> model, Work work)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [model, work = std::move(work)]() mutable {
            if (model) work(*model);
        },
        Qt::QueuedConnection);
}

}  // namespace

// The newest progress report of the running scan, handed from the walking
// thread to the GUI thread; older unread reports are simply overwritten.
struct DiskModel::Progress {
    std::mutex lock;
    DiskScanProgress latest;
    bool posted = false;
};

void DiskModel::stopScan()
{
    if (status_.kind != DiskModelStatus::Kind::scanning || stopping_) return;
    if (waitingScan_) {
        // Nothing started yet: the scan ends now.
        waitingScan_.reset();
        DiskScanResult nothing;
        nothing.cancelled = true;
        finishScan(scanID_, std::move(nothing));
        return;
    }
    stopping_ = true;
    publish({.scan = true});
    scanTask_.cancel();
    QTimer::singleShot(environment_.stopGraceMilliseconds, this, [this, token = scanID_] {
        if (token != scanID_ || !stopping_) return;
        DiskScanResult nothing;
        nothing.cancelled = true;
        finishScan(token, std::move(nothing));
        ++scanID_;  // what the job hands back later is dropped
    });
}

DiskModel::Areas DiskModel::discardActiveScan()
{
    const Areas discarded{.scan = stopping_ || estimatedTotalBytes_ || previousTotalFiles_,
                          .duplicates = verifyingDuplicateGroupID_.has_value()};
    ++scanID_;
    scanTask_.cancel();
    scanTask_ = {};
    waitingScan_.reset();
    stopping_ = false;
    estimatedTotalBytes_.reset();
    previousTotalFiles_.reset();
    insightsTask_.cancel();
    duplicateTask_.cancel();
    duplicateTask_ = {};
    verifyingDuplicateGroupID_.reset();
    return discarded;
}

void DiskModel::scan(const std::string& path)
{
    const auto discarded = discardActiveScan();
    const auto token = ++scanID_;
    scannedEntries_ = 0;
    scannedFiles_ = 0;
    scannedBytes_ = 0;
    scanStartedAt_ = environment_.uptime();
    // Shown until the resolved root arrives: resolving links touches the file
    // system, which may hang (a network mount), so the job does it.
    scanningPath_ = Paths::standardized(path);
    stopping_ = false;
    status_ = {DiskModelStatus::Kind::scanning, {}};
    publish(Areas{.scan = true} | discarded | clearActionResults());

    const bool includePrivacy = Preferences::standard().includePrivacyProtectedLocations();
    scanOwners_ = processOwners_;
    if (const auto place = Paths::standardized(path); busyPlaces_.contains(place)) {
        waitingScan_ = WaitingScan{token, path, place, includePrivacy};
        return;
    }
    startScanJob(token, path, includePrivacy);
}

// Lets the model know when nothing of one scan reads its place any more:
// its job has ended and its walk's last reader has left.
struct DiskModel::PlaceLease {
    QPointer<DiskModel> model;
    std::string place;

    PlaceLease(QPointer<DiskModel> owner, std::string path) : model(std::move(owner)), place(std::move(path)) {}
    PlaceLease(const PlaceLease&) = delete;
    PlaceLease& operator=(const PlaceLease&) = delete;
    ~PlaceLease()
    {
        if (QCoreApplication::instance() == nullptr) return;
        postToModel(model, [place = std::move(place)](DiskModel& owner) { owner.placeLetGo(place); });
    }
};

void DiskModel::placeLetGo(const std::string& place)
{
    busyPlaces_.erase(place);
    if (!waitingScan_ || waitingScan_->place != place) return;
    const auto waiting = std::move(*waitingScan_);
    waitingScan_.reset();
    if (waiting.token == scanID_ && status_.kind == DiskModelStatus::Kind::scanning)
        startScanJob(waiting.token, waiting.path, waiting.includePrivacy);
}

void DiskModel::startScanJob(std::uint64_t token, const std::string& path, bool includePrivacy)
{
    auto owners = scanOwners_;
    auto progress = std::make_shared<Progress>();
    QPointer<DiskModel> self(this);
    const auto place = Paths::standardized(path);
    busyPlaces_.insert(place);
    std::shared_ptr<const void> lease = std::make_shared<PlaceLease>(self, place);
    auto report = [progress, self, token](const DiskScanProgress& now) {
        std::lock_guard guard(progress->lock);
        progress->latest = now;
        if (progress->posted) return;
        progress->posted = true;
        postToModel(self, [token, progress](DiskModel& model) { model.deliverProgress(token, *progress); });
    };
    scanTask_ = BackgroundTask::start(
        this,
        [path, self, token, includePrivacy, owners = std::move(owners), report,
         lease = std::move(lease)](std::stop_token stop) {
            auto root = DiskScanner::canonicalScanPath(path);
            // Posted before any progress report from this thread, so it arrives first.
            postToModel(self, [token, root](DiskModel& model) { model.beginScanAt(token, root); });
            return DiskScanner::scan(root, includePrivacy, DiskScanner::defaultHierarchyDepth,
                                     DiskScanner::defaultChildrenPerFolder, owners, report, std::move(stop), 0, lease);
        },
        [this, token](DiskScanResult scanned) { finishScan(token, std::move(scanned)); }, {.deliverAfterStop = true});
}

void DiskModel::beginScanAt(std::uint64_t token, const std::string& root)
{
    if (token != scanID_) return;

    // The listed volume that holds the root: the one with the longest path.
    const DiskVolume* owner = nullptr;
    for (const auto& volume : volumes_) {
        if (Paths::isAtOrBelow(root, volume.url) && (!owner || volume.url.size() > owner->url.size())) owner = &volume;
    }
    const bool otherVolume = owner && selectedVolumeID_ != owner->id;
    const bool volumeChanged = owner && (otherVolume || capacity_ != owner->capacity);
    if (owner) {
        selectedVolumeID_ = owner->id;
        capacity_ = owner->capacity;
    }

    // Only a finished scan of the same place is a fair guide to this one.
    std::optional<std::uint64_t> previousBytes;
    if (result_ && !result_->cancelled && result_->root.path == root) {
        previousBytes = result_->root.bytes;
        previousTotalFiles_ = result_->root.fileCount;
    }
    std::optional<std::uint64_t> volumeUsed;
    if (const auto volume = selectedVolume(); volume && volume->url == root && capacity_)
        volumeUsed = capacity_->used();
    estimatedTotalBytes_.reset();
    for (const auto& figure : {previousBytes, volumeUsed})
        if (!estimatedTotalBytes_ && figure && *figure > 0) estimatedTotalBytes_ = figure;
    scanningPath_ = root;
    publish({.volumes = volumeChanged, .scan = true});
    // A scan that moved the selection to another volume shows that volume's snapshots.
    if (otherVolume) refreshSnapshotSummary();
}

void DiskModel::deliverProgress(std::uint64_t token, Progress& progress)
{
    DiskScanProgress now;
    {
        std::lock_guard guard(progress.lock);
        now = progress.latest;
        progress.posted = false;
    }
    if (token != scanID_ || status_.kind != DiskModelStatus::Kind::scanning) return;
    scannedFiles_ = now.scannedFiles;
    scannedEntries_ = now.scannedEntries;
    scannedBytes_ = now.measuredBytes;
    emit progressChanged();
}

// The cancelled flag of the task is not looked at here: a stopped scan still
// publishes its partial result.
void DiskModel::finishScan(std::uint64_t token, DiskScanResult scanned)
{
    if (token != scanID_) return;
    scanTask_ = {};
    stopping_ = false;
    bool published = false;
    bool forgot = false;
    const auto keep = [this, token, &published, &forgot](DiskScanResult&& kept) {
        scannedFiles_ = kept.root.fileCount;
        scannedEntries_ = kept.scannedEntries;
        scannedBytes_ = kept.root.bytes;
        result_ = std::move(kept);
        resultOwners_ = scanOwners_;
        // Moved items are not in a new result: nothing is left to take out of
        // it, and what is at their places now is listed. Only a move made
        // while this scan ran may still be in it.
        trashedStorage_.clear();
        forgot = std::erase_if(movedPaths_, [token](const auto& moved) { return moved.second < token; }) > 0;
        published = true;
    };
    if (!scanned.cancelled) {
        const bool measured = scanned.root.bytes > 0;
        keep(std::move(scanned));
        status_ = measured ? DiskModelStatus{DiskModelStatus::Kind::ready, {}} : DiskModelStatus::failed(noDataMessage);
    } else {
        if (scanned.scannedEntries > 1 || scanned.root.fileCount >= 1) keep(std::move(scanned));
        estimatedTotalBytes_.reset();
        previousTotalFiles_.reset();
        status_ = {result_ ? DiskModelStatus::Kind::ready : DiskModelStatus::Kind::idle, {}};
    }
    if (published) emit resultPublished();
    publish({.scan = true, .result = published, .trash = forgot});
    refreshInsights();
}

}  // namespace corvalent

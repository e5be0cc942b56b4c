#include "models/disk_model.h"

#include <algorithm>

#include "core/common/paths.h"
#include "core/process/process_disk_owner.h"

namespace corvalent {
namespace {

// `path` is one of the moved paths or lies inside one.
bool movedAway(const std::map<std::string, std::uint64_t>& moved, const std::string& path)
{
    return std::any_of(moved.begin(), moved.end(),
                       [&](const auto& item) { return Paths::isAtOrBelow(path, item.first); });
}

struct Insights {
    DiskStorageReconciliation reconciliation;
    std::vector<DiskCleanupCandidate> candidates;
    std::optional<DiskRescuePlan> rescue;
    std::vector<DiskActiveStorageSummary> active;
};

}  // namespace

DiskModelEnvironment DiskModelEnvironment::system()
{
    DiskModelEnvironment environment;
    // Kept across lists: a mount's late answer shows in the next, and a mount
    // whose reader still waits is not asked again.
    environment.volumes = [cache = std::make_shared<MountFigureCache>()] { return DiskScanner::volumes(cache); };
    environment.snapshotSummary = [](const std::string& path, std::stop_token stop) {
        return APFSSnapshotProbe::summary(path, std::move(stop));
    };
    environment.uptime = uptimeSeconds;
    return environment;
}

DiskModel::DiskModel(DiskModelEnvironment environment, QObject* parent)
    : QObject(parent), environment_(std::move(environment))
{
}

DiskModel::~DiskModel()
{
    scanTask_.cancel();
    insightsTask_.cancel();
    snapshotTask_.cancel();
    duplicateTask_.cancel();
}

std::optional<DiskVolume> DiskModel::selectedVolume() const
{
    if (!selectedVolumeID_) return std::nullopt;
    for (const auto& volume : volumes_)
        if (volume.id == *selectedVolumeID_) return volume;
    return std::nullopt;
}

std::optional<double> DiskModel::estimatedProgress() const
{
    if (status_.kind != DiskModelStatus::Kind::scanning) return std::nullopt;
    return DiskScanEstimate::fraction(scannedBytes_, estimatedTotalBytes_);
}

std::optional<std::uint64_t> DiskModel::displayedEstimatedTotalBytes() const
{
    if (!estimatedTotalBytes_) return std::nullopt;
    return std::max(*estimatedTotalBytes_, scannedBytes_);
}

std::optional<double> DiskModel::estimatedRemainingSeconds() const
{
    return DiskScanEstimate::remainingSeconds(estimatedProgress(), environment_.uptime() - scanStartedAt_);
}

std::optional<std::int64_t> DiskModel::estimatedTotalFiles() const
{
    if (status_.kind != DiskModelStatus::Kind::scanning) return std::nullopt;
    return DiskScanEstimate::totalFiles(scannedFiles_, estimatedProgress(), previousTotalFiles_);
}

DiskModel::Areas DiskModel::Areas::operator|(const Areas& other) const
{
    return {.volumes = volumes || other.volumes,
            .scan = scan || other.scan,
            .result = result || other.result,
            .insights = insights || other.insights,
            .trash = trash || other.trash,
            .duplicates = duplicates || other.duplicates};
}

void DiskModel::publish(Areas areas)
{
    if (areas.volumes) emit volumesChanged();
    if (areas.scan) emit scanChanged();
    if (areas.result) emit resultChanged();
    if (areas.insights) emit insightsChanged();
    if (areas.trash) emit trashChanged();
    if (areas.duplicates) emit duplicatesChanged();
}

DiskModel::Areas DiskModel::resetScanState()
{
    const Areas cleared{.scan = status_ != DiskModelStatus{} || scannedEntries_ != 0 || scannedFiles_ != 0 ||
                                scannedBytes_ != 0 || estimatedTotalBytes_ || !scanningPath_.empty(),
                        .result = result_.has_value(),
                        .trash = !movedPaths_.empty()};
    result_.reset();
    movedPaths_.clear();
    trashedStorage_.clear();
    scannedEntries_ = 0;
    scannedFiles_ = 0;
    scannedBytes_ = 0;
    estimatedTotalBytes_.reset();
    previousTotalFiles_.reset();
    scanningPath_.clear();
    status_ = {};
    return cleared;
}

// What earlier actions said about the previous map.
DiskModel::Areas DiskModel::clearActionResults()
{
    const Areas cleared{
        .trash = cleanupMessage_ || mapNeedsRefresh_,
        .duplicates = !verifiedDuplicateSets_.empty() || verifyingDuplicateGroupID_ || duplicateMessage_};
    cleanupMessage_.reset();
    if (cleanupOutcome_.action != DiskCleanupOutcome::Action::none) setCleanupOutcome({});
    mapNeedsRefresh_ = false;
    verifiedDuplicateSets_.clear();
    verifyingDuplicateGroupID_.reset();
    duplicateMessage_.reset();
    countedDuplicateGroupID_.reset();
    return cleared;
}

DiskModel::Areas DiskModel::clearInsights()
{
    const Areas cleared{.insights = reconciliation_ || !cleanupCandidates_.empty() || rescuePlan_ ||
                                    !activeStorageSummaries_.empty()};
    reconciliation_.reset();
    cleanupCandidates_.clear();
    rescuePlan_.reset();
    activeStorageSummaries_.clear();
    return cleared;
}

void DiskModel::loadVolumes(bool force, std::function<void()> done)
{
    if (loadingVolumes_ || (volumesLoaded_ && !force) || status_.kind == DiskModelStatus::Kind::scanning) {
        if (done) done();
        return;
    }
    loadingVolumes_ = true;
    volumesLoaded_ = true;
    const auto previous = selectedVolumeID_;
    BackgroundTask::start(
        this, [list = environment_.volumes](std::stop_token) { return list(); },
        [this, previous, done = std::move(done)](DiskVolumeList listed) {
            volumes_ = std::move(listed.volumes);
            notRespondingVolumes_ = std::move(listed.notResponding);
            const DiskVolume* chosen = nullptr;
            if (previous)
                for (const auto& volume : volumes_)
                    if (!chosen && volume.id == *previous) chosen = &volume;
            for (const auto& volume : volumes_)
                if (!chosen && volume.url == "/") chosen = &volume;
            if (!chosen && !volumes_.empty()) chosen = &volumes_.front();
            Areas changed{.volumes = true};
            if (status_.kind == DiskModelStatus::Kind::scanning) {
                // A scan started while the list was read: it chose its volume
                // and keeps its state; only the figures are refreshed.
                if (const auto volume = selectedVolume()) capacity_ = volume->capacity;
            } else {
                if (previous && (!chosen || chosen->id != *previous)) changed = changed | resetScanState();
                selectedVolumeID_ = chosen ? std::optional(chosen->id) : std::nullopt;
                capacity_ = chosen ? std::optional(chosen->capacity) : std::nullopt;
            }
            publish(changed);
            refreshSnapshotSummary();
            refreshInsights();
            loadingVolumes_ = false;
            if (done) done();
        },
        // Never queued behind a lane's job that a hung file system holds: the
        // list takes at most volumeReadLimit, and the end of a move or a
        // restore waits for it.
        {.ownThread = true});
}

void DiskModel::selectVolume(const std::string& id)
{
    if (selectedVolumeID_ == id) return;
    const auto volume = std::find_if(volumes_.begin(), volumes_.end(), [&](const DiskVolume& v) { return v.id == id; });
    if (volume == volumes_.end()) return;
    const auto discarded = discardActiveScan();
    selectedVolumeID_ = id;
    capacity_ = volume->capacity;
    publish(Areas{.volumes = true} | discarded | resetScanState() | clearInsights() | clearActionResults());
    refreshSnapshotSummary();
}

void DiskModel::refreshCurrentView()
{
    if (status_.kind == DiskModelStatus::Kind::scanning) return;
    if (result_ && result_->root.path) {
        scan(*result_->root.path);
        return;
    }
    loadVolumes(true);
}

void DiskModel::setViewActive(bool active)
{
    if (active == viewActive_) return;
    viewActive_ = active;
    if (active) refreshInsights();
}


void DiskModel::updateProcessGroups(const std::vector<ProcessGroup>& groups)
{
    std::vector<DiskProcessOwner> owners;
    owners.reserve(groups.size());
    const auto home = Paths::Home::current();
    for (const auto& group : groups) owners.push_back(diskProcessOwner(group, home));
    std::sort(owners.begin(), owners.end(), [](const auto& a, const auto& b) { return a.id < b.id; });
    if (owners == processOwners_) return;
    processOwners_ = std::move(owners);
    if (viewActive_) refreshInsights();
}

bool DiskModel::movedSinceScan(const std::string& path) const
{
    return movedAway(movedPaths_, path);
}

void DiskModel::publishCandidates(std::vector<DiskCleanupCandidate> candidates)
{
    // A moved item stays gone although the scan it was found in still lists it.
    std::erase_if(candidates, [this](const DiskCleanupCandidate& candidate) { return movedSinceScan(candidate.path); });
    cleanupCandidates_ = std::move(candidates);
}

void DiskModel::refreshInsights()
{
    const auto token = ++insightsID_;
    insightsTask_.cancel();
    if (!result_) {
        publish(clearInsights());
        return;
    }
    std::vector<DiskOwnerStorage> movedStorage;
    for (const auto& [path, storage] : trashedStorage_)
        movedStorage.insert(movedStorage.end(), storage.begin(), storage.end());
    insightsTask_ = BackgroundTask::start(
        this,
        [result = *result_, volume = selectedVolume(), owners = processOwners_, moved = movedPaths_,
         movedStorage = std::move(movedStorage)](std::stop_token) {
            Insights insights;
            // The scan still holds moved items: no figure counts them until the next one.
            insights.candidates = DiskInsights::candidates(result, owners, candidateLimit);
            std::erase_if(insights.candidates,
                          [&](const DiskCleanupCandidate& candidate) { return movedAway(moved, candidate.path); });
            insights.reconciliation = DiskStorageReconciliation::make(result, volume ? &*volume : nullptr);
            if (volume) insights.rescue = DiskInsights::rescuePlan(volume->capacity, insights.candidates);
            insights.active = DiskInsights::activeStorageSummaries(remainingStorage(result.ownerStorage, movedStorage),
                                                                   insights.candidates, owners);
            return insights;
        },
        [this, token](Insights insights) {
            if (token != insightsID_) return;
            reconciliation_ = std::move(insights.reconciliation);
            publishCandidates(std::move(insights.candidates));
            rescuePlan_ = std::move(insights.rescue);
            activeStorageSummaries_ = std::move(insights.active);
            publish({.insights = true});
        });
}

void DiskModel::refreshSnapshotSummary()
{
    const auto token = ++snapshotID_;
    snapshotTask_.cancel();
    if (snapshotSummary_) {
        snapshotSummary_.reset();
        publish({.volumes = true});
    }
    const auto volume = selectedVolume();
    if (!volume) return;
    snapshotTask_ = BackgroundTask::start(
        this,
        [probe = environment_.snapshotSummary, path = volume->url](std::stop_token stop) {
            return probe(path, std::move(stop));
        },
        [this, token](std::optional<APFSSnapshotSummary> summary) {
            if (token != snapshotID_ || summary == snapshotSummary_) return;
            snapshotSummary_ = summary;
            publish({.volumes = true});
        });
}

}  // namespace corvalent

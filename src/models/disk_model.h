#pragma once

// The disk workspace's state on the GUI thread: volumes and the selection,
// the scan with its progress, the insights derived from a result, moves to
// the Trash with undo, and duplicate verification. Every background result
// is published only while its generation token is current.

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <stop_token>
#include <string>
#include <vector>

#include "core/disk/disk.h"
#include "core/disk/disk_duplicates.h"
#include "core/disk/disk_insights.h"
#include "core/disk/disk_snapshots.h"
#include "core/disk/trash/disk_trash.h"
#include "models/background_task.h"

namespace corvalent {

struct ProcessGroup;  // the process engine's row: only handed on to the owners of storage

// What the last preparation, move or restore came to, and whose it was: the
// status card says the model's message, a sheet or a list line says this
// only where it is about their own item. A refusal keeps the kind of its
// error with its sentence.
struct DiskCleanupOutcome {
    enum class Action { none, prepare, move, restore };
    Action action = Action::none;
    std::string path = {};       // the candidate's path; for a restore the receipt's original path
    std::string receiptID = {};  // the receipt a move made or a restore was asked with
    QString message = {};
    bool succeeded = false;
    std::optional<DiskTrashError::Kind> refusal = {};  // none for a success, or a failure that was no refusal
    std::uint64_t serial = 0;                          // one more for each outcome published
    bool operator==(const DiskCleanupOutcome&) const = default;
};

struct DiskModelStatus {
    enum class Kind { failed, idle, scanning, ready };
    Kind kind = Kind::idle;
    QString message;  // for failed

    static DiskModelStatus failed(QString message) { return {Kind::failed, std::move(message)}; }
    bool operator==(const DiskModelStatus&) const = default;
};

// What the model takes from its surroundings; tests replace any of it.
struct DiskModelEnvironment {
    std::function<DiskVolumeList()> volumes;
    std::function<std::optional<APFSSnapshotSummary>(const std::string&, std::stop_token)> snapshotSummary;
    std::function<double()> uptime;
    // How long a stopped scan has to hand back its partial result. One that
    // takes longer (blocked on a hung file system) is let go: the scan ends
    // without it, and nothing of it arrives later.
    int stopGraceMilliseconds = 800;
    // Run around the Trash executor's renames: tests race a move or a
    // restore through them. None on the system.
    DiskTrashHooks trashHooks = {};

    static DiskModelEnvironment system();
};

class DiskModel : public QObject {
    Q_OBJECT
    Q_PROPERTY(corvalent::DiskCleanupOutcome cleanupOutcome READ cleanupOutcome NOTIFY cleanupOutcomeChanged)

public:
    struct Progress;

    static constexpr int candidateLimit = 80;
    static constexpr std::size_t receiptLimit = 20;
    static inline const QString noDataMessage = QStringLiteral("No readable file data was found in this folder.");

    explicit DiskModel(DiskModelEnvironment environment = DiskModelEnvironment::system(), QObject* parent = nullptr);
    ~DiskModel() override;

    // Published state.
    const std::optional<DiskCapacity>& capacity() const { return capacity_; }
    const std::vector<DiskVolume>& volumes() const { return volumes_; }
    // Mounted volumes left out of the last list: their figures did not come in time.
    const std::vector<DiskUnresponsiveVolume>& notRespondingVolumes() const { return notRespondingVolumes_; }
    const std::optional<std::string>& selectedVolumeID() const { return selectedVolumeID_; }
    const std::optional<DiskScanResult>& result() const { return result_; }
    const DiskModelStatus& status() const { return status_; }
    std::int64_t scannedEntries() const { return scannedEntries_; }
    std::uint64_t scannedBytes() const { return scannedBytes_; }
    std::int64_t scannedFiles() const { return scannedFiles_; }
    std::optional<std::uint64_t> estimatedTotalBytes() const { return estimatedTotalBytes_; }
    bool stopping() const { return stopping_; }
    const std::optional<DiskStorageReconciliation>& reconciliation() const { return reconciliation_; }
    const std::vector<DiskCleanupCandidate>& cleanupCandidates() const { return cleanupCandidates_; }
    const std::vector<DiskTrashReceipt>& recentTrash() const { return recentTrash_; }
    bool cleanupInProgress() const { return cleanupInProgress_; }
    const std::optional<QString>& cleanupMessage() const { return cleanupMessage_; }
    const DiskCleanupOutcome& cleanupOutcome() const { return cleanupOutcome_; }
    bool mapNeedsRefresh() const { return mapNeedsRefresh_; }
    const std::optional<APFSSnapshotSummary>& snapshotSummary() const { return snapshotSummary_; }
    const std::optional<DiskRescuePlan>& rescuePlan() const { return rescuePlan_; }
    const std::vector<DiskActiveStorageSummary>& activeStorageSummaries() const { return activeStorageSummaries_; }
    const std::map<std::string, std::vector<DiskVerifiedDuplicateSet>>& verifiedDuplicateSets() const
    {
        return verifiedDuplicateSets_;
    }
    const std::optional<std::string>& verifyingDuplicateGroupID() const { return verifyingDuplicateGroupID_; }
    const std::optional<QString>& duplicateMessage() const { return duplicateMessage_; }
    const std::string& scanningPath() const { return scanningPath_; }

    // Derived on every read.
    std::optional<DiskVolume> selectedVolume() const;
    std::optional<double> estimatedProgress() const;
    std::optional<std::uint64_t> displayedEstimatedTotalBytes() const;
    std::optional<double> estimatedRemainingSeconds() const;
    std::optional<std::int64_t> estimatedTotalFiles() const;

    // Volumes and the selection. `done` runs when the load ends, or at once
    // when it is refused.
    void loadVolumes(bool force, std::function<void()> done = {});
    void selectVolume(const std::string& id);
    void refreshCurrentView();
    void setViewActive(bool active);
    bool viewActive() const { return viewActive_; }

    // The scan.
    void scan(const std::string& path);
    void stopScan();

    // Insights.
    void updateProcessGroups(const std::vector<ProcessGroup>& groups);
    // An item of the shown result carries what the scan measured of it
    // (`scanned`), so that only that item moves.
    DiskCleanupCandidate cleanupCandidate(const std::string& path, std::uint64_t bytes, bool isDirectory,
                                          std::optional<DiskScannedItem> scanned = std::nullopt) const;
    // Moved since the shown result was scanned, itself or a folder above it:
    // to the Trash and not restored, or back out of the Trash by a restore.
    // The result still lists it, the lists do not; the next result, or
    // another volume, forgets every such move.
    bool movedSinceScan(const std::string& path) const;
    // A verified set as it stands: the copies not moved since the scan, those
    // outside every Trash first (the first is kept), with the figures of
    // what the Trash could take; and what each copy of a set offers.
    DiskVerifiedDuplicateSet duplicateCopiesLeft(const DiskVerifiedDuplicateSet& set) const;
    DiskDuplicateGroup duplicateCopiesLeft(const DiskDuplicateGroup& group) const;
    // The sets that still hold two copies or more outside every Trash, each
    // with its copies left: a copy alone duplicates nothing, and a copy in a
    // Trash goes when the Trash is emptied.
    std::vector<DiskVerifiedDuplicateSet> duplicateSetsLeft(const std::vector<DiskVerifiedDuplicateSet>& sets) const;
    std::vector<DiskDuplicateCopyRole> duplicateCopyRoles(const DiskVerifiedDuplicateSet& set) const;
    // How many of `files` lie outside every Trash: by layout, or below a
    // folder the shown result found to be the home Trash.
    std::size_t copiesOutsideTrash(const std::vector<DiskFile>& files) const;

    // Trash. The request is prepared when the confirmation opens, so that the
    // item the user reviewed is the one that moves. Examining the item touches
    // the file system, so it happens off the GUI thread: `ready` gets the
    // request, or nothing when refused (the reason is in cleanupMessage). A
    // later preparation supersedes this one, whose `ready` is then not called.
    void prepareTrash(const DiskCleanupCandidate& candidate,
                      std::function<void(std::optional<DiskTrashRequest>)> ready);
    void moveToTrash(const DiskTrashRequest& request, std::function<void()> done = {});
    void restore(const DiskTrashReceipt& receipt, std::function<void()> done = {});

    // Duplicates.
    void verifyDuplicates(const DiskDuplicateGroup& group);
    void cancelDuplicateVerification();

signals:
    // One signal per area, sent once every field of the change has its new
    // value; a view listens to the areas whose getters it reads.
    // The volumes (those not responding too), the selection, its capacity and its snapshots.
    void volumesChanged();
    // The status, stopping, the scanned path, the estimate, and the counters
    // a scan starts and ends with.
    void scanChanged();
    // The counters while a scan runs.
    void progressChanged();
    void resultChanged();
    // A scan stored a new result, complete or kept after a stop. Sent just
    // before the signals that publish it.
    void resultPublished();
    // The reconciliation, the candidates, the rescue plan and the storage of
    // running work, and the running work `cleanupCandidate` classes against.
    void insightsChanged();
    // The receipts, a move or restore in progress, its message, the map's
    // need of a refresh, and what `movedSinceScan` answers.
    void trashChanged();
    // The verified sets, the verification running and its message.
    void duplicatesChanged();
    // Every outcome, also one equal to the last but for its serial; sent
    // before the Trash's change that carries the same message.
    void cleanupOutcomeChanged();

private:
    struct PlaceLease;

    // The areas a change touched, one flag per signal.
    struct Areas {
        bool volumes = false, scan = false, result = false, insights = false, trash = false, duplicates = false;
        Areas operator|(const Areas& other) const;
    };

    // Sends the signal of each area, in a fixed order.
    void publish(Areas areas);
    // These return the areas whose fields they changed, for one publish.
    Areas discardActiveScan();
    Areas resetScanState();
    Areas clearActionResults();
    Areas clearInsights();
    // The scan's root, resolved off the GUI thread: the holding volume and the estimate.
    void beginScanAt(std::uint64_t token, const std::string& root);
    void finishScan(std::uint64_t token, DiskScanResult scanned);
    void deliverProgress(std::uint64_t token, Progress& progress);
    // Starts the job of the current scan, `token`, of `path`.
    void startScanJob(std::uint64_t token, const std::string& path, bool includePrivacy);
    // Nothing of an earlier scan of `place` is in the file system any more.
    void placeLetGo(const std::string& place);
    void refreshInsights();
    void refreshSnapshotSummary();
    void publishCandidates(std::vector<DiskCleanupCandidate> candidates);
    void setCleanupMessage(std::optional<QString> message);
    // Stores `outcome` with the next serial and always tells.
    void setCleanupOutcome(DiskCleanupOutcome outcome);
    // "Verified N identical files.", N the copies left of the sets left; none when no set is left.
    std::optional<QString> verifiedFilesMessage(const std::vector<DiskVerifiedDuplicateSet>& sets) const;
    // After a move or a restore: whether the message changed to count the copies left.
    bool recountVerifiedFiles();
    // The folders the shown result found to be the home Trash under another name; none without one.
    const std::vector<std::string>& trashFolders() const;
    // The verified group that `path` is one of the copies left of, with that set's copies left.
    struct VerifiedCopy {
        std::string groupID;
        DiskVerifiedDuplicateSet set;
    };
    std::optional<VerifiedCopy> verifiedCopy(const std::string& path) const;
    // Back to unverified: the group that `path` is a verified copy of. Whether there was one.
    bool forgetVerifiedGroupOf(const std::string& path);
    // A copy put back by an undo is the one moved, with the change time the
    // move and the undo gave it: its verified record takes that time, and only
    // where all else is as recorded.
    void recordPutBackCopy(const DiskRecordedIdentity& putBack);
    // The end of a move or restore: its outcome and message, and for a
    // success the reload. `success` names the areas a success changed
    // besides the Trash's; none for a failure.
    void endCleanup(DiskCleanupOutcome outcome, std::function<void()> done,
                    std::optional<Areas> success = std::nullopt);

    DiskModelEnvironment environment_;
    std::optional<DiskCapacity> capacity_;
    std::vector<DiskVolume> volumes_;
    std::vector<DiskUnresponsiveVolume> notRespondingVolumes_;
    std::optional<std::string> selectedVolumeID_;
    std::optional<DiskScanResult> result_;
    DiskModelStatus status_;
    std::int64_t scannedEntries_ = 0;
    std::uint64_t scannedBytes_ = 0;
    std::int64_t scannedFiles_ = 0;
    std::optional<std::uint64_t> estimatedTotalBytes_;
    bool stopping_ = false;
    std::optional<DiskStorageReconciliation> reconciliation_;
    std::vector<DiskCleanupCandidate> cleanupCandidates_;
    std::vector<DiskTrashReceipt> recentTrash_;
    bool cleanupInProgress_ = false;
    std::optional<QString> cleanupMessage_;
    DiskCleanupOutcome cleanupOutcome_;
    bool mapNeedsRefresh_ = false;
    std::optional<APFSSnapshotSummary> snapshotSummary_;
    std::optional<DiskRescuePlan> rescuePlan_;
    std::vector<DiskActiveStorageSummary> activeStorageSummaries_;
    std::map<std::string, std::vector<DiskVerifiedDuplicateSet>> verifiedDuplicateSets_;
    std::optional<std::string> verifyingDuplicateGroupID_;
    std::optional<QString> duplicateMessage_;
    // The group whose identical files duplicateMessage_ counts, if it counts any.
    std::optional<std::string> countedDuplicateGroupID_;
    std::string scanningPath_;

    bool volumesLoaded_ = false;
    bool loadingVolumes_ = false;
    BackgroundTask scanTask_;
    std::uint64_t scanID_ = 0;
    // Places (standardized scan paths) that a scan's job or walk still reads,
    // possibly held by a hung file system after the scan was stopped. A new
    // scan of one waits, stoppably, until it is let go: one held call there
    // is enough.
    std::set<std::string> busyPlaces_;
    struct WaitingScan {
        std::uint64_t token = 0;
        std::string path;
        std::string place;
        bool includePrivacy = false;
    };
    std::optional<WaitingScan> waitingScan_;
    double scanStartedAt_ = 0;
    std::optional<std::int64_t> previousTotalFiles_;
    std::vector<DiskProcessOwner> processOwners_;
    // The owners the running scan, and the shown result, counted storage for.
    std::vector<DiskProcessOwner> scanOwners_;
    std::vector<DiskProcessOwner> resultOwners_;
    BackgroundTask insightsTask_;
    BackgroundTask snapshotTask_;
    std::uint64_t insightsID_ = 0;
    std::uint64_t snapshotID_ = 0;
    BackgroundTask duplicateTask_;
    std::uint64_t trashPreparationID_ = 0;
    bool viewActive_ = false;
    // Paths moved since the shown result was scanned, each with the scan
    // generation (`scanID_`) it moved in: a result of a later scan no longer
    // lists it there, one of the scan it moved during may.
    std::map<std::string, std::uint64_t> movedPaths_;
    // By original path: what the shown result counted for running work in
    // each moved item, left out of the figures until it is restored.
    std::map<std::string, std::vector<DiskOwnerStorage>> trashedStorage_;
};

}  // namespace corvalent

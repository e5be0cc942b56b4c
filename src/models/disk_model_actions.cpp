// The disk model's actions on what a scan found: moving a candidate to the
// Trash and back, and verifying a duplicate group. Each runs as a background
// task and reports a failure as a sentence for the user.

#include <variant>

#include "core/common/paths.h"
#include "core/disk/trash/disk_trash_refusals.h"
#include "models/disk_model.h"

namespace corvalent {
namespace {

// A failure of a background action: the sentence for the user, and for a
// refusal of the Trash its kind.
struct Failure {
    QString sentence;
    std::optional<DiskTrashError::Kind> kind;
};

// The result of a background action that may fail.
template <typename Value>
using Outcome = std::variant<Value, Failure>;

template <typename Work>
auto attempt(Work work) -> Outcome<decltype(work())>
{
    try {
        return work();
    } catch (const DiskTrashError& error) {
        return Failure{QString::fromStdString(error.what()), error.kind()};
    } catch (const std::exception& error) {
        return Failure{QString::fromStdString(error.what()), std::nullopt};
    }
}

// A refusal as the window says it: the item named, unless the sentence
// already does (the Trash's own sentences for what went wrong do).
QString notMoved(const QString& refusal, std::string_view name)
{
    return QString::fromStdString(DiskTrashRefusals::moveRefused(refusal.toStdString(), name));
}

QString notRestored(const QString& refusal, std::string_view name)
{
    return QString::fromStdString(DiskTrashRefusals::restoreRefused(refusal.toStdString(), name));
}

// A completed move, with what the shown result counted for running work in
// the item; or, with the sentence saying where, one into a Trash folder
// that moved away meanwhile and could not be undone.
struct Moved {
    DiskTrashReceipt receipt;
    std::vector<DiskOwnerStorage> ownerStorage;
    std::optional<QString> elsewhere = std::nullopt;
};

// A restore that took the item out of the Trash: back in place, or, with the
// sentence saying where, into its folder after that folder moved away.
struct Restored {
    std::optional<QString> elsewhere;
    std::optional<DiskRecordedIdentity> putBack;  // what is back at its path now
};

}  // namespace

DiskCleanupCandidate DiskModel::cleanupCandidate(const std::string& path, std::uint64_t bytes, bool isDirectory,
                                                 std::optional<DiskScannedItem> scanned) const
{
    std::vector<std::string> names;
    for (const auto& owner : DiskInsights::matchingOwners(path, processOwners_)) names.push_back(owner.name);
    auto candidate = DiskInsights::classify(path, bytes, isDirectory, names, Paths::Home::current(), trashFolders());
    candidate.scanned = std::move(scanned);
    return candidate;
}

DiskVerifiedDuplicateSet DiskModel::duplicateCopiesLeft(const DiskVerifiedDuplicateSet& set) const
{
    return DiskDuplicateCopies::outsideTrashFirst(
        DiskDuplicateCopies::remaining(set, [this](const std::string& path) { return movedSinceScan(path); }),
        Paths::Home::current(), trashFolders());
}

DiskDuplicateGroup DiskModel::duplicateCopiesLeft(const DiskDuplicateGroup& group) const
{
    auto left = DiskDuplicateCopies::remaining(group, [this](const std::string& path) { return movedSinceScan(path); });
    left.estimatedRecoverableBytes =
        DiskDuplicateCopies::recoverableOutsideTrash(left.files, Paths::Home::current(), trashFolders());
    return left;
}

std::vector<DiskVerifiedDuplicateSet> DiskModel::duplicateSetsLeft(
    const std::vector<DiskVerifiedDuplicateSet>& sets) const
{
    std::vector<DiskVerifiedDuplicateSet> left;
    for (const auto& set : sets)
        if (auto copies = duplicateCopiesLeft(set); copiesOutsideTrash(copies.files) >= 2)
            left.push_back(std::move(copies));
    return left;
}

std::vector<DiskDuplicateCopyRole> DiskModel::duplicateCopyRoles(const DiskVerifiedDuplicateSet& set) const
{
    return DiskDuplicateCopies::roles(set, Paths::Home::current(), trashFolders());
}

std::size_t DiskModel::copiesOutsideTrash(const std::vector<DiskFile>& files) const
{
    return DiskDuplicateCopies::outsideTrash(files, Paths::Home::current(), trashFolders());
}

const std::vector<std::string>& DiskModel::trashFolders() const
{
    static const std::vector<std::string> none;
    return result_ ? result_->trashFolders : none;
}

void DiskModel::setCleanupMessage(std::optional<QString> message)
{
    cleanupMessage_ = std::move(message);
    publish({.trash = true});
}

void DiskModel::setCleanupOutcome(DiskCleanupOutcome outcome)
{
    outcome.serial = cleanupOutcome_.serial + 1;
    cleanupOutcome_ = std::move(outcome);
    emit cleanupOutcomeChanged();
}

std::optional<QString> DiskModel::verifiedFilesMessage(const std::vector<DiskVerifiedDuplicateSet>& sets) const
{
    std::size_t files = 0;
    for (const auto& set : duplicateSetsLeft(sets)) files += set.files.size();
    if (files == 0) return std::nullopt;
    return "Verified " + QString::number(files) + " identical files.";
}

bool DiskModel::recountVerifiedFiles()
{
    if (!countedDuplicateGroupID_) return false;
    const auto found = verifiedDuplicateSets_.find(*countedDuplicateGroupID_);
    if (found == verifiedDuplicateSets_.end()) return false;
    auto message = verifiedFilesMessage(found->second);
    if (message == duplicateMessage_) return false;
    duplicateMessage_ = std::move(message);
    return true;
}

std::optional<DiskModel::VerifiedCopy> DiskModel::verifiedCopy(const std::string& path) const
{
    const auto wanted = Paths::standardized(path);
    for (const auto& [id, sets] : verifiedDuplicateSets_)
        for (auto& left : duplicateSetsLeft(sets))
            for (const auto& file : left.files)
                if (Paths::standardized(file.path) == wanted) return VerifiedCopy{id, std::move(left)};
    return std::nullopt;
}

bool DiskModel::forgetVerifiedGroupOf(const std::string& path)
{
    const auto copy = verifiedCopy(path);
    if (!copy) return false;
    verifiedDuplicateSets_.erase(copy->groupID);
    if (countedDuplicateGroupID_ == copy->groupID) {
        duplicateMessage_.reset();
        countedDuplicateGroupID_.reset();
    }
    return true;
}

void DiskModel::recordPutBackCopy(const DiskRecordedIdentity& putBack)
{
    for (auto& [id, sets] : verifiedDuplicateSets_)
        for (auto& set : sets)
            for (auto& record : set.identities)
                if (record.identity == putBack.identity) record.changed = putBack.changed;
}

void DiskModel::endCleanup(DiskCleanupOutcome outcome, std::function<void()> done, std::optional<Areas> success)
{
    const auto message = outcome.message;
    setCleanupOutcome(std::move(outcome));
    if (!success) {
        cleanupInProgress_ = false;
        setCleanupMessage(message);
        if (done) done();
        return;
    }
    // The disk changed: the shown map is old, and the capacities are reloaded
    // before another move or restore may start.
    cleanupMessage_ = message;
    mapNeedsRefresh_ = true;
    publish(Areas{.trash = true} | *success);
    loadVolumes(true, [this, done = std::move(done)] {
        cleanupInProgress_ = false;
        publish({.trash = true});
        if (done) done();
    });
}

void DiskModel::prepareTrash(const DiskCleanupCandidate& candidate,
                             std::function<void(std::optional<DiskTrashRequest>)> ready)
{
    const auto token = ++trashPreparationID_;
    // A copy of a verified set moves only while every copy the set still
    // counts is as verification found it: else the bytes it holds may be
    // nowhere else. A copy this program moved is no longer counted.
    std::vector<DiskRecordedIdentity> recorded;
    if (const auto copy = verifiedCopy(candidate.path)) {
        const auto& set = copy->set;
        const bool paired = set.identities.size() == set.files.size();
        for (std::size_t i = 0; i < set.files.size(); ++i) {
            // Without identities nothing was recorded, and nothing matches.
            auto record = paired ? set.identities[i] : DiskRecordedIdentity{.identity = {.path = set.files[i].path}};
            record.refusal = DiskTrashError::Kind::duplicateSetChanged;
            recorded.push_back(std::move(record));
        }
    }
    BackgroundTask::start(
        this,
        [candidate, recorded = std::move(recorded)](std::stop_token) {
            return attempt([&] {
                auto request = DiskTrashExecutor::prepare(candidate);
                request.recorded.insert(request.recorded.end(), recorded.begin(), recorded.end());
                return request;
            });
        },
        [this, token, candidate, ready = std::move(ready)](Outcome<DiskTrashRequest> prepared) {
            if (token != trashPreparationID_) return;
            if (auto* refused = std::get_if<Failure>(&prepared)) {
                const auto message = notMoved(refused->sentence, candidate.name());
                setCleanupOutcome({.action = DiskCleanupOutcome::Action::prepare,
                                   .path = candidate.path,
                                   .message = message,
                                   .refusal = refused->kind});
                setCleanupMessage(message);
                if (ready) ready(std::nullopt);
                return;
            }
            if (ready) ready(std::get<DiskTrashRequest>(std::move(prepared)));
        },
        {.userInitiated = true, .ownThread = true});
}

void DiskModel::moveToTrash(const DiskTrashRequest& request, std::function<void()> done)
{
    if (request.candidate.safety == DiskCleanupSafety::protected_ || cleanupInProgress_) {
        if (done) done();
        return;
    }
    cleanupInProgress_ = true;
    setCleanupMessage(std::nullopt);
    // Only a result that counted storage for running work has any to give back.
    const bool counted = result_ && !result_->ownerStorage.empty();
    BackgroundTask::start(
        this,
        [request, owners = counted ? resultOwners_ : std::vector<DiskProcessOwner>{},
         hooks = environment_.trashHooks](std::stop_token) {
            return attempt([&] {
                auto storage = DiskScanner::ownerStorage(request.identity.path, owners);
                try {
                    return Moved{DiskTrashExecutor::moveToTrash(request, hooks), std::move(storage)};
                } catch (const DiskTrashError& error) {
                    if (error.kind() != DiskTrashError::Kind::landedElsewhere) throw;
                    return Moved{{}, std::move(storage), QString::fromStdString(error.what())};
                }
            });
        },
        [this, request, done = std::move(done)](Outcome<Moved> outcome) mutable {
            DiskCleanupOutcome moved{.action = DiskCleanupOutcome::Action::move, .path = request.candidate.path};
            if (auto* failure = std::get_if<Failure>(&outcome)) {
                // Verify is offered again for a set that no longer holds.
                if (failure->kind == DiskTrashError::Kind::duplicateSetChanged &&
                    forgetVerifiedGroupOf(request.candidate.path))
                    publish({.duplicates = true});
                moved.message = notMoved(failure->sentence, request.candidate.name());
                moved.refusal = failure->kind;
                return endCleanup(std::move(moved), std::move(done));
            }
            auto [receipt, storage, elsewhere] = std::get<Moved>(std::move(outcome));
            // Gone from its place, though into no Trash: nothing to undo.
            if (elsewhere) {
                movedPaths_[request.candidate.path] = scanID_;
                movedPaths_[request.identity.path] = scanID_;
                if (!storage.empty()) trashedStorage_[request.identity.path] = std::move(storage);
                const auto offered = cleanupCandidates_.size();
                publishCandidates(std::move(cleanupCandidates_));
                moved.message = *elsewhere;
                moved.refusal = DiskTrashError::Kind::landedElsewhere;
                return endCleanup(
                    std::move(moved), std::move(done),
                    Areas{.insights = cleanupCandidates_.size() != offered, .duplicates = recountVerifiedFiles()});
            }
            moved.receiptID = receipt.id;
            moved.succeeded = true;
            recentTrash_.insert(recentTrash_.begin(), receipt);
            if (recentTrash_.size() > receiptLimit) recentTrash_.resize(receiptLimit);
            // What went is not the reviewed item, and another one holds its
            // place again: nothing shown has moved, but the Trash holds one more.
            if (receipt.changedAfterReview) {
                moved.message = QStringLiteral(
                                    "“%1” changed after it was reviewed and could not be put back, so it "
                                    "is in the Trash. Undo puts it back once its place is free.")
                                    .arg(QString::fromStdString(receipt.name));
                return endCleanup(std::move(moved), std::move(done), Areas{});
            }
            movedPaths_[request.candidate.path] = scanID_;
            movedPaths_[receipt.originalPath] = scanID_;
            if (!storage.empty()) trashedStorage_[receipt.originalPath] = std::move(storage);
            const auto offered = cleanupCandidates_.size();
            publishCandidates(std::move(cleanupCandidates_));
            moved.message = "Moved " + QString::fromStdString(std::string(request.candidate.name())) + " to Trash.";
            endCleanup(std::move(moved), std::move(done),
                       Areas{.insights = cleanupCandidates_.size() != offered, .duplicates = recountVerifiedFiles()});
        },
        {.userInitiated = true, .ownThread = true});
}

void DiskModel::restore(const DiskTrashReceipt& receipt, std::function<void()> done)
{
    if (cleanupInProgress_) {
        if (done) done();
        return;
    }
    cleanupInProgress_ = true;
    setCleanupMessage(std::nullopt);
    BackgroundTask::start(
        this,
        [receipt, hooks = environment_.trashHooks](std::stop_token) {
            return attempt([&] {
                try {
                    DiskTrashExecutor::restore(receipt, hooks);
                } catch (const DiskTrashError& error) {
                    if (error.kind() != DiskTrashError::Kind::landedElsewhere) throw;
                    return Restored{QString::fromStdString(error.what()), std::nullopt};
                }
                try {
                    return Restored{std::nullopt, DiskRecordedIdentity::capture(receipt.originalPath)};
                } catch (const DiskTrashError&) {
                    return Restored{};
                }
            });
        },
        [this, receipt, done = std::move(done)](Outcome<Restored> outcome) mutable {
            DiskCleanupOutcome restored{
                .action = DiskCleanupOutcome::Action::restore, .path = receipt.originalPath, .receiptID = receipt.id};
            if (auto* failure = std::get_if<Failure>(&outcome)) {
                restored.message = notRestored(failure->sentence, receipt.name);
                restored.refusal = failure->kind;
                return endCleanup(std::move(restored), std::move(done));
            }
            if (const auto& putBack = std::get<Restored>(outcome).putBack) recordPutBackCopy(*putBack);
            // Out of the Trash either way: its receipt has nothing left to undo.
            std::erase_if(recentTrash_, [&](const DiskTrashReceipt& r) { return r.id == receipt.id; });
            movedPaths_[receipt.trashedPath] = scanID_;
            // Not back in place: its original path stays moved, and the
            // sentence, which says where the item is, is all that is shown.
            if (const auto& elsewhere = std::get<Restored>(outcome).elsewhere) {
                restored.message = *elsewhere;
                restored.refusal = DiskTrashError::Kind::landedElsewhere;
                return endCleanup(std::move(restored), std::move(done), Areas{});
            }
            restored.succeeded = true;
            // Back in place: where the shown result has it there, it is listed
            // again; where it has it in the Trash (scanned after the move), it
            // is gone from there, and listed in its place after the next scan.
            movedPaths_.erase(receipt.originalPath);
            trashedStorage_.erase(receipt.originalPath);
            const auto offered = cleanupCandidates_.size();
            publishCandidates(std::move(cleanupCandidates_));
            restored.message = "Restored " + QString::fromStdString(receipt.name) + ".";
            endCleanup(std::move(restored), std::move(done),
                       Areas{.insights = cleanupCandidates_.size() != offered, .duplicates = recountVerifiedFiles()});
        },
        {.userInitiated = true, .ownThread = true});
}

void DiskModel::verifyDuplicates(const DiskDuplicateGroup& group)
{
    // The copies left are compared; a copy moved since the scan is no longer there.
    auto left = duplicateCopiesLeft(group);
    if (verifyingDuplicateGroupID_ || left.files.size() < 2) return;
    duplicateMessage_.reset();
    countedDuplicateGroupID_.reset();
    verifyingDuplicateGroupID_ = group.id;
    publish({.duplicates = true});
    duplicateTask_ = BackgroundTask::start(
        this,
        [group = std::move(left)](std::stop_token stop) {
            return attempt([&] { return DiskDuplicateVerifier::verify(group, std::move(stop)); });
        },
        [this, id = group.id](Outcome<std::vector<DiskVerifiedDuplicateSet>> outcome) {
            if (verifyingDuplicateGroupID_ != id) return;
            if (auto* failure = std::get_if<Failure>(&outcome)) {
                duplicateMessage_ = failure->sentence;
            } else {
                auto sets = std::get<std::vector<DiskVerifiedDuplicateSet>>(std::move(outcome));
                // Copies alike only to copies in a Trash duplicate nothing.
                std::erase_if(sets, [this](const auto& set) { return copiesOutsideTrash(set.files) < 2; });
                duplicateMessage_ = sets.empty() ? std::optional(QStringLiteral("Same size, but contents differ."))
                                                 : verifiedFilesMessage(sets);
                if (!sets.empty()) countedDuplicateGroupID_ = id;
                verifiedDuplicateSets_[id] = std::move(sets);
            }
            verifyingDuplicateGroupID_.reset();
            duplicateTask_ = {};
            publish({.duplicates = true});
        });
}

void DiskModel::cancelDuplicateVerification()
{
    duplicateTask_.cancel();
    duplicateTask_ = {};
    verifyingDuplicateGroupID_.reset();
    publish({.duplicates = true});
}

}  // namespace corvalent

#include "core/process/snapshot.h"

#include <unistd.h>

namespace corvalent {
namespace {

bool sameGroupingInputs(const ProcessRecord& record, const ProcessRecord* previous)
{
    return previous != nullptr && record.parent == previous->parent && record.uid == previous->uid &&
           record.name == previous->name && record.path == previous->path && record.cwd == previous->cwd &&
           record.role == previous->role && record.protection == previous->protection;
}

}  // namespace

ProcessSnapshot ProcessSnapshot::make(ScanResult result, const ProcessSnapshot* previous,
                                      const ApplicationIndex& applications)
{
    const double start = uptimeSeconds();

    // By identity, the first record of an id winning as the pid index does.
    Classifier::RecordsByKey previousByKey;
    double elapsed = 0;
    if (previous != nullptr) {
        previousByKey.reserve(previous->result.records.size());
        for (const auto& record : previous->result.records) previousByKey.try_emplace(record.key(), &record);
        elapsed = result.timestamp - previous->result.timestamp;
    }
    bool reuse = previous != nullptr && previousByKey.size() == result.records.size() &&
                 previous->applicationsStamp == applications.builtStamp();

    const auto user = ::getuid();
    bool otherUserSeen = false;
    Classifier::RecordsByKey recordsByKey;
    recordsByKey.reserve(result.records.size());
    for (auto& record : result.records) {
        const auto found = previousByKey.find(record.key());
        const ProcessRecord* before = found == previousByKey.end() ? nullptr : found->second;
        if (reuse) reuse = sameGroupingInputs(record, before);
        // A process whose memory could not be read keeps the share it came with.
        if (record.memory) record.cpu = Scanner::cpu(record, before, elapsed);
        // A later record of an id replaces an earlier one.
        recordsByKey.insert_or_assign(record.key(), &record);
        otherUserSeen = otherUserSeen || record.uid != user;
    }

    ProcessSnapshot snapshot;
    if (reuse && recordsByKey.size() == previousByKey.size()) {
        snapshot.groups = Classifier::refreshedGroups(previous->groups, recordsByKey);
        snapshot.userGroups =
            otherUserSeen ? Classifier::refreshedGroups(previous->userGroups, recordsByKey) : snapshot.groups;
    } else {
        auto sets = Classifier::groupSets(result.records, applications);
        snapshot.groups = std::move(sets.all);
        snapshot.userGroups = std::move(sets.user);
    }
    for (const auto& group : snapshot.groups)
        for (const auto& record : group.stoppable) snapshot.eligible.insert_or_assign(record.id(), record);
    snapshot.unprotectedGroups = Classifier::groupsHidingProtected(snapshot.groups);
    snapshot.unprotectedUserGroups =
        otherUserSeen ? Classifier::groupsHidingProtected(snapshot.userGroups) : snapshot.unprotectedGroups;
    snapshot.applicationsStamp = applications.builtStamp();
    snapshot.result = std::move(result);
    snapshot.preparationMS = (uptimeSeconds() - start) * 1000.0;
    return snapshot;
}

}  // namespace corvalent

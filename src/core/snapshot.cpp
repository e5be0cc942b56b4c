#include "core/snapshot.h"

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

ProcessSnapshot ProcessSnapshot::make(ScanResult result, const ProcessSnapshot* previous)
{
    const double start = uptimeSeconds();

    std::unordered_map<std::string, const ProcessRecord*> previousByID;
    double elapsed = 0;
    if (previous != nullptr) {
        previousByID.reserve(previous->result.records.size());
        for (const auto& record : previous->result.records) previousByID.try_emplace(record.id(), &record);
        elapsed = result.timestamp - previous->result.timestamp;
    }
    bool reuse = previous != nullptr && previousByID.size() == result.records.size();

    const auto user = ::getuid();
    bool otherUserSeen = false;
    std::unordered_map<std::string, ProcessRecord> recordsByID;
    recordsByID.reserve(result.records.size());
    for (auto& record : result.records) {
        auto id = record.id();
        const auto found = previousByID.find(id);
        const ProcessRecord* before = found == previousByID.end() ? nullptr : found->second;
        if (reuse) reuse = sameGroupingInputs(record, before);
        // A process whose memory could not be read keeps the share it came with.
        if (record.memory) record.cpu = Scanner::cpu(record, before, elapsed);
        recordsByID.insert_or_assign(std::move(id), record);
        otherUserSeen = otherUserSeen || record.uid != user;
    }

    ProcessSnapshot snapshot;
    if (reuse && recordsByID.size() == previousByID.size()) {
        snapshot.groups = Classifier::refreshedGroups(previous->groups, recordsByID);
        snapshot.userGroups =
            otherUserSeen ? Classifier::refreshedGroups(previous->userGroups, recordsByID) : snapshot.groups;
    } else {
        auto sets = Classifier::groupSets(result.records);
        snapshot.groups = std::move(sets.all);
        snapshot.userGroups = std::move(sets.user);
    }
    for (const auto& group : snapshot.groups)
        for (const auto& record : group.stoppable) snapshot.eligible.insert_or_assign(record.id(), record);
    snapshot.unprotectedGroups = Classifier::groupsHidingProtected(snapshot.groups);
    snapshot.unprotectedUserGroups =
        otherUserSeen ? Classifier::groupsHidingProtected(snapshot.userGroups) : snapshot.unprotectedGroups;
    snapshot.result = std::move(result);
    snapshot.preparationMS = (uptimeSeconds() - start) * 1000.0;
    return snapshot;
}

}  // namespace corvalent

#include "core/process/impact_assessment.h"

#include <QByteArray>
#include <QString>

#include <algorithm>
#include <cstddef>
#include <optional>
#include <string_view>
#include <unordered_map>

namespace corvalent {
namespace {

constexpr std::size_t maximumNotes = 6;

// NFC form of well-formed UTF-8, so that equal texts sort and collapse alike.
// Ill-formed bytes are kept as they are: replacing them would show a name the
// kernel never gave.
std::string normalized(const std::string& text)
{
    if (std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return text;
    const QByteArray bytes(text.data(), static_cast<qsizetype>(text.size()));
    const QString decoded = QString::fromUtf8(bytes);
    if (decoded.toUtf8() != bytes) return text;
    const QByteArray composed = decoded.normalized(QString::NormalizationForm_C).toUtf8();
    return std::string(composed.constData(), static_cast<std::size_t>(composed.size()));
}

// Byte order of UTF-8 is code-point order.
std::vector<std::string> sortedDistinct(std::vector<std::string> texts)
{
    std::sort(texts.begin(), texts.end());
    texts.erase(std::unique(texts.begin(), texts.end()), texts.end());
    return texts;
}

std::string joined(const std::vector<std::string>& texts, std::size_t count)
{
    std::string line;
    for (std::size_t i = 0; i < std::min(count, texts.size()); ++i) {
        if (i > 0) line += ", ";
        line += texts[i];
    }
    return line;
}

std::string impactText(const ProcessGroup& group, bool complete)
{
    if (!group.appPath) return group.impact;
    if (!complete)
        return "Stops only the selected " + group.title + " processes. The app may remain open or restart a helper.";
    if (Classifier::runsContainers(group.title))
        return "Stopping " + group.title +
               " can interrupt local containers and databases; Corvalent tries a normal app quit when its main "
               "process is available.";
    return "Stopping " + group.title +
           " may close its windows and interrupt its tasks; Corvalent tries a normal app quit when its main "
           "process is available.";
}

std::vector<std::string> factLines(const ProcessGroup& group, const std::vector<const ProcessRecord*>& selection,
                                   bool complete,
                                   const std::unordered_map<std::int32_t, std::size_t>& unselectedChildren,
                                   const Paths::Home& home)
{
    std::vector<std::string> names;
    std::vector<std::string> projects;
    std::vector<std::string> roles;
    std::size_t children = 0;
    for (const ProcessRecord* record : selection) {
        names.push_back(normalized(record->name));
        if (const std::optional<std::string> project = Classifier::project(record->cwd, home))
            projects.push_back(normalized(*project));
        if (!record->role.empty()) roles.push_back(normalized(record->role));
        if (const auto found = unselectedChildren.find(record->pid); found != unselectedChildren.end())
            children += found->second;
    }

    std::vector<std::string> facts;
    names = sortedDistinct(std::move(names));
    facts.push_back("Selected processes: " + joined(names, 4) + (names.size() >= 5 ? ", and others" : "") + ".");
    if (!projects.empty()) facts.push_back("Working in: " + joined(sortedDistinct(std::move(projects)), 3) + ".");
    if (!roles.empty()) facts.push_back("Detected roles: " + joined(sortedDistinct(std::move(roles)), 3) + ".");
    if (children == 1) {
        facts.push_back("1 direct child process is not selected; it may keep running but lose the parent service.");
    } else if (children > 1) {
        facts.push_back(std::to_string(children) +
                        " direct child processes are not selected; they may keep running but lose the parent "
                        "service.");
    }
    if (group.appPath && !complete)
        facts.push_back("Individual processes receive termination signals without an app-level save prompt.");
    return facts;
}

std::optional<std::string> noteFor(const ProcessGroup& group, bool complete)
{
    if (Classifier::runsContainers(group.title)) return "Local containers or databases may be interrupted.";
    if (group.id.starts_with("android") || group.id.starts_with("ios:"))
        return "A virtual device, build, or test may be interrupted.";
    if (group.id == "debugger") return "An active debugging session may end.";
    if (group.id.starts_with("agent")) return "An active coding session may end.";
    if (group.appPath && !complete) return "Selected app helpers may exit without an app-level save prompt.";
    return std::nullopt;
}

}  // namespace

ImpactAssessment ImpactAssessment::make(const std::vector<ProcessGroup>& groups,
                                        const std::unordered_set<std::string>& selectedIDs, int limit)
{
    // A selected parent whose children stay behind leaves them without the
    // service they were started for; protected children count too.
    std::unordered_map<std::int32_t, std::size_t> unselectedChildren;
    for (const ProcessGroup& group : groups) {
        for (const ProcessRecord& member : group.members) {
            if (!selectedIDs.contains(member.id())) ++unselectedChildren[member.parent];
        }
    }

    ImpactAssessment assessment;
    const auto home = Paths::Home::current();
    const std::size_t entryLimit = limit > 0 ? static_cast<std::size_t>(limit) : 0;
    std::vector<std::string> notes;
    for (const ProcessGroup& group : groups) {
        std::vector<const ProcessRecord*> selection;
        for (const ProcessRecord& record : group.stoppable) {
            if (selectedIDs.contains(record.id())) selection.push_back(&record);
        }
        if (selection.empty()) continue;

        const int selected = static_cast<int>(selection.size());
        const int available = static_cast<int>(group.stoppableIDs.size());
        const bool complete = selected == available;
        assessment.selectedCount += selected;
        ++assessment.groupCount;

        if (assessment.groups.size() < entryLimit) {
            SelectedImpactGroup entry;
            entry.id = group.id;
            entry.title = group.title;
            entry.impact = impactText(group, complete);
            entry.isApplication = group.appPath.has_value();
            entry.selectedCount = selected;
            entry.availableCount = available;
            entry.isCompleteSelection = complete;
            for (const ProcessRecord* record : selection) entry.selectedPIDs.push_back(record->pid);
            entry.facts = factLines(group, selection, complete, unselectedChildren, home);
            assessment.groups.push_back(std::move(entry));
        }

        if (std::optional<std::string> note = noteFor(group, complete);
            note && std::find(notes.begin(), notes.end(), *note) == notes.end()) {
            notes.push_back(std::move(*note));
        }
    }

    assessment.omittedGroupCount = std::max(0, assessment.groupCount - static_cast<int>(assessment.groups.size()));
    if (notes.size() > maximumNotes) notes.resize(maximumNotes);
    assessment.highImpactNotes = std::move(notes);
    return assessment;
}

}  // namespace corvalent

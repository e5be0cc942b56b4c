#include "ui/processes/review/impact_review_texts.h"

#include <algorithm>

#include "core/process/processes.h"

namespace corvalent::ImpactReviewTexts {
namespace {

QString plural(int count, const char* one, const char* many)
{
    return QString::fromLatin1(count == 1 ? one : many);
}

}  // namespace

int normalQuitCount(const ImpactAssessment& assessment)
{
    return static_cast<int>(std::count_if(assessment.groups.begin(), assessment.groups.end(), [](const auto& group) {
        return group.isApplication && group.isCompleteSelection;
    }));
}

QString actionTitle(const ImpactAssessment& assessment)
{
    const int quits = normalQuitCount(assessment);
    const int groups = assessment.groupCount;
    if (quits == groups)
        return QString::number(quits) + ' ' + plural(quits, "app", "apps") +
               QStringLiteral(" will be asked to quit normally");
    if (quits < 1)
        return QString::number(assessment.selectedCount) + QStringLiteral(" selected ") +
               plural(assessment.selectedCount, "process", "processes") + QStringLiteral(" will receive stop signals");
    const int signalled = groups - quits;
    return QString::number(quits) + ' ' + plural(quits, "app", "apps") + QStringLiteral(" will quit normally; ") +
           QString::number(signalled) + ' ' + plural(signalled, "group", "groups") +
           QStringLiteral(" will receive stop signals");
}

QString actionSummary(const ImpactAssessment& assessment)
{
    if (normalQuitCount(assessment) == assessment.groupCount)
        return QStringLiteral("The system can show save prompts or refuse the quit. Corvalent will not force close "
                              "anything from this action.");
    return QStringLiteral("Complete apps get a normal quit request. Individual helpers and tools stop without an "
                          "app-level save prompt.");
}

QStringList checksBeforeStopping(const ImpactAssessment& assessment)
{
    QStringList checks;
    QStringList apps;
    for (const auto& group : assessment.groups)
        if (group.isApplication && apps.size() < 3) apps << QString::fromStdString(group.title);
    if (!apps.isEmpty())
        checks << QStringLiteral("Finish or save anything you want to keep in ") + apps.join(QStringLiteral(", ")) +
                      '.';
    const bool containers = std::any_of(assessment.highImpactNotes.begin(), assessment.highImpactNotes.end(),
                                        [](const std::string& note) {
                                            return QString::fromStdString(note).contains(QStringLiteral("containers"),
                                                                                         Qt::CaseInsensitive);
                                        });
    if (containers) {
        // Named after the container runtime that was selected.
        QStringList runtimes;
        for (const auto& group : assessment.groups)
            if (Classifier::runsContainers(group.title)) runtimes << QString::fromStdString(group.title);
        runtimes.removeDuplicates();
        const auto runtime = runtimes.isEmpty() ? QStringLiteral("the container runtime") : runtimes.join(QStringLiteral(", "));
        checks << QStringLiteral("Pause important container or database writes before quitting ") + runtime + '.';
    }
    for (const auto& group : assessment.groups)
        if (!group.isCompleteSelection)
            checks << QStringLiteral("Review ") + QString::fromStdString(group.title) + QStringLiteral(": only ") +
                          QString::number(group.selectedCount) + QStringLiteral(" of ") +
                          QString::number(group.availableCount) + QStringLiteral(" stoppable processes are selected.");
    const bool orphans = std::any_of(assessment.groups.begin(), assessment.groups.end(), [](const auto& group) {
        return std::any_of(group.facts.begin(), group.facts.end(),
                           [](const std::string& fact) { return fact.find("not selected") != std::string::npos; });
    });
    if (orphans) checks << QStringLiteral("Some child processes will remain running and may lose their parent service.");
    return checks.mid(0, 4);
}

QStringList usefulFacts(const SelectedImpactGroup& group)
{
    QStringList facts;
    for (const auto& fact : group.facts)
        if (!fact.starts_with("Selected processes:")) facts << QString::fromStdString(fact);
    return facts;
}

Chip method(const SelectedImpactGroup& group)
{
    if (!group.isApplication) return {QStringLiteral("Process stop signal"), QStringLiteral("terminal")};
    if (group.isCompleteSelection) return {QStringLiteral("Normal app quit"), QStringLiteral("macwindow")};
    return {QStringLiteral("Selected helpers only"), QStringLiteral("terminal")};
}

std::vector<int> groupPorts(const SelectedImpactGroup& group, const std::map<std::int32_t, std::vector<int>>& ports)
{
    std::vector<int> result;
    for (const auto pid : group.selectedPIDs)
        if (const auto found = ports.find(pid); found != ports.end())
            result.insert(result.end(), found->second.begin(), found->second.end());
    std::sort(result.begin(), result.end());
    result.erase(std::unique(result.begin(), result.end()), result.end());
    return result;
}

QString portLine(const std::vector<int>& ports)
{
    if (ports.empty()) return {};
    QStringList numbers;
    for (const int port : ports) numbers << QString::number(port);
    return QStringLiteral("Listening on TCP ") + numbers.join(QStringLiteral(", ")) +
           QStringLiteral("; connected clients may disconnect.");
}

QString omittedLine(int omittedGroupCount)
{
    if (omittedGroupCount < 1) return {};
    return QString::number(omittedGroupCount) +
           QStringLiteral(" additional selected groups are omitted from this preview.");
}

}  // namespace corvalent::ImpactReviewTexts

#pragma once

// The words of the impact review: what the stop will do and what to check
// first. Pure functions of the assessment.

#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <vector>

#include "core/process/impact_assessment.h"

namespace corvalent::ImpactReviewTexts {

// Groups the sheet shows that will get a normal quit: complete applications.
int normalQuitCount(const ImpactAssessment& assessment);
// Apps are counted among the listed groups only; every other selected group,
// listed or omitted, counts as one that receives stop signals.
QString actionTitle(const ImpactAssessment& assessment);
QString actionSummary(const ImpactAssessment& assessment);
// At most four, in order of weight.
QStringList checksBeforeStopping(const ImpactAssessment& assessment);
// The group's facts without the selection count the card already implies.
QStringList usefulFacts(const SelectedImpactGroup& group);

struct Chip {
    QString text;
    QString symbol;
};
Chip method(const SelectedImpactGroup& group);

// The ports the group's selected processes listen on, distinct and ascending.
std::vector<int> groupPorts(const SelectedImpactGroup& group, const std::map<std::int32_t, std::vector<int>>& ports);
// Empty when there are no ports.
QString portLine(const std::vector<int>& ports);
// Empty when nothing was omitted.
QString omittedLine(int omittedGroupCount);

}  // namespace corvalent::ImpactReviewTexts

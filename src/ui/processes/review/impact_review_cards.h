#pragma once

// The blocks of the impact review sheet that only show the assessment: the
// action in plain words, the checklist and one card per selected group.

#include <QWidget>

#include <cstdint>
#include <map>
#include <vector>

#include "core/process/impact_assessment.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {

class ElidedLabel;

namespace ImpactReviewBlocks {

QColor teal();
QColor cyan();

QWidget* actionSummary(const ImpactAssessment& assessment);
// Null when there is nothing to check.
QWidget* checklist(const ImpactAssessment& assessment);
// A symbol and a line of text in one colour, free to wrap.
QWidget* symbolLine(const QString& symbol, const QString& text, const QFont& font, const Tone& tone,
                    ElidedLabel** label = nullptr);

}  // namespace ImpactReviewBlocks

// One selected group: how it will be stopped, what it does, its facts and,
// once the probe has answered, the ports it listens on.
class ImpactGroupCard : public QWidget {
public:
    explicit ImpactGroupCard(SelectedImpactGroup group, QWidget* parent = nullptr);

    const SelectedImpactGroup& group() const { return group_; }
    void showPorts(const std::map<std::int32_t, std::vector<int>>& ports);
    // Empty while the group listens on no port.
    QString portText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    SelectedImpactGroup group_;
    QWidget* portRow_ = nullptr;
    ElidedLabel* portLabel_ = nullptr;
};

}  // namespace corvalent

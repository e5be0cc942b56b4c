#pragma once

// The contextual inspector beside the process list: the focused group in
// full (header, figures, what a stop would do, one row per member process),
// or a placeholder while no listed group is focused, which says so when the
// group it showed is focused still but all of its processes have ended. It
// keeps no state of its own beyond its rows and what it last showed; the
// member checkboxes add single processes to the model's selection or take
// them out.

#include <QWidget>

#include <optional>
#include <string>
#include <vector>

class QScrollArea;
class QStackedLayout;
class QVBoxLayout;

namespace corvalent {

class CoalescedCall;
class ElidedLabel;
class ProcessIconStore;
class VantleModel;
struct ProcessGroup;

namespace inspector {
class HeaderCard;
class ImpactCard;
class MemberRow;
class Placeholder;
class StatTile;
}  // namespace inspector

class ProcessInspector : public QWidget {
    Q_OBJECT

public:
    ProcessInspector(VantleModel& model, ProcessIconStore& icons, QWidget* parent = nullptr);

    bool showsPlaceholder() const;
    // The placeholder's sentence about the inspected group that ended, if shown.
    QString endedText() const;
    inspector::HeaderCard& header() { return *header_; }
    // The tile of that label ("FOOTPRINT", "CPU", "PROCESSES").
    inspector::StatTile* tile(const QString& label) const;
    inspector::ImpactCard& impact() { return *impact_; }
    QString relatedText() const;
    // The member rows built so far, in the group's order.
    const std::vector<inspector::MemberRow*>& rows() const { return rows_; }
    inspector::MemberRow* row(int pid) const;
    QScrollArea& scrollArea() { return *scroll_; }
    // Something floats over the pane's foot, `height` high: the details and
    // the placeholder end above it, so a control Tab reaches rests in sight.
    void setCoveredFoot(int height);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildContent();
    void refresh();
    bool lastShownEnded() const;
    void showGroup(const ProcessGroup& group);
    void syncRows(const ProcessGroup& group);
    void chainChecks();
    void growIfNearEnd();
    void setMember(const std::string& id, bool on);

    VantleModel& model_;
    ProcessIconStore& icons_;
    QStackedLayout* stack_ = nullptr;
    inspector::Placeholder* placeholder_ = nullptr;
    QScrollArea* scroll_ = nullptr;
    inspector::HeaderCard* header_ = nullptr;
    std::vector<inspector::StatTile*> tiles_;
    inspector::ImpactCard* impact_ = nullptr;
    ElidedLabel* related_ = nullptr;
    QVBoxLayout* members_ = nullptr;
    std::vector<inspector::MemberRow*> rows_;
    std::optional<std::string> shownID_;
    // The group last shown: its title and processes, to tell when all ended.
    struct Shown {
        std::string id;
        std::string title;
        std::vector<std::string> memberIDs;
    };
    std::optional<Shown> lastShown_;
    std::size_t built_ = 0;  // how many members have rows: more as the list scrolls
    CoalescedCall* refreshSoon_ = nullptr;
};

}  // namespace corvalent

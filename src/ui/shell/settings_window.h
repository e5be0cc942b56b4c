#pragma once

// The settings window: four grouped sections that write straight through to
// the model and the stored preferences; there is nothing to apply or cancel.

#include <QWidget>

#include "ui/shell/app_appearance.h"

class QPushButton;
class QVBoxLayout;

namespace corvalent {

class ElidedLabel;
class MessageLine;
class Segment;
class SegmentedControl;
class Switch;
class SymbolView;
class VantleModel;

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(VantleModel& model, QWidget* parent = nullptr);

    Switch& protectedSwitch() { return *protected_; }
    Switch& protectedLocationsSwitch() { return *protectedLocations_; }
    Switch& inspectorSwitch() { return *inspector_; }
    SegmentedControl& themeControl() { return *theme_; }
    Segment& themeSegment(AppAppearance appearance);
    QPushButton& fullDiskAccessButton() { return *openSettings_; }
    // Says when "Open Home Folder" opened nothing.
    MessageLine& fullDiskAccessMessage() { return *openFailed_; }
    // The symbol beside the protected-process switch.
    QString protectionSymbol() const;
    QString diskAccessCaption() const;

    // The caption under the disk-access switch for its value.
    static QString diskAccessCaption(bool includeProtectedLocations);

private:
    void buildProcessVisibility(QVBoxLayout& column);
    void buildAppearance(QVBoxLayout& column);
    void buildDiskAccess(QVBoxLayout& column);
    void buildLayout(QVBoxLayout& column);

    VantleModel& model_;
    Switch* protected_ = nullptr;
    SymbolView* protectionBadge_ = nullptr;
    SegmentedControl* theme_ = nullptr;
    Switch* protectedLocations_ = nullptr;
    ElidedLabel* diskAccessCaption_ = nullptr;
    QPushButton* openSettings_ = nullptr;
    MessageLine* openFailed_ = nullptr;
    Switch* inspector_ = nullptr;
};

}  // namespace corvalent

#pragma once

// The settings window: four grouped sections that write straight through to
// the model and the stored preferences; there is nothing to apply or cancel.

#include <QAbstractButton>
#include <QWidget>

#include <vector>

#include "ui/app_appearance.h"

class QButtonGroup;
class QLabel;
class QPushButton;

namespace corvalent {

class ToggleSwitch;
class VantleModel;

// A square badge holding one symbol: the rounded teal tile beside a setting.
class SymbolBadge : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString symbol READ symbol WRITE setSymbol)

public:
    explicit SymbolBadge(const QString& symbol, QWidget* parent = nullptr);
    QString symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    QSize sizeHint() const override { return {34, 34}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

// One segment of a segmented control: its title after its symbol; the
// chosen segment is filled with the accent.
class Segment : public QAbstractButton {
    Q_OBJECT

public:
    Segment(const QString& title, const QString& symbol, QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
};

// A row of exclusive segments on a shared track.
class SegmentedControl : public QWidget {
    Q_OBJECT

public:
    explicit SegmentedControl(const QString& accessibleName, QWidget* parent = nullptr);
    Segment* addSegment(const QString& title, const QString& symbol, int id);
    void setCurrent(int id);
    int current() const;

signals:
    void chosen(int id);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QButtonGroup* group_;
};

class SettingsWindow : public QWidget {
    Q_OBJECT

public:
    explicit SettingsWindow(VantleModel& model, QWidget* parent = nullptr);

    ToggleSwitch& protectedSwitch() { return *protected_; }
    ToggleSwitch& protectedLocationsSwitch() { return *protectedLocations_; }
    ToggleSwitch& inspectorSwitch() { return *inspector_; }
    SegmentedControl& themeControl() { return *theme_; }
    Segment& themeSegment(AppAppearance appearance);
    QPushButton& fullDiskAccessButton() { return *openSettings_; }
    // The symbol beside the protected-process switch.
    QString protectionSymbol() const;
    QString diskAccessCaption() const;

    // The caption under the disk-access switch for its value.
    static QString diskAccessCaption(bool includeProtectedLocations);

signals:
    void includePrivacyProtectedLocationsChanged(bool on);
    void showInspectorChanged(bool on);

protected:
    void changeEvent(QEvent* event) override;

private:
    QLabel* addSecondaryLabel(const QString& text, QWidget* parent);
    void tintLabels();

    VantleModel& model_;
    ToggleSwitch* protected_ = nullptr;
    SymbolBadge* protectionBadge_ = nullptr;
    SegmentedControl* theme_ = nullptr;
    ToggleSwitch* protectedLocations_ = nullptr;
    QLabel* diskAccessCaption_ = nullptr;
    QPushButton* openSettings_ = nullptr;
    ToggleSwitch* inspector_ = nullptr;
    std::vector<QLabel*> secondary_;
    bool tinting_ = false;
};

}  // namespace corvalent

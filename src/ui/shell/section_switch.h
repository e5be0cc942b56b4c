#pragma once

// The two section buttons of the window's top bar, on a shared track with a
// teal plate that slides to the selected one. Each button is a control of
// its own: Tab reaches it, Space or Return presses it, its help text is its
// tooltip, and readers hear its title with "Selected" or "Not selected".

#include <QAbstractButton>
#include <QPointer>
#include <QWidget>

#include <optional>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

class QVariantAnimation;

namespace corvalent {

enum class AppSection { processes, storage };

QString sectionTitle(AppSection section);   // "Processes", "Disk Space"
QString sectionSymbol(AppSection section);  // "waveform.path.ecg", "internaldrive"
// "Return to Overview" on the selected button, else "Show <title>".
QString sectionHelpText(AppSection button, std::optional<AppSection> selected);

class SectionButton : public QAbstractButton {
public:
    SectionButton(AppSection section, QWidget* parent = nullptr);

    AppSection section() const { return section_; }
    bool selected() const { return selected_; }
    void setSelected(bool selected, const QString& helpText);
    const FocusRing& focusRing() const { return focusRing_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    AppSection section_;
    bool selected_ = false;
    FocusRing focusRing_;
};

class SectionSwitch : public QWidget {
    Q_OBJECT

public:
    explicit SectionSwitch(QWidget* parent = nullptr);
    void setSection(std::optional<AppSection> section);
    SectionButton& button(AppSection section) const;
    QSize sizeHint() const override;

signals:
    // Pressing the shown section returns to the overview (nullopt).
    void sectionChosen(std::optional<AppSection> section);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::optional<AppSection> section_;
    SectionButton* processes_ = nullptr;
    SectionButton* storage_ = nullptr;
    double plate_ = -1;  // the plate's position: 0 processes, 1 storage, -1 hidden
};

}  // namespace corvalent

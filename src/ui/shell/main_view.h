#pragma once

// The main window's root: the section switch, the page of the current
// section (the overview, the process workspace or the disk workspace), the
// Refresh handling, the feed of process samples to the disk model, the
// access introduction over everything on first use, and the two stop sheets.

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "models/disk_model.h"

class QDialog;
class QStackedWidget;
class QVariantAnimation;

namespace corvalent {

class VantleModel;

enum class AppSection { processes, storage };

QString sectionTitle(AppSection section);   // "Processes", "Disk Space"
QString sectionSymbol(AppSection section);  // "waveform.path.ecg", "internaldrive"

// The two toolbar buttons with the teal plate that slides to the selected one.
class SectionSwitch : public QWidget {
    Q_OBJECT

public:
    explicit SectionSwitch(QWidget* parent = nullptr);
    void setSection(std::optional<AppSection> section);
    QSize sizeHint() const override;
    // The help text and accessibility of one button, for the current section.
    QString helpText(AppSection section) const;

signals:
    // Pressing the shown section returns to the overview (nullopt).
    void sectionChosen(std::optional<AppSection> section);

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    QRectF buttonRect(int index) const;
    void updateTexts();

    std::optional<AppSection> section_;
    double plate_ = -1;  // the plate's position: 0 processes, 1 storage, -1 hidden
    QPointer<QVariantAnimation> slide_;
};

class MainView : public QWidget {
    Q_OBJECT

public:
    using IntroductionFactory = std::function<QWidget*(QWidget* parent, std::function<void()> close)>;

    MainView(VantleModel& model, QWidget* parent = nullptr);
    // Tests give the disk model their own volume list and probes.
    MainView(VantleModel& model, DiskModelEnvironment diskEnvironment, QWidget* parent = nullptr);
    ~MainView() override;

    std::optional<AppSection> section() const { return section_; }
    void setSection(std::optional<AppSection> section);
    DiskModel& diskModel() { return *diskModel_; }
    SectionSwitch& sectionSwitch() { return *switch_; }
    QWidget* currentPage() const;
    bool showsAccessIntroduction() const { return introduction_ != nullptr; }

    // The access introduction drawn over the page on first use.
    void setIntroductionFactory(IntroductionFactory factory) { introductionFactory_ = std::move(factory); }
    // Where the process and disk workspaces come from (empty pages until built).
    void setPageFactory(AppSection section, std::function<QWidget*(QWidget* parent)> factory);

    void refreshCurrentSection();

signals:
    void sectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QWidget* makePage(std::optional<AppSection> section);
    void showPage();
    void firstShown();
    void syncSheets();

    VantleModel& model_;
    std::unique_ptr<DiskModel> diskModel_;
    std::optional<AppSection> section_;
    SectionSwitch* switch_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    QWidget* page_ = nullptr;
    QWidget* introduction_ = nullptr;
    IntroductionFactory introductionFactory_;
    std::function<QWidget*(QWidget*)> processPageFactory_;
    std::function<QWidget*(QWidget*)> storagePageFactory_;
    QPointer<QDialog> requestSheet_;
    QPointer<QDialog> reviewSheet_;
    bool shownOnce_ = false;
};

}  // namespace corvalent

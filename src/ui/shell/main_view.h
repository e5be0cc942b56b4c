#pragma once

// The main window's root: the section switch, the page of the current
// section (the overview, the process workspace or the disk workspace), the
// Refresh handling, the feed of process samples to the disk model, the
// access introduction over the page on first use, and the two stop sheets.
// It paints the window's backdrop once; the pages are transparent over it.

#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>
#include <optional>

#include "models/disk_model.h"
#include "ui/shell/hero_backdrop.h"
#include "ui/shell/section_switch.h"

class QDialog;
class QStackedWidget;

namespace corvalent {

class LanguageModel;
class ProcessIconStore;
class VantleModel;

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
    QWidget* accessIntroduction() const { return introduction_; }

    // The access introduction drawn over the page area on first use; the
    // top bar stays usable, and a section change swaps the page beneath it.
    void setIntroductionFactory(IntroductionFactory factory) { introductionFactory_ = std::move(factory); }
    // Where the process and disk workspaces come from (empty pages until built).
    void setPageFactory(AppSection section, std::function<QWidget*(QWidget* parent)> factory);
    // The application's icon store, for the overview's running-work rows.
    void setIconStore(ProcessIconStore* icons);
    // The model that writes the impact review's brief; a local model server unless given.
    void setLanguageModel(std::unique_ptr<LanguageModel> languageModel);

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
    void syncRequestSheet();
    void syncReviewSheet();

    VantleModel& model_;
    std::unique_ptr<DiskModel> diskModel_;
    std::optional<AppSection> section_;
    SectionSwitch* switch_ = nullptr;
    QWidget* pageArea_ = nullptr;  // the pages and, over them, the introduction
    QStackedWidget* pages_ = nullptr;
    QWidget* page_ = nullptr;
    QWidget* introduction_ = nullptr;
    IntroductionFactory introductionFactory_;
    std::function<QWidget*(QWidget*)> processPageFactory_;
    ProcessIconStore* icons_ = nullptr;
    std::function<QWidget*(QWidget*)> storagePageFactory_;
    QPointer<QDialog> requestSheet_;
    QPointer<QDialog> reviewSheet_;
    std::unique_ptr<LanguageModel> languageModel_;  // made on the first review unless given
    HeroBackdrop backdrop_;
    bool shownOnce_ = false;
};

}  // namespace corvalent

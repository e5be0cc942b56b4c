#include "ui/shell/main_view.h"

#include <QDialog>
#include <QPainter>
#include <QStackedWidget>
#include <QVBoxLayout>

#include "models/app_notifications.h"
#include "models/disk_model.h"
#include "models/language_model.h"
#include "models/performance_check.h"
#include "models/preferences.h"
#include "models/vantle_model.h"
#include "ui/overview/overview_page.h"
#include "ui/processes/review/impact_review_view.h"
#include "ui/processes/stop/stop_confirmation.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/sheet_binding.h"

namespace corvalent {
namespace {

constexpr int topBarHeight = 44;

}  // namespace

MainView::MainView(VantleModel& model, QWidget* parent) : MainView(model, DiskModelEnvironment::system(), parent) {}

MainView::MainView(VantleModel& model, DiskModelEnvironment diskEnvironment, QWidget* parent)
    : QWidget(parent), model_(model), diskModel_(std::make_unique<DiskModel>(std::move(diskEnvironment)))
{
    if (PerformanceCheck::processEnabled()) section_ = AppSection::processes;

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    auto* topBar = new QWidget(this);
    topBar->setFixedHeight(topBarHeight);
    auto* topLayout = new QHBoxLayout(topBar);
    topLayout->setContentsMargins(0, 0, 0, 0);
    switch_ = new SectionSwitch(topBar);
    switch_->setSection(section_);
    topLayout->addStretch();
    topLayout->addWidget(switch_, 0, Qt::AlignVCenter);
    topLayout->addStretch();
    layout->addWidget(topBar);
    pageArea_ = new QWidget(this);
    auto* pageLayout = new QVBoxLayout(pageArea_);
    pageLayout->setContentsMargins(0, 0, 0, 0);
    pages_ = new QStackedWidget(pageArea_);
    pageLayout->addWidget(pages_);
    layout->addWidget(pageArea_, 1);

    connect(switch_, &SectionSwitch::sectionChosen, this, &MainView::setSection);
    connect(&AppNotifications::instance(), &AppNotifications::refreshRequested, this,
            &MainView::refreshCurrentSection);
    connect(&model_, &VantleModel::snapshotChanged, this, [this] {
        diskModel_->updateProcessGroups(model_.snapshot() ? model_.snapshot()->groups : std::vector<ProcessGroup>{});
    });
    connect(&model_, &VantleModel::requestChanged, this, &MainView::syncSheets);
    connect(&model_, &VantleModel::impactReviewChanged, this, &MainView::syncSheets);
    showPage();
}

MainView::~MainView() = default;

QWidget* MainView::currentPage() const
{
    return page_;
}

void MainView::setPageFactory(AppSection section, std::function<QWidget*(QWidget*)> factory)
{
    (section == AppSection::processes ? processPageFactory_ : storagePageFactory_) = std::move(factory);
    if (section_ == section) showPage();
}

void MainView::setIconStore(ProcessIconStore* icons)
{
    icons_ = icons;
    if (!section_) showPage();
}

QWidget* MainView::makePage(std::optional<AppSection> section)
{
    if (!section) {
        auto* overview = new OverviewPage(model_, *diskModel_, pages_, icons_);
        connect(overview, &OverviewPage::openProcesses, this, [this] { setSection(AppSection::processes); });
        connect(overview, &OverviewPage::openDiskSpace, this, [this] { setSection(AppSection::storage); });
        return overview;
    }
    const auto& factory = *section == AppSection::processes ? processPageFactory_ : storagePageFactory_;
    return factory ? factory(pages_) : new QWidget(pages_);
}

void MainView::showPage()
{
    // A change of section replaces the page rather than updating it: the old
    // one fades out over the new one, which fades in rising into place.
    if (page_ != nullptr) AppMotion::fadeOutCover(pages_, Qt::transparent);
    auto* next = makePage(section_);
    pages_->addWidget(next);
    pages_->setCurrentWidget(next);
    if (page_ != nullptr) {
        pages_->removeWidget(page_);
        page_->deleteLater();
    }
    page_ = next;
    if (introduction_ != nullptr) {
        page_->setEnabled(false);
        introduction_->raise();
    }
    AppMotion::riseIn(next);
}

void MainView::setSection(std::optional<AppSection> section)
{
    section_ = section;
    switch_->setSection(section);
    model_.setProcessViewActive(section != AppSection::storage);
    diskModel_->setViewActive(section == AppSection::storage);
    showPage();
    emit sectionChanged();
}

void MainView::refreshCurrentSection()
{
    if (section_ == AppSection::storage) {
        diskModel_->refreshCurrentView();
    } else if (section_ == AppSection::processes) {
        model_.refresh();
    } else {
        QPointer<MainView> self(this);
        model_.refresh([self] {
            if (self) self->diskModel_->loadVolumes(true);
        });
    }
}

void MainView::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (shownOnce_) return;
    shownOnce_ = true;
    firstShown();
}

void MainView::firstShown()
{
    diskModel_->setViewActive(section_ == AppSection::storage);
    QPointer<MainView> self(this);
    diskModel_->loadVolumes(false, [self] {
        if (!self || self->model_.measuring() || !self->introductionFactory_) return;
        if (Preferences::standard().hasSeenFullDiskAccessIntroduction()) return;
        self->introduction_ = self->introductionFactory_(self->pageArea_, [self] {
            if (!self || self->introduction_ == nullptr) return;
            const bool held = holdsFocus(*self->introduction_);
            self->introduction_->deleteLater();
            self->introduction_ = nullptr;
            if (self->page_ != nullptr) self->page_->setEnabled(true);
            // The card's focus goes on to the page it uncovered, not to nothing.
            auto* next = self->page_ != nullptr ? firstControlIn(*self->page_) : nullptr;
            if (next == nullptr) next = firstControlIn(*self);
            if (held && next != nullptr) handFocus(*next);
        });
        if (self->page_ != nullptr) self->page_->setEnabled(false);
        self->introduction_->setGeometry(self->pageArea_->rect());
        self->introduction_->show();
        self->introduction_->raise();
    });
}

void MainView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (introduction_ != nullptr) introduction_->setGeometry(pageArea_->rect());
}

// The only backdrop of the window: the top bar and the pages draw none.
void MainView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    backdrop_.paint(painter, size(), CorvalentStyle::windowBackground(palette()), devicePixelRatioF());
}

// The stop confirmation and the impact review are window-modal sheets that
// stay open while the model holds their request or review; closing one
// clears it in the model.
void MainView::syncSheets()
{
    syncRequestSheet();
    syncReviewSheet();
}

void MainView::setLanguageModel(std::unique_ptr<LanguageModel> languageModel)
{
    languageModel_ = std::move(languageModel);
}

void MainView::syncReviewSheet()
{
    syncSheet(
        *this, reviewSheet_,
        [this]() -> std::optional<QString> {
            const auto& review = model_.impactReview();
            return review ? std::optional<QString>(review->id) : std::nullopt;
        },
        [this]() -> QDialog* {
            if (!languageModel_) languageModel_ = std::make_unique<LocalModelServer>();
            return new ImpactReviewView(*model_.impactReview(), *languageModel_, window());
        },
        [this] { model_.setImpactReview(std::nullopt); });
}

void MainView::syncRequestSheet()
{
    syncSheet(
        *this, requestSheet_,
        [this]() -> std::optional<QString> {
            const auto& request = model_.request();
            return request ? std::optional<QString>(request->id) : std::nullopt;
        },
        [this]() -> QDialog* { return new StopConfirmation(model_, *model_.request(), window()); },
        [this] { model_.setRequest(std::nullopt); });
}

}  // namespace corvalent

#include "ui/shell/main_view.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QGraphicsOpacityEffect>
#include <QHelpEvent>
#include <QMouseEvent>
#include <QToolTip>
#include <QPainter>
#include <QPainterPath>
#include <QSettings>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include "models/app_notifications.h"
#include "models/disk_model.h"
#include "models/performance_check.h"
#include "models/vantle_model.h"
#include "ui/overview/overview_page.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int buttonWidth = 30;
constexpr int buttonHeight = 22;
constexpr int switchPadding = 3;
constexpr int switchSpacing = 2;
constexpr int topBarHeight = 44;
constexpr int heroHeight = 260;

int indexOf(AppSection section)
{
    return section == AppSection::processes ? 0 : 1;
}

AppSection sectionAt(int index)
{
    return index == 0 ? AppSection::processes : AppSection::storage;
}

}  // namespace

QString sectionTitle(AppSection section)
{
    return section == AppSection::processes ? QStringLiteral("Processes") : QStringLiteral("Disk Space");
}

QString sectionSymbol(AppSection section)
{
    return section == AppSection::processes ? QStringLiteral("waveform.path.ecg") : QStringLiteral("internaldrive");
}

SectionSwitch::SectionSwitch(QWidget* parent) : QWidget(parent)
{
    setCursor(Qt::PointingHandCursor);
    setMouseTracking(true);
    setFixedSize(sizeHint());
    updateTexts();
}

QSize SectionSwitch::sizeHint() const
{
    return {2 * switchPadding + 2 * buttonWidth + switchSpacing, 2 * switchPadding + buttonHeight};
}

QRectF SectionSwitch::buttonRect(int index) const
{
    return {static_cast<double>(switchPadding + index * (buttonWidth + switchSpacing)), double(switchPadding),
            double(buttonWidth), double(buttonHeight)};
}

QString SectionSwitch::helpText(AppSection section) const
{
    return section_ == section ? QStringLiteral("Return to Overview") : "Show " + sectionTitle(section);
}

void SectionSwitch::updateTexts()
{
    // One widget holds both buttons: the tooltip and accessible text name the
    // one under the pointer, and both sections are described for readers.
    setAccessibleName(sectionTitle(AppSection::processes) + ", " + sectionTitle(AppSection::storage));
    setAccessibleDescription(section_ ? sectionTitle(*section_) + ": Selected" : QStringLiteral("Not selected"));
}

void SectionSwitch::setSection(std::optional<AppSection> section)
{
    section_ = section;
    updateTexts();
    const double target = section ? indexOf(*section) : -1;
    if (slide_) slide_->stop();
    if (target < 0 || plate_ < 0) {
        // The plate appears or leaves in place; it slides only between buttons.
        plate_ = target;
        update();
        return;
    }
    const double from = plate_;
    AppMotion::animate(this, AppMotion::selection(), [this, from, target](double t) {
        plate_ = from + (target - from) * t;
        update();
    });
}

void SectionSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(track, CorvalentStyle::primary(palette(), 0.055));
    if (plate_ >= 0) {
        const auto plate = buttonRect(0).translated(plate_ * (buttonWidth + switchSpacing), 0);
        QColor shadow = CorvalentStyle::teal();
        shadow.setAlphaF(0.22f);
        QPainterPath shadowPath;
        shadowPath.addRoundedRect(plate.translated(0, 1).adjusted(-1, -1, 1, 1), 6, 6);
        painter.fillPath(shadowPath, shadow);
        QPainterPath platePath;
        platePath.addRoundedRect(plate, 5, 5);
        painter.fillPath(platePath, CorvalentStyle::teal());
    }
    for (int index = 0; index < 2; ++index) {
        const auto section = sectionAt(index);
        const bool selected = section_ == section;
        const auto colour = selected ? QColor(Qt::white) : CorvalentStyle::secondary(palette());
        const auto icon = Symbols::pixmap(sectionSymbol(section), colour, 14, devicePixelRatioF());
        const auto area = buttonRect(index);
        painter.drawPixmap(QPointF(area.center().x() - 7, area.center().y() - 7), icon);
    }
}

bool SectionSwitch::event(QEvent* event)
{
    if (event->type() == QEvent::ToolTip) {
        const auto* help = static_cast<QHelpEvent*>(event);
        for (int index = 0; index < 2; ++index) {
            if (buttonRect(index).contains(help->pos())) {
                QToolTip::showText(help->globalPos(), helpText(sectionAt(index)), this);
                return true;
            }
        }
        QToolTip::hideText();
        return true;
    }
    return QWidget::event(event);
}

void SectionSwitch::mouseReleaseEvent(QMouseEvent* event)
{
    for (int index = 0; index < 2; ++index) {
        if (!buttonRect(index).contains(event->position())) continue;
        const auto section = sectionAt(index);
        emit sectionChosen(section_ == section ? std::nullopt : std::optional(section));
        return;
    }
}

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
    pages_ = new QStackedWidget(this);
    layout->addWidget(pages_, 1);

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

QWidget* MainView::makePage(std::optional<AppSection> section)
{
    if (!section) {
        auto* overview = new OverviewPage(model_, *diskModel_, pages_);
        connect(overview, &OverviewPage::openProcesses, this, [this] { setSection(AppSection::processes); });
        connect(overview, &OverviewPage::openDiskSpace, this, [this] { setSection(AppSection::storage); });
        return overview;
    }
    const auto& factory = *section == AppSection::processes ? processPageFactory_ : storagePageFactory_;
    return factory ? factory(pages_) : new QWidget(pages_);
}

void MainView::showPage()
{
    // A change of section replaces the page rather than updating it.
    auto* next = makePage(section_);
    pages_->addWidget(next);
    pages_->setCurrentWidget(next);
    if (page_ != nullptr) {
        pages_->removeWidget(page_);
        page_->deleteLater();
    }
    page_ = next;
    if (introduction_ != nullptr) page_->setEnabled(false);
    if (!AppMotion::reduceMotion()) {
        auto* fade = new QGraphicsOpacityEffect(next);
        fade->setOpacity(0);
        next->setGraphicsEffect(fade);
        QPointer<QWidget> guard(next);
        AppMotion::animate(next, AppMotion::standard(), [guard](double t) {
            if (!guard) return;
            if (auto* effect = qobject_cast<QGraphicsOpacityEffect*>(guard->graphicsEffect())) {
                effect->setOpacity(std::clamp(t, 0.0, 1.0));
                if (t >= 1.0) guard->setGraphicsEffect(nullptr);
            }
        });
    }
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
        if (!self || PerformanceCheck::enabled() || !self->introductionFactory_) return;
        if (QSettings().value("hasSeenFullDiskAccessIntroduction", false).toBool()) return;
        self->introduction_ = self->introductionFactory_(self, [self] {
            if (!self || self->introduction_ == nullptr) return;
            self->introduction_->deleteLater();
            self->introduction_ = nullptr;
            if (self->page_ != nullptr) self->page_->setEnabled(true);
        });
        if (self->page_ != nullptr) self->page_->setEnabled(false);
        self->introduction_->setGeometry(self->rect());
        self->introduction_->show();
        self->introduction_->raise();
    });
}

void MainView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    if (introduction_ != nullptr) introduction_->setGeometry(rect());
}

void MainView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::windowBackground(palette()));
    CorvalentStyle::paintHeroGradient(painter, QRectF(0, 0, width(), heroHeight));
}

// The stop confirmation and the impact review are window-modal sheets that
// stay open while the model holds their request or review; closing one
// clears it in the model.
void MainView::syncSheets()
{
    const auto sync = [this](QPointer<QDialog>& sheet, bool wanted, const QString& button, std::function<void()> clear) {
        if (wanted && sheet.isNull()) {
            auto* dialog = new QDialog(window());
            dialog->setWindowModality(Qt::WindowModal);
            dialog->setAttribute(Qt::WA_DeleteOnClose);
            auto* layout = new QVBoxLayout(dialog);
            auto* buttons = new QDialogButtonBox(dialog);
            buttons->addButton(new Button(Button::Kind::bordered, button), QDialogButtonBox::RejectRole);
            layout->addWidget(buttons);
            connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
            connect(dialog, &QDialog::finished, this, [clear = std::move(clear)] { clear(); });
            sheet = dialog;
            dialog->open();
        } else if (!wanted && !sheet.isNull()) {
            auto* dialog = sheet.data();
            sheet = nullptr;
            dialog->close();
        }
    };
    sync(requestSheet_, model_.request().has_value(), QStringLiteral("Cancel"), [this] {
        if (model_.request()) model_.setRequest(std::nullopt);
    });
    sync(reviewSheet_, model_.impactReview().has_value(), QStringLiteral("Done"), [this] {
        if (model_.impactReview()) model_.setImpactReview(std::nullopt);
    });
}

}  // namespace corvalent

#include "ui/disk/disk_view.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>

#include "models/background_task.h"
#include "models/disk_model.h"
#include "models/preferences.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_guide_sheet.h"
#include "ui/disk/header/disk_header.h"
#include "ui/disk/scan/empty_state.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/scan/scan_progress.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/segmented_control.h"
#include "ui/widgets/sheet_binding.h"
#include "ui/widgets/unavailable_content.h"

namespace corvalent {

DiskView::Environment DiskView::Environment::system(std::function<FullDiskAccessStatus()> check)
{
    Environment environment;
    environment.probeAccess = std::move(check);
    environment.revealer = std::make_shared<DesktopFileRevealer>();
    return environment;
}

DiskView::DiskView(DiskModel& model, bool showsInspector, Environment environment, QWidget* parent)
    : QWidget(parent), model_(model), showsInspector_(showsInspector), environment_(std::move(environment))
{
    commands_.scanSelectedVolume = [this] { scanSelectedVolume(); };
    commands_.chooseFolder = [this] { chooseFolder(); };
    commands_.stopScan = [this] { stopScan(); };

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    body_ = new QWidget(this);
    layout->addWidget(body_);
    auto* column = new QVBoxLayout(body_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    header_ = new DiskHeader(model_, state_, commands_, body_);
    column->addWidget(header_);
    column->addWidget(new Divider(Qt::Horizontal, 0, body_));
    // Where a reveal that nothing could show says so, above what was revealed from.
    revealMessage_ = new MessageLine(body_, std::chrono::seconds(12));
    revealMessage_->setObjectName("revealMessage");
    revealMessage_->setContentsMargins(24, 8, 24, 0);
    column->addWidget(revealMessage_);
    contentStack_ = new QStackedWidget(body_);
    column->addWidget(contentStack_, 1);

    panels_[static_cast<int>(Content::empty)] = new DiskEmptyState(model_, commands_, contentStack_);
    // The progress column is taller than the content area of the smallest window.
    panels_[static_cast<int>(Content::progress)] =
        transparentScrollArea(new ScanProgressPanel(model_, state_, commands_), contentStack_);
    panels_[static_cast<int>(Content::progress)]->setAccessibleName(QStringLiteral("Scan progress"));
    if (!environment_.revealer) environment_.revealer = std::make_shared<DesktopFileRevealer>();
    environment_.revealer->setFailure([line = QPointer<MessageLine>(revealMessage_)](const std::string& path) {
        if (line) line->say(revealFailureText(path));
    });
    map_ = new DiskMapPanel(model_, state_, *environment_.revealer, showsInspector_, contentStack_);
    panels_[static_cast<int>(Content::map)] = map_;
    failed_ = new UnavailableContent(QStringLiteral("Couldn’t map this folder"),
                                     QStringLiteral("externaldrive.badge.exclamationmark"), contentStack_);
    panels_[static_cast<int>(Content::failed)] = failed_;
    for (auto* panel : panels_) contentStack_->addWidget(panel);

    connect(&model_, &DiskModel::scanChanged, this, &DiskView::showContent);
    connect(&model_, &DiskModel::resultChanged, this, &DiskView::showContent);
    connect(&model_, &DiskModel::resultPublished, this, &DiskView::resultPublished);
    // The header's parts and the sidebar's footnote come and go with the
    // model: the page folds again once they have.
    connect(&model_, &DiskModel::resultChanged, this, &DiskView::foldToHeight, Qt::QueuedConnection);
    header_->installEventFilter(this);
    connect(&state_, &DiskViewState::showingAccessSetupChanged, this, &DiskView::syncAccessOverlay);
    connect(&state_, &DiskViewState::cleanupCandidateChanged, this, &DiskView::syncSheets);
    connect(&state_, &DiskViewState::cleanupGuideChanged, this, &DiskView::syncSheets);
    connect(qGuiApp, &QGuiApplication::applicationStateChanged, this, [this](Qt::ApplicationState now) {
        if (now == Qt::ApplicationActive) refreshFullDiskAccessStatus();
    });
    showContent();
    contentStack_->setCurrentWidget(panels_[static_cast<int>(content_)]);
    if (model_.result()) resultPublished();

    QPointer<DiskView> self(this);
    model_.loadVolumes(true, [self] {
        if (self) self->refreshFullDiskAccessStatus();
    });
}

DiskView::~DiskView() = default;

QWidget& DiskView::contentPanel(Content content) const
{
    return *panels_[static_cast<int>(content)];
}

void DiskView::setShowsInspector(bool on)
{
    showsInspector_ = on;
    map_->setShowsInspector(on);
}

void DiskView::scanSelectedVolume()
{
    if (const auto volume = model_.selectedVolume()) model_.scan(volume->url);
}

void DiskView::chooseFolder()
{
    if (!environment_.folderChooser) return;
    QPointer<DiskView> self(this);
    environment_.folderChooser->choose(window(), [self](std::optional<std::string> folder) {
        if (self && folder) self->model_.scan(*folder);
    });
}

void DiskView::stopScan()
{
    // The stop control turns off while the scan winds down: the focus it
    // holds waits for the results and goes on to them.
    contentFocus_ = FocusHandOn(std::vector{panels_[static_cast<int>(Content::progress)]});
    model_.stopScan();
}

// Probes may overlap, as when the application comes to the front during one:
// each shows `checking` while it runs and the last to end decides.
void DiskView::refreshFullDiskAccessStatus()
{
    if (!environment_.probeAccess) return;
    state_.setFullDiskAccessStatus(FullDiskAccessStatus::checking);
    BackgroundTask::start(
        this, [probe = environment_.probeAccess](std::stop_token) { return probe(); },
        [this](FullDiskAccessStatus status) {
            state_.setFullDiskAccessStatus(status);
            const bool granted = status == FullDiskAccessStatus::granted;
            auto& preferences = Preferences::standard();
            if (preferences.includePrivacyProtectedLocations() != granted)
                preferences.setIncludePrivacyProtectedLocations(granted);
        });
}

// A new result, also of the same folder again, shows its root with nothing hovered.
void DiskView::resultPublished()
{
    map_->forgetMap();
    if (const auto& result = model_.result()) state_.setFocusedNodeID(result->root.id);
    state_.setHoveredID(std::nullopt);
}

void DiskView::showContent()
{
    const auto& status = model_.status();
    Content next = Content::empty;
    switch (status.kind) {
    case DiskModelStatus::Kind::idle: next = Content::empty; break;
    case DiskModelStatus::Kind::scanning: next = Content::progress; break;
    case DiskModelStatus::Kind::ready: next = model_.result() ? Content::map : Content::empty; break;
    case DiskModelStatus::Kind::failed: next = Content::failed; break;
    }
    if (next == Content::failed) failed_->setDescription(status.message);
    if (next == content_) return;
    // The focus inside the content that goes is taken before it goes, so
    // that it does not run along the window's chain to the toolbar: a scan
    // started from the sidebar leads to its stop, and its results back to
    // the sidebar's list.
    auto* leaving = panels_[static_cast<int>(content_)];
    if (!contentFocus_.from()) {
        auto& list = map_->sidebar().currentContent();
        if (leaving == map_) focusedList_ = holdsFocus(list) ? &list : nullptr;
        contentFocus_ = FocusHandOn(std::vector{leaving});
    }
    content_ = next;
    AppMotion::fadeOutCover(contentStack_, CorvalentStyle::windowBackground(palette()));
    auto* panel = panels_[static_cast<int>(next)];
    contentStack_->setCurrentWidget(panel);
    auto* list = next == Content::map ? focusedList_.data() : nullptr;
    auto& picker = map_->sidebar().picker();
    contentFocus_.handTo({list != nullptr ? firstControlIn(*list) : nullptr,
                          list != nullptr ? picker.segment(picker.current()) : nullptr, firstControlIn(*panel),
                          firstControlIn(*header_)});
    contentFocus_ = {};
    if (next == Content::map) focusedList_ = nullptr;
}

void DiskView::syncAccessOverlay()
{
    const bool showing = state_.showingAccessSetup();
    body_->setEnabled(!showing);
    if (showing && overlay_.isNull() && environment_.accessOverlay) {
        QPointer<DiskView> self(this);
        overlay_ = environment_.accessOverlay(this, [self] {
            if (self) self->state_.setShowingAccessSetup(false);
        });
        overlay_->setGeometry(rect());
        overlay_->show();
        overlay_->raise();
        return;
    }
    if (showing) return;
    if (!overlay_.isNull()) {
        const bool held = holdsFocus(*overlay_);
        AppMotion::fadeOutCover(overlay_, CorvalentStyle::windowBackground(palette()));
        overlay_->deleteLater();
        overlay_ = nullptr;
        // The card's focus goes on to the page it uncovered, not to nothing.
        if (auto* next = firstControlIn(*body_); held && next != nullptr) handFocus(*next);
    }
    refreshFullDiskAccessStatus();
}

// The confirmation stays open while the state holds its candidate, the guide
// while it holds its guide; closing either clears it.
void DiskView::syncSheets()
{
    // Nothing protected is offered for the Trash; should one be chosen all
    // the same, no sheet opens for it.
    if (const auto& candidate = state_.cleanupCandidate(); candidate && !candidate->canMoveToTrash()) {
        state_.setCleanupCandidate(std::nullopt);
        return;
    }
    syncSheet(
        *this, confirmation_,
        [this]() -> std::optional<QString> {
            const auto& candidate = state_.cleanupCandidate();
            return candidate ? std::optional(QString::fromStdString(candidate->path)) : std::nullopt;
        },
        [this]() -> QDialog* {
            return new DiskCleanupConfirmation(model_, *state_.cleanupCandidate(), *environment_.revealer, window());
        },
        [this] { state_.setCleanupCandidate(std::nullopt); });
    syncSheet(
        *this, guide_,
        [this]() -> std::optional<QString> {
            const auto& guide = state_.cleanupGuide();
            return guide ? std::optional(QString::fromUtf8(guide->id().data(), qsizetype(guide->id().size())))
                         : std::nullopt;
        },
        [this]() -> QDialog* { return new DiskCleanupGuideView(*state_.cleanupGuide(), window()); },
        [this] { state_.setCleanupGuide(std::nullopt); });
}

// On a short page, as on a small screen, the header and the sidebar's title
// give way until the sidebar's list has room for two review cards; the map,
// as tall, then keeps its centre label inside the inner ring. Only the
// page's own height counts, so a taller page never folds more.
void DiskView::foldToHeight()
{
    constexpr int keptList = 250;
    constexpr int divider = 1;
    auto& sidebar = map_->sidebar();
    const int full = header_->fullHeight() + divider + sidebar.fullHeightAroundList() + keptList;
    const auto header = header_->foldSavings();
    const std::array frees{header[0], header[1], sidebar.titleSaving()};
    folded_ = corvalent::foldedParts(height(), full, frees);
    header_->setFolded(std::min(folded_, 2));
    sidebar.setTitleShown(folded_ < 3);
}

bool DiskView::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == header_ && event->type() == QEvent::LayoutRequest) foldToHeight();
    return QWidget::eventFilter(watched, event);
}

void DiskView::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    foldToHeight();
    if (!overlay_.isNull()) overlay_->setGeometry(rect());
}

void DiskView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::withAlpha(CorvalentStyle::windowBackground(palette()), 0.76));
}

}  // namespace corvalent

#include "ui/disk/map/map_panel.h"

#include <QPainter>

#include <algorithm>

#include <QRadialGradient>
#include <QSplitter>
#include <QVBoxLayout>

#include "models/disk_model.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/map/map_toolbar.h"
#include "ui/disk/map/sunburst_map.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

constexpr int mapPaneMinimum = 500;
constexpr int sidebarMinimum = 330;
constexpr int sidebarIdeal = 380;
constexpr int sidebarMaximum = 470;

// The map's pane: a teal glow in its middle, fading out 330 px from it.
class MapPane : public QWidget {
public:
    using QWidget::QWidget;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        const QPointF centre = rect().center();
        QRadialGradient glow(centre, 330);
        const auto teal = CorvalentStyle::teal();
        glow.setColorAt(20.0 / 330.0, CorvalentStyle::withAlpha(teal, 0.055));
        glow.setColorAt(1, CorvalentStyle::withAlpha(teal, 0));
        painter.fillRect(rect(), glow);
    }
};

}  // namespace

DiskMapPanel::DiskMapPanel(DiskModel& model, DiskViewState& state, FileRevealer& revealer, bool showsInspector,
                           QWidget* parent)
    : QWidget(parent), model_(model), state_(state), revealer_(revealer)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    split_ = new QSplitter(Qt::Horizontal, this);
    split_->setChildrenCollapsible(false);
    split_->setHandleWidth(1);
    layout->addWidget(split_);

    pane_ = new MapPane(split_);
    pane_->setMinimumWidth(mapPaneMinimum);
    auto* column = new QVBoxLayout(pane_);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    toolbar_ = new MapToolbar([this] { back(); }, [this] { revealFocused(); }, pane_);
    column->addWidget(toolbar_);
    auto* mapArea = new QVBoxLayout;
    mapArea->setContentsMargins(28, 28, 28, 28);
    map_ = new SunburstDiskMap(state_, pane_);
    map_->setOnSelect([this](const DiskNode& node) { select(node); });
    mapArea->addWidget(map_);
    column->addLayout(mapArea, 1);
    split_->addWidget(pane_);
    split_->setStretchFactor(0, 1);

    sidebar_ = new DiskSidebar(model_, state_, revealer_, split_);
    sidebar_->setMinimumWidth(sidebarMinimum);
    sidebar_->setMaximumWidth(sidebarMaximum);
    split_->addWidget(sidebar_);
    split_->setStretchFactor(1, 0);
    split_->setSizes({mapPaneMinimum + 300, sidebarIdeal});
    sidebar_->setVisible(showsInspector);

    connect(&model_, &DiskModel::resultChanged, this, &DiskMapPanel::sync);
    connect(&state_, &DiskViewState::focusedNodeIDChanged, this, &DiskMapPanel::sync);
    sync();
}

void DiskMapPanel::sync()
{
    const auto& result = model_.result();
    const auto* focused = state_.focusedNode(result);
    if (focused == nullptr) {
        map_->setRoot(nullptr);
        shownID_.reset();
        return;
    }
    // Another node of the same tree is another map: the old one fades out over the new.
    if (shownID_ && *shownID_ != focused->id) AppMotion::fadeOutCover(map_, CorvalentStyle::windowBackground(palette()));
    shownID_ = focused->id;
    map_->setRoot(focused);
    toolbar_->setNodes(result->root, *focused, result->cancelled);
}

// The sidebar comes and goes with the inspector setting; the map pane takes
// the whole width without it.
void DiskMapPanel::setShowsInspector(bool on)
{
    if (sidebar_->isVisibleTo(this) == on) return;
    AppMotion::fadeOutCover(split_, CorvalentStyle::windowBackground(palette()));
    sidebar_->setVisible(on);
    if (on) split_->setSizes({std::max(mapPaneMinimum, split_->width() - sidebarIdeal), sidebarIdeal});
}

void DiskMapPanel::forgetMap()
{
    map_->setRoot(nullptr);
    shownID_.reset();
}

void DiskMapPanel::select(const DiskNode& node)
{
    if (node.isDirectory && !node.children.empty()) {
        state_.setFocusedNodeID(node.id);
    } else {
        state_.setHoveredID(node.id);
    }
}

void DiskMapPanel::back()
{
    const auto& result = model_.result();
    const auto* focused = state_.focusedNode(result);
    if (focused == nullptr) return;
    const auto* parent = result->root.parent(focused->id);
    state_.setFocusedNodeID(parent != nullptr ? parent->id : result->root.id);
    state_.setHoveredID(std::nullopt);
}

void DiskMapPanel::revealFocused()
{
    const auto* focused = state_.focusedNode(model_.result());
    if (focused != nullptr && focused->path) revealer_.reveal(*focused->path);
}

}  // namespace corvalent

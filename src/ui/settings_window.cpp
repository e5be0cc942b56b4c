#include "ui/settings_window.h"

#include <QButtonGroup>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QSettings>
#include <QShortcut>
#include <QVBoxLayout>

#include "models/vantle_model.h"
#include "ui/corvalent_style.h"
#include "ui/system_settings.h"
#include "ui/toggle_switch.h"

namespace corvalent {
namespace {

const QString inspectorKey = QStringLiteral("showInspector");
const QString protectedLocationsKey = QStringLiteral("includePrivacyProtectedLocations");

constexpr double bodyPoints = 10;
constexpr double captionPoints = 8.8;

QString lockSymbol(bool showProtected)
{
    return showProtected ? QStringLiteral("lock.open.fill") : QStringLiteral("lock.shield.fill");
}

QLabel* bodyLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(CorvalentStyle::font(bodyPoints, QFont::Medium));
    return label;
}

// A section: its plain header above a panel whose layout the caller fills.
QVBoxLayout* addSection(QVBoxLayout& column, const QString& title, QWidget* parent)
{
    auto* header = new QLabel(title, parent);
    header->setFont(CorvalentStyle::font(bodyPoints, QFont::DemiBold));
    header->setContentsMargins(4, 0, 0, 0);
    auto* panel = new PanelSurface(10, parent);
    auto* inside = new QVBoxLayout(panel);
    inside->setContentsMargins(14, 12, 14, 12);
    inside->setSpacing(6);
    auto* section = new QVBoxLayout;
    section->setSpacing(5);
    section->addWidget(header);
    section->addWidget(panel);
    column.addLayout(section);
    return inside;
}

// A bordered button in the accent colour: a soft teal fill with teal text.
class AccentButton : public QPushButton {
public:
    AccentButton(const QString& text, QWidget* parent) : QPushButton(text, parent)
    {
        setCursor(Qt::PointingHandCursor);
        setAutoDefault(false);
        setFont(CorvalentStyle::font(bodyPoints - 0.5, QFont::Medium));
    }
    QSize sizeHint() const override
    {
        return {fontMetrics().horizontalAdvance(text()) + 28, fontMetrics().height() + 12};
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        auto fill = CorvalentStyle::teal();
        fill.setAlphaF(isDown() ? 0.22f : underMouse() ? 0.16f : 0.11f);
        QPainterPath shape;
        shape.addRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 7, 7);
        painter.fillPath(shape, fill);
        if (hasFocus()) {
            auto ring = CorvalentStyle::teal();
            ring.setAlphaF(0.5f);
            painter.setPen(QPen(ring, 1.5));
            painter.drawPath(shape);
        }
        painter.setPen(isEnabled() ? CorvalentStyle::teal() : CorvalentStyle::tertiary(palette()));
        painter.drawText(rect(), Qt::AlignCenter, text());
    }
};

}  // namespace

SymbolBadge::SymbolBadge(const QString& symbol, QWidget* parent) : QWidget(parent), symbol_(symbol)
{
    setFixedSize(34, 34);
}

void SymbolBadge::setSymbol(const QString& symbol)
{
    if (symbol == symbol_) return;
    symbol_ = symbol;
    update();
}

void SymbolBadge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    auto tile = CorvalentStyle::teal();
    tile.setAlphaF(0.11f);
    QPainterPath shape;
    shape.addRoundedRect(QRectF(rect()), 9, 9);
    painter.fillPath(shape, tile);
    constexpr int points = 17;
    const auto image = Symbols::pixmap(symbol_, CorvalentStyle::teal(), points, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - points) / 2.0, (height() - points) / 2.0), image);
}

Segment::Segment(const QString& title, const QString& symbol, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol)
{
    setText(title);
    setAccessibleName(title);
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFont(CorvalentStyle::font(bodyPoints - 0.5, QFont::Medium));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize Segment::sizeHint() const
{
    const int textWidth = fontMetrics().horizontalAdvance(text());
    return {14 + 13 + 6 + textWidth + 14, 26};
}

void Segment::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    if (isChecked()) {
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, CorvalentStyle::teal());
    } else if (isDown()) {
        QPainterPath shape;
        shape.addRoundedRect(area, 6, 6);
        painter.fillPath(shape, CorvalentStyle::primary(palette(), 0.06));
    }
    if (hasFocus()) {
        auto ring = CorvalentStyle::teal();
        ring.setAlphaF(0.5f);
        painter.setPen(QPen(ring, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(area.adjusted(-0.75, -0.75, 0.75, 0.75), 6.5, 6.5);
    }
    const QColor ink = isChecked() ? QColor(Qt::white) : CorvalentStyle::primary(palette(), 0.85);
    constexpr int points = 13;
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const double start = (width() - (points + 6 + textWidth)) / 2.0;
    painter.drawPixmap(QPointF(start, (height() - points) / 2.0),
                       Symbols::pixmap(symbol_, ink, points, devicePixelRatioF()));
    painter.setPen(ink);
    painter.drawText(QRectF(start + points + 6, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}

SegmentedControl::SegmentedControl(const QString& accessibleName, QWidget* parent)
    : QWidget(parent), group_(new QButtonGroup(this))
{
    setAccessibleName(accessibleName);
    group_->setExclusive(true);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(1, 1, 1, 1);
    row->setSpacing(0);
    connect(group_, &QButtonGroup::idClicked, this, &SegmentedControl::chosen);
}

Segment* SegmentedControl::addSegment(const QString& title, const QString& symbol, int id)
{
    auto* segment = new Segment(title, symbol, this);
    group_->addButton(segment, id);
    layout()->addWidget(segment);
    return segment;
}

void SegmentedControl::setCurrent(int id)
{
    if (auto* segment = group_->button(id)) segment->setChecked(true);
}

int SegmentedControl::current() const
{
    return group_->checkedId();
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(track, CorvalentStyle::primary(palette(), 0.06));
}

SettingsWindow::SettingsWindow(VantleModel& model, QWidget* parent) : QWidget(parent, Qt::Window), model_(model)
{
    setWindowTitle(QStringLiteral("Settings"));
    setFixedSize(500, 540);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(20, 18, 20, 18);
    column->setSpacing(16);
    QSettings settings;

    // Process visibility.
    {
        auto* inside = addSection(*column, QStringLiteral("Process visibility"), this);
        auto* row = new QHBoxLayout;
        row->setSpacing(12);
        protectionBadge_ = new SymbolBadge(lockSymbol(model_.showProtectedProcesses()), this);
        row->addWidget(protectionBadge_);
        auto* texts = new QVBoxLayout;
        texts->setSpacing(1);
        texts->addWidget(bodyLabel(QStringLiteral("Show protected processes"), this));
        texts->addWidget(addSecondaryLabel(QStringLiteral("Display processes Corvalent cannot stop."), this));
        row->addLayout(texts, 1);
        protected_ = new ToggleSwitch(this);
        protected_->setAccessibleName(QStringLiteral("Show protected processes"));
        protected_->setChecked(model_.showProtectedProcesses());
        row->addWidget(protected_, 0, Qt::AlignVCenter);
        inside->addLayout(row);
        auto* note = addSecondaryLabel(QStringLiteral("Protected processes stay view-only. Corvalent still checks "
                                                      "ownership, identity, and executable location before every "
                                                      "stop."),
                                       this);
        note->setWordWrap(true);
        inside->addWidget(note);

        connect(protected_, &QAbstractButton::toggled, this, [this](bool on) {
            if (model_.showProtectedProcesses() != on) model_.setShowProtectedProcesses(on);
        });
        connect(&model_, &VantleModel::showProtectedProcessesChanged, this, [this] {
            const bool on = model_.showProtectedProcesses();
            protectionBadge_->setSymbol(lockSymbol(on));
            if (protected_->isChecked() != on) protected_->setChecked(on);
        });
    }

    // Appearance.
    {
        auto* inside = addSection(*column, QStringLiteral("Appearance"), this);
        auto* row = new QHBoxLayout;
        row->setSpacing(12);
        row->addWidget(bodyLabel(QStringLiteral("Theme"), this));
        row->addStretch(1);
        theme_ = new SegmentedControl(QStringLiteral("Theme"), this);
        for (const auto choice : {AppAppearance::system, AppAppearance::light, AppAppearance::dark}) {
            auto* segment = theme_->addSegment(appearanceTitle(choice), appearanceSymbol(choice), static_cast<int>(choice));
            segment->setObjectName(QStringLiteral("appearance-") + rawValue(choice));
        }
        theme_->setFixedWidth(300);
        theme_->setCurrent(static_cast<int>(storedAppearance()));
        row->addWidget(theme_);
        inside->addLayout(row);
        auto* note = addSecondaryLabel(
            QStringLiteral("System follows your computer’s appearance. The app icon follows the system."), this);
        note->setWordWrap(true);
        inside->addWidget(note);

        connect(theme_, &SegmentedControl::chosen, this,
                [](int id) { setAppearance(static_cast<AppAppearance>(id)); });
        connect(&AppearanceNotifier::instance(), &AppearanceNotifier::appearanceChanged, this,
                [this](AppAppearance appearance) { theme_->setCurrent(static_cast<int>(appearance)); });
    }

    // Disk access.
    {
        auto* inside = addSection(*column, QStringLiteral("Disk access"), this);
        auto* row = new QHBoxLayout;
        row->addWidget(bodyLabel(QStringLiteral("Include privacy-protected folders"), this), 1);
        protectedLocations_ = new ToggleSwitch(this);
        protectedLocations_->setAccessibleName(QStringLiteral("Include privacy-protected folders"));
        protectedLocations_->setChecked(settings.value(protectedLocationsKey, false).toBool());
        row->addWidget(protectedLocations_, 0, Qt::AlignVCenter);
        inside->addLayout(row);
        diskAccessCaption_ = addSecondaryLabel(diskAccessCaption(protectedLocations_->isChecked()), this);
        diskAccessCaption_->setWordWrap(true);
        inside->addWidget(diskAccessCaption_);
        openSettings_ = new AccentButton(QStringLiteral("Open Home Folder"), this);
        openSettings_->setAttribute(Qt::WA_Hover);
        inside->addSpacing(2);
        inside->addWidget(openSettings_, 0, Qt::AlignLeft);

        connect(protectedLocations_, &QAbstractButton::toggled, this, [this](bool on) {
            QSettings().setValue(protectedLocationsKey, on);
            diskAccessCaption_->setText(diskAccessCaption(on));
            emit includePrivacyProtectedLocationsChanged(on);
        });
        connect(openSettings_, &QPushButton::clicked, this, [] { openFullDiskAccessSettings(); });
    }

    // Layout.
    {
        auto* inside = addSection(*column, QStringLiteral("Layout"), this);
        auto* row = new QHBoxLayout;
        row->addWidget(bodyLabel(QStringLiteral("Show contextual inspector"), this), 1);
        inspector_ = new ToggleSwitch(this);
        inspector_->setAccessibleName(QStringLiteral("Show contextual inspector"));
        inspector_->setChecked(settings.value(inspectorKey, true).toBool());
        row->addWidget(inspector_, 0, Qt::AlignVCenter);
        inside->addLayout(row);
        auto* note = addSecondaryLabel(
            QStringLiteral("Shows process details and storage breakdowns beside the main view."), this);
        note->setWordWrap(true);
        inside->addWidget(note);

        connect(inspector_, &QAbstractButton::toggled, this, [this](bool on) {
            QSettings().setValue(inspectorKey, on);
            emit showInspectorChanged(on);
        });
    }
    column->addStretch(1);

    auto* close = new QShortcut(QKeySequence::Close, this);
    connect(close, &QShortcut::activated, this, &QWidget::close);
    // Focus starts on the first switch without a keyboard ring.
    protected_->setFocus(Qt::OtherFocusReason);
    tintLabels();
}

Segment& SettingsWindow::themeSegment(AppAppearance appearance)
{
    return *findChild<Segment*>(QStringLiteral("appearance-") + rawValue(appearance));
}

QString SettingsWindow::protectionSymbol() const
{
    return protectionBadge_->symbol();
}

QString SettingsWindow::diskAccessCaption() const
{
    return diskAccessCaption_->text();
}

QString SettingsWindow::diskAccessCaption(bool includeProtectedLocations)
{
    return includeProtectedLocations
               ? QStringLiteral("Full scans include protected locations where the system allows access. Denied paths "
                                "are still reported.")
               : QStringLiteral("Limited scans skip Desktop, Documents, Downloads, Mail, Messages, Safari, "
                                "Photos, and cloud-storage folders unless you choose one directly.");
}

QLabel* SettingsWindow::addSecondaryLabel(const QString& text, QWidget* parent)
{
    auto* label = new QLabel(text, parent);
    label->setFont(CorvalentStyle::font(captionPoints));
    secondary_.push_back(label);
    return label;
}

void SettingsWindow::tintLabels()
{
    // Secondary text is the window's text faded; it follows light and dark.
    tinting_ = true;
    for (auto* label : secondary_) {
        auto tinted = label->palette();
        tinted.setColor(QPalette::WindowText, CorvalentStyle::secondary(palette()));
        label->setPalette(tinted);
    }
    tinting_ = false;
}

void SettingsWindow::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::PaletteChange && !tinting_) tintLabels();
    QWidget::changeEvent(event);
}

}  // namespace corvalent

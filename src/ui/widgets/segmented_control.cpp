#include "ui/widgets/segmented_control.h"

#include <QButtonGroup>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/widgets/checkable_accessible.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int symbolSize = 13;
constexpr int gap = 6;
constexpr int padding = 14;

QString selectionText(bool selected)
{
    return selected ? QStringLiteral("Selected") : QStringLiteral("Not selected");
}

}  // namespace

Segment::Segment(const QString& title, const QString& symbol, QWidget* parent)
    : QAbstractButton(parent), symbol_(symbol)
{
    // One choice of several, as a radio button is; a reader's action clicks it.
    installCheckableAccessible<Segment, QAccessible::RadioButton>();
    setText(title);
    setAccessibleName(title);
    setAccessibleDescription(selectionText(false));
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setFont(CorvalentStyle::font(TextStyle::callout, QFont::Medium));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    connect(this, &QAbstractButton::toggled, this,
            [this](bool selected) { setAccessibleDescription(selectionText(selected)); });
}

QSize Segment::sizeHint() const
{
    const int symbolWidth = symbol_.isEmpty() ? 0 : symbolSize + gap;
    return {padding + symbolWidth + fontMetrics().horizontalAdvance(text()) + padding, 26};
}

void Segment::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(2, 2, -2, -2);
    QPainterPath shape;
    shape.addRoundedRect(area, 6, 6);
    if (isChecked()) {
        painter.fillPath(shape, CorvalentStyle::teal());
        // The accent would vanish against the accent: two bands, one
        // against the track, one against the fill.
        focusRing_.paintOnFill(painter, *this, QRectF(rect()), 8, CorvalentStyle::teal());
    } else {
        if (isDown()) painter.fillPath(shape, CorvalentStyle::primary(palette(), 0.06));
        focusRing_.paint(painter, *this, QRectF(rect()), 8);
    }

    const QColor ink = isChecked() ? QColor(Qt::white) : CorvalentStyle::primary(palette(), 0.85);
    const int textWidth = fontMetrics().horizontalAdvance(text());
    const int symbolWidth = symbol_.isEmpty() ? 0 : symbolSize + gap;
    const double start = (width() - (symbolWidth + textWidth)) / 2.0;
    if (!symbol_.isEmpty())
        painter.drawPixmap(QPointF(start, (height() - symbolSize) / 2.0),
                           Symbols::pixmap(symbol_, ink, symbolSize, devicePixelRatioF()));
    painter.setPen(ink);
    painter.drawText(QRectF(start + symbolWidth, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft,
                     text());
}

void Segment::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QAbstractButton::focusInEvent(event);
}

void Segment::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QAbstractButton::focusOutEvent(event);
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
    connect(group_, &QButtonGroup::idToggled, this, [this](int, bool on) {
        if (on) keepTabStop();
    });
}

Segment* SegmentedControl::addSegment(const QString& title, const QString& symbol, int id)
{
    auto* segment = new Segment(title, symbol, this);
    if (segmentWidth_ > 0) segment->setFixedWidth(segmentWidth_);
    segment->installEventFilter(this);
    group_->addButton(segment, id);
    layout()->addWidget(segment);
    keepTabStop();
    return segment;
}

Segment* SegmentedControl::segment(int id) const
{
    return static_cast<Segment*>(group_->button(id));
}

void SegmentedControl::setSegmentWidth(int width)
{
    segmentWidth_ = width;
    for (auto* segment : group_->buttons()) segment->setFixedWidth(width);
}

void SegmentedControl::setCurrent(int id)
{
    if (auto* chosen = segment(id)) chosen->setChecked(true);
}

int SegmentedControl::current() const
{
    return group_->checkedId();
}

// Qt leaves the tab stop of an exclusive group on the segment that last had
// focus; a segment chosen since, by the program or a click, takes it over.
void SegmentedControl::keepTabStop()
{
    const auto segments = group_->buttons();
    auto* stop = group_->checkedButton() != nullptr ? group_->checkedButton() : segments.value(0);
    for (auto* segment : segments) {
        const auto policy = segment->focusPolicy();
        segment->setFocusPolicy(segment == stop ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                                : Qt::FocusPolicy(policy & ~Qt::TabFocus));
    }
}

void SegmentedControl::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), 8, 8);
    painter.fillPath(track, CorvalentStyle::primary(palette(), 0.06));
}

bool SegmentedControl::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::KeyPress) return QWidget::eventFilter(watched, event);
    switch (static_cast<QKeyEvent*>(event)->key()) {
    case Qt::Key_Left:
    case Qt::Key_Up: move(static_cast<Segment*>(watched), -1); return true;
    case Qt::Key_Right:
    case Qt::Key_Down: move(static_cast<Segment*>(watched), 1); return true;
    default: return QWidget::eventFilter(watched, event);
    }
}

void SegmentedControl::move(Segment* from, int step)
{
    const auto segments = group_->buttons();
    const auto at = segments.indexOf(from) + step;
    if (at < 0 || at >= segments.size()) return;
    auto* next = segments[at];
    next->setFocus(step < 0 ? Qt::BacktabFocusReason : Qt::TabFocusReason);
    next->click();
}

}  // namespace corvalent

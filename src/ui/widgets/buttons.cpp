#include "ui/widgets/buttons.h"

#include <QEnterEvent>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>

#include <algorithm>

#include "ui/widgets/app_motion.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr double radius = 7;
constexpr int padding = 14;
constexpr int symbolSize = 13;
constexpr int gap = 6;

QFont::Weight weightOf(Button::Kind kind)
{
    switch (kind) {
    case Button::Kind::prominent:
    case Button::Kind::destructive: return QFont::DemiBold;
    case Button::Kind::tinted:
    case Button::Kind::link: return QFont::Medium;
    case Button::Kind::bordered:
    case Button::Kind::plain: break;
    }
    return QFont::Normal;
}

// Qt's form of a label: every "&" doubled, so none marks a shortcut.
QString markedUp(const QString& label)
{
    return QString(label).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

}  // namespace

Button::Button(Kind kind, const QString& text, QWidget* parent, Size size)
    : QPushButton(markedUp(text), parent), kind_(kind), size_(size)
{
    setFont(CorvalentStyle::font(size == Size::large ? TextStyle::body : TextStyle::callout, weightOf(kind)));
    setCursor(Qt::PointingHandCursor);
    setAttribute(Qt::WA_Hover);
    setFocusPolicy(Qt::StrongFocus);
    // Return is handled below, never through a dialog's passing default.
    setAutoDefault(false);
    connect(this, &QAbstractButton::pressed, this, [this] { animatePress(true); });
    connect(this, &QAbstractButton::released, this, [this] { animatePress(false); });
}

void Button::setText(const QString& label)
{
    QPushButton::setText(markedUp(label));
}

// As Qt reads a marked-up text: "&&" is one "&", a lone "&" marks the next key.
QString Button::text() const
{
    const auto marked = QPushButton::text();
    QString shown;
    shown.reserve(marked.size());
    for (qsizetype i = 0; i < marked.size(); ++i) {
        if (marked[i] == QLatin1Char('&') && i + 1 < marked.size()) ++i;
        shown += marked[i];
    }
    return shown;
}

void Button::setSymbol(const QString& symbol)
{
    if (symbol_ == symbol) return;
    symbol_ = symbol;
    updateGeometry();
    update();
}

void Button::setBusy(bool busy)
{
    if (busy_ == busy) return;
    busy_ = busy;
    if (busy && !spinner_) {
        spinner_ = new Spinner(symbolSize, this);
        spinner_->setAttribute(Qt::WA_TransparentForMouseEvents);  // clicks still reach the button
    }
    if (spinner_) spinner_->setVisible(busy);
    updateGeometry();
    update();
}

QSize Button::sizeHint() const
{
    const QFontMetrics metrics(font());
    const auto shown = text();
    int width = metrics.horizontalAdvance(shown);
    if (busy_ || !symbol_.isEmpty()) width += symbolSize + (shown.isEmpty() ? 0 : gap);
    if (kind_ == Kind::link) return {width + 8, metrics.height() + 8};
    return {width + 2 * padding, size_ == Size::large ? 30 : 28};
}

void Button::animatePress(bool down)
{
    const double from = press_;
    const double to = down ? 1.0 : 0.0;
    const int generation = ++pressGeneration_;
    AppMotion::animate(this, AppMotion::selection(), [this, from, to, generation](double t) {
        if (generation != pressGeneration_) return;  // a newer press took over
        press_ = std::clamp(from + (to - from) * t, 0.0, 1.0);
        update();
    });
}

void Button::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(isEnabled() ? 1.0 - 0.18 * press_ : 0.45);
    if (press_ > 0 && !AppMotion::reduceMotion()) {
        const double scale = 1.0 - 0.025 * press_;
        const QPointF centre = QRectF(rect()).center();
        painter.translate(centre);
        painter.scale(scale, scale);
        painter.translate(-centre);
    }
    const auto ink = paintBackground(painter, QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5));
    if (busy_ && spinner_->palette().color(QPalette::WindowText) != ink) {
        auto tinted = spinner_->palette();
        tinted.setColor(QPalette::WindowText, ink);
        spinner_->setPalette(tinted);
    }
    if (const auto fill = filling())
        focusRing_.paintOnFill(painter, *this, QRectF(rect()), radius, *fill);
    else
        focusRing_.paint(painter, *this, QRectF(rect()), radius);
    paintLabel(painter, ink);
}

// The accent that fills a prominent or destructive button.
std::optional<QColor> Button::filling() const
{
    if (kind_ != Kind::prominent && kind_ != Kind::destructive) return std::nullopt;
    // Deep enough for its white label to read; a hover deepens it further.
    const auto accent = kind_ == Kind::prominent ? CorvalentStyle::teal() : CorvalentStyle::red();
    const auto fill = Contrast::readable(accent, Qt::white);
    return underMouse() && isEnabled() ? fill.darker(108) : fill;
}

// Draws the kind's fill and returns the colour of its text.
QColor Button::paintBackground(QPainter& painter, const QRectF& area) const
{
    const auto pal = palette();
    const bool hovered = underMouse() && isEnabled();
    const auto fill = [&](const QColor& colour, const QPen& pen = Qt::NoPen) {
        painter.setPen(pen);
        painter.setBrush(colour);
        painter.drawRoundedRect(area, radius, radius);
    };
    switch (kind_) {
    case Kind::prominent:
    case Kind::destructive:
        fill(*filling());
        return Qt::white;
    case Kind::bordered:
        fill(CorvalentStyle::primary(pal, hovered ? 0.07 : 0.045), QPen(CorvalentStyle::border(pal), 1));
        return CorvalentStyle::primary(pal);
    case Kind::tinted:
        fill(CorvalentStyle::withAlpha(CorvalentStyle::teal(), hovered ? 0.16 : 0.11));
        return CorvalentStyle::textTint(CorvalentStyle::teal(), pal);
    case Kind::plain:
        if (hovered) fill(CorvalentStyle::primary(pal, 0.04));
        return CorvalentStyle::secondary(pal);
    case Kind::link: break;
    }
    return CorvalentStyle::textTint(CorvalentStyle::teal(), pal);
}

void Button::paintLabel(QPainter& painter, const QColor& ink) const
{
    auto shown = font();
    shown.setUnderline(kind_ == Kind::link && underMouse() && isEnabled());
    const QFontMetrics metrics(shown);
    const auto words = text();
    const int textWidth = metrics.horizontalAdvance(words);
    const bool leading = busy_ || !symbol_.isEmpty();
    const int contentWidth = textWidth + (leading ? symbolSize + (words.isEmpty() ? 0 : gap) : 0);
    double x = (width() - contentWidth) / 2.0;
    if (busy_) {
        spinner_->move(static_cast<int>(x), (height() - symbolSize) / 2);
        x += symbolSize + gap;
    } else if (!symbol_.isEmpty()) {
        const auto image = Symbols::pixmap(symbol_, ink, symbolSize, devicePixelRatioF());
        painter.drawPixmap(QPointF(x, (height() - symbolSize) / 2.0), image);
        x += symbolSize + gap;
    }
    painter.setPen(ink);
    painter.setFont(shown);
    painter.drawText(QRectF(x, 0, textWidth + 1, height()), Qt::AlignVCenter | Qt::AlignLeft, words);
}

// A focused button takes a plain Return itself, as in any Linux dialog; one
// that ignores Return passes it on, so a dialog's default may take it.
void Button::keyPressEvent(QKeyEvent* event)
{
    const bool returnKey = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    const bool plain = (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
    if (returnKey && (ignoresReturn() || !plain)) {
        event->ignore();
        return;
    }
    if (returnKey) {
        click();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void Button::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QPushButton::focusInEvent(event);
}

void Button::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QPushButton::focusOutEvent(event);
}

InfoButton::InfoButton(const QString& accessibleName, QWidget* parent) : QAbstractButton(parent)
{
    setObjectName("infoButton");
    setAccessibleName(accessibleName);
    setFixedSize(16, 16);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

void InfoButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    constexpr int points = 11;
    const auto image =
        Symbols::pixmap("info.circle", CorvalentStyle::secondary(palette()), points, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - points) / 2.0, (height() - points) / 2.0), image);
    focusRing_.paint(painter, *this, QRectF(rect()), width() / 2.0);
}

void InfoButton::enterEvent(QEnterEvent* event)
{
    if (entered) entered();
    QAbstractButton::enterEvent(event);
}

void InfoButton::leaveEvent(QEvent* event)
{
    if (left) left();
    QAbstractButton::leaveEvent(event);
}

void InfoButton::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QAbstractButton::focusInEvent(event);
}

void InfoButton::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QAbstractButton::focusOutEvent(event);
}

}  // namespace corvalent

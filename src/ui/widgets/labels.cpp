#include "ui/widgets/labels.h"

#include <QPainter>
#include <QPainterPath>
#include <QRegularExpression>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace corvalent {
namespace {

// How narrow a wrapped label may become: its longest word, or this many
// average characters when that is longer (a long word is shortened then);
// and how wide it asks to be at most when one word is longer than that.
constexpr int narrowestWrapInCharacters = 30;
constexpr int widestWrapInCharacters = 80;

// An opaque ink in its readable shade; a see-through one is a text style
// that reads at its own opacity.
QColor readableInk(const QColor& ink, const QPalette& palette)
{
    return ink.alpha() < 255 ? ink : CorvalentStyle::textTint(ink, palette);
}

}  // namespace

QString shortenLongParts(const QString& text, const QFontMetricsF& metrics, double width)
{
    // A quoted part, spaces and all, or a run without spaces.
    static const QRegularExpression parts(QStringLiteral("\u201C[^\u201D]*\u201D\\S*|\\S+"));
    QString result;
    qsizetype from = 0;
    for (auto found = parts.globalMatch(text); found.hasNext();) {
        const auto part = found.next();
        result += text.mid(from, part.capturedStart() - from);
        const auto words = part.captured();
        if (metrics.horizontalAdvance(words) > width) {
            // Joined to its ellipsis, so that a line never breaks there.
            result += metrics.elidedText(words, Qt::ElideMiddle, width)
                          .replace(QStringLiteral("\u2026"), QStringLiteral("\u2060\u2026\u2060"));
        } else {
            result += words;
        }
        from = part.capturedEnd();
    }
    return result + text.mid(from);
}

ElidedLabel::ElidedLabel(const QString& text, const QFont& font, Tone tone, QWidget* parent)
    : QLabel(text, parent), tone_(std::move(tone))
{
    setTextFormat(Qt::PlainText);
    setFont(font);
}

QColor ElidedLabel::colour() const
{
    return readableInk(tone_(palette()), palette());
}

void ElidedLabel::setText(const QString& text)
{
    QLabel::setText(text);
    describe();
}

void ElidedLabel::setShortener(Shortener shortener)
{
    shortener_ = std::move(shortener);
    describe();
    update();
}

bool ElidedLabel::shortened() const
{
    const int width = contentsRect().width();
    if (text().isEmpty() || width <= 0) return false;
    if (limitsLines()) {
        QTextLayout layout(text(), font());
        QTextOption option;
        option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
        layout.setTextOption(option);
        layout.beginLayout();
        int lines = 0;
        for (auto line = layout.createLine(); line.isValid() && lines <= maximumLines_; line = layout.createLine()) {
            line.setLineWidth(width);
            ++lines;
        }
        layout.endLayout();
        return lines > maximumLines_;
    }
    if (wordWrap()) return wrappedText(width) != text();
    return fitLine().second != text();
}

void ElidedLabel::describe()
{
    // A tooltip its owner gave stays as it is.
    if (!described_ && !toolTip().isEmpty()) return;
    const bool shortNow = shortened();
    if (shortNow) {
        setLiteralToolTip(*this, text());
    } else if (described_) {
        setToolTip({});
        setAccessibleDescription({});
    }
    described_ = shortNow;
}

void ElidedLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    describe();
}

QString ElidedLabel::wrappedText(int width) const
{
    // A pixel to spare for rounding between measuring and drawing.
    return shortenLongParts(text(), QFontMetricsF(font()), std::max(1, width - 1));
}

int ElidedLabel::wrappedHeight(int width) const
{
    const QFontMetricsF metrics(font());
    const auto bounds = metrics.boundingRect(QRectF(0, 0, std::max(1, width), 1e7),
                                             static_cast<int>(alignment()) | Qt::TextWordWrap, wrappedText(width));
    const auto margins = contentsMargins();
    return static_cast<int>(std::ceil(std::max(bounds.height(), metrics.height()))) + margins.top() + margins.bottom();
}

void ElidedLabel::setTone(Tone tone)
{
    tone_ = std::move(tone);
    update();
}

void ElidedLabel::setElideMode(Qt::TextElideMode mode)
{
    elideMode_ = mode;
    describe();
    update();
}

void ElidedLabel::setShrinks(bool shrinks)
{
    shrinks_ = shrinks;
    updateGeometry();
}

void ElidedLabel::setMaximumLines(int lines)
{
    maximumLines_ = std::max(1, lines);
    if (limitsLines()) setWordWrap(true);
    updateGeometry();
}

bool ElidedLabel::hasLongPart(int width) const
{
    return wrappedText(width) != text();
}

int ElidedLabel::heightForWidth(int width) const
{
    const auto margins = contentsMargins();
    if (wordWrap() && !limitsLines() && hasLongPart(width - margins.left() - margins.right()))
        return wrappedHeight(width - margins.left() - margins.right());
    const int full = QLabel::heightForWidth(width);
    if (!limitsLines()) return full;
    const int lines = static_cast<int>(std::ceil(QFontMetricsF(font()).lineSpacing() * maximumLines_));
    return std::min(full, lines + margins.top() + margins.bottom());
}

QSize ElidedLabel::sizeHint() const
{
    auto hint = QLabel::sizeHint();
    // Never wider than a line of a paragraph, whatever one word's length.
    const int paragraph = QFontMetrics(font()).averageCharWidth() * widestWrapInCharacters;
    if (wordWrap() && hint.width() > paragraph && hasLongPart(paragraph)) hint.setWidth(paragraph);
    if (wordWrap()) hint.setHeight(heightForWidth(hint.width()));
    return hint;
}

QSize ElidedLabel::minimumSizeHint() const
{
    const auto hint = QLabel::minimumSizeHint();
    // A word longer than this is shortened rather than widen the layout.
    const int narrowest = QFontMetrics(font()).averageCharWidth() * narrowestWrapInCharacters;
    const int width = std::min(hint.width(), narrowest);
    if (limitsLines()) return {width, std::min(hint.height(), sizeHint().height())};
    if (wordWrap()) return hint.width() > narrowest ? QSize(width, heightForWidth(width)) : hint;
    if (!shrinks_) return hint;
    return {std::min(hint.width(), 24), hint.height()};
}

void ElidedLabel::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setPen(colour());
    painter.setFont(font());
    const auto area = contentsRect();
    if (limitsLines())
        paintLines(painter, area);
    else if (wordWrap())
        painter.drawText(area, static_cast<int>(alignment()) | Qt::TextWordWrap, wrappedText(area.width()));
    else
        paintOneLine(painter, area);
}

std::pair<QFont, QString> ElidedLabel::fitLine() const
{
    const int width = contentsRect().width();
    auto shown = font();
    const double full = QFontMetricsF(shown).horizontalAdvance(text());
    if (full > width && minimumScale_ < 1.0 && full > 0) {
        const double scale = std::max(minimumScale_, width / full);
        shown.setPixelSize(std::max(1, static_cast<int>(std::floor(shown.pixelSize() * scale))));
    }
    const QFontMetricsF metrics(shown);
    if (shortener_ && metrics.horizontalAdvance(text()) > width) return {shown, shortener_(text(), metrics, width)};
    return {shown, metrics.elidedText(text(), elideMode_, width)};
}

void ElidedLabel::paintOneLine(QPainter& painter, const QRect& area) const
{
    const auto [shown, line] = fitLine();
    painter.setFont(shown);
    painter.drawText(area, static_cast<int>(alignment()), line);
}

// Word-wrapped lines up to the maximum; the last one shown takes the rest of
// the text, elided.
void ElidedLabel::paintLines(QPainter& painter, const QRect& area) const
{
    const QFontMetricsF metrics(font());
    QTextLayout layout(text(), font());
    QTextOption option;
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    layout.beginLayout();
    QStringList lines;
    for (auto line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(area.width());
        if (lines.size() + 1 == maximumLines_) {
            lines << metrics.elidedText(text().mid(line.textStart()).simplified(), elideMode_, area.width());
            break;
        }
        lines << text().mid(line.textStart(), line.textLength()).trimmed();
    }
    layout.endLayout();
    const auto horizontal = static_cast<int>(alignment() & Qt::AlignHorizontal_Mask);
    double y = area.top();
    for (const auto& line : lines) {
        painter.drawText(QRectF(area.left(), y, area.width(), metrics.lineSpacing()), horizontal | Qt::AlignTop, line);
        y += metrics.lineSpacing();
    }
}

Badge::Badge(const QString& text, QColor colour, QWidget* parent) : Badge(text, Tones::fixed(colour), Look{}, parent) {}

Badge::Badge(const QString& text, Tone tone, const Look& look, QWidget* parent)
    : QLabel(text, parent), tone_(std::move(tone)), fillOpacity_(look.fillOpacity)
{
    setTextFormat(Qt::PlainText);
    setFont(CorvalentStyle::capitalsFont(look.tracking));
    setContentsMargins(look.padding);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QColor Badge::colour() const
{
    return readableInk(tone_(palette()), palette());
}

void Badge::setTone(Tone tone)
{
    tone_ = std::move(tone);
    update();
}

void Badge::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath capsule;
    const double radius = height() / 2.0;
    capsule.addRoundedRect(QRectF(rect()), radius, radius);
    const auto ink = colour();
    painter.fillPath(capsule, CorvalentStyle::withAlpha(ink, fillOpacity_ * ink.alphaF()));
    painter.setPen(ink);
    painter.drawText(contentsRect(), Qt::AlignCenter, text());
}

// Escaped, in a paragraph that keeps spaces and line breaks and wraps no
// more than a plain tooltip does.
QString literalToolTip(const QString& text)
{
    if (!Qt::mightBeRichText(text)) return text;
    return QStringLiteral("<p style=\"white-space:pre\">") + text.toHtmlEscaped() + QStringLiteral("</p>");
}

void setLiteralToolTip(QWidget& widget, const QString& text)
{
    widget.setToolTip(literalToolTip(text));
    widget.setAccessibleDescription(text);
}

}  // namespace corvalent

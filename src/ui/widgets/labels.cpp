#include "ui/widgets/labels.h"

#include <QPainter>
#include <QPainterPath>
#include <QTextDocument>
#include <QTextLayout>

#include <algorithm>
#include <cmath>

namespace corvalent {

ElidedLabel::ElidedLabel(const QString& text, const QFont& font, Tone tone, QWidget* parent)
    : QLabel(text, parent), tone_(std::move(tone))
{
    setTextFormat(Qt::PlainText);
    setFont(font);
}

void ElidedLabel::setTone(Tone tone)
{
    tone_ = std::move(tone);
    update();
}

void ElidedLabel::setElideMode(Qt::TextElideMode mode)
{
    elideMode_ = mode;
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

int ElidedLabel::heightForWidth(int width) const
{
    const int full = QLabel::heightForWidth(width);
    if (!limitsLines()) return full;
    const auto margins = contentsMargins();
    const int lines = static_cast<int>(std::ceil(QFontMetricsF(font()).lineSpacing() * maximumLines_));
    return std::min(full, lines + margins.top() + margins.bottom());
}

QSize ElidedLabel::sizeHint() const
{
    auto hint = QLabel::sizeHint();
    if (limitsLines()) hint.setHeight(heightForWidth(hint.width()));
    return hint;
}

QSize ElidedLabel::minimumSizeHint() const
{
    const auto hint = QLabel::minimumSizeHint();
    if (limitsLines()) return {hint.width(), std::min(hint.height(), sizeHint().height())};
    if (wordWrap() || !shrinks_) return hint;
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
        painter.drawText(area, static_cast<int>(alignment()) | Qt::TextWordWrap, text());
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
    return {shown, QFontMetricsF(shown).elidedText(text(), elideMode_, width)};
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

#pragma once

// Plain text in a colour read from the palette at paint time, so light and
// dark switch without rebuilding.

#include <QLabel>

#include <functional>
#include <utility>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {

// Three ways to fit the width it is given:
// - one line (the default): the text shrinks down to its minimum scale,
//   then is elided, instead of pushing the layout wider;
// - up to `maximumLines` lines, the last one elided;
// - word wrap (`setWordWrap(true)`): it grows as high as its text needs; a
//   quoted part or a word too long for one line is shortened in the middle,
//   so the rest of the sentence stays whole.
// Whenever its text is shortened, the whole text is its tooltip and its
// accessible description. Text in an accent colour is drawn in the accent's
// readable shade (CorvalentStyle::textTint).
class ElidedLabel : public QLabel {
public:
    // How one line is shortened to `width`, in place of eliding by the mode.
    using Shortener = std::function<QString(const QString& text, const QFontMetricsF& metrics, double width)>;

    ElidedLabel(const QString& text, const QFont& font, Tone tone, QWidget* parent = nullptr);

    QColor colour() const;
    void setTone(Tone tone);
    void setText(const QString& text);
    void setShortener(Shortener shortener);
    // Whether the text as drawn at the current width lacks some of its characters.
    bool shortened() const;
    // Where a line too long loses its characters: Qt::ElideRight or Qt::ElideMiddle.
    void setElideMode(Qt::TextElideMode mode);
    // How far one line may shrink before it is elided; 1 by default.
    void setMinimumScale(double scale) { minimumScale_ = scale; }
    // Whether the layout may give one line less than its full width.
    void setShrinks(bool shrinks);
    // 1 is one line; 2 or more wrap and elide the last line.
    void setMaximumLines(int lines);
    // One line as it is drawn at the current width: the text, or its elided
    // form once the minimum scale is reached, and the font it is drawn in.
    QString drawnText() const { return wordWrap() && !limitsLines() ? wrappedText(contentsRect().width()) : fitLine().second; }
    QFont drawnFont() const { return fitLine().first; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    std::pair<QFont, QString> fitLine() const;
    // The wrapped text with its long parts shortened to lines of `width`.
    QString wrappedText(int width) const;
    int wrappedHeight(int width) const;
    // Whether some part of the text is shortened at `width`.
    bool hasLongPart(int width) const;
    // Keeps the tooltip and the description in step with shortened().
    void describe();
    void paintOneLine(QPainter& painter, const QRect& area) const;
    void paintLines(QPainter& painter, const QRect& area) const;
    bool limitsLines() const { return maximumLines_ > 1; }

    Tone tone_;
    Qt::TextElideMode elideMode_ = Qt::ElideRight;
    double minimumScale_ = 1.0;
    bool shrinks_ = true;
    int maximumLines_ = 1;
    Shortener shortener_;
    bool described_ = false;
};

// A short word on a faint capsule of its own colour, as "RECOMMENDED".
class Badge : public QLabel {
public:
    // How loosely it is set: letter spacing, padding and the capsule's opacity.
    struct Look {
        double tracking = 0.6;
        QMargins padding{6, 1, 6, 1};
        double fillOpacity = 0.12;
    };

    Badge(const QString& text, QColor colour, QWidget* parent = nullptr);
    // In a colour read at paint time, as the secondary one that follows light and dark.
    Badge(const QString& text, Tone tone, const Look& look, QWidget* parent = nullptr);

    // The tone's readable shade; the capsule is the same shade, faint.
    QColor colour() const;
    void setTone(Tone tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone_;
    double fillOpacity_;
};

// `text` with each quoted part (“…”) and each word wider than `width`
// shortened in the middle to fit one line, the rest as it stands.
QString shortenLongParts(const QString& text, const QFontMetricsF& metrics, double width);

// Qt reads a tooltip that looks like markup as rich text: this one shows
// `text` exactly as it is, a name from the system included.
QString literalToolTip(const QString& text);
// The tooltip, and the accessible description readers would otherwise take
// from it markup and all, both showing `text` exactly as it is.
void setLiteralToolTip(QWidget& widget, const QString& text);

}  // namespace corvalent

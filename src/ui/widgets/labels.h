#pragma once

// Plain text in a colour read from the palette at paint time, so light and
// dark switch without rebuilding.

#include <QLabel>

#include <utility>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {

// Three ways to fit the width it is given:
// - one line (the default): the text shrinks down to its minimum scale,
//   then is elided, instead of pushing the layout wider;
// - up to `maximumLines` lines, the last one elided;
// - word wrap (`setWordWrap(true)`): it grows as high as its text needs.
class ElidedLabel : public QLabel {
public:
    ElidedLabel(const QString& text, const QFont& font, Tone tone, QWidget* parent = nullptr);

    QColor colour() const { return tone_(palette()); }
    void setTone(Tone tone);
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
    QString drawnText() const { return fitLine().second; }
    QFont drawnFont() const { return fitLine().first; }

    QSize minimumSizeHint() const override;
    QSize sizeHint() const override;
    int heightForWidth(int width) const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::pair<QFont, QString> fitLine() const;
    void paintOneLine(QPainter& painter, const QRect& area) const;
    void paintLines(QPainter& painter, const QRect& area) const;
    bool limitsLines() const { return maximumLines_ > 1; }

    Tone tone_;
    Qt::TextElideMode elideMode_ = Qt::ElideRight;
    double minimumScale_ = 1.0;
    bool shrinks_ = true;
    int maximumLines_ = 1;
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

    QColor colour() const { return tone_(palette()); }
    void setTone(Tone tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Tone tone_;
    double fillOpacity_;
};

// Qt reads a tooltip that looks like markup as rich text: this one shows
// `text` exactly as it is, a name from the system included.
QString literalToolTip(const QString& text);
// The tooltip, and the accessible description readers would otherwise take
// from it markup and all, both showing `text` exactly as it is.
void setLiteralToolTip(QWidget& widget, const QString& text);

}  // namespace corvalent

#pragma once

// Symbols by name: the desktop's symbolic icons, tinted, or a drawing of our
// own where the icon theme has nothing close. One place holds the mapping.

#include <QPixmap>
#include <QString>
#include <QWidget>

#include <optional>

#include "ui/widgets/corvalent_style.h"

namespace corvalent {

namespace Symbols {

// The symbol `pixels` high in `colour`. Names ending in ".fill" draw filled
// where a filled icon or drawing exists.
QPixmap pixmap(const QString& symbol, const QColor& colour, int pixels, qreal devicePixelRatio = 1.0);

}  // namespace Symbols

// A symbol centred in its frame, tinted by a tone read at paint time,
// optionally on a rounded tile of its own colour.
class SymbolView : public QWidget {
public:
    struct Tile {
        double radius;
        double opacity;  // of the symbol's colour
    };

    // `frame` defaults to the symbol's own size.
    SymbolView(QString symbol, int size, Tone tone, QSize frame = {}, std::optional<Tile> tile = std::nullopt,
               QWidget* parent = nullptr);

    const QString& symbol() const { return symbol_; }
    void setSymbol(const QString& symbol);
    void setTone(Tone tone);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString symbol_;
    int size_;
    Tone tone_;
    std::optional<Tile> tile_;
};

}  // namespace corvalent

#pragma once

// The top of a sheet: its symbol on a tinted tile, a title over a secondary
// subtitle, and optionally something at the trailing end, such as a badge.

#include <QWidget>

#include "ui/widgets/symbols.h"

class QHBoxLayout;
class QVBoxLayout;

namespace corvalent {

class ElidedLabel;

class SheetHeader : public QWidget {
public:
    // The symbol `size` high in `colour`, centred on a `side` square tile of
    // the same colour.
    struct Symbol {
        QString name;
        int size;
        QColor colour;
        int side;
        SymbolView::Tile tile;
        // Against the texts: level with the title, or centred.
        Qt::Alignment alignment = Qt::AlignTop;
    };

    // The title in the sheet title style; the subtitle wraps.
    SheetHeader(const Symbol& symbol, const QString& title, const QString& subtitle, QWidget* parent = nullptr);

    SymbolView& symbol() const { return *symbol_; }
    ElidedLabel& title() const { return *title_; }
    ElidedLabel& subtitle() const { return *subtitle_; }
    // The gap between the title and the subtitle; 4 unless set.
    void setTextSpacing(int spacing);
    // A widget after the texts, centred against them.
    void addTrailing(QWidget* widget);

private:
    QHBoxLayout* row_;
    QVBoxLayout* texts_;
    SymbolView* symbol_;
    ElidedLabel* title_;
    ElidedLabel* subtitle_;
};

}  // namespace corvalent

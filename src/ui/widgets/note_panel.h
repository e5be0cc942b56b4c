#pragma once

// A note on a surface tinted with its accent, as a sheet's warning or summary.

#include "ui/widgets/panel.h"

class QVBoxLayout;

namespace corvalent {

class ElidedLabel;

class NotePanel : public PanelSurface {
public:
    struct Look {
        double radius = 12;
        int padding = 14;
        // Of the accent's hairline; none by default.
        double hairlineOpacity = 0;
    };

    // Filled with `accent` at 0.08; the default look unless given one.
    explicit NotePanel(QColor accent, QWidget* parent = nullptr);
    NotePanel(QColor accent, const Look& look, QWidget* parent = nullptr);

    // The note's content, inside its padding.
    QVBoxLayout& column() const { return *column_; }
    // A paragraph wrapped to the note's width.
    ElidedLabel* addText(const QString& text, const QFont& font, Tone tone);

private:
    QVBoxLayout* column_;
};

}  // namespace corvalent

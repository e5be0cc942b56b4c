#include "ui/widgets/layout_helpers.h"

#include <algorithm>

#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

QHBoxLayout* rowLayout(int spacing)
{
    auto* layout = new QHBoxLayout;
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(spacing);
    return layout;
}

QVBoxLayout* columnLayout(QWidget* owner, int padding, int spacing)
{
    auto* layout = new QVBoxLayout(owner);
    layout->setContentsMargins(padding, padding, padding, padding);
    layout->setSpacing(spacing);
    return layout;
}

ElidedLabel* wrappedLabel(const QString& text, const QFont& font, Tone tone)
{
    auto* label = new ElidedLabel(text, font, std::move(tone));
    label->setWordWrap(true);
    return label;
}

QHBoxLayout* symbolLine(SymbolView* symbol, ElidedLabel* text, int spacing)
{
    auto* line = rowLayout(spacing);
    line->addWidget(symbol, 0, Qt::AlignVCenter);
    line->addWidget(text, 1, Qt::AlignVCenter);
    return line;
}

int shownHeight(const QWidget& widget, int width)
{
    const int hint = widget.hasHeightForWidth() ? widget.heightForWidth(width) : widget.sizeHint().height();
    const int least = std::max(widget.minimumHeight(), widget.minimumSizeHint().height());
    return std::clamp(std::max(hint, least), widget.minimumHeight(), widget.maximumHeight());
}

int foldedParts(int room, int full, std::span<const int> frees)
{
    int folded = 0;
    for (const int freed : frees) {
        if (full <= room) break;
        full -= freed;
        ++folded;
    }
    return folded;
}

}  // namespace corvalent

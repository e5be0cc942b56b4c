#include "ui/widgets/note_panel.h"

#include <QVBoxLayout>

#include "ui/widgets/labels.h"

namespace corvalent {

NotePanel::NotePanel(QColor accent, QWidget* parent) : NotePanel(accent, Look{}, parent) {}

NotePanel::NotePanel(QColor accent, const Look& look, QWidget* parent) : PanelSurface(look.radius, parent)
{
    setColours(Tones::fixed(CorvalentStyle::withAlpha(accent, 0.08)),
               Tones::fixed(look.hairlineOpacity > 0 ? CorvalentStyle::withAlpha(accent, look.hairlineOpacity)
                                                     : QColor(Qt::transparent)));
    column_ = new QVBoxLayout(this);
    column_->setContentsMargins(look.padding, look.padding, look.padding, look.padding);
}

ElidedLabel* NotePanel::addText(const QString& text, const QFont& font, Tone tone)
{
    auto* label = new ElidedLabel(text, font, std::move(tone));
    label->setWordWrap(true);
    column_->addWidget(label);
    return label;
}

}  // namespace corvalent

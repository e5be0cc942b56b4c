#include "ui/onboarding/access_choices.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

// One way to scan, as the card compares them.
struct Choice {
    QString symbol;
    Tone symbolTone;
    QString title;
    bool recommended;
    QString detail;
    Tone fill;
    Tone outline;
};

Tone tealAt(double alpha)
{
    return Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), alpha));
}

// Its title, with the tracked word "RECOMMENDED" beside it when it is.
QHBoxLayout* heading(const Choice& choice)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(7);
    line->addWidget(
        new ElidedLabel(choice.title, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary()));
    if (choice.recommended) {
        auto* word = new ElidedLabel(QStringLiteral("RECOMMENDED"), CorvalentStyle::capitalsFont(0.6),
                                     Tones::fixed(CorvalentStyle::teal()));
        word->setShrinks(false);
        line->addWidget(word, 0, Qt::AlignVCenter);
    }
    line->addStretch(1);
    return line;
}

// Its symbol, then its heading over what it means.
PanelSurface* choicePanel(const Choice& choice)
{
    auto* box = new PanelSurface(11);
    box->setColours(choice.fill, choice.outline);
    auto* line = new QHBoxLayout(box);
    line->setContentsMargins(14, 14, 14, 14);
    line->setSpacing(13);
    line->addWidget(new SymbolView(choice.symbol, 16, choice.symbolTone, {24, 24}), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(3);
    texts->addLayout(heading(choice));
    auto* detail = new ElidedLabel(choice.detail, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    detail->setWordWrap(true);
    texts->addWidget(detail);
    texts->addStretch(1);
    line->addLayout(texts, 1);
    return box;
}

}  // namespace

AccessChoices::AccessChoices(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    column->addWidget(choicePanel({
        .symbol = "checkmark.circle.fill",
        .symbolTone = Tones::fixed(CorvalentStyle::teal()),
        .title = QStringLiteral("Complete storage map"),
        .recommended = true,
        .detail = QStringLiteral("Includes Desktop, Documents, Downloads, and app data."),
        .fill = tealAt(0.055),
        .outline = tealAt(0.18),
    }));
    column->addWidget(choicePanel({
        .symbol = "hand.raised.fill",
        .symbolTone = Tones::secondary(),
        .title = QStringLiteral("Limited scan"),
        .recommended = false,
        .detail =
            QStringLiteral("Protected folders are skipped, so totals can be lower than the space the system reports."),
        .fill = Tones::primary(0.025),
        .outline = CorvalentStyle::softBorder,
    }));
}

}  // namespace corvalent

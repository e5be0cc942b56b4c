#include "ui/processes/review/impact_review_cards.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "ui/processes/review/impact_review_texts.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/note_panel.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

// The method a group is stopped by, as a small capsule.
class MethodChip : public QWidget {
public:
    explicit MethodChip(const ImpactReviewTexts::Chip& chip)
    {
        setObjectName("impactChip");
        setAccessibleName(chip.text);
        setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        auto* row = new QHBoxLayout(this);
        row->setContentsMargins(8, 4, 8, 4);
        row->setSpacing(5);
        row->addWidget(new SymbolView(chip.symbol, 11, Tones::fixed(ImpactReviewBlocks::teal())), 0, Qt::AlignVCenter);
        auto* text = new ElidedLabel(chip.text, CorvalentStyle::font(TextStyle::caption, QFont::DemiBold),
                                     Tones::fixed(ImpactReviewBlocks::teal()));
        text->setObjectName("impactChipText");
        text->setShrinks(false);
        row->addWidget(text);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(rect()), height() / 2.0, height() / 2.0);
        painter.fillPath(capsule, CorvalentStyle::withAlpha(ImpactReviewBlocks::teal(), 0.09));
    }
};

ElidedLabel* wrapped(const QString& text, const QFont& font, Tone tone, const char* name)
{
    auto* label = new ElidedLabel(text, font, std::move(tone));
    label->setObjectName(name);
    label->setWordWrap(true);
    return label;
}

}  // namespace

namespace ImpactReviewBlocks {

QColor teal()
{
    return QColor::fromRgbF(0.04f, 0.66f, 0.62f);
}

QColor cyan()
{
    return QColor::fromRgbF(0.2f, 0.68f, 0.86f);
}

QWidget* symbolLine(const QString& symbol, const QString& text, const QFont& font, const Tone& tone,
                    ElidedLabel** label)
{
    auto* line = new QWidget;
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    const int size = QFontMetrics(font).height() - 2;
    auto* glyph = new SymbolView(symbol, size, tone, {size, QFontMetrics(font).height()});
    row->addWidget(glyph, 0, Qt::AlignTop);
    auto* words = wrapped(text, font, tone, "impactLineText");
    row->addWidget(words, 1);
    if (label != nullptr) *label = words;
    return line;
}

QWidget* actionSummary(const ImpactAssessment& assessment)
{
    auto* block = new NotePanel(teal(), {.radius = 14, .padding = 16, .hairlineOpacity = 0.15});
    block->setObjectName("impactAction");
    auto* row = new QHBoxLayout;
    row->setSpacing(13);
    block->column().addLayout(row);
    row->addWidget(new SymbolView(QStringLiteral("arrow.right.circle.fill"), 22, Tones::fixed(teal())), 0,
                   Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    texts->addWidget(wrapped(ImpactReviewTexts::actionTitle(assessment), CorvalentStyle::font(TextStyle::headline),
                             Tones::primary(), "impactActionTitle"));
    texts->addWidget(wrapped(ImpactReviewTexts::actionSummary(assessment), CorvalentStyle::font(TextStyle::callout),
                             Tones::secondary(), "impactActionSummary"));
    row->addLayout(texts, 1);
    return block;
}

QWidget* checklist(const ImpactAssessment& assessment)
{
    const auto checks = ImpactReviewTexts::checksBeforeStopping(assessment);
    if (checks.isEmpty()) return nullptr;
    const auto orange = CorvalentStyle::orange();
    auto* block = new NotePanel(orange, {.radius = 13, .padding = 15, .hairlineOpacity = 0.14});
    block->setObjectName("impactChecklist");
    auto* column = &block->column();
    column->setSpacing(10);
    column->addWidget(symbolLine(QStringLiteral("checklist"), QStringLiteral("Check before stopping"),
                                 CorvalentStyle::font(TextStyle::headline), Tones::readable(orange)));
    for (const auto& check : checks) {
        auto* line = new QWidget;
        auto* row = new QHBoxLayout(line);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(9);
        auto* dot = new SymbolView(QStringLiteral("circle"), 7, Tones::fixed(orange), {7, 12});
        row->addWidget(dot, 0, Qt::AlignTop);
        row->addWidget(wrapped(check, CorvalentStyle::font(TextStyle::callout), Tones::primary(), "impactCheck"), 1);
        column->addWidget(line);
    }
    return block;
}

}  // namespace ImpactReviewBlocks

ImpactGroupCard::ImpactGroupCard(SelectedImpactGroup group, QWidget* parent) : QWidget(parent), group_(std::move(group))
{
    setObjectName("impactGroupCard");
    const auto title = QString::fromStdString(group_.title);
    setAccessibleName(title);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(9);
    auto* head = new QHBoxLayout;
    head->setSpacing(8);
    auto* name = new ElidedLabel(title, CorvalentStyle::font(TextStyle::headline), Tones::primary());
    name->setObjectName("impactGroupTitle");
    head->addWidget(name, 1);
    head->addWidget(new MethodChip(ImpactReviewTexts::method(group_)), 0, Qt::AlignVCenter);
    column->addLayout(head);
    column->addWidget(wrapped(QString::fromStdString(group_.impact), CorvalentStyle::font(TextStyle::callout),
                              Tones::primary(), "impactGroupImpact"));
    for (const auto& fact : ImpactReviewTexts::usefulFacts(group_)) {
        ElidedLabel* label = nullptr;
        column->addWidget(ImpactReviewBlocks::symbolLine(QStringLiteral("info.circle"), fact,
                                                         CorvalentStyle::font(TextStyle::caption), Tones::secondary(),
                                                         &label));
        label->setObjectName("impactFact");
    }
    portRow_ = ImpactReviewBlocks::symbolLine(QStringLiteral("network"), {},
                                              CorvalentStyle::font(TextStyle::caption, QFont::Medium),
                                              Tones::readable(CorvalentStyle::orange()), &portLabel_);
    portLabel_->setObjectName("impactPorts");
    portRow_->hide();
    column->addWidget(portRow_);
}

void ImpactGroupCard::showPorts(const std::map<std::int32_t, std::vector<int>>& ports)
{
    const auto line = ImpactReviewTexts::portLine(ImpactReviewTexts::groupPorts(group_, ports));
    portLabel_->setText(line);
    portRow_->setVisible(!line.isEmpty());
}

QString ImpactGroupCard::portText() const
{
    return portRow_->isHidden() ? QString() : portLabel_->text();
}

void ImpactGroupCard::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    CorvalentStyle::paintPanel(painter, QRectF(rect()), 12,
                               CorvalentStyle::withAlpha(CorvalentStyle::panel(palette()), 0.66),
                               CorvalentStyle::primary(palette(), 0.07));
}

}  // namespace corvalent

#include "ui/processes/list/selection_shelf.h"

#include <QGraphicsDropShadowEffect>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

#include "core/common/display.h"
#include "models/vantle_model.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/coalesced_call.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

namespace ShelfTexts {

QString headline(std::size_t chosen, std::uint64_t bytes)
{
    if (chosen == 0) return QStringLiteral("Ready when you are");
    return QString::number(chosen) + QStringLiteral(" selected \u00b7 ") + QString::fromStdString(Display::bytes(bytes));
}

QString glyphSymbol(std::size_t chosen)
{
    return chosen == 0 ? QStringLiteral("circle.dotted") : QStringLiteral("checkmark.circle.fill");
}

}  // namespace ShelfTexts

namespace {

constexpr double radius = 20;

Button* labelButton(Button::Kind kind, const QString& text, const QString& symbol)
{
    auto* button = new Button(kind, text, nullptr, Button::Size::large);
    button->setSymbol(symbol);
    return button;
}

}  // namespace

SelectionShelf::SelectionShelf(VantleModel& model, QWidget* parent) : QWidget(parent), model_(model)
{
    setObjectName("shelf");
    setAccessibleName(QStringLiteral("Selection"));
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 11, 16, 11);
    row->setSpacing(14);

    glyph_ = new SymbolView(ShelfTexts::glyphSymbol(0), 20, Tones::fixed(CorvalentStyle::teal()), {38, 38},
                            SymbolView::Tile{11, 0.11});
    glyph_->setObjectName("shelfGlyph");
    row->addWidget(glyph_, 0, Qt::AlignVCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    headline_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    headline_->setObjectName("shelfHeadline");
    texts->addWidget(headline_);
    status_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    status_->setObjectName("shelfStatus");
    status_->setMaximumLines(2);
    texts->addWidget(status_);
    row->addLayout(texts, 1);
    row->addSpacing(12 - row->spacing());

    clear_ = new Button(Button::Kind::plain, QStringLiteral("Clear"));
    connect(clear_, &QAbstractButton::clicked, this, [this] {
        emit clearing();
        model_.setSelected({});
    });
    row->addWidget(clear_, 0, Qt::AlignVCenter);
    explain_ = labelButton(Button::Kind::bordered, QStringLiteral("Explain impact"), QStringLiteral("sparkles"));
    connect(explain_, &QAbstractButton::clicked, this, [this] { model_.explainSelection(); });
    row->addWidget(explain_, 0, Qt::AlignVCenter);
    force_ = labelButton(Button::Kind::bordered, QStringLiteral("Force stop"), QStringLiteral("exclamationmark.octagon"));
    connect(force_, &QAbstractButton::clicked, this, [this] { model_.prepare(true); });
    row->addWidget(force_, 0, Qt::AlignVCenter);
    stop_ = labelButton(Button::Kind::prominent, QStringLiteral("Stop selected"), QStringLiteral("stop.circle.fill"));
    connect(stop_, &QAbstractButton::clicked, this, [this] { model_.prepare(false); });
    row->addWidget(stop_, 0, Qt::AlignVCenter);
    // Return presses the shelf's other buttons, never one that leads to a stop.
    force_->setIgnoresReturn(true);
    stop_->setIgnoresReturn(true);

    // A sample changes selection, figures and status at once: one redraw.
    auto* syncSoon = new CoalescedCall(*this, [this] { sync(); });
    connect(&model_, &VantleModel::snapshotChanged, syncSoon, &CoalescedCall::call);
    connect(&model_, &VantleModel::selectedChanged, syncSoon, &CoalescedCall::call);
    connect(&model_, &VantleModel::stoppingChanged, syncSoon, &CoalescedCall::call);
    connect(&model_, &VantleModel::statusChanged, syncSoon, &CoalescedCall::call);
    sync();
}

SelectionShelf* SelectionShelf::attach(QWidget& anchor, VantleModel& model)
{
    auto* layout = new QVBoxLayout(&anchor);
    layout->setContentsMargins(0, 1, 0, 0);
    auto* shelf = new SelectionShelf(model);
    layout->addWidget(shelf);
    auto* shadow = new QGraphicsDropShadowEffect(&anchor);
    shadow->setColor(QColor::fromRgbF(0, 0, 0, 0.12f));
    shadow->setBlurRadius(36);
    shadow->setOffset(0, 8);
    anchor.setGraphicsEffect(shadow);
    anchor.show();
    anchor.raise();
    return shelf;
}

QString SelectionShelf::headlineText() const
{
    return headline_->text();
}

QString SelectionShelf::statusText() const
{
    return status_->text();
}

const QString& SelectionShelf::glyph() const
{
    return glyph_->symbol();
}

void SelectionShelf::sync()
{
    const auto chosen = model_.chosen().size();
    glyph_->setSymbol(ShelfTexts::glyphSymbol(chosen));
    headline_->setText(ShelfTexts::headline(chosen, model_.selectedMemory()));
    status_->setText(model_.status());
    setLiteralToolTip(*status_, model_.status());
    clear_->setVisible(chosen >= 1);
    const bool actionable = chosen >= 1 && !model_.stopping();
    for (auto* button : {explain_, force_, stop_}) button->setEnabled(actionable);
    setLifted(chosen >= 1 && !AppMotion::reduceMotion());
}

void SelectionShelf::setLifted(bool lifted)
{
    if (lifted == lifted_) return;
    lifted_ = lifted;
    const double from = lift_;
    const double to = lifted ? 1.0 : 0.0;
    const int generation = ++liftGeneration_;
    AppMotion::animate(this, AppMotion::selection(), [this, from, to, generation](double t) {
        if (generation != liftGeneration_) return;
        lift_ = std::clamp(from + (to - from) * t, 0.0, 1.0);
        // The anchor keeps a point spare above the shelf; lifting spends it.
        if (auto* layout = parentWidget() != nullptr ? parentWidget()->layout() : nullptr) {
            const int rise = static_cast<int>(std::lround(lift_));
            layout->setContentsMargins(0, 1 - rise, 0, rise);
        }
    });
}

void SelectionShelf::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const auto pal = palette();
    // Without a blur behind it, the material is an opaque panel: nothing
    // passing under the shelf ever shows through its texts.
    auto material = CorvalentStyle::panel(pal);
    material.setAlpha(255);
    CorvalentStyle::paintPanel(painter, QRectF(rect()), radius, material, CorvalentStyle::border(pal));
}

}  // namespace corvalent

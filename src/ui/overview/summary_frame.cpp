#include "ui/overview/summary_frame.h"

#include <QAbstractButton>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent::overview {
namespace {

constexpr int stackPadding = 8;
constexpr int rowSpacing = 3;

}  // namespace

PanelHeader::PanelHeader(const QString& title, const QString& symbol, std::function<void()> viewAll, QWidget* parent)
    : QWidget(parent)
{
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(11);
    row->addWidget(
        new SymbolView(symbol, 15, Tones::fixed(CorvalentStyle::teal()), {32, 32}, SymbolView::Tile{9, 0.1}));
    auto* column = new QVBoxLayout;
    column->setSpacing(2);
    auto* heading = new ElidedLabel(title, CorvalentStyle::font(TextStyle::headline), Tones::primary());
    heading->setShrinks(false);
    column->addWidget(heading);
    subtitle_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    subtitle_->setObjectName("panelSubtitle");
    column->addWidget(subtitle_);
    row->addLayout(column, 1);
    auto* link = new Button(Button::Kind::link, "View all");
    // Both panels have one: the name says which.
    link->setAccessibleName("View all: " + title);
    connect(link, &QAbstractButton::clicked, this, [viewAll = std::move(viewAll)] { viewAll(); });
    row->addWidget(link, 0, Qt::AlignVCenter);
}

void PanelHeader::setSubtitle(const QString& text)
{
    subtitle_->setText(text);
}

PanelFooter::PanelFooter(QWidget* parent) : QWidget(parent)
{
    setObjectName("panelFooter");
    setFixedHeight(42);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(16, 0, 16, 0);
    row->setSpacing(9);
    symbol_ = new SymbolView("clock", 11, Tones::fixed(CorvalentStyle::teal()), {16, 16});
    row->addWidget(symbol_);
    title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption, QFont::Medium), Tones::primary());
    title_->setObjectName("footerTitle");
    title_->setShrinks(false);
    row->addWidget(title_);
    row->addSpacing(8);
    row->addStretch(1);
    detail_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    detail_->setObjectName("footerDetail");
    detail_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    row->addWidget(detail_);
}

void PanelFooter::set(const StorageFooter& footer)
{
    symbol_->setSymbol(footer.symbol);
    title_->setText(footer.title);
    detail_->setText(footer.detail);
    setLiteralToolTip(*detail_, footer.help.value_or(footer.detail));
}

EmptyMessage::EmptyMessage(QWidget* parent) : QWidget(parent)
{
    setObjectName("emptyState");
    setMinimumHeight(240);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(4);
    column->addStretch(1);
    auto* line = new QHBoxLayout;
    line->setSpacing(6);
    line->addStretch(1);
    symbol_ = new SymbolView({}, 13, Tones::secondary());
    line->addWidget(symbol_);
    title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    title_->setObjectName("emptyTitle");
    line->addWidget(title_);
    line->addStretch(1);
    column->addLayout(line);
    detail_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    detail_->setObjectName("emptyDetail");
    detail_->setAlignment(Qt::AlignCenter);
    column->addWidget(detail_);
    column->addStretch(1);
}

void EmptyMessage::set(const EmptySummary& message)
{
    symbol_->setSymbol(message.symbol);
    title_->setText(message.title);
    detail_->setText(message.detail);
    detail_->setVisible(!message.detail.isEmpty());
}

CardMetric::CardMetric(const QString& label, const QString& valueName, QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    column->addWidget(new ElidedLabel(label, CorvalentStyle::capitalsFont(0.5), Tones::secondary()));
    value_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::summaryFigure), Tones::primary());
    value_->setObjectName(valueName);
    value_->setMinimumScale(0.75);
    column->addWidget(value_);
    // The three figures share the row evenly, whatever their texts.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void CardMetric::setValue(const QString& value)
{
    value_->setText(value);
}

RowStack::RowStack(int horizontalPadding, int padding, int minimumPadding, QWidget* parent)
    : QWidget(parent),
      horizontal_(horizontalPadding),
      padding_(padding),
      minimumPadding_(minimumPadding),
      current_(padding)
{
    layout_ = new QVBoxLayout(this);
    layout_->setContentsMargins(stackPadding, stackPadding, stackPadding, stackPadding);
    layout_->setSpacing(rowSpacing);
    layout_->addStretch(1);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Expanding);
}

namespace {

// The nearest control before `widget` in its window's Tab chain; none when
// nothing before it takes the focus.
QWidget* controlBefore(QWidget& widget)
{
    for (auto* before = widget.previousInFocusChain(); before != nullptr && before != widget.window();
         before = before->previousInFocusChain())
        if ((before->focusPolicy() & Qt::TabFocus) != 0 && !widget.isAncestorOf(before)) return before;
    return nullptr;
}

}  // namespace

void RowStack::resize(std::size_t count, const std::function<QWidget*()>& make)
{
    while (rows_.size() < count) {
        auto* row = make();
        row->setSizePolicy(row->sizePolicy().horizontalPolicy(), QSizePolicy::Fixed);
        row->layout()->setContentsMargins(horizontal_, current_, horizontal_, current_);
        layout_->insertWidget(static_cast<int>(rows_.size()), row);
        // A row made later joins the end of the window's Tab chain: put it
        // where it is read, after the row or the control above it.
        if (auto* before = rows_.empty() ? controlBefore(*this) : rows_.back()) QWidget::setTabOrder(before, row);
        rows_.push_back(row);
    }
    while (rows_.size() > count) {
        auto* row = rows_.back();
        rows_.pop_back();
        layout_->removeWidget(row);
        row->hide();
        // It may be the row whose click is being handled.
        row->deleteLater();
    }
    updateGeometry();
    fit();
}

// The rows without their vertical padding, with the stack's own padding and spacing.
int RowStack::contentHeight() const
{
    int height = 2 * stackPadding + rowSpacing * std::max(0, static_cast<int>(rows_.size()) - 1);
    for (auto* row : rows_) {
        const auto margins = row->layout()->contentsMargins();
        height += row->layout()->sizeHint().height() - margins.top() - margins.bottom();
    }
    return height;
}

QSize RowStack::minimumSizeHint() const
{
    const int rows = static_cast<int>(rows_.size());
    return {0, contentHeight() + 2 * minimumPadding_ * rows};
}

QSize RowStack::sizeHint() const
{
    return minimumSizeHint();
}

void RowStack::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fit();
}

void RowStack::fit()
{
    const int rows = static_cast<int>(rows_.size());
    if (rows == 0) return;
    const int room = (height() - contentHeight()) / (2 * rows);
    const int padding = std::clamp(room, minimumPadding_, padding_);
    if (padding == current_) return;
    current_ = padding;
    for (auto* row : rows_) row->layout()->setContentsMargins(horizontal_, padding, horizontal_, padding);
}

}  // namespace corvalent::overview

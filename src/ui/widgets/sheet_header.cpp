#include "ui/widgets/sheet_header.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/widgets/labels.h"

namespace corvalent {

SheetHeader::SheetHeader(const Symbol& symbol, const QString& title, const QString& subtitle, QWidget* parent)
    : QWidget(parent)
{
    row_ = new QHBoxLayout(this);
    row_->setContentsMargins(0, 0, 0, 0);
    row_->setSpacing(14);
    symbol_ =
        new SymbolView(symbol.name, symbol.size, Tones::fixed(symbol.colour), {symbol.side, symbol.side}, symbol.tile);
    row_->addWidget(symbol_, 0, symbol.alignment);
    texts_ = new QVBoxLayout;
    texts_->setSpacing(4);
    title_ = new ElidedLabel(title, CorvalentStyle::font(TextStyle::sheetTitle), Tones::primary());
    texts_->addWidget(title_);
    subtitle_ = new ElidedLabel(subtitle, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    subtitle_->setWordWrap(true);
    texts_->addWidget(subtitle_);
    row_->addLayout(texts_, 1);
}

void SheetHeader::setTextSpacing(int spacing)
{
    texts_->setSpacing(spacing);
}

void SheetHeader::addTrailing(QWidget* widget)
{
    row_->addWidget(widget, 0, Qt::AlignVCenter);
}

}  // namespace corvalent

#include "ui/widgets/unavailable_content.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

UnavailableContent::UnavailableContent(const QString& title, const QString& symbol, QWidget* parent)
    : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(36, 36, 36, 36);
    column->setSpacing(8);
    column->addStretch(1);
    column->addWidget(new SymbolView(symbol, 44, Tones::secondary()), 0, Qt::AlignHCenter);
    column->addSpacing(4);
    title_ = new ElidedLabel(title, CorvalentStyle::font(TextStyle::title2, QFont::Bold), Tones::primary());
    title_->setAlignment(Qt::AlignCenter);
    column->addWidget(title_);
    description_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    description_->setObjectName("unavailableDescription");
    description_->setAlignment(Qt::AlignCenter);
    description_->setWordWrap(true);
    description_->setMaximumWidth(460);
    // As wide as the column allows, up to its maximum, and centred: the
    // column's height for the text is then worked out at the width it gets.
    auto* middle = new QHBoxLayout;
    middle->addStretch(1);
    middle->addWidget(description_, 1000);
    middle->addStretch(1);
    column->addLayout(middle);
    column->addStretch(1);
    setAccessibleName(title);
}

QString UnavailableContent::title() const
{
    return title_->text();
}

QString UnavailableContent::description() const
{
    return description_->text();
}

void UnavailableContent::setDescription(const QString& description)
{
    description_->setText(description);
    setAccessibleDescription(description);
}

}  // namespace corvalent

#include "ui/widgets/section_title.h"

#include <QVBoxLayout>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"

namespace corvalent {

SectionTitle::SectionTitle(const QString& title, const QString& subtitle, QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(4);
    auto* heading = new ElidedLabel(title, CorvalentStyle::font(TextStyle::pageTitle), Tones::primary());
    heading->setObjectName("pageTitle");
    heading->setAccessibleName(title);
    column->addWidget(heading);
    auto* description = new ElidedLabel(subtitle, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    description->setObjectName("pageSubtitle");
    description->setWordWrap(true);
    column->addWidget(description);
}

}  // namespace corvalent

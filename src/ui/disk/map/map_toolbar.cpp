#include "ui/disk/map/map_toolbar.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

MapToolbar::MapToolbar(std::function<void()> back, std::function<void()> reveal, QWidget* parent) : QWidget(parent)
{
    setFixedHeight(54);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(20, 0, 20, 0);
    row->setSpacing(12);

    back_ = new Button(Button::Kind::plain, {}, this);
    back_->setSymbol(QStringLiteral("chevron.left"));
    back_->setAccessibleName(QStringLiteral("Back"));
    back_->setFixedSize(28, 24);
    connect(back_, &QPushButton::clicked, this, [back = std::move(back)] { back(); });
    row->addWidget(back_);
    row->addWidget(new SymbolView(QStringLiteral("folder.fill"), 16, Tones::fixed(CorvalentStyle::teal())));

    auto* titles = new QVBoxLayout;
    titles->setSpacing(1);
    titles->setContentsMargins(0, 0, 0, 0);
    name_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    titles->addWidget(name_);
    path_ = new ElidedLabel({}, CorvalentStyle::monospaced(TextStyle::caption2), Tones::secondary());
    path_->setElideMode(Qt::ElideMiddle);
    titles->addWidget(path_);
    row->addLayout(titles, 1);

    partial_ = new QWidget(this);
    auto* partialRow = new QHBoxLayout(partial_);
    partialRow->setContentsMargins(0, 0, 0, 0);
    partialRow->setSpacing(4);
    const auto teal = Tones::fixed(CorvalentStyle::teal());
    partialRow->addWidget(new SymbolView(QStringLiteral("pause.circle.fill"), 11, teal));
    auto* partialText = new ElidedLabel(QStringLiteral("Partial"), CorvalentStyle::font(TextStyle::caption, QFont::Medium), teal);
    partialText->setShrinks(false);
    partialRow->addWidget(partialText);
    partial_->setAccessibleName(QStringLiteral("Partial"));
    row->addWidget(partial_);

    files_ = new ElidedLabel({}, CorvalentStyle::monospaced(TextStyle::caption), Tones::secondary());
    files_->setShrinks(false);
    row->addWidget(files_);

    reveal_ = new Button(Button::Kind::plain, QStringLiteral("Reveal"), this);
    reveal_->setSymbol(QStringLiteral("arrow.forward.circle"));
    connect(reveal_, &QPushButton::clicked, this, [reveal = std::move(reveal)] { reveal(); });
    row->addWidget(reveal_);
}

void MapToolbar::setNodes(const DiskNode& root, const DiskNode& focused, bool partial)
{
    back_->setEnabled(focused.id != root.id);
    name_->setText(QString::fromStdString(focused.name));
    path_->setVisible(focused.path.has_value());
    path_->setText(focused.path ? QString::fromStdString(*focused.path) : QString());
    partial_->setVisible(partial);
    files_->setText(groupedCount(focused.fileCount) + QStringLiteral(" files"));
    reveal_->setVisible(focused.path.has_value());
}

QString MapToolbar::title() const
{
    return name_->text();
}

QString MapToolbar::pathText() const
{
    return path_->isVisibleTo(this) ? path_->text() : QString();
}

QString MapToolbar::fileCountText() const
{
    return files_->text();
}

bool MapToolbar::showsPartial() const
{
    return partial_->isVisibleTo(this);
}

void MapToolbar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::withAlpha(CorvalentStyle::panel(palette()), 0.42));
    painter.fillRect(QRectF(0, height() - 1, width(), 1), CorvalentStyle::border(palette()));
}

}  // namespace corvalent

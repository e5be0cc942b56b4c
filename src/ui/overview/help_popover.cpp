#include "ui/overview/help_popover.h"

#include <QPainter>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"

namespace corvalent::overview {

HelpPopover::HelpPopover(QWidget& page, std::function<Anchor(const QString&)> anchor)
    : QWidget(&page), page_(page), anchor_(std::move(anchor))
{
    setObjectName("helpPopover");
    // It only shows text: the pointer keeps reaching what lies below, and the
    // button's description carries the text for assistive technology.
    setAttribute(Qt::WA_TransparentForMouseEvents);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(12, 12, 12, 12);
    text_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::primary());
    text_->setWordWrap(true);
    text_->setFixedWidth(240);
    layout->addWidget(text_);
    hide();

    delay_.setObjectName("helpDelay");
    delay_.setSingleShot(true);
    delay_.setInterval(60);
    connect(&delay_, &QTimer::timeout, this, [this] { openFor(pending_); });
}

QString HelpPopover::text() const
{
    return text_->text();
}

void HelpPopover::entered(const QString& title)
{
    if (open_ == title) return;
    pending_ = title;
    delay_.start();
}

void HelpPopover::left(const QString& title)
{
    if (pending_ == title) {
        delay_.stop();
        pending_.clear();
    }
    if (open_ == title) close();
}

void HelpPopover::clicked(const QString& title)
{
    delay_.stop();
    pending_.clear();
    if (open_ == title)
        close();
    else
        openFor(title);
}

void HelpPopover::close()
{
    delay_.stop();
    pending_.clear();
    open_.reset();
    hide();
}

void HelpPopover::refresh()
{
    if (!open_) return;
    text_->setText(anchor_(*open_).text);
    adjustSize();
}

void HelpPopover::openFor(QString title)
{
    const auto anchor = anchor_(title);
    if (anchor.button == nullptr || !page_.isVisible()) return;
    pending_.clear();
    open_ = title;
    text_->setText(anchor.text);
    adjustSize();
    place(*anchor.button);
    show();
    raise();
}

// Centred below the button, kept inside the page; above it when there is no room below.
void HelpPopover::place(QWidget& button)
{
    const auto below = button.mapTo(&page_, QPoint(button.width() / 2, button.height()));
    const int x = std::clamp(below.x() - width() / 2, 8, std::max(8, page_.width() - width() - 8));
    int y = below.y() + 6;
    if (y + height() > page_.height() - 8) y = below.y() - button.height() - 6 - height();
    move(x, std::max(0, y));
}

void HelpPopover::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(CorvalentStyle::border(palette()), 1));
    painter.setBrush(CorvalentStyle::windowBackground(palette()));
    painter.drawRoundedRect(area, 10, 10);
}

}  // namespace corvalent::overview

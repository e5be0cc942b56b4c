#include "ui/onboarding/access_header.h"

#include <QPainter>
#include <QVBoxLayout>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr QMargins openMargins(34, 30, 34, 24);
constexpr QMargins foldedMargins(34, 18, 34, 16);

QColor tealAt(double alpha)
{
    return CorvalentStyle::withAlpha(CorvalentStyle::teal(), alpha);
}

// The drive on two teal circles, with the open-lock badge at its lower right.
class AccessIcon : public QWidget {
public:
    explicit AccessIcon(QWidget* parent = nullptr) : QWidget(parent) { setFixedSize(84, 84); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre(width() / 2.0, height() / 2.0);
        painter.setPen(Qt::NoPen);
        painter.setBrush(tealAt(0.11));
        painter.drawEllipse(centre, 41, 41);
        painter.setPen(QPen(tealAt(0.18), 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, 32.5, 32.5);

        const auto ratio = devicePixelRatioF();
        const auto drive = Symbols::pixmap("externaldrive.fill", CorvalentStyle::teal(), 29, ratio);
        painter.drawPixmap(centre - QPointF(14.5, 14.5), drive);

        // The badge's ring in the window colour parts it from the circles below.
        const auto badgeCentre = centre + QPointF(27, 27);
        painter.setPen(Qt::NoPen);
        painter.setBrush(CorvalentStyle::windowBackground(palette()));
        painter.drawEllipse(badgeCentre, 11.5 + 3, 11.5 + 3);
        painter.setBrush(CorvalentStyle::teal());
        painter.drawEllipse(badgeCentre, 11.5, 11.5);
        const auto lock = Symbols::pixmap("lock.open.fill", Qt::white, 11, ratio);
        painter.drawPixmap(badgeCentre - QPointF(5.5, 5.5), lock);
    }
};

}  // namespace

AccessHeader::AccessHeader(QWidget* parent) : QWidget(parent)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(openMargins);
    column->setSpacing(13);
    icon_ = new AccessIcon(this);
    column->addWidget(icon_, 0, Qt::AlignHCenter);

    auto* texts = new QVBoxLayout;
    texts->setSpacing(6);
    title_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::heroTitle), Tones::primary(), this);
    title_->setAlignment(Qt::AlignHCenter);
    texts->addWidget(title_, 0, Qt::AlignHCenter);
    subtitle_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary(), this);
    subtitle_->setWordWrap(true);
    subtitle_->setAlignment(Qt::AlignHCenter);
    subtitle_->setFixedWidth(460);
    texts->addWidget(subtitle_, 0, Qt::AlignHCenter);
    column->addLayout(texts);
}

QString AccessHeader::title() const
{
    return title_->text();
}
QString AccessHeader::subtitle() const
{
    return subtitle_->text();
}

void AccessHeader::setFolded(bool folded)
{
    if (folded == folded_) return;
    folded_ = folded;
    icon_->setVisible(!folded);
    layout()->setContentsMargins(folded ? foldedMargins : openMargins);
    layout()->invalidate();
    updateGeometry();
}

int AccessHeader::foldSaving() const
{
    return icon_->height() + layout()->spacing() + openMargins.top() - foldedMargins.top() + openMargins.bottom() -
           foldedMargins.bottom();
}

void AccessHeader::setTexts(const QString& title, const QString& subtitle)
{
    title_->setText(title);
    subtitle_->setText(subtitle);
}

}  // namespace corvalent

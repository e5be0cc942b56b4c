#include "ui/processes/inspector/process_inspector_placeholder.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent::inspector {

namespace {

// A faint full ring, and inside it an arc from a twelfth past the top to two
// thirds of the way round, running from teal into cyan, around the symbol.
class Glyph : public QWidget {
public:
    Glyph()
    {
        // The track's 12-pixel line straddles its 104-pixel circle.
        setFixedSize(116, 116);
        auto* layout = new QHBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new SymbolView(QStringLiteral("viewfinder"), 25, Tones::fixed(CorvalentStyle::teal())), 0,
                          Qt::AlignCenter);
    }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QPointF centre = QRectF(rect()).center();
        painter.setPen(QPen(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.09), 12));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, 52, 52);

        const QRectF frame(centre - QPointF(38, 38), QSizeF(76, 76));
        QLinearGradient gradient(frame.topLeft(), frame.bottomRight());
        gradient.setColorAt(0, CorvalentStyle::teal());
        gradient.setColorAt(1, CorvalentStyle::cyan());
        painter.setPen(QPen(QBrush(gradient), 9, Qt::SolidLine, Qt::RoundCap));
                // Qt counts sixteenths of a degree, anticlockwise from three o'clock.
        const int start = static_cast<int>((90 - 0.08 * 360) * 16);
        const int span = static_cast<int>(-(0.67 - 0.08) * 360 * 16);
        painter.drawArc(frame, start, span);
    }
};

}  // namespace

Placeholder::Placeholder(QWidget* parent) : QWidget(parent)
{
    setObjectName("inspectorPlaceholder");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(32, 32, 32, 32);
    column->setSpacing(11);
    column->addStretch(1);
    auto* glyph = new Glyph;
    column->addWidget(glyph, 0, Qt::AlignHCenter);
    column->addSpacing(9 - 6);

    ended_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::headline), Tones::primary());
    ended_->setObjectName("inspectorEnded");
    ended_->setWordWrap(true);
    ended_->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    ended_->setMaximumWidth(300);
    ended_->hide();
    column->addWidget(ended_);

    auto* title = new ElidedLabel(QStringLiteral("Pick something to inspect"),
                                  CorvalentStyle::font(TextStyle::title3, QFont::DemiBold), Tones::primary());
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title);
    auto* description = new ElidedLabel(
        QStringLiteral("Choose a row to see its resource use, related processes, files, and stopping impact."),
        CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    description->setObjectName("placeholderDescription");
    description->setWordWrap(true);
    description->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    description->setMaximumWidth(300);
    // Without an alignment the layout centres it at its maximum width and
    // gives it the height its wrapped lines need.
    column->addWidget(description);
    column->addSpacing(12);

    auto* note = new QHBoxLayout;
    note->setSpacing(5);
    note->addStretch(1);
    note->addWidget(new SymbolView(QStringLiteral("lock.shield"), 11, Tones::secondary()), 0, Qt::AlignVCenter);
    note->addWidget(new ElidedLabel(QStringLiteral("Protected processes stay read-only"),
                                    CorvalentStyle::font(TextStyle::caption), Tones::secondary()),
                    0, Qt::AlignVCenter);
    note->addStretch(1);
    column->addLayout(note);
    column->addStretch(1);
}

void Placeholder::setEnded(const QString& sentence)
{
    if (ended_->text() != sentence) ended_->setText(sentence);
    ended_->setVisible(!sentence.isEmpty());
}

QString Placeholder::endedText() const
{
    return ended_->isVisibleTo(this) ? ended_->text() : QString();
}

}  // namespace corvalent::inspector

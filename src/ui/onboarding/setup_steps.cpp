#include "ui/onboarding/setup_steps.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

#include "ui/onboarding/onboarding_flow.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

Tone tealTone()
{
    return Tones::fixed(CorvalentStyle::teal());
}

// The running application's own icon, read when painting; the drive symbol
// until the application has one.
class ProgramIcon : public QWidget {
public:
    ProgramIcon() { setFixedSize(side, side); }

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const auto ratio = devicePixelRatioF();
        const auto icon = QGuiApplication::windowIcon();
        const auto image = icon.isNull() ? Symbols::pixmap("externaldrive.fill", CorvalentStyle::teal(), side, ratio)
                                         : icon.pixmap(QSize(side, side), ratio);
        const auto shown = image.deviceIndependentSize();
        painter.drawPixmap(QPointF((side - shown.width()) / 2.0, (side - shown.height()) / 2.0), image);
    }

private:
    static constexpr int side = 42;
};

}  // namespace

SetupSteps::SetupSteps(QWidget* parent) : PanelSurface(12, parent)
{
    setColours(Tones::primary(0.025), Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.18)));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addLayout(buildProgramRow());
    column->addWidget(new Divider);
    column->addLayout(buildHintRow());
}

QLayout* SetupSteps::buildProgramRow()
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(16, 16, 16, 16);
    row->setSpacing(14);
    row->addWidget(new ProgramIcon);
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    names->addWidget(new ElidedLabel(QStringLiteral("Corvalent"),
                                     CorvalentStyle::font(TextStyle::body, QFont::DemiBold), Tones::primary()));
    status_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    names->addWidget(status_);
    row->addLayout(names, 1);

    spinner_ = new Spinner;
    spinner_->setAccessibleName(QStringLiteral("Checking folder access"));
    // Nothing here is switched on: folders are readable or they are not, so a
    // lock, open or shut, pictures their permissions.
    lock_ = new SymbolView("lock.fill", 13, Tones::secondary(), {38, 22}, SymbolView::Tile{11, 0.14});
    lock_->setAccessibleName(QStringLiteral("Folder access"));
    // The spinner takes the lock's place, so the row keeps its width as they swap.
    auto* indicator = new QWidget;
    indicator->setFixedSize(lock_->size());
    auto* stack = new QHBoxLayout(indicator);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->addWidget(spinner_, 0, Qt::AlignCenter);
    stack->addWidget(lock_, 0, Qt::AlignCenter);
    row->addWidget(indicator, 0, Qt::AlignVCenter);
    return row;
}

QLayout* SetupSteps::buildHintRow()
{
    auto* row = new QHBoxLayout;
    row->setContentsMargins(14, 14, 14, 14);
    row->setSpacing(10);
    hintSymbol_ = new SymbolView("plus.circle", 14, Tones::secondary(), {20, 16});
    row->addWidget(hintSymbol_, 0, Qt::AlignTop);
    detail_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    detail_->setWordWrap(true);
    row->addWidget(detail_, 1);
    return row;
}

void SetupSteps::setFlow(const FullDiskAccessFlow& flow)
{
    const bool confirmed = accessConfirmed(flow);
    const bool checking = accessChecking(flow);
    status_->setText(accessStatusLabel(flow));
    status_->setTone(confirmed ? tealTone() : Tones::secondary());
    lock_->setSymbol(confirmed ? "lock.open.fill" : "lock.fill");
    lock_->setTone(confirmed ? tealTone() : Tones::secondary());
    lock_->setAccessibleDescription(confirmed ? QStringLiteral("Readable") : QStringLiteral("Not readable"));
    spinner_->setVisible(checking);
    lock_->setVisible(!checking);
    hintSymbol_->setSymbol(confirmed ? "checkmark.circle.fill" : "plus.circle");
    hintSymbol_->setTone(confirmed ? tealTone() : Tones::secondary());
    detail_->setText(setupDetail(flow));
}

QString SetupSteps::statusLabel() const
{
    return status_->text();
}
QString SetupSteps::detail() const
{
    return detail_->text();
}

QWidget* SetupSteps::statusIndicator() const
{
    return spinner_->isVisibleTo(this) ? static_cast<QWidget*>(spinner_) : lock_;
}

}  // namespace corvalent

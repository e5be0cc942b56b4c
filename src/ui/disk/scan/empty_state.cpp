#include "ui/disk/scan/empty_state.h"

#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include "models/disk_model.h"
#include "models/preferences.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

DiskEmptyMap::DiskEmptyMap(QWidget* parent) : QWidget(parent)
{
    setObjectName("diskEmptyMap");
    setFixedSize(frame + 2 * overhang, frame + 2 * overhang);
}

void DiskEmptyMap::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre = QRectF(rect()).center();
    const auto& colours = CorvalentStyle::diskPalette();
    for (int i = 0; i < 3; ++i) {
        const double radius = frame / 2.0 - 27.0 * i;
        // Degrees clockwise from three o'clock: a share of the circle, then turned.
        const double turn = 44.0 * i - 92.0;
        const double from = 360.0 * (0.03 + 0.08 * i) + turn;
        const double to = 360.0 * (0.68 + 0.06 * i) + turn;
        const QRectF circle(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
        // Qt counts angles anticlockwise.
        QPainterPath arc;
        arc.arcMoveTo(circle, -from);
        arc.arcTo(circle, -from, -(to - from));
        const auto colour = CorvalentStyle::withAlpha(colours[static_cast<std::size_t>(i) % colours.size()],
                                                      0.22 - 0.035 * i);
        painter.strokePath(arc, QPen(colour, 20, Qt::SolidLine, Qt::FlatCap));
    }
    const int symbol = 28;
    const auto image = Symbols::pixmap("internaldrive", CorvalentStyle::teal(), symbol, devicePixelRatioF());
    painter.drawPixmap(QPointF(centre.x() - symbol / 2.0, centre.y() - symbol / 2.0), image);
}

namespace {

// A symbol before a line of caption text, both secondary.
QHBoxLayout* promise(SymbolView* symbol, ElidedLabel* text)
{
    auto* line = new QHBoxLayout;
    line->setSpacing(4);
    line->addWidget(symbol, 0, Qt::AlignVCenter);
    line->addWidget(text, 0, Qt::AlignVCenter);
    return line;
}

ElidedLabel* promiseText(const QString& text)
{
    return new ElidedLabel(text, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
}

}  // namespace

DiskEmptyState::DiskEmptyState(DiskModel& model, const DiskCommands& commands, QWidget* parent)
    : QWidget(parent), model_(model)
{
    setObjectName("diskEmptyState");
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(36, 36, 36, 36);
    column->setSpacing(0);
    column->addStretch(1);
    column->addWidget(map_ = new DiskEmptyMap, 0, Qt::AlignHCenter);
    // 18 below the map's frame; its outer stroke already takes 10 of them.
    column->addSpacing(18 - DiskEmptyMap::overhang);

    auto* title = new ElidedLabel("Map your storage", CorvalentStyle::font(TextStyle::title2, QFont::DemiBold),
                                  Tones::primary());
    title->setAlignment(Qt::AlignCenter);
    column->addWidget(title, 0, Qt::AlignHCenter);
    column->addSpacing(6);
    auto* subtitle =
        new ElidedLabel("Scan the selected disk, or choose a smaller folder for a faster, focused map.",
                        CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    subtitle->setObjectName("emptySubtitle");
    subtitle->setWordWrap(true);
    subtitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    subtitle->setMaximumWidth(430);
    // As wide as the page allows up to its maximum, centred.
    auto* centred = new QHBoxLayout;
    centred->addStretch(0);
    centred->addWidget(subtitle, 1);
    centred->addStretch(0);
    column->addLayout(centred);
    column->addSpacing(18);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(10);
    buttons->addStretch(1);
    scan_ = new Button(Button::Kind::prominent, "Scan Disk");
    scan_->setObjectName("emptyScanDisk");
    scan_->setSymbol("internaldrive");
    connect(scan_, &QPushButton::clicked, this, [scan = commands.scanSelectedVolume] { scan(); });
    buttons->addWidget(scan_);
    auto* choose = new Button(Button::Kind::bordered, "Choose Folder…");
    choose->setObjectName("emptyChooseFolder");
    choose->setSymbol("folder");
    connect(choose, &QPushButton::clicked, this, [choose = commands.chooseFolder] { choose(); });
    buttons->addWidget(choose);
    buttons->addStretch(1);
    column->addLayout(buttons);
    column->addSpacing(18 + 6);

    auto* promises = new QHBoxLayout;
    promises->setSpacing(5);
    promises->addStretch(1);
    promises->addLayout(promise(new SymbolView("lock.shield", 11, Tones::secondary()),
                                promiseText("Scans are read-only · only items you confirm can move to Trash")));
    protectedSymbol_ = new SymbolView({}, 11, Tones::secondary());
    protectedSymbol_->setObjectName("protectedPromiseSymbol");
    protectedPromise_ = promiseText({});
    protectedPromise_->setObjectName("protectedPromise");
    promises->addLayout(promise(protectedSymbol_, protectedPromise_));
    promises->addStretch(1);
    column->addLayout(promises);
    column->addStretch(1);

    connect(&model_, &DiskModel::volumesChanged, this, &DiskEmptyState::sync);
    connect(&Preferences::standard(), &Preferences::includePrivacyProtectedLocationsChanged, this,
            &DiskEmptyState::syncProtectedPromise);
    sync();
    syncProtectedPromise();
}

QSize DiskEmptyState::minimumSizeHint() const
{
    auto size = QWidget::minimumSizeHint();
    if (map_->isVisibleTo(this)) size.rheight() -= map_->height();
    return size;
}

void DiskEmptyState::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    map_->setVisible(height() >= minimumSizeHint().height() + map_->height());
}

void DiskEmptyState::sync()
{
    scan_->setEnabled(model_.selectedVolume().has_value());
}

void DiskEmptyState::syncProtectedPromise()
{
    const bool included = Preferences::standard().includePrivacyProtectedLocations();
    protectedSymbol_->setSymbol(included ? "lock.open" : "hand.raised");
    protectedPromise_->setText(included ? "Protected folders are included where the system allows access"
                                        : "Protected folders are skipped unless you choose one directly");
}

}  // namespace corvalent

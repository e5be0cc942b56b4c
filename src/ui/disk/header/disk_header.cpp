#include "ui/disk/header/disk_header.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QVBoxLayout>

#include <algorithm>

#include "models/disk_model.h"
#include "ui/disk/header/capacity_card.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr QMargins headerMargins(24, 18, 24, 20);
// Folded to one row, the band keeps less room around it.
constexpr QMargins foldedMargins(24, 10, 24, 10);
constexpr int headerSpacing = 16;
constexpr int rowSpacing = 18;
constexpr int titleSpacing = 4;

QString driveSymbol(bool external)
{
    return external ? QStringLiteral("externaldrive") : QStringLiteral("internaldrive");
}

QIcon symbolIcon(const QString& symbol, const QPalette& palette)
{
    return QIcon(Symbols::pixmap(symbol, CorvalentStyle::primary(palette), 16, 2.0));
}

// A menu reads "&" as a mnemonic's mark: a name's own are doubled.
QString menuText(const std::string& name)
{
    return QString::fromStdString(name).replace('&', "&&");
}

}  // namespace

DiskHeader::DiskHeader(DiskModel& model, DiskViewState& state, const DiskCommands& commands, QWidget* parent)
    : QWidget(parent), model_(model)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(headerMargins);
    column->setSpacing(headerSpacing);

    titleRow_ = new QHBoxLayout;
    titleRow_->setSpacing(rowSpacing);
    titles_ = new QWidget(this);
    auto* titles = new QVBoxLayout(titles_);
    titles->setContentsMargins(0, 0, 0, 0);
    titles->setSpacing(titleSpacing);
    heading_ = new ElidedLabel(QStringLiteral("Disk space"), CorvalentStyle::font(TextStyle::pageTitle),
                               Tones::primary());
    heading_->setAccessibleName(heading_->text());
    titles->addWidget(heading_);
    subtitle_ = new ElidedLabel(QStringLiteral("See where space lives, from an entire disk down to a single folder."),
                                CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    titles->addWidget(subtitle_);
    titleRow_->addWidget(titles_, 1);

    commands_ = new QWidget(this);
    auto* buttons = new QHBoxLayout(commands_);
    buttons->setContentsMargins(0, 0, 0, 0);
    buttons->setSpacing(rowSpacing);
    stop_ = new Button(Button::Kind::plain, QStringLiteral("Stop Scan"), this);
    connect(stop_, &QPushButton::clicked, this, [commands] { commands.stopScan(); });
    buttons->addWidget(stop_, 0, Qt::AlignVCenter);

    volume_ = new Button(Button::Kind::bordered, {}, this);
    menu_ = new QMenu(volume_);
    connect(menu_, &QMenu::aboutToShow, this, &DiskHeader::fillVolumeMenu);
    volume_->setMenu(menu_);
    buttons->addWidget(volume_, 0, Qt::AlignVCenter);

    scan_ = new Button(Button::Kind::prominent, QStringLiteral("Scan Disk"), this);
    scan_->setSymbol(QStringLiteral("scope"));
    connect(scan_, &QPushButton::clicked, this, [commands] { commands.scanSelectedVolume(); });
    buttons->addWidget(scan_, 0, Qt::AlignVCenter);

    folder_ = new Button(Button::Kind::bordered, QStringLiteral("Choose Folder…"), this);
    folder_->setSymbol(QStringLiteral("folder.badge.plus"));
    connect(folder_, &QPushButton::clicked, this, [commands] { commands.chooseFolder(); });
    buttons->addWidget(folder_, 0, Qt::AlignVCenter);
    titleRow_->addWidget(commands_, 0, Qt::AlignVCenter);
    column->addLayout(titleRow_);

    cardRow_ = new QHBoxLayout;
    cardRow_->setSpacing(rowSpacing);
    card_ = new CapacityCard(model, this);
    cardRow_->addWidget(card_, 1);
    column->addLayout(cardRow_);
    column->addWidget(warning_ = new LimitedAccessWarning(state, this));

    for (auto signal : {&DiskModel::volumesChanged, &DiskModel::scanChanged, &DiskModel::resultChanged})
        connect(&model_, signal, this, &DiskHeader::sync);
    sync();
}

int DiskHeader::fullHeight() const
{
    const int width = titles_->width();
    const int titles = shownHeight(*heading_, width) + titleSpacing + shownHeight(*subtitle_, width);
    const int commands = shownHeight(*commands_, commands_->width());
    const int warning = warning_->isVisibleTo(this) ? headerSpacing + shownHeight(*warning_, warning_->width()) : 0;
    return headerMargins.top() + std::max(titles, commands) + headerSpacing + card_->rowHeight(false) + warning +
           headerMargins.bottom();
}

std::array<int, 2> DiskHeader::foldSavings() const
{
    const int width = titles_->width();
    const int heading = shownHeight(*heading_, width);
    const int titles = heading + titleSpacing + shownHeight(*subtitle_, width);
    const int commands = shownHeight(*commands_, commands_->width());
    const int titleRow = std::max(heading, commands);
    const int oneRow = foldedMargins.top() + std::max(card_->rowHeight(true), commands) + foldedMargins.bottom();
    const int twoRows = headerMargins.top() + titleRow + headerSpacing + card_->rowHeight(false) +
                        headerMargins.bottom();
    return {std::max(titles, commands) - titleRow, twoRows - oneRow};
}

void DiskHeader::setFolded(int parts)
{
    subtitle_->setVisible(parts < 1);
    const bool oneRow = parts >= 2;
    titles_->setVisible(!oneRow);
    auto* to = oneRow ? cardRow_ : titleRow_;
    if (to->indexOf(commands_) < 0) {
        (oneRow ? titleRow_ : cardRow_)->removeWidget(commands_);
        to->addWidget(commands_, 0, Qt::AlignVCenter);
    }
    card_->setCompact(oneRow);
    layout()->setContentsMargins(oneRow ? foldedMargins : headerMargins);
}

void DiskHeader::sync()
{
    const bool scanning = model_.status().kind == DiskModelStatus::Kind::scanning;
    const auto selected = model_.selectedVolume();
    stop_->setVisible(scanning);
    stop_->setText(model_.stopping() ? QStringLiteral("Stopping…") : QStringLiteral("Stop Scan"));
    stop_->setEnabled(!model_.stopping());
    volume_->setText(selected ? QString::fromStdString(selected->name) : QStringLiteral("Choose Disk"));
    volume_->setSymbol(driveSymbol(selected && isExternal(*selected)));
    volume_->setAccessibleDescription(QStringLiteral("Choose the disk to map"));
    // A mount that does not answer is named in the menu, beside Refresh Disks.
    volume_->setEnabled(!scanning && (!model_.volumes().empty() || !model_.notRespondingVolumes().empty()));
    scan_->setText(model_.result() ? QStringLiteral("Rescan Disk") : QStringLiteral("Scan Disk"));
    scan_->setEnabled(selected.has_value() && !scanning);
}

QMenu& DiskHeader::volumeMenu()
{
    fillVolumeMenu();
    return *menu_;
}

// Built as it opens, so it always lists the volumes of the last load.
void DiskHeader::fillVolumeMenu()
{
    menu_->clear();
    const auto section = [this](const QString& title) {
        auto* heading = menu_->addAction(title);
        heading->setEnabled(false);
        auto font = heading->font();
        font.setBold(true);
        heading->setFont(font);
    };
    const auto addVolume = [this](const DiskVolume& volume) {
        auto* action = menu_->addAction(symbolIcon(driveSymbol(isExternal(volume)), palette()), menuText(volume.name));
        connect(action, &QAction::triggered, this, [this, id = volume.id] { model_.selectVolume(id); });
    };
    // Named, but not to be chosen while it does not answer.
    const auto addNotResponding = [this](const DiskUnresponsiveVolume& volume) {
        menu_->addAction(symbolIcon(driveSymbol(isExternal(volume)), palette()),
                         menuText(volume.name) + QStringLiteral(" · not responding"))
            ->setEnabled(false);
    };
    // The disks of one kind, listed or not answering; whether there was one.
    const auto addDisks = [&](bool external) {
        bool any = false;
        for (const auto& volume : model_.volumes()) {
            if (isExternal(volume) != external) continue;
            addVolume(volume);
            any = true;
        }
        for (const auto& volume : model_.notRespondingVolumes()) {
            if (isExternal(volume) != external) continue;
            addNotResponding(volume);
            any = true;
        }
        return any;
    };
    section(QStringLiteral("Internal"));
    addDisks(false);
    menu_->addSeparator();
    section(QStringLiteral("External"));
    if (!addDisks(true)) menu_->addAction(QStringLiteral("No external disks connected"))->setEnabled(false);
    menu_->addSeparator();
    auto* refresh = menu_->addAction(symbolIcon(QStringLiteral("arrow.clockwise"), palette()),
                                     QStringLiteral("Refresh Disks"));
    connect(refresh, &QAction::triggered, this, [this] { model_.loadVolumes(true); });
}

}  // namespace corvalent

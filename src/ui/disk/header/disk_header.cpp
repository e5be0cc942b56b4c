#include "ui/disk/header/disk_header.h"

#include <QHBoxLayout>
#include <QMenu>
#include <QVBoxLayout>

#include "models/disk_model.h"
#include "ui/disk/header/capacity_card.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

QString driveSymbol(const std::optional<DiskVolume>& volume)
{
    return volume && volume->isExternal() ? QStringLiteral("externaldrive") : QStringLiteral("internaldrive");
}

QIcon symbolIcon(const QString& symbol, const QPalette& palette)
{
    return QIcon(Symbols::pixmap(symbol, CorvalentStyle::primary(palette), 16, 2.0));
}

}  // namespace

DiskHeader::DiskHeader(DiskModel& model, DiskViewState& state, const DiskCommands& commands, QWidget* parent)
    : QWidget(parent), model_(model)
{
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(24, 18, 24, 20);
    column->setSpacing(16);

    auto* titleRow = new QHBoxLayout;
    titleRow->setSpacing(18);
    auto* titles = new QVBoxLayout;
    titles->setSpacing(4);
    auto title = CorvalentStyle::font(TextStyle::pageTitle);
    auto* heading = new ElidedLabel(QStringLiteral("Disk space"), title, Tones::primary());
    heading->setAccessibleName(heading->text());
    titles->addWidget(heading);
    auto* subtitle =
        new ElidedLabel(QStringLiteral("See where space lives, from an entire disk down to a single folder."),
                        CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    titles->addWidget(subtitle);
    titleRow->addLayout(titles, 1);

    stop_ = new Button(Button::Kind::plain, QStringLiteral("Stop Scan"), this);
    connect(stop_, &QPushButton::clicked, this, [commands] { commands.stopScan(); });
    titleRow->addWidget(stop_, 0, Qt::AlignVCenter);

    volume_ = new Button(Button::Kind::bordered, {}, this);
    menu_ = new QMenu(volume_);
    connect(menu_, &QMenu::aboutToShow, this, &DiskHeader::fillVolumeMenu);
    volume_->setMenu(menu_);
    titleRow->addWidget(volume_, 0, Qt::AlignVCenter);

    scan_ = new Button(Button::Kind::prominent, QStringLiteral("Scan Disk"), this);
    scan_->setSymbol(QStringLiteral("scope"));
    connect(scan_, &QPushButton::clicked, this, [commands] { commands.scanSelectedVolume(); });
    titleRow->addWidget(scan_, 0, Qt::AlignVCenter);

    folder_ = new Button(Button::Kind::bordered, QStringLiteral("Choose Folder…"), this);
    folder_->setSymbol(QStringLiteral("folder.badge.plus"));
    connect(folder_, &QPushButton::clicked, this, [commands] { commands.chooseFolder(); });
    titleRow->addWidget(folder_, 0, Qt::AlignVCenter);
    column->addLayout(titleRow);

    column->addWidget(new CapacityCard(model, this));
    column->addWidget(new LimitedAccessWarning(state, this));

    for (auto signal : {&DiskModel::volumesChanged, &DiskModel::scanChanged, &DiskModel::resultChanged})
        connect(&model_, signal, this, &DiskHeader::sync);
    sync();
}

void DiskHeader::sync()
{
    const bool scanning = model_.status().kind == DiskModelStatus::Kind::scanning;
    const auto selected = model_.selectedVolume();
    stop_->setVisible(scanning);
    stop_->setText(model_.stopping() ? QStringLiteral("Stopping…") : QStringLiteral("Stop Scan"));
    stop_->setEnabled(!model_.stopping());
    volume_->setText(selected ? QString::fromStdString(selected->name) : QStringLiteral("Choose Disk"));
    volume_->setSymbol(driveSymbol(selected));
    volume_->setAccessibleDescription(QStringLiteral("Choose the disk to map"));
    volume_->setEnabled(!scanning && !model_.volumes().empty());
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
        // A menu reads "&" as a mnemonic's mark: the name's own are doubled.
        auto* action = menu_->addAction(symbolIcon(driveSymbol(volume), palette()),
                                        QString::fromStdString(volume.name).replace('&', "&&"));
        connect(action, &QAction::triggered, this, [this, id = volume.id] { model_.selectVolume(id); });
    };
    section(QStringLiteral("Internal"));
    for (const auto& volume : model_.volumes())
        if (!volume.isExternal()) addVolume(volume);
    menu_->addSeparator();
    section(QStringLiteral("External"));
    bool anyExternal = false;
    for (const auto& volume : model_.volumes()) {
        if (!volume.isExternal()) continue;
        addVolume(volume);
        anyExternal = true;
    }
    if (!anyExternal) menu_->addAction(QStringLiteral("No external disks connected"))->setEnabled(false);
    menu_->addSeparator();
    auto* refresh = menu_->addAction(symbolIcon(QStringLiteral("arrow.clockwise"), palette()),
                                     QStringLiteral("Refresh Disks"));
    connect(refresh, &QAction::triggered, this, [this] { model_.loadVolumes(true); });
}

}  // namespace corvalent

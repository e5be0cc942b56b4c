#include "ui/shell/tray_menu.h"

#include <QAction>
#include <QActionGroup>
#include <QIcon>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>

#include "models/preferences.h"
#include "models/vantle_model.h"
#include "ui/shell/app_icon.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr AppAppearance appearances[] = {AppAppearance::system, AppAppearance::light, AppAppearance::dark};

QIcon symbolIcon(const QString& symbol, const QPalette& palette)
{
    QIcon icon;
    icon.addPixmap(Symbols::pixmap(symbol, CorvalentStyle::primary(palette, 0.85), 16));
    icon.addPixmap(Symbols::pixmap(symbol, CorvalentStyle::primary(palette, 0.85), 32));
    return icon;
}

}  // namespace

TrayMenu::TrayMenu(VantleModel& model, std::function<void()> openMainWindow, QAction* quitAction, QObject* parent)
    : QObject(parent), model_(model), openMainWindow_(std::move(openMainWindow)), menu_(std::make_unique<QMenu>())
{
    menu_->setTitle(QStringLiteral("Corvalent"));

    // Figures, not commands: shown but never chosen.
    pressure_ = menu_->addAction(QString());
    pressure_->setProperty("symbol", "gauge.with.dots.needle.50percent");
    pressure_->setEnabled(false);
    swap_ = menu_->addAction(QString());
    swap_->setProperty("symbol", "internaldrive");
    swap_->setEnabled(false);
    showFigures();
    connect(&model_, &VantleModel::snapshotChanged, this, &TrayMenu::showFigures);

    menu_->addSeparator();
    auto* open = menu_->addAction(QStringLiteral("Open Corvalent"));
    open->setProperty("symbol", "macwindow");
    // On a later turn of the event loop, once the menu has closed and given
    // back the pointer and keyboard, so the window can take the focus.
    connect(open, &QAction::triggered, this, [this] {
        QTimer::singleShot(0, this, [this] {
            if (openMainWindow_) openMainWindow_();
        });
    });
    auto* refresh = menu_->addAction(QStringLiteral("Refresh"));
    refresh->setProperty("symbol", "arrow.clockwise");
    connect(refresh, &QAction::triggered, this, [this] { model_.refresh(); });

    auto* appearance = appearanceMenu_ = menu_->addMenu(QStringLiteral("Appearance"));
    appearances_ = new QActionGroup(appearance);
    appearances_->setExclusive(true);
    for (const auto choice : appearances) {
        auto* action = appearance->addAction(appearanceTitle(choice));
        action->setProperty("symbol", appearanceSymbol(choice));
        action->setCheckable(true);
        action->setData(rawValue(choice));
        appearances_->addAction(action);
        connect(action, &QAction::triggered, this, [choice] { setAppearance(choice); });
    }
    showAppearance(storedAppearance());
    connect(&Preferences::standard(), &Preferences::appearanceChanged, this,
            [this](const QString& raw) { showAppearance(appearanceFromRaw(raw)); });

    menu_->addSeparator();
    if (quitAction) menu_->addAction(quitAction);

    // Icons are tinted for the palette of the moment; it may change between showings.
    tintIcons();
    connect(menu_.get(), &QMenu::aboutToShow, this, &TrayMenu::tintIcons);
    connect(appearance, &QMenu::aboutToShow, this, &TrayMenu::tintIcons);

    if (QSystemTrayIcon::isSystemTrayAvailable()) {
        // The program's own icon, as the window and the desktop entry show it.
        icon_ = new QSystemTrayIcon(appIcon(), this);
        icon_->setToolTip(QStringLiteral("Corvalent"));
        icon_->setContextMenu(menu_.get());
        icon_->show();
    }
}

TrayMenu::~TrayMenu()
{
    // The icon refers to the menu: it goes first.
    delete icon_;
    icon_ = nullptr;
}

QAction* TrayMenu::appearanceAction(AppAppearance appearance) const
{
    for (auto* action : appearances_->actions())
        if (action->data().toString() == rawValue(appearance)) return action;
    return nullptr;
}

void TrayMenu::lendRows(QMenu& menu, QAction* first)
{
    menu.insertAction(first, pressure_);
    menu.insertAction(first, swap_);
    menu.insertSeparator(first);
    const auto rows = menu.actions();
    const auto next = rows.indexOf(first) + 1;
    menu.insertMenu(next < rows.size() ? rows[next] : nullptr, appearanceMenu_);
    connect(&menu, &QMenu::aboutToShow, this, &TrayMenu::tintIcons);
    tintIcons();
}

void TrayMenu::tintIcons()
{
    const auto palette = menu_->palette();
    const auto tint = [&palette](QMenu& menu) {
        for (auto* action : menu.actions()) {
            const auto symbol = action->property("symbol").toString();
            if (!symbol.isEmpty()) action->setIcon(symbolIcon(symbol, palette));
        }
    };
    tint(*menu_);
    tint(*appearanceMenu_);
}

void TrayMenu::showFigures()
{
    pressure_->setText(QStringLiteral("Memory pressure: ") + memoryPressureText(model_.pressure()));
    swap_->setText(QStringLiteral("Swap in use: ") + model_.swap());
}

void TrayMenu::showAppearance(AppAppearance appearance)
{
    if (auto* action = appearanceAction(appearance)) action->setChecked(true);
}

}  // namespace corvalent

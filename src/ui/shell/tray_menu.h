#pragma once

// The menu in the desktop's tray: memory pressure and swap at a glance, and
// the few commands that make sense without the window. Without a tray its
// figures and the Appearance choice are lent to the window's menu bar.

#include <QObject>

#include <functional>
#include <memory>

#include "ui/shell/app_appearance.h"

class QAction;
class QActionGroup;
class QMenu;
class QSystemTrayIcon;

namespace corvalent {

class VantleModel;

class TrayMenu : public QObject {
    Q_OBJECT

public:
    TrayMenu(VantleModel& model, std::function<void()> openMainWindow, QAction* quitAction,
             QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu& menu() { return *menu_; }
    bool hasTrayIcon() const { return icon_ != nullptr; }
    // The appearance choices, in the order System, Light, Dark.
    QAction* appearanceAction(AppAppearance appearance) const;
    // Puts the figures before `first` and the Appearance choice after it in
    // `menu` (the window's, where no tray shows this one): the same rows,
    // live in both menus.
    void lendRows(QMenu& menu, QAction* first);

private:
    void showFigures();
    void tintIcons();
    void showAppearance(AppAppearance appearance);

    VantleModel& model_;
    std::function<void()> openMainWindow_;
    std::unique_ptr<QMenu> menu_;
    QAction* pressure_ = nullptr;
    QAction* swap_ = nullptr;
    QMenu* appearanceMenu_ = nullptr;
    QActionGroup* appearances_ = nullptr;
    QSystemTrayIcon* icon_ = nullptr;
};

}  // namespace corvalent

#pragma once

// The menu in the desktop's tray: memory pressure and swap at a glance, and
// the few commands that make sense without the window. Without a tray the
// menu still exists, but nothing shows it.

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

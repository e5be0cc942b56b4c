#pragma once

// The application: the shared process model, the main window with its menu
// bar, the tray menu, the settings window and the application-wide commands.

#include <QObject>
#include <QPointer>

#include <functional>
#include <memory>

#include "models/full_disk_access.h"
#include "ui/onboarding/onboarding_flow.h"
#include "ui/shell/single_instance.h"

class QAction;
class QMainWindow;
class QMenu;
class QWidget;

namespace corvalent {

class FolderChooser;
class MainView;
class ProcessIconStore;
class TrayMenu;
class VantleModel;

class CorvalentApp : public QObject {
    Q_OBJECT

public:
    CorvalentApp();
    ~CorvalentApp() override;

    // Created on first use and kept for the life of the application.
    VantleModel& model();
    // The one icon cache of every view, kept for the life of the application.
    ProcessIconStore& iconStore();
    QMainWindow& mainWindow();
    MainView* mainView() const { return view_; }
    // Brings the main window forward, making it again when it was closed;
    // for a later start of the program, with its launcher's token.
    void openMainWindow(const LaunchToken& launch = {});
    void openSettings();
    QWidget* settingsWindow() const;
    TrayMenu* trayMenu() const { return tray_.get(); }
    void createTrayMenu();
    // The disk page's folder chooser: the desktop's, through its portal on
    // the session bus, else the program's own. One for every page, made with
    // the first unless set before.
    std::shared_ptr<FolderChooser> folderChooser();
    void setFolderChooser(std::shared_ptr<FolderChooser> chooser) { folderChooser_ = std::move(chooser); }
    // What the access card does outside itself: the program's one access
    // check, the home folder's opener, and Quit & Reopen, which lets the
    // instance go before the new process starts and quits as Quit does.
    OnboardingEnvironment accessCardEnvironment();
    // A later start of the program brings the main window forward, as
    // "Open Corvalent" does; a relaunch gives the instance up first.
    void answerLaterStarts(SingleInstance& instance);

    // One action per command, shared by every window.
    QAction& refreshAction() { return *refresh_; }
    QAction& quitAction() { return *quit_; }
    QAction& settingsAction() { return *settings_; }

private:
    void firstShown();
    void lendTrayRows();

    std::unique_ptr<VantleModel> model_;
    ProcessIconStore* icons_ = nullptr;  // a child of the application object
    QPointer<QMainWindow> window_;
    MainView* view_ = nullptr;  // owned by the window
    QPointer<QMenu> applicationMenu_;  // the window's own "Corvalent" menu
    bool trayRowsLent_ = false;
    QPointer<QWidget> settingsWindow_;
    QPointer<SingleInstance> instance_;
    std::unique_ptr<TrayMenu> tray_;
    std::shared_ptr<FolderChooser> folderChooser_;
    // Whether the protected folders can be read, asked of a fresh process:
    // one check for every access card and the disk page, so that a process
    // of it held by a share that does not answer holds back every later ask
    // instead of each card starting one more.
    std::function<FullDiskAccessStatus()> accessCheck_ = FullDiskAccessVerifier::repeatedCheck();
    QAction* refresh_ = nullptr;
    QAction* quit_ = nullptr;
    QAction* settings_ = nullptr;
    bool started_ = false;
};

// The program after its command-line check: returns the exit status.
int runApplication(int argc, char** argv);

}  // namespace corvalent

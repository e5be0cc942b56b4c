#include "ui/shell/corvalent_app.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QKeyEvent>
#include <QIcon>
#include <QMainWindow>

#include <QMenuBar>
#include <QScreen>
#include <QShortcut>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include "models/app_notifications.h"
#include "models/background_task.h"
#include "models/full_disk_access.h"
#include "models/performance_check.h"
#include "models/preferences.h"
#include "models/vantle_model.h"
#include "ui/desktop/session_bus.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/folders/portal_folder_chooser.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/process_page.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/app_icon.h"
#include "ui/shell/main_view.h"
#include "ui/shell/main_window_size.h"
#include "ui/shell/settings_window.h"
#include "ui/shell/single_instance.h"
#include "ui/shell/startup_notification.h"
#include "ui/shell/system_settings.h"
#include "ui/shell/termination_signal.h"
#include "ui/shell/tray_menu.h"
#include "ui/widgets/app_style.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

// Runs once when the window is first shown.
class ShowWatcher : public QObject {
public:
    ShowWatcher(QObject* parent, std::function<void()> shown) : QObject(parent), shown_(std::move(shown)) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && shown_) {
            auto shown = std::move(shown_);
            shown_ = nullptr;
            shown();
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> shown_;
};

// Tells whether a window is on screen, shown and not minimised, whenever
// that may have changed.
class OnScreenWatcher : public QObject {
public:
    OnScreenWatcher(QWidget* window, std::function<void(bool)> changed)
        : QObject(window), changed_(std::move(changed))
    {
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const auto type = event->type();
        if (type == QEvent::Show || type == QEvent::Hide || type == QEvent::WindowStateChange) {
            const auto* window = static_cast<QWidget*>(watched);
            changed_(type != QEvent::Hide && window->isVisible() && !window->isMinimized());
        }
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void(bool)> changed_;
};

// Quit's keys in every window of the program: a sheet or a modal dialog
// shuts the main window's shortcuts off, and a chooser has none of its own.
// A key the shortcut already took never arrives here.
class QuitKeys : public QObject {
public:
    explicit QuitKeys(QAction& quit) : QObject(&quit), quit_(quit) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (QKeySequence(key->keyCombination()) == quit_.shortcut()) {
                quit_.trigger();
                return true;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QAction& quit_;
};

bool measurementFlagGiven(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--performance-check" || argument == "--disk-performance-check") return true;
    }
    return false;
}

// Whether something listens on the local socket at `path`: a compositor that
// died leaves its socket file behind.
bool socketAnswers(const QByteArray& path)
{
    sockaddr_un address{};
    if (path.isEmpty() || static_cast<std::size_t>(path.size()) >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.constData(), static_cast<std::size_t>(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    const bool answers = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return answers;
}

// Whether the window has a display to go to. Qt aborts where its platform
// finds none; a platform chosen by name other than X11's or Wayland's (the
// offscreen one) needs none.
bool displayReachable(int argc, char** argv)
{
    auto platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (int i = 1; i + 1 < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "-platform" || argument == "--platform") platform = QString::fromLocal8Bit(argv[i + 1]);
    }
    // A display named but gone (a stale DISPLAY in an SSH session) is no display.
    const auto x11 = [] {
        if (qEnvironmentVariableIsEmpty("DISPLAY")) return false;
        xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
        const bool answers = xcb_connection_has_error(connection) == 0;
        xcb_disconnect(connection);
        return answers;
    };
    const auto wayland = [] {
        const auto name = qEnvironmentVariable("WAYLAND_DISPLAY");
        if (name.isEmpty()) return false;
        const auto path = name.startsWith(u'/') ? name : qEnvironmentVariable("XDG_RUNTIME_DIR") + u'/' + name;
        return socketAnswers(QFile::encodeName(path));
    };
    if (platform.isEmpty()) return wayland() || x11();
    // Qt tries each of a list "wayland;xcb" in turn.
    for (const auto& name : platform.split(u';')) {
        if (name.startsWith(QStringLiteral("xcb")) ? x11() : name.startsWith(QStringLiteral("wayland")) ? wayland() : true)
            return true;
    }
    return false;
}

// Under the offscreen platform Qt knows no icon folders: add the system's.
void useSystemIcons()
{
    auto paths = QIcon::themeSearchPaths();
    if (!paths.contains("/usr/share/icons")) paths << "/usr/share/icons";
    QIcon::setThemeSearchPaths(paths);
    if (QIcon::themeName().isEmpty() || QIcon::themeName() == "hicolor") QIcon::setThemeName("Adwaita");
}

// Centred over `over`, kept on its screen.
void centre(QWidget& window, const QWidget& over)
{
    QRect area(QPoint(0, 0), window.size());
    area.moveCenter(over.geometry().center());
    if (const auto* screen = over.screen()) {
        const auto room = screen->availableGeometry();
        area.moveLeft(std::clamp(area.left(), room.left(), std::max(room.left(), room.right() - area.width())));
        area.moveTop(std::clamp(area.top(), room.top(), std::max(room.top(), room.bottom() - area.height())));
    }
    window.setGeometry(area);
}

// Every window off the screen at once, also while the process cannot end yet.
void putAwayWindows()
{
    for (auto* window : QApplication::topLevelWidgets())
        if (window->isVisible()) window->hide();
    QGuiApplication::sync();
}

}  // namespace

CorvalentApp::CorvalentApp()
{
    const auto command = [this](const QString& text, QKeySequence keys) {
        auto* action = new QAction(text, this);
        action->setShortcut(keys);
        action->setShortcutContext(Qt::ApplicationShortcut);
        return action;
    };
    refresh_ = command(QStringLiteral("Refresh"), QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(refresh_, &QAction::triggered, this, [] { emit AppNotifications::instance().refreshRequested(); });
    // Quitting never asks, even while a stop or a scan is under way.
    quit_ = command(QStringLiteral("Quit Corvalent"), QKeySequence(Qt::CTRL | Qt::Key_Q));
    // Every event loop ends, a dialog's own included; no window is asked to close first.
    connect(quit_, &QAction::triggered, this, [] { QCoreApplication::exit(0); });
    new QuitKeys(*quit_);
    settings_ = command(QStringLiteral("Settings…"), QKeySequence(Qt::CTRL | Qt::Key_Comma));
    connect(settings_, &QAction::triggered, this, &CorvalentApp::openSettings);
}

CorvalentApp::~CorvalentApp()
{
    tray_.reset();
    delete settingsWindow_;
    delete window_;
}

VantleModel& CorvalentApp::model()
{
    if (!model_) {
        auto environment = VantleModelEnvironment::system();
        // A measurement run works on its fixed table, the disk run too.
        if (PerformanceCheck::enabled()) environment = PerformanceCheck::measuredEnvironment(std::move(environment));
        model_ = std::make_unique<VantleModel>(std::move(environment));
    }
    return *model_;
}

ProcessIconStore& CorvalentApp::iconStore()
{
    if (icons_ == nullptr) icons_ = new ProcessIconStore(this);
    return *icons_;
}

QMainWindow& CorvalentApp::mainWindow()
{
    if (!window_) {
        window_ = new QMainWindow;
        window_->setObjectName("main");
        window_->setWindowTitle("Corvalent");
        window_->setWindowIcon(appIcon());
        fitMainWindowToScreen(*window_);
        view_ = new MainView(model(), window_);
        const auto accessOverlay = [this](QWidget* parent, std::function<void()> close) -> QWidget* {
            return new FullDiskAccessOverlay(accessCardEnvironment(), std::move(close), parent);
        };
        view_->setIntroductionFactory(accessOverlay);
        view_->setIconStore(&iconStore());
        view_->setPageFactory(AppSection::processes, [this](QWidget* parent) -> QWidget* {
            return new ProcessPage(model(), iconStore(), parent);
        });
        view_->setPageFactory(AppSection::storage, [this, accessOverlay](QWidget* parent) -> QWidget* {
            auto environment = DiskView::Environment::system(accessCheck_);
            environment.accessOverlay = accessOverlay;
            environment.folderChooser = folderChooser();
            return new DiskView(view_->diskModel(), Preferences::standard().showInspector(),
                                std::move(environment), parent);
        });
        window_->setCentralWidget(view_);
        // Linux has no application menu: the window carries the commands,
        // and where no tray shows one, the tray menu's rows too.
        // Alt and the underlined letter open a menu; F10 opens the first.
        auto* bar = window_->menuBar();
        QMenu* application = bar->addMenu(QStringLiteral("&Corvalent"));
        applicationMenu_ = application;
        application->addAction(settings_);
        application->addSeparator();
        application->addAction(quit_);
        bar->addMenu(QStringLiteral("&View"))->addAction(refresh_);
        auto* firstMenu = new QShortcut(QKeySequence(Qt::Key_F10), window_);
        connect(firstMenu, &QShortcut::activated, bar, [bar] { bar->setActiveAction(bar->actions().constFirst()); });
        lendTrayRows();
        window_->installEventFilter(new ShowWatcher(window_, [this] { firstShown(); }));
        // The page on show follows the setting; a page made later reads it.
        connect(&Preferences::standard(), &Preferences::showInspectorChanged, view_, [this](bool on) {
            auto* page = view_->currentPage();
            if (auto* processes = qobject_cast<ProcessPage*>(page)) processes->setShowInspector(on);
            if (auto* disk = qobject_cast<DiskView*>(page)) disk->setShowsInspector(on);
        });
        // Samples come less often while the window is away.
        new OnScreenWatcher(window_, [this](bool shown) { model().setWindowShown(shown); });
    }
    return *window_;
}

OnboardingEnvironment CorvalentApp::accessCardEnvironment()
{
    auto environment = OnboardingEnvironment::system(accessCheck_);
    environment.openSettings = [] { return openFullDiskAccessSettings(); };
    // The new process must find the instance free: else it would hand its
    // start over to this one, which is about to end, and nothing would run.
    environment.relaunch = [this, start = std::move(environment.relaunch)](const std::string& program) {
        const auto startProgram = [&] { return start(program); };
        return instance_ ? instance_->handOverTo(startProgram) : startProgram();
    };
    return environment;
}

std::shared_ptr<FolderChooser> CorvalentApp::folderChooser()
{
    if (!folderChooser_)
        folderChooser_ = std::make_shared<PortalFolderChooser>(QDBusConnection::sessionBus(),
                                                               std::make_shared<OwnFolderChooser>());
    return folderChooser_;
}

void CorvalentApp::openMainWindow(const LaunchToken& launch)
{
    auto& window = mainWindow();
    // A minimized window comes back as it was before, maximized or not.
    window.setWindowState(window.windowState() & ~Qt::WindowMinimized);
    window.show();
    window.raise();
    activateForLaunch(window, launch);
}

void CorvalentApp::answerLaterStarts(SingleInstance& instance)
{
    instance_ = &instance;
    connect(&instance, &SingleInstance::showRequested, this, &CorvalentApp::openMainWindow);
}

void CorvalentApp::openSettings()
{
    auto& owner = mainWindow();
    if (!settingsWindow_) {
        // A window of its own, kept with the main window by the window manager.
        settingsWindow_ = new SettingsWindow(model(), &owner);
        settingsWindow_->setAttribute(Qt::WA_DeleteOnClose);
        settingsWindow_->addAction(refresh_);
        settingsWindow_->addAction(quit_);
    }
    if (!settingsWindow_->isVisible()) centre(*settingsWindow_, owner);
    settingsWindow_->show();
    settingsWindow_->raise();
    settingsWindow_->activateWindow();
}

QWidget* CorvalentApp::settingsWindow() const
{
    return settingsWindow_;
}

void CorvalentApp::createTrayMenu()
{
    tray_ = std::make_unique<TrayMenu>(model(), [this] { openMainWindow(); }, quit_);
    // With a tray the program keeps running when its window closes; without
    // one, closing the last window quits.
    QApplication::setQuitOnLastWindowClosed(!tray_->hasTrayIcon());
    lendTrayRows();
}

void CorvalentApp::lendTrayRows()
{
    if (trayRowsLent_ || !tray_ || tray_->hasTrayIcon() || !applicationMenu_) return;
    trayRowsLent_ = true;
    tray_->lendRows(*applicationMenu_, settings_);
}

void CorvalentApp::firstShown()
{
    if (started_) return;
    started_ = true;
    auto& shared = model();
    shared.start();
    shared.refresh([&shared] {
        PerformanceCheck::run(shared, [](int status) {
            if (PerformanceCheck::enabled()) QCoreApplication::exit(status);
        });
    });
}

int runApplication(int argc, char** argv)
{
    settleSessionBusAddress();
    // The measurement modes also run where there is no display.
    if (measurementFlagGiven(argc, argv) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    if (!displayReachable(argc, argv)) {
        std::fputs("Corvalent: there is no display to show its window on.\n", stderr);
        return 1;
    }

    // Taken before the platform takes them: a start that hands over passes them on.
    const auto launch = LaunchToken::fromEnvironment();
    QApplication application(argc, argv);
    QApplication::setOrganizationName("Corvalent");
    QApplication::setApplicationName("Corvalent");
    QApplication::setApplicationDisplayName("Corvalent");
    QGuiApplication::setDesktopFileName(QStringLiteral("corvalent"));

    // A later start hands over to the running instance before it makes any
    // window or tray icon. The measurements run beside it, alone.
    std::unique_ptr<SingleInstance> instance;
    if (!measurementFlagGiven(argc, argv)) {
        instance = std::make_unique<SingleInstance>(SingleInstance::runtimeFolder());
        switch (instance->start(launch)) {
        case SingleInstance::Start::first: break;
        case SingleInstance::Start::handedOver:
            // Said on the terminal, so that a start beside a running copy is not taken for one that failed.
            std::puts("Corvalent is already running; its window was brought forward.");
            return 0;
        case SingleInstance::Start::unanswered:
            qWarning("Corvalent is already running but does not answer.");
            return 1;
        }
    }

    QApplication::setFont(CorvalentStyle::font(TextStyle::body));
    installAppStyle();
    useSystemIcons();
    QApplication::setWindowIcon(appIcon());
    followDesktopSettings();
    applyAppearance(storedAppearance());

    DiskAccessPreference::migrateSigningIdentityIfNeeded(Preferences::standard());

    // Never destroyed: the process ends below without taking anything down.
    CorvalentApp app;
    if (instance) app.answerLaterStarts(*instance);
    // SIGTERM (a logout), SIGINT and SIGHUP (the terminal) quit as Quit does.
    const TerminationSignal termination([&app] { app.quitAction().trigger(); });
    app.openMainWindow();
    if (!PerformanceCheck::enabled()) app.createTrayMenu();
    const int status = QApplication::exec();

    // Quitting, by Quit, Ctrl+Q, the tray or a signal. The instance is let go first:
    // while any thread of this process lives, the kernel keeps its lock and
    // socket, and a thread blocked on a hung file system may never end and
    // cannot be interrupted. Then the windows leave the screen, a job still
    // running in a lane gets a moment to end, and the process ends without
    // joining any thread or running the destructors of anything one may
    // touch, the windows' included. Only the standard streams need flushing:
    // settings are written as they change.
    if (instance) instance->release();
    putAwayWindows();
    BackgroundTask::drainLanes(std::chrono::milliseconds(250));
    std::fflush(nullptr);
    std::_Exit(status);
}

}  // namespace corvalent

#include "ui/corvalent_app.h"

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QMainWindow>
#include <QSettings>

#include <cstdlib>

#include "models/app_notifications.h"
#include "models/full_disk_access.h"
#include "models/performance_check.h"
#include "models/vantle_model.h"

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

bool measurementFlagGiven(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--performance-check" || argument == "--disk-performance-check") return true;
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

}  // namespace

CorvalentApp::CorvalentApp()
{
    refresh_ = new QAction(tr("Refresh"), this);
    refresh_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    refresh_->setShortcutContext(Qt::ApplicationShortcut);
    connect(refresh_, &QAction::triggered, this, [] { emit AppNotifications::instance().refreshRequested(); });
}

CorvalentApp::~CorvalentApp()
{
    delete window_;
}

VantleModel& CorvalentApp::model()
{
    if (!model_) model_ = std::make_unique<VantleModel>();
    return *model_;
}

QMainWindow& CorvalentApp::mainWindow()
{
    if (!window_) {
        window_ = new QMainWindow;
        window_->setObjectName("main");
        window_->setWindowTitle("Corvalent");
        window_->resize(1180, 760);
        window_->setMinimumSize(920, 620);
        window_->setCentralWidget(new QWidget);
        window_->addAction(refresh_);
        window_->installEventFilter(new ShowWatcher(window_, [this] { firstShown(); }));
    }
    return *window_;
}

void CorvalentApp::openMainWindow()
{
    auto& window = mainWindow();
    window.show();
    window.raise();
    window.activateWindow();
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
    // The measurement modes also run where there is no display.
    if (measurementFlagGiven(argc, argv) && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    QApplication::setOrganizationName("Corvalent");
    QApplication::setApplicationName("Corvalent");
    QApplication::setApplicationDisplayName("Corvalent");
    useSystemIcons();

    QSettings settings;
    DiskAccessPreference::migrateSigningIdentityIfNeeded(settings);

    CorvalentApp app;
    app.openMainWindow();
    return QApplication::exec();
}

}  // namespace corvalent

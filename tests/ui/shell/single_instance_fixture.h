#pragma once

// The fixture of the single-instance tests: real starts of the built program in
// a session of the test's own (its runtime, home and settings folders).

#include <QApplication>
#include <QLocalSocket>
#include <QMainWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include "core/common/child_process.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/single_instance.h"

namespace corvalent {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Whether process `pid` holds the lock on `file`, as the kernel lists it.
inline bool holdsLock(pid_t pid, const fs::path& file)
{
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0) return false;
    std::ifstream locks("/proc/locks");
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, kind, mode, access, owner, device;
        fields >> number >> kind >> mode >> access >> owner >> device;
        if (kind == "FLOCK" && owner == std::to_string(pid) && device.ends_with(":" + std::to_string(info.st_ino)))
            return true;
    }
    return false;
}

inline ino_t inode(const fs::path& file)
{
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
}

// The window minimized while the person works in `elsewhere`.
inline bool putAway(QWidget& window, QWidget& elsewhere)
{
    window.showMinimized();
    if (!QTest::qWaitFor([&] { return window.windowState().testFlag(Qt::WindowMinimized); }, 2'000)) return false;
    elsewhere.show();
    elsewhere.activateWindow();
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == &elsewhere; }, 2'000);
}

// Shown, not minimized, and the active window.
inline bool broughtForward(QWidget& window)
{
    return !window.windowState().testFlag(Qt::WindowMinimized) && window.isVisible() &&
           QTest::qWaitFor([&] { return QApplication::activeWindow() == &window; }, 2'000);
}

// This process as the running instance, its window open while the person
// works in another one.
struct Running {
    SingleInstance instance;
    CorvalentApp app;
    QWidget elsewhere;

    explicit Running(const QString& folder) : instance(folder) {}

    bool windowPutAway()
    {
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        if (instance.start() != SingleInstance::Start::first) return false;
        app.answerLaterStarts(instance);
        app.openMainWindow();
        return QTest::qWaitForWindowExposed(&app.mainWindow()) && putAway(app.mainWindow(), elsewhere);
    }
};

class SingleInstanceTest : public ::testing::Test {
protected:
    testing::TempDir root;
    fs::path runtime = fs::canonical(root.path()) / "runtime";
    fs::path home = fs::canonical(root.path()) / "home";
    fs::path config = fs::canonical(root.path()) / "config";

    SingleInstanceTest()
    {
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(home);
    }

    QString folder() const { return QString::fromStdString(runtime.string()); }
    fs::path lock() const { return runtime / "corvalent.lock"; }
    fs::path socket() const { return runtime / "corvalent.socket"; }

    // Through env(1), so that the test's own environment stays as it is.
    std::vector<std::string> command(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> line{"XDG_RUNTIME_DIR=" + runtime.string(), "HOME=" + home.string(),
                                      "XDG_CONFIG_HOME=" + config.string(), "QT_QPA_PLATFORM=offscreen", CORVALENT_APP};
        line.insert(line.end(), arguments.begin(), arguments.end());
        return line;
    }

    // A start that runs on while the test goes on; killed when the test ends.
    std::unique_ptr<testing::ChildProcess> start() const
    {
        return std::make_unique<testing::ChildProcess>("/usr/bin/env", command({}), root.path());
    }

    // A start run to its end on a thread of its own, while this thread's
    // events go on being delivered (the running instance may be this process).
    ChildRunResult run(const std::vector<std::string>& arguments = {}, const fs::path& folder = {}) const
    {
        const auto previous = fs::current_path();
        fs::current_path(folder.empty() ? root.path() : folder);
        ChildRunRequest request;
        request.executable = "/usr/bin/env";
        request.arguments = command(arguments);
        request.deadline = 60s;
        request.outputCap = 1 << 20;
        auto pending = std::async(std::launch::async, [&request] { return runChild(request); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return pending.wait_for(0s) == std::future_status::ready; }, 90'000));
        fs::current_path(previous);
        return pending.get();
    }

    // Waits until `program` is the running instance: it holds the lock and listens.
    bool becomesRunningInstance(testing::ChildProcess& program) const
    {
        return QTest::qWaitFor([&] { return holdsLock(program.pid(), lock()) && fs::exists(socket()); }, 60'000);
    }
};


}  // namespace corvalent

// One running program per user, tried with real starts of the built program
// in a session of the test's own: its runtime, home and settings folders.
#include <QApplication>
#include <QLocalSocket>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <sstream>

#include "core/common/child_process.h"
#include "test_support.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/single_instance.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Whether process `pid` holds the lock on `file`, as the kernel lists it.
bool holdsLock(pid_t pid, const fs::path& file)
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

// This process is the running instance; later starts are the built program.
TEST_F(SingleInstanceTest, ALaterStartBringsTheWindowForwardAndEndsWithoutOneOfItsOwn)
{
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    SingleInstance instance(QString::fromStdString(runtime.string()));
    ASSERT_EQ(instance.start(), SingleInstance::Start::first);
    CorvalentApp app;
    app.answerLaterStarts(instance);
    app.openMainWindow();
    auto& window = app.mainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    window.showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.windowState().testFlag(Qt::WindowMinimized); }, 2'000));
    // The person works in another window meanwhile.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &elsewhere; }, 2'000));

    const auto later = run();
    EXPECT_EQ(later.exitStatus, 0);
    EXPECT_EQ(later.output, "Corvalent is already running; its window was brought forward.\n");
    EXPECT_FALSE(window.windowState().testFlag(Qt::WindowMinimized));
    EXPECT_TRUE(window.isVisible());
    EXPECT_TRUE(QTest::qWaitFor([&] { return QApplication::activeWindow() == &window; }, 2'000));
    EXPECT_FALSE(fs::exists(config)) << "it ended before it read or wrote any setting";

    window.close();
    ASSERT_FALSE(window.isVisible());
    EXPECT_EQ(run().exitStatus, 0);
    EXPECT_TRUE(window.isVisible()) << "a closed window opens again";
    window.close();
}

TEST_F(SingleInstanceTest, MeasurementsRunBesideTheRunningInstance)
{
    const auto first = start();
    ASSERT_TRUE(becomesRunningInstance(*first));
    const auto tree = root.path() / "tree";
    testing::writeFile(tree / "a" / "file", 5'000);
    const auto measured = run({"--disk-performance-check"}, tree);
    EXPECT_EQ(measured.exitStatus, 0);
    EXPECT_NE(measured.output.find("\"disk_scanned_entries\" : 3"), std::string::npos) << measured.output;
    EXPECT_EQ(run({"--full-disk-access-check"}).exitStatus, 0) << "the home folder opens";
    EXPECT_TRUE(first->running());
    EXPECT_TRUE(holdsLock(first->pid(), lock()));
    EXPECT_EQ(run().exitStatus, 0) << "the running instance still answers";
    EXPECT_TRUE(first->running());
}

TEST_F(SingleInstanceTest, AKilledInstanceLeavesNothingThatBlocksTheNextStart)
{
    auto first = start();
    ASSERT_TRUE(becomesRunningInstance(*first));
    ::kill(first->pid(), SIGKILL);
    first->wait();
    EXPECT_TRUE(fs::exists(socket())) << "the killed instance left its socket";
    EXPECT_TRUE(fs::exists(lock()));

    const auto next = start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return holdsLock(next->pid(), lock()); }, 60'000));
    EXPECT_EQ(run().exitStatus, 0) << "the new instance answers on a socket of its own";
    EXPECT_TRUE(next->running());
}

TEST_F(SingleInstanceTest, OfStartsAtTheSameMomentOneRunsAndTheOthersHandOver)
{
    std::vector<std::unique_ptr<testing::ChildProcess>> starts;
    for (int i = 0; i < 3; ++i) starts.push_back(start());
    std::map<std::size_t, int> ended;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (std::size_t i = 0; i < starts.size(); ++i)
                if (!ended.count(i))
                    if (const auto status = starts[i]->waitFor(0ms)) ended[i] = *status;
            return ended.size() >= starts.size() - 1;
        },
        90'000));
    ASSERT_EQ(ended.size(), starts.size() - 1);
    for (const auto& [index, status] : ended) {
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    for (std::size_t i = 0; i < starts.size(); ++i) {
        if (ended.count(i)) continue;
        EXPECT_TRUE(starts[i]->running());
        EXPECT_TRUE(holdsLock(starts[i]->pid(), lock()));
    }
}

// In this process: a lock let go and a socket nobody listens on are taken again.
TEST_F(SingleInstanceTest, AReleasedLockAndAStaleSocketAreTakenAgain)
{
    const auto folder = QString::fromStdString(runtime.string());
    SingleInstance first(folder);
    SingleInstance second(folder);
    ASSERT_TRUE(first.claim());
    EXPECT_TRUE(first.isClaimed());
    EXPECT_FALSE(second.claim()) << "held by the first";
    first.release();
    EXPECT_FALSE(fs::exists(socket())) << "a release removes the socket";

    // A socket file whose listener is gone, as a crash leaves it.
    const int stale = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    socket().string().copy(address.sun_path, sizeof(address.sun_path) - 1);
    ASSERT_EQ(::bind(stale, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(stale);
    ASSERT_TRUE(fs::is_socket(socket()));

    ASSERT_TRUE(second.claim());
    QLocalSocket client;
    client.connectToServer(QString::fromStdString(socket().string()));
    EXPECT_TRUE(client.waitForConnected(5'000)) << "the second listens where the stale socket was";
    EXPECT_FALSE(first.claim());
}

// A relaunch: the new process can take over while it starts; a failed start keeps the claim.
TEST_F(SingleInstanceTest, ARelaunchLetsGoUnlessTheNewProcessFailsToStart)
{
    const auto folder = QString::fromStdString(runtime.string());
    SingleInstance running(folder);
    ASSERT_TRUE(running.claim());
    const auto startWith = [&](std::optional<QString> error) {
        return [&folder, error] {
            SingleInstance successor(folder);
            EXPECT_TRUE(successor.claim()) << "free while the new process starts";
            return error;
        };
    };
    EXPECT_EQ(running.handOverTo(startWith(QStringLiteral("no program"))), QStringLiteral("no program"));
    EXPECT_TRUE(running.isClaimed()) << "it runs on, still the instance";
    EXPECT_TRUE(fs::is_socket(socket()));
    EXPECT_EQ(running.handOverTo(startWith(std::nullopt)), std::nullopt);
    EXPECT_FALSE(running.isClaimed());
}

}  // namespace
}  // namespace corvalent

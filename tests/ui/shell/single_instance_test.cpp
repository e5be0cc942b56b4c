// One running program per user, tried with real starts of the built program
// in a session of the test's own: its runtime, home and settings folders.
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

ino_t inode(const fs::path& file)
{
    struct stat info {};
    return ::stat(file.c_str(), &info) == 0 ? info.st_ino : 0;
}

// This process's soft limit on open descriptors, lowered to at most `soft`
// until the end of the scope.
class DescriptorLimit {
public:
    explicit DescriptorLimit(rlim_t soft)
    {
        ::getrlimit(RLIMIT_NOFILE, &saved_);
        auto lowered = saved_;
        lowered.rlim_cur = std::min(saved_.rlim_cur, soft);
        ::setrlimit(RLIMIT_NOFILE, &lowered);
    }
    ~DescriptorLimit() { ::setrlimit(RLIMIT_NOFILE, &saved_); }
    DescriptorLimit(const DescriptorLimit&) = delete;
    DescriptorLimit& operator=(const DescriptorLimit&) = delete;

private:
    rlimit saved_{};
};

// Every descriptor this process may still open, taken until the end of the scope.
class SpentDescriptors {
public:
    SpentDescriptors()
    {
        for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken_.push_back(fd);
        error_ = errno;
    }
    ~SpentDescriptors()
    {
        for (const int fd : taken_) ::close(fd);
    }
    SpentDescriptors(const SpentDescriptors&) = delete;
    SpentDescriptors& operator=(const SpentDescriptors&) = delete;

    // Why the next one could not be opened.
    int error() const { return error_; }

private:
    std::vector<int> taken_;
    int error_ = 0;
};

// The window minimized while the person works in `elsewhere`.
bool putAway(QWidget& window, QWidget& elsewhere)
{
    window.showMinimized();
    if (!QTest::qWaitFor([&] { return window.windowState().testFlag(Qt::WindowMinimized); }, 2'000)) return false;
    elsewhere.show();
    elsewhere.activateWindow();
    return QTest::qWaitFor([&] { return QApplication::activeWindow() == &elsewhere; }, 2'000);
}

// Shown, not minimized, and the active window.
bool broughtForward(QWidget& window)
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

// This process is the running instance; later starts are the built program.
TEST_F(SingleInstanceTest, ALaterStartBringsTheWindowForwardAndEndsWithoutOneOfItsOwn)
{
    Running running(folder());
    ASSERT_TRUE(running.windowPutAway());
    auto& window = running.app.mainWindow();

    const auto later = run();
    EXPECT_EQ(later.exitStatus, 0);
    EXPECT_EQ(later.output, "Corvalent is already running; its window was brought forward.\n");
    EXPECT_TRUE(broughtForward(window));
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

// A logout sends SIGTERM: the program quits as Quit does and lets go of the
// instance at once, also while one of its threads waits on a hung file
// system, so that the next login's start becomes the instance.
TEST_F(SingleInstanceTest, SigtermQuitsAndTheNextStartBecomesTheInstanceAtOnce)
{
    const auto quitsOnSigterm = [&](testing::ChildProcess& program) {
        ASSERT_TRUE(program.waitUntilCatching(SIGTERM, 60s));
        ::kill(program.pid(), SIGTERM);
        // The instance goes first, even where a thread cannot end yet.
        EXPECT_TRUE(QTest::qWaitFor([&] { return !fs::exists(socket()) && !holdsLock(program.pid(), lock()); }, 5'000));
        const auto status = program.waitFor(5s);
        ASSERT_TRUE(status.has_value()) << "still running 5 s after SIGTERM";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    };
    const auto startsAsTheInstance = [&] {
        auto next = start();
        const auto began = std::chrono::steady_clock::now();
        EXPECT_TRUE(becomesRunningInstance(*next));
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << "the lock and socket were free";
        return next;
    };
    quitsOnSigterm(*startsAsTheInstance());

    // On a fresh account the introduction checks access at once, which
    // stats the Documents folder: here a mount that hangs.
    fs::remove_all(config);
    testing::SlowTree tree;
    tree.slowStat = {"."};
    testing::SlowMount mount(home / "Documents", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    auto held = startsAsTheInstance();
    ASSERT_TRUE(mount.waitForSlowCalls(1, 30s)) << "no thread of the program reached the hung folder";
    quitsOnSigterm(*held);
    const auto next = startsAsTheInstance();
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

// At a desktop session's usual limit on open descriptors, more idle
// connections than this process may hold: the instance goes on listening,
// and a later start still brings its window forward.
TEST_F(SingleInstanceTest, IdleConnectionsBeyondTheDescriptorLimitLeaveTheInstanceReachable)
{
    const DescriptorLimit limit(1'024);
    Running running(folder());
    ASSERT_TRUE(running.windowPutAway());
    auto& window = running.app.mainWindow();

    QLocalSocket silent;
    silent.connectToServer(QString::fromStdString(socket().string()));
    ASSERT_TRUE(silent.waitForConnected(5'000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return silent.state() == QLocalSocket::UnconnectedState; }, 30'000))
        << "a connection that says nothing is let go";

    // Two holders, so that neither needs more than the limit itself.
    std::vector<std::unique_ptr<testing::ChildProcess>> holders;
    std::vector<fs::path> reports;
    for (const char* name : {"first", "second"}) {
        reports.push_back(root.path() / name);
        holders.push_back(std::make_unique<testing::ChildProcess>(
            testing::idleChildProgram(),
            std::vector<std::string>{"--connect", socket().string(), "550", reports.back()}, root.path()));
    }
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return std::ranges::all_of(reports, [](auto& r) { return fs::exists(r); }); }, 120'000));
    holders.clear();  // and with them their connections
    int made = 0;
    for (const auto& report : reports) {
        int count = 0;
        std::ifstream(report) >> count;
        made += count;
    }
    EXPECT_GT(made, 1'024) << "more callers than the instance may have descriptors";

    EXPECT_TRUE(fs::is_socket(socket())) << "still listening";
    EXPECT_EQ(run().exitStatus, 0);
    EXPECT_TRUE(broughtForward(window));
}

// The instance has no descriptor to spare when a later start calls: it
// answers once descriptors come free again.
TEST_F(SingleInstanceTest, AConnectionThatCannotBeTakenForWantOfDescriptorsIsTakenLater)
{
    SingleInstance instance(folder());
    ASSERT_TRUE(instance.claim());
    QSignalSpy shown(&instance, &SingleInstance::showRequested);
    ASSERT_EQ(run().exitStatus, 0) << "it answers while it has descriptors";
    const int client = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    ASSERT_GE(client, 0);
    {
        const DescriptorLimit limit(1'024);
        const SpentDescriptors spent;
        ASSERT_EQ(spent.error(), EMFILE);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        socket().string().copy(address.sun_path, sizeof(address.sun_path) - 1);
        ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
        ASSERT_EQ(::write(client, "show\n", 5), 5);
        // The instance's turn to take the connection comes, and it has no descriptor for it.
        for (int turn = 0; turn < 10; ++turn) QCoreApplication::processEvents();
        EXPECT_TRUE(fs::is_socket(socket())) << "still listening";
    }

    std::string answer;
    const auto answered = [&] {
        char bytes[64];
        const auto count = ::read(client, bytes, sizeof bytes);
        if (count > 0) answer.append(bytes, std::size_t(count));
        return count == 0 || (count < 0 && errno != EAGAIN) || answer.ends_with('\n');
    };
    EXPECT_TRUE(QTest::qWaitFor(answered, 30'000));
    EXPECT_EQ(answer, "shown\n");
    EXPECT_EQ(shown.count(), 2);
    ::close(client);
}

// The socket file removed from under the running instance, as a clean-up of
// the runtime folder may: it listens there again.
TEST_F(SingleInstanceTest, ASocketFileThatGoesIsMadeAgain)
{
    SingleInstance instance(folder());
    ASSERT_TRUE(instance.claim());
    ASSERT_TRUE(fs::remove(socket()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::is_socket(socket()); }, 30'000));
    QSignalSpy shown(&instance, &SingleInstance::showRequested);
    EXPECT_EQ(run().exitStatus, 0);
    EXPECT_EQ(shown.count(), 1);
}

// The lock file deleted under the running instance, as a clean-up of the
// runtime folder may: a start still hands over, before the instance's next
// check as after it, and the check locks a file at that path again.
TEST_F(SingleInstanceTest, ADeletedLockFileNeverMakesASecondInstance)
{
    {
        SingleInstance instance(folder(), 1h);
        ASSERT_TRUE(instance.claim());
        const auto listening = inode(socket());
        QSignalSpy shown(&instance, &SingleInstance::showRequested);
        ASSERT_TRUE(fs::remove(lock()));
        EXPECT_EQ(run().exitStatus, 0) << "the start finds the instance answering";
        EXPECT_EQ(shown.count(), 1);
        EXPECT_EQ(inode(socket()), listening) << "the socket stays the instance's";
    }
    SingleInstance instance(folder(), 50ms);
    ASSERT_TRUE(instance.claim());
    ASSERT_TRUE(fs::remove(lock()));
    EXPECT_TRUE(QTest::qWaitFor([&] { return holdsLock(::getpid(), lock()); }, 10'000));
    EXPECT_FALSE(SingleInstance(folder()).claim());
    EXPECT_EQ(run().exitStatus, 0);
}

// Two instances at once (the lock and the socket files both went, and a new
// one started): neither takes the socket the other answers on.
TEST_F(SingleInstanceTest, AnInstanceLeavesTheSocketAnotherLiveInstanceAnswersOn)
{
    SingleInstance first(folder(), 50ms);
    ASSERT_TRUE(first.claim());
    ASSERT_TRUE(fs::remove(lock()));
    ASSERT_TRUE(fs::remove(socket()));
    SingleInstance second(folder(), 50ms);
    ASSERT_TRUE(second.claim());
    const auto listening = inode(socket());
    QSignalSpy toFirst(&first, &SingleInstance::showRequested);
    QSignalSpy toSecond(&second, &SingleInstance::showRequested);
    // Ten checks of each: the instances' own repeating timers.
    std::vector<std::unique_ptr<QSignalSpy>> checks;
    for (auto* instance : {&first, &second})
        for (auto* timer : instance->findChildren<QTimer*>())
            if (!timer->isSingleShot()) checks.push_back(std::make_unique<QSignalSpy>(timer, &QTimer::timeout));
    ASSERT_EQ(checks.size(), 2U);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return std::ranges::all_of(checks, [](const auto& spy) { return spy->count() >= 10; }); }, 10'000));
    EXPECT_EQ(inode(socket()), listening);
    EXPECT_EQ(run().exitStatus, 0);
    EXPECT_EQ(toFirst.count(), 0);
    EXPECT_EQ(toSecond.count(), 1);
}

TEST_F(SingleInstanceTest, OnlyTheOwnerMayConnectWhateverTheUmask)
{
    const auto saved = ::umask(0);
    SingleInstance instance(folder());
    const bool claimed = instance.claim();
    ::umask(saved);
    ASSERT_TRUE(claimed);
    EXPECT_EQ(fs::status(socket()).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

QStringList warnings;

// Listening again fails for want of descriptors: the warning says so.
TEST_F(SingleInstanceTest, AFailureToListenIsToldWithItsCause)
{
    SingleInstance instance(folder(), 50ms);
    ASSERT_TRUE(instance.claim());
    // Once with descriptors to spare: the sanitizer's type check misreads a
    // first visit while none is free.
    ASSERT_TRUE(fs::remove(socket()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::is_socket(socket()); }, 10'000));
    warnings.clear();
    const auto previous = qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString& text) { warnings.append(text); });
    ASSERT_TRUE(fs::remove(socket()));
    {
        const DescriptorLimit limit(1'024);
        const SpentDescriptors spent;
        ASSERT_EQ(spent.error(), EMFILE);
        const bool told = QTest::qWaitFor([] { return !warnings.isEmpty(); }, 10'000);
        qInstallMessageHandler(previous);
        ASSERT_TRUE(told);
    }
    EXPECT_TRUE(warnings.front().endsWith("Too many open files")) << warnings.front().toStdString();
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

// One running program per user, tried with real starts of the built program
// in a session of the test's own: its runtime, home and settings folders.
#include "single_instance_fixture.h"

#include <sys/mount.h>

#include <QEventLoop>

#include <atomic>
#include <condition_variable>
#include <iterator>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

#include "models/background_task.h"

namespace corvalent {
namespace {

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

// A logout sends SIGTERM, Ctrl+C in the terminal SIGINT, a closed terminal
// SIGHUP: the program quits as Quit does and lets go of the instance at
// once, also while one of its threads waits on a mount that never answers,
// so that the next start becomes the instance.
class QuitSignalTest : public SingleInstanceTest, public ::testing::WithParamInterface<int> {};

TEST_P(QuitSignalTest, QuitsAndTheNextStartBecomesTheInstanceAtOnce)
{
    const int signal = GetParam();
    const auto startsAsTheInstance = [&] {
        auto next = start();
        const auto began = std::chrono::steady_clock::now();
        EXPECT_TRUE(becomesRunningInstance(*next));
        EXPECT_LT(std::chrono::steady_clock::now() - began, 5s) << "the lock and socket were free";
        return next;
    };
    // Sends the signal; true once the lock and socket are free.
    const auto letsGoOnSignal = [&](testing::ChildProcess& program) {
        EXPECT_TRUE(program.waitUntilCatching(signal, 60s)) << strsignal(signal) << " keeps its default action";
        ::kill(program.pid(), signal);
        return QTest::qWaitFor([&] { return !fs::exists(socket()) && !holdsLock(program.pid(), lock()); }, 5'000);
    };
    const auto endsWithStatusZero = [&](testing::ChildProcess& program) {
        const auto status = program.waitFor(5s);
        ASSERT_TRUE(status.has_value()) << "still running 5 s after " << strsignal(signal);
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    };
    {
        auto idle = startsAsTheInstance();
        EXPECT_TRUE(letsGoOnSignal(*idle));
        endsWithStatusZero(*idle);
    }

    // On a fresh account the introduction checks access at once, which
    // stats the Documents folder: here a mount that never answers, so the
    // thread that asks can never end while it is mounted.
    // The programs are declared first: the mount goes before they are waited for.
    std::unique_ptr<testing::ChildProcess> held, next;
    fs::remove_all(config);
    testing::SlowTree tree;
    tree.slowStat = {"."};
    tree.neverAnswers = true;
    testing::SlowMount mount(home / "Documents", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    held = startsAsTheInstance();
    ASSERT_TRUE(mount.waitForSlowCalls(1, 30s)) << "no thread of the program reached the hung folder";
    // The instance goes first, while the thread still waits.
    EXPECT_TRUE(letsGoOnSignal(*held)) << "the lock or socket is still held";
    next = startsAsTheInstance();
    mount.unmount();
    endsWithStatusZero(*held);
    EXPECT_TRUE(next->running());
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignalTest, ::testing::Values(SIGTERM, SIGINT, SIGHUP),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(sigabbrev_np(info.param));
                         });

// The test program's account home is a tmpfs of its own: it runs in a
// mount namespace of its own.
bool homeSetAside()
{
    std::ifstream table("/proc/self/mountinfo");
    for (std::string line; std::getline(table, line);)
        if (line.find(" - tmpfs corvalent-test-home ") != std::string::npos) return true;
    return false;
}

// XDG_RUNTIME_DIR names a folder whose parent is missing: every start finds
// the same lock, whatever its temporary folder, and a later one hands over.
TEST_F(SingleInstanceTest, StartsWithoutAUsableRuntimeFolderFindTheSameLock)
{
    runtime = root.path() / "missing" / "run";
    const auto folder = [&] {
        const testing::ScopedVariable given("XDG_RUNTIME_DIR", runtime.string());
        return fs::path(SingleInstance::runtimeFolder().toStdString());
    }();
    ASSERT_TRUE(folder.is_absolute()) << folder;
    EXPECT_FALSE(fs::exists(runtime.parent_path())) << "no folders made above the runtime folder";
    // That folder is the machine's, one per user: in a mount namespace of
    // this test's own, it and its starts get an empty one.
    struct Unmount {
        fs::path path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    };
    std::optional<Unmount> ownFolder;
    if (homeSetAside() &&
        ::mount("corvalent-test-runtime", folder.c_str(), "tmpfs", MS_NOSUID | MS_NODEV, "mode=0700") == 0)
        ownFolder.emplace(folder);
    for (const auto* temp : {"a", "b"}) fs::create_directories(root.path() / temp);
    std::unique_ptr<testing::ChildProcess> first;
    {
        const testing::ScopedVariable temp("TMPDIR", (root.path() / "a").string());
        first = start();
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return holdsLock(first->pid(), folder / "corvalent.lock") && fs::exists(folder / "corvalent.socket"); },
        60'000));

    const testing::ScopedVariable temp("TMPDIR", (root.path() / "b").string());
    runtime = root.path() / "also missing" / "run";
    const auto later = run();
    EXPECT_EQ(later.exitStatus, 0);
    EXPECT_EQ(later.output, "Corvalent is already running; its window was brought forward.\n");
    EXPECT_TRUE(first->running());
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

// Quit & Reopen as the application makes it: the instance is let go before
// the new process starts, and the quit ends the event loop as Quit does,
// without waiting for a job that still runs in a lane.
TEST_F(SingleInstanceTest, ReopenLetsTheInstanceGoFirstAndQuitsWithoutWaitingForALane)
{
    Running running(folder());
    ASSERT_EQ(running.instance.start(), SingleInstance::Start::first);
    running.app.answerLaterStarts(running.instance);
    const auto environment = running.app.accessCardEnvironment();

    // The new process says whether the lock was free when it started.
    const testing::TempDir dir;
    const auto report = dir.path() / "report";
    const auto program = testing::writeScript(
        dir.path(), "reopened",
        "if flock -n '" + lock().string() + "' true; then echo free; else echo held; fi > '" + report.string() +
            ".part'\nmv '" + report.string() + ".part' '" + report.string() + "'\n");
    EXPECT_EQ(environment.relaunch(program.string()), std::nullopt);
    ASSERT_TRUE(testing::eventually([&] { return fs::exists(report); }, 30s));
    std::ifstream said(report);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(said), {}), "free\n");
    EXPECT_FALSE(running.instance.isClaimed());

    // A job held in a lane until the guard lets it go, long after any quit.
    auto held = std::make_shared<std::atomic<bool>>(true);
    const auto job = BackgroundTask::start(
        &running.app, [held](std::stop_token) { held->wait(true); return 0; }, [](int) {}, {.ownThread = true});
    std::jthread guard([held](std::stop_token stop) {
        std::mutex mutex;
        std::condition_variable_any ended;
        std::unique_lock lock(mutex);
        ended.wait_for(lock, stop, 20s, [] { return false; });
        *held = false;
        held->notify_all();
    });
    QEventLoop loop;
    QTimer::singleShot(0, &loop, [&environment] { environment.exitProcess(); });
    loop.exec();
    EXPECT_TRUE(held->load()) << "the quit waited for the lane";
    guard.request_stop();
}

}  // namespace
}  // namespace corvalent

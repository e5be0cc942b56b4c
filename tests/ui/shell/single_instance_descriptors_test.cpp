// The instance at a desktop session's limit on open descriptors.
#include "single_instance_fixture.h"

namespace corvalent {
namespace {


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

}  // namespace
}  // namespace corvalent

// The program as a person starts it: the built binary with its flags.
#include <QSettings>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <map>
#include <regex>

#include "core/common/child_process.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

// Children never run on the GUI thread, in tests as in the program.
ChildRunResult runAside(const ChildRunRequest& request)
{
    return std::async(std::launch::async, [&request] { return runChild(request); }).get();
}

// Runs the program in `folder` with the environment the test has set.
ChildRunResult runProgram(const std::vector<std::string>& arguments, const fs::path& folder,
                          std::chrono::seconds limit = std::chrono::seconds(60))
{
    const auto previous = fs::current_path();
    fs::current_path(folder);
    ChildRunRequest request;
    request.executable = CORVALENT_APP;
    request.arguments = arguments;
    request.deadline = limit;
    request.outputCap = 1 << 20;
    auto result = runAside(request);
    fs::current_path(previous);
    return result;
}

// The keys of a flat JSON object, in the order written, with their raw values.
std::vector<std::pair<std::string, std::string>> entries(const std::string& json)
{
    std::vector<std::pair<std::string, std::string>> found;
    const std::regex line("\n  \"([a-z0-9_]+)\" : ([^\n]*?),?(?=\n)");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), line); it != std::sregex_iterator(); ++it)
        found.emplace_back((*it)[1], (*it)[2]);
    return found;
}

// An X display number that nobody serves, held while this lives: its
// abstract socket name is bound here and never listened on, so a connection
// is refused and no X server can start on that number meanwhile. Below 99,
// where xvfb-run -a begins its own search.
class UnservedDisplay {
public:
    UnservedDisplay()
    {
        for (int number = 77; number < 99 && fd_ < 0; ++number) {
            const auto name = "/tmp/.X11-unix/X" + std::to_string(number);
            if (fs::exists(name) || fs::exists("/tmp/.X" + std::to_string(number) + "-lock")) continue;
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            name.copy(address.sun_path + 1, sizeof(address.sun_path) - 2);  // abstract: a leading NUL
            const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0) {
                fd_ = fd;
                number_ = number;
            } else if (fd >= 0) {
                ::close(fd);
            }
        }
    }
    ~UnservedDisplay()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    UnservedDisplay(const UnservedDisplay&) = delete;
    UnservedDisplay& operator=(const UnservedDisplay&) = delete;

    bool held() const { return fd_ >= 0; }
    std::string name() const { return ":" + std::to_string(number_); }

private:
    int fd_ = -1;
    int number_ = -1;
};

// A clean environment: no display, a temp home and settings folder.
class ProgramTest : public ::testing::Test {
protected:
    testing::TempDir root;
    fs::path home = root.path() / "home";
    fs::path config = root.path() / "config";
    std::map<std::string, std::optional<std::string>> saved;

    void set(const char* name, std::optional<std::string> value)
    {
        const char* old = std::getenv(name);
        if (!saved.count(name)) saved[name] = old ? std::optional<std::string>(old) : std::nullopt;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    void SetUp() override
    {
        fs::create_directories(home);
        set("HOME", home.string());
        set("XDG_CONFIG_HOME", config.string());
        set("DISPLAY", std::nullopt);
        set("WAYLAND_DISPLAY", std::nullopt);
        set("QT_QPA_PLATFORM", std::nullopt);
    }
    void TearDown() override
    {
        for (const auto& [name, value] : saved) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }
    QSettings storedSettings() const
    {
        return QSettings(QString::fromStdString((config / "Corvalent" / "Corvalent.conf").string()),
                         QSettings::IniFormat);
    }
};

TEST_F(ProgramTest, AccessCheckAnswersThroughItsExitStatusOnly)
{
    const auto granted = runProgram({"--other", "--full-disk-access-check"}, root.path());
    EXPECT_EQ(granted.exitStatus, 0) << "the home folder itself opens";
    EXPECT_EQ(granted.output, "");
    EXPECT_FALSE(fs::exists(config)) << "the check creates no settings";
    set("HOME", (root.path() / "gone").string());
    EXPECT_EQ(runProgram({"--full-disk-access-check"}, root.path()).exitStatus, 3) << "nothing to open";
}

// Permissions do not bind root, so as root the program runs as "nobody".
TEST_F(ProgramTest, AccessCheckAnswersDeniedWhenPermissionsRefuseReading)
{
    const bool asRoot = ::geteuid() == 0;
    if (asRoot && !fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "setpriv is needed to drop root";
    const auto program = testing::copyExecutable(CORVALENT_APP, root.path(), "corvalent");
    const auto documents = home / "Documents";
    fs::create_directory(documents);
    for (const auto& path : {root.path(), program, home}) fs::permissions(path, fs::perms(0755));
    fs::permissions(documents, asRoot ? fs::perms::owner_all : fs::perms::none);
    if (!asRoot && ::access(documents.c_str(), R_OK) == 0) GTEST_SKIP() << "permissions do not bind this account";
    const auto check = [&] {
        ChildRunRequest request;
        request.executable = asRoot ? "/usr/bin/setpriv" : program.string();
        request.arguments = {"--full-disk-access-check"};
        if (asRoot)
            request.arguments.insert(request.arguments.begin(),
                                     {"--reuid=65534", "--regid=65534", "--clear-groups", program.string()});
        request.deadline = std::chrono::seconds(60);
        return runAside(request).exitStatus;
    };
    EXPECT_EQ(check(), 0) << "a refused Documents folder, but the home folder opens";
    fs::permissions(home, fs::perms(asRoot ? 0711 : 0111));
    EXPECT_EQ(check(), 2);
}

TEST_F(ProgramTest, DiskMeasurementReportsTheCurrentFolder)
{
    const auto tree = root.path() / "tree";
    for (const char* folder : {"a", "b/c", "d"}) fs::create_directories(tree / folder);
    const std::map<std::string, std::size_t> files{
        {"top.bin", 10'000}, {"a/x", 5'000}, {"b/c/y", 70'000}, {"b/z", 1}, {"d/w", 300'000}};
    std::uint64_t bytes = 0;
    for (const auto& [name, size] : files) {
        std::ofstream(tree / name) << std::string(size, 'x');
        bytes += testing::allocatedBytes(tree / name);
    }
    // The flag with a suffix is not the access check: the program starts and measures.
    const auto run = runProgram({"--full-disk-access-checkx", "--disk-performance-check"}, tree);
    ASSERT_EQ(run.exitStatus, 0);
    EXPECT_FALSE(run.output.ends_with("\n"));
    const auto report = entries(run.output);
    std::vector<std::string> keys;
    for (const auto& [key, value] : report) keys.push_back(key);
    EXPECT_EQ(keys, (std::vector<std::string>{"disk_attributed_bytes", "disk_attributed_files",
                                              "disk_inaccessible_entries", "disk_measured_bytes", "disk_root_children",
                                              "disk_root_path", "disk_scan_duration_ms", "disk_scanned_entries"}));
    std::map<std::string, std::string> values(report.begin(), report.end());
    EXPECT_EQ(values["disk_scanned_entries"], std::to_string(1 + 4 + files.size())) << "root, four folders, files";
    EXPECT_EQ(values["disk_measured_bytes"], std::to_string(bytes));
    EXPECT_EQ(values["disk_root_children"], "4") << "three folders and the files directly in it";
    auto escaped = fs::canonical(tree).string();
    escaped = std::regex_replace(escaped, std::regex("/"), "\\/");
    EXPECT_EQ(values["disk_root_path"], "\"" + escaped + "\"");
    EXPECT_EQ(values["disk_attributed_bytes"], std::to_string(bytes)) << "the fixture owner works in the folder";

    // The first start stored the signing identity and reset both access preferences.
    auto stored = storedSettings();
    EXPECT_FALSE(stored.value("fullDiskAccessSigningIdentity").toString().isEmpty());
    EXPECT_FALSE(stored.value("includePrivacyProtectedLocations", true).toBool());
    EXPECT_FALSE(stored.value("hasSeenFullDiskAccessIntroduction", true).toBool());
    stored.setValue("hasSeenFullDiskAccessIntroduction", true);
    stored.sync();
    ASSERT_EQ(runProgram({"--disk-performance-check"}, tree).exitStatus, 0);
    EXPECT_TRUE(storedSettings().value("hasSeenFullDiskAccessIntroduction").toBool()) << "a later start keeps it";
}

// A share mounted in the folder no longer answers (its stat never returns),
// and it is the home's Documents: the measurement of the home, which leaves
// the protected folders out, counts its mount point without asking it, and
// prints.
TEST_F(ProgramTest, DiskMeasurementEndsBesideAMountThatNoLongerAnswers)
{
    testing::writeFile(home / "file", 4'096);
    testing::SlowTree slow;
    slow.folders = {"inside"};
    slow.slowStat = {"."};
    slow.neverAnswers = true;
    testing::SlowMount mount(home / "Documents", slow);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    const auto run = runProgram({"--disk-performance-check"}, home, std::chrono::seconds(20));
    ASSERT_FALSE(run.timedOut) << "no report within 20 s";
    ASSERT_EQ(run.exitStatus, 0);
    std::map<std::string, std::string> values;
    for (const auto& [key, value] : entries(run.output)) values[key] = value;
    EXPECT_EQ(values["disk_scanned_entries"], "3") << "the home, its file and the mount point";
    EXPECT_EQ(values["disk_inaccessible_entries"], "0");
    EXPECT_EQ(mount.slowCallsBegun(), 0U);
}

// Started over SSH or as a service, with no display: one line says so, and
// the program ends with status 1 (not an abort inside Qt). The same where
// X11 is asked for by name.
TEST_F(ProgramTest, WithoutADisplayItSaysSoInOneLineAndEnds)
{
    set("XDG_RUNTIME_DIR", root.path().string());
    const auto expectNoDisplay = [&](const std::string& what) {
        ChildRunRequest request;
        request.executable = "/bin/sh";  // the runner drops what the program writes to stderr
        request.arguments = {"-c", "exec \"$0\" 2>&1", CORVALENT_APP};
        request.deadline = std::chrono::seconds(60);
        request.outputCap = 1 << 16;
        const auto run = runAside(request);
        EXPECT_EQ(run.exitStatus, 1) << what;
        EXPECT_EQ(run.output, "Corvalent: there is no display to show its window on.\n") << what;
    };
    for (const auto& platform : {std::optional<std::string>(), std::optional<std::string>("xcb")}) {
        set("QT_QPA_PLATFORM", platform);
        expectNoDisplay(platform.value_or("no platform"));
    }
    // A display that is named but does not answer is none either: an X server
    // that is gone, and the socket file a compositor left when it died.
    set("QT_QPA_PLATFORM", std::nullopt);
    const UnservedDisplay gone;
    ASSERT_TRUE(gone.held()) << "no free display number";
    set("DISPLAY", gone.name());
    set("WAYLAND_DISPLAY", std::string("wayland-77"));
    expectNoDisplay("a display that is gone");
    set("DISPLAY", std::nullopt);
    {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        const auto socketPath = (root.path() / "wayland-77").string();
        socketPath.copy(address.sun_path, sizeof(address.sun_path) - 1);
        ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
        ::close(fd);
        ASSERT_TRUE(fs::is_socket(socketPath));
    }
    expectNoDisplay("a compositor's socket that nobody listens on");
    EXPECT_FALSE(fs::exists(root.path() / "corvalent.lock")) << "it ended before it took the instance";
}

// Twelve seconds of measurement: the slow one.
TEST_F(ProgramTest, SlowProcessMeasurementRunsItsTwelveSeconds)
{
    const auto run = runProgram({"--performance-check"}, root.path());
    ASSERT_EQ(run.exitStatus, 0);
    std::map<std::string, std::string> values;
    for (const auto& [key, value] : entries(run.output)) values[key] = value;
    ASSERT_EQ(values.size(), 5U) << run.output;
    EXPECT_EQ(values["fixture_processes"], "2000");
    EXPECT_GT(std::stoi(values["heartbeat_samples"]), 100);
    EXPECT_LE(std::stod(values["main_actor_delay_p95_ms"]), std::stod(values["main_actor_delay_max_ms"]));
    EXPECT_GT(std::stod(values["snapshot_preparation_ms"]), 0.0);
}

}  // namespace
}  // namespace corvalent

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "core/child_process.h"
#include "core/impact_port_probe.h"
#include "core/processes.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using ImpactPortProbe::PortMap;
using std::chrono::milliseconds;

fs::path writeScript(const fs::path& folder, const std::string& name, const std::string& body)
{
    const auto path = folder / name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

std::string readText(const fs::path& file)
{
    std::ifstream stream(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
}

// The idle child program copied under the home folder, listening on a free
// port of 127.0.0.1.
class Listener {
public:
    explicit Listener(const std::string& name)
        : program_(testing::copyExecutable(testing::idleChildProgram(), home_.path(), name)),
          process_(program_, {"--listen", (home_.path() / "port").string()}, home_.path())
    {
        const auto portFile = home_.path() / "port";
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(portFile) && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(milliseconds(5));
        std::ifstream(portFile) >> port_;
    }

    pid_t pid() const { return process_.pid(); }
    int port() const { return port_; }
    const fs::path& program() const { return program_; }

private:
    testing::TempDir home_ = testing::tempDirUnderHome();
    fs::path program_;
    testing::ChildProcess process_;
    int port_ = 0;
};

// An idle child and its current record.
struct IdleProcess {
    testing::TempDir folder;
    testing::ChildProcess process{testing::idleChildProgram(), {}, folder.path()};
    std::optional<ProcessRecord> record = Scanner::read(process.pid());
};

std::vector<int> portsOf(const std::string& address)
{
    const auto ports = ImpactPortProbe::parse("p1\nn" + address + "\n");
    return ports.empty() ? std::vector<int>{} : ports.at(1);
}

TEST(ImpactPortProbe, FindsThePortsOnWhichUserProcessesListen)
{
    const Listener first("corvalent-listener");
    const Listener second("corvalent-server");
    const IdleProcess quiet;
    ASSERT_GT(first.port(), 0);
    ASSERT_GT(second.port(), 0);
    ASSERT_TRUE(quiet.record);
    const auto firstRecord = Scanner::read(first.pid());
    const auto secondRecord = Scanner::read(second.pid());
    ASSERT_TRUE(firstRecord && secondRecord);
    EXPECT_EQ(firstRecord->path, first.program().string());

    EXPECT_EQ(ImpactPortProbe::listeningPorts({*firstRecord}), (PortMap{{first.pid(), {first.port()}}}));
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*secondRecord, *quiet.record, *firstRecord}),
              (PortMap{{first.pid(), {first.port()}}, {second.pid(), {second.port()}}}));

    // ss reads the kernel's socket table by another way.
    fs::path ss;
    for (const char* candidate : {"/usr/bin/ss", "/bin/ss", "/usr/sbin/ss", "/sbin/ss"})
        if (fs::exists(candidate)) {
            ss = candidate;
            break;
        }
    ASSERT_FALSE(ss.empty()) << "ss (iproute2) is needed";
    ChildRunRequest listing;
    listing.executable = ss.string();
    listing.arguments = {"-ltnp"};
    listing.deadline = milliseconds(10'000);
    const auto table = runChild(listing);
    ASSERT_EQ(table.exitStatus, 0);
    std::istringstream lines(table.output);
    bool seen = false;
    for (std::string line; std::getline(lines, line);)
        seen = seen || (line.find("127.0.0.1:" + std::to_string(first.port()) + " ") != std::string::npos &&
                        line.find("pid=" + std::to_string(first.pid()) + ",") != std::string::npos);
    EXPECT_TRUE(seen) << table.output;
}

TEST(ImpactPortProbe, AsksOnlyAboutTheFirstRecordsThatAreStillTheSameProcess)
{
    const testing::TempDir folder;
    const auto marker = folder.path() / "asked";
    // Writes down how it was asked, then answers for that pid with port 9.
    const auto tool = writeScript(folder.path(), "lsof",
                                  "echo \"$*\" >> '" + marker.string() +
                                      "'\n"
                                      "printf 'p%s\\nn*:9\\n' \"$4\"\n");
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);
    const auto& current = *idle.record;
    auto restarted = current;
    restarted.started += 1;
    auto moved = current;
    moved.path += ".old";
    std::optional<ProcessRecord> gone;
    {
        const IdleProcess ended;
        gone = ended.record;
    }
    ASSERT_TRUE(gone);

    EXPECT_EQ(ImpactPortProbe::listeningPorts({restarted, moved, *gone}, tool), PortMap{});
    EXPECT_FALSE(fs::exists(marker)) << "nothing retained: the tool is not started";

    std::vector<ProcessRecord> thirteen(12, restarted);
    thirteen.push_back(current);
    EXPECT_EQ(ImpactPortProbe::listeningPorts(thirteen, tool), PortMap{});
    EXPECT_FALSE(fs::exists(marker)) << "only the first 12 records count";

    const auto pid = std::to_string(current.pid);
    EXPECT_EQ(ImpactPortProbe::listeningPorts({restarted, moved, current, *gone}, tool), (PortMap{{current.pid, {9}}}));
    EXPECT_EQ(readText(marker), "-nP -a -p " + pid + " -iTCP -sTCP:LISTEN -Fpn\n");

    const IdleProcess other;
    ASSERT_TRUE(other.record);
    fs::remove(marker);
    ImpactPortProbe::listeningPorts({current, *gone, *other.record}, tool);
    EXPECT_EQ(readText(marker),
              "-nP -a -p " + pid + "," + std::to_string(other.record->pid) + " -iTCP -sTCP:LISTEN -Fpn\n");
}

TEST(ImpactPortProbe, ToolThatCannotStartGivesNoPorts)
{
    const testing::TempDir folder;
    std::ofstream(folder.path() / "lsof") << "#!/bin/sh\nprintf 'p1\\nn*:80\\n'\n";  // not executable
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);
    for (const auto& tool : {fs::path("/nonexistent/lsof"), folder.path() / "lsof", folder.path()})
        EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, tool), PortMap{}) << tool;
}

TEST(ImpactPortProbe, ToolIgnoringTermIsCutOffAndReadUpToItsLastCompleteLine)
{
    const testing::TempDir folder;
    const auto dir = folder.path().string();
    const auto tool = writeScript(folder.path(), "lsof",
                                  "trap '' TERM\n"
                                  "sleep 30 &\n"
                                  "echo $! > '" +
                                      dir +
                                      "/grandchild'\n"
                                      "echo $$ > '" +
                                      dir +
                                      "/child'\n"
                                      "printf 'p%s\\nn*:443\\nn*:80' \"$4\"\n"
                                      "exec sleep 30\n");
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);

    const auto begin = std::chrono::steady_clock::now();
    const auto ports = ImpactPortProbe::listeningPorts({*idle.record}, tool);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    int grandchild = 0;
    std::ifstream(folder.path() / "grandchild") >> grandchild;
    if (grandchild > 0) ::kill(grandchild, SIGKILL);

    EXPECT_LT(elapsed, milliseconds(2'500));
    EXPECT_EQ(ports, (PortMap{{idle.record->pid, {443}}})) << "\"n*:80\" may be part of a longer line";
    int child = 0;
    std::ifstream(folder.path() / "child") >> child;
    ASSERT_GT(child, 0);
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, WNOHANG), -1) << "the tool was reaped";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ImpactPortProbe, OverflowingOutputIsReadUpToItsLastCompleteLine)
{
    const testing::TempDir folder;
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);

    // The cap falls inside "n*:8080", right after "n*:80".
    constexpr std::size_t cap = 65'536;
    std::string output = "p" + std::to_string(idle.record->pid) + "\nn*:443\n";
    const std::size_t fill = cap - output.size() - std::string("n*:80").size();
    output += "f" + std::string(fill - 2, 'x') + "\n";
    output += "n*:8080\n";
    while (output.size() < 3 * cap) output += "n*:22\n";
    ASSERT_EQ(output.substr(cap - 5, 5), "n*:80");
    ASSERT_EQ(ImpactPortProbe::parse(output.substr(0, cap)), (PortMap{{idle.record->pid, {80, 443}}}));

    const auto data = folder.path() / "output";
    std::ofstream(data, std::ios::binary) << output;
    const auto tool = writeScript(folder.path(), "lsof", "exec cat '" + data.string() + "'\n");
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, tool), (PortMap{{idle.record->pid, {443}}}));
}

TEST(ImpactPortProbe, OutputMustBeUtf8)
{
    const testing::TempDir folder;
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);
    const auto invalid = writeScript(folder.path(), "invalid", "printf 'p%s\\nn*:80\\n\\377\\n' \"$4\"\n");
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, invalid), PortMap{});
    const auto cutSequence = writeScript(folder.path(), "cut", "printf 'p%s\\nn*:80\\n\\342\\200' \"$4\"\n");
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, cutSequence), PortMap{});

    // NEL and LINE SEPARATOR are valid UTF-8 line breaks.
    const auto unusual =
        writeScript(folder.path(), "unusual", "printf 'p%s\\302\\205n*:80\\342\\200\\250n*:81\\n' \"$4\"\n");
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, unusual), (PortMap{{idle.record->pid, {80, 81}}}));
}

TEST(ImpactPortProbe, ParsesTheFieldStream)
{
    EXPECT_EQ(ImpactPortProbe::parse("p412\nf5\nn*:80\nf6\nn127.0.0.1:80\np977\nn[::1]:443\n"),
              (PortMap{{412, {80}}, {977, {443}}}));
    EXPECT_EQ(ImpactPortProbe::parse("p5\nn*:9000\nn*:22\nn*:9000\np6\nf3\np5\nn*:1"), (PortMap{{5, {1, 22, 9000}}}))
        << "ascending, distinct, a pid without ports is left out";
    EXPECT_EQ(ImpactPortProbe::parse(""), PortMap{});
    EXPECT_EQ(ImpactPortProbe::parse("\n\n"), PortMap{});
}

TEST(ImpactPortProbe, ParsesThePortAfterTheLastColon)
{
    EXPECT_EQ(portsOf("*:80"), std::vector<int>{80});
    EXPECT_EQ(portsOf("127.0.0.1:631"), std::vector<int>{631});
    EXPECT_EQ(portsOf("[::1]:443"), std::vector<int>{443});
    EXPECT_EQ(portsOf("[fe80::1%eth0]:22"), std::vector<int>{22});
    EXPECT_EQ(portsOf("*:1"), std::vector<int>{1});
    EXPECT_EQ(portsOf("*:65535"), std::vector<int>{65535});
    for (const char* ignored : {"*:*", "*:0", "*:65536", "*:4294967376", "*:http", "*:", "80", "", "*:-1", "*:+80",
                                "*: 80", "*:80 ", "*:80x", "*:0x50", "*:8.0"})
        EXPECT_EQ(portsOf(ignored), std::vector<int>{}) << '"' << ignored << '"';
}

TEST(ImpactPortProbe, PortsBelongToTheLastValidPidLine)
{
    EXPECT_EQ(ImpactPortProbe::parse("n*:80\np7\nn*:81\n"), (PortMap{{7, {81}}})) << "no pid yet";
    for (const char* unreadable : {"p", "pabc", "p12x", "p 12", "p2147483648"})
        EXPECT_EQ(ImpactPortProbe::parse("p7\nn*:81\n" + std::string(unreadable) + "\nn*:82\nc" + "x\nn*:83\n"),
                  (PortMap{{7, {81}}}))
            << unreadable;
    EXPECT_EQ(ImpactPortProbe::parse("p2147483647\nn*:1\n"), (PortMap{{2147483647, {1}}}));
    EXPECT_EQ(ImpactPortProbe::parse("p7\ncsleep\nf3\ntIPv4\nn*:81\n"), (PortMap{{7, {81}}}))
        << "other fields keep the pid";
}

TEST(ImpactPortProbe, SplitsLinesAtEveryLineBreak)
{
    const std::string output = "p1\vn*:1\fn*:2\rn*:3\r\nn*:4\xC2\x85n*:5\xE2\x80\xA8n*:6\xE2\x80\xA9n*:7\n\n\r\rn*:8";
    EXPECT_EQ(ImpactPortProbe::parse(output), (PortMap{{1, {1, 2, 3, 4, 5, 6, 7, 8}}}));
    // Look-alikes of NEL and LINE SEPARATOR do not break a line: the pid stays unreadable.
    EXPECT_EQ(ImpactPortProbe::parse("p1\xC2\x86n*:5\n"), PortMap{});
    EXPECT_EQ(ImpactPortProbe::parse("p1\xE2\x80\xAAn*:5\n"), PortMap{});
    EXPECT_EQ(ImpactPortProbe::parse("p1\xC2n*:5\n"), PortMap{});
}

}  // namespace
}  // namespace corvalent

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <fstream>
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

// The idle child program copied under the home folder, listening on a free port of 127.0.0.1.
struct Listener {
    explicit Listener(const std::string& name)
        : process(testing::copyExecutable(testing::idleChildProgram(), home.path(), name),
                  {"--listen", (home.path() / "port").string()}, home.path())
    {
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!fs::exists(home.path() / "port") && std::chrono::steady_clock::now() < giveUp)
            std::this_thread::sleep_for(milliseconds(5));
        std::ifstream(home.path() / "port") >> port;
    }
    testing::TempDir home = testing::tempDirUnderHome();
    testing::ChildProcess process;
    int port = 0;
};

// An idle child and its current record.
struct IdleProcess {
    testing::TempDir folder;
    testing::ChildProcess process{testing::idleChildProgram(), {}, folder.path()};
    std::optional<ProcessRecord> record = Scanner::read(process.pid());
};

TEST(ImpactPortProbe, FindsThePortsOnWhichUserProcessesListen)
{
    const Listener first("corvalent-listener"), second("corvalent-server");
    const IdleProcess quiet;
    const auto firstRecord = Scanner::read(first.process.pid()), secondRecord = Scanner::read(second.process.pid());
    ASSERT_TRUE(first.port > 0 && second.port > 0 && quiet.record && firstRecord && secondRecord);
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*firstRecord}), (PortMap{{first.process.pid(), {first.port}}}));
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*secondRecord, *quiet.record, *firstRecord}),
              (PortMap{{first.process.pid(), {first.port}}, {second.process.pid(), {second.port}}}));
    // The kernel's own socket table, read by another tool, agrees.
    ChildRunRequest ss;
    ss.executable = "/usr/bin/ss";
    ss.arguments = {"-ltnpH"};
    const auto table = runChild(ss);
    if (!table.launched) GTEST_SKIP() << "ss is not installed";
    const auto row = "127.0.0.1:" + std::to_string(first.port) + " ";
    EXPECT_NE(table.output.find(row), std::string::npos) << table.output;
    EXPECT_NE(table.output.find("pid=" + std::to_string(first.process.pid()) + ","), std::string::npos);
}

TEST(ImpactPortProbe, AsksOnlyAboutTheFirstRecordsThatAreStillTheSameProcess)
{
    const testing::TempDir folder;
    const auto asked = folder.path() / "asked";
    // Writes down how it was asked, then answers port 9 for every pid asked about.
    const auto tool =
        writeScript(folder.path(), "lsof",
                    "echo \"$*\" >> '" + asked.string() + "'\nprintf 'p%s\\nn*:9\\n' $(echo \"$4\" | tr , ' ')\n");
    const IdleProcess idle, other;
    const auto gone = IdleProcess().record;
    ASSERT_TRUE(idle.record && other.record && gone);
    const auto& current = *idle.record;
    auto restarted = current, moved = current;
    restarted.started += 1;
    moved.path += ".old";

    // Nothing retained, or only past the first 12 records: the tool is not started.
    EXPECT_EQ(ImpactPortProbe::listeningPorts({restarted, moved, *gone}, tool), PortMap{});
    std::vector<ProcessRecord> thirteen(12, restarted);
    thirteen.push_back(current);
    EXPECT_EQ(ImpactPortProbe::listeningPorts(thirteen, tool), PortMap{});
    EXPECT_FALSE(fs::exists(asked));

    EXPECT_EQ(ImpactPortProbe::listeningPorts({restarted, current, moved, *gone, *other.record}, tool),
              (PortMap{{current.pid, {9}}, {other.record->pid, {9}}}));
    std::string line;
    std::getline(std::ifstream(asked), line, '\0');
    EXPECT_EQ(line, "-nP -a -p " + std::to_string(current.pid) + "," + std::to_string(other.record->pid) +
                        " -iTCP -sTCP:LISTEN -Fpn\n");
}

TEST(ImpactPortProbe, ToolIgnoringTermIsCutOffReapedAndReadUpToItsLastCompleteLine)
{
    const testing::TempDir folder;
    const auto dir = folder.path().string();
    const auto tool = writeScript(folder.path(), "lsof",
                                  "trap '' TERM\nsleep 30 &\necho $! > '" + dir + "/grandchild'\necho $$ > '" + dir +
                                      "/child'\nprintf 'p%s\\nn*:443\\nn*:80' \"$4\"\nexec sleep 30\n");
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);
    const auto begin = std::chrono::steady_clock::now();
    const auto ports = ImpactPortProbe::listeningPorts({*idle.record}, tool);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    int grandchild = 0, child = 0;
    std::ifstream(folder.path() / "grandchild") >> grandchild;
    std::ifstream(folder.path() / "child") >> child;
    if (grandchild > 0) ::kill(grandchild, SIGKILL);
    EXPECT_LT(elapsed, milliseconds(2'500));
    EXPECT_EQ(ports, (PortMap{{idle.record->pid, {443}}})) << "\"n*:80\" may be part of a longer line";
    ASSERT_GT(child, 0);
    EXPECT_EQ(::waitpid(child, nullptr, WNOHANG), -1) << "the tool was reaped";
    EXPECT_EQ(errno, ECHILD);
}

TEST(ImpactPortProbe, ReadsOnlyWholeLinesOfValidUtf8FromAToolThatStarts)
{
    const testing::TempDir folder;
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);
    const auto pid = idle.record->pid;
    const auto p = "p" + std::to_string(pid);
    std::ofstream(folder.path() / "lsof") << "#!/bin/sh\nprintf 'p1\\nn*:80\\n'\n";  // not executable
    for (const auto& tool : {fs::path("/nonexistent/lsof"), folder.path() / "lsof", folder.path()})
        EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, tool), PortMap{}) << tool;

    // Past the cap the output is cut, and the cap falls inside "n*:8080", right after "n*:80".
    constexpr std::size_t cap = 65'536;
    std::string overflowing = p + "\nn*:443\n";
    overflowing += "f" + std::string(cap - overflowing.size() - std::string("n*:80").size() - 2, 'x') + "\nn*:8080\n";
    while (overflowing.size() < 3 * cap) overflowing += "n*:22\n";
    ASSERT_EQ(overflowing.substr(cap - 5, 5), "n*:80");
    ASSERT_EQ(ImpactPortProbe::parse(overflowing.substr(0, cap)), (PortMap{{pid, {80, 443}}}));

    const std::vector<std::pair<std::string, PortMap>> cases{
        {overflowing, {{pid, {443}}}},
        {p + "\nn*:80\n\xff\n", {}},
        {p + "\nn*:80\n\xe2\x80", {}},                                // a cut sequence
        {p + "\xc2\x85n*:80\xe2\x80\xa8n*:81\n", {{pid, {80, 81}}}},  // NEL and LINE SEPARATOR are line breaks
    };
    const auto output = folder.path() / "output";
    const auto tool = writeScript(folder.path(), "cat", "exec cat '" + output.string() + "'\n");
    for (const auto& [text, expected] : cases) {
        std::ofstream(output, std::ios::binary) << text;
        EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, tool), expected) << text.substr(0, 30);
    }
}

TEST(ImpactPortProbe, ParsesTheFieldStream)
{
    const std::vector<std::pair<std::string, PortMap>> cases{
        {"p412\nf5\n\nn*:80\nf6\nn127.0.0.1:80\np977\nn[::1]:443\n", {{412, {80}}, {977, {443}}}},
        // Ascending and distinct; a pid without ports is left out; the last line needs no break.
        {"p5\nn*:9000\nn*:22\nn*:9000\np6\nf3\np5\nn*:1", {{5, {1, 22, 9000}}}},
        {"", {}},
        {"n*:80\np7\nn*:81\n", {{7, {81}}}},              // no pid yet
        {"p7\ncsleep\nf3\ntIPv4\nn*:81\n", {{7, {81}}}},  // other fields keep the pid
        {"p2147483647\nn*:1\n", {{2147483647, {1}}}},
        // Ports belong to the last valid pid line.
        {"p7\nn*:81\np\nn*:82\npabc\nn*:83\np12x\nn*:84\np 12\nn*:85\np2147483648\nn*:86\ncx\nn*:87\n", {{7, {81}}}},
        // The port is what follows the last colon.
        {"p1\nn*:80\nn127.0.0.1:631\nn[::1]:443\nn[fe80::1%eth0]:22\nn*:1\nn*:65535\n",
         {{1, {1, 22, 80, 443, 631, 65535}}}},
        // Every line break splits lines, but look-alikes of NEL and LINE SEPARATOR do not.
        {"p1\vn*:1\fn*:2\rn*:3\r\nn*:4\xC2\x85n*:5\xE2\x80\xA8n*:6\xE2\x80\xA9n*:7\n\n\r\rn*:8",
         {{1, {1, 2, 3, 4, 5, 6, 7, 8}}}},
        {"p1\xC2\x86n*:5\np2\xE2\x80\xAAn*:6\np3\xC2n*:7\n", {}},
    };
    for (const auto& [output, expected] : cases) EXPECT_EQ(ImpactPortProbe::parse(output), expected) << output;

    // Nothing but a whole number from 1 to 65535 after the last colon is a port.
    for (const char* ignored : {"*:*", "*:0", "*:65536", "*:4294967376", "*:http", "*:", "80", "", "*:-1", "*:+80",
                                "*: 80", "*:80 ", "*:80x", "*:0x50", "*:8.0"})
        EXPECT_EQ(ImpactPortProbe::parse("p1\nn" + std::string(ignored) + "\n"), PortMap{}) << '"' << ignored << '"';
}

}  // namespace
}  // namespace corvalent

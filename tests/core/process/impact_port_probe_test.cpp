#include <gtest/gtest.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "core/process/impact_port_probe.h"
#include "core/process/processes.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using ImpactPortProbe::PortMap;
using std::chrono::milliseconds;

// The idle child program copied under the home folder, listening on a free port of 127.0.0.1.
struct Listener {
    explicit Listener(const std::string& name)
        : process(testing::copyExecutable(testing::idleChildProgram(), home.path(), name),
                  {"--listen", (home.path() / "port").string()}, home.path())
    {
        EXPECT_TRUE(testing::eventually([&] { return fs::exists(home.path() / "port"); }, std::chrono::seconds(10)));
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
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*secondRecord, *quiet.record, *firstRecord}),
              (PortMap{{first.process.pid(), {first.port}}, {second.process.pid(), {second.port}}}));
}

// A mount whose stat and figures never answer, as a share whose server is
// gone: nothing the probe asks needs it.
TEST(ImpactPortProbe, FindsThePortWhileAMountNeverAnswers)
{
    const Listener listener("corvalent-listener");
    const auto record = Scanner::read(listener.process.pid());
    ASSERT_TRUE(listener.port > 0 && record);
    const testing::TempDir dir;
    testing::SlowTree tree;
    tree.slowStat = tree.slowStatfs = {"."};
    tree.neverAnswers = true;
    testing::SlowMount mount(dir.path() / "share", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*record}), (PortMap{{listener.process.pid(), {listener.port}}}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(ImpactPortProbe, AsksOnlyAboutTheFirstRecordsThatAreStillTheSameProcess)
{
    const testing::TempDir folder;
    const auto asked = folder.path() / "asked";
    // Writes down how it was asked, then answers port 9 for every pid asked about.
    const auto tool =
        testing::writeScript(folder.path(), "lsof",
                    "echo \"$*\" >> '" + asked.string() + "'\nprintf 'p%s\\nn*:9\\n' $(echo \"$6\" | tr , ' ')\n");
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
    EXPECT_EQ(line, "-b -w -nP -a -p " + std::to_string(current.pid) + "," + std::to_string(other.record->pid) +
                        " -iTCP -sTCP:LISTEN -Fpn\n");
}

// The tool prints a prepared output and, told to, then hangs until it is
// killed. A line cut by the cap or the deadline could name another port
// ("n*:8080" cut to "n*:80"), so only whole lines count then.
TEST(ImpactPortProbe, ReadsOnlyWholeLinesOfValidUtf8FromAToolThatStarts)
{
    const testing::TempDir folder;
    const IdleProcess idle;
    ASSERT_TRUE(idle.record);
    const auto output = folder.path() / "output", hang = folder.path() / "hang";
    const auto tool = testing::writeScript(folder.path(), "lsof",
                                           "cat '" + output.string() + "'\nif [ -e '" + hang.string() +
                                               "' ]; then trap '' TERM; exec sleep 30; fi\n");
    const auto portsFor = [&](const std::string& text, bool hangs) {
        std::ofstream(output, std::ios::binary) << text;
        hangs ? std::ofstream(hang).close() : void(fs::remove(hang));
        return ImpactPortProbe::listeningPorts({*idle.record}, tool);
    };
    const auto pid = idle.record->pid;
    const auto p = "p" + std::to_string(pid);

    // Past the cap the output is cut, and the cap falls inside "n*:8080", right after "n*:80".
    constexpr std::size_t cap = 65'536;
    std::string overflowing = p + "\nn*:443\n";
    overflowing += "f" + std::string(cap - overflowing.size() - std::string("n*:80").size() - 2, 'x') + "\nn*:8080\n";
    while (overflowing.size() < 3 * cap) overflowing += "n*:22\n";
    ASSERT_EQ(ImpactPortProbe::parse(overflowing.substr(0, cap)), (PortMap{{pid, {80, 443}}}));
    EXPECT_EQ(portsFor(overflowing, false), (PortMap{{pid, {443}}}));

    EXPECT_EQ(portsFor(p + "\nn*:443\nn*:80", true), (PortMap{{pid, {443}}})) << "cut off by the deadline";
    EXPECT_EQ(portsFor(p + "\nn*:443\nn*:80", false), (PortMap{{pid, {80, 443}}})) << "a tool that ends is read in full";
    EXPECT_EQ(portsFor(p + "\nn*:80\n\xe2\x80", false), PortMap{}) << "ends in a cut sequence: not UTF-8";
    EXPECT_EQ(ImpactPortProbe::listeningPorts({*idle.record}, "/nonexistent/lsof"), PortMap{});
}

TEST(ImpactPortProbe, ParsesTheFieldStream)
{
    const std::vector<std::pair<std::string, PortMap>> cases{
        // Addresses before any pid are no one's; other fields and blank lines keep the pid.
        {"n*:79\np412\nf5\ncsleep\n\nn*:80\nf6\nn127.0.0.1:80\np977\nn[::1]:443\n", {{412, {80}}, {977, {443}}}},
        // Ascending and distinct; a pid without ports is left out; the last line needs no break.
        {"p5\nn*:9000\nn*:22\nn*:9000\np6\nf3\np5\nn*:1", {{5, {1, 22, 9000}}}},
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
    for (const char* ignored : {"*:*", "*:0", "*:65536", "*:4294967376", "*:http", "80", "*:+80", "*: 80", "*:80x"})
        EXPECT_EQ(ImpactPortProbe::parse("p1\nn" + std::string(ignored) + "\n"), PortMap{}) << '"' << ignored << '"';
}

}  // namespace
}  // namespace corvalent

// Programs started to go on by themselves: by name through PATH, by a name
// nowhere, and by a name whose lookup meets a share that never answers (the
// window's side of that: the tests of Open Home Folder).
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/common/program_start.h"
#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using std::chrono::seconds;

std::string readAll(const fs::path& path)
{
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The processes whose parent this process is, zombies included.
std::set<std::string> children()
{
    std::set<std::string> found;
    const std::string self = std::to_string(::getpid());
    for (const auto& entry : fs::directory_iterator("/proc")) {
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) continue;
        std::istringstream rest(line.substr(line.rfind(')') + 2));
        std::string state, parent;
        rest >> state >> parent;
        if (parent == self) found.insert(entry.path().filename().string());
    }
    return found;
}

// Found by name, started in a session of its own with no signal ignored or
// blocked, and not this process's child: nothing here has to reap it.
TEST(ProgramStart, ANameIsFoundInPathAndTheProgramGoesOnByItself)
{
    const testing::TempDir dir;
    const auto report = dir.path() / "report";
    testing::writeScript(dir.path(), "corvalent-test-opener",
                         // Read by the shell itself before it starts anything: a shell blocks
                         // every signal for a moment around each command it starts.
                         "while read -r line; do case $line in PPid:*|SigIgn:*|SigBlk:*) echo \"$line\";; esac;"
                         " done < /proc/$$/status > '" + report.string() + ".part'\n"
                         "echo \"Sid: $(cut -d' ' -f6 /proc/$$/stat)\" >> '" + report.string() + ".part'\n"
                         "echo \"Args: $*\" >> '" + report.string() + ".part'\n"
                         "mv '" + report.string() + ".part' '" + report.string() + "'\n");
    const testing::ScopedVariable path("PATH", dir.path().string() + ":/usr/bin:/bin");
    const auto before = children();
    ASSERT_EQ(startProgram({"corvalent-test-opener", "file:///a b", "--x"}), ProgramStart::started);
    ASSERT_TRUE(testing::eventually([&] { return fs::exists(report); }, seconds(30)));
    const auto text = readAll(report);
    EXPECT_EQ(text.find("PPid:\t" + std::to_string(::getpid()) + "\n"), std::string::npos) << text;
    // Signals 1 to 31; above them the C library's own.
    const auto ignored = text.find("SigIgn:\t");
    ASSERT_NE(ignored, std::string::npos) << text;
    EXPECT_EQ(std::stoull(text.substr(ignored + 8, 16), nullptr, 16) & 0x7fffffffULL, 0U) << text;
    EXPECT_NE(text.find("SigBlk:\t0000000000000000\n"), std::string::npos) << text;
    EXPECT_EQ(text.find("Sid: " + std::to_string(::getsid(0)) + "\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Args: file:///a b --x\n"), std::string::npos) << text;
    EXPECT_EQ(children(), before);

    EXPECT_EQ(startProgram({"corvalent-no-such-program"}), ProgramStart::notFound);
    EXPECT_EQ(startProgram({(dir.path() / "missing").string()}), ProgramStart::notFound);
    EXPECT_EQ(startProgram({}), ProgramStart::notFound);
    EXPECT_EQ(children(), before);
}

// The lookup stays caught on the share after the start has given up; it holds
// none of this process's descriptors meanwhile, so a pipe's reader still sees
// its end when this process closes the writing end (as with the display
// connection and the instance lock of a program that quits).
TEST(ProgramStart, ALookupCaughtOnADeadShareHoldsNoneOfTheCallersDescriptors)
{
    const testing::TempDir dir;
    testing::SlowTree tree;
    tree.files = {{"corvalent-test-opener", 0}};
    tree.slowStat = {".", "corvalent-test-opener"};
    tree.neverAnswers = true;
    testing::SlowMount share(dir.path() / "share", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();
    const testing::ScopedVariable path("PATH", share.path().string() + ":/usr/bin:/bin");
    int ends[2] = {-1, -1};
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);

    EXPECT_EQ(startProgram({"corvalent-test-opener"}, std::chrono::milliseconds(300)), ProgramStart::noAnswer);
    ASSERT_TRUE(share.waitForSlowCalls(1));
    ::close(ends[1]);
    pollfd reader{ends[0], POLLIN, 0};
    EXPECT_TRUE(testing::eventually([&] { return ::poll(&reader, 1, 0) == 1 && (reader.revents & POLLHUP) != 0; },
                                    seconds(10)))
        << "the caught lookup holds the pipe's writing end";
    ::close(ends[0]);
}

}  // namespace
}  // namespace corvalent

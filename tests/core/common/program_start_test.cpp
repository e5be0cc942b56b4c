// Programs started to go on by themselves: by name through PATH, with a
// folder in PATH on a share that never answers, and by a name nowhere.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

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
                         "grep -E '^(PPid|SigIgn|SigBlk):' /proc/$$/status > '" + report.string() + ".part'\n"
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

// The first folder in PATH lies on a share that never answers: the lookup
// waits there in a process of its own, the call answers within its limit,
// and no thread of this process touched the share.
TEST(ProgramStart, AFolderInPathOnAShareThatNeverAnswersHoldsOnlyTheLookup)
{
    const testing::TempDir dir;
    testing::SlowTree tree;
    tree.files = {{"corvalent-test-opener", 0}};
    tree.slowStat = {".", "corvalent-test-opener"};
    tree.neverAnswers = true;
    testing::SlowMount share(dir.path() / "share", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();
    const testing::ScopedVariable path("PATH", share.path().string() + ":/usr/bin:/bin");

    const auto before = children();
    std::atomic<bool> answered = false;
    std::atomic<ProgramStart> answer = ProgramStart::started;
    std::jthread caller([&] {
        answer = startProgram({"corvalent-test-opener"}, seconds(2));
        answered = true;
    });
    // The guard: far beyond the limit; past it the share goes, which lets
    // a caller that looked there itself go on too.
    const bool inTime = testing::eventually([&] { return answered.load(); }, seconds(20));
    if (!inTime) share.unmount();
    caller.join();
    EXPECT_TRUE(inTime) << "the caller waited on the share";
    EXPECT_EQ(answer.load(), ProgramStart::noAnswer);
    EXPECT_GE(share.slowCallsBegun(), 1U) << "the lookup never reached the share";
    EXPECT_EQ(share.slowCallsBegunBy(::getpid()), 0U);
    EXPECT_EQ(children(), before) << "the go-between is reaped";
}

}  // namespace
}  // namespace corvalent

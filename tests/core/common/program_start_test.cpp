// Programs started to go on by themselves: by name through PATH, and by a
// name nowhere. (A folder in PATH on a share that never answers: see the
// window's tests of Open Home Folder.)
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "core/common/program_start.h"
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

}  // namespace
}  // namespace corvalent

#include <gtest/gtest.h>
#include <string>

#include "bridge/proc_text.h"

namespace corvalent::proc_text {
namespace {

using namespace std::string_view_literals;

TEST(ProcText, StatLineWithAnAwkwardName)
{
    // A process may call itself anything, spaces and parentheses included.
    const std::string line =
        "4242 (my) (odd name) S 17 4242 4242 0 -1 4194560 120 0 0 0 250 130 0 0 20 0 1 0 98765 1000 100 "
        "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n";
    const auto fields = parseStat(line);
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->comm, "my) (odd name");
    EXPECT_EQ(fields->state, 'S');
    EXPECT_EQ(fields->parent, 17);
    EXPECT_EQ(fields->flags, 4194560U);
    EXPECT_EQ(fields->utimeTicks, 250U);
    EXPECT_EQ(fields->stimeTicks, 130U);
    EXPECT_EQ(fields->startTicks, 98765U);

    EXPECT_FALSE(parseStat("4242 (cut) S 17 4242"));
    EXPECT_FALSE(parseStat("no parentheses"));
}

TEST(ProcText, StatusTakesTheEffectiveUidAndAnonymousMemory)
{
    const auto fields = parseStatus(
        "Name:\tnode\nUid:\t1000\t1001\t1000\t1000\nGid:\t1000\t1000\t1000\t1000\n"
        "RssAnon:\t   20480 kB\nRssFile:\t 9999 kB\nVmSwap:\t    1024 kB\n");
    EXPECT_EQ(fields.effectiveUid, 1001U);
    EXPECT_EQ(fields.rssAnonKiB, 20480U);
    EXPECT_EQ(fields.vmSwapKiB, 1024U);
    const auto bare = parseStatus("Name:\tx\n");
    EXPECT_FALSE(bare.effectiveUid);
    EXPECT_FALSE(bare.rssAnonKiB);
}

TEST(ProcText, PressureLevels)
{
    const auto psi = "some avg10=12.50 avg60=1.00 avg300=0.00 total=1\nfull avg10=3.00 avg60=0.00 avg300=0.00 total=1\n"sv;
    EXPECT_EQ(pressureAvg10(psi, "some"), 12.5);
    EXPECT_EQ(pressureAvg10(psi, "full"), 3.0);
    EXPECT_FALSE(pressureAvg10("", "some"));

    EXPECT_EQ(pressureLevel(std::nullopt, std::nullopt, std::nullopt, std::nullopt), 0);
    EXPECT_EQ(pressureLevel(std::nullopt, std::nullopt, 50, 0), 0) << "a zero total is unreadable";
    EXPECT_EQ(pressureLevel(0.0, 0.0, 800, 1000), 1);
    EXPECT_EQ(pressureLevel(12.5, 3.0, 800, 1000), 2);
    EXPECT_EQ(pressureLevel(0.0, 0.0, 100, 1000), 2) << "below 15% available";
    EXPECT_EQ(pressureLevel(12.5, 10.0, 800, 1000), 4);
    EXPECT_EQ(pressureLevel(std::nullopt, std::nullopt, 40, 1000), 4) << "below 5% available";
    EXPECT_EQ(pressureLevel(0.0, 0.0, std::nullopt, std::nullopt), 1) << "PSI alone suffices";
}

TEST(ProcText, SwapInUse)
{
    EXPECT_EQ(swapUsedBytes("SwapTotal:     2048 kB\nSwapFree:      1024 kB\n"), 1024 * 1024);
    EXPECT_EQ(swapUsedBytes("SwapTotal:        0 kB\nSwapFree:         0 kB\n"), 0);
    EXPECT_EQ(swapUsedBytes("MemTotal: 1 kB\n"), -1);
    EXPECT_EQ(swapUsedBytes(""), -1);
}

TEST(ProcText, RoleMarkersAndAreaBounds)
{
    EXPECT_EQ(roleFromArguments("node\0x GradleDaemon vitest\0"sv), "gradle") << "first marker decides";
    EXPECT_EQ(roleFromArguments("node\0tsserver.js\0vitest\0"sv), "tests") << "last argument wins";
    EXPECT_EQ(roleFromArguments("node\0a\0"sv), "");
    EXPECT_EQ(roleFromArguments("node\0vitest"sv), "") << "an unterminated argument is not looked at";

    std::string area(maxArgumentArea, 'x');
    area.replace(area.size() - 8, 8, std::string("\0vitest\0", 8));
    EXPECT_EQ(roleFromArguments(area), "tests");
    area = "x" + area;
    EXPECT_EQ(roleFromArguments(area), "");
}

TEST(ProcText, NameGateAndExecutableName)
{
    EXPECT_TRUE(nameWantsRole("node"));
    EXPECT_TRUE(nameWantsRole("nodemon"));
    EXPECT_TRUE(nameWantsRole("java"));
    EXPECT_FALSE(nameWantsRole("javac"));
    EXPECT_FALSE(nameWantsRole("Node"));
    EXPECT_EQ(executableName("/usr/bin/node (deleted)"), "node");
    EXPECT_EQ(executableName("/home/ana/bin/ünïcode tool"), "ünïcode tool");
}

}  // namespace
}  // namespace corvalent::proc_text

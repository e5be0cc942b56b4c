#include <gtest/gtest.h>
#include <string>

#include "bridge/proc_text.h"

namespace corvalent::proc_text {
namespace {

using namespace std::string_view_literals;

TEST(ProcText, StatAndStatusFields)
{
    // A process may call itself anything, spaces and parentheses included.
    const auto fields = parseStat(
        "4242 (my) (odd name) S 17 4242 4242 0 -1 4194560 120 0 0 0 250 130 0 0 20 0 1 0 98765 1000 100 "
        "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0\n");
    ASSERT_TRUE(fields);
    EXPECT_EQ(fields->comm, "my) (odd name");
    EXPECT_EQ(fields->flags, 4194560U);
    EXPECT_EQ(fields->stimeTicks, 130U);
    EXPECT_FALSE(parseStat("4242 (cut) S 17 4242"));

    // The effective uid is the second of four.
    const auto status = parseStatus("Uid:\t1000\t1001\t1000\t1000\nRssAnon:\t   20480 kB\nVmSwap:\t    1024 kB\n");
    EXPECT_EQ(status.effectiveUid, 1001U);
    EXPECT_EQ(status.rssAnonKiB, 20480U);
    EXPECT_FALSE(parseStatus("Name:\tx\n").effectiveUid);
}

// Field 26, 27 (code), 48, 49 (arguments) and the name tell programs apart;
// the figures that move while a program runs do not.
TEST(ProcText, ImageChangesWithTheProgramOnly)
{
    const auto line = [](std::string_view comm, std::string_view code, std::string_view utime,
                         std::string_view arguments) {
        return "77 (" + std::string(comm) + ") S 1 77 77 0 -1 4194560 120 0 0 0 " + std::string(utime) +
               " 5 0 0 20 0 1 0 98765 1000 100 18446744073709551615 " + std::string(code) +
               " 0 0 0 0 0 0 0 0 0 0 17 3 0 0 0 0 0 4000 4100 4200 " + std::string(arguments) + " 4400 4500 0\n";
    };
    const auto imageOf = [](const std::string& text) { return parseStat(text).value().image; };
    const auto base = imageOf(line("node", "1000 2000", "250", "4300 4350"));
    EXPECT_EQ(imageOf(line("node", "1000 2000", "9999", "4300 4350")), base) << "CPU time moves, the program stays";
    EXPECT_NE(imageOf(line("worker", "1000 2000", "250", "4300 4350")), base);
    EXPECT_NE(imageOf(line("node", "1000 2001", "250", "4300 4350")), base);
    EXPECT_NE(imageOf(line("node", "1000 2000", "250", "4300 4351")), base);
    EXPECT_NE(imageOf(line("node", "1000 2000", "250", "5300 4350")), base);

    // A shorter line (kernels before 3.5 end at field 44) still reads.
    const auto older = parseStat("77 (old) S 1 77 77 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 555 1 1 1 3000 4000\n");
    ASSERT_TRUE(older);
    EXPECT_EQ(older->startTicks, 555U);
}

TEST(ProcText, AnonymousPagesFromStatm)
{
    EXPECT_EQ(anonymousPagesFromStatm("5000 1200 300 10 0 900 0\n"), 900U);
    EXPECT_EQ(anonymousPagesFromStatm("5000 300 1200 10 0 900 0\n"), 0U) << "differences floor at 0";
    EXPECT_FALSE(anonymousPagesFromStatm("5000 1200\n"));
    EXPECT_FALSE(anonymousPagesFromStatm(""));
}

TEST(ProcText, PressureAndSwap)
{
    const auto psi = "some avg10=12.50 avg60=1.00 avg300=0.00 total=1\nfull avg10=3.00 avg60=0.00 avg300=0.00 total=1\n"sv;
    EXPECT_EQ(pressureAvg10(psi, "full"), 3.0);

    EXPECT_EQ(pressureLevel(std::nullopt, std::nullopt, std::nullopt, std::nullopt), 0);
    EXPECT_EQ(pressureLevel(std::nullopt, std::nullopt, 50, 0), 0) << "a zero total is unreadable";
    EXPECT_EQ(pressureLevel(9.99, 9.99, 150, 1000), 1);
    EXPECT_EQ(pressureLevel(10.0, 3.0, 800, 1000), 2);
    EXPECT_EQ(pressureLevel(0.0, 0.0, 149, 1000), 2);
    EXPECT_EQ(pressureLevel(0.0, 10.0, 800, 1000), 4);
    EXPECT_EQ(pressureLevel(std::nullopt, std::nullopt, 49, 1000), 4);

    EXPECT_EQ(swapUsedBytes("SwapTotal:     2048 kB\nSwapFree:      1024 kB\n"), 1024 * 1024);
    EXPECT_EQ(swapUsedBytes("SwapTotal:     1024 kB\nSwapFree:      2048 kB\n"), 0);
    EXPECT_EQ(swapUsedBytes("SwapTotal: 18446744073709551615 kB\nSwapFree: 0 kB\n"), INT64_MAX);
    EXPECT_EQ(swapUsedBytes("MemTotal: 1 kB\n"), -1);
}

TEST(ProcText, RolesNamesAndAreaBounds)
{
    EXPECT_EQ(roleFromArguments("node\0x GradleDaemon vitest\0"sv), "gradle") << "first marker decides";
    EXPECT_EQ(roleFromArguments("node\0tsserver.js\0vitest\0"sv), "tests") << "last argument wins";
    EXPECT_EQ(roleFromArguments("node\0vitest"sv), "") << "an unterminated argument is not looked at";

    std::string area(maxArgumentArea, 'x');
    area.replace(area.size() - 8, 8, std::string("\0vitest\0", 8));
    EXPECT_EQ(roleFromArguments(area), "tests");
    EXPECT_EQ(roleFromArguments("x" + area), "");

    EXPECT_TRUE(nameWantsRole("nodemon"));
    EXPECT_FALSE(nameWantsRole("javac"));
    EXPECT_EQ(executableName("/usr/bin/node"), "node");
    EXPECT_EQ(executableName("/usr/bin/node (deleted)"), "");
    EXPECT_EQ(executableName("/memfd:sealed-91173221a7ea"), "");
}

TEST(ProcText, FlatpakApplicationFromCgroup)
{
    EXPECT_EQ(flatpakAppFromCgroup("0::/user.slice/user-1000.slice/user@1000.service/app.slice/"
                                   "app-flatpak-org.example.Photo_Viewer-2-12345.scope\n"),
              "org.example.Photo_Viewer-2") << "dashes inside the id stay";
    // Hybrid hierarchies: the unit may sit on any line.
    EXPECT_EQ(flatpakAppFromCgroup("12:cpu,cpuacct:/\n1:name=systemd:/user.slice/app-flatpak-org.example.Notes-77.scope\n"
                                   "0::/user.slice/app-flatpak-org.example.Notes-77.scope\n"),
              "org.example.Notes");
    EXPECT_EQ(flatpakAppFromCgroup("0::/user.slice/user@1000.service/app.slice/app-org.gnome.Terminal.slice/"
                                   "vte-spawn-1a2b.scope\n"),
              "");
    for (const auto malformed : {"0::/app-flatpak-org.example.Notes.scope"sv, "0::/app-flatpak--12.scope"sv,
                                 "0::/app-flatpak-org.example.Notes-12x.scope"sv, "0::/app-flatpak-../../etc-12.scope"sv,
                                 "app-flatpak-org.example.Notes-12.scope"sv, ""sv})
        EXPECT_EQ(flatpakAppFromCgroup(malformed), "") << malformed;
}

}  // namespace
}  // namespace corvalent::proc_text

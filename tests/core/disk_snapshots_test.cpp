#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

#include "core/disk_snapshots.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::string plist(const std::string& topEntries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
           "<plist version=\"1.0\">\n<dict>\n" +
           topEntries + "</dict>\n</plist>\n";
}

std::string snapshot(const std::string& extra = {})
{
    return "<dict><key>SnapshotName</key><string>com.apple.os.update-1</string>"
           "<key>SnapshotUUID</key><string>0A1B</string>" +
           extra + "</dict>";
}

std::string list(const std::string& key, const std::string& entries)
{
    return "<key>" + key + "</key><array>" + entries + "</array>";
}

const std::string threeSnapshotsOnePurgeable = plist(
    "<key>Volume</key><string>disk3s1</string>" +
    list("Snapshots", snapshot("<key>Purgeable</key><true/>") + snapshot("<key>Purgeable</key><false/>") + snapshot()));

TEST(APFSSnapshotParser, CountsSnapshotsAndPurgeableMarks)
{
    // Entries carry nested values; a "Purgeable" inside them is not the entry's own mark.
    const std::string nested =
        "<key>Details</key><dict><key>Purgeable</key><true/><key>Sizes</key>"
        "<array><integer>1</integer><array/><dict/></array></dict>"
        "<key>Created</key><date>2024-05-01T10:00:00Z</date><key>Token</key><data>AAEC</data>"
        "<key>Limit</key><real>1.5</real>";

    struct Case {
        const char* name;
        std::string text;
        APFSSnapshotSummary expected;
    };
    const std::vector<Case> cases{
        {"true, false and missing marks", threeSnapshotsOnePurgeable, {3, 1}},
        {"nested values skipped",
         plist(list("Snapshots", snapshot(nested) + snapshot(nested + "<key>Purgeable</key><true/>"))),
         {2, 1}},
        {"no marks at all", plist(list("Snapshots", snapshot() + snapshot())), {2, std::nullopt}},
        {"empty list", plist(list("Snapshots", "")), {0, std::nullopt}},
        {"numbers as marks",
         plist(list("Snapshots", snapshot("<key>Purgeable</key><integer>0</integer>") +
                                     snapshot("<key>Purgeable</key><integer>1</integer>") +
                                     snapshot("<key>Purgeable</key><real>0.0</real>") +
                                     snapshot("<key>Purgeable</key><real>2.5</real>"))),
         {4, 2}},
        {"a string is no mark",
         plist(list("Snapshots", snapshot("<key>Purgeable</key><string>true</string>"))),
         {1, std::nullopt}},
        {"only APFSSnapshots", plist(list("APFSSnapshots", snapshot("<key>Purgeable</key><true/>"))), {1, 1}},
        {"Snapshots first when both are lists",
         plist(list("APFSSnapshots", snapshot() + snapshot()) + list("Snapshots", snapshot())),
         {1, std::nullopt}},
        {"Snapshots not a list of dictionaries",
         plist(list("Snapshots", "<string>a</string>") + list("APFSSnapshots", snapshot() + snapshot())),
         {2, std::nullopt}},
        {"Snapshots a dictionary",
         plist("<key>Snapshots</key>" + snapshot() + list("APFSSnapshots", snapshot())),
         {1, std::nullopt}},
    };
    for (const auto& each : cases) {
        SCOPED_TRACE(each.name);
        EXPECT_EQ(DiskInsights::parseAPFSSnapshots(each.text), std::optional(each.expected));
    }
}

TEST(APFSSnapshotParser, RejectsAnythingButAWellFormedXMLList)
{
    const std::string binary("bplist00\xd1\x01\x02YSnapshots\xa0\x08\x0b\x15", 22);
    // Far deeper than the stack would allow a naive recursive reader.
    std::string deep;
    for (int level = 0; level < 200'000; ++level) deep += "<array>";
    const std::vector<std::pair<const char*, std::string>> cases{
        {"neither key", plist("<key>Volumes</key><array/>")},
        {"neither key a list", plist(list("Snapshots", "<integer>1</integer>") + "<key>APFSSnapshots</key><dict/>")},
        {"binary property list", binary},
        {"binary prefix before XML", "bplist" + threeSnapshotsOnePurgeable},
        {"garbage", "Unable to find disk for /Volumes/None\n"},
        {"empty", ""},
        {"JSON", "{\"Snapshots\": []}"},
        {"top level not a dictionary", "<plist version=\"1.0\"><array>" + snapshot() + "</array></plist>"},
        {"no plist element", "<dict>" + list("Snapshots", snapshot()) + "</dict>"},
        {"unclosed element", threeSnapshotsOnePurgeable.substr(0, threeSnapshotsOnePurgeable.size() - 10)},
        {"mismatched tags", plist(list("Snapshots", "<dict><key>Purgeable</key><true/></array>"))},
        {"key without value", plist(list("Snapshots", "<dict><key>Purgeable</key></dict>"))},
        {"unknown element", plist(list("Snapshots", snapshot("<key>Purgeable</key><yes/>")))},
        {"unreadable number", plist(list("Snapshots", snapshot("<key>Purgeable</key><integer>one</integer>")))},
        {"text after the document", threeSnapshotsOnePurgeable + "<plist/>"},
        {"deep nesting", plist(list("Snapshots", snapshot("<key>Deep</key>" + deep)))},
    };
    for (const auto& [name, text] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(DiskInsights::parseAPFSSnapshots(text), std::nullopt);
    }
}

class APFSSnapshotProbeTest : public ::testing::Test {
protected:
    fs::path tool(const std::string& name, const std::string& body, bool executable = true)
    {
        const auto path = folder_.path() / name;
        std::ofstream(path) << "#!/bin/sh\n" << body;
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
        return path;
    }

    // A tool that records its arguments, prints `output` and exits with `status`.
    fs::path listingTool(const std::string& name, const std::string& output, int status = 0)
    {
        return tool(name, "printf '%s\\n' \"$@\" > '" + (folder_.path() / "arguments").string() + "'\ncat <<'END'\n" +
                              output + "END\nexit " + std::to_string(status) + "\n");
    }

    std::optional<APFSSnapshotSummary> probe(const fs::path& path, std::stop_token stop = {})
    {
        APFSSnapshotProbeOptions options;
        options.tool = path.string();
        return APFSSnapshotProbe::summary("/Volumes/Data Disk", stop, options);
    }

    std::vector<std::string> receivedArguments()
    {
        std::vector<std::string> lines;
        std::ifstream in(folder_.path() / "arguments");
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    testing::TempDir folder_;
};

TEST_F(APFSSnapshotProbeTest, ReadsTheToolsListing)
{
    const auto path = listingTool("diskutil", threeSnapshotsOnePurgeable);
    EXPECT_EQ(probe(path), (APFSSnapshotSummary{3, 1}));
    EXPECT_EQ(receivedArguments(), (std::vector<std::string>{"apfs", "listSnapshots", "/Volumes/Data Disk", "-plist"}));
}

TEST_F(APFSSnapshotProbeTest, EndsAToolThatIgnoresTerminateWithinItsLimits)
{
    // The listing is complete, but a run that had to be ended is not trusted.
    const auto path =
        tool("stuck", "cat <<'END'\n" + threeSnapshotsOnePurgeable + "END\ntrap '' TERM\nexec sleep 30\n");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(probe(path), std::nullopt);
    EXPECT_LT(std::chrono::steady_clock::now() - started, milliseconds(4500));
}

TEST_F(APFSSnapshotProbeTest, AnswersNoneForFailedRuns)
{
    EXPECT_EQ(probe(listingTool("garbage", "Error: not an APFS volume\n")), std::nullopt);
    EXPECT_EQ(probe(listingTool("failing", threeSnapshotsOnePurgeable, 1)), std::nullopt);
    EXPECT_EQ(probe(tool("killed", "cat <<'END'\n" + threeSnapshotsOnePurgeable + "END\nkill -KILL $$\n")),
              std::nullopt);
}

TEST_F(APFSSnapshotProbeTest, RunsNothingWithoutARunnableToolOrAfterAStop)
{
    EXPECT_EQ(probe(folder_.path() / "missing"), std::nullopt);
    EXPECT_EQ(probe(folder_.path()), std::nullopt);
    const auto plain = tool("plain", "printf started > '" + (folder_.path() / "ran").string() + "'\n", false);
    EXPECT_EQ(probe(plain), std::nullopt);
    if (!fs::exists("/usr/sbin/diskutil")) {
        EXPECT_EQ(APFSSnapshotProbe::summary("/"), std::nullopt);
    }

    std::stop_source source;
    source.request_stop();
    const auto runnable = listingTool("diskutil", threeSnapshotsOnePurgeable);
    EXPECT_EQ(probe(runnable, source.get_token()), std::nullopt);
    EXPECT_FALSE(fs::exists(folder_.path() / "arguments"));
    EXPECT_FALSE(fs::exists(folder_.path() / "ran"));
}

}  // namespace
}  // namespace corvalent

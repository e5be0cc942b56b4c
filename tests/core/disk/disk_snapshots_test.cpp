#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <tuple>

#include "core/disk/disk_snapshots.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

std::string plist(const std::string& topEntries)
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
           "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n<plist version=\"1.0\">\n<dict>\n" +
           topEntries + "</dict>\n</plist>\n";
}

// A snapshot entry whose "Purgeable" key, if any, has the value `mark`.
std::string entry(const std::string& mark = {}, const std::string& extra = {})
{
    return "<dict><key>SnapshotName</key><string>com.apple.os.update-1</string>" + extra +
           (mark.empty() ? "" : "<key>Purgeable</key>" + mark) + "</dict>";
}

std::string list(const std::string& key, const std::string& entries)
{
    return "<key>" + key + "</key><array>" + entries + "</array>";
}

const std::string listing = plist("<key>Volume</key><string>disk3s1</string>" +
                                  list("Snapshots", entry("<true/>") + entry("<false/>") + entry()));

TEST(APFSSnapshotParser, CountsTheSnapshotsAndMarksOfAWellFormedXMLListOnly)
{
    const auto snapshots = [](const std::string& entries) { return plist(list("Snapshots", entries)); };
    // Entries carry nested values; a "Purgeable" inside them is not the entry's own mark.
    const std::string nested =
        "<key>Details</key><dict><key>Purgeable</key><true/><key>Sizes</key><array><integer>1</integer><array/>"
        "<dict/></array></dict><key>Created</key><date>2024-05-01T10:00:00Z</date><key>Token</key><data>AAEC</data>"
        "<key>Limit</key><real>1.5</real>";
    std::string deep;  // far deeper than the stack would allow a naive recursive reader
    for (int level = 0; level < 200'000; ++level) deep += "<array>";
    const auto none = std::nullopt;
    const std::vector<std::tuple<const char*, std::string, std::optional<APFSSnapshotSummary>>> cases{
        {"true, false and missing marks", listing, {{3, 1}}},
        {"nested values", snapshots(entry({}, nested) + entry("<true/>", nested)), {{2, 1}}},
        {"no marks", snapshots(entry() + entry()), {{2, none}}},
        {"empty list", snapshots(""), {{0, none}}},
        {"numbers", snapshots(entry("<integer>0</integer>") + entry("<real>2.5</real>")), {{2, 1}}},
        {"a string is no mark", snapshots(entry("<string>true</string>")), {{1, none}}},
        {"only APFSSnapshots", plist(list("APFSSnapshots", entry("<true/>"))), {{1, 1}}},
        {"Snapshots first", plist(list("APFSSnapshots", entry() + entry()) + list("Snapshots", entry())), {{1, none}}},
        {"not dicts", plist(list("Snapshots", "<true/>") + list("APFSSnapshots", entry() + entry())), {{2, none}}},
        {"a dict", plist("<key>Snapshots</key>" + entry() + list("APFSSnapshots", entry())), {{1, none}}},
        // Nothing else gives a summary.
        {"neither a list", plist(list("Snapshots", "<integer>1</integer>") + "<key>APFSSnapshots</key><dict/>"), none},
        {"binary prefix before XML", "bplist" + listing, none},
        {"empty", "", none},
        {"top level not a dictionary", "<plist version=\"1.0\"><array>" + entry() + "</array></plist>", none},
        {"cut off", listing.substr(0, listing.size() - 10), none},
        {"mismatched tags", snapshots("<dict><key>Purgeable</key><true/></array>"), none},
        {"key without value", snapshots("<dict><key>Purgeable</key></dict>"), none},
        {"unknown element", snapshots(entry("<yes/>")), none},
        {"unreadable number", snapshots(entry("<integer>one</integer>")), none},
        {"text after the document", listing + "<plist/>", none},
        {"deep nesting", snapshots(entry({}, "<key>Deep</key>" + deep)), none},
    };
    for (const auto& [name, text, expected] : cases)
        EXPECT_EQ(DiskInsights::parseAPFSSnapshots(text), expected) << name;
}

struct APFSSnapshotProbeTest : ::testing::Test {
    // A script that writes its arguments down, one a line, prints the listing
    // unless told not to, then runs `tail`.
    fs::path tool(const std::string& name, const std::string& tail = {}, bool lists = true, bool executable = true)
    {
        const auto path = folder.path() / name;
        std::ofstream(path) << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << arguments.string() << "'\n"
                            << (lists ? "cat <<'END'\n" + listing + "END\n" : "") << tail;
        fs::permissions(path, executable ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write);
        return path;
    }
    std::optional<APFSSnapshotSummary> probe(const fs::path& path, std::stop_token stop = {})
    {
        return APFSSnapshotProbe::summary("/Volumes/Data Disk", stop, {.tool = path.string()});
    }
    testing::TempDir folder;
    fs::path arguments = folder.path() / "arguments";
};

TEST_F(APFSSnapshotProbeTest, TrustsOnlyTheListingOfARunnableToolThatEndsWell)
{
    for (const auto& unrunnable : {folder.path() / "missing", folder.path(), tool("plain", "", true, false)})
        EXPECT_EQ(probe(unrunnable), std::nullopt) << unrunnable;
    std::stop_source stopped;
    stopped.request_stop();
    EXPECT_EQ(probe(tool("diskutil"), stopped.get_token()), std::nullopt);
    EXPECT_FALSE(fs::exists(arguments)) << "a tool was run";

    EXPECT_EQ(probe(tool("diskutil")), (APFSSnapshotSummary{3, 1}));
    std::string written;
    std::getline(std::ifstream(arguments), written, '\0');
    EXPECT_EQ(written, "apfs\nlistSnapshots\n/Volumes/Data Disk\n-plist\n");
    EXPECT_EQ(probe(tool("garbage", "echo 'Error: not an APFS volume'\n", false)), std::nullopt);
    EXPECT_EQ(probe(tool("failing", "exit 1\n")), std::nullopt);
    EXPECT_EQ(probe(tool("killed", "kill -KILL $$\n")), std::nullopt);
    // The listing is complete, but a run that had to be ended is not trusted.
    const auto stuck = tool("stuck", "trap '' TERM\nexec sleep 30\n");
    EXPECT_EQ(APFSSnapshotProbe::summary("/", {}, {.tool = stuck.string(), .runLimit = std::chrono::milliseconds(300)}),
              std::nullopt);
}

}  // namespace
}  // namespace corvalent

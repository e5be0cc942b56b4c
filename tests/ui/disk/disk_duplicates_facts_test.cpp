#include <gtest/gtest.h>
#include <QApplication>
#include <QCoreApplication>
#include <QTest>
#include <QTextDocument>
#include <QToolTip>
#include <QVBoxLayout>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "disk_printers.h"
#include "live_environments.h"
#include "models/disk_model.h"
#include "readable_texts.h"
#include "test_support.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/disk/sidebar/duplicate_copy_texts.h"
#include "ui/disk/sidebar/storage_facts.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/labels.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;
using Action = DuplicateGroupBlock::Action;
using Role = DiskDuplicateCopyRole;

constexpr std::size_t megabyte = 1'000'000;  // duplicates are looked for from 10 MB up

struct RecordingRevealer : FileRevealer {
    std::vector<std::string> revealed;
    void showItem(const std::string& path, Failure) override { revealed.push_back(path); }
};

template <typename Action>
bool await(Action action)
{
    bool done = false;
    action([&] { done = true; });
    return QTest::qWaitFor([&] { return done; }, 20'000);
}

// A home and Trash of the test's own, kept until no job reads them any more.
struct TempHome : testing::TempHome {
    ~TempHome() { drainLanes(); }
};

// A widget of the disk workspace offscreen, 380 px wide as in the sidebar, on a real model.
struct Host {
    DiskModel model;
    DiskViewState state;
    RecordingRevealer revealer;
    QWidget host;

    explicit Host(DiskModelEnvironment environment = quietDiskEnvironment(), const QPalette& palette = lightPalette())
        : model(std::move(environment))
    {
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(10, 10, 10, 10);
        layout->addStretch(1);
        host.resize(380, 760);
    }
    template <typename Widget>
    Widget* show(Widget* widget)
    {
        static_cast<QVBoxLayout*>(host.layout())->insertWidget(0, widget);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        return widget;
    }
    ~Host() { drainLanes(); }
    void scan(const fs::path& tree)
    {
        model.scan(tree.string());
        EXPECT_TRUE(QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000));
        settleAfterJobs();
    }
    bool verified(DuplicateGroupBlock& block)
    {
        QTest::mouseClick(&block.verifyButton(), Qt::LeftButton);
        return QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000);
    }
    void grab(const std::string& name)
    {
        EXPECT_TRUE(settleAfterJobs(&host));
        fs::create_directories(CORVALENT_SCREENSHOTS);
        host.grab().save(QString::fromStdString(std::string(CORVALENT_SCREENSHOTS) + "/" + name + ".png"));
    }
};

using Copies = std::vector<std::pair<std::string, Role>>;

Copies copies(const VerifiedDuplicateSetBlock& set)
{
    Copies all;
    for (const auto& row : set.rows()) all.emplace_back(row.path, row.role);
    return all;
}

// Five size classes: three alike and one apart at 14 MB, two alike at 13
// and 11 MB, two that differ at 12 MB, and two alike at 10 MB. The groups
// come most recoverable first: 14, 13, 12, then the two not shown.
fs::path seedDuplicates(const fs::path& base)
{
    const auto tree = fs::canonical(base) / "copies";
    for (const auto* name : {"a/one", "b/two", "c/three"}) writeFile(tree / name, 14 * megabyte);
    std::ofstream(tree / "apart") << std::string(14 * megabyte - 1, 'x') << 'y';  // same size, other contents
    for (const auto* name : {"e/one", "f/two"}) writeFile(tree / name, 13 * megabyte);
    writeFile(tree / "g/one", 12 * megabyte);
    std::ofstream(tree / "g/two") << std::string(12 * megabyte - 1, 'x') << 'y';
    for (const auto* name : {"i/one", "j/two"}) writeFile(tree / name, 11 * megabyte);
    for (const auto* name : {"k/one", "l/two"}) writeFile(tree / name, 10 * megabyte);
    return tree;
}

TEST(DuplicateCard, VerifiesOneShownGroupAtATimeAndShowsWhatItFound)
{
    for (const auto& [name, palette] : {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        const testing::TempDir dir;
        const auto tree = seedDuplicates(dir.path());
        Host host(quietDiskEnvironment(), palette);
        auto* card = host.show(new DuplicateCard(host.model, host.state, host.revealer));
        EXPECT_FALSE(card->isVisibleTo(&host.host)) << "no card before a scan finds duplicates";
        host.scan(tree);
        ASSERT_TRUE(card->isVisibleTo(&host.host));
        const auto& groups = host.model.result()->potentialDuplicateGroups;
        ASSERT_EQ(groups.size(), 5U);
        EXPECT_EQ(card->countText(), "5") << "the header counts every group";
        ASSERT_EQ(card->groupBlocks().size(), 3U);
        EXPECT_EQ(card->dividerCount(), 2);
        for (std::size_t i = 0; i < 3; ++i) EXPECT_EQ(card->groupBlocks()[i]->id(), groups[i].id);
        auto& alike = *card->groupBlocks()[0];
        auto& pair = *card->groupBlocks()[1];
        auto& differ = *card->groupBlocks()[2];

        // While one group is verified, the others wait.
        QTest::mouseClick(&alike.verifyButton(), Qt::LeftButton);
        EXPECT_EQ(alike.action(), Action::stop);
        for (auto* other : {&pair, &differ}) {
            EXPECT_EQ(other->action(), Action::verify);
            EXPECT_FALSE(other->verifyButton().isEnabled());
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return !host.model.verifyingDuplicateGroupID(); }, 60'000));
        EXPECT_EQ(alike.action(), Action::verified);
        EXPECT_TRUE(pair.verifyButton().isEnabled());
        EXPECT_EQ(card->messageText(), "Verified 3 identical files.");
        ASSERT_EQ(alike.sets().size(), 1U);
        const auto& set = *alike.sets()[0];
        EXPECT_EQ(copies(set), (Copies{{(tree / "a/one").string(), Role::keep},
                                       {(tree / "b/two").string(), Role::review},
                                       {(tree / "c/three").string(), Role::review}}))
            << "the copy that differs is not in the set";

        // A model change that touches none of the card's data rebuilds nothing.
        const auto* before = &set;
        for (auto signal : {&DiskModel::resultChanged, &DiskModel::insightsChanged, &DiskModel::trashChanged,
                            &DiskModel::duplicatesChanged})
            emit(host.model.*signal)();
        ASSERT_EQ(alike.sets().size(), 1U);
        EXPECT_EQ(alike.sets()[0], before);

        QTest::mouseClick(set.rows()[0].reveal, Qt::LeftButton);
        EXPECT_EQ(host.revealer.revealed, std::vector{(tree / "a/one").string()});
        QTest::mouseClick(set.rows()[2].review, Qt::LeftButton);
        ASSERT_TRUE(host.state.cleanupCandidate());
        EXPECT_EQ(host.state.cleanupCandidate()->path, (tree / "c/three").string());
        struct stat three {};
        ASSERT_EQ(::stat((tree / "c/three").c_str(), &three), 0);
        ASSERT_TRUE(host.state.cleanupCandidate()->scanned) << "it moves only while it is the copy scanned";
        EXPECT_EQ(host.state.cleanupCandidate()->scanned->inode, three.st_ino);

        // Stopped: back to "Verify", and no message, since starting cleared it.
        QTest::mouseClick(&pair.verifyButton(), Qt::LeftButton);
        EXPECT_EQ(card->messageText(), "");
        QTest::mouseClick(&pair.stopButton(), Qt::LeftButton);
        EXPECT_EQ(pair.action(), Action::verify);
        settleAfterJobs();
        EXPECT_EQ(card->messageText(), "");
        EXPECT_TRUE(pair.sets().empty());

        // Same size, other contents: the seal, and no set.
        ASSERT_TRUE(host.verified(differ));
        EXPECT_EQ(differ.action(), Action::verified);
        EXPECT_TRUE(differ.contentsDiffer());
        EXPECT_EQ(card->messageText(), "Same size, but contents differ.");

        // A file that grew since the scan: the group may be verified again after a new scan.
        std::ofstream(tree / "f/two", std::ios::app) << 'z';
        ASSERT_TRUE(host.verified(pair));
        EXPECT_EQ(card->messageText(), "two changed while Corvalent was verifying it. Scan again.");
        EXPECT_EQ(pair.action(), Action::verify);
        host.grab(std::string("disk-duplicates-") + name);
    }
}

TEST(DuplicateCard, ACopyMovedToTheTrashLeavesItsSetUntilRestored)
{
    const TempHome temp;
    const auto tree = temp.home / "films";
    const auto one = tree / "one.mkv", two = tree / "two.mkv", three = tree / "three.mkv";
    for (const auto& file : {one, two, three}) writeFile(file, 10 * megabyte);
    Host host;
    auto* card = host.show(new DuplicateCard(host.model, host.state, host.revealer));
    host.scan(tree);
    ASSERT_EQ(card->groupBlocks().size(), 1U);
    EXPECT_EQ(card->dividerCount(), 0);
    auto& block = *card->groupBlocks()[0];
    ASSERT_TRUE(host.verified(block));
    ASSERT_EQ(block.sets().size(), 1U);
    const auto copyBytes = testing::allocatedBytes(one);
    // Every line of the group counts the copies left.
    const auto figures = [&](std::uint64_t copies) {
        return std::vector<QString>{QString::number(copies) + " files \u00b7 " + bytesText(10 * megabyte) + " each",
                                    "Up to " + bytesText((copies - 1) * copyBytes) + " locally allocated",
                                    QString::number(copies) + " identical \u00b7 up to " +
                                        bytesText((copies - 1) * copyBytes)};
    };
    const auto shown = [&] {
        return std::vector<QString>{block.filesText(), block.recoverableText(), block.sets()[0]->titleText()};
    };
    EXPECT_EQ(shown(), figures(3));

    // As the confirmation sheet does, for a copy and then for the kept one.
    const auto move = [&](const DiskCleanupCandidate& candidate) {
        std::optional<DiskTrashRequest> request;
        ASSERT_TRUE(await([&](auto done) {
            host.model.prepareTrash(candidate, [&request, done](auto ready) { request = ready, done(); });
        }));
        ASSERT_TRUE(request && await([&](auto done) { host.model.moveToTrash(*request, done); }));
    };
    QTest::mouseClick(block.sets()[0]->rows()[2].review, Qt::LeftButton);
    ASSERT_TRUE(host.state.cleanupCandidate());
    move(*host.state.cleanupCandidate());
    ASSERT_FALSE(fs::exists(two));
    EXPECT_EQ(copies(*block.sets()[0]), (Copies{{one.string(), Role::keep}, {three.string(), Role::review}}));
    EXPECT_EQ(shown(), figures(2)) << "the copies left";
    host.grab("disk-duplicates-after-move");

    // The kept copy moved some other way: the last one left is no set, never offered nor verified again.
    move(host.model.cleanupCandidate(one.string(), 10 * megabyte, false));
    EXPECT_TRUE(block.sets().empty());
    EXPECT_EQ(block.filesText(), "1 file \u00b7 " + bytesText(10 * megabyte) + " each");
    EXPECT_EQ(block.recoverableText(), "Up to " + bytesText(0) + " locally allocated");
    EXPECT_EQ(block.action(), Action::verified);
    EXPECT_EQ(card->messageText(), "");

    for (const auto& receipt : std::vector(host.model.recentTrash()))
        ASSERT_TRUE(await([&](auto done) { host.model.restore(receipt, done); }));
    EXPECT_EQ(copies(*block.sets()[0]),
              (Copies{{one.string(), Role::keep}, {three.string(), Role::review}, {two.string(), Role::review}}));
    EXPECT_EQ(shown(), figures(3));
}

// A copy in the Trash is no copy to compare with: once one copy alone is
// left outside it, the group offers no verification.
TEST(DuplicateCard, ACopyInTheTrashLeavesNothingToVerifyBesideOneOtherCopy)
{
    const TempHome temp;
    const auto one = temp.home / "films/one.mkv", two = temp.home / "films/two.mkv";
    for (const auto& file : {one, two}) writeFile(file, 10 * megabyte);
    fs::create_directories(temp.trash() / "files");
    fs::copy_file(one, temp.trash() / "files/one.mkv");
    Host host;
    auto* card = host.show(new DuplicateCard(host.model, host.state, host.revealer));
    host.scan(temp.root.path());
    ASSERT_EQ(card->groupBlocks().size(), 1U);
    auto& block = *card->groupBlocks()[0];
    EXPECT_TRUE(block.verifyButton().isVisibleTo(&block));

    std::optional<DiskTrashRequest> request;
    ASSERT_TRUE(await([&](auto done) {
        host.model.prepareTrash(host.model.cleanupCandidate(two.string(), 10 * megabyte, false),
                                [&request, done](auto ready) { request = ready, done(); });
    }));
    ASSERT_TRUE(request && await([&](auto done) { host.model.moveToTrash(*request, done); }));
    EXPECT_EQ(block.filesText(), "2 files \u00b7 " + bytesText(10 * megabyte) + " each") << "the Trash's copy stays listed";
    EXPECT_FALSE(block.verifyButton().isVisibleTo(&block)) << "one copy outside the Trash: nothing to compare";
}

// In the sidebar's width two copies of one name part at their differing
// folder; each row names its full path, literally, to the pointer and to a
// screen reader; with room enough the full paths show.
TEST(DuplicateCard, CopiesOfOneNameReadApartInTheSidebar)
{
    for (const auto& [look, palette] : {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        const testing::TempDir dir;
        const auto survey = fs::canonical(dir.path()) / "fieldwork" / "survey-2023" / "instruments";
        const auto first = survey / "site-a" / "raw" / "survey-raw.bin";
        const auto second = survey / "site-<b>b & c" / "raw" / "survey-raw.bin";
        for (const auto& file : {first, second}) writeFile(file, 10 * megabyte);
        Host host(quietDiskEnvironment(), palette);
        auto* card = host.show(new DuplicateCard(host.model, host.state, host.revealer));
        host.scan(dir.path());
        ASSERT_EQ(card->groupBlocks().size(), 1U);
        ASSERT_TRUE(host.verified(*card->groupBlocks()[0]));
        ASSERT_EQ(card->groupBlocks()[0]->sets().size(), 1U);
        const auto& rows = card->groupBlocks()[0]->sets()[0]->rows();
        ASSERT_EQ(rows.size(), 2U);
        QCoreApplication::processEvents();

        const auto drawn = [&](std::size_t row) { return rows[row].text->drawnText(); };
        EXPECT_NE(drawn(0), drawn(1));
        for (std::size_t row = 0; row < 2; ++row) {
            const auto path = QString::fromStdString(rows[row].path);
            EXPECT_TRUE(drawn(row).startsWith("\u2026/site-")) << drawn(row).toStdString();
            EXPECT_EQ(rows[row].text->accessibleDescription(), path);
            // Read as Qt reads a tooltip: as rich text when it looks like markup.
            const auto toolTip = rows[row].text->toolTip();
            QTextDocument tip;
            if (Qt::mightBeRichText(toolTip))
                tip.setHtml(toolTip);
            else
                tip.setPlainText(toolTip);
            EXPECT_EQ(tip.toPlainText(), path) << "the tooltip shows the path as it is";
        }
        host.grab(std::string("disk-duplicates-copies-") + look);
        auto& marked = *rows[rows[0].path.find("<b>") != std::string::npos ? 0 : 1].text;
        QToolTip::showText(marked.mapToGlobal(QPoint(4, 4)), marked.toolTip(), &marked);
        QWidget* tip = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                for (auto* widget : QApplication::topLevelWidgets())
                    if (widget->inherits("QTipLabel") && widget->isVisible()) tip = widget;
                return tip != nullptr;
            },
            2'000));
        tip->grab().save(QString("%1/disk-duplicates-copy-tooltip-%2.png").arg(CORVALENT_SCREENSHOTS, look));
        QToolTip::hideText();

        host.host.resize(1800, 760);
        QCoreApplication::processEvents();
        for (std::size_t row = 0; row < 2; ++row)
            EXPECT_EQ(drawn(row), QString::fromStdString(rows[row].path)) << "room enough: the full path";
    }
}

DiskStorageReconciliation wholeVolume(std::uint64_t notMeasured, std::optional<std::uint64_t> beyond)
{
    DiskStorageReconciliation reconciliation;
    reconciliation.isWholeVolume = true;
    reconciliation.measuredFiles = 40 * megabyte;
    reconciliation.notMeasured = notMeasured;
    reconciliation.measuredBeyondFilesystemTotal = beyond;
    return reconciliation;
}

QStringList titles(const std::vector<StorageFact>& facts)
{
    QStringList all;
    for (const auto& fact : facts) all << fact.title;
    return all;
}

const StorageFact& fact(const std::vector<StorageFact>& facts, const QString& title)
{
    return *std::ranges::find(facts, title, &StorageFact::title);
}

TEST(StorageFacts, ExplanationsAndCardsFollowTheFigures)
{
    DiskStorageReconciliation counts;
    const auto tail = QStringLiteral("snapshots, metadata, virtual memory, and filesystem accounting.");
    EXPECT_EQ(storageDifferenceExplanation(counts), "Not junk: includes " + tail);
    counts.privacySkippedLocations = 3;
    EXPECT_EQ(storageDifferenceExplanation(counts), "Not junk: includes privacy-skipped folders, " + tail);
    counts.inaccessibleEntries = 1;
    EXPECT_EQ(storageDifferenceExplanation(counts),
              "Not junk: includes unreadable locations, privacy-skipped folders, " + tail);

    const auto sizeNote = QStringLiteral("The file system does not report a reliable per-snapshot size.");
    EXPECT_EQ(
        snapshotExplanation({4, std::nullopt}),
        "Local filesystem snapshots are counted here; the file system does not report a reliable per-snapshot size.");
    EXPECT_EQ(snapshotExplanation({4, 0}), "0 marked for removal when space runs low. " + sizeNote);
    EXPECT_EQ(snapshotExplanation({4, 1'234}), "1,234 marked for removal when space runs low. " + sizeNote);

    // Without a volume: a folder's view, nothing free, nothing reclaimable.
    const auto bare = storageFacts(DiskStorageReconciliation{}, std::nullopt);
    EXPECT_EQ(titles(bare), (QStringList{"Measured files", "Folder-only view", "Immediately free"}));
    EXPECT_EQ(fact(bare, "Folder-only view").value, "—");

    // Measured beyond the file system's figure: nothing unmeasured, and the overlap.
    const auto beyond = storageFacts(wholeVolume(0, 5 * megabyte), std::nullopt);
    EXPECT_EQ(titles(beyond),
              (QStringList{"Measured files", "Not measured by this scan", "Immediately free", "Accounting overlap"}));
    EXPECT_EQ(fact(beyond, "Not measured by this scan").value, bytesText(0));
    EXPECT_EQ(storageFacts(wholeVolume(0, std::nullopt), std::nullopt).size(), 3U) << "exactly the occupied space";

    // Cards without a source here, from figures of their own.
    auto sources = wholeVolume(7 * megabyte, std::nullopt);
    sources.cloudPlaceholderCount = 1'234;
    sources.cloudPlaceholderLogicalBytes = 3 * megabyte;
    sources.reclaimable = 1;  // under 1 MiB still shows, as 0 MB
    const auto all = storageFacts(sources, APFSSnapshotSummary{0, std::nullopt});
    EXPECT_EQ(titles(all), (QStringList{"Measured files", "Cloud placeholders", "Not measured by this scan",
                                        "Immediately free", "Reclaimable by the system", "File system snapshots"}));
    EXPECT_EQ(fact(all, "Cloud placeholders").value, "1,234");
    EXPECT_TRUE(fact(all, "Cloud placeholders").detail.startsWith(bytesText(3 * megabyte) + " is represented online"));
}

TEST(StorageFactsPanel, AFolderScanIsAFolderViewAndTheVolumeScanReconciles)
{
    const testing::TempDir dir;
    const auto root = fs::canonical(dir.path());
    writeFile(root / "sub" / "data", 2 * megabyte);
    writeFile(root / "other", 3 * megabyte);
    constexpr std::uint64_t gigabyte = 1ULL << 30;
    const auto capacity = DiskCapacity::make("Scratch", 100 * gigabyte, 60 * gigabyte, 50 * gigabyte);
    for (const auto& [name, palette] : {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        auto environment = quietDiskEnvironment();
        environment.volumes = [&] {
            return std::vector{DiskVolume{root.string(), "Scratch", root.string(), capacity, true, false}};
        };
        environment.snapshotSummary = [](const std::string&, std::stop_token) {
            return std::optional(APFSSnapshotSummary{2, 1});
        };
        Host host(environment, palette);
        auto* panel = host.show(new StorageFactsPanel(host.model));
        ASSERT_TRUE(await([&](auto done) { host.model.loadVolumes(true, done); }));
        settleAfterJobs();
        ASSERT_TRUE(host.model.snapshotSummary());
        EXPECT_TRUE(panel->showsPlaceholder()) << "snapshots alone are no accounting";

        host.scan(root / "sub");
        EXPECT_FALSE(panel->showsPlaceholder());
        EXPECT_EQ(panel->titles(), (QStringList{"Measured files", "Folder-only view", "Immediately free",
                                                "Reclaimable by the system", "File system snapshots"}));
        EXPECT_EQ(panel->value("Measured files"), bytesText(host.model.result()->root.bytes));
        EXPECT_EQ(panel->value("Immediately free"), bytesText(50 * gigabyte));
        EXPECT_EQ(panel->value("Reclaimable by the system"), bytesText(10 * gigabyte));
        EXPECT_TRUE(panel->detail("File system snapshots").startsWith("1 marked for removal when space runs low."));

        host.scan(root);
        EXPECT_EQ(panel->titles(), (QStringList{"Measured files", "Not measured by this scan", "Immediately free",
                                                "Reclaimable by the system", "File system snapshots"}));
        EXPECT_EQ(panel->value("Not measured by this scan"),
                  bytesText(50 * gigabyte - host.model.result()->root.bytes));
        EXPECT_EQ(testing::otherPlatformNames(*panel), QStringList()) << "said in Linux words";
        host.grab(std::string("disk-storage-facts-") + name);
    }
}

}  // namespace
}  // namespace corvalent

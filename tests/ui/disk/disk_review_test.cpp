#include <gtest/gtest.h>
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>

#include <cstdlib>
#include <filesystem>
#include <limits>

#include "live_environments.h"
#include "models/disk_model.h"
#include "test_support.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/indicators.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;
constexpr std::uint64_t GiB = 1ULL << 30, MiB = 1ULL << 20;

struct RecordingRevealer : FileRevealer {
    std::vector<std::string> revealed;
    void showItem(const std::string& path, Failure) override { revealed.push_back(path); }
};

// A home folder with a Trash of the test's own; no job reads them once it goes.
struct TempHome : testing::TempHome {
    ~TempHome() { drainLanes(); }
};

// The Review list in a sidebar-wide host on a real model whose one volume,
// "/", is nearly full, so a free-space plan with a missing amount exists.
struct ReviewHost {
    DiskModel model{environment()};
    DiskViewState state;
    RecordingRevealer revealer;
    QWidget host;
    ReviewList* list = nullptr;

    static DiskModelEnvironment environment()
    {
        QSettings().clear();
        auto disk = quietDiskEnvironment();
        disk.volumes = [] {
            return std::vector<DiskVolume>{
                {"/", "Computer", "/", DiskCapacity::make("/", 200 * GiB, 8 * GiB), true, false}};
        };
        return disk;
    }
    explicit ReviewHost(const QPalette& palette = lightPalette())
    {
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        (new QVBoxLayout(&host))->addWidget(list = new ReviewList(model, state, revealer));
        host.layout()->setContentsMargins(0, 0, 0, 0);
        host.resize(380, 1100);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        bool loaded = false;
        model.loadVolumes(false, [&] { loaded = true; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return loaded; }, 10'000));
    }
    ~ReviewHost() { drainLanes(); }
    void scan(const fs::path& folder)
    {
        model.scan(folder.string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000));
        settleAfterJobs();
        ASSERT_TRUE(model.rescuePlan() && !model.cleanupCandidates().empty());
    }
    bool cleanupEnded()
    {
        return QTest::qWaitFor([&] { return !model.cleanupInProgress(); }, 10'000);
    }
    void move(const DiskCleanupCandidate& candidate)
    {
        bool done = false;
        model.prepareTrash(candidate, [&](std::optional<DiskTrashRequest> request) {
            ASSERT_TRUE(request);
            model.moveToTrash(*request, [&] { done = true; });
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10'000));
        settleAfterJobs();
    }
    CleanupRow* row(const std::string& path) const
    {
        for (auto* row : list->rows())
            if (row->candidate().path == path) return row;
        return nullptr;
    }
    void grab(const std::string& name)
    {
        if (auto* focused = host.focusWidget()) focused->clearFocus();
        EXPECT_TRUE(settleAfterJobs(&host));
        fs::create_directories(CORVALENT_SCREENSHOTS);
        host.grab().save(QString::fromStdString(std::string(CORVALENT_SCREENSHOTS) + "/disk-review-" + name + ".png"));
    }
};

QStringList texts(const std::unique_ptr<QMenu>& menu)
{
    QStringList list;
    if (menu)
        for (auto* action : menu->actions()) list << action->text();
    return list;
}

// A cache, two same-sized films, a database and an npm cache, which has a guide.
void seedHome(const fs::path& home)
{
    writeFile(home / ".cache/app/blob", 3'000'000);
    for (const auto* film : {"films/a.mkv", "films/b.mkv"}) writeFile(home / film, 10'000'000);
    writeFile(home / "data/store.db", 1'000'000);
    writeFile(home / ".npm/_cacache/pack", 1'500'000);
}

TEST(ReviewList, SlotsFollowTheModelThroughAMoveToTheTrashAndItsUndo)
{
    const TempHome temp;
    seedHome(temp.home);
    ReviewHost host;
    auto& list = *host.list;
    EXPECT_EQ(list.shownSlots(), std::vector{&list.emptyPanel()}) << "before any scan only the empty panel";

    host.scan(temp.home);
    const auto candidates = host.model.cleanupCandidates();
    std::vector<QWidget*> expected{&list.rescueCard(), &list.duplicateCard()};
    ASSERT_EQ(list.rows().size(), candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        EXPECT_EQ(list.rows()[i]->candidate(), candidates[i]) << "the model's order";
        expected.push_back(list.rows()[i]);
    }
    EXPECT_EQ(list.shownSlots(), expected);

    // A protected database offers only to be revealed; the npm cache has its guide.
    auto* store = host.row((temp.home / "data/store.db").string());
    ASSERT_NE(store, nullptr);
    EXPECT_EQ(store->texts().last(), "PROTECTED");
    EXPECT_EQ(store->badgeColour(), CorvalentStyle::secondary(store->palette()));
    EXPECT_EQ(store->actions(), QStringList{"Reveal"});
    EXPECT_EQ(texts(store->contextMenu()), QStringList{revealInFileManager});
    auto* npm = host.row((temp.home / ".npm/_cacache").string());
    ASSERT_NE(npm, nullptr);
    EXPECT_EQ(npm->actions(), (QStringList{"How to clean", "Reveal", "Review…"}));
    EXPECT_EQ(texts(npm->contextMenu()), (QStringList{revealInFileManager, reviewMoveToTrash, showSafeCleanupGuide}));
    QTest::mouseClick(&npm->guideButton(), Qt::LeftButton);
    EXPECT_EQ(host.state.cleanupGuide(), npm->guide());
    QTest::mouseClick(&npm->revealButton(), Qt::LeftButton);
    EXPECT_EQ(host.revealer.revealed, std::vector{npm->candidate().path});
    // Tab runs through a card's buttons and on to the next card.
    auto* first = list.rows().front();
    first->revealButton().setFocus(Qt::TabFocusReason);
    QTest::keyClick(host.host.focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(host.host.focusWidget(), &first->reviewButton());
    QTest::keyClick(host.host.focusWidget(), Qt::Key_Tab);
    EXPECT_EQ(host.host.focusWidget()->parentWidget(), list.rows()[1]);

    // Moving the first safe candidate: the status and recent-Trash cards come,
    // its card goes, and every other card stays the same widget.
    const auto safe = std::ranges::find(candidates, DiskCleanupSafety::safe, &DiskCleanupCandidate::safety);
    ASSERT_NE(safe, candidates.end());
    const auto name = QString::fromStdString(std::string(safe->name()));
    auto kept = list.rows();
    std::erase(kept, host.row(safe->path));
    const auto plan = *host.model.rescuePlan();
    host.move(*safe);
    EXPECT_FALSE(fs::exists(safe->path));
    EXPECT_EQ(list.rescueCard().texts()[2], bytesText(plan.lowRiskBytes - safe->bytes)) << "LOW RISK leaves it out";
    EXPECT_EQ(list.rows(), kept);
    expected = {&list.statusCard(), &list.rescueCard(), &list.duplicateCard(), &list.recentTrashCard()};
    expected.insert(expected.end(), kept.begin(), kept.end());
    EXPECT_EQ(list.shownSlots(), expected);
    const QString rescanLine = "Rescan to update the map and measured totals.";
    EXPECT_EQ(list.statusCard().texts(), (QStringList{"Moved " + name + " to Trash.", rescanLine}));
    EXPECT_EQ(list.statusCard().symbol(), "arrow.clockwise.circle");
    EXPECT_EQ(list.recentTrashCard().names(), QStringList{name});
    // The move is also said where its card was, between the cards around it.
    auto& outcome = list.outcomeLine();
    EXPECT_EQ(outcome.text(), "Moved " + name + " to Trash.");
    settleAfterJobs(&host.host);
    const auto movedAt = static_cast<std::size_t>(safe - candidates.begin());
    ASSERT_EQ(outcome.parentWidget(), kept.front()->parentWidget());
    if (movedAt > 0) {
        EXPECT_LT(kept[movedAt - 1]->geometry().bottom(), outcome.y());
    }
    if (movedAt < kept.size()) {
        EXPECT_LT(outcome.geometry().bottom(), kept[movedAt]->y());
    }
    host.grab("light");

    // Undo: disabled while its restore runs, and the item is back on disk.
    auto* undo = list.recentTrashCard().undoButtons().front();
    QTest::mouseClick(undo, Qt::LeftButton);
    EXPECT_TRUE(host.model.cleanupInProgress());
    EXPECT_FALSE(undo->isEnabled());
    ASSERT_TRUE(host.cleanupEnded());
    settleAfterJobs();
    EXPECT_TRUE(fs::exists(safe->path));
    EXPECT_FALSE(list.recentTrashCard().isVisibleTo(&list));
    EXPECT_EQ(list.statusCard().texts(), (QStringList{"Restored " + name + ".", rescanLine}));
    // Said where the Trash card was, now that it is gone.
    EXPECT_EQ(outcome.text(), "Restored " + name + ".");
    EXPECT_TRUE(outcome.isVisibleTo(&list));
    EXPECT_EQ(list.layout()->indexOf(&outcome), list.layout()->indexOf(&list.recentTrashCard()) + 1);
    EXPECT_NE(host.row(safe->path), nullptr) << "offered again once back";

    // Rescan scans the same folder again, which clears the status.
    QTest::mouseClick(&list.statusCard().rescanButton(), Qt::LeftButton);
    EXPECT_EQ(host.model.status().kind, DiskModelStatus::Kind::scanning);
    EXPECT_FALSE(list.statusCard().isVisibleTo(&list));
    ASSERT_TRUE(QTest::qWaitFor([&] { return host.model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000));
}

TEST(ReviewList, FiveReceiptsShowTheThreeNewestAboveTheEmptyPanel)
{
    const TempHome temp;
    const auto folder = temp.home / "five";
    for (int i = 1; i <= 5; ++i) writeFile(folder / ("f" + std::to_string(i)), i * 20'000);
    ReviewHost host(darkPalette());
    auto& list = *host.list;
    host.scan(folder);
    const auto candidates = host.model.cleanupCandidates();
    ASSERT_EQ(candidates.size(), 5U);
    for (const auto& candidate : candidates) host.move(candidate);

    EXPECT_EQ(list.shownSlots(), (std::vector<QWidget*>{&list.statusCard(), &list.rescueCard(), &list.recentTrashCard(),
                                                        &list.emptyPanel()}));
    EXPECT_EQ(list.recentTrashCard().count(), "5");
    EXPECT_EQ(list.rescueCard().texts().mid(2), (QStringList{bytesText(0), bytesText(0)})) << "nothing left to review";
    QStringList newest;
    for (std::size_t i = 5; i > 2; --i) newest << QString::fromStdString(std::string(candidates[i - 1].name()));
    EXPECT_EQ(list.recentTrashCard().names(), newest);
    host.grab("dark");
}

TEST(CleanupRow, OwnersBeyondTheSecondAreNotNamed)
{
    DiskModel model{quietDiskEnvironment()};
    DiskViewState state;
    RecordingRevealer revealer;
    const DiskRowContext context{model, state, revealer};
    const auto candidate = DiskInsights::classify("/srv/data/cache.bin", 5 * MiB, false, {"Gamma", "Alpha", "Beta"});
    const CleanupRow row(candidate, context);
    EXPECT_TRUE(row.texts().contains("In use by Alpha, Beta")) << row.texts().join(" | ").toStdString();
}

DiskRescuePlan plan(std::uint64_t toTarget, std::uint64_t lowRisk, std::uint64_t review,
                    DiskRescueUrgency urgency = DiskRescueUrgency::tight)
{
    return {.urgency = urgency,
            .targetAvailable = 25'000'000'000,
            .bytesToTarget = toTarget,
            .lowRiskBytes = lowRisk,
            .reviewBytes = review};
}

TEST(RescueCard, SentenceAndBarFollowTheMissingAmount)
{
    EXPECT_EQ(rescueDetail(plan(3 * GiB, 0, 0)), "Review 3.0 GB to reach 23.3 GB usable.");
    EXPECT_EQ(rescueDetail(plan(0, 500 * MiB, 9 * GiB)),
              "Your disk has room. 500 MB of low-risk measured data is still available to review.");
    EXPECT_EQ(rescueDetail(plan(0, 0, 9 * GiB)), "Your disk is above Corvalent\u2019s breathing-room target.");

    EXPECT_EQ(rescueCoverage(plan(0, 0, 0)), 1.0);
    EXPECT_EQ(rescueCoverage(plan(10 * GiB, 4 * GiB, 6 * GiB)), 1.0);
    EXPECT_EQ(rescueBarTint(plan(10 * GiB, 4 * GiB, 6 * GiB)), CorvalentStyle::teal());
    EXPECT_LT(rescueCoverage(plan(10 * GiB, 4 * GiB, 6 * GiB - 1)), 1.0);
    EXPECT_EQ(rescueBarTint(plan(10 * GiB, 4 * GiB, 6 * GiB - 1)), CorvalentStyle::orange());
    constexpr auto most = std::numeric_limits<std::uint64_t>::max();
    EXPECT_EQ(rescueCoverage(plan(most, most, most)), 1.0) << "summed as doubles, no wrap";

    RescueCard card;
    card.present(plan(5 * GiB, 0, 0, DiskRescueUrgency::critical));
    EXPECT_EQ(card.texts().first(), "Free space is critical");
    EXPECT_FALSE(card.bar().isHidden());
    EXPECT_EQ(card.bar().fraction(), 0.0);
    EXPECT_EQ(card.bar().tint(), CorvalentStyle::orange());
    EXPECT_EQ(card.lowRiskColour(), CorvalentStyle::secondary(card.palette())) << "a figure of 0";
    card.present(plan(0, 2 * GiB, 0, DiskRescueUrgency::comfortable));
    EXPECT_TRUE(card.bar().isHidden());
    EXPECT_EQ(card.tint(), CorvalentStyle::teal());
    EXPECT_EQ(card.lowRiskColour(), CorvalentStyle::textTint(CorvalentStyle::teal(), card.palette()))
        << "a figure in the accent's readable shade";
}

DiskActiveStorageSummary summary(const std::string& name, std::optional<double> cpu, std::uint64_t protectedBytes = 0)
{
    using K = DiskOwnerStorageKind;
    return {.id = name,
            .name = name,
            .memory = 512 * MiB,
            .cpu = cpu,
            .linkedBytes = 3 * GiB,
            .linkedItems = 1,
            .protectedBytes = protectedBytes,
            .segments = {{K::cache, 1288490189},
                         {K::application, 800 * MiB},
                         {K::support, 96 * MiB},
                         {K::logs, MiB},
                         {K::container, MiB}}};
}

TEST(ActiveStorageCard, ShowsThreeOwnersAndTheFirstThreeKinds)
{
    EXPECT_EQ(activeResourceDetail(summary("A", std::nullopt)), "512 MB memory · CPU —");
    EXPECT_EQ(activeResourceDetail(summary("A", 23.4)), "512 MB memory · 23% CPU");
    EXPECT_EQ(activeStorageDetail(summary("A", 1)), "Caches 1.2 GB · App 800 MB · Support 96 MB");

    ActiveStorageCard card;
    auto bare = summary("Editor", 4);
    bare.segments.clear();
    card.present({bare, summary("Builder", 9), summary("Shell", 1), summary("Hidden", 1, 5 * MiB), summary("E", 1)});
    const auto rows = card.rows();
    ASSERT_EQ(rows.size(), 3U);
    EXPECT_EQ(rows[0], (QStringList{"Editor", "512 MB memory · 4% CPU", "3.0 GB", "1 files"})) << "no storage line";
    EXPECT_EQ(card.dividers(), 2);
    EXPECT_TRUE(card.showsProtectionNote()) << "a protected owner beyond the three shown";
    card.present({bare});
    EXPECT_EQ(card.dividers(), 0);
    EXPECT_FALSE(card.showsProtectionNote());

    // Both looks of the cards the list's screenshots cannot show here.
    for (const auto& [look, palette] : {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        QWidget host;
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        auto* column = new QVBoxLayout(&host);
        auto* rescue = new RescueCard;
        rescue->present(plan(12 * GiB, 3 * GiB, 4 * GiB));
        auto* active = new ActiveStorageCard;
        active->present({bare, summary("Builder", std::nullopt, MiB), summary("Shell", 1)});
        column->addWidget(rescue);
        column->addWidget(active);
        column->addStretch(1);
        host.resize(380, 520);
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
        EXPECT_TRUE(settle(&host));
        fs::create_directories(CORVALENT_SCREENSHOTS);
        host.grab().save(QString(CORVALENT_SCREENSHOTS) + "/disk-review-cards-" + look + ".png");
    }
}

}  // namespace
}  // namespace corvalent

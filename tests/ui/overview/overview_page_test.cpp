// The overview: the rules behind its texts and tints, and the page itself
// offscreen with real models fed from synthetic samples and injected volumes.
#include <QAbstractButton>
#include <QApplication>
#include <QEnterEvent>
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTimeZone>
#include <gtest/gtest.h>

#include <cmath>

#include "overview/overview_fixture.h"
#include "readable_texts.h"
#include "test_support.h"
#include "ui/overview/overview_states.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/display_formats.h"

namespace corvalent {

// Readable failures: the text and the tint.
void PrintTo(const OverviewMetricState& state, std::ostream* out)
{
    *out << '"' << state.text.toStdString() << "\" " << state.tint.name(QColor::HexArgb).toStdString();
}

namespace {

using Kind = DiskModelStatus::Kind;
using State = OverviewMetricState;
using Overview = testing::OverviewFixture;
using testing::bytes;
using testing::computer;
using testing::GiB;
using testing::MiB;
using testing::sameColour;

TEST(OverviewStates, MetricsChangeTintAtTheirThresholds)
{
    const auto palette = lightPalette();
    const auto waiting = CorvalentStyle::secondary(palette);
    // CPU load is a share of all cores.
    const auto cpu = [&](std::optional<double> load, int cores = 10) { return cpuOverviewState(load, cores, palette); };
    EXPECT_EQ(cpu(99.9), (State{"Quiet · 10 cores", CorvalentStyle::teal()}));
    EXPECT_EQ(cpu(100.0), (State{"Light load · 10 cores", CorvalentStyle::cyan()}));
    EXPECT_EQ(cpu(349.9).text, "Light load · 10 cores");
    EXPECT_EQ(cpu(350.0), (State{"Busy · 10 cores", CorvalentStyle::orange()}));
    EXPECT_EQ(cpu(700.0), (State{"High load · 10 cores", CorvalentStyle::red()}));
    EXPECT_EQ(cpu(std::nan(""), 4).text, "High load · 4 cores") << "NaN is never quiet";
    EXPECT_EQ(cpu(std::nullopt, 8), (State{"Waiting · 8 cores", waiting}));
    EXPECT_EQ(cpu(50.0, 0).text, "Busy · 1 cores") << "no cores counts as one";

    // Memory pressure: the figure every page shows and the overview's tint, per level.
    const auto pressure = [&](MemoryPressure level) {
        return std::pair(memoryPressureText(level), memoryOverviewState(level, palette));
    };
    EXPECT_EQ(pressure(MemoryPressure::normal),
              std::pair(QString("Normal"), State{"No action needed", CorvalentStyle::teal()}));
    EXPECT_EQ(pressure(MemoryPressure::elevated),
              std::pair(QString("Elevated"), State{"Memory is getting tight", CorvalentStyle::orange()}));
    EXPECT_EQ(pressure(MemoryPressure::critical),
              std::pair(QString("Critical"), State{"Close heavy work soon", CorvalentStyle::red()}));
    EXPECT_EQ(pressure(MemoryPressure::unavailable),
              std::pair(QString("Unavailable"), State{"Reading system state", waiting}));

    const auto disk = [&](std::uint64_t available) {
        return diskOverviewState(DiskCapacity::make("Computer", 10'000, available), palette);
    };
    EXPECT_EQ(disk(499), (State{"5% free · almost full", CorvalentStyle::red()}))
        << "4.99 % rounds to 5 but is still under the 5 % line";
    EXPECT_EQ(disk(500), (State{"5% free · low space", CorvalentStyle::orange()}));
    EXPECT_EQ(disk(1'199).text, "12% free · low space");
    EXPECT_EQ(disk(1'200), (State{"12% free · getting tight", CorvalentStyle::orange()}));
    EXPECT_EQ(disk(2'499).text, "25% free · getting tight");
    EXPECT_EQ(disk(2'500), (State{"25% free · comfortable", CorvalentStyle::teal()}));
    EXPECT_EQ(disk(250).text, "3% free · almost full") << "2.5 rounds away from zero";
    EXPECT_EQ(diskOverviewState(std::nullopt, palette), (State{"Reading disk capacity", waiting}));
    EXPECT_EQ(diskOverviewState(DiskCapacity::make("Empty", 0, 0), palette), (State{"Reading disk capacity", waiting}));

    // Swap is judged against installed memory; a twentieth and a fifth of it are whole bytes.
    const std::uint64_t memory = 20 * GiB;
    const auto swap = [&](std::optional<std::uint64_t> used) { return swapOverviewState(used, memory, palette); };
    EXPECT_EQ(swap(std::nullopt), (State{"Waiting for system data", waiting}));
    EXPECT_EQ(swap(0), (State{"No RAM stored on disk", CorvalentStyle::teal()}));
    EXPECT_EQ(swap(memory / 20 - 1), (State{"Light use · RAM on disk", CorvalentStyle::teal()}));
    EXPECT_EQ(swap(memory / 20), (State{"Some RAM is on disk", CorvalentStyle::cyan()}));
    EXPECT_EQ(swap(memory / 5), (State{"Heavy use · may feel slower", CorvalentStyle::orange()}));
    EXPECT_EQ(swapOverviewState(1, 0, palette).text, "Heavy use · may feel slower") << "unknown memory is 1 byte";
}

TEST(OverviewStates, HelpAndRefreshTexts)
{
    EXPECT_EQ(cpuMetricHelp(0), cpuMetricHelp(1)) << "no cores counts as one";
    // The refresh time reads in Pacific time, standard or daylight.
    EXPECT_EQ(processRefreshDetail(QDateTime()), "Waiting for first refresh");
    EXPECT_EQ(processRefreshDetail(QDateTime(QDate(2024, 1, 15), QTime(23, 5), QTimeZone::utc())),
              "Updated 3:05 PM PST");
    EXPECT_EQ(processRefreshDetail(QDateTime(QDate(2024, 7, 4), QTime(16, 30), QTimeZone::utc())),
              "Updated 9:30 AM PDT");
}

TEST(OverviewStates, StorageFooterFollowsTheScan)
{
    DiskVolume system{"/", "Computer", "/", DiskCapacity::make("Computer", 100, 50), true, false};
    DiskVolume stick{"/media/stick", "Stick", "/media/stick", DiskCapacity::make("Stick", 100, 50), true, true};
    DiskVolume share{"/mnt/share", "Share", "/mnt/share", DiskCapacity::make("Share", 100, 50), false, false};
    const auto footer = [&](DiskModelStatus status, const std::optional<DiskScanResult>& result = std::nullopt,
                            std::vector<DiskVolume> volumes = {}, std::int64_t scanned = 0) {
        return storageOverviewFooter(status, scanned, result, volumes);
    };
    EXPECT_EQ(footer({}, {}, {system, stick, share}),
              (StorageFooter{"Not scanned", "3 disks connected", "internaldrive",
                             QString("Connected: Computer, Stick (external), Share (external)")}))
        << "removable or not internal reads as external";
    EXPECT_EQ(footer({Kind::scanning, {}}, {}, {system}, 12'345),
              (StorageFooter{"Mapping 12,345 items", "Results build as the scan progresses",
                             "arrow.triangle.2.circlepath", std::nullopt}));
    DiskScanResult result;
    result.root.fileCount = 4'321;
    result.cancelled = true;
    EXPECT_EQ(footer({Kind::ready, {}}, result, {system}),
              (StorageFooter{"Partial map saved", "4,321 files measured", "pause.circle.fill", std::nullopt}));
    EXPECT_EQ(
        footer(DiskModelStatus::failed("Folder is gone."), result, {system}),
        (StorageFooter{"Scan needs attention", "Folder is gone.", "exclamationmark.triangle.fill", std::nullopt}));
}

// Before any sample or disk: the reading state, the layout, and the help.
TEST_F(Overview, BeforeTheFirstSampleEverythingReadsAndHelpOpensOneAtATime)
{
    open();
    for (const auto* text : {"Reading processes\u2026", "0 visible groups", "Loading disks"})
        EXPECT_TRUE(showsText(text)) << text;
    expectCards({{"Disk available", "Reading\u2026"},
                 {"Disk available", "Reading disk capacity"},
                 {"Memory pressure", "Unavailable"},
                 {"Memory pressure", "Reading system state"},
                 {"Swap memory", "Waiting for system data"},
                 {"Measured CPU", QString("Waiting · %1 cores").arg(activeCoreCount())}});
    EXPECT_FALSE(named("totals")->isVisibleTo(window.get())) << "no totals without groups";
    EXPECT_EQ(testing::otherPlatformNames(*page), QStringList()) << "the help texts say what Linux measures";
    EXPECT_TRUE(shown("groupRow").empty());
    const auto footers = shown("panelFooter");
    ASSERT_EQ(footers.size(), 1U) << "only the disk panel has a footer while processes are read";
    EXPECT_TRUE(showsText("No disks found", footers.front()));
    screenshot("reading");

    // The panels end one padding above the window's edge, down to their minimum.
    auto* running = named("runningWorkPanel");
    const auto bottomGap = [&] {
        QCoreApplication::processEvents();
        return page->height() - running->mapTo(page, QPoint(0, running->height())).y();
    };
    window->resize(1180, 1000);
    EXPECT_EQ(bottomGap(), 24);
    EXPECT_EQ(running->height(), named("diskSpacePanel")->height());
    EXPECT_NEAR(running->width(), named("diskSpacePanel")->width(), 1);
    const auto cards = page->findChildren<QWidget*>("metricCard");
    ASSERT_EQ(cards.size(), 4U);
    for (auto* card : cards) EXPECT_NEAR(card->width(), cards.front()->width(), 1) << "cards share the row evenly";
    window->resize(1180, 520);
    QCoreApplication::processEvents();
    EXPECT_EQ(running->height(), 450) << "too short: the page scrolls instead";
    EXPECT_LT(bottomGap(), 0);
    window->resize(1180, 760);
    QCoreApplication::processEvents();

    const auto info = [&](const char* title) { return card(title)->findChild<QAbstractButton*>("infoButton"); };
    auto* memory = info("Memory pressure");
    auto* cpu = info("Measured CPU");
    auto* storage = info("Disk available");
    const auto hover = [](QWidget* widget, bool in) {
        QEnterEvent enter(QPointF(8, 8), QPointF(8, 8), QPointF(8, 8));
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(widget, in ? static_cast<QEvent*>(&enter) : &leave);
    };
    auto* popover = named("helpPopover");
    auto* pendingOpening = popover->findChild<QTimer*>("helpDelay");
    ASSERT_NE(pendingOpening, nullptr);
    const auto popoverText = [&] { return popover->findChild<QLabel*>()->text(); };

    // Hovering opens after a short delay; leaving closes.
    hover(memory, true);
    EXPECT_FALSE(popover->isVisible()) << "not before the delay";
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isVisible(); }, 5'000));
    EXPECT_EQ(popoverText(), memory->accessibleDescription());
    screenshot("help-memory");
    EXPECT_GT(popover->y(), memory->mapTo(page, QPoint(0, memory->height())).y() - 1) << "below its button";
    hover(memory, false);
    EXPECT_FALSE(popover->isVisible());

    // Hover on one card, click another before the delay: only the clicked one opens.
    hover(memory, true);
    QTest::mouseClick(cpu, Qt::LeftButton);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(popoverText(), cpuMetricHelp(activeCoreCount()));
    EXPECT_FALSE(pendingOpening->isActive());
    EXPECT_EQ(popoverText(), cpuMetricHelp(activeCoreCount())) << "the pending hover was cancelled";
    hover(memory, false);
    EXPECT_TRUE(popover->isVisible()) << "leaving another card's button leaves this one open";
    screenshot("help");

    // Clicking a second card moves the one popover there; its text follows the disk's figures.
    QTest::mouseClick(storage, Qt::LeftButton);
    EXPECT_EQ(popoverText(), diskMetricHelp(std::nullopt));
    loadVolumes({computer(500 * GiB, 120 * GiB)});
    EXPECT_EQ(popoverText(), diskMetricHelp(DiskCapacity::make("Computer", 500 * GiB, 120 * GiB)));
    EXPECT_EQ(storage->accessibleDescription(), popoverText());
    QTest::mouseClick(storage, Qt::LeftButton);
    EXPECT_FALSE(popover->isVisible()) << "clicking again closes";

    // Hiding the page closes everything, pending openings included.
    QTest::mouseClick(memory, Qt::LeftButton);
    ASSERT_TRUE(popover->isVisible());
    hover(cpu, true);
    page->hide();
    EXPECT_FALSE(popover->isVisibleTo(page));
    EXPECT_FALSE(pendingOpening->isActive()) << "no opening pending";
    page->show();
    EXPECT_FALSE(popover->isVisibleTo(page));
}

// With processes and disks read: rows, totals, cards, the disk panel and a scan.
TEST_F(Overview, WithDataRowsUpdateInPlaceAndTheDiskPanelListsTheLargestItems)
{
    const DiskCapacity stick = DiskCapacity::make("Stick", 64 * GiB, 60 * GiB);
    loadVolumes({computer(500 * GiB, 180 * GiB), {"/media/stick", "Stick", "/media/stick", stick, true, true}});
    refreshProcesses();
    open();
    const auto rows = shown("groupRow");
    ASSERT_EQ(rows.size(), 7U);
    EXPECT_EQ(text(rows[0], "groupCPU"), "CPU \u2014") << "one sample has no CPU shares";

    memoryScale = 2;
    refreshProcesses();  // the second sample has CPU shares
    EXPECT_EQ(shown("groupRow"), rows) << "same groups: the same row widgets";
    const auto groups = processes->groups();
    ASSERT_EQ(groups.size(), 20U);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(text(rows[i], "groupTitle"), QString::fromStdString(groups[i].title));
        EXPECT_EQ(text(rows[i], "groupMemory"), bytes(groups[i].memory));
        ASSERT_TRUE(groups[i].cpu);
        EXPECT_EQ(text(rows[i], "groupCPU"), QString::asprintf("%.1f%% CPU", *groups[i].cpu));
    }
    // tool17: three processes of 18 × 37 MiB, the largest stoppable group.
    EXPECT_EQ(text(rows[0], "groupTitle"), "tool17");
    EXPECT_EQ(text(rows[0], "groupCPU"), "3.0% CPU") << "three processes at 1 % each";

    // Totals from the synthetic table, not from the model: the sum over groups g of (g % 3 + 1) × (g + 1) is 413,
    // and the two daemons' three processes are protected.
    EXPECT_EQ(text(page, "footprintValue"), bytes(413 * 37 * MiB * 2));
    EXPECT_EQ(text(page, "processesValue"), "39");
    EXPECT_EQ(text(page, "availableValue"), "36");
    EXPECT_TRUE(showsText("20 visible groups"));
    const auto footer = shown("panelFooter").front();
    EXPECT_EQ(text(footer, "footerDetail"), processRefreshDetail(processes->lastRefreshedAt()));

    // The cards read the same sample; the memory card's dot is drawn in its state's teal.
    const double measured = processes->measuredCPU().value();
    expectCards({{"Memory pressure", "Normal"},
                 {"Memory pressure", "No action needed"},
                 {"Measured CPU", QString::number(measured, 'f', 0) + "%"},
                 {"Measured CPU", cpuOverviewState(measured, activeCoreCount(), lightPalette()).text},
                 {"Swap memory", "0 MB"},
                 {"Swap memory", "No RAM stored on disk"},
                 {"Disk available", bytes(180 * GiB)},
                 {"Disk available", "36% free · comfortable"}});
    auto* dot = card("Memory pressure")->findChild<QWidget*>("stateDot");
    EXPECT_TRUE(sameColour(pixel(dot, QPoint(3, 3)), CorvalentStyle::teal()));

    // The disk panel invites a scan; the used part of its bar is teal while there is room.
    auto* panel = named("diskSpacePanel");
    for (const auto& shown : {QString("Computer"), bytes(180 * GiB), QString("64% used"), bytes(320 * GiB) + " used",
                              bytes(500 * GiB) + " total"})
        EXPECT_TRUE(showsText(shown, panel)) << shown.toStdString();
    EXPECT_TRUE(named("scanPrompt")->isVisibleTo(window.get()));
    auto* diskFooter = panel->findChild<QWidget*>("panelFooter");
    EXPECT_EQ(text(diskFooter, "footerDetail"), "2 disks connected");
    EXPECT_EQ(diskFooter->findChild<QLabel*>("footerDetail")->toolTip(), "Connected: Computer, Stick (external)");
    auto* bar = named("capacityBar");
    const int usedWidth = static_cast<int>(bar->width() * 0.64);
    EXPECT_TRUE(sameColour(pixel(bar, QPoint(usedWidth / 2, 3)), CorvalentStyle::teal()));
    EXPECT_FALSE(sameColour(pixel(bar, QPoint(usedWidth + (bar->width() - usedWidth) / 2, 3)), CorvalentStyle::teal()))
        << "the free part is only the track";
    screenshot("with-data");

    // Tab goes in reading order: the running work panel's link and rows, then the disk panel.
    QList<QWidget*> stops;
    for (auto* at = window->nextInFocusChain(); at != window.get(); at = at->nextInFocusChain())
        if ((at->focusPolicy() & Qt::TabFocus) != 0 && at->isVisibleTo(window.get())) stops << at;
    const auto at = [&](QWidget* control) { return stops.indexOf(control); };
    const auto viewAll = at(named("runningWorkPanel")->findChild<Button*>());
    for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(at(rows[i]), viewAll + 1 + int(i));
    for (auto* control : panel->findChildren<QWidget*>())
        EXPECT_TRUE(!stops.contains(control) || at(control) > at(rows.back())) << control->objectName().toStdString();

    // A row opens its group; "View all" and "Open Disk Space" lead to the workspaces without focusing anything.
    QSignalSpy opened(page, &OverviewPage::openProcesses);
    QSignalSpy diskOpened(page, &OverviewPage::openDiskSpace);
    QTest::mouseClick(rows[2], Qt::LeftButton);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(processes->focused(), groups[2].id);
    processes->setFocused(std::nullopt);
    for (auto* link : page->findChildren<QAbstractButton*>())
        if (link->text() == "View all" || link->text() == "Open Disk Space") QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(opened.count(), 2);
    EXPECT_EQ(diskOpened.count(), 2);
    EXPECT_FALSE(processes->focused());

    // Eight folders of different sizes: the six largest are listed.
    const testing::TempDir folder;
    for (int i = 0; i < 8; ++i)
        testing::writeFile(folder.path() / ("folder" + std::to_string(i)) / "data",
                           static_cast<std::size_t>(i + 1) * MiB);
    disk->scan(folder.path().string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return disk->status().kind != Kind::scanning; }, 60'000));
    QCoreApplication::processEvents();
    const auto& result = disk->result();
    ASSERT_TRUE(result);
    ASSERT_GE(result->root.children.size(), 8U);
    const auto children = shown("diskChildRow");
    ASSERT_EQ(children.size(), 6U);
    for (std::size_t i = 0; i < children.size(); ++i) {
        EXPECT_EQ(text(children[i], "diskChildName"), QString::fromStdString(result->root.children[i].name));
        EXPECT_EQ(text(children[i], "diskChildBytes"), bytes(result->root.children[i].bytes));
    }
    EXPECT_EQ(text(children[0], "diskChildName"), "folder7");
    auto* strip = children[1]->findChild<QWidget*>("diskStrip");
    EXPECT_TRUE(sameColour(pixel(strip, QPoint(2, 14)), CorvalentStyle::diskPalette()[1]));
    EXPECT_FALSE(named("scanPrompt")->isVisibleTo(window.get()));
    EXPECT_EQ(text(diskFooter, "footerTitle"), "Disk map ready");
    EXPECT_EQ(text(diskFooter, "footerDetail"), groupedCount(result->root.fileCount) + " files measured");
    screenshot("disk-scanned");

    // Nearly full: the share turns orange, and so does the bar.
    loadVolumes({computer(500 * GiB, 20 * GiB)});
    EXPECT_TRUE(showsText("96% used", panel));
    EXPECT_TRUE(sameColour(pixel(bar, QPoint(bar->width() / 2, 3)), CorvalentStyle::orange()));
    EXPECT_TRUE(showsText("4% free · almost full", card("Disk available")));
}

}  // namespace
}  // namespace corvalent

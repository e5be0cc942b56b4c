// The overview: the rules behind its texts and tints, and the page itself
// offscreen with models fed from synthetic samples and injected volumes.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <QTimeZone>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cmath>

#include "core/display.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "test_support.h"
#include "ui/app_appearance.h"
#include "ui/corvalent_style.h"
#include "ui/overview_page.h"
#include "ui/overview_states.h"

namespace corvalent {

// Readable failures: the text and the tint.
void PrintTo(const OverviewMetricState& state, std::ostream* out)
{
    *out << '"' << state.text.toStdString() << "\" " << state.tint.name(QColor::HexArgb).toStdString();
}

namespace {

namespace fs = std::filesystem;
using Kind = DiskModelStatus::Kind;

constexpr std::uint64_t MiB = 1ULL << 20;
constexpr std::uint64_t GiB = 1ULL << 30;

QString bytes(std::uint64_t value)
{
    return QString::fromStdString(Display::bytes(value));
}

// ---- The rules, without a window ------------------------------------------

TEST(OverviewStates, CpuLoadIsAShareOfAllCores)
{
    const auto palette = lightPalette();
    EXPECT_EQ(cpuOverviewState(99.9, 10, palette), (OverviewMetricState{"Quiet · 10 cores", CorvalentStyle::teal()}));
    EXPECT_EQ(cpuOverviewState(100.0, 10, palette),
              (OverviewMetricState{"Light load · 10 cores", CorvalentStyle::cyan()}));
    EXPECT_EQ(cpuOverviewState(349.9, 10, palette).text, "Light load · 10 cores");
    EXPECT_EQ(cpuOverviewState(350.0, 10, palette), (OverviewMetricState{"Busy · 10 cores", CorvalentStyle::orange()}));
    EXPECT_EQ(cpuOverviewState(700.0, 10, palette),
              (OverviewMetricState{"High load · 10 cores", CorvalentStyle::red()}));
    EXPECT_EQ(cpuOverviewState(std::nan(""), 4, palette).text, "High load · 4 cores") << "NaN is never quiet";
    EXPECT_EQ(cpuOverviewState(std::nullopt, 8, palette),
              (OverviewMetricState{"Waiting · 8 cores", CorvalentStyle::secondary(palette)}));
    EXPECT_EQ(cpuOverviewState(50.0, 0, palette).text, "Busy · 1 cores") << "no cores counts as one";
}

TEST(OverviewStates, MemoryFollowsThePressureLevel)
{
    const auto palette = lightPalette();
    EXPECT_EQ(memoryOverviewState("Normal", palette), (OverviewMetricState{"No action needed", CorvalentStyle::teal()}));
    EXPECT_EQ(memoryOverviewState("Elevated", palette),
              (OverviewMetricState{"Memory is getting tight", CorvalentStyle::orange()}));
    EXPECT_EQ(memoryOverviewState("Critical", palette),
              (OverviewMetricState{"Close heavy work soon", CorvalentStyle::red()}));
    EXPECT_EQ(memoryOverviewState("Unavailable", palette),
              (OverviewMetricState{"Reading system state", CorvalentStyle::secondary(palette)}));
}

TEST(OverviewStates, DiskFreeSpaceThresholds)
{
    const auto palette = lightPalette();
    const auto state = [&](std::uint64_t available) {
        return diskOverviewState(DiskCapacity::make("Computer", 10'000, available), palette);
    };
    EXPECT_EQ(state(499), (OverviewMetricState{"5% free · almost full", CorvalentStyle::red()}))
        << "4.99 % rounds to 5 but is still under the 5 % line";
    EXPECT_EQ(state(500), (OverviewMetricState{"5% free · low space", CorvalentStyle::orange()}));
    EXPECT_EQ(state(1'199).text, "12% free · low space");
    EXPECT_EQ(state(1'200), (OverviewMetricState{"12% free · getting tight", CorvalentStyle::orange()}));
    EXPECT_EQ(state(2'499).text, "25% free · getting tight");
    EXPECT_EQ(state(2'500), (OverviewMetricState{"25% free · comfortable", CorvalentStyle::teal()}));
    EXPECT_EQ(state(250).text, "3% free · almost full") << "2.5 rounds away from zero";
    EXPECT_EQ(state(0).text, "0% free · almost full");
    const OverviewMetricState reading{"Reading disk capacity", CorvalentStyle::secondary(palette)};
    EXPECT_EQ(diskOverviewState(std::nullopt, palette), reading);
    EXPECT_EQ(diskOverviewState(DiskCapacity::make("Empty", 0, 0), palette), reading);
}

TEST(OverviewStates, SwapIsJudgedAgainstInstalledMemory)
{
    const auto palette = lightPalette();
    const std::uint64_t memory = 20 * GiB;  // a twentieth and a fifth are whole bytes
    EXPECT_EQ(swapOverviewState(std::nullopt, memory, palette),
              (OverviewMetricState{"Waiting for system data", CorvalentStyle::secondary(palette)}));
    EXPECT_EQ(swapOverviewState(0, memory, palette),
              (OverviewMetricState{"No RAM stored on disk", CorvalentStyle::teal()}));
    EXPECT_EQ(swapOverviewState(memory / 20 - 1, memory, palette),
              (OverviewMetricState{"Light use · RAM on disk", CorvalentStyle::teal()}));
    EXPECT_EQ(swapOverviewState(memory / 20, memory, palette),
              (OverviewMetricState{"Some RAM is on disk", CorvalentStyle::cyan()}));
    EXPECT_EQ(swapOverviewState(memory / 5, memory, palette),
              (OverviewMetricState{"Heavy use · may feel slower", CorvalentStyle::orange()}));
    EXPECT_EQ(swapOverviewState(1, 0, palette).text, "Heavy use · may feel slower") << "unknown memory counts as 1 byte";
}

TEST(OverviewStates, HelpTexts)
{
    EXPECT_EQ(cpuMetricHelp(12),
              "Combined load from measured processes. This Mac has 12 active cores: 100% is one core; 1,200% is all "
              "cores.");
    EXPECT_EQ(cpuMetricHelp(0), "Combined load from measured processes. This Mac has 1 active cores: 100% is one "
                                "core; 100% is all cores.");
    EXPECT_EQ(diskMetricHelp(std::nullopt),
              "Usable space on the selected disk, including space macOS can reclaim automatically.");
    EXPECT_EQ(diskMetricHelp(DiskCapacity::make("Computer", 500 * GiB, 120 * GiB)),
              "Computer: 120.0 GB available, 380.0 GB used of 500.0 GB. Available space can include storage macOS "
              "can reclaim automatically.");
    EXPECT_GE(activeCoreCount(), 1);
    EXPECT_GE(physicalMemoryBytes(), 1U);
    EXPECT_EQ(groupedCount(1'234'567), "1,234,567");
}

TEST(OverviewStates, RefreshTimeReadsInPacificTime)
{
    EXPECT_EQ(processRefreshDetail(QDateTime()), "Waiting for first refresh");
    const QDateTime winter(QDate(2024, 1, 15), QTime(23, 5), QTimeZone::utc());
    EXPECT_EQ(processRefreshDetail(winter), "Updated 3:05 PM PST");
    const QDateTime summer(QDate(2024, 7, 4), QTime(16, 30), QTimeZone::utc());
    EXPECT_EQ(processRefreshDetail(summer), "Updated 9:30 AM PDT");
}

TEST(OverviewStates, StorageFooterFollowsTheScan)
{
    DiskVolume system{"/", "Computer", "/", DiskCapacity::make("Computer", 100, 50), true, false};
    DiskVolume stick{"/media/stick", "Stick", "/media/stick", DiskCapacity::make("Stick", 100, 50), true, true};
    DiskVolume share{"/mnt/share", "Share", "/mnt/share", DiskCapacity::make("Share", 100, 50), false, false};

    const auto idle = [](std::vector<DiskVolume> volumes) {
        return storageOverviewFooter(DiskModelStatus{}, 0, std::nullopt, volumes);
    };
    EXPECT_EQ(idle({}), (StorageFooter{"Not scanned", "No disks found", "internaldrive", std::nullopt}));
    EXPECT_EQ(idle({system}), (StorageFooter{"Not scanned", "1 disk connected", "internaldrive",
                                             QString("Connected: Computer")}));
    EXPECT_EQ(idle({system, stick, share}),
              (StorageFooter{"Not scanned", "3 disks connected", "internaldrive",
                             QString("Connected: Computer, Stick (external), Share (external)")}))
        << "removable or not internal reads as external";

    EXPECT_EQ(storageOverviewFooter({Kind::scanning, {}}, 12'345, std::nullopt, {system}),
              (StorageFooter{"Mapping 12,345 items", "Results build as the scan progresses",
                             "arrow.triangle.2.circlepath", std::nullopt}));
    EXPECT_EQ(storageOverviewFooter({Kind::ready, {}}, 0, std::nullopt, {system}),
              (StorageFooter{"Disk map ready", "Open Disk Space to explore", "checkmark.circle.fill", std::nullopt}));
    DiskScanResult result;
    result.root.fileCount = 4'321;
    EXPECT_EQ(storageOverviewFooter({Kind::ready, {}}, 0, result, {system}),
              (StorageFooter{"Disk map ready", "4,321 files measured", "checkmark.circle.fill", std::nullopt}));
    result.cancelled = true;
    EXPECT_EQ(storageOverviewFooter({Kind::ready, {}}, 0, result, {system}),
              (StorageFooter{"Partial map saved", "4,321 files measured", "pause.circle.fill", std::nullopt}));
    EXPECT_EQ(storageOverviewFooter(DiskModelStatus::failed("Folder is gone."), 0, result, {system}),
              (StorageFooter{"Scan needs attention", "Folder is gone.", "exclamationmark.triangle.fill",
                             std::nullopt}));
}

// ---- The page ----------------------------------------------------------------

ProcessRecord record(std::int32_t pid, const std::string& name, const std::string& path, std::uint64_t memory,
                     std::uint64_t cpuTime)
{
    return ProcessRecord::make(pid, 1, ::getuid(), 1'000 + static_cast<std::uint64_t>(pid), cpuTime, memory, name,
                               path, "", "");
}

// A process model fed with twenty synthetic groups: eighteen stoppable tools
// with one to three processes each, and two protected daemons.
struct ProcessHarness {
    int tick = 0;
    std::uint64_t memoryScale = 1;
    bool empty = false;
    std::unique_ptr<VantleModel> model;

    ProcessHarness()
    {
        QSettings().clear();
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this] { return table(); };
        environment.uptime = [this] { return 1'000.0 + tick; };
        environment.mainWindowShown = [] { return true; };
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setShowProtectedProcesses(true);
    }
    ~ProcessHarness() { EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(60'000)); }

    ScanResult table()
    {
        ++tick;
        ScanResult result;
        result.pressure = 1;
        result.swap = 0;
        result.timestamp = tick;
        if (empty) return result;
        for (int group = 0; group < 20; ++group) {
            const bool daemon = group >= 18;
            const auto name = (daemon ? "daemon" : "tool") + std::to_string(group);
            const auto path = (daemon ? "/usr/libexec/" : "/opt/" + name + "/bin/") + name;
            for (int member = 0; member <= group % 3; ++member) {
                const auto pid = 4'000'000 + group * 10 + member;
                // group % 4 percent of one core per process between samples.
                const auto cpuTime = static_cast<std::uint64_t>(tick) * static_cast<std::uint64_t>(group % 4) *
                                     10'000'000ULL;
                result.records.push_back(record(pid, name, path, (group + 1) * 37 * MiB * memoryScale, cpuTime));
            }
        }
        return result;
    }

    void refreshNow()
    {
        bool done = false;
        model->refresh([&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 20'000));
    }
};

// A disk model whose volumes the test lists.
struct DiskHarness {
    std::vector<DiskVolume> volumeList;
    std::unique_ptr<DiskModel> model;

    DiskHarness()
    {
        auto environment = DiskModelEnvironment::system();
        environment.volumes = [this] { return volumeList; };
        environment.snapshotSummary = [](const std::string&, std::stop_token) {
            return std::optional<APFSSnapshotSummary>();
        };
        model = std::make_unique<DiskModel>(std::move(environment));
    }
    ~DiskHarness() { settle(); }

    static void settle()
    {
        for (int round = 0; round < 3; ++round) {
            EXPECT_TRUE(QThreadPool::globalInstance()->waitForDone(60'000));
            QCoreApplication::processEvents();
        }
    }
    void load()
    {
        bool done = false;
        model->loadVolumes(true, [&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 20'000));
    }
    void scan(const fs::path& path)
    {
        model->scan(path.string());
        ASSERT_TRUE(QTest::qWaitFor([&] { return model->status().kind != Kind::scanning; }, 60'000));
    }
};

DiskVolume computer(std::uint64_t total, std::uint64_t available)
{
    return {"/", "Computer", "/", DiskCapacity::make("Computer", total, available), true, false};
}

// The page inside an opaque window, as the main view hosts it.
struct Window {
    QWidget host;
    OverviewPage* page;

    Window(VantleModel& model, DiskModel& disk)
    {
        host.setPalette(lightPalette());
        host.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        page = new OverviewPage(model, disk);
        layout->addWidget(page);
        host.resize(1180, 760);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
        settleLayout();
    }

    void settleLayout() { QCoreApplication::processEvents(); }

    QWidget* named(const QString& name) const { return page->findChild<QWidget*>(name); }
    QLabel* label(const QString& name, QWidget* within = nullptr) const
    {
        return (within ? within : static_cast<QWidget*>(page))->findChild<QLabel*>(name);
    }
    // Widgets of one kind that are shown, in creation order.
    template <typename W>
    std::vector<W*> shown(const QString& name) const
    {
        std::vector<W*> found;
        for (auto* widget : page->findChildren<W*>(name))
            if (widget->isVisibleTo(&host)) found.push_back(widget);
        return found;
    }
    bool showsText(const QString& text, QWidget* within = nullptr) const
    {
        for (auto* label : (within ? within : static_cast<QWidget*>(page))->findChildren<QLabel*>())
            if (label->text() == text && label->isVisibleTo(&host)) return true;
        return false;
    }
    QWidget* card(const QString& title) const
    {
        for (auto* card : page->findChildren<QWidget*>("metricCard"))
            if (card->accessibleName() == title) return card;
        return nullptr;
    }
    QAbstractButton* info(const QString& title) const { return card(title)->findChild<QAbstractButton*>("infoButton"); }
    QWidget* popover() const { return named("helpPopover"); }
    QString popoverText() const { return popover()->findChild<QLabel*>()->text(); }

    QColor pixel(QWidget* widget, QPoint at)
    {
        const auto image = host.grab().toImage();
        return image.pixelColor(widget->mapTo(&host, at));
    }
    void screenshot(const QString& name)
    {
        settleLayout();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(host.grab().save(QString(CORVALENT_SCREENSHOTS) + "/overview-" + name + ".png"));
    }
};

// Opaque colours match to within rounding of their channels.
::testing::AssertionResult sameColour(const QColor& actual, const QColor& expected)
{
    const auto close = [](int a, int b) { return std::abs(a - b) <= 1; };
    if (close(actual.red(), expected.red()) && close(actual.green(), expected.green()) &&
        close(actual.blue(), expected.blue()))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.name().toStdString() << " is not " << expected.name().toStdString();
}

TEST(OverviewPage, BeforeTheFirstSampleEverythingReads)
{
    ProcessHarness processes;
    DiskHarness disk;
    Window window(*processes.model, *disk.model);

    EXPECT_TRUE(window.showsText("Your Mac, in balance"));
    EXPECT_TRUE(window.showsText("Processes and storage together, with clear actions when something gets heavy."));
    EXPECT_TRUE(window.showsText("Reading processes\u2026"));
    EXPECT_TRUE(window.showsText("0 visible groups"));
    EXPECT_TRUE(window.showsText("Loading disks"));
    EXPECT_TRUE(window.showsText("Reading\u2026", window.card("Disk available")));
    EXPECT_TRUE(window.showsText("Reading disk capacity", window.card("Disk available")));
    EXPECT_TRUE(window.showsText("Unavailable", window.card("Memory pressure")));
    EXPECT_TRUE(window.showsText("Reading system state", window.card("Memory pressure")));
    EXPECT_TRUE(window.showsText("Waiting for system data", window.card("Swap memory")));
    EXPECT_TRUE(window.showsText(QString("Waiting · %1 cores").arg(activeCoreCount()), window.card("Measured CPU")));
    EXPECT_FALSE(window.named("totals")->isVisibleTo(&window.host)) << "no totals without groups";
    EXPECT_TRUE(window.shown<QWidget>("groupRow").empty());
    const auto footers = window.shown<QWidget>("panelFooter");
    ASSERT_EQ(footers.size(), 1U) << "only the disk panel has a footer while processes are read";
    EXPECT_TRUE(window.showsText("No disks found", footers.front()));
    window.screenshot("reading");
}

TEST(OverviewPage, PanelsFillTheWindowDownToTheirMinimum)
{
    ProcessHarness processes;
    DiskHarness disk;
    Window window(*processes.model, *disk.model);
    auto* running = window.named("runningWorkPanel");
    auto* storage = window.named("diskSpacePanel");
    const auto bottomGap = [&] {
        window.settleLayout();
        return window.page->height() - running->mapTo(window.page, QPoint(0, running->height())).y();
    };
    window.host.resize(1180, 1000);
    EXPECT_EQ(bottomGap(), 24) << "the panels end one padding above the window's edge";
    EXPECT_EQ(running->height(), storage->height());
    EXPECT_NEAR(running->width(), storage->width(), 1);
    const auto cards = window.page->findChildren<QWidget*>("metricCard");
    ASSERT_EQ(cards.size(), 4U);
    for (auto* card : cards) EXPECT_NEAR(card->width(), cards.front()->width(), 1) << "cards share the row evenly";

    window.host.resize(1180, 520);
    window.settleLayout();
    EXPECT_EQ(running->height(), 450) << "too short: the page scrolls instead";
    EXPECT_LT(bottomGap(), 0);
}

TEST(OverviewPage, RunningWorkShowsSevenRowsAndTheTotalsOfAll)
{
    ProcessHarness processes;
    DiskHarness disk;
    disk.volumeList = {computer(500 * GiB, 180 * GiB)};
    disk.load();
    processes.refreshNow();
    processes.refreshNow();  // the second sample has CPU shares
    Window window(*processes.model, *disk.model);

    // Expected totals from the synthetic table itself, not from the model.
    const auto sample = processes.table();
    std::uint64_t footprint = 0;
    int stoppable = 0;
    for (const auto& process : sample.records) {
        footprint += *process.memory;
        if (!process.isProtected()) ++stoppable;
    }
    ASSERT_EQ(sample.records.size(), 39U);
    ASSERT_EQ(stoppable, 36) << "the two daemons' three processes are protected";
    EXPECT_EQ(window.label("footprintValue")->text(), bytes(footprint));
    EXPECT_EQ(window.label("processesValue")->text(), "39");
    EXPECT_EQ(window.label("availableValue")->text(), "36");
    EXPECT_TRUE(window.showsText("20 visible groups"));

    const auto groups = processes.model->groups();
    ASSERT_EQ(groups.size(), 20U);
    const auto rows = window.shown<QAbstractButton>("groupRow");
    ASSERT_EQ(rows.size(), 7U);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(rows[i]->findChild<QLabel*>("groupTitle")->text(), QString::fromStdString(groups[i].title));
        EXPECT_EQ(rows[i]->findChild<QLabel*>("groupMemory")->text(), bytes(groups[i].memory));
        ASSERT_TRUE(groups[i].cpu);
        EXPECT_EQ(rows[i]->findChild<QLabel*>("groupCPU")->text(), QString::asprintf("%.1f%% CPU", *groups[i].cpu));
    }
    // tool17: three processes of 18 × 37 MiB, the largest stoppable group.
    EXPECT_EQ(rows[0]->findChild<QLabel*>("groupTitle")->text(), "tool17");
    EXPECT_EQ(rows[0]->findChild<QLabel*>("groupCPU")->text(), "3.0% CPU") << "three processes at 1 % each";

    const auto footer = window.shown<QWidget>("panelFooter").front();
    EXPECT_EQ(window.label("footerTitle", footer)->text(), "Process activity");
    EXPECT_EQ(window.label("footerDetail", footer)->text(),
              processRefreshDetail(processes.model->lastRefreshedAt()));
    EXPECT_TRUE(window.label("footerDetail", footer)->text().startsWith("Updated "));

    // The cards read the same sample.
    EXPECT_TRUE(window.showsText("Normal", window.card("Memory pressure")));
    EXPECT_TRUE(window.showsText("No action needed", window.card("Memory pressure")));
    const double cpu = processes.model->measuredCPU().value();
    EXPECT_TRUE(window.showsText(QString::number(cpu, 'f', 0) + "%", window.card("Measured CPU")));
    EXPECT_TRUE(window.showsText(cpuOverviewState(cpu, activeCoreCount(), lightPalette()).text,
                                 window.card("Measured CPU")));
    EXPECT_TRUE(window.showsText("0 MB", window.card("Swap memory")));
    EXPECT_TRUE(window.showsText("No RAM stored on disk", window.card("Swap memory")));
    EXPECT_TRUE(window.showsText(bytes(180 * GiB), window.card("Disk available")));
    EXPECT_TRUE(window.showsText("36% free · comfortable", window.card("Disk available")));

    // The memory card's dot is drawn in its state's teal.
    auto* dot = window.card("Memory pressure")->findChild<QWidget*>("stateDot");
    EXPECT_TRUE(sameColour(window.pixel(dot, QPoint(3, 3)), CorvalentStyle::teal()));
    window.screenshot("with-data");
}

TEST(OverviewPage, RowsUpdateInPlaceAndOpenTheirGroup)
{
    ProcessHarness processes;
    DiskHarness disk;
    processes.refreshNow();
    Window window(*processes.model, *disk.model);
    const auto before = window.shown<QAbstractButton>("groupRow");
    ASSERT_EQ(before.size(), 7U);
    EXPECT_EQ(before[0]->findChild<QLabel*>("groupCPU")->text(), "CPU \u2014") << "one sample has no CPU shares";

    processes.memoryScale = 2;
    processes.refreshNow();
    window.settleLayout();
    const auto after = window.shown<QAbstractButton>("groupRow");
    EXPECT_EQ(after, before) << "same groups: the same row widgets";
    const auto groups = processes.model->groups();
    EXPECT_EQ(after[0]->findChild<QLabel*>("groupMemory")->text(), bytes(groups[0].memory));
    EXPECT_EQ(groups[0].memory, 3 * 18 * 37 * MiB * 2);

    QSignalSpy opened(window.page, &OverviewPage::openProcesses);
    QSignalSpy diskOpened(window.page, &OverviewPage::openDiskSpace);
    QTest::mouseClick(after[2], Qt::LeftButton);
    EXPECT_EQ(opened.count(), 1);
    EXPECT_EQ(processes.model->focused(), groups[2].id);

    // "View all" of each panel leads to its workspace without focusing anything.
    processes.model->setFocused(std::nullopt);
    for (auto* link : window.page->findChildren<QAbstractButton*>())
        if (link->text() == "View all") QTest::mouseClick(link, Qt::LeftButton);
    EXPECT_EQ(opened.count(), 2);
    EXPECT_EQ(diskOpened.count(), 1);
    EXPECT_FALSE(processes.model->focused());

    // Groups gone: the rows give way to the reading state.
    processes.empty = true;
    processes.refreshNow();
    window.settleLayout();
    EXPECT_TRUE(window.shown<QAbstractButton>("groupRow").empty());
    EXPECT_TRUE(window.showsText("Reading processes\u2026"));
}

TEST(OverviewPage, DiskPanelInvitesAScanThenListsTheLargestItems)
{
    ProcessHarness processes;
    DiskHarness disk;
    DiskVolume stick{"/media/stick", "Stick", "/media/stick", DiskCapacity::make("Stick", 64 * GiB, 60 * GiB), true,
                     true};
    disk.volumeList = {computer(500 * GiB, 180 * GiB), stick};
    disk.load();
    processes.refreshNow();
    Window window(*processes.model, *disk.model);

    auto* panel = window.named("diskSpacePanel");
    EXPECT_TRUE(window.showsText("Computer", panel));
    EXPECT_TRUE(window.showsText(bytes(180 * GiB), panel));
    EXPECT_TRUE(window.showsText("64% used", panel));
    EXPECT_TRUE(window.showsText(bytes(320 * GiB) + " used", panel));
    EXPECT_TRUE(window.showsText(bytes(500 * GiB) + " total", panel));
    EXPECT_TRUE(window.named("scanPrompt")->isVisibleTo(&window.host));
    EXPECT_TRUE(window.showsText("See what is taking up space", panel));
    auto* footer = panel->findChild<QWidget*>("panelFooter");
    EXPECT_EQ(window.label("footerTitle", footer)->text(), "Not scanned");
    EXPECT_EQ(window.label("footerDetail", footer)->text(), "2 disks connected");
    EXPECT_EQ(window.label("footerDetail", footer)->toolTip(), "Connected: Computer, Stick (external)");

    // The used part of the bar is teal while there is room.
    auto* bar = window.named("capacityBar");
    const int usedWidth = static_cast<int>(bar->width() * 0.64);
    EXPECT_TRUE(sameColour(window.pixel(bar, QPoint(usedWidth / 2, 3)), CorvalentStyle::teal()));
    EXPECT_FALSE(sameColour(window.pixel(bar, QPoint(usedWidth + (bar->width() - usedWidth) / 2, 3)),
                            CorvalentStyle::teal()))
        << "the free part is only the track";

    QSignalSpy opened(window.page, &OverviewPage::openDiskSpace);
    for (auto* button : panel->findChildren<QAbstractButton*>())
        if (button->text() == "Open Disk Space") QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(opened.count(), 1);
    window.screenshot("disk-prompt");

    // Eight folders of different sizes: the six largest are listed.
    const testing::TempDir folder;
    for (int i = 0; i < 8; ++i)
        testing::writeFile(folder.path() / ("folder" + std::to_string(i)) / "data",
                           static_cast<std::size_t>(i + 1) * MiB);
    disk.scan(folder.path());
    window.settleLayout();
    const auto& result = disk.model->result();
    ASSERT_TRUE(result);
    ASSERT_GE(result->root.children.size(), 8U);
    const auto rows = window.shown<QWidget>("diskChildRow");
    ASSERT_EQ(rows.size(), 6U);
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const auto& child = result->root.children[i];
        EXPECT_EQ(rows[i]->findChild<QLabel*>("diskChildName")->text(), QString::fromStdString(child.name));
        EXPECT_EQ(rows[i]->findChild<QLabel*>("diskChildBytes")->text(), bytes(child.bytes));
    }
    EXPECT_EQ(rows[0]->findChild<QLabel*>("diskChildName")->text(), "folder7");
    auto* strip = rows[1]->findChild<QWidget*>("diskStrip");
    EXPECT_TRUE(sameColour(window.pixel(strip, QPoint(2, 14)), CorvalentStyle::diskPalette()[1]));
    EXPECT_FALSE(window.named("scanPrompt")->isVisibleTo(&window.host));
    EXPECT_EQ(window.label("footerTitle", footer)->text(), "Disk map ready");
    EXPECT_EQ(window.label("footerDetail", footer)->text(), groupedCount(result->root.fileCount) + " files measured");
    window.screenshot("disk-scanned");

    // Nearly full: the share turns orange, and so does the bar.
    disk.volumeList = {computer(500 * GiB, 20 * GiB)};
    disk.load();
    window.settleLayout();
    EXPECT_TRUE(window.showsText("96% used", panel));
    EXPECT_TRUE(sameColour(window.pixel(bar, QPoint(bar->width() / 2, 3)), CorvalentStyle::orange()));
    EXPECT_TRUE(window.showsText("4% free · almost full", window.card("Disk available")));
}

TEST(OverviewPage, HelpPopoversOpenOneAtATime)
{
    ProcessHarness processes;
    DiskHarness disk;
    disk.volumeList = {computer(500 * GiB, 120 * GiB)};
    disk.load();
    Window window(*processes.model, *disk.model);
    const QString memory = "Memory pressure";
    const QString cpu = "Measured CPU";
    const QString storage = "Disk available";

    auto* memoryInfo = window.info(memory);
    EXPECT_EQ(memoryInfo->accessibleName(), "About Memory pressure");
    EXPECT_EQ(memoryInfo->accessibleDescription(),
              "RAM health. Uses free, wired, cached, and swap activity. CPU is measured separately.");
    EXPECT_EQ(window.info(cpu)->accessibleDescription(), cpuMetricHelp(activeCoreCount()));
    EXPECT_EQ(window.info(storage)->accessibleDescription(),
              diskMetricHelp(DiskCapacity::make("Computer", 500 * GiB, 120 * GiB)));

    const auto enter = [](QWidget* widget) {
        QEnterEvent event(QPointF(8, 8), QPointF(8, 8), QPointF(8, 8));
        QApplication::sendEvent(widget, &event);
    };
    const auto leave = [](QWidget* widget) {
        QEvent event(QEvent::Leave);
        QApplication::sendEvent(widget, &event);
    };
    auto* popover = window.popover();

    // Hovering opens after a short delay; leaving closes.
    enter(memoryInfo);
    EXPECT_FALSE(popover->isVisible()) << "not before the delay";
    ASSERT_TRUE(QTest::qWaitFor([&] { return popover->isVisible(); }, 5'000));
    EXPECT_EQ(window.popoverText(), memoryInfo->accessibleDescription());
    const auto below = memoryInfo->mapTo(window.page, QPoint(0, memoryInfo->height()));
    EXPECT_GT(popover->y(), below.y() - 1) << "below its button";
    leave(memoryInfo);
    EXPECT_FALSE(popover->isVisible());

    // Hover on one card, click another before the delay: only the clicked one opens.
    enter(memoryInfo);
    QTest::mouseClick(window.info(cpu), Qt::LeftButton);
    EXPECT_TRUE(popover->isVisible());
    EXPECT_EQ(window.popoverText(), cpuMetricHelp(activeCoreCount()));
    QTest::qWait(200);
    EXPECT_EQ(window.popoverText(), cpuMetricHelp(activeCoreCount())) << "the pending hover was cancelled";
    // Leaving another card's button leaves this one open.
    leave(memoryInfo);
    EXPECT_TRUE(popover->isVisible());
    window.screenshot("help");

    // Clicking toggles; clicking a second card moves the one popover there.
    QTest::mouseClick(window.info(storage), Qt::LeftButton);
    EXPECT_EQ(window.popoverText(), window.info(storage)->accessibleDescription());
    EXPECT_EQ(window.page->findChildren<QWidget*>("helpPopover").size(), 1U);
    // The disk's figures change while its help is open: the open text follows.
    disk.volumeList = {computer(500 * GiB, 100 * GiB)};
    disk.load();
    EXPECT_EQ(window.popoverText(), diskMetricHelp(DiskCapacity::make("Computer", 500 * GiB, 100 * GiB)));
    QTest::mouseClick(window.info(storage), Qt::LeftButton);
    EXPECT_FALSE(popover->isVisible());

    // Hiding the page closes everything, pending openings included.
    QTest::mouseClick(window.info(memory), Qt::LeftButton);
    ASSERT_TRUE(popover->isVisible());
    enter(window.info(cpu));
    window.page->hide();
    EXPECT_FALSE(popover->isVisibleTo(window.page));
    QTest::qWait(200);
    window.page->show();
    EXPECT_FALSE(popover->isVisibleTo(window.page));
}

}  // namespace
}  // namespace corvalent

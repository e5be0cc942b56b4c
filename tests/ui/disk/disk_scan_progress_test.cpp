// The scan progress panel on a real model: what it shows while real folders
// are scanned, and its stop control driven by key and pointer.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QEnterEvent>
#include <QLabel>
#include <QMainWindow>
#include <QScrollArea>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>
#include <QVariantAnimation>

#include <array>
#include <filesystem>
#include <iostream>
#include <random>

#include "live_environments.h"
#include "models/disk_model.h"
#include "models/preferences.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/scan/scan_progress.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Kind = DiskModelStatus::Kind;

TEST(ScanProgressTexts, RemainingTimeAndPercentRoundHalvesAwayFromZero)
{
    const std::vector<std::pair<double, QString>> remaining{
        {0.4, "1 sec"},    {59.6, "60 sec"}, {89, "1 min"},       {90, "2 min"},
        {3'599, "60 min"}, {5'400, "2 hr"},  {604'800, "168 hr"},
    };
    for (const auto& [seconds, text] : remaining) EXPECT_EQ(remainingLabel(seconds), text) << seconds;
    EXPECT_EQ(progressPercentText(0.005), "1%");
    EXPECT_EQ(progressPercentText(0.004), "0%");
    EXPECT_EQ(progressPercentText(0.98), "98%");
}

// Folders of seeded random files under `root`; returns their allocated bytes.
std::uint64_t seedTree(const fs::path& root, unsigned seed, int files)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> folder(0, 11), bytes(1, 48 * 1024);
    std::uint64_t allocated = 0;
    for (int file = 0; file < files; ++file) {
        const auto path = root / ("f" + std::to_string(folder(random))) / ("d" + std::to_string(folder(random) % 3)) /
                          ("file" + std::to_string(file));
        testing::writeFile(path, static_cast<std::size_t>(bytes(random)));
        allocated += testing::allocatedBytes(path);
    }
    return allocated;
}

unsigned announcedSeed()
{
    const auto seed = std::random_device{}();
    std::cout << "seed " << seed << '\n';
    return seed;
}

// One real model with the volume list and clock of the test, shown by two
// panels: in the content area of a large window and of a small one.
class ScanProgress : public ::testing::Test {
protected:
    std::vector<DiskVolume> volumes;
    double now = 1'000;
    std::unique_ptr<DiskModel> model;
    DiskViewState state;
    DiskCommands commands;
    int stopRequests = 0;
    std::array<std::unique_ptr<QWidget>, 2> hosts;
    std::array<ScanProgressPanel*, 2> panels{};

    ScanProgress()
    {
        QSettings().clear();
        auto environment = quietDiskEnvironment();
        environment.volumes = [this] { return volumes; };
        environment.uptime = [this] { return now; };
        model = std::make_unique<DiskModel>(environment);
        commands.stopScan = [this] {
            ++stopRequests;
            model->stopScan();
        };
        const std::array<QSize, 2> sizes{QSize(1180, 760), QSize(920, 620)};
        for (std::size_t i = 0; i < hosts.size(); ++i) {
            hosts[i] = std::make_unique<QWidget>();
            hosts[i]->setPalette(lightPalette());
            hosts[i]->setAutoFillBackground(true);
            auto* layout = new QVBoxLayout(hosts[i].get());
            layout->setContentsMargins(0, 0, 0, 0);
            layout->addWidget(panels[i] = new ScanProgressPanel(*model, state, commands));
            hosts[i]->resize(sizes[i]);
            hosts[i]->show();
            EXPECT_TRUE(QTest::qWaitForWindowExposed(hosts[i].get()));
        }
    }
    ~ScanProgress() override
    {
        for (auto& host : hosts) host.reset();
        model.reset();
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
        QCoreApplication::processEvents();
    }

    QWidget& panel() const { return *panels[0]; }
    template <typename Widget = QWidget>
    Widget* named(const char* name) const
    {
        return panel().findChild<Widget*>(name);
    }
    QString text(const char* name) const { return named<QLabel>(name)->text(); }
    bool shown(QWidget* widget) const { return widget->isVisibleTo(hosts[0].get()); }
    QAbstractButton& stopControl() const { return *named<QAbstractButton>("stopScanAction"); }
    QWidget& hint() const { return *named("stopScanHint"); }
    // Where the control sits when not lifted: its place in the layout.
    QPoint stopPlace() const { return named("stopScanPlace")->pos(); }
    bool scanEnded() const
    {
        return QTest::qWaitFor([&] { return model->status().kind != Kind::scanning; }, 120'000);
    }

    // Runs the panels' fades and moves to their end, and lays them out,
    // without delivering anything else: the scan stays where it is.
    void endFadesInPlace()
    {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
        for (auto* panel : panels)
            for (auto* animation : panel->findChildren<QVariantAnimation*>())
                if (animation->loopCount() == 1) animation->setCurrentTime(animation->duration());
    }
    // Each panel in light and in dark, settled. Also called from model signals.
    void screenshots(const QString& name)
    {
        endFadesInPlace();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        for (auto& host : hosts) {
            for (const auto& [look, palette] : {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
                host->setPalette(palette);
                const auto file = QString("%1/disk-scan-progress-%2-%3-%4.png")
                                      .arg(CORVALENT_SCREENSHOTS, name, QString::number(host->width()), look);
                EXPECT_TRUE(host->grab().save(file));
            }
            host->setPalette(lightPalette());
        }
    }
};

void enter(QWidget& widget)
{
    QEnterEvent event(QPointF(8, 8), QPointF(8, 8), QPointF(8, 8));
    QApplication::sendEvent(&widget, &event);
}

void leave(QWidget& widget)
{
    QEvent event(QEvent::Leave);
    QApplication::sendEvent(&widget, &event);
}

// A folder that is neither a volume's root nor scanned before has nothing to
// estimate from: the spinner, the sweeping bar and "Calculating…" throughout.
TEST_F(ScanProgress, AFirstScanOfAFolderEstimatesThroughoutAndShowsItsCanonicalPath)
{
    const testing::TempDir dir;
    const auto tree = fs::canonical(dir.path()) / "tree";
    seedTree(tree, announcedSeed(), 300);
    fs::create_directory_symlink(tree, dir.path() / "link");

    int reports = 0;
    QString path;
    const auto look = [&] {
        if (model->status().kind != Kind::scanning) return;
        ++reports;
        path = text("scanningPath");
        EXPECT_TRUE(shown(named("scanSpinner")) && !shown(named("scanPercent")) && shown(named("estimatingText")));
        EXPECT_TRUE(named<Bar>("scanBar")->indeterminate());
        EXPECT_EQ(text("scopeFilesValue"), "Calculating\u2026");
        EXPECT_EQ(text("scopeStorageValue"), "Calculating\u2026");
    };
    QObject::connect(model.get(), &DiskModel::scanChanged, &panel(), look);
    QObject::connect(model.get(), &DiskModel::progressChanged, &panel(), look);
    model->scan((dir.path() / "link").string());
    ASSERT_TRUE(scanEnded());
    ASSERT_EQ(model->status().kind, Kind::ready);
    ASSERT_GT(reports, 0);
    EXPECT_EQ(path, QString::fromStdString(tree.string())) << "the resolved folder, not the link";

    EXPECT_EQ(text("privacyText"), "Privacy-protected folders are skipped unless you choose one directly.");
    Preferences::standard().setIncludePrivacyProtectedLocations(true);
    EXPECT_EQ(text("privacyText"), "Protected locations are included where the system allows access.");
}

// The root of the selected volume is expected to hold the volume's used
// bytes: the percentage, the determinate bar, the time left and the totals.
TEST_F(ScanProgress, AVolumeRootScanShowsItsShareTimeLeftAndExpectedTotals)
{
    const testing::TempDir dir;
    const auto root = fs::canonical(dir.path());
    const auto fileBytes = seedTree(root / "data", announcedSeed(), 400);
    // Measured bytes reach about 40 % of the expected total.
    const auto used = fileBytes * 5 / 2;
    volumes = {{root.string(), "Scratch", root.string(), DiskCapacity::make("Scratch", used + 1'000'000, 1'000'000),
                true, false}};
    bool loaded = false;
    model->loadVolumes(true, [&] { loaded = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded; }, 20'000));

    // Each report with an estimate shows the model's figures in their places.
    int estimated = 0;
    double progress = 0;
    QString remaining, files;
    QObject::connect(model.get(), &DiskModel::progressChanged, &panel(), [&] {
        if (model->status().kind != Kind::scanning || !model->estimatedProgress()) return;
        ++estimated;
        progress = *model->estimatedProgress();
        auto* bar = named<Bar>("scanBar");
        EXPECT_TRUE(shown(named("scanPercent")) && !shown(named("estimatingText")) && !bar->indeterminate());
        EXPECT_EQ(bar->fraction(), progress);
        EXPECT_EQ(text("scanPercent"), progressPercentText(progress));
        const auto seconds = model->estimatedRemainingSeconds();
        remaining = text("remainingText");
        EXPECT_EQ(remaining, seconds ? "About " + remainingLabel(*seconds) + " remaining" : QString());
        const auto total = model->estimatedTotalFiles();
        files = text("scopeFilesValue");
        EXPECT_EQ(files, total ? groupedCount(*total) : "Calculating\u2026");
        EXPECT_EQ(text("scopeStorageValue"), bytesText(*model->displayedEstimatedTotalBytes()));
        screenshots("estimated");
    });
    model->scan(root.string());
    now += 30;  // the scan has run for half a minute when progress arrives
    ASSERT_TRUE(scanEnded());

    ASSERT_GT(estimated, 0) << "the final report comes while the scan still runs";
    EXPECT_GT(progress, 0.3);
    EXPECT_TRUE(remaining.endsWith(" sec remaining")) << remaining.toStdString();
    EXPECT_NE(files, "Calculating\u2026") << "400 files at 40 % make an estimate";
}

// A long scan: Escape stops it at once, a second Escape and the pointer do
// nothing more, and the partial map is kept.
TEST_F(ScanProgress, EscapeStopsALongScanAndKeepsThePartialMap)
{
    hosts[0]->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(hosts[0].get()));
    model->scan("/usr");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model->scannedFiles() > 0; }, 20'000));
    ASSERT_EQ(model->status().kind, Kind::scanning);
    EXPECT_EQ(text("scopeStorageValue"), "Calculating\u2026") << "no expected total for a plain folder";
    EXPECT_EQ(text("scopeFilesDetail"), groupedCount(model->scannedFiles()) + " found");
    screenshots("estimating");

    // The pointer over the control brings the bubble and lifts the control.
    const bool motion = !AppMotion::reduceMotion();
    enter(stopControl());
    EXPECT_TRUE(state.stopActionHovered());
    EXPECT_TRUE(shown(&hint()));
    EXPECT_EQ(stopControl().pos(), stopPlace() - QPoint(0, motion ? 1 : 0));
    EXPECT_GE(hint().y(), stopPlace().y() + stopControl().height()) << "below the control";
    screenshots("hint");
    leave(stopControl());
    EXPECT_EQ(stopControl().pos(), stopPlace());
    endFadesInPlace();
    EXPECT_FALSE(shown(&hint())) << "the bubble fades out";

    ASSERT_EQ(model->status().kind, Kind::scanning) << "/usr took too little time to stop";
    QTest::keyClick(hosts[0].get(), Qt::Key_Escape);
    EXPECT_TRUE(model->stopping());
    EXPECT_EQ(stopControl().text(), "Finishing\u2026");
    EXPECT_FALSE(stopControl().isEnabled());
    EXPECT_EQ(stopControl().accessibleName(), "Building partial disk map");
    QTest::keyClick(hosts[0].get(), Qt::Key_Escape);
    EXPECT_EQ(stopRequests, 1) << "a second Escape while finishing does nothing";

    enter(stopControl());
    EXPECT_TRUE(state.stopActionHovered()) << "the highlight still follows the pointer";
    EXPECT_FALSE(shown(&hint())) << "no bubble while stopping";
    EXPECT_EQ(stopControl().pos(), stopPlace()) << "no lift while stopping";
    screenshots("stopping");

    ASSERT_TRUE(scanEnded());
    EXPECT_EQ(model->status().kind, Kind::ready);
    ASSERT_TRUE(model->result());
    EXPECT_TRUE(model->result()->cancelled);
}

// In the content area of the real window, under its menu, top bar and the
// disk header: the default size keeps the full ring with its percentage, a
// shorter one a smaller ring, and the smallest one, too short for a ring,
// shows the percentage beside the bar. Either way the whole column, Stop
// included, fits without scrolling.
TEST(ScanProgressWindow, ThePercentageShowsAtTheDefaultAndSmallestSizes)
{
    QSettings().clear();
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    const testing::TempDir dir;
    const auto tree = fs::canonical(dir.path()) / "tree";
    seedTree(tree, announcedSeed(), 400);
    auto app = std::make_unique<CorvalentApp>();
    app->openMainWindow();
    auto& window = app->mainWindow();
    window.resize(1180, 760);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    // Access granted, so that no warning takes from the content's height.
    app->mainView()->setPageFactory(AppSection::storage, [&app](QWidget* parent) -> QWidget* {
        auto environment = DiskView::Environment::system([] { return FullDiskAccessStatus::granted; });
        return new DiskView(app->mainView()->diskModel(), true, std::move(environment), parent);
    });
    QTest::mouseClick(&app->mainView()->sectionSwitch().button(AppSection::storage), Qt::LeftButton);
    auto& model = app->mainView()->diskModel();
    const auto scanned = [&] {
        model.scan(tree.string());
        return QTest::qWaitFor([&] { return model.status().kind != Kind::scanning; }, 120'000);
    };
    // The first scan gives the second its expected total.
    ASSERT_TRUE(scanned());

    int looked = 0;
    QObject::connect(&model, &DiskModel::progressChanged, &window, [&] {
        if (looked > 0 || model.status().kind != Kind::scanning || !model.estimatedProgress()) return;
        ++looked;
        auto* panel = window.findChild<QWidget*>("scanProgressPanel");
        ASSERT_NE(panel, nullptr);
        auto* area = qobject_cast<QScrollArea*>(panel->parentWidget()->parentWidget());
        ASSERT_NE(area, nullptr);
        // The ring's diameter each size leaves room for; 0 for none.
        const std::array<std::pair<QSize, std::pair<int, int>>, 3> sizes{{
            {{1180, 760}, {170, 170}},
            {{1050, 680}, {88, 169}},  // a smaller one
            {{920, 620}, {0, 0}},
        }};
        for (const auto& [size, diameters] : sizes) {
            window.resize(size);
            // Lays out and ends every fade without delivering the scan's next report.
            QCoreApplication::sendPostedEvents(nullptr, QEvent::LayoutRequest);
            for (auto* animation : window.findChildren<QVariantAnimation*>())
                if (animation->loopCount() == 1) animation->setCurrentTime(animation->duration());
            const auto where = QString("%1x%2").arg(size.width()).arg(size.height()).toStdString();
            const auto shown = [&](const char* name) { return panel->findChild<QWidget*>(name)->isVisibleTo(&window); };
            const bool ringFits = diameters.first > 0;
            EXPECT_EQ(shown("scanRing"), ringFits) << where;
            if (ringFits) {
                const auto ring = panel->findChild<QWidget*>("scanRing")->size();
                EXPECT_EQ(ring.width(), ring.height()) << where;
                EXPECT_GE(ring.width(), diameters.first) << where;
                EXPECT_LE(ring.width(), diameters.second) << where;
            }
            EXPECT_EQ(shown("scanPercent"), ringFits) << where;
            EXPECT_EQ(shown("barPercent"), !ringFits) << where << ": one percentage, in one place";
            const auto percent = progressPercentText(*model.estimatedProgress());
            EXPECT_EQ(panel->findChild<QLabel*>(ringFits ? "scanPercent" : "barPercent")->text(), percent) << where;
            EXPECT_LE(panel->height(), area->viewport()->height()) << where << ": nothing scrolls out of sight";
            for (const bool dark : {false, true}) {
                window.setPalette(dark ? darkPalette() : lightPalette());
                QDir().mkpath(CORVALENT_SCREENSHOTS);
                EXPECT_TRUE(window.grab().save(QString("%1/disk-scan-progress-window-%2x%3-%4.png")
                                                   .arg(CORVALENT_SCREENSHOTS)
                                                   .arg(size.width())
                                                   .arg(size.height())
                                                   .arg(dark ? "dark" : "light")));
            }
        }
        window.setPalette(QPalette());
    });
    ASSERT_TRUE(scanned());
    EXPECT_EQ(looked, 1) << "a report with an estimate comes while the scan runs";
    app.reset();
    for (const auto lane : {TaskLane::files, TaskLane::processes})
        EXPECT_TRUE(BackgroundTask::pool(lane).waitForDone(60'000));
    QCoreApplication::processEvents();
}

}  // namespace
}  // namespace corvalent

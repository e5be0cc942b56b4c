#pragma once

// The overview with real models fed from synthetic samples and injected
// volumes: either the page alone in an opaque host, or the whole main window
// as the application builds it.

#include <QDir>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <optional>

#include "core/common/display.h"
#include "drain_lanes.h"
#include "fresh_sample.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "ui/overview/overview_page.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent::testing {

constexpr std::uint64_t MiB = 1ULL << 20;
constexpr std::uint64_t GiB = 1ULL << 30;

inline QString bytes(std::uint64_t value)
{
    return QString::fromStdString(Display::bytes(value));
}

inline DiskVolume computer(std::uint64_t total, std::uint64_t available)
{
    return {"/", "Computer", "/", DiskCapacity::make("Computer", total, available), true, false};
}

// Opaque colours match to within rounding of their channels.
inline ::testing::AssertionResult sameColour(const QColor& actual, const QColor& expected)
{
    const auto close = [](int a, int b) { return std::abs(a - b) <= 1; };
    const bool same = close(actual.red(), expected.red()) && close(actual.green(), expected.green()) &&
                      close(actual.blue(), expected.blue());
    return (same ? ::testing::AssertionSuccess() : ::testing::AssertionFailure())
           << actual.name().toStdString() << " against " << expected.name().toStdString();
}

// Twenty groups by default: eighteen stoppable tools with one to three
// processes each, and two protected daemons with three between them.
class OverviewFixture : public ::testing::Test {
protected:
    enum class Table { full, none, daemonsOnly };

    Table table = Table::full;
    int tick = 0;
    std::uint64_t memoryScale = 1;
    std::vector<DiskVolume> volumes;
    std::unique_ptr<VantleModel> processes;
    std::unique_ptr<DiskModel> ownDisk;
    DiskModel* disk = nullptr;
    std::unique_ptr<QWidget> window;
    OverviewPage* page = nullptr;

    OverviewFixture()
    {
        QSettings().clear();
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this](const ScanResult*) { return sample(); };
        environment.uptime = [this] { return 1'000.0 + tick; };
        processes = std::make_unique<VantleModel>(std::move(environment));
        processes->setWindowShown(true);
        processes->setShowProtectedProcesses(true);
        ownDisk = std::make_unique<DiskModel>(diskEnvironment());
        disk = ownDisk.get();
    }
    ~OverviewFixture() override
    {
        window.reset();
        drainLanes();
    }

    DiskModelEnvironment diskEnvironment()
    {
        auto environment = DiskModelEnvironment::system();
        environment.volumes = [this] { return volumes; };
        environment.snapshotSummary = [](const std::string&, std::stop_token) {
            return std::optional<APFSSnapshotSummary>();
        };
        return environment;
    }

    ScanResult sample()
    {
        ++tick;
        ScanResult result{
            .records = {}, .pressure = MemoryPressure::normal, .swap = 0, .timestamp = static_cast<double>(tick)};
        if (table == Table::none) return result;
        for (int group = table == Table::daemonsOnly ? 18 : 0; group < 20; ++group) {
            const bool daemon = group >= 18;
            const auto name = (daemon ? "daemon" : "tool") + std::to_string(group);
            const auto path = (daemon ? "/usr/libexec/" : "/opt/" + name + "/bin/") + name;
            // group % 4 percent of one core per process between samples.
            const auto cpuTime = static_cast<std::uint64_t>(tick * (group % 4)) * 10'000'000ULL;
            const auto memory = (group + 1) * 37 * MiB * memoryScale;
            for (int member = 0; member <= group % 3; ++member) {
                const auto pid = 4'000'000 + group * 10 + member;
                const auto start = 1'000 + static_cast<std::uint64_t>(pid);
                result.records.push_back(
                    ProcessRecord::make(pid, 1, ::getuid(), start, cpuTime, memory, name, path, "", ""));
            }
        }
        return result;
    }
    void refreshProcesses()
    {
        ASSERT_TRUE(sampleFromNow(*processes));
        QCoreApplication::processEvents();
    }
    void loadVolumes(std::vector<DiskVolume> list)
    {
        volumes = std::move(list);
        bool done = false;
        disk->loadVolumes(true, [&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 20'000));
        QCoreApplication::processEvents();
    }

    // The page alone in an opaque host of that size.
    void open(QSize size = {1180, 760})
    {
        window = std::make_unique<QWidget>();
        window->setPalette(lightPalette());
        window->setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(window.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(page = new OverviewPage(*processes, *disk));
        show(size);
    }
    // The main window at that size, with its menu bar and the application's
    // font; the overview is the main view's first page, over its own disk model.
    // Without a palette of its own the window follows the application's.
    void openWindow(QSize size, std::optional<QPalette> palette = std::nullopt)
    {
        auto main = std::make_unique<QMainWindow>();
        main->setFont(CorvalentStyle::font(TextStyle::body));
        if (palette) main->setPalette(*palette);
        main->menuBar()->addMenu("Corvalent");
        main->menuBar()->addMenu("View");
        auto* view = new MainView(*processes, diskEnvironment());
        main->setCentralWidget(view);
        disk = &view->diskModel();
        page = qobject_cast<OverviewPage*>(view->currentPage());
        ASSERT_NE(page, nullptr);
        window = std::move(main);
        show(size);
        // Wait out the page's fade-in and the first volume list.
        ASSERT_TRUE(QTest::qWaitFor([&] { return !page->graphicsEffect() && disk->capacity(); }, 20'000));
    }
    void show(QSize size)
    {
        window->resize(size);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        QCoreApplication::processEvents();
    }

    QWidget* named(const QString& name) const { return page->findChild<QWidget*>(name); }
    static QString text(QWidget* within, const char* name) { return within->findChild<QLabel*>(name)->text(); }
    // The widgets of one name that are shown, in creation order.
    std::vector<QWidget*> shown(const QString& name) const
    {
        std::vector<QWidget*> found;
        for (auto* widget : page->findChildren<QWidget*>(name))
            if (widget->isVisibleTo(window.get())) found.push_back(widget);
        return found;
    }
    bool showsText(const QString& text, QWidget* within = nullptr) const
    {
        for (auto* label : (within ? within : static_cast<QWidget*>(page))->findChildren<QLabel*>())
            if (label->text() == text && label->isVisibleTo(window.get())) return true;
        return false;
    }
    QWidget* card(const QString& title) const
    {
        for (auto* card : page->findChildren<QWidget*>("metricCard"))
            if (card->accessibleName() == title) return card;
        return nullptr;
    }
    // Each pair is a card's title and a text it shows.
    void expectCards(const std::vector<std::pair<QString, QString>>& texts) const
    {
        for (const auto& [title, text] : texts) EXPECT_TRUE(showsText(text, card(title))) << text.toStdString();
    }
    QColor pixel(QWidget* widget, QPoint at)
    {
        return window->grab().toImage().pixelColor(widget->mapTo(window.get(), at));
    }
    void screenshot(const QString& name)
    {
        QCoreApplication::processEvents();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(window->grab().save(QString(CORVALENT_SCREENSHOTS) + "/overview-" + name + ".png"));
    }
};

}  // namespace corvalent::testing

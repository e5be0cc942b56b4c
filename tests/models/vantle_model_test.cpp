#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>

#include "models/vantle_model.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// A model whose clock, window and timings the test controls.
struct Harness {
    double now = 1'000.0;
    bool windowShown = true;
    std::atomic<int> samples = 0;
    std::function<ScanResult()> table = [] { return Scanner::scan(); };
    std::unique_ptr<VantleModel> model;

    Harness()
    {
        QSettings().clear();
        auto environment = VantleModelEnvironment::system();
        environment.sample = [this] {
            ++samples;
            return table();
        };
        environment.uptime = [this] { return now; };
        environment.mainWindowShown = [this] { return windowShown; };
        environment.tickMilliseconds = 5;
        environment.stopFollowUpMilliseconds = 100;
        model = std::make_unique<VantleModel>(std::move(environment));
    }

    void refreshNow()
    {
        bool done = false;
        model->refresh([&] { done = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10'000));
    }
    // Confirms twice, as a double click would: only the first stop may run.
    void confirmTwice(const StopRequest& request)
    {
        bool done = false;
        bool secondDone = false;
        model->stop(request, [&] { done = true; });
        model->stop(request, [&] { secondDone = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10'000));
        EXPECT_FALSE(secondDone);
    }
    // Lets the loop tick for a while and reports how many samples it took.
    int samplesDuring(std::chrono::milliseconds span)
    {
        const int before = samples;
        QTest::qWait(static_cast<int>(span.count()));
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 5'000));
        return samples - before;
    }
};

ProcessRecord record(std::int32_t pid, std::string name, std::string path, std::optional<std::uint64_t> memory,
                     std::uint64_t cpuTime = 0)
{
    return ProcessRecord::make(pid, 1, ::getuid(), 1'000 + static_cast<std::uint64_t>(pid), cpuTime, memory,
                               std::move(name), std::move(path), "", "");
}

std::vector<std::string> ids(const std::vector<ProcessGroup>& groups)
{
    std::vector<std::string> out;
    for (const auto& group : groups) out.push_back(group.id);
    return out;
}

TEST(VantleModel, StoppingARealChildReportsItsExit)
{
    const auto bin = testing::tempDirUnderHome();
    const auto sleep = testing::copyExecutable("/bin/sleep", bin.path(), "sleep");
    Harness harness;
    auto& model = *harness.model;
    EXPECT_EQ(model.status(), "Reading local processes…");

    for (const bool force : {false, true}) {
        ChildProcess child(sleep, {"60"}, bin.path());
        harness.refreshNow();
        EXPECT_EQ(model.status(), force ? model.status() : QString("Select only work you are ready to stop."));
        const auto self = Scanner::read(child.pid());
        ASSERT_TRUE(self);
        ASSERT_EQ(model.snapshot()->eligible.count(self->id()), 1U);
        model.setSelected({self->id()});
        model.prepare(force);
        ASSERT_TRUE(model.request());
        EXPECT_EQ(model.request()->records.size(), 1U);
        EXPECT_EQ(model.request()->impacts, std::vector<std::string>{"Stops this process and may interrupt its current work."});

        QSignalSpy statuses(&model, &VantleModel::statusChanged);
        const auto request = *model.request();
        harness.confirmTwice(request);
        const auto status = child.waitFor(5s);
        ASSERT_TRUE(status);
        EXPECT_TRUE(WIFSIGNALED(*status));
        EXPECT_EQ(WTERMSIG(*status), force ? SIGKILL : SIGTERM);
        EXPECT_EQ(model.status(), "1 of 1 selected processes exited. Apps may start new helpers automatically.");
        EXPECT_FALSE(model.stopping());
        EXPECT_FALSE(model.request());
        EXPECT_TRUE(model.selected().empty());
        EXPECT_EQ(statuses.count(), 2) << "one stop: its progress line and its outcome";
    }
}

TEST(VantleModel, SystemProgramsAreNeverEligible)
{
    const testing::TempDir work;  // outside every approved place
    ChildProcess child(testing::copyExecutable("/usr/bin/sleep", work.path(), "sleep"), {"60"}, work.path());
    Harness harness;
    auto& model = *harness.model;
    harness.refreshNow();
    const auto self = Scanner::read(child.pid());
    ASSERT_TRUE(self);
    EXPECT_EQ(model.snapshot()->eligible.count(self->id()), 0U);
    model.setSelected({self->id()});
    EXPECT_TRUE(model.chosen().empty());
    model.prepare(true);
    EXPECT_FALSE(model.request());
    EXPECT_TRUE(child.running());
    harness.refreshNow();
    EXPECT_TRUE(model.selected().empty()) << "a refresh drops what cannot be stopped";
}

TEST(VantleModel, CadenceFollowsTheMainWindow)
{
    Harness harness;
    harness.table = [] { return ScanResult{}; };
    auto& model = *harness.model;
    harness.refreshNow();
    model.start();

    harness.now += 2.9;
    EXPECT_EQ(harness.samplesDuring(100ms), 0);
    harness.now += 0.1;
    EXPECT_GE(harness.samplesDuring(100ms), 1) << "3 s with the main window shown";

    harness.windowShown = false;
    harness.now += 29.0;
    EXPECT_EQ(harness.samplesDuring(100ms), 0);
    harness.now += 1.0;
    EXPECT_GE(harness.samplesDuring(100ms), 1) << "30 s otherwise";

    // A pending stop request pauses the loop; an explicit refresh still runs.
    model.setRequest(StopRequest{});
    harness.now += 60.0;
    EXPECT_EQ(harness.samplesDuring(100ms), 0);
    harness.refreshNow();
    model.setRequest(std::nullopt);
    model.setProcessViewActive(false);
    harness.now += 60.0;
    EXPECT_EQ(harness.samplesDuring(100ms), 0) << "not while the disk workspace is shown";
    model.setProcessViewActive(true);
    EXPECT_GE(harness.samplesDuring(100ms), 1);
}

TEST(VantleModel, MainWindowIsRecognisedByTitleAndState)
{
    const auto shown = VantleModelEnvironment::system().mainWindowShown;
    EXPECT_FALSE(shown());
    QWindow settings;
    settings.setTitle("Settings");
    settings.show();
    EXPECT_FALSE(shown());
    QWindow main;
    main.setTitle("Corvalent");
    main.show();
    EXPECT_TRUE(shown());
    main.showMinimized();
    EXPECT_FALSE(shown());
    main.hide();
    EXPECT_FALSE(shown());
}

TEST(VantleModel, FilterSortAndSelection)
{
    const std::string home = testing::accountHome().string();
    Harness harness;
    // Two samples one second apart: alpha uses 1 % of a core, beta 5 %, and
    // gamma's memory (so its share) is unknown.
    int tick = 0;
    harness.table = [&] {
        ++tick;
        const auto ns = [&](std::uint64_t percent) { return static_cast<std::uint64_t>(tick) * percent * 10'000'000; };
        ScanResult result;
        result.records = {record(10, "alpha", home + "/bin/alpha", 300, ns(1)),
                          record(11, "beta", home + "/bin/beta", 200, ns(5)),
                          record(12, "beta", home + "/bin/beta", 50),
                          record(13, "gamma", home + "/bin/gamma", std::nullopt),
                          record(14, "core", "/usr/bin/core", 900)};
        result.pressure = 3;
        result.timestamp = tick;
        return result;
    };
    auto& model = *harness.model;
    harness.refreshNow();
    harness.refreshNow();
    const std::string a = "process:" + home + "/bin/alpha";
    const std::string b = "process:" + home + "/bin/beta";
    const std::string g = "process:" + home + "/bin/gamma";
    EXPECT_EQ(ids(model.visible()), (std::vector<std::string>{a, b, g})) << "largest memory first";
    EXPECT_EQ(model.hiddenProtectedCount(), 1);
    EXPECT_EQ(model.pressure(), "Unavailable");

    model.setSortCPU(true);
    EXPECT_EQ(ids(model.visible()), (std::vector<std::string>{b, a, g})) << "5.0, 1.0, then no share";
    model.setSearch("GAM");
    EXPECT_EQ(ids(model.visible()), std::vector<std::string>{g});
    model.setSearch("");
    model.setSortCPU(false);
    EXPECT_EQ(ids(model.visible()), (std::vector<std::string>{a, b, g})) << "the sample's order again";
    model.setShowProtectedProcesses(true);
    EXPECT_EQ(model.visible().size(), 4U);
    EXPECT_TRUE(QSettings().value("showProtectedProcesses").toBool());
    EXPECT_EQ(model.hiddenProtectedCount(), 0);

    const auto beta = *std::find_if(model.visible().begin(), model.visible().end(),
                                    [&](const ProcessGroup& group) { return group.id == b; });
    model.setSelected({record(12, "beta", home + "/bin/beta", 50).id()});
    model.toggle(beta);
    EXPECT_EQ(model.selected().size(), 2U) << "a partly selected group becomes fully selected";
    model.toggle(beta);
    EXPECT_TRUE(model.selected().empty());
    model.toggle(beta);
    EXPECT_EQ(model.chosen().front().pid, 11) << "chosen in pid order";
    EXPECT_EQ(model.selectedMemory(), 250U);
    EXPECT_DOUBLE_EQ(model.measuredCPU().value_or(-1), 6.0);

    // A fresh model remembers the protected-process switch.
    Harness again;
    EXPECT_FALSE(again.model->showProtectedProcesses()) << "each harness starts from cleared settings";
    QSettings().setValue("showProtectedProcesses", true);
    VantleModel remembered(VantleModelEnvironment::system());
    EXPECT_TRUE(remembered.showProtectedProcesses());
}

TEST(VantleModel, ImpactReviewOpensOnlyForTheCurrentSelection)
{
    const std::string home = testing::accountHome().string();
    Harness harness;
    harness.table = [&] {
        ScanResult result;
        result.records = {record(20, "tool", home + "/bin/tool", 10), record(21, "other", home + "/bin/other", 10)};
        return result;
    };
    auto& model = *harness.model;
    harness.refreshNow();
    const auto tool = record(20, "tool", home + "/bin/tool", 10).id();
    model.setSelected({tool});
    model.explainSelection();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.impactReview().has_value(); }, 5'000));
    EXPECT_EQ(model.impactReview()->assessment.selectedCount, 1);
    model.setImpactReview(std::nullopt);

    // The selection changes while the assessment runs: no review opens.
    model.explainSelection();
    model.setSelected({tool, record(21, "other", home + "/bin/other", 10).id()});
    QTest::qWait(200);
    EXPECT_FALSE(model.impactReview());
}

}  // namespace
}  // namespace corvalent

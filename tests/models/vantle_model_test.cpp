#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>

#include "models/performance_check.h"
#include "models/vantle_model.h"
#include "drain_lanes.h"
#include "fresh_sample.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

// The running applications of the system, counting the quit requests they pass on.
struct CountedApplications : RunningApplications {
    std::shared_ptr<RunningApplications> system = systemRunningApplications();
    std::atomic<int> quitRequests = 0;

    std::vector<RunningApplication> list(const std::vector<ProcessGroup>& groups) override
    {
        return system->list(groups);
    }
    bool terminate(const RunningApplication& application) override
    {
        ++quitRequests;
        return system->terminate(application);
    }
};

// A model whose clock, window and timings the test controls.
struct Harness {
    std::atomic<double> now = 1'000.0;  // also read by samples, off the GUI thread
    std::atomic<int> samples = 0;
    std::function<ScanResult(const ScanResult*)> table = [](const ScanResult* previous) {
        return Scanner::scan(previous);
    };
    std::shared_ptr<CountedApplications> applications = std::make_shared<CountedApplications>();
    std::unique_ptr<VantleModel> model;

    explicit Harness(bool measurementMode = false, std::optional<ApplicationPlaces> places = std::nullopt)
    {
        QSettings().clear();
        auto environment = VantleModelEnvironment::system();
        if (measurementMode) environment = PerformanceCheck::measuredEnvironment(std::move(environment));
        if (places) environment.applicationPlaces = *places;
        environment.sample = [this](const ScanResult* previous) {
            ++samples;
            return table(previous);
        };
        environment.uptime = [this] { return now.load(); };
        environment.applications = applications;
        environment.tickMilliseconds = 5;
        environment.stopFollowUpMilliseconds = 100;
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setWindowShown(true);
    }

    void refreshNow() { ASSERT_TRUE(sampleFromNow(*model)); }
    // Confirms a request and waits for its outcome; `twice` as a double click
    // would, when only the first stop may run.
    void confirm(const StopRequest& request, bool twice = false)
    {
        bool done = false;
        bool secondDone = false;
        model->stop(request, [&] { done = true; });
        if (twice) model->stop(request, [&] { secondDone = true; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return done; }, 10'000));
        EXPECT_FALSE(secondDone);
    }
    // Lets the started loop tick `ticks` times and reports how many samples
    // those ticks took, once every sample they began has been delivered.
    int samplesDuringTicks(int ticks)
    {
        auto* loop = model->findChild<QTimer*>();
        EXPECT_NE(loop, nullptr) << "the loop runs";
        if (loop == nullptr) return -1;
        const int before = samples;
        int ticked = 0;
        const auto counting = QObject::connect(loop, &QTimer::timeout, [&] { ++ticked; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return ticked >= ticks; }, 10'000));
        QObject::disconnect(counting);
        drainLanes();
        EXPECT_TRUE(QTest::qWaitFor([&] { return !model->scanning(); }, 5'000));
        return samples - before;
    }
    // Waits, however loaded the machine, for `act` to lead to exactly one sample.
    int samplesAfter(const std::function<void()>& act)
    {
        const int before = samples;
        act();
        EXPECT_TRUE(QTest::qWaitFor([&] { return samples > before && !model->scanning(); }, 10'000));
        drainLanes();
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

    for (const bool force : {false, true}) {
        ChildProcess child(sleep, {"60"}, bin.path());
        // The second sample knows the child: its record keeps the texts of
        // the first, and the stop reads everything again for itself.
        harness.refreshNow();
        harness.refreshNow();
        EXPECT_EQ(model.status(), force ? model.status() : QString("Select only work you are ready to stop."));
        const auto self = Scanner::read(child.pid());
        ASSERT_TRUE(self);
        ASSERT_EQ(model.snapshot()->eligible.count(self->id()), 1U);
        model.setSelected({self->id()});
        model.prepare(force);
        ASSERT_TRUE(model.request());
        EXPECT_EQ(model.request()->records.size(), 1U);

        QSignalSpy statuses(&model, &VantleModel::statusChanged);
        const auto request = *model.request();
        harness.confirm(request, true);
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

TEST(VantleModel, EachSampleIsHandedThePreviousOne)
{
    Harness harness;
    std::vector<double> handed;  // appended off the GUI thread, one sample at a time
    harness.table = [&](const ScanResult* previous) {
        handed.push_back(previous ? previous->timestamp : 0);
        ScanResult sample;
        sample.timestamp = static_cast<double>(handed.size());
        return sample;
    };
    harness.refreshNow();
    harness.refreshNow();
    EXPECT_EQ(handed, (std::vector<double>{0, 1}));
}

TEST(VantleModel, CadenceRunsFromTheSamplesOwnTimeAndFollowsTheMainWindow)
{
    Harness harness;
    // A sample that took 2.5 s to arrive: the next is due 3 s after it was taken.
    const auto taken = [&](double lateBy) {
        ScanResult result;
        result.timestamp = harness.now;
        harness.now = result.timestamp + lateBy;
        return result;
    };
    harness.table = [&](const ScanResult*) { return taken(2.5); };
    auto& model = *harness.model;
    harness.refreshNow();
    harness.table = [&](const ScanResult*) { return taken(0); };
    model.start();

    harness.now = harness.now + 0.25;
    EXPECT_EQ(harness.samplesDuringTicks(3), 0);
    EXPECT_EQ(harness.samplesAfter([&] { harness.now = harness.now + 0.25; }), 1)
        << "3 s after the sample was taken, with the main window shown";

    model.setWindowShown(false);
    harness.now = harness.now + 29.0;
    EXPECT_EQ(harness.samplesDuringTicks(3), 0);
    EXPECT_EQ(harness.samplesAfter([&] { harness.now = harness.now + 1.0; }), 1) << "30 s otherwise";

    // A pending stop request pauses the loop; an explicit refresh still runs.
    model.setRequest(StopRequest{});
    harness.now = harness.now + 60.0;
    EXPECT_EQ(harness.samplesDuringTicks(3), 0);
    harness.refreshNow();
    model.setRequest(std::nullopt);
    model.setProcessViewActive(false);
    harness.now = harness.now + 60.0;
    EXPECT_EQ(harness.samplesDuringTicks(3), 0) << "not while the disk workspace is shown";
    EXPECT_EQ(harness.samplesAfter([&] { model.setProcessViewActive(true); }), 1);
}

TEST(VantleModel, FilterSortAndSelection)
{
    const std::string home = testing::accountHome().string();
    Harness harness;
    // Two samples one second apart: alpha uses 1 % of a core, beta 5 %, and
    // gamma's memory (so its share) is unknown.
    int tick = 0;
    harness.table = [&](const ScanResult*) {
        ++tick;
        const auto ns = [&](std::uint64_t percent) { return static_cast<std::uint64_t>(tick) * percent * 10'000'000; };
        ScanResult result;
        result.records = {record(10, "alpha", home + "/bin/alpha", 300, ns(1)),
                          record(11, "beta", home + "/bin/beta", 200, ns(5)),
                          record(12, "beta", home + "/bin/beta", 50),
                          record(13, "gamma", home + "/bin/gamma", std::nullopt),
                          record(14, "core", "/usr/sbin/core", 900)};
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

    model.setSortCPU(true);
    EXPECT_EQ(ids(model.visible()), (std::vector<std::string>{b, a, g})) << "5.0, 1.0, then no share";
    model.setSearch("GAM");
    EXPECT_EQ(ids(model.visible()), std::vector<std::string>{g});
    model.setSearch("");
    model.setSortCPU(false);
    EXPECT_EQ(ids(model.visible()), (std::vector<std::string>{a, b, g})) << "the sample's order again";
    model.setShowProtectedProcesses(true);
    EXPECT_EQ(model.visible().size(), 4U);
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
}

TEST(VantleModel, ImpactReviewOpensOnlyForTheCurrentSelection)
{
    const std::string home = testing::accountHome().string();
    Harness harness;
    harness.table = [&](const ScanResult*) {
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
    drainLanes();
    EXPECT_FALSE(model.impactReview());
}

std::optional<ProcessGroup> findGroup(const VantleModel& model, const std::string& id)
{
    for (const auto& group : model.groups())
        if (group.id == id) return group;
    return std::nullopt;
}

TEST(VantleModel, AWholeApplicationGetsOneQuitRequestUnlessForced)
{
    const auto home = testing::tempDirUnderHome();
    const auto bundle = home.path() / "Tool.app";
    std::filesystem::create_directory(bundle);
    const auto tool = testing::copyExecutable(testing::idleChildProgram(), bundle, "tool");
    const auto helper = testing::copyExecutable(testing::idleChildProgram(), bundle, "helper");
    const std::string checkDialogs = "check for save dialogs or review before force stopping.";
    const struct {
        bool force, ignoresQuit;
        std::string outcome;
        int quitRequests, toolSignal, helperSignal;  // 0: still running
    } cases[] = {
        {false, false, "1 of 2 selected processes exited. 1 still running; " + checkDialogs, 1, SIGTERM, 0},
        {false, true, "0 of 2 selected processes exited. 2 still running; " + checkDialogs, 1, 0, 0},
        {true, false, "2 of 2 selected processes exited.", 0, SIGKILL, SIGKILL},
    };
    for (const auto& expected : cases) {
        // The main process holds the most memory, so it leads the group.
        std::optional<ChildProcess> main;
        struct sigaction ignore {};
        struct sigaction saved {};
        ignore.sa_handler = SIG_IGN;
        if (expected.ignoresQuit) ::sigaction(SIGTERM, &ignore, &saved);  // inherited through exec
        main.emplace(tool, std::vector<std::string>{"--touch", "16"}, home.path());
        if (expected.ignoresQuit) ::sigaction(SIGTERM, &saved, nullptr);
        ChildProcess side(helper, {}, home.path());

        Harness harness;
        auto& model = *harness.model;
        std::optional<ProcessGroup> group;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                harness.refreshNow();
                group = findGroup(model, "app:" + bundle.string());
                return group && group->members.size() == 2 && group->members.front().pid == main->pid();
            },
            10'000));
        model.toggle(*group);
        model.prepare(expected.force);
        ASSERT_TRUE(model.request());
        harness.confirm(*model.request());

        EXPECT_EQ(model.status().toStdString(), expected.outcome + " Apps may start new helpers automatically.");
        EXPECT_EQ(harness.applications->quitRequests, expected.quitRequests);
        for (auto [child, signal] : {std::pair(&*main, expected.toolSignal), std::pair(&side, expected.helperSignal)}) {
            if (signal == 0) {
                EXPECT_TRUE(child->running()) << "not signalled";
                continue;
            }
            const auto status = child->waitFor(5s);
            ASSERT_TRUE(status);
            EXPECT_EQ(WTERMSIG(*status), signal);
        }
        EXPECT_EQ(model.selected().size(), expected.ignoresQuit ? 2U : expected.force ? 0U : 1U)
            << "the survivors stay selected";
    }
}

// An installed application (a desktop entry naming a program in a folder of
// its own): quit request to the main process for the whole application,
// signals to the selected members otherwise.
TEST(VantleModel, InstalledApplicationQuitsThroughItsMainProcess)
{
    const auto home = testing::tempDirUnderHome();
    const auto prefix = std::filesystem::canonical(home.path());
    const auto folder = prefix / "editor";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(prefix / "applications");
    const auto editor = testing::copyExecutable(testing::idleChildProgram(), folder, "editor");
    const auto helper = testing::copyExecutable(testing::idleChildProgram(), folder, "editor-helper");
    std::ofstream(prefix / "applications" / "editor.desktop")
        << "[Desktop Entry]\nType=Application\nName=Editor\nExec=" << editor.string() << " %F\n";
    ApplicationPlaces places;
    places.applicationFolders = {(prefix / "applications").string()};

    for (const bool whole : {true, false}) {
        ChildProcess main(editor, {"--touch", "16"}, prefix);
        ChildProcess side(helper, {}, prefix);
        Harness harness(false, places);
        auto& model = *harness.model;
        std::optional<ProcessGroup> group;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                harness.refreshNow();
                group = findGroup(model, "app:" + folder.string());
                return group && group->members.size() == 2 && group->members.front().pid == main.pid();
            },
            10'000));
        EXPECT_EQ(group->title, "Editor");
        if (whole) {
            model.toggle(*group);
        } else {
            model.setSelected({group->members.back().id()});
        }
        model.prepare(false);
        ASSERT_TRUE(model.request());
        harness.confirm(*model.request());

        EXPECT_EQ(harness.applications->quitRequests, whole ? 1 : 0);
        auto& signalled = whole ? main : side;
        auto& untouched = whole ? side : main;
        const auto status = signalled.waitFor(5s);
        ASSERT_TRUE(status);
        EXPECT_EQ(WTERMSIG(*status), SIGTERM);
        EXPECT_TRUE(untouched.running());
    }
}

TEST(VantleModel, OutcomeCountsSurvivorsAndNamesOnlyThreeFailures)
{
    // Five processes in no approved place, which no stop may touch, and one that ends.
    const testing::TempDir outside;
    const auto home = testing::tempDirUnderHome();
    std::vector<std::unique_ptr<ChildProcess>> children;
    for (const auto* name : {"w1", "w2", "w3", "w4", "w5"})
        children.push_back(std::make_unique<ChildProcess>(
            testing::copyExecutable(testing::idleChildProgram(), outside.path(), name), std::vector<std::string>{},
            outside.path()));
    children.push_back(std::make_unique<ChildProcess>(
        testing::copyExecutable(testing::idleChildProgram(), home.path(), "ends"), std::vector<std::string>{},
        home.path()));

    // A request for all six, as one prepared before five of them became protected.
    StopRequest request{"stale", {}, {}, false};
    for (const auto& child : children) {
        const auto read = Scanner::read(child->pid());
        ASSERT_TRUE(read);
        request.records.push_back(*read);
    }
    std::ranges::sort(request.records, {}, &ProcessRecord::pid);
    QStringList named;  // the first three in pid order
    for (const auto& record : request.records)
        if (record.isProtected() && named.size() < 3) named << QString::fromStdString(record.name) + ": protected";
    ASSERT_EQ(named.size(), 3);

    Harness harness;
    auto& model = *harness.model;
    std::set<std::string> all;
    for (const auto& record : request.records) all.insert(record.id());
    model.setSelected(all);
    harness.refreshNow();
    EXPECT_EQ(model.selected().size(), 1U) << "a refresh drops what cannot be stopped";
    harness.confirm(request);
    EXPECT_EQ(model.status(), "1 of 6 selected processes exited. 5 still running; check for save dialogs or review "
                              "before force stopping. " +
                                  named.join("; ") + " Apps may start new helpers automatically.");
    EXPECT_TRUE(children.back()->waitFor(5s));
    EXPECT_TRUE(model.selected().empty()) << "no survivor can be stopped";
}

TEST(VantleModel, MeasurementModeListsTheFixtureAndStopsNothing)
{
    const auto home = testing::tempDirUnderHome();
    ChildProcess child(testing::copyExecutable(testing::idleChildProgram(), home.path(), "worker"), {}, home.path());
    Harness harness(true);
    harness.table = [&](const ScanResult*) {
        auto fixture = PerformanceCheck::scan();
        if (const auto worker = Scanner::read(child.pid())) fixture.records.push_back(*worker);
        return fixture;
    };
    auto& model = *harness.model;
    harness.refreshNow();
    EXPECT_EQ(model.visible().size(), 2'001U) << "the fixture's protected workers are listed";
    EXPECT_EQ(model.hiddenProtectedCount(), 0);
    ASSERT_EQ(model.snapshot()->eligible.size(), 1U) << "only the real worker could be stopped";
    model.setSelected({model.snapshot()->eligible.begin()->first});

    const StopRequest request{"shown", model.chosen(), {}, true};
    model.setRequest(request);
    model.prepare(false);
    model.explainSelection();
    model.stop(request);
    drainLanes();
    ASSERT_TRUE(model.request());
    EXPECT_EQ(model.request()->id, "shown") << "neither replaced nor cleared";
    EXPECT_FALSE(model.impactReview());
    EXPECT_FALSE(model.stopping());
    EXPECT_TRUE(child.running());
}

}  // namespace
}  // namespace corvalent

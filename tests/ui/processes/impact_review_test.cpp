// The impact review sheet: its texts, a real listening child's port on its
// card, the brief or the reason there is none, and how closing it clears the
// model's review. The language model is a small stand-in, or a model server
// whose answers never end: no real model runs here.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QSettings>
#include <QTest>

#include <fstream>

#include "core/process/impact_explanation.h"
#include "models/background_task.h"
#include "models/language_model.h"
#include "models/vantle_model.h"
#include "fresh_sample.h"
#include "hostile_model_server.h"
#include "live_environments.h"
#include "test_support.h"
#include "ui/processes/review/impact_review_view.h"
#include "ui/processes/review/impact_review_cards.h"
#include "ui/processes/review/impact_review_texts.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/process_page.h"
#include "ui/processes/list/selection_shelf.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;

class FakeLanguageModel : public LanguageModel {
public:
    bool supported = true;
    LanguageModelAvailability state = LanguageModelAvailability::available;
    std::optional<std::string> reply;
    QString error;
    bool holdReply = false;  // answers only when `answer()` is called
    std::vector<std::string> prompts;
    std::shared_ptr<std::atomic<bool>> cancelled;

    bool platformSupported() const override { return supported; }
    void availability(QObject* receiver, std::function<void(LanguageModelAvailability)> done) override
    {
        QMetaObject::invokeMethod(receiver, [this, done] { done(state); }, Qt::QueuedConnection);
    }
    std::shared_ptr<std::atomic<bool>> respond(const std::string&, const std::string& prompt, QObject* receiver,
                                               std::function<void(std::optional<std::string>, QString)> done) override
    {
        prompts.push_back(prompt);
        cancelled = std::make_shared<std::atomic<bool>>(false);
        pending_ = [this, guard = QPointer<QObject>(receiver), done, flag = cancelled] {
            if (!guard.isNull() && !*flag) done(reply, error);
        };
        if (!holdReply) QMetaObject::invokeMethod(receiver, [this] { answer(); }, Qt::QueuedConnection);
        return cancelled;
    }
    void answer()
    {
        if (pending_) std::exchange(pending_, {})();
    }

private:
    std::function<void()> pending_;
};

SelectedImpactGroup group(const std::string& title, bool application, int selected, int available,
                          std::vector<std::string> facts = {})
{
    SelectedImpactGroup result;
    result.id = title;
    result.title = title;
    result.impact = title + " stops.";
    result.isApplication = application;
    result.selectedCount = selected;
    result.availableCount = available;
    result.isCompleteSelection = selected == available;
    result.facts = std::move(facts);
    return result;
}

ImpactAssessment assessment(std::vector<SelectedImpactGroup> groups, int omitted = 0)
{
    ImpactAssessment result;
    for (const auto& each : groups) result.selectedCount += each.selectedCount;
    result.groupCount = static_cast<int>(groups.size()) + omitted;
    result.omittedGroupCount = omitted;
    result.groups = std::move(groups);
    return result;
}

QString text(QWidget& in, const char* name)
{
    auto* label = in.findChild<QLabel*>(name);
    return label != nullptr ? label->text() : QString();
}

QStringList texts(QWidget& in, const char* name)
{
    QStringList result;
    for (auto* label : in.findChildren<QLabel*>(name)) result << label->text();
    return result;
}

void screenshot(QWidget& widget, const QString& name)
{
    settle();
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    EXPECT_TRUE(widget.grab().save(QString(CORVALENT_SCREENSHOTS) + "/impact-review-" + name + ".png"));
}

const QString saveSummary = QStringLiteral(
    "The system can show save prompts or refuse the quit. Corvalent will not force close anything from this action.");
const QString signalSummary = QStringLiteral(
    "Complete apps get a normal quit request. Individual helpers and tools stop without an app-level save prompt.");

TEST(ImpactReviewTexts, OneAppHelpersOnlyAndAMix)
{
    using namespace ImpactReviewTexts;
    const auto oneApp = assessment({group("Mail", true, 3, 3)});
    EXPECT_EQ(actionTitle(oneApp), "1 app will be asked to quit normally");
    EXPECT_EQ(actionSummary(oneApp), saveSummary);
    EXPECT_EQ(checksBeforeStopping(oneApp), QStringList{"Finish or save anything you want to keep in Mail."});

    // Only some helpers of an application: a signal group with its own check.
    const auto helpers = assessment({group("Code", true, 1, 4, {"Selected processes: 1", "3 helpers not selected"})});
    EXPECT_EQ(actionTitle(helpers), "1 selected process will receive stop signals");
    EXPECT_EQ(actionSummary(helpers), signalSummary);
    EXPECT_EQ(usefulFacts(helpers.groups[0]), QStringList{"3 helpers not selected"});
    EXPECT_EQ(checksBeforeStopping(helpers),
              (QStringList{"Finish or save anything you want to keep in Code.",
                           "Review Code: only 1 of 4 stoppable processes are selected.",
                           "Some child processes will remain running and may lose their parent service."}));

    const auto mix = assessment({group("Mail", true, 2, 2), group("node", false, 1, 1)});
    EXPECT_EQ(actionTitle(mix), "1 app will quit normally; 1 group will receive stop signals");
}

TEST(ImpactReviewTexts, ChecksStopAtFourAndTheTitleCountsEverySelectedGroup)
{
    using namespace ImpactReviewTexts;
    auto many = assessment({group("A", true, 1, 1), group("B", true, 1, 1), group("C", true, 1, 1),
                            group("D", true, 1, 1), group("e", false, 1, 2), group("f", false, 1, 2)},
                           2);
    many.highImpactNotes = {"Stops CONTAINERS", "other containers too"};
    const auto checks = checksBeforeStopping(many);
    ASSERT_EQ(checks.size(), 4);
    EXPECT_EQ(checks[0], "Finish or save anything you want to keep in A, B, C.");
    EXPECT_EQ(checks[1], "Pause important container or database writes before quitting the container runtime.");
    EXPECT_EQ(checks[2], "Review e: only 1 of 2 stoppable processes are selected.");
    // The check names the container runtime that was selected.
    auto podman = assessment({group("Podman", true, 1, 1), group("Docker", true, 1, 1), group("A", true, 1, 1)});
    podman.highImpactNotes = {"Local containers or databases may be interrupted."};
    EXPECT_EQ(checksBeforeStopping(podman)[1],
              "Pause important container or database writes before quitting Podman, Docker.");
    // Two groups lie beyond the preview: the title counts them as signal groups.
    EXPECT_EQ(actionTitle(many), "4 apps will quit normally; 4 groups will receive stop signals");
    EXPECT_TRUE(omittedLine(0).isEmpty());

    // Fourteen complete apps, twelve of them listed: the two beyond the list
    // are not known to be apps, so the stop is not all normal quits.
    std::vector<SelectedImpactGroup> apps;
    for (int i = 0; i < 12; ++i) apps.push_back(group("App " + std::to_string(i), true, 1, 1));
    const auto fourteen = assessment(apps, 2);
    EXPECT_EQ(normalQuitCount(fourteen), 12);
    EXPECT_EQ(actionTitle(fourteen), "12 apps will quit normally; 2 groups will receive stop signals");
    EXPECT_EQ(actionSummary(fourteen), signalSummary);
    EXPECT_EQ(actionTitle(assessment(apps)), "12 apps will be asked to quit normally");
    EXPECT_EQ(actionSummary(assessment(apps)), saveSummary);
    // One omitted group beside one listed app: the singular of each.
    EXPECT_EQ(actionTitle(assessment({group("Mail", true, 1, 1)}, 1)),
              "1 app will quit normally; 1 group will receive stop signals");
}

// The sheet on its own, over a review of constructed groups.
class ImpactReviewViewTest : public ::testing::Test {
protected:
    FakeLanguageModel language;
    std::unique_ptr<ImpactReviewView> sheet;

    ImpactReviewViewTest() { language.reply = "Mail will ask to save its drafts."; }
    ~ImpactReviewViewTest() override
    {
        sheet.reset();
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::processes).waitForDone(30'000));
        QCoreApplication::processEvents();
    }
    ImpactReviewView& open(ImpactAssessment facts, const QPalette& palette = lightPalette())
    {
        sheet = std::make_unique<ImpactReviewView>(ImpactReview{"r", std::move(facts), {}}, language);
        sheet->setPalette(palette);
        sheet->open();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet.get()));
        return *sheet;
    }
    bool settled()
    {
        return QTest::qWaitFor([&] { return sheet->phase() != ImpactReviewView::Phase::loading; }, 10'000);
    }
};

TEST_F(ImpactReviewViewTest, ShowsTheActionChecksCardsAndTheBrief)
{
    auto& shown = open(assessment({group("Mail", true, 2, 2), group("Code", true, 1, 3, {"Selected processes: 1",
                                                                                       "Uses 1.2 GB of memory"})},
                                  1));
    EXPECT_EQ(text(shown, "impactActionTitle"), "1 app will quit normally; 2 groups will receive stop signals");
    EXPECT_EQ(texts(shown, "impactCheck"),
              (QStringList{"Finish or save anything you want to keep in Mail, Code.",
                           "Review Code: only 1 of 3 stoppable processes are selected."}));
    EXPECT_EQ(texts(shown, "impactChipText"), (QStringList{"Normal app quit", "Selected helpers only"}));
    EXPECT_EQ(texts(shown, "impactFact"), QStringList{"Uses 1.2 GB of memory"});
    EXPECT_EQ(shown.cards().size(), 2U);
    ASSERT_TRUE(settled());
    EXPECT_EQ(shown.phase(), ImpactReviewView::Phase::ready);
    EXPECT_EQ(shown.explanation(), "Mail will ask to save its drafts.");
    screenshot(shown, "light");

    // Escape closes and ends the sheet like Done.
    bool finished = false;
    QObject::connect(&shown, &QDialog::finished, [&] { finished = true; });
    QTest::keyClick(&shown, Qt::Key_Escape);
    EXPECT_TRUE(finished);
    EXPECT_FALSE(shown.isVisible());
}

TEST_F(ImpactReviewViewTest, EveryReasonForNoBriefIsShownInItsPlace)
{
    const auto facts = assessment({group("Mail", true, 1, 1)});
    for (const auto state : {LanguageModelAvailability::notEnabled, LanguageModelAvailability::notReady,
                             LanguageModelAvailability::unsupported}) {
        language.state = state;
        open(facts);
        ASSERT_TRUE(settled());
        EXPECT_EQ(sheet->explanation(), availabilityMessage(state));
    }
    EXPECT_TRUE(language.prompts.empty()) << "nothing is sent while the model is unavailable";

    language.state = LanguageModelAvailability::available;
    language.supported = false;
    open(facts, darkPalette());
    ASSERT_TRUE(settled());
    EXPECT_EQ(sheet->explanation(), unsupportedSystemMessage());
    screenshot(*sheet, "dark-unavailable");

    language.supported = true;
    language.reply = "Nothing in particular.";  // names no group and no port
    open(facts);
    ASSERT_TRUE(settled());
    EXPECT_EQ(sheet->explanation(), noInsightMessage());

    language.reply.reset();
    language.error = "connection refused";
    open(facts);
    ASSERT_TRUE(settled());
    EXPECT_EQ(sheet->phase(), ImpactReviewView::Phase::unavailable);
    EXPECT_EQ(sheet->explanation(), failureMessage());
}

TEST_F(ImpactReviewViewTest, ClosingWhileTheModelAnswersLeavesNoMessageAndCancelsIt)
{
    language.holdReply = true;
    auto& shown = open(assessment({group("Mail", true, 1, 1)}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !language.prompts.empty(); }, 10'000));
    shown.doneButton().click();
    ASSERT_TRUE(language.cancelled);
    EXPECT_TRUE(*language.cancelled);
    language.answer();
    QCoreApplication::processEvents();
    EXPECT_EQ(shown.phase(), ImpactReviewView::Phase::loading);
    EXPECT_TRUE(shown.explanation().isEmpty());
}

TEST_F(ImpactReviewViewTest, ClosedBeforeTheProbeAnswersNothingIsAskedButThePortsAreKept)
{
    auto& shown = open(assessment({group("Mail", true, 1, 1)}));
    bool ports = false;
    QObject::connect(&shown, &ImpactReviewView::portsShown, [&] { ports = true; });
    shown.reject();  // before the probe's answer has come back
    ASSERT_TRUE(QTest::qWaitFor([&] { return ports; }, 30'000));
    drainLanes();
    settle();
    EXPECT_TRUE(language.prompts.empty());
    EXPECT_EQ(shown.phase(), ImpactReviewView::Phase::loading);
}

// The real road: a real listening child sampled by the real model, the
// review opened through the main view.
class ImpactRoadTest : public ::testing::Test {
protected:
    testing::TempDir bin = testing::tempDirUnderHome();
    ProcessIconStore icons;
    std::unique_ptr<VantleModel> model;
    std::unique_ptr<MainView> view;
    FakeLanguageModel* language = nullptr;

    ImpactRoadTest()
    {
        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        auto fake = std::make_unique<FakeLanguageModel>();
        language = fake.get();
        open(liveProcessEnvironment(), std::move(fake));
    }
    // The main view on the process page, over a model of `environment`.
    void open(VantleModelEnvironment environment, std::unique_ptr<LanguageModel> briefs)
    {
        view.reset();
        drainProcessLane();
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setWindowShown(true);
        view = std::make_unique<MainView>(*model, quietDiskEnvironment());
        view->setLanguageModel(std::move(briefs));
        view->setPageFactory(AppSection::processes,
                             [this](QWidget* parent) -> QWidget* { return new ProcessPage(*model, icons, parent); });
        view->setSection(AppSection::processes);
        view->resize(1180, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    // A child listening on a TCP port of its own; returns the port.
    int listen(std::unique_ptr<testing::ChildProcess>& child)
    {
        const auto portFile = bin.path() / "port";
        const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), "porthold");
        child = std::make_unique<testing::ChildProcess>(program, std::vector<std::string>{"--listen", portFile.string()},
                                                        bin.path());
        EXPECT_TRUE(QTest::qWaitFor([&] { return std::filesystem::exists(portFile); }, 5'000));
        int port = 0;
        std::ifstream(portFile) >> port;
        return port;
    }
    ~ImpactRoadTest() override
    {
        view.reset();
        drainProcessLane();
    }
    ImpactReviewView* sheet()
    {
        for (auto* dialog : view->findChildren<ImpactReviewView*>())
            if (dialog->isVisible()) return dialog;
        return nullptr;
    }
    std::string idOf(pid_t pid) { return recordIDFromNow(*model, pid); }
};

TEST_F(ImpactRoadTest, AListeningChildsPortIsOnItsCardAndInThePrompt)
{
    std::unique_ptr<testing::ChildProcess> listener;
    const int port = listen(listener);
    ASSERT_GT(port, 0);
    auto& child = *listener;
    language->reply = "porthold serves TCP " + std::to_string(port) + "; its clients will disconnect.";

    model->setSelected({idOf(child.pid())});
    model->explainSelection();
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr; }, 10'000));
    auto& shown = *sheet();
    ASSERT_TRUE(QTest::qWaitFor([&] { return shown.phase() != ImpactReviewView::Phase::loading; }, 15'000));
    ASSERT_EQ(shown.cards().size(), 1U);
    EXPECT_EQ(shown.cards().front()->portText(),
              QString("Listening on TCP %1; connected clients may disconnect.").arg(port));
    ASSERT_EQ(language->prompts.size(), 1U);
    EXPECT_NE(language->prompts.front().find(std::to_string(port)), std::string::npos);
    EXPECT_EQ(shown.phase(), ImpactReviewView::Phase::ready);
    screenshot(shown, "listening-port");

    QTest::keyClick(&shown, Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->impactReview().has_value(); }, 2'000));
    EXPECT_TRUE(child.running()) << "a review stops nothing";
}

TEST_F(ImpactRoadTest, ClosingAReplacedSheetLeavesItsSuccessorOpen)
{
    model->setImpactReview(ImpactReview{"first", assessment({group("Mail", true, 1, 1)}), {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr; }, 2'000));
    QPointer<ImpactReviewView> first = sheet();
    model->setImpactReview(ImpactReview{"second", assessment({group("Code", true, 1, 1)}), {}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr && sheet() != first; }, 2'000));
    QCoreApplication::processEvents();
    ASSERT_TRUE(model->impactReview().has_value());
    EXPECT_EQ(model->impactReview()->id, "second") << "the replaced sheet's close kept its successor";
    EXPECT_EQ(sheet()->reviewID(), "second");

    sheet()->doneButton().click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !model->impactReview().has_value(); }, 2'000));
    EXPECT_EQ(sheet(), nullptr);
}

TEST_F(ImpactRoadTest, ExplainEscapeExplainOpensAFreshSheetEveryTime)
{
    // Whatever listens on the model port answers every request without end;
    // samples come one after another.
    testing::HostileModelServer modelPort("/api/tags", testing::HostileModelServer::Kind::chunked);
    auto environment = liveProcessEnvironment();
    environment.tickMilliseconds = 20;
    environment.shownInterval = 0.05;
    open(environment, std::make_unique<LocalModelServer>(modelPort.port()));
    std::unique_ptr<testing::ChildProcess> listener;
    ASSERT_GT(listen(listener), 0);
    model->setSelected({idOf(listener->pid())});
    model->start();
    auto* shelf = view->findChild<SelectionShelf*>();
    ASSERT_NE(shelf, nullptr);
    auto& explain = shelf->explainButton();

    QString previous;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        // Every other round waits for a new sample; the others ask again at once.
        if (round % 2 == 0) {
            const auto sampled = model->lastRefreshedAt();
            ASSERT_TRUE(QTest::qWaitFor([&] { return model->lastRefreshedAt() != sampled; }, 10'000));
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return explain.isEnabled(); }, 10'000));
        QTest::mouseClick(&explain, Qt::LeftButton);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet() != nullptr; }, 10'000));
        auto& shown = *sheet();
        EXPECT_NE(shown.reviewID(), previous);
        previous = shown.reviewID();
        if (round % 2 == 0) {
            // The flood ends at its cap: the sheet says there is no model.
            ASSERT_TRUE(QTest::qWaitFor([&] { return shown.phase() != ImpactReviewView::Phase::loading; }, 10'000));
            EXPECT_EQ(shown.explanation(), availabilityMessage(LanguageModelAvailability::notEnabled));
        } else {
            // Closed while the flood pours in.
            const int asked = modelPort.hostileRequests();
            ASSERT_TRUE(QTest::qWaitFor([&] { return modelPort.hostileRequests() > asked; }, 10'000));
        }
        QTest::keyClick(&shown, Qt::Key_Escape);
        EXPECT_FALSE(model->impactReview().has_value());
    }
    EXPECT_TRUE(listener->running()) << "a review stops nothing";
}

}  // namespace
}  // namespace corvalent

// The selection shelf and the stop confirmation on a real model sampling the
// real process table, inside the real main view, stopping real children.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QSettings>
#include <QTest>

#include <csignal>
#include <memory>
#include <sys/wait.h>

#include "core/common/display.h"
#include "fresh_sample.h"
#include "models/background_task.h"
#include "models/vantle_model.h"
#include "live_environments.h"
#include "test_support.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/process_page.h"
#include "ui/processes/list/process_list_view.h"
#include "ui/processes/list/selection_shelf.h"
#include "ui/processes/stop/stop_confirmation.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/labels.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::ChildProcess;

const QString exitedOne = QStringLiteral("1 of 1 selected processes exited. Apps may start new helpers automatically.");

class StopRoadTest : public ::testing::Test {
protected:
    testing::TempDir bin = testing::tempDirUnderHome();
    std::vector<std::unique_ptr<ChildProcess>> children;
    std::unique_ptr<VantleModel> model;
    std::unique_ptr<ProcessIconStore> icons = std::make_unique<ProcessIconStore>();
    std::unique_ptr<MainView> view;

    StopRoadTest()
    {
        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        auto environment = liveProcessEnvironment();
        // Long enough to act while a stop is under way.
        environment.stopFollowUpMilliseconds = 1'500;
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setWindowShown(true);
        view = std::make_unique<MainView>(*model, quietDiskEnvironment());
        view->setPageFactory(AppSection::processes,
                             [this](QWidget* parent) { return new ProcessPage(*model, *icons, parent); });
        view->setSection(AppSection::processes);
        view->resize(1180, 760);
        view->show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(view.get()));
    }
    ~StopRoadTest() override
    {
        view.reset();
        drainProcessLane();
    }

    ChildProcess& start(const std::string& name)
    {
        const auto program = testing::copyExecutable(testing::idleChildProgram(), bin.path(), name);
        children.push_back(std::make_unique<ChildProcess>(program, std::vector<std::string>{}, bin.path()));
        return *children.back();
    }
    void refresh()
    {
        ASSERT_TRUE(sampleFromNow(*model));
        settle();  // the shelf redraws once per turn of the event loop
    }
    std::string idOf(const ChildProcess& child)
    {
        auto id = recordIDFromNow(*model, child.pid());
        settle();
        return id;
    }
    void select(std::set<std::string> ids)
    {
        model->setSelected(std::move(ids));
        settle();
    }
    SelectionShelf& shelf() { return *view->currentPage()->findChild<SelectionShelf*>(); }
    // The sheet on screen, if any.
    StopConfirmation* sheet()
    {
        for (auto* dialog : view->findChildren<StopConfirmation*>())
            if (dialog->isVisible()) return dialog;
        return nullptr;
    }
    QString text(QWidget& in, const char* name) { return in.findChild<QLabel*>(name)->text(); }
    void waitUntilStopped()
    {
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model->stopping(); }, 30'000));
        QCoreApplication::processEvents();
    }
    void screenshot(QWidget& widget, const QString& name)
    {
        settle();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(widget.grab().save(QString(CORVALENT_SCREENSHOTS) + "/stop-road-" + name + ".png"));
    }
};

TEST(StopTexts, CountsAndRecordsReadAsShown)
{
    EXPECT_EQ(ShelfTexts::headline(3, 412ULL << 20), "3 selected \u00b7 412 MB");
    EXPECT_EQ(StopTexts::subtitle(2), "2 selected processes");
}

TEST_F(StopRoadTest, TheShelfFollowsWhatAStopWouldTakeAndWhetherOneRuns)
{
    auto& child = start("zq-shelf-one");
    refresh();
    auto& bar = shelf();
    const auto actions = [&] {
        return std::vector<bool>{bar.explainButton().isEnabled(), bar.forceButton().isEnabled(),
                                 bar.stopButton().isEnabled()};
    };
    EXPECT_EQ(bar.headlineText(), "Ready when you are");
    EXPECT_EQ(bar.glyph(), "circle.dotted");
    EXPECT_EQ(bar.statusText(), model->status());
    EXPECT_EQ(bar.findChild<QLabel*>("shelfStatus")->toolTip(), model->status());
    EXPECT_FALSE(bar.clearButton().isVisibleTo(&bar));
    EXPECT_EQ(actions(), std::vector<bool>({false, false, false}));
    EXPECT_FALSE(bar.lifted());

    select({"999999:1"});
    EXPECT_EQ(bar.headlineText(), "Ready when you are") << "ids no sample lists as stoppable count for nothing";
    EXPECT_EQ(actions(), std::vector<bool>({false, false, false}));

    select({idOf(child)});
    EXPECT_EQ(bar.headlineText(), "1 selected \u00b7 " + QString::fromStdString(Display::bytes(model->selectedMemory())));
    EXPECT_EQ(bar.glyph(), "checkmark.circle.fill");
    EXPECT_TRUE(bar.clearButton().isVisibleTo(&bar));
    EXPECT_EQ(actions(), std::vector<bool>({true, true, true}));
    EXPECT_EQ(bar.lifted(), !AppMotion::reduceMotion());
    screenshot(*view, "shelf-selected");

    // Clear by keys empties the selection and hides itself: the focus goes back to the list.
    bar.clearButton().setFocus(Qt::TabFocusReason);
    QTest::keyClick(&bar.clearButton(), Qt::Key_Space);
    settle();
    EXPECT_TRUE(model->chosen().empty());
    EXPECT_EQ(view->window()->focusWidget(), view->currentPage()->findChild<ProcessListView*>());
    select({idOf(child)});

    QTest::mouseClick(&bar.stopButton(), Qt::LeftButton);
    ASSERT_NE(sheet(), nullptr);
    QTest::mouseClick(&sheet()->confirmButton(), Qt::LeftButton);
    EXPECT_TRUE(model->stopping());
    QCoreApplication::processEvents();
    EXPECT_EQ(actions(), std::vector<bool>({false, false, false})) << "nothing more while a stop runs";
    EXPECT_TRUE(bar.clearButton().isVisibleTo(&bar));

    const auto status = child.waitFor(10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
    waitUntilStopped();
    EXPECT_EQ(bar.statusText(), exitedOne);
    EXPECT_EQ(bar.headlineText(), "Ready when you are") << "the ended process leaves the selection";
}

TEST_F(StopRoadTest, TheSheetStartsOnCancelNoKeyConfirmsAndEscapeStopsNothing)
{
    auto& child = start("zq-sheet-keys");
    refresh();
    select({idOf(child)});
    QTest::mouseClick(&shelf().forceButton(), Qt::LeftButton);
    auto* shown = sheet();
    ASSERT_NE(shown, nullptr);
    EXPECT_EQ(text(*shown, "stopTitle"), "Force stop?");
    EXPECT_EQ(text(*shown, "stopSubtitle"), "1 selected process");
    EXPECT_EQ(text(*shown, "stopNote"), StopTexts::methodNote(true));
    EXPECT_EQ(text(*shown, "stopRecord"), QString("zq-sheet-keys \u00b7 PID %1").arg(child.pid()));
    EXPECT_EQ(shown->confirmButton().kind(), Button::Kind::destructive);
    screenshot(*shown, "sheet-force");

    shown->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(shown));
    EXPECT_EQ(QApplication::focusWidget(), &shown->cancelButton());
    QTest::keyClick(shown, Qt::Key_Enter);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), &shown->confirmButton()) << "Tab reaches the stop";
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(&shown->confirmButton(), key);
    drainLanes();
    settle();
    EXPECT_EQ(sheet(), shown) << "Return confirms nothing and closes nothing";
    EXPECT_TRUE(model->request());
    EXPECT_FALSE(model->stopping());

    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCoreApplication::processEvents();
    EXPECT_EQ(sheet(), nullptr);
    EXPECT_FALSE(model->request());
    EXPECT_FALSE(model->stopping());
    EXPECT_TRUE(child.running());
}

TEST_F(StopRoadTest, AReplacedRequestNeverStopsAndASecondConfirmationDuringAStopIsRefused)
{
    auto& first = start("zq-road-first");
    auto& second = start("zq-road-second");
    refresh();
    select({idOf(first)});
    model->prepare(false);
    QPointer<StopConfirmation> replaced = sheet();
    ASSERT_TRUE(replaced);

    select({idOf(second)});
    model->prepare(false);
    ASSERT_TRUE(model->request());
    auto* current = sheet();
    ASSERT_NE(current, nullptr);
    EXPECT_NE(current, replaced.data()) << "a new request gets a sheet of its own";
    EXPECT_EQ(current->requestID(), model->request()->id) << "closing the old sheet left the new request alone";
    if (replaced) replaced->confirmButton().click();
    EXPECT_FALSE(model->stopping()) << "the replaced request stops nothing";

    QTest::mouseClick(&current->confirmButton(), Qt::LeftButton);
    ASSERT_TRUE(model->stopping());
    // A request slipped in while stopping: its sheet opens, its confirmation is refused.
    auto late = *model->snapshot();
    StopRequest again{"late", {}, {}, false};
    for (const auto& record : late.result.records)
        if (record.pid == first.pid()) again.records.push_back(record);
    model->setRequest(again);
    ASSERT_NE(sheet(), nullptr);
    sheet()->confirmButton().click();

    const auto status = second.waitFor(10s);
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFSIGNALED(*status) && WTERMSIG(*status) == SIGTERM);
    waitUntilStopped();
    EXPECT_EQ(model->status(), exitedOne) << "one stop, of one process";
    EXPECT_TRUE(first.running());
    QTest::keyClick(sheet(), Qt::Key_Escape);
}

}  // namespace
}  // namespace corvalent

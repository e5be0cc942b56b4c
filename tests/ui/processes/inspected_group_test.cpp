// Which group the inspector shows: the one the person chose in the list, on
// the offscreen process page over real children the tests start and end.
#include <gtest/gtest.h>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QTest>

#include <algorithm>
#include <chrono>

#include "processes/process_page_fixture.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/inspector/process_inspector_cards.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/list/process_row_delegate.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;

class InspectedGroup : public ProcessPageFixture {
protected:
    InspectedGroup()
    {
        auto environment = liveProcessEnvironment();
        environment.stopFollowUpMilliseconds = 200;
        model = std::make_unique<VantleModel>(std::move(environment));
        model->setWindowShown(true);
    }

    ProcessListView& list() { return page->listPane().list(); }
    ProcessListModel& rows() { return list().rows(); }
    QLineEdit& field() { return page->listPane().searchField(); }
    ProcessInspector& inspector() { return *page->findChild<ProcessInspector*>(); }
    std::string idOf(const std::string& title)
    {
        for (int row = 0; row < rows().rowCount(); ++row)
            if (rows().row(row).title == title) return rows().row(row).id;
        return {};
    }
    std::string currentID() { return list().currentIndex().isValid() ? rows().row(list().currentIndex().row()).id : ""; }
    void clickRow(const std::string& title)
    {
        const auto row = rows().rowOf(idOf(title));
        ASSERT_TRUE(row) << title;
        const auto area = list().rowDelegate().rowRect(list().visualRect(rows().index(*row)), *row);
        QTest::mouseClick(list().viewport(), Qt::LeftButton, {},
                          QPoint(static_cast<int>(area.left() + 140), static_cast<int>(area.center().y())));
    }
    // Typed into the search field, which has the focus as it would after a click.
    void typeSearch(const QString& text)
    {
        QTest::mouseClick(&field(), Qt::LeftButton);
        ASSERT_TRUE(field().hasFocus());
        field().selectAll();
        QTest::keyClicks(&field(), text);
        QCoreApplication::processEvents();
    }
    // What the inspector's header names, or "" over the placeholder.
    std::string shownTitle()
    {
        QCoreApplication::processEvents();  // past the coalesced redraw
        if (inspector().showsPlaceholder()) return {};
        return inspector().header().findChild<QLabel*>("inspectorTitle")->text().toStdString();
    }
    void screenshot(const QString& name)
    {
        QCoreApplication::processEvents();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        EXPECT_TRUE(host.grab().save(QString(CORVALENT_SCREENSHOTS) + "/inspected-group-" + name + ".png"));
    }
    void endChild(pid_t pid)
    {
        for (auto& child : children)
            if (child != nullptr && child->pid() == pid) child.reset();
    }
};

// Picked in the list, a group stays in the inspector while a search typed in
// the field hides its row, and while a refresh takes the row of another
// group the focus left; when its own processes end, the inspector says so.
TEST_F(InspectedGroup, ThePickedGroupStaysThroughSearchesAndRefreshesAndItsEndIsSaid)
{
    start("zq-pick-apple");
    const auto berryPID = start("zq-pick-berry").pid();
    start("zq-pick-cherry");
    open();
    refresh();
    typeSearch("zq-pick-");
    ASSERT_EQ(rows().rowCount(), 3);
    EXPECT_FALSE(list().currentIndex().isValid()) << "no current row while the field has the focus";

    clickRow("zq-pick-apple");
    const auto apple = idOf("zq-pick-apple");
    ASSERT_EQ(model->focused(), apple);
    EXPECT_EQ(currentID(), apple);
    typeSearch("zq-pick-berry");
    ASSERT_EQ(rows().rowCount(), 1);
    EXPECT_EQ(model->focused(), apple) << "the search hid the picked group: it stays";
    EXPECT_EQ(shownTitle(), "zq-pick-apple");
    EXPECT_FALSE(list().currentIndex().isValid());
    screenshot("hidden-by-search");
    list().setCurrentIndex(rows().index(0));
    EXPECT_EQ(model->focused(), apple) << "nor does a row made current while the list lacks the focus";

    // The list picks again and the focus goes to the field: a refresh then
    // takes the row the list had current, as the picked group's processes end.
    typeSearch("zq-pick-");
    clickRow("zq-pick-berry");
    const auto berry = idOf("zq-pick-berry");
    ASSERT_EQ(model->focused(), berry);
    QTest::mouseClick(&field(), Qt::LeftButton);
    endChild(berryPID);
    refresh();
    ASSERT_EQ(rows().rowCount(), 2);
    EXPECT_EQ(model->focused(), berry) << "the refresh left the inspector alone";
    EXPECT_EQ(shownTitle(), "");
    EXPECT_EQ(inspector().endedText(), "\u201czq-pick-berry\u201d is no longer running.");
    EXPECT_TRUE(inspector().findChild<QWidget*>("inspectorEnded")->isVisibleTo(&inspector()));
    screenshot("ended");
    clickRow("zq-pick-cherry");
    EXPECT_EQ(shownTitle(), "zq-pick-cherry");
    EXPECT_EQ(inspector().endedText(), "");

    // A group the settings leave out, whose process still runs, has not ended.
    start("wireplumber");
    model->setShowProtectedProcesses(true);
    refresh();
    typeSearch("wireplumber");
    ASSERT_GE(rows().rowCount(), 1);
    clickRow("wireplumber");
    ASSERT_EQ(shownTitle(), "wireplumber");
    model->setShowProtectedProcesses(false);
    EXPECT_EQ(shownTitle(), "");
    EXPECT_EQ(inspector().endedText(), "");
}

// Tab into the list makes its first row current for the keys, and Qt makes a
// row current of its own accord after a reset: neither is inspected. The
// keys, a click and a stop still move the inspector.
TEST_F(InspectedGroup, OnlyTheKeysAClickAndAStopMoveTheInspectorNotTabNorQt)
{
    for (const auto* name : {"zq-road-one", "zq-road-two", "zq-road-three", "zq-road-four"}) start(name);
    open();
    refresh();
    typeSearch("zq-road-t");
    ASSERT_EQ(rows().rowCount(), 2);
    list().setFocus(Qt::TabFocusReason);
    EXPECT_EQ(list().currentIndex().row(), 0) << "Tab makes the first row current";
    EXPECT_FALSE(model->focused()) << "and leaves the inspector alone";
    QTest::keyClick(&list(), Qt::Key_Down);
    EXPECT_EQ(model->focused(), rows().row(1).id) << "a key moves it";
    QTest::keyClick(&list(), Qt::Key_Up);
    const auto picked = rows().row(0).id;
    EXPECT_EQ(model->focused(), picked);

    typeSearch("zq-road-");
    ASSERT_EQ(rows().rowCount(), 4);
    list().setFocus(Qt::TabFocusReason);
    EXPECT_EQ(currentID(), picked) << "Tab comes back to the inspected group's row";
    typeSearch("zq-road-f");
    list().setFocus(Qt::TabFocusReason);
    EXPECT_EQ(currentID(), idOf("zq-road-four"));
    EXPECT_EQ(model->focused(), picked) << "the first row Tab made current is not inspected";
    EXPECT_TRUE(list().showsFocusRing());

    list().clearFocus();
    list().reset();
    list().setFocus(Qt::ActiveWindowFocusReason);
    ASSERT_TRUE(list().hasFocus());
    EXPECT_EQ(currentID(), idOf("zq-road-four")) << "Qt made the first row current itself";
    EXPECT_EQ(model->focused(), picked) << "which is not inspected";
    QTest::keyClick(&list(), Qt::Key_Return);
    EXPECT_EQ(model->focused(), idOf("zq-road-four")) << "Return picks it";

    // A click, then a stop of the clicked group: the focus comes back to the
    // list on the row that took its place, which the inspector shows.
    typeSearch("zq-road-");
    clickRow("zq-road-two");
    ASSERT_EQ(model->focused(), idOf("zq-road-two"));
    const int at = list().currentIndex().row();
    QTest::keyClick(&list(), Qt::Key_Space);
    ASSERT_EQ(model->chosen().size(), 1U);
    model->prepare(false);
    ASSERT_TRUE(model->request());
    model->stop(*model->request());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model->stopping(); }, 20'000));
    QCoreApplication::processEvents();
    ASSERT_EQ(rows().rowCount(), 3);
    EXPECT_TRUE(list().hasFocus());
    EXPECT_EQ(list().currentIndex().row(), std::min(at, 2));
    EXPECT_EQ(model->focused(), currentID()) << "the stop hands the inspector the row it rests on";
    EXPECT_EQ(shownTitle(), rows().row(list().currentIndex().row()).title);
}

}  // namespace
}  // namespace corvalent

// The process page offscreen, on a real model sampling the real process table,
// with real child processes the tests start under names of their choosing.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <memory>
#include <span>

#include "core/common/display.h"
#include "models/background_task.h"
#include "models/vantle_model.h"
#include "processes/process_page_fixture.h"
#include "test_support.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/inspector/process_inspector.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_pane.h"
#include "ui/processes/list/selection_shelf.h"
#include "ui/processes/process_page.h"
#include "ui/processes/list/process_row_delegate.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using testing::ChildProcess;
using Glyph = ProcessTexts::Glyph;

TEST(ProcessTexts, FiguresAndStatesReadAsShown)
{
    EXPECT_EQ(ProcessTexts::measuredCPU(352.6), "353%") << "a share of one core can pass 100";
    EXPECT_EQ(ProcessTexts::count(12'345), "12,345");
    EXPECT_EQ(ProcessTexts::cpu(12.34), "12.3% CPU");
    EXPECT_EQ(ProcessTexts::cpu(std::nullopt), "CPU \u2014");
    EXPECT_EQ(ProcessTexts::memory(3ULL << 29, true), "\u2265 1.5 GB");
    EXPECT_EQ(ProcessTexts::glyph({"1:1", "2:2"}, {"2:2", "9:9"}), Glyph::mixed);
    EXPECT_EQ(ProcessTexts::glyph({"1:1"}, {"1:1", "9:9"}), Glyph::checked);
    EXPECT_EQ(ProcessTexts::listNotice(true, false, true), ProcessTexts::ListNotice::none)
        << "an empty list waits for the refresh under way";
}

TEST_F(ProcessPageTest, SearchNarrowsToTheChildAndItsClearButtonEmptiesIt)
{
    start("zq-needle");
    open();
    EXPECT_EQ(pane().noticeText(), "Reading processes\u2026");
    refresh();
    const auto all = rows().rowCount();
    ASSERT_GT(all, 1);
    EXPECT_EQ(pane().noticeText(), "");
    EXPECT_EQ(labelText("groupCount"), QString("%1 groups on this computer").arg(all));
    EXPECT_EQ(labelText("lastScan"), QString("Last scan %1 ms").arg(model->scanMS()));
    EXPECT_FALSE(pane().clearButton().isVisibleTo(&host));
    EXPECT_EQ(pane().searchField().accessibleName(), "Search processes");

    search("ZQ-NEE");
    EXPECT_EQ(model->search(), "ZQ-NEE");
    ASSERT_EQ(rows().rowCount(), 1);
    EXPECT_EQ(title(0), "zq-needle");
    ASSERT_TRUE(pane().clearButton().isVisibleTo(&host));
    EXPECT_EQ(pane().clearButton().accessibleName(), "Clear search");
    list().setFocus(Qt::TabFocusReason);
    EXPECT_EQ(list().currentIndex().row(), 0) << "with no current row, Tab makes the first current";
    EXPECT_FALSE(model->focused()) << "but does not inspect it";

    QTest::mouseClick(&pane().clearButton(), Qt::LeftButton);
    EXPECT_EQ(model->search(), "");
    EXPECT_EQ(pane().searchField().text(), "");
    EXPECT_FALSE(pane().clearButton().isVisibleTo(&host));
    EXPECT_EQ(rows().rowCount(), all);

    // No match with groups listed is an empty result, not a list still loading.
    search("no such work anywhere");
    EXPECT_EQ(rows().rowCount(), 0);
    EXPECT_EQ(pane().noticeText(), "No processes found\nTry another search or show protected processes in Settings.");
    QTest::keyClick(&pane().searchField(), Qt::Key_Escape);
    EXPECT_EQ(rows().rowCount(), all);
}

TEST_F(ProcessPageTest, SortingByCPUPutsTheSpinningChildFirst)
{
    start("zq-sort-heavy", {"--touch", "48"});
    start("zq-sort-spin", {"--spin"});
    open();
    // Sampled until the spinning child's CPU share shows.
    const auto spinnerBusy = [&] {
        for (const auto& group : model->visible()) {
            if (group.title == "zq-sort-spin" && group.cpu.value_or(0) > 1) return true;
        }
        return false;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { refresh(); return spinnerBusy(); }, 20'000));
    search("zq-sort");
    ASSERT_EQ(rows().rowCount(), 2);
    EXPECT_EQ(title(0), "zq-sort-heavy") << "memory order first";

    QTest::mouseClick(pane().sortControl().segment(1), Qt::LeftButton);
    EXPECT_TRUE(model->sortCPU());
    EXPECT_EQ(title(0), "zq-sort-spin");
    QTest::mouseClick(pane().sortControl().segment(0), Qt::LeftButton);
    EXPECT_FALSE(model->sortCPU());
    EXPECT_EQ(title(0), "zq-sort-heavy");
}

TEST_F(ProcessPageTest, TheGlyphSelectsTheGroupAndTheFootprintChipFollowsWhatAStopWouldTake)
{
    auto& child = start("zq-pick");
    open();
    refresh();
    search("zq-pick");
    ASSERT_EQ(rows().rowCount(), 1);
    EXPECT_EQ(rows().glyph(0), Glyph::empty);
    EXPECT_EQ(rows().data(rows().index(0), Qt::AccessibleDescriptionRole).toString(), "Select zq-pick");

    click(glyphCentre(0));
    ASSERT_EQ(model->chosen().size(), 1U);
    EXPECT_EQ(model->chosen()[0].pid, child.pid());
    EXPECT_EQ(rows().glyph(0), Glyph::checked);
    EXPECT_EQ(rows().data(rows().index(0), Qt::AccessibleDescriptionRole).toString(), "Deselect zq-pick");
    EXPECT_EQ(list().rowDelegate().glyphHelp(0), "Select zq-pick");
    EXPECT_FALSE(model->focused()) << "the glyph selects without focusing";
    QCoreApplication::processEvents();
    EXPECT_TRUE(emphasized("Selected footprint"));
    EXPECT_EQ(chipValue("Selected footprint"), QString::fromStdString(Display::bytes(model->selectedMemory())));

    click(glyphCentre(0));
    EXPECT_TRUE(model->chosen().empty());
    EXPECT_EQ(rows().glyph(0), Glyph::empty);

    // From the keyboard: Space selects the row Tab made current, which is not inspected.
    list().clearFocus();
    list().setFocus(Qt::TabFocusReason);
    ASSERT_EQ(list().currentIndex().row(), 0);
    EXPECT_FALSE(model->focused());
    QTest::keyClick(&list(), Qt::Key_Space);
    EXPECT_EQ(model->chosen().size(), 1U);
    QTest::keyClick(&list(), Qt::Key_Space);
    EXPECT_TRUE(model->chosen().empty());

    // An id no sample lists as stoppable selects nothing a stop would take.
    model->setSelected({"999999:1"});
    QCoreApplication::processEvents();
    EXPECT_FALSE(emphasized("Selected footprint"));
    EXPECT_EQ(chipValue("Selected footprint"), "0 MB");
}

// Readers meet the rows as cells of a list: a row is selected while its whole
// group is, its Toggle chooses or clears the group, and its text counts the
// processes in words.
TEST_F(ProcessPageTest, AReadersToggleOnARowChoosesItsGroupAndTheSortSegmentsSort)
{
    const auto toggle = QAccessibleActionInterface::toggleAction();
    start("zq-reader-pair");
    start("zq-reader-pair");
    start("zq-reader-one");
    open();
    refresh();
    search("zq-reader-");
    ASSERT_EQ(rows().rowCount(), 2);
    const int pair = title(0) == "zq-reader-pair" ? 0 : 1;
    auto* reader = QAccessible::queryAccessibleInterface(&list());
    const auto row = [&](int at) { return reader->child(at); };
    ASSERT_NE(row(pair), nullptr);
    EXPECT_TRUE(row(pair)->text(QAccessible::Name).startsWith("zq-reader-pair, "))
        << row(pair)->text(QAccessible::Name).toStdString();
    EXPECT_TRUE(row(pair)->text(QAccessible::Name).contains(", 2 processes, "));
    EXPECT_TRUE(row(1 - pair)->text(QAccessible::Name).contains(", 1 process, "))
        << row(1 - pair)->text(QAccessible::Name).toStdString();
    EXPECT_FALSE(row(pair)->state().selected);

    ASSERT_TRUE(row(pair)->actionInterface()->actionNames().contains(toggle));
    row(pair)->actionInterface()->doAction(toggle);
    QCoreApplication::processEvents();
    EXPECT_EQ(model->chosen().size(), 2U);
    EXPECT_EQ(rows().glyph(pair), Glyph::checked);
    EXPECT_TRUE(row(pair)->state().selected);
    EXPECT_FALSE(row(1 - pair)->state().selected);
    EXPECT_FALSE(model->focused()) << "choosing does not focus";
    row(pair)->actionInterface()->doAction(toggle);
    QCoreApplication::processEvents();
    EXPECT_TRUE(model->chosen().empty());
    EXPECT_FALSE(row(pair)->state().selected);

    // Chosen by its glyph, the row reads selected; clicks elsewhere and
    // Select All choose nothing more.
    click(glyphCentre(1 - pair));
    EXPECT_TRUE(row(1 - pair)->state().selected);
    click(titleSpot(pair));
    EXPECT_EQ(model->focused(), rows().row(pair).id);
    list().setFocus();
    QTest::keyClick(&list(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(model->chosen().size(), 1U);
    EXPECT_EQ(rows().glyph(pair), Glyph::empty);

    auto* cpu = QAccessible::queryAccessibleInterface(pane().sortControl().segment(1));
    EXPECT_EQ(cpu->role(), QAccessible::RadioButton);
    cpu->actionInterface()->doAction(toggle);
    EXPECT_TRUE(model->sortCPU());
}

TEST_F(ProcessPageTest, AProtectedGroupIsLockedAndTheFilterControlsFollowTheSetting)
{
    auto& child = start("wireplumber");
    open();
    refresh();
    ASSERT_GE(model->hiddenProtectedCount(), 1);
    auto& badge = pane().hiddenBadge();
    EXPECT_TRUE(badge.isVisibleTo(&host));
    EXPECT_FALSE(pane().includeSystem().isVisibleTo(&host));
    EXPECT_EQ(badge.findChild<QLabel*>()->text(), QString("%1 protected hidden").arg(model->hiddenProtectedCount()));

    model->setShowProtectedProcesses(true);
    EXPECT_FALSE(badge.isVisibleTo(&host));
    ASSERT_TRUE(pane().includeSystem().isVisibleTo(&host));
    QTest::mouseClick(&pane().includeSystem(), Qt::LeftButton, {}, QPoint(8, pane().includeSystem().height() / 2));
    EXPECT_TRUE(model->showSystem());
    search("no such work anywhere");
    EXPECT_EQ(pane().noticeText(), "No processes found\nTry another search or include system processes.");

    search("wireplumber");
    std::optional<int> row;
    for (int i = 0; i < rows().rowCount(); ++i)
        for (const auto& member : model->visible()[static_cast<std::size_t>(i)].members)
            if (member.pid == child.pid()) row = i;
    ASSERT_TRUE(row);
    EXPECT_EQ(rows().glyph(*row), Glyph::locked);
    EXPECT_EQ(list().rowDelegate().glyphHelp(*row), "Critical system service");
    click(glyphCentre(*row));
    EXPECT_TRUE(model->selected().empty()) << "a locked glyph selects nothing";
    EXPECT_EQ(model->focused(), rows().row(*row).id) << "the click reaches the row instead";
}

TEST_F(ProcessPageTest, RowsUpdateInPlaceKeepingScrollAndCurrentRowAndAClickFocuses)
{
    for (int i = 0; i < 14; ++i) start("zq-row-" + std::to_string(100 + i));
    open();
    refresh();
    search("zq-row-");
    ASSERT_EQ(rows().rowCount(), 14);

    click(titleSpot(2));
    EXPECT_EQ(model->focused(), rows().row(2).id);
    EXPECT_EQ(rows().data(rows().index(2), Qt::DisplayRole).toString(), title(2));

    auto* bar = list().verticalScrollBar();
    ASSERT_GT(bar->maximum(), 0) << "the rows overflow the pane";
    list().setCurrentIndex(rows().index(9));
    bar->setValue(bar->maximum() / 2);
    const int scrolled = bar->value();
    const auto current = rows().row(9).id;
    EXPECT_EQ(model->focused(), current) << "the row the program made current is inspected";
    QSignalSpy resets(&rows(), &QAbstractItemModel::modelReset);
    QSignalSpy removals(&rows(), &QAbstractItemModel::rowsRemoved);
    QSignalSpy inspected(model.get(), &VantleModel::focusedChanged);

    QSignalSpy insertions(&rows(), &QAbstractItemModel::rowsInserted);
    children[12].reset();  // a row after the current one leaves
    start("zq-row-200");   // and another arrives
    refresh();
    refresh();
    EXPECT_EQ(rows().rowCount(), 14);
    EXPECT_EQ(removals.count(), 1);
    EXPECT_EQ(insertions.count(), 1);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(bar->value(), scrolled);
    ASSERT_TRUE(list().currentIndex().isValid());
    EXPECT_EQ(rows().row(list().currentIndex().row()).id, current);

    // Sorting moves the rows; the current row goes with its group.
    model->setSortCPU(true);
    EXPECT_EQ(resets.count(), 0);
    EXPECT_EQ(rows().row(list().currentIndex().row()).id, current);
    for (int i = 0; i < rows().rowCount(); ++i) EXPECT_EQ(rows().row(i).id, model->visible()[std::size_t(i)].id);
    EXPECT_EQ(inspected.count(), 0) << "refreshes that keep the current row leave the inspector alone";

    // The current row's process ends: the row after it takes its place, and
    // the inspector says the group it shows has ended.
    const int at = list().currentIndex().row();
    const auto heir = rows().row(at + 1 < rows().rowCount() ? at + 1 : at - 1).id;
    const auto ended = title(at);
    const auto pid = std::ranges::find(model->visible(), current, &ProcessGroup::id)->members.front().pid;
    for (auto& child : children)
        if (child != nullptr && child->pid() == pid) child.reset();
    refresh();
    ASSERT_TRUE(list().currentIndex().isValid());
    EXPECT_EQ(rows().row(list().currentIndex().row()).id, heir);
    EXPECT_EQ(model->focused(), current);
    EXPECT_EQ(page->findChild<ProcessInspector*>()->endedText(),
              QString("\u201c%1\u201d is no longer running.").arg(ended));
    EXPECT_TRUE(model->selected().empty()) << "a row made current is not chosen";
}

TEST_F(ProcessPageTest, TheInspectorFollowsItsSettingAndThePageIsPictured)
{
    for (int i = 0; i < 8; ++i) start("zq-shot-" + std::to_string(i), {"--touch", std::to_string(4 * (8 - i))});
    QSettings().setValue("showInspector", false);
    open();
    model->setShowProtectedProcesses(true);
    refresh();
    EXPECT_FALSE(page->inspector().isVisibleTo(&host));
    EXPECT_GT(pane().width(), 1100) << "the list takes the whole split";

    page->setShowInspector(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page->inspector().width() == 390; }, 3'000));
    EXPECT_TRUE(page->inspector().isVisibleTo(&host));
    click(titleSpot(1));
    screenshot("light-1180");
    search("no such work anywhere");
    screenshot("light-1180-no-match");

    host.setPalette(darkPalette());
    search("zq-shot");
    click(glyphCentre(2));
    screenshot("dark-1180");
    host.resize(920, 620);
    QCoreApplication::processEvents();
    EXPECT_GE(pane().width(), 475);
    EXPECT_GE(page->inspector().width(), 330);
    screenshot("dark-920");
    host.setPalette(lightPalette());
    pane().searchField().clear();
    model->setSearch({});
    screenshot("light-920");
}

TEST_F(ProcessPageTest, RowsPassUnderTheOpaqueShelfButComeToRestAboveIt)
{
    for (int i = 0; i < 9; ++i) start("zq-under-" + std::to_string(i));
    open({1180, 760});
    refresh();
    ASSERT_GE(rows().rowCount(), 10);
    const int shelfTop = page->shelf().geometry().top();
    const auto bottomOf = [&](const QWidget& widget, int bottom) { return widget.mapTo(page, QPoint(0, bottom)).y(); };
    ASSERT_LT(shelfTop, bottomOf(*list().viewport(), list().viewport()->height())) << "the shelf floats over the list";

    // Rows are drawn down to the shelf's top, never in the gap below it, and
    // neither is what the inspector shows.
    const auto band = [&](QWidget& shown) {
        QImage drawn(shown.size(), QImage::Format_ARGB32_Premultiplied);
        drawn.fill(Qt::transparent);
        shown.render(&drawn, {}, {}, QWidget::DrawChildren);
        const int top = shelfTop - shown.mapTo(page, QPoint(0, 0)).y();
        int inked = 0;
        for (int y = std::max(0, top); y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) inked += qAlpha(drawn.pixel(x, y)) > 0 ? 1 : 0;
        return inked;
    };
    auto& inspector = *page->inspector().findChild<ProcessInspector*>();
    auto& details = *inspector.scrollArea().parentWidget();
    EXPECT_EQ(band(*list().viewport()), 0);
    EXPECT_EQ(band(details), 0) << "the placeholder";

    // Each row the arrow keys reach rests whole above the shelf, a row's gap
    // clear of it, and so does the scroll bar. The last row's group shows
    // in the inspector.
    list().setFocus(Qt::TabFocusReason);
    for (int step = 0; step < rows().rowCount(); ++step) {
        QTest::keyClick(&list(), Qt::Key_Down);
        const auto row = list().currentIndex().row();
        const auto area = list().rowDelegate().rowRect(list().visualRect(list().currentIndex()), row).toAlignedRect();
        EXPECT_LE(bottomOf(*list().viewport(), area.bottom()) + ProcessRowDelegate::rowSpacing, shelfTop)
            << "row " << row;
    }
    settle();
    ASSERT_FALSE(inspector.showsPlaceholder());
    EXPECT_EQ(band(*list().viewport()), 0);
    EXPECT_EQ(band(details), 0) << "the inspector's details";
    auto* bar = list().findChild<OverlayScrollBar*>();
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_LE(bottomOf(*bar, bar->height()), shelfTop);

    // What passes under the shelf never shows through it: it is opaque.
    auto& shelf = *page->findChild<SelectionShelf*>();
    QImage alone(shelf.size(), QImage::Format_ARGB32_Premultiplied);
    alone.fill(Qt::transparent);
    shelf.render(&alone, {}, {}, QWidget::DrawChildren);
    auto* headline = shelf.findChild<QLabel*>("shelfHeadline");
    EXPECT_EQ(qAlpha(alone.pixel(headline->geometry().center())), 255);
}

// Rows wholly inside the list's area and above the shelf floating over it.
int rowsShown(ProcessPage& page)
{
    auto& list = page.listPane().list();
    const QRect viewport(list.viewport()->mapTo(&page, QPoint(0, 0)), list.viewport()->size());
    const auto clear = viewport.intersected(QRect(0, 0, page.width(), page.shelf().geometry().top()));
    int shown = 0;
    for (int row = 0; row < list.rows().rowCount(); ++row) {
        const auto area = list.rowDelegate().rowRect(list.visualRect(list.rows().index(row)), row).toAlignedRect();
        if (clear.contains(QRect(list.viewport()->mapTo(&page, area.topLeft()), area.size()))) ++shown;
    }
    return shown;
}

TEST_F(ProcessPageTest, OnAShortPageThePartsAboveTheListGiveWayUntilFiveRowsClearTheShelf)
{
    for (int i = 0; i < 6; ++i) start("zq-fold-" + std::to_string(i));
    // The page below the window's top bar and menu; in a tall window, as
    // drawn, nothing folded.
    constexpr int chrome = 65;
    open({1180, 900});
    host.layout()->setContentsMargins(0, chrome, 0, 0);
    refresh();
    ASSERT_GE(rows().rowCount(), 6);
    const auto shows = [&](const char* name) { return page->findChild<QWidget*>(name)->isVisibleTo(&host); };
    // The list's controls on the search field's line.
    const auto joined = [&] {
        auto& search = pane().searchField();
        return pane().sortControl().mapTo(&host, QPoint(0, 0)).y() < search.mapTo(&host, QPoint(0, search.height())).y();
    };
    const auto drawn = [&] {
        EXPECT_EQ(page->foldedParts(), 0);
        for (const auto* name : {"pageHeader", "pageTitles", "metricChips", "pageCaption", "paneTitle"})
            EXPECT_TRUE(shows(name)) << name;
        EXPECT_FALSE(joined());
        EXPECT_GE(rowsShown(*page), 5);
    };
    settle();
    drawn();

    // Shorter and shorter, down to 960×540 under a title bar and below: parts
    // fold in order, never unfold, and the list keeps five rows above the
    // shelf while folding can give them room.
    int folded = 0;
    for (const int height : {694, 680, 640, 600, 560, 520, 480, 454, 451, 440, 400, 300}) {
        host.resize(958, height + chrome);
        settle();
        EXPECT_GE(page->foldedParts(), folded) << height;
        folded = page->foldedParts();
        EXPECT_EQ(shows("pageCaption"), folded < 1) << height;
        EXPECT_EQ(shows("pageTitles"), folded < 2) << height;
        EXPECT_EQ(shows("paneTitle"), folded < 3) << height;
        EXPECT_EQ(shows("pageHeader"), folded < 4) << height;
        EXPECT_EQ(joined(), folded >= 5) << height;
        if (folded < 5 || height >= 451) {
            EXPECT_GE(rowsShown(*page), 5) << height << ", " << folded << " folded";
        }
        EXPECT_TRUE(pane().searchField().isVisibleTo(&host)) << "the search field never folds";
        if (height == 451) screenshot("light-960x540-folded");
    }
    EXPECT_EQ(folded, 5);
    EXPECT_LT(rowsShown(*page), 5) << "too short for five rows even folded";

    // Room again: everything comes back.
    host.resize(1180, 900);
    settle();
    drawn();
}

// The page folds on its own height: a taller window never shows fewer than
// the five rows a shorter one keeps, at the usual height (760) against a
// pixel less or anywhere above the least height that holds five. (A part
// taller than a row takes a sixth row with it as it unfolds.)
TEST_F(ProcessPageTest, ATallerWindowNeverShowsFewerThanTheRowsKept)
{
    for (int i = 0; i < 12; ++i) start("zq-grow-" + std::to_string(i));
    constexpr int chrome = 65;  // the window's top bar and menu above the page
    open({1180, 760});
    host.layout()->setContentsMargins(0, chrome, 0, 0);
    refresh();
    ASSERT_GE(rows().rowCount(), 12);
    const auto rowsAt = [&](int height) {
        host.resize(1180, height);
        settle();
        return rowsShown(*page);
    };
    for (int height : {759, 760}) EXPECT_GE(rowsAt(height), 5) << height << ": the usual height and a pixel less";
    for (int height = 451 + chrome; height <= 900; height += 3) EXPECT_GE(rowsAt(height), 5) << height;
}

}  // namespace
}  // namespace corvalent

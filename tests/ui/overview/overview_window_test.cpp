// The overview inside the main window at its default and smallest sizes:
// what fits without scrolling, which texts stay whole, what shows through
// the page, and what the running-work panel says with nothing to list.
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include "overview/overview_fixture.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/overlay_scroll_bar.h"

namespace corvalent {
namespace {

using Overview = testing::OverviewFixture;
using testing::computer;
using testing::GiB;
using testing::sameColour;

struct Appearance {
    const char* name;
    QPalette palette;
};

std::vector<Appearance> appearances()
{
    return {{"light", lightPalette()}, {"dark", darkPalette()}};
}

// Seven rows, both footers, no scrolling; the hero gradient shows through the page.
TEST_F(Overview, SevenRowsFitTheDefaultWindowWithoutScrolling)
{
    volumes = {computer(500 * GiB, 180 * GiB)};
    refreshProcesses();
    for (const auto& [name, palette] : appearances()) {
        SCOPED_TRACE(name);
        openWindow({1180, 760}, palette);
        const auto& scroll = page->scrollArea();
        ASSERT_EQ(shown("groupRow").size(), 7U);
        EXPECT_EQ(scroll.verticalScrollBar()->maximum(), 0)
            << "the page is " << page->height() << " high; its content needs "
            << scroll.widget()->minimumSizeHint().height();
        EXPECT_FALSE(page->findChild<OverlayScrollBar*>()->isVisible());
        const auto footers = shown("panelFooter");
        ASSERT_EQ(footers.size(), 2U);
        for (auto* footer : footers) {
            const QRect area(footer->mapTo(scroll.viewport(), QPoint(0, 0)), footer->size());
            EXPECT_TRUE(scroll.viewport()->rect().contains(area)) << "a footer below the fold";
        }

        const auto background = CorvalentStyle::windowBackground(palette);
        EXPECT_FALSE(sameColour(pixel(page, {4, 4}), background)) << "the gradient is covered";
        EXPECT_TRUE(sameColour(pixel(page, {4, page->height() - 4}), background));
        screenshot(QString("1180x760-") + name);
    }
}

// At the smallest window the page scrolls, over its padding, and every card
// text is drawn whole.
TEST_F(Overview, TheSmallestWindowScrollsAndKeepsCardTextsWhole)
{
    volumes = {computer(500 * GiB, 180 * GiB)};
    refreshProcesses();
    refreshProcesses();  // CPU shares need a second sample
    for (const auto& [name, palette] : appearances()) {
        SCOPED_TRACE(name);
        openWindow({920, 620}, palette);
        for (auto* card : page->findChildren<QWidget*>("metricCard")) {
            for (const char* part : {"metricTitle", "metricValue", "metricState"}) {
                const auto* label = card->findChild<ElidedLabel*>(part);
                EXPECT_EQ(label->drawnText(), label->text()) << part;
                EXPECT_EQ(label->drawnFont().pixelSize(), label->font().pixelSize()) << part << " shrank";
            }
        }
        auto& scroll = page->scrollArea();
        auto* bar = scroll.verticalScrollBar();
        ASSERT_GT(bar->maximum(), 0);
        EXPECT_EQ(scroll.viewport()->width(), page->width()) << "scrolling takes no width from the content";
        screenshot(QString("920x620-") + name);

        // The overlay drags the page to its end.
        auto* overlay = page->findChild<OverlayScrollBar*>();
        ASSERT_TRUE(overlay->isVisible());
        EXPECT_EQ(overlay->geometry().right(), scroll.viewport()->geometry().right());
        EXPECT_LE(overlay->width(), 24) << "wider than the page's padding";
        const auto thumb = overlay->thumb().center().toPoint();
        QTest::mousePress(overlay, Qt::LeftButton, {}, thumb);
        QTest::mouseMove(overlay, {thumb.x(), overlay->height() + 40});
        QTest::mouseRelease(overlay, Qt::LeftButton, {}, {thumb.x(), overlay->height() + 40});
        EXPECT_EQ(bar->value(), bar->maximum());
        // At the end both panels show whole, none squeezed under what its content needs.
        for (auto* footer : shown("panelFooter"))
            EXPECT_TRUE(scroll.viewport()->rect().contains(footer->mapTo(scroll.viewport(), QPoint(0, 41))));
        for (auto* panel : {named("runningWorkPanel"), named("diskSpacePanel")})
            EXPECT_GE(panel->height(), panel->minimumSizeHint().height()) << panel->objectName().toStdString();
    }
}

// "Reading" only until the first sample; then what the settings hide.
TEST_F(Overview, AnEmptyListSaysReadingOnlyBeforeTheFirstSample)
{
    table = Table::daemonsOnly;
    processes->setShowProtectedProcesses(false);
    open();
    auto* detail = named("emptyDetail");
    EXPECT_TRUE(showsText("Reading processes\u2026"));
    EXPECT_FALSE(detail->isVisibleTo(window.get()));

    refreshProcesses();
    EXPECT_FALSE(showsText("Reading processes\u2026"));
    EXPECT_TRUE(showsText("No running work to show"));
    EXPECT_TRUE(showsText("3 protected processes hidden"));
    EXPECT_TRUE(showsText("0 visible groups"));
    EXPECT_EQ(shown("panelFooter").size(), 1U) << "only the disk panel's";
    screenshot("nothing-visible");

    processes->setShowProtectedProcesses(true);
    QCoreApplication::processEvents();
    EXPECT_EQ(shown("groupRow").size(), 2U);

    table = Table::none;
    refreshProcesses();
    EXPECT_TRUE(showsText("No running work to show"));
    EXPECT_FALSE(detail->isVisibleTo(window.get())) << "nothing is hidden";
}

}  // namespace
}  // namespace corvalent

// Where the kit's controls take keyboard focus and how they show it.
#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QTest>
#include <gtest/gtest.h>

#include "keyboard_walk.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

// The ring on a filled button stands out from the fill inside it and from
// the sheet around it, by 3:1 at least, in both appearances, hovered or not;
// and the button draws it so. Every other ring stands out 3:1 from each
// surface a control sits on.
TEST(FocusRing, OnAFilledButtonItStandsOutFromTheFillAndTheSheet)
{
    for (const auto& [name, palette] : {std::pair("light", lightPalette()), std::pair("dark", darkPalette())}) {
        const auto sheet = CorvalentStyle::windowBackground(palette);
        for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button})
            EXPECT_GE(Contrast::ratio(FocusRing::colour(palette), palette.color(role)), 3.0) << name << " " << role;
        for (const auto& fill : {CorvalentStyle::teal(), CorvalentStyle::red(), CorvalentStyle::teal().lighter(106),
                                 CorvalentStyle::red().lighter(106)}) {
            const auto bands = FocusRing::bandsOnFill(palette, fill);
            EXPECT_GE(Contrast::ratio(bands.inner, fill), 3.0) << name << " " << fill.name().toStdString();
            EXPECT_GE(Contrast::ratio(bands.outer, sheet), 3.0) << name << " " << fill.name().toStdString();
        }

        QWidget host;
        host.setPalette(palette);
        auto* row = new QHBoxLayout(&host);
        auto* before = new QLineEdit;
        auto* button = new Button(Button::Kind::prominent, "Move to Trash");
        auto* plain = new Button(Button::Kind::bordered, "Cancel");
        row->addWidget(before);
        row->addWidget(button);
        row->addWidget(plain);
        host.show();
        ASSERT_TRUE(activate(host));
        before->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(before, Qt::Key_Tab);
        ASSERT_TRUE(button->hasFocus());
        settle();
        const auto image = button->grab().toImage();
        const auto bands = FocusRing::bandsOnFill(palette, CorvalentStyle::teal());
        const auto near = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 40;
        };
        const int middle = image.width() / 2;
        EXPECT_TRUE(near(image.pixelColor(middle, 0), bands.outer)) << name << ": the outer band at the edge";
        EXPECT_TRUE(near(image.pixelColor(middle, 2), bands.inner)) << name << ": the inner band inside it";
        EXPECT_TRUE(near(image.pixelColor(middle, 6), CorvalentStyle::teal())) << name << ": then the fill";
        QTest::keyClick(button, Qt::Key_Tab);
        ASSERT_TRUE(plain->hasFocus());
        settle();
        EXPECT_EQ(plain->grab().toImage().pixel(plain->width() / 2, 1), FocusRing::colour(palette).rgb()) << name;
    }
}

// Tab enters a row of segments at the chosen one, also when the program or
// a pointer chose it after another segment had focus; arrows move within.
TEST(SegmentedControl, TabEntersAtTheChosenSegment)
{
    QWidget host;
    auto* row = new QHBoxLayout(&host);
    auto* before = new QLineEdit;
    auto* control = new SegmentedControl("Disk list");
    auto* after = new QLineEdit;
    std::vector<Segment*> segments;
    for (const auto* title : {"Map", "Review", "Files", "Storage"})
        segments.push_back(control->addSegment(title, {}, static_cast<int>(segments.size())));
    row->addWidget(before);
    row->addWidget(control);
    row->addWidget(after);
    host.show();
    ASSERT_TRUE(activate(host));

    before->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_TRUE(segments[0]->hasFocus()) << "none chosen yet: the first";
    QTest::keyClick(segments[0], Qt::Key_Right);
    EXPECT_TRUE(segments[1]->hasFocus());
    EXPECT_EQ(control->current(), 1);
    QTest::keyClick(segments[1], Qt::Key_Tab);
    EXPECT_TRUE(after->hasFocus()) << "one stop for the whole row";

    control->setCurrent(3);  // chosen elsewhere, as a page does
    QTest::keyClick(after, Qt::Key_Backtab);
    EXPECT_TRUE(segments[3]->hasFocus()) << "Shift+Tab enters at the chosen segment";
    QTest::keyClick(segments[3], Qt::Key_Backtab);
    EXPECT_TRUE(before->hasFocus());
    QTest::mouseClick(segments[2], Qt::LeftButton);
    ASSERT_EQ(control->current(), 2);
    before->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_TRUE(segments[2]->hasFocus()) << "Tab enters at the clicked segment";
}

// A scroll area of the kit stops Tab only while it has something to scroll,
// and shows its ring when a key brought the focus there. A control inside
// it that Shift+Tab reaches from outside is brought into view.
TEST(ScrollArea, StopsTabOnlyWhileItScrollsShowsItsRingAndBringsAControlIntoView)
{
    QWidget host;
    host.setPalette(lightPalette());
    host.resize(320, 220);
    auto* column = new QVBoxLayout(&host);
    auto* before = new QLineEdit;
    auto* content = new QWidget;
    auto* inside = new QVBoxLayout(content);
    auto* filler = new QLabel("A long text above the button.");
    filler->setFixedHeight(600);
    auto* button = new Button(Button::Kind::bordered, "Reveal");
    inside->addWidget(filler);
    inside->addWidget(button);
    auto* area = transparentScrollArea(content);
    area->setAccessibleName("Details");
    auto* after = new QLineEdit;
    column->addWidget(before);
    column->addWidget(area, 1);
    column->addWidget(after);
    host.show();
    ASSERT_TRUE(activate(host));
    settle();

    before->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(before, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), area) << "it scrolls: Tab stops on it";
    settle();
    EXPECT_GT(ringStrength(*area), 40) << "with the ring";
    QTest::keyClick(area, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), button);
    EXPECT_LT(ringStrength(*area), 20) << "the ring goes with the focus";

    after->setFocus(Qt::OtherFocusReason);
    area->verticalScrollBar()->setValue(0);
    QTest::keyClick(after, Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), button);
    settle();
    const QRect shown(button->mapTo(area->viewport(), QPoint(0, 0)), button->size());
    EXPECT_TRUE(area->viewport()->rect().contains(shown)) << "brought into view";

    filler->setFixedHeight(20);
    settle();
    before->setFocus(Qt::OtherFocusReason);
    QTest::keyClick(before, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), button) << "nothing to scroll: no stop on the area";
}

}  // namespace
}  // namespace corvalent

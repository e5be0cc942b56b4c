// Where the kit's controls take keyboard focus and how they show it.
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QTest>
#include <gtest/gtest.h>

#include <functional>

#include "fresh_sample.h"
#include "keyboard_walk.h"
#include "live_environments.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/scan/stop_scan_action.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/list/process_list_model.h"
#include "ui/processes/list/process_list_view.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/section_switch.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/switch.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/focus_handoff.h"
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
        for (const auto& surface : FocusRing::surfaces(palette))
            EXPECT_GE(Contrast::ratio(FocusRing::colour(palette), surface), 3.0)
                << name << " " << surface.name().toStdString();
        for (const auto& fill : {CorvalentStyle::teal(), CorvalentStyle::red(), CorvalentStyle::teal().lighter(106),
                                 CorvalentStyle::red().lighter(106), Contrast::readable(CorvalentStyle::teal(), Qt::white),
                                 Contrast::readable(CorvalentStyle::red(), Qt::white).darker(108)}) {
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
        // The accent deepened for the white label.
        const auto fill = Contrast::readable(CorvalentStyle::teal(), Qt::white);
        const auto bands = FocusRing::bandsOnFill(palette, fill);
        const auto near = [](const QColor& a, const QColor& b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) < 40;
        };
        const int middle = image.width() / 2;
        EXPECT_TRUE(near(image.pixelColor(middle, 0), bands.outer)) << name << ": the outer band at the edge";
        EXPECT_TRUE(near(image.pixelColor(middle, 2), bands.inner)) << name << ": the inner band inside it";
        EXPECT_TRUE(near(image.pixelColor(middle, 6), fill)) << name << ": then the fill";
        QTest::keyClick(button, Qt::Key_Tab);
        ASSERT_TRUE(plain->hasFocus());
        settle();
        EXPECT_EQ(plain->grab().toImage().pixel(plain->width() / 2, 1), FocusRing::colour(palette).rgb()) << name;
    }
}

// A flat surface in one of the colours controls sit on.
class Surface : public QWidget {
public:
    QColor colour;

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), colour); }
};

// Reads a ring off the screen along `length` device pixels from `from` in
// `step`s: the pixels that change once it shows. Says how its outermost
// pixel fails 3:1 against the one just outside, or its innermost against
// the one just inside; empty when both hold.
std::string ringFault(const QImage& ringed, const QImage& plain, QPoint from, QPoint step, int length)
{
    const auto pixel = [&](const QImage& image, int i) { return image.pixelColor(from + step * i); };
    const auto differs = [&](int i) {
        const auto a = pixel(ringed, i), b = pixel(plain, i);
        return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) > 40;
    };
    int first = 0;
    while (first < length && !differs(first)) ++first;
    int last = first;
    while (last + 1 < length && differs(last + 1)) ++last;
    if (first == 0 || last + 1 >= length) return "no ring";
    for (const auto& [side, ring, beside] : {std::tuple("outside", first, first - 1), std::tuple("inside", last, last + 1)})
        if (Contrast::ratio(pixel(ringed, ring), pixel(ringed, beside)) < 3.0)
            return std::string(side) + ": " + pixel(ringed, ring).name().toStdString() + " on " +
                   pixel(ringed, beside).name().toStdString();
    return {};
}

// Each ring the keyboard brings up stands out 3:1 from what lies on either
// side of it, the surface around the control and the control's own fill,
// across its top and its left edge, light and dark, on the window, a panel
// and the top of the window's backdrop. A list rings its current row.
TEST(FocusRing, EveryRingStandsOutFromWhatLiesOnEitherSide)
{
    VantleModel processes(liveProcessEnvironment());
    processes.setWindowShown(true);
    ASSERT_TRUE(sampleFromNow(processes));
    ProcessListModel rows(processes);
    ASSERT_GT(rows.rowCount(), 0);
    ProcessIconStore icons;
    DiskModel disk(quietDiskEnvironment());
    DiskViewState diskState;
    const std::vector<std::pair<const char*, std::function<QWidget*(QWidget&)>>> controls{
        {"chosen segment",
         [](QWidget&) {
             auto* control = new SegmentedControl("Disk list");
             control->addSegment("Map", {}, 0);
             control->addSegment("Files", {}, 1);
             control->setCurrent(0);
             return control;
         }},
        {"Cancel", [](QWidget&) { return new Button(Button::Kind::bordered, "Cancel"); }},
        {"Move to Trash", [](QWidget&) { return new Button(Button::Kind::prominent, "Move to Trash"); }},
        {"section on its plate",
         [](QWidget&) {
             auto* control = new SectionSwitch;
             control->setSection(AppSection::processes);
             return control;
         }},
        {"switch on",
         [](QWidget&) {
             auto* control = new Switch;
             control->setChecked(true);
             return control;
         }},
        {"switch off", [](QWidget&) { return new Switch; }},
        {"Stop scan", [&](QWidget& surface) { return new StopScanAction(disk, diskState, {}, &surface); }},
        {"inspected row",
         [&](QWidget&) {
             rows.focus(0);
             auto* list = new ProcessListView(rows, icons);
             list->setFixedSize(420, 160);
             return list;
         }},
    };
    for (const auto& [look, palette] : {std::pair("light", lightPalette()), std::pair("dark", darkPalette())}) {
        const auto window = CorvalentStyle::windowBackground(palette);
        const std::vector<std::pair<const char*, QColor>> surfaces{
            {"window", window},
            {"panel", CorvalentStyle::panel(palette)},
            {"backdrop", CorvalentStyle::blend(window, CorvalentStyle::teal(), 0.16)}};
        QImage sheet;
        for (std::size_t row = 0; row < controls.size(); ++row) {
            for (std::size_t column = 0; column < surfaces.size(); ++column) {
                const auto where = std::string(controls[row].first) + ", " + look + ", " + surfaces[column].first;
                Surface surface;
                surface.colour = surfaces[column].second;
                surface.setPalette(palette);
                surface.setFixedSize(720, 200);
                auto* line = new QHBoxLayout(&surface);
                auto* before = new QLineEdit;
                line->addWidget(before);
                line->addWidget(controls[row].second(surface));
                auto* after = new QLineEdit;
                line->addWidget(after);
                surface.show();
                ASSERT_TRUE(activate(surface));
                before->setFocus(Qt::OtherFocusReason);
                QTest::keyClick(before, Qt::Key_Tab);
                auto* focused = QApplication::focusWidget();
                settle();
                const auto ringed = surface.grab().toImage();
                QRect area = focused->rect();
                if (auto* list = qobject_cast<QAbstractItemView*>(focused))
                    area = list->visualRect(list->currentIndex()).translated(list->viewport()->pos());
                area.translate(focused->mapTo(&surface, QPoint()));
                after->setFocus(Qt::OtherFocusReason);
                settle();
                const auto plain = surface.grab().toImage();
                const double scale = ringed.devicePixelRatio();
                const auto device = [&](int x, int y) { return (QPointF(x, y) * scale).toPoint(); };
                const int length = int(30 * scale);
                EXPECT_EQ(ringFault(ringed, plain, device(area.center().x(), area.top() - 8), {0, 1}, length), "")
                    << where << ", top";
                EXPECT_EQ(ringFault(ringed, plain, device(area.left() - 8, area.center().y()), {1, 0}, length), "")
                    << where << ", left";
                // One sheet per appearance to look at, a control to a row.
                if (sheet.isNull()) {
                    sheet = QImage(ringed.width() * 3, ringed.height() * int(controls.size()), QImage::Format_RGB32);
                    sheet.setDevicePixelRatio(scale);
                }
                QPainter(&sheet).drawImage(QPoint(surface.width() * int(column), surface.height() * int(row)), ringed);
            }
        }
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        sheet.save(QStringLiteral(CORVALENT_SCREENSHOTS "/focus-rings-%1.png").arg(look));
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

// Focus that came without a ring (after a click, or from the program) shows
// it from the first key the control takes other than a modifier, where the
// control draws it and where a scroll area does; a click hides it again.
TEST(FocusRing, AKeyShowsTheRingOfFocusThatCameWithoutOne)
{
    QWidget host;
    host.setPalette(lightPalette());
    host.resize(320, 220);
    auto* column = new QVBoxLayout(&host);
    auto* button = new Button(Button::Kind::bordered, "Cancel");
    auto* content = new QLabel("A long text.");
    content->setFixedHeight(600);
    auto* area = transparentScrollArea(content);
    area->setAccessibleName("Details");
    column->addWidget(button);
    column->addWidget(area, 1);
    host.show();
    ASSERT_TRUE(activate(host));
    settle();
    const auto ring = FocusRing::colour(lightPalette()).rgb();
    const auto ringed = [&] { return button->grab().toImage().pixel(button->width() / 2, 1) == ring; };

    area->setFocus(Qt::OtherFocusReason);
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_TRUE(button->hasFocus());
    EXPECT_FALSE(ringed()) << "a click shows none";
    QTest::keyClick(button, Qt::Key_Shift);
    EXPECT_FALSE(ringed()) << "nor a modifier alone";
    QTest::keyClick(button, Qt::Key_A);
    EXPECT_TRUE(ringed()) << "a key the button takes";
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(ringed()) << "a click again";

    area->setFocus(Qt::OtherFocusReason);
    settle();
    EXPECT_LT(ringStrength(*area), 20) << "focus from the program after a click";
    QTest::keyClick(area, Qt::Key_Down);
    settle();
    EXPECT_GT(ringStrength(*area), 40) << "a key the area takes";
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


// The focus handed to a control in a block made just now, while a sheet is
// open, is still there when the window comes back, before the block's
// layout has run: the window would pass a focus it cannot show down its
// chain, to the next control.
TEST(FocusHandOn, AControlInABlockMadeJustNowKeepsTheFocusAfterASheet)
{
    QWidget host;
    auto* column = new QVBoxLayout(&host);
    auto* blocks = new QVBoxLayout;
    auto* next = new Button(Button::Kind::plain, "Undo");
    column->addLayout(blocks);
    column->addWidget(next);
    host.show();
    ASSERT_TRUE(activate(host));
    QDialog sheet(&host);
    sheet.setWindowModality(Qt::WindowModal);
    sheet.open();
    ASSERT_TRUE(activate(sheet));

    auto* block = new QWidget(&host);
    auto* copy = new Button(Button::Kind::link, "Review\u2026", block);
    (new QVBoxLayout(block))->addWidget(copy);
    blocks->addWidget(block);
    handFocus(*copy);
    sheet.hide();
    QApplication::setActiveWindow(&host);  // before any queued event runs
    EXPECT_EQ(QApplication::focusWidget(), copy);
}
}  // namespace
}  // namespace corvalent

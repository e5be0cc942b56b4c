// The widget kit: one pixel type scale across the pages, the keyboard and
// accessibility of its controls, driven as a person would, names shown as
// they are, and its own symbols.
#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFontInfo>
#include <QHBoxLayout>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <span>

#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "plain_text_check.h"
#include "ui/onboarding/full_disk_access_introduction.h"
#include "ui/overview/overview_page.h"
#include "ui/shell/settings_window.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/check_box.h"
#include "ui/widgets/coalesced_call.h"
#include "ui/widgets/confirmation_keys.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/note_panel.h"
#include "ui/widgets/segmented_control.h"
#include "ui/widgets/sheet_header.h"
#include "ui/widgets/switch.h"
#include "ui/widgets/symbols.h"
#include "keyboard_walk.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

// Every widget of the tree, the root included, has a pixel-sized font.
void expectPixelFonts(QWidget& root)
{
    auto widgets = root.findChildren<QWidget*>();
    widgets.prepend(&root);
    for (const auto* widget : widgets)
        EXPECT_GT(widget->font().pixelSize(), 0)
            << root.metaObject()->className() << ": " << widget->metaObject()->className() << " "
            << widget->objectName().toStdString();
}

TEST(TypeScale, DesignPointsArePixelsOnEveryPage)
{
    const auto body = CorvalentStyle::font(TextStyle::body);
    EXPECT_EQ(body.pixelSize(), 13);
    EXPECT_EQ(QFontInfo(body).pixelSize(), 13) << "whatever the screen's dots per inch";

    // The test application's own font is sized in points: a widget that sets
    // a size of its own outside the scale, or none under a page, shows here.
    auto environment = VantleModelEnvironment::system();
    environment.sample = [](const ScanResult*) { return ScanResult{}; };
    VantleModel model(std::move(environment));
    auto diskEnvironment = DiskModelEnvironment::system();
    diskEnvironment.volumes = [] { return std::vector<DiskVolume>{}; };
    DiskModel disk(std::move(diskEnvironment));
    OverviewPage overview(model, disk);
    FullDiskAccessIntroduction onboarding(OnboardingEnvironment{}, {});
    SettingsWindow settings(model);
    for (QWidget* page : std::initializer_list<QWidget*>{&overview, &onboarding, &settings}) expectPixelFonts(*page);
}

TEST(ElidedLabel, TwoLinesAtMostTheRestElided)
{
    ElidedLabel label(QString("word ").repeated(60), CorvalentStyle::font(TextStyle::caption), Tones::primary());
    label.setMaximumLines(2);
    const int twoLines = static_cast<int>(std::ceil(QFontMetricsF(label.font()).lineSpacing() * 2));
    EXPECT_EQ(label.heightForWidth(120), twoLines);
    label.resize(120, 3 * twoLines);
    const auto image = label.grab().toImage();
    const auto background = image.pixelColor(0, image.height() - 1);
    const auto inkInRow = [&](int top, int bottom) {
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < image.width(); ++x)
                if (image.pixelColor(x, y) != background) return true;
        return false;
    };
    EXPECT_TRUE(inkInRow(twoLines / 2, twoLines)) << "the second line is drawn";
    EXPECT_FALSE(inkInRow(twoLines + 1, image.height())) << "nothing below it";
}

// A destructive button beside a dialog's default: Return goes to the default,
// Space presses the focused button, and Tab brings its focus ring. Any other
// focused button takes Return itself, not the default.
TEST(Button, TextNamesItAndReturnNeverPressesADestructiveOne)
{
    QDialog dialog;
    auto* row = new QHBoxLayout(&dialog);
    auto* up = new Button(Button::Kind::plain, "Up");
    auto* cancel = new Button(Button::Kind::bordered, "Cancel");
    auto* stop = new Button(Button::Kind::destructive, "Force Stop");
    cancel->setDefault(true);
    row->addWidget(up);
    row->addWidget(cancel);
    row->addWidget(stop);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    EXPECT_EQ(QAccessible::queryAccessibleInterface(stop)->text(QAccessible::Name), "Force Stop");

    const auto unfocused = stop->grab().toImage();
    cancel->setFocus();
    QTest::keyClick(cancel, Qt::Key_Tab);
    ASSERT_TRUE(stop->hasFocus());
    EXPECT_NE(stop->grab().toImage(), unfocused) << "a focus ring shows";

    QSignalSpy stopped(stop, &QAbstractButton::clicked);
    QSignalSpy cancelled(cancel, &QAbstractButton::clicked);
    QTest::keyClick(stop, Qt::Key_Return);
    EXPECT_EQ(stopped.count(), 0);
    EXPECT_EQ(cancelled.count(), 1) << "the dialog's default takes Return";
    QTest::keyClick(stop, Qt::Key_Space);
    EXPECT_EQ(stopped.count(), 1);

    QSignalSpy wentUp(up, &QAbstractButton::clicked);
    up->setFocus();
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(up, key);
    EXPECT_EQ(wentUp.count(), 2) << "the focused button takes Return and Enter";
    EXPECT_EQ(cancelled.count(), 1) << "the default does not";
}

// An "&" in a label is shown and read as it is and binds no Alt shortcut,
// where a plain Qt button takes it for a mnemonic's mark.
TEST(Button, AnAmpersandIsShownAndReadAsItIs)
{
    QWidget window;
    auto* row = new QHBoxLayout(&window);
    auto* reopen = new Button(Button::Kind::prominent, "Quit & Reopen Corvalent");
    auto* research = new Button(Button::Kind::bordered, {});
    research->setText("R&D");
    auto* marked = new QPushButton("&Go");
    row->addWidget(reopen);
    row->addWidget(research);
    row->addWidget(marked);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    EXPECT_EQ(reopen->text(), "Quit & Reopen Corvalent");
    EXPECT_EQ(research->text(), "R&D");
    EXPECT_EQ(static_cast<QAbstractButton*>(research)->text(), "R&&D") << "Qt's form marks nothing";
    EXPECT_EQ(QAccessible::queryAccessibleInterface(reopen)->text(QAccessible::Name), "Quit & Reopen Corvalent");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(research)->text(QAccessible::Name), "R&D");
    // Measured as drawn, with one "&".
    const QFontMetrics metrics(reopen->font());
    EXPECT_EQ(reopen->sizeHint().width(), metrics.horizontalAdvance("Quit & Reopen Corvalent") + 28);

    QSignalSpy researched(research, &QAbstractButton::clicked);
    QSignalSpy reopened(reopen, &QAbstractButton::clicked);
    QSignalSpy gone(marked, &QAbstractButton::clicked);
    // A mnemonic clicks a moment later: Qt's own, pressed after ours, shows when ours would have.
    QTest::keyClick(&window, Qt::Key_G, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone.count() == 1; }, 5'000)) << "Qt's mnemonics work here";
    QTest::keyClick(&window, Qt::Key_D, Qt::AltModifier);
    QTest::keyClick(&window, Qt::Key_Space, Qt::AltModifier);
    QTest::keyClick(&window, Qt::Key_G, Qt::AltModifier);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gone.count() == 2; }, 5'000));
    EXPECT_EQ(researched.count() + reopened.count(), 0) << "no key stands for an \"&\"";
}

// A switch people turn is a check box whose action clicks it; a display-only
// one is a picture of its state, with no action and no check to toggle, even
// when it became display-only after a reader met it.
TEST(Switch, ReadersTurnASwitchButOnlySeeAPictureOfOne)
{
    Switch control;
    control.setAccessibleName("Show protected processes");
    QSignalSpy clicked(&control, &QAbstractButton::clicked);
    auto* reader = QAccessible::queryAccessibleInterface(&control);
    EXPECT_EQ(reader->role(), QAccessible::CheckBox);
    EXPECT_TRUE(reader->state().checkable);
    ASSERT_NE(reader->actionInterface(), nullptr);
    reader->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(control.isChecked());

    control.setDisplayOnly(true);
    control.setAccessibleName("Folder access switch");
    EXPECT_EQ(reader->role(), QAccessible::Graphic);
    EXPECT_EQ(reader->text(QAccessible::Name), "Folder access switch");
    EXPECT_EQ(reader->text(QAccessible::Description), "On");
    EXPECT_FALSE(reader->state().checkable);
    EXPECT_FALSE(reader->state().checked);
    EXPECT_EQ(reader->actionInterface(), nullptr) << "nothing to press or toggle";
    EXPECT_TRUE(control.isChecked()) << "the picture shows what it was given";
}

// A confirmation sheet opened from a host window, by a click or by Space.
// Return presses the focused Cancel, never the focused action.
TEST(ConfirmationKeys, CancelComesFirstWithItsRingAfterAKeyAndOnlySpaceOrAPressConfirms)
{
    QWidget host;
    auto* column = new QHBoxLayout(&host);
    auto* open = new Button(Button::Kind::bordered, "Open");
    column->addWidget(open);
    QPointer<QDialog> sheet;
    Button* cancel = nullptr;
    Button* action = nullptr;
    QObject::connect(open, &QAbstractButton::clicked, &host, [&] {
        sheet = new QDialog(&host);
        auto* row = new QHBoxLayout(sheet);
        cancel = new Button(Button::Kind::bordered, "Cancel");
        action = new Button(Button::Kind::prominent, "Move");
        row->addWidget(cancel);
        row->addWidget(action);
        QObject::connect(cancel, &QAbstractButton::clicked, sheet, &QDialog::reject);
        guardConfirmation(*sheet, *cancel, *action);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
    });
    host.show();
    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    const auto opened = [&] {
        return QTest::qWaitFor([&] { return sheet && sheet->isActiveWindow(); }, 5'000) &&
               QApplication::focusWidget() == cancel;
    };

    QTest::mouseClick(open, Qt::LeftButton);
    ASSERT_TRUE(opened()) << "Cancel takes the first focus";
    EXPECT_LT(ringStrength(*cancel), 20) << "no ring after a click";
    QTest::keyClick(cancel, Qt::Key_Escape);
    settle();
    ASSERT_TRUE(sheet.isNull()) << "Escape cancels";

    host.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&host));
    open->setFocus(Qt::TabFocusReason);
    QTest::keyClick(open, Qt::Key_Space);
    ASSERT_TRUE(opened());
    EXPECT_GT(ringStrength(*cancel), 40) << "a key opened it: the ring shows at once";

    QSignalSpy confirmed(action, &QAbstractButton::clicked);
    QTest::keyClick(cancel, Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), action) << "Tab reaches the action";
    EXPECT_FALSE(action->isDefault());
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(action, key);
    QTest::keyClick(sheet, Qt::Key_Return);
    EXPECT_EQ(confirmed.count(), 0) << "Return and Enter press nothing";
    EXPECT_TRUE(sheet && sheet->isVisible());
    QTest::keyClick(action, Qt::Key_Space);
    EXPECT_EQ(confirmed.count(), 1);
    QAccessible::queryAccessibleInterface(action)->actionInterface()->doAction(
        QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([&] { return confirmed.count() == 2; }, 5'000))
        << "an assistive press confirms as a click does";

    // Return on the focused Cancel presses it, and Enter too.
    for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) {
        if (sheet.isNull()) {
            open->setFocus(Qt::TabFocusReason);
            QTest::keyClick(open, Qt::Key_Space);
            ASSERT_TRUE(opened());
        }
        QTest::keyClick(cancel, key);
        settle();
        EXPECT_TRUE(sheet.isNull()) << "Cancel closed the sheet";
    }
    EXPECT_EQ(confirmed.count(), 2);
}

TEST(SegmentedControl, ArrowKeysChooseANeighbourAndSayWhichIsSelected)
{
    SegmentedControl control("Sort by");
    auto* memory = control.addSegment("Memory", {}, 0);
    auto* cpu = control.addSegment("CPU", {}, 1);
    control.setCurrent(0);
    control.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&control));
    QSignalSpy chosen(&control, &SegmentedControl::chosen);
    memory->setFocus(Qt::TabFocusReason);
    QTest::keyClick(memory, Qt::Key_Right);
    EXPECT_EQ(control.current(), 1);
    EXPECT_TRUE(cpu->hasFocus());
    EXPECT_EQ(cpu->accessibleDescription(), "Selected");
    EXPECT_EQ(memory->accessibleDescription(), "Not selected");
    QTest::keyClick(cpu, Qt::Key_Right);
    EXPECT_EQ(control.current(), 1) << "the last segment stays chosen";
    QTest::keyClick(cpu, Qt::Key_Left);
    EXPECT_EQ(control.current(), 0);
    EXPECT_EQ(chosen, (QList<QVariantList>{{1}, {0}}));
}

// A reader's action on a kit checkbox or segment is a click: what listens
// to clicks hears it, as from a pointer. Each is heard in its own role.
TEST(CheckableControls, AReadersActionClicksAsAPointerDoes)
{
    const auto toggle = QAccessibleActionInterface::toggleAction();
    CheckBox box("Include system");
    QSignalSpy clicked(&box, &QAbstractButton::clicked);
    auto* boxReader = QAccessible::queryAccessibleInterface(&box);
    EXPECT_EQ(boxReader->role(), QAccessible::CheckBox);
    EXPECT_EQ(boxReader->text(QAccessible::Name), "Include system");
    ASSERT_TRUE(boxReader->actionInterface()->actionNames().contains(toggle));
    boxReader->actionInterface()->doAction(toggle);
    EXPECT_EQ(clicked.count(), 1);
    EXPECT_TRUE(box.isChecked());
    EXPECT_TRUE(boxReader->state().checkable && boxReader->state().checked);
    box.setEnabled(false);
    boxReader->actionInterface()->doAction(toggle);
    EXPECT_EQ(clicked.count(), 1) << "a disabled box does nothing";

    SegmentedControl control("Sort by");
    control.addSegment("Memory", {}, 0);
    auto* cpu = control.addSegment("CPU", {}, 1);
    control.setCurrent(0);
    QSignalSpy chosen(&control, &SegmentedControl::chosen);
    auto* cpuReader = QAccessible::queryAccessibleInterface(cpu);
    EXPECT_EQ(cpuReader->role(), QAccessible::RadioButton);
    EXPECT_EQ(cpuReader->text(QAccessible::Name), "CPU");
    EXPECT_FALSE(cpuReader->state().checked);
    cpuReader->actionInterface()->doAction(toggle);
    EXPECT_EQ(chosen, (QList<QVariantList>{{1}}));
    EXPECT_EQ(control.current(), 1);
    EXPECT_TRUE(cpuReader->state().checked);
    EXPECT_EQ(cpu->accessibleDescription(), "Selected");
}

// Qt reads a tooltip that looks like markup as rich text: a name from the
// system shows as it is, and a plain tooltip is left as it was.
TEST(PageFold, TheFewestPartsFoldThatLetTheMainAreaFit)
{
    const std::array frees{30, 60, 50, 100};
    EXPECT_EQ(foldedParts(700, 700, frees), 0) << "room for everything";
    EXPECT_EQ(foldedParts(699, 700, frees), 1);
    EXPECT_EQ(foldedParts(670, 700, frees), 1);
    EXPECT_EQ(foldedParts(669, 700, frees), 2);
    EXPECT_EQ(foldedParts(560, 700, frees), 3);
    EXPECT_EQ(foldedParts(459, 700, frees), 4) << "everything folds when even that is not enough";
    EXPECT_EQ(foldedParts(0, 700, frees), 4);
    EXPECT_EQ(foldedParts(100, 700, std::span<const int>()), 0) << "nothing to fold";
}

TEST(LiteralToolTip, ShowsEveryTextAsItIs)
{
    for (const QString text : {"zqx<b>bold<i>", "Select zqx<b>bold<i>", "R&D <br>", "&lt;tag&gt; x", "&amp; <i>",
                               "two  spaces <p>", "a\n<b>b", "<!DOCTYPE html>"})
        EXPECT_EQ(shownText(literalToolTip(text)), text) << text.toStdString();
    EXPECT_EQ(literalToolTip("Select Safari"), "Select Safari");
    EXPECT_EQ(literalToolTip("R&D"), "R&D");

    QLabel label;
    setLiteralToolTip(label, "zqx<b>bold<i>");
    EXPECT_EQ(shownText(label.toolTip()), "zqx<b>bold<i>");
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&label)->text(QAccessible::Description), "zqx<b>bold<i>")
        << "readers hear the name, not the tooltip's markup";
}

// The desktop's shields carry no mark: ours carry the check, cut out of the
// filled shield and drawn inside the outlined one.
// Many asks in one turn run once, a later ask runs again, and a call whose
// owner is gone never runs. A second call queued after the first shows the
// turn has been drained.
TEST(CoalescedCall, RunsOncePerTurnAndNeverAfterItsOwner)
{
    QObject owner;
    int runs = 0;
    CoalescedCall redraw(owner, [&runs] { ++runs; });
    for (int i = 0; i < 5; ++i) redraw.call();
    EXPECT_EQ(runs, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !redraw.isPending(); }));
    EXPECT_EQ(runs, 1);

    redraw.call();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !redraw.isPending(); }));
    EXPECT_EQ(runs, 2);

    int orphanRuns = 0;
    auto* gone = new QObject;
    (new CoalescedCall(*gone, [&orphanRuns] { ++orphanRuns; }))->call();
    delete gone;
    bool drained = false;
    CoalescedCall marker(owner, [&drained] { drained = true; });
    marker.call();
    ASSERT_TRUE(QTest::qWaitFor([&] { return drained; }));
    EXPECT_EQ(orphanRuns, 0);
    EXPECT_EQ(runs, 2);
}

// A sheet's header: the symbol level with the title or centred against the
// texts, a long subtitle wrapped to the width, names shown as they are, and
// a trailing widget centred at the far end.
TEST(SheetHeader, PlacesSymbolTextsAndTrailingWidget)
{
    const SheetHeader::Symbol symbol{"checkmark.shield.fill", 20, CorvalentStyle::teal(), 42, {9, 0.09}};
    SheetHeader top(symbol, "zqx<b>name</b>", QString("word ").repeated(40));
    top.resize(360, top.heightForWidth(360));
    top.layout()->activate();
    EXPECT_EQ(top.symbol().geometry().top(), top.title().geometry().top());
    EXPECT_EQ(top.symbol().size(), QSize(42, 42));
    EXPECT_EQ(top.title().textFormat(), Qt::PlainText);
    EXPECT_EQ(top.title().font(), CorvalentStyle::font(TextStyle::sheetTitle));
    const int lines = top.subtitle().height() / QFontMetrics(top.subtitle().font()).lineSpacing();
    EXPECT_GE(lines, 3) << "the subtitle wraps instead of widening the sheet";
    EXPECT_LE(top.subtitle().geometry().right(), top.width());

    auto centredSymbol = symbol;
    centredSymbol.alignment = Qt::AlignVCenter;
    SheetHeader centred(centredSymbol, "Title", "Subtitle");
    centred.setTextSpacing(12);
    auto* badge = new Badge("BADGE", CorvalentStyle::teal());
    centred.addTrailing(badge);
    centred.resize(360, 80);
    centred.layout()->activate();
    EXPECT_EQ(centred.subtitle().geometry().top() - centred.title().geometry().bottom() - 1, 12);
    EXPECT_NEAR(centred.symbol().geometry().center().y(), centred.rect().center().y(), 1);
    EXPECT_NEAR(badge->geometry().center().y(), centred.rect().center().y(), 1);
    EXPECT_EQ(badge->geometry().right(), centred.width() - 1);
    EXPECT_GT(badge->geometry().left(), centred.title().geometry().left());
}

// A note: the accent at 0.08 over what lies beneath, a hairline of the accent
// only when asked, and its text wrapped inside the padding.
TEST(NotePanel, TintsItsSurfaceAndWrapsItsText)
{
    const auto drawn = [](NotePanel& note) {
        QImage image(note.size(), QImage::Format_ARGB32);
        image.fill(Qt::white);
        note.render(&image, {}, {}, QWidget::DrawChildren);
        return image;
    };
    NotePanel plain(Qt::red);
    plain.resize(200, 60);
    const auto image = drawn(plain);
    const auto fill = image.pixelColor(7, 30);
    EXPECT_EQ(fill.red(), 255);
    EXPECT_NEAR(fill.green(), 255 * 0.92, 2);
    EXPECT_EQ(image.pixelColor(0, 30), fill) << "no hairline";

    NotePanel outlined(Qt::red, {.radius = 12, .padding = 14, .hairlineOpacity = 0.5});
    outlined.resize(200, 60);
    EXPECT_LT(drawn(outlined).pixelColor(0, 30).green(), fill.green() - 60) << "a hairline of the accent";

    auto* text =
        plain.addText(QString("word ").repeated(30), CorvalentStyle::font(TextStyle::callout), Tones::primary());
    EXPECT_TRUE(text->wordWrap());
    EXPECT_GT(plain.heightForWidth(200), plain.heightForWidth(400));
    EXPECT_EQ(plain.heightForWidth(200), text->heightForWidth(200 - 2 * 14) + 2 * 14);
}

TEST(Symbols, CheckmarkShieldsShowTheirCheck)
{
    const auto alpha = [](const QString& symbol, QPointF at) {
        const auto image = Symbols::pixmap(symbol, Qt::black, 32).toImage();
        return image.pixelColor((at * 2).toPoint()).alpha();
    };
    const QPointF onCheck(7.3, 10.0);
    const QPointF aboveCheck(8, 4);
    EXPECT_LT(alpha("checkmark.shield.fill", onCheck), 60);
    EXPECT_GT(alpha("checkmark.shield.fill", aboveCheck), 200);
    EXPECT_GT(alpha("checkmark.shield", onCheck), 200);
    EXPECT_LT(alpha("checkmark.shield", aboveCheck), 60);

    QDir().mkpath(CORVALENT_SCREENSHOTS);
    QImage sheet(4 * 48, 48, QImage::Format_ARGB32);
    sheet.fill(Qt::white);
    QPainter painter(&sheet);
    int x = 0;
    for (const auto* symbol : {"checkmark.shield.fill", "checkmark.shield", "exclamationmark.shield.fill"}) {
        painter.drawPixmap(x + 8, 8, Symbols::pixmap(symbol, CorvalentStyle::teal(), 32));
        x += 48;
    }
    painter.drawPixmap(x + 16, 16, Symbols::pixmap("checkmark.shield.fill", CorvalentStyle::teal(), 11));
    painter.end();
    EXPECT_TRUE(sheet.save(QString(CORVALENT_SCREENSHOTS) + "/kit-shields.png"));
}

}  // namespace
}  // namespace corvalent

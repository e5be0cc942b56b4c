// Every sheet and the Settings window on the screen the test runs on,
// framed by a real window manager (openbox): each opens as the
// application opens it, centred on the main window, lies inside the
// screen's available area with its frame, and its buttons lie inside both
// the sheet and the screen; where the screen has room, a sheet keeps its
// usual size. A sheet whose height settles after it has opened stays
// centred. ctest runs this once per screen size.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QMainWindow>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QTest>
#include <QWindow>

#include <QRegularExpression>
#include <QTextDocument>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "core/disk/disk_cleanup_guides.h"
#include "framed_app.h"
#include "keyboard_walk.h"
#include "live_environments.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/folders/folder_chooser_dialog.h"
#include "ui/disk/header/disk_header.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/message_line.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

std::string repeated(const std::string& text, int times)
{
    std::string all;
    for (int i = 0; i < times; ++i) all += (i ? " " : "") + text;
    return all;
}

// A real folder whose path is longer than the system's limit on paths,
// made one name at a time below `base`.
std::filesystem::path overLongFolder(const std::filesystem::path& base, std::size_t length)
{
    auto path = base;
    std::filesystem::create_directories(base);
    int folder = ::open(base.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
    for (int i = 0; path.string().size() < length && folder >= 0; ++i) {
        const auto name = "level-" + std::to_string(i) + "-" + std::string(190, 'd');
        ::mkdirat(folder, name.c_str(), 0700);
        const int next = ::openat(folder, name.c_str(), O_DIRECTORY | O_RDONLY | O_CLOEXEC);
        ::close(folder);
        folder = next;
        path /= name;
    }
    EXPECT_GE(folder, 0);
    if (folder >= 0) ::close(folder);
    return path;
}

QString plainToolTip(const QWidget& widget)
{
    QTextDocument tip;
    if (Qt::mightBeRichText(widget.toolTip()))
        tip.setHtml(widget.toolTip());
    else
        tip.setPlainText(widget.toolTip());
    return tip.toPlainText();
}

// A sentence with its quoted parts taken out: what must be seen whole.
QString unquoted(const QString& sentence)
{
    static const QRegularExpression quoted(QStringLiteral("\u201C[^\u201D]*\u201D"));
    return QString(sentence).replace(quoted, QStringLiteral("\u201C\u201D"));
}

// The labels shown in `root` lie across no edge of `frame` (global
// coordinates), and one that is shortened names its whole text.
void expectWithinAndDescribed(QWidget& root, const QRect& frame, const char* where)
{
    for (auto* found : root.findChildren<QLabel*>()) {
        auto* label = dynamic_cast<ElidedLabel*>(found);
        if (label == nullptr || !label->isVisible() || label->text().isEmpty()) continue;
        const QRect place(label->mapToGlobal(QPoint(0, 0)), label->size());
        EXPECT_TRUE(frame.left() <= place.left() && place.right() <= frame.right())
            << where << ": " << label->text().left(60).toStdString() << " at " << place.x() << "+" << place.width()
            << " beyond " << frame.x() << "+" << frame.width();
        if (label->shortened()) {
            EXPECT_EQ(plainToolTip(*label), label->text()) << where;
            EXPECT_EQ(label->accessibleDescription(), label->text()) << where;
        }
    }
}

class SmallScreenSheets : public FramedAppTest {
protected:
    DiskView* diskPage() { return qobject_cast<DiskView*>(app->mainView()->currentPage()); }

    // The window now shown over the main window, once framed and placed.
    QWidget* framedWindow(const std::function<QWidget*()>& find)
    {
        QWidget* shown = nullptr;
        const bool framed = QTest::qWaitFor(
            [&] {
                shown = find();
                return shown != nullptr && shown->isVisible() && shown->windowHandle() != nullptr &&
                       shown->windowHandle()->isExposed() && !shown->windowHandle()->frameMargins().isNull() &&
                       room().contains(shown->frameGeometry());
            },
            10'000);
        settle();
        EXPECT_TRUE(framed) << "framed inside the screen in time";

        return shown;
    }

    // The sheet's frame centred on the main window's, as far as the screen
    // lets it be, once the window manager has answered the last move.
    void expectCentredOnTheWindow(const QWidget& sheet)
    {
        QRect framed, centred;
        const auto area = room();
        const auto placed = [&] {
            framed = sheet.windowHandle()->frameGeometry();
            centred = QRect(QPoint(0, 0), framed.size());
            centred.moveCenter(window().windowHandle()->frameGeometry().center());
            centred.moveLeft(
                std::clamp(centred.left(), area.left(), std::max(area.left(), area.right() + 1 - centred.width())));
            centred.moveTop(
                std::clamp(centred.top(), area.top(), std::max(area.top(), area.bottom() + 1 - centred.height())));
            return area.contains(framed) && (framed.topLeft() - centred.topLeft()).manhattanLength() <= 2;
        };
        EXPECT_TRUE(QTest::qWaitFor(placed, 5'000))
            << "frame " << framed.width() << "x" << framed.height() << " at " << framed.x() << "," << framed.y()
            << ", centred at " << centred.x() << "," << centred.y();
    }

    testing::TempHome temp;
};

// Each sheet with more than a small screen holds: twelve groups to review,
// forty processes to stop, long reasons, many steps.
TEST_F(SmallScreenSheets, EverySheetAndTheSettingsWindowLieInsideTheScreenWithTheirButtons)
{
    auto& model = app->model();
    ImpactReview review{"review", {}, {}};
    for (int i = 0; i < 12; ++i) {
        SelectedImpactGroup group;
        group.id = "group-" + std::to_string(i);
        group.title = "Worker " + std::to_string(i);
        group.impact = repeated("Open connections close and unsaved work may be lost.", 2);
        group.selectedCount = group.availableCount = 1;
        group.isCompleteSelection = true;
        group.facts = {"Started from a terminal.", "Uses 120 MB of memory."};
        review.assessment.groups.push_back(group);
    }
    review.assessment.selectedCount = review.assessment.groupCount = 14;
    review.assessment.omittedGroupCount = 2;
    StopRequest request{"stop", {}, {}, false};
    for (int i = 0; i < 40; ++i) {
        ProcessRecord record;
        record.pid = 40'000 + i;
        record.name = "worker-" + std::to_string(i);
        request.records.push_back(record);
    }
    for (int i = 0; i < 6; ++i) request.impacts.push_back(repeated("A helper stops and its window closes.", 3));
    auto forced = request;
    forced.id = "force";
    forced.force = true;

    DiskCleanupCandidate candidate;
    candidate.path = (temp.home / "projects" / "build-output").string();
    candidate.bytes = 3'000'000'000;
    candidate.isDirectory = true;
    candidate.safety = DiskCleanupSafety::review;
    std::filesystem::create_directories(candidate.path);
    for (const auto* folder : {"Desktop", "Documents", "Downloads", "Music", "Pictures", "Videos",
                               "Photos from the summer holiday at the lake, 2024 (originals)"})
        std::filesystem::create_directories(temp.home / folder);
    candidate.reason = repeated("Build output that a build can make again.", 6);
    candidate.consequence = repeated("The next build takes longer while it is made again.", 6);
    candidate.activeOwners = {"make", "ninja", "node"};
    DiskCleanupCandidate volume;
    volume.path = (temp.home / ".local" / "share" / "docker" / "volumes" / "db").string();
    auto guide = *DiskCleanupGuides::guide(volume);
    for (int i = 0; i < 4; ++i) guide.steps.push_back(repeated("Check which containers still use the volume.", 2));

    const auto modal = [] { return QApplication::activeModalWidget(); };
    // Shown once the home is listed.
    const auto openFolderChooser = [&] {
        diskPage()->header().folderButton().click();
        EXPECT_TRUE(QTest::qWaitFor(
            [] {
                auto* chooser = qobject_cast<FolderChooserDialog*>(QApplication::activeModalWidget());
                return chooser != nullptr && chooser->listed();
            },
            20'000));
    };
    struct Sheet {
        const char* name;
        QSize usual;  // kept where the screen has room; empty for a sheet as tall as its content
        std::function<void()> open;
        std::function<QWidget*()> find;
        std::function<void(QWidget&)> close;
        std::vector<const char*> buttons;
    };
    const auto reject = [](QWidget& sheet) { qobject_cast<QDialog*>(&sheet)->reject(); };
    const std::vector<Sheet> sheets{
        {"review", {680, 650}, [&] { model.setImpactReview(review); }, modal, reject, {"impactDone"}},
        {"stop", {}, [&] { model.setRequest(request); }, modal, reject, {"confirmStop"}},
        {"force-stop", {}, [&] { model.setRequest(forced); }, modal, reject, {"confirmStop"}},
        {"settings",
         {500, 540},
         [&] { app->openSettings(); },
         [&] { return app->settingsWindow(); },
         [](QWidget& window) { window.close(); },
         {}},
        {"cleanup", {}, [&] { diskPage()->state().setCleanupCandidate(candidate); }, modal, reject, {"moveToTrash"}},
        {"guide", {}, [&] { diskPage()->state().setCleanupGuide(guide); }, modal, reject, {"guideDone"}},
        {"folder", {}, [&] { openFolderChooser(); }, modal, reject, {"folderChoose"}},
    };

    for (const auto& [appearanceName, appearance] :
         {std::pair("light", AppAppearance::light), std::pair("dark", AppAppearance::dark)}) {
        applyAppearance(appearance);
        for (const auto& sheet : sheets) {
            SCOPED_TRACE(std::string(sheet.name) + " on " + screenName().toStdString() + ", " + appearanceName);
            if (QString(sheet.name) == "cleanup") app->mainView()->setSection(AppSection::storage);
            ASSERT_TRUE(QString(sheet.name) != "cleanup" || diskPage() != nullptr);
            sheet.open();
            auto* window = framedWindow(sheet.find);
            ASSERT_NE(window, nullptr);
            expectCentredOnTheWindow(*window);

            const auto space = room().size().shrunkBy(window->windowHandle()->frameMargins());
            if (!sheet.usual.isEmpty()) {
                EXPECT_EQ(window->size(), sheet.usual.boundedTo(space));
            }
            for (const auto* name : sheet.buttons) {
                auto* button = window->findChild<QWidget*>(name);
                ASSERT_NE(button, nullptr) << name;
                const QRect place(button->mapTo(window, QPoint(0, 0)), button->size());
                EXPECT_TRUE(button->isVisible()) << name;
                EXPECT_TRUE(window->rect().contains(place)) << name << " within the sheet";
                EXPECT_TRUE(room().contains(QRect(button->mapToGlobal(QPoint(0, 0)), button->size())))
                    << name << " within the screen";
            }
            // The action reached by Tab, so the pictures show its ring.
            if (auto* action =
                    window->findChild<QWidget*>(sheet.name == std::string("cleanup") ? "moveToTrash" : "confirmStop")) {
                ASSERT_TRUE(QTest::qWaitFor([&] { return action->isEnabled(); }, 10'000));
                EXPECT_TRUE(tabTo(*action, 10));
                settle();
            }
            QDir().mkpath(CORVALENT_SCREENSHOTS);
            window->screen()->grabWindow(0).save(QStringLiteral(CORVALENT_SCREENSHOTS "/small-screen-%1-%2-%3.png")
                                                     .arg(screenName(), sheet.name, appearanceName));
            QPointer<QWidget> closing(window);
            sheet.close(*window);
            ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull() || !closing->isVisible(); }, 10'000));
            settle();
        }
    }
}

// After a move or an Undo, the next "Move to Trash?" says nothing of it: the
// line is for the sheet's own item. Each sheet settles after the item has
// been looked at, and opens centred on the main window.
TEST_F(SmallScreenSheets, AConfirmationShowingTheLastResultOpensCentredOnTheWindow)
{
    for (const auto* cache : {".npm/_cacache", ".cache/thumbnails", ".cache/pip", ".cache/yarn", ".gradle/caches"})
        for (int i = 0; i < 3; ++i) testing::writeFile(temp.home / cache / ("blob" + std::to_string(i)), 400'000);
    app->mainView()->setSection(AppSection::storage);
    ASSERT_NE(diskPage(), nullptr);
    auto& model = app->mainView()->diskModel();
    model.scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    diskPage()->state().setSidebarMode(DiskSidebarMode::cleanup);
    auto& review = static_cast<ReviewList&>(diskPage()->mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
    const auto idle = [&] { return QTest::qWaitFor([&] { return !model.cleanupInProgress(); }, 30'000); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return review.rows().size() >= 4; }, 30'000));
    ASSERT_TRUE(idle());

    // Move, move, Undo, move: each sheet after the first shows what happened last.
    for (int round = 0; round < 4; ++round) {
        SCOPED_TRACE("sheet " + std::to_string(round + 1) + " on " + screenName().toStdString());
        ASSERT_FALSE(review.rows().empty());
        review.rows().front()->reviewButton().click();
        const auto modal = [] { return QApplication::activeModalWidget(); };
        auto* sheet = qobject_cast<DiskCleanupConfirmation*>(framedWindow(modal));
        ASSERT_NE(sheet, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().isEnabled(); }, 10'000));
        settle();
        auto* message = sheet->findChild<QWidget*>("confirmationMessage");
        ASSERT_NE(message, nullptr);
        EXPECT_FALSE(message->isVisible()) << "another item's result is not this sheet's";
        expectCentredOnTheWindow(*sheet);
        if (round == 1) {
            QDir().mkpath(CORVALENT_SCREENSHOTS);
            sheet->screen()->grabWindow(0).save(
                QStringLiteral(CORVALENT_SCREENSHOTS "/small-screen-%1-cleanup-after-move.png").arg(screenName()));
        }

        QPointer<QWidget> closing(sheet);
        sheet->moveButton().click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull() || !closing->isVisible(); }, 20'000));
        ASSERT_TRUE(idle());
        if (round == 1) {
            ASSERT_FALSE(review.recentTrashCard().undoButtons().empty());
            review.recentTrashCard().undoButtons().front()->click();
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return model.cleanupMessage().value_or("").startsWith("Restored"); }, 20'000));
            ASSERT_TRUE(idle());
        }
        settle();
    }
}

// A name of 250 bytes without a space, and a refusal that quotes a path
// beyond the system's limit: the sheet and the Review column keep to their
// edges, a name loses its middle, the reason reads whole, and the whole
// text goes to the pointer and to screen readers.
TEST_F(SmallScreenSheets, LongNamesAndPathsKeepToTheSheetAndTheReviewColumn)
{
    const auto longName = std::string(246, 'n') + ".iso";
    const auto download = temp.home / "films" / longName;
    testing::writeFile(download, 3'000'000);
    for (int i = 0; i < 3; ++i) testing::writeFile(temp.home / ".cache" / "pip" / ("blob" + std::to_string(i)), 400'000);
    const auto deep = overLongFolder(temp.home / "deep", 8'200);
    ASSERT_GT(deep.string().size(), 4'096U) << "beyond the system's limit";

    app->mainView()->setSection(AppSection::storage);
    ASSERT_NE(diskPage(), nullptr);
    auto& model = app->mainView()->diskModel();
    model.scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    diskPage()->state().setSidebarMode(DiskSidebarMode::cleanup);
    auto& sidebar = diskPage()->mapPanel().sidebar();
    auto& review = static_cast<ReviewList&>(sidebar.modeContent(DiskSidebarMode::cleanup));
    const auto column = [&] { return QRect(sidebar.mapToGlobal(QPoint(0, 0)), sidebar.size()); };
    const auto modal = [] { return QApplication::activeModalWidget(); };

    // Missing from a folder whose path is beyond the limit: the refusal quotes that folder.
    auto lost = model.cleanupCandidate((deep / longName).string(), 3'000'000, false);
    for (const auto& [look, appearance] :
         {std::pair("light", AppAppearance::light), std::pair("dark", AppAppearance::dark)}) {
        SCOPED_TRACE(look);
        applyAppearance(appearance);
        diskPage()->state().setCleanupCandidate(lost);
        auto* sheet = qobject_cast<DiskCleanupConfirmation*>(framedWindow(modal));
        ASSERT_NE(sheet, nullptr);
        auto* message = dynamic_cast<ElidedLabel*>(sheet->findChild<QLabel*>("confirmationMessage"));
        ASSERT_NE(message, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return message->isVisible() && !model.cleanupInProgress(); }, 20'000));
        settle();
        const auto refusal = message->text();
        EXPECT_GT(refusal.size(), 4'096) << "the folder quoted whole";
        const QRect sheetFrame(sheet->mapToGlobal(QPoint(0, 0)), sheet->size());
        EXPECT_TRUE(room().contains(sheet->frameGeometry()));
        expectWithinAndDescribed(*sheet, sheetFrame, "the sheet");
        const QRect messagePlace(message->mapToGlobal(QPoint(0, 0)), message->size());
        EXPECT_TRUE(sheetFrame.contains(messagePlace)) << "the refusal within the sheet, top to bottom";
        EXPECT_EQ(unquoted(message->drawnText()), unquoted(refusal)) << "every word of the reason is shown";
        EXPECT_LE(message->height(), 6 * QFontMetrics(message->font()).lineSpacing());
        EXPECT_EQ(plainToolTip(*message), refusal);
        EXPECT_EQ(message->accessibleDescription(), refusal);
        auto* name = dynamic_cast<ElidedLabel*>(sheet->findChild<QLabel*>("confirmationName"));
        ASSERT_NE(name, nullptr);
        EXPECT_TRUE(name->shortened());
        EXPECT_EQ(name->accessibleDescription(), QString::fromStdString(longName));
        auto* move = sheet->findChild<QWidget*>("moveToTrash");
        EXPECT_TRUE(sheetFrame.contains(QRect(move->mapToGlobal(QPoint(0, 0)), move->size())));
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        sheet->screen()->grabWindow(0).save(
            QStringLiteral(CORVALENT_SCREENSHOTS "/small-screen-%1-cleanup-long-path-%2.png").arg(screenName(), look));
        QPointer<QWidget> closing(sheet);
        sheet->reject();
        ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull() || !closing->isVisible(); }, 10'000));
        settle();
    }
    applyAppearance(AppAppearance::light);

    // The long name in its card, in the sheet, then moved: the status line and the recent Trash card.
    CleanupRow* row = nullptr;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            for (auto* shown : review.rows())
                if (shown->candidate().name() == longName) row = shown;
            return row != nullptr;
        },
        30'000));
    settle();
    expectWithinAndDescribed(review, column(), "the Review column");
    row->reviewButton().click();
    auto* sheet = qobject_cast<DiskCleanupConfirmation*>(framedWindow(modal));
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().isEnabled(); }, 10'000));
    expectWithinAndDescribed(*sheet, QRect(sheet->mapToGlobal(QPoint(0, 0)), sheet->size()), "the sheet");
    QPointer<QWidget> closing(sheet);
    sheet->moveButton().click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return closing.isNull() || !closing->isVisible(); }, 20'000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.cleanupInProgress() && !model.recentTrash().empty(); }, 20'000));
    settle();
    for (const auto& [look, appearance] :
         {std::pair("light", AppAppearance::light), std::pair("dark", AppAppearance::dark)}) {
        applyAppearance(appearance);
        settle();
        expectWithinAndDescribed(review, column(), "the Review column after the move");
        window().screen()->grabWindow(0).save(
            QStringLiteral(CORVALENT_SCREENSHOTS "/small-screen-%1-review-long-name-%2.png").arg(screenName(), look));
    }
}

// An Undo refused and one that succeeds: each says its outcome under the
// Trash card, in view without scrolling and told to readers; the Undo
// pressed stays where it was and keeps the focus.
TEST_F(SmallScreenSheets, AnUndoSaysItsOutcomeBesideTheButtonWhichStaysInPlace)
{
    for (const auto* cache : {".npm/_cacache", ".cache/thumbnails", ".cache/pip", ".cache/yarn", ".gradle/caches"})
        for (int i = 0; i < 3; ++i) testing::writeFile(temp.home / cache / ("blob" + std::to_string(i)), 400'000);
    app->mainView()->setSection(AppSection::storage);
    ASSERT_NE(diskPage(), nullptr);
    auto& model = app->mainView()->diskModel();
    model.scan(temp.home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 60'000));
    diskPage()->state().setSidebarMode(DiskSidebarMode::cleanup);
    auto& review = static_cast<ReviewList&>(diskPage()->mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
    const auto idle = [&] { return QTest::qWaitFor([&] { return !model.cleanupInProgress(); }, 30'000); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return review.rows().size() >= 4; }, 30'000));
    ASSERT_TRUE(idle());
    for (int moved = 0; moved < 2; ++moved) {
        std::optional<DiskTrashRequest> request;
        model.prepareTrash(review.rows().front()->candidate(), [&](auto ready) { request = ready; });
        ASSERT_TRUE(QTest::qWaitFor([&] { return request.has_value(); }, 20'000));
        model.moveToTrash(*request);
        ASSERT_TRUE(idle());
    }
    settle();
    QScrollArea* area = nullptr;
    for (auto* above = review.parentWidget(); area == nullptr && above != nullptr; above = above->parentWidget())
        area = qobject_cast<QScrollArea*>(above);
    ASSERT_NE(area, nullptr);
    QStringList told;
    watchAnnouncements([&told](const QString& said) { told << said; });

    const auto inView = [&](QWidget& widget) {
        const QRect view(area->viewport()->mapToGlobal(QPoint()), area->viewport()->size());
        return widget.isVisible() && view.contains(QRect(widget.mapToGlobal(QPoint()), widget.size()));
    };
    auto& line = review.outcomeLine();
    const auto& receipts = model.recentTrash();
    ASSERT_EQ(receipts.size(), 2U);
    for (const bool refused : {true, false}) {
        SCOPED_TRACE(std::string(refused ? "refused" : "restored") + " on " + screenName().toStdString());
        const auto receipt = receipts.front();
        if (refused)
            testing::writeFile(receipt.originalPath, 10);  // something new in its place
        else
            std::filesystem::remove(receipt.originalPath);
        // Reached from the keyboard, the Trash card at the top of the view
        // under a status card that grows with the longer sentence.
        auto* undo = review.recentTrashCard().undoButtons().front();
        undo->setFocus(Qt::TabFocusReason);
        settle();
        auto& bar = *area->verticalScrollBar();
        bar.setValue(bar.value() + review.recentTrashCard().mapTo(area->viewport(), QPoint()).y() - 8);
        settle();
        ASSERT_TRUE(inView(*undo));
        const int undoAt = undo->mapToGlobal(QPoint()).y();
        const int cardAt = review.recentTrashCard().mapToGlobal(QPoint()).y();
        const int undoHeight = undo->height();
        told.clear();
        QTest::keyClick(undo, Qt::Key_Space);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return model.cleanupOutcome().action == DiskCleanupOutcome::Action::restore; }, 20'000));
        ASSERT_TRUE(idle());
        settle();
        const auto said = model.cleanupOutcome().message;
        EXPECT_EQ(line.text(), said);
        EXPECT_TRUE(inView(line)) << "seen without scrolling";
        EXPECT_TRUE(told.contains(said)) << told.join("|").toStdString();
        if (refused) {
            EXPECT_TRUE(said.endsWith("It is still in the Trash.")) << said.toStdString();
            EXPECT_EQ(undo->mapToGlobal(QPoint()).y(), undoAt) << "the Undo pressed did not move";
            EXPECT_EQ(QApplication::focusWidget(), undo);
            QDir().mkpath(CORVALENT_SCREENSHOTS);
            window().screen()->grabWindow(0).save(
                QStringLiteral(CORVALENT_SCREENSHOTS "/small-screen-%1-undo-refused.png").arg(screenName()));
        } else {
            EXPECT_EQ(said, "Restored " + QString::fromStdString(receipt.name) + ".");
            EXPECT_EQ(review.recentTrashCard().mapToGlobal(QPoint()).y(), cardAt) << "the Trash card did not move";
            ASSERT_EQ(review.recentTrashCard().undoButtons().size(), 1U);
            EXPECT_EQ(QApplication::focusWidget(), review.recentTrashCard().undoButtons().front())
                << "the Undo now in its place";
        }
        EXPECT_LT(line.mapToGlobal(QPoint()).y() - undoAt, 4 * undoHeight) << "beside the Undo";
    }
    watchAnnouncements({});
}

}  // namespace
}  // namespace corvalent

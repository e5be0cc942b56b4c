// What the Review column and the Move to Trash sheet say on a small screen
// framed by a real window manager: long names and paths that keep to their
// edges, and the outcome of an Undo beside the button pressed.
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
#include "small_screen_sheets.h"
#include "keyboard_walk.h"
#include "live_environments.h"
#include "models/disk_model.h"
#include "models/vantle_model.h"
#include "readable_texts.h"
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

using testing::plainToolTip;

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
    auto* listed = reviewOfFiveCaches();
    ASSERT_NE(listed, nullptr);
    auto& review = *listed;
    auto& model = app->mainView()->diskModel();
    const auto idle = [&] { return QTest::qWaitFor([&] { return !model.cleanupInProgress(); }, 30'000); };
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

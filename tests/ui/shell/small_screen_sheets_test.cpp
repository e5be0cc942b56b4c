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
#include "small_screen_sheets.h"
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
    auto* listed = reviewOfFiveCaches();
    ASSERT_NE(listed, nullptr);
    auto& review = *listed;
    auto& model = app->mainView()->diskModel();
    const auto idle = [&] { return QTest::qWaitFor([&] { return !model.cleanupInProgress(); }, 30'000); };

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

}  // namespace
}  // namespace corvalent

// The program's own folder chooser over a home that holds a share whose
// server is gone: the home's folders show at once, the share among them
// unlooked at; entering the share says it does not answer; and no thread of
// the program ever waits on it, so the program still ends when it quits.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <sys/wait.h>
#include <unistd.h>

#include "chooser_dialog_fixture.h"
#include "chooser_page.h"
#include "core/common/child_process.h"
#include "core/disk/folder_listing.h"
#include "keyboard_walk.h"
#include "models/background_task.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/folders/folder_chooser.h"
#include "ui/disk/folders/folder_chooser_dialog.h"
#include "ui/disk/header/disk_header.h"
#include "ui/shell/app_appearance.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/check_box.h"
#include "ui/widgets/labels.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::HomeWithADeadShare;
using testing::listedAfter;
using testing::shownNames;

// Whether a screen reader meets `text` in the accessible tree under `root`,
// as a name or a description.
bool readerMeets(QWidget& root, const QString& text)
{
    const std::function<bool(QAccessibleInterface*)> meets = [&](QAccessibleInterface* node) {
        if (node == nullptr || node->state().invisible) return false;
        if (node->text(QAccessible::Name) == text || node->text(QAccessible::Description) == text) return true;
        for (int child = 0; child < node->childCount(); ++child)
            if (meets(node->child(child))) return true;
        return false;
    };
    return meets(QAccessible::queryAccessibleInterface(&root));
}

// What readers are told has the focus under `root`: each object that says
// it is focused while none of its children does. Without a reader on the
// bus a list keeps the rows it handed out before it refilled: they are
// asked for afresh, as a reader told of the change would.
std::string focusedObjects(QWidget& root)
{
    for (auto* view : root.findChildren<QAbstractItemView*>())
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(QAccessible::queryAccessibleInterface(view)));
    QStringList found;
    const std::function<bool(QAccessibleInterface*)> walk = [&](QAccessibleInterface* node) {
        if (node == nullptr) return false;
        bool below = false;
        for (int child = 0; child < node->childCount(); ++child) below = walk(node->child(child)) || below;
        const bool focused = node->state().focused;
        if (focused && !below) found << node->text(QAccessible::Name);
        return focused || below;
    };
    walk(QAccessible::queryAccessibleInterface(&root));
    return found.join(", ").toStdString();
}

TEST(OwnFolderChooser, ListsTheHomeAtOnceBesideADeadShareAndSaysTheShareDoesNotAnswer)
{
    HomeWithADeadShare home;
    testing::SlowMount mount(home.temp.home / "share", home.tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    QWidget window;
    FolderChooserDialog dialog(CORVALENT_APP, &window, 1s);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.listed(); }, 20'000));
    EXPECT_EQ(dialog.listedFolder().toStdString(), home.temp.home.string());
    EXPECT_EQ(dialog.pathField().text(), QFile::decodeName(dialog.listedFolder()));
    // Folders only, in the order people read them; links to folders too.
    EXPECT_EQ(shownNames(dialog), QStringList({"music", "Music 9", "Music 10", "Projects", "share", "share link", "work"}));
    EXPECT_FALSE(dialog.message().isVisible());
    EXPECT_EQ(mount.slowCallsBegun(), 0u) << "the share is listed without being looked at";

    // Hidden folders on request.
    QTest::keyClick(&dialog, Qt::Key_H, Qt::ControlModifier);
    EXPECT_TRUE(shownNames(dialog).contains(".config"));
    dialog.hiddenBox().click();
    EXPECT_FALSE(shownNames(dialog).contains(".config"));

    // The share, entered from the keyboard: it does not answer, and only the
    // helper that listed it waits there.
    dialog.list().setFocus();
    dialog.list().setCurrentRow(int(shownNames(dialog).indexOf("share")));
    ASSERT_TRUE(listedAfter(dialog, [&] { QTest::keyClick(&dialog.list(), Qt::Key_Return); }));
    EXPECT_EQ(dialog.listedFolder().toStdString(), (home.temp.home / "share").string());
    EXPECT_TRUE(dialog.message().isVisibleTo(&dialog));
    EXPECT_EQ(dialog.message().text(), "“share” does not answer. It may be on a disk or network share that is not "
                                       "responding.");
    EXPECT_FALSE(dialog.chooseButton().isEnabled()) << "a folder that did not answer is no choice";
    EXPECT_TRUE(readerMeets(dialog, dialog.message().text())) << "readers meet the message too";
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    dialog.grab().save(CORVALENT_SCREENSHOTS "/folder-chooser-not-answering.png");
    dialog.setPalette(darkPalette());
    dialog.grab().save(CORVALENT_SCREENSHOTS "/folder-chooser-not-answering-dark.png");
    dialog.setPalette(lightPalette());
    ASSERT_TRUE(mount.waitForSlowCalls(1, 20s));
    EXPECT_EQ(mount.slowCallsBegunBy(::getpid()), 0u) << "no thread of the program waits on the share";
    // Asked once while the chooser is open, not again.
    const auto asked = mount.slowCallsBegun();
    ASSERT_TRUE(listedAfter(dialog, [&] { QTest::keyClick(&dialog, Qt::Key_Up, Qt::AltModifier); }));
    ASSERT_TRUE(listedAfter(dialog, [&] { QTest::keyClick(&dialog.list(), Qt::Key_Return); }));
    EXPECT_TRUE(dialog.message().isVisibleTo(&dialog));
    EXPECT_EQ(mount.slowCallsBegun(), asked);

    // Up again: the home, with the share selected; then a folder typed in.
    ASSERT_TRUE(listedAfter(dialog, [&] { dialog.upButton().click(); }));
    ASSERT_NE(dialog.list().currentItem(), nullptr);
    EXPECT_EQ(dialog.list().currentItem()->text(), "share");
    // Through a link to the share: its helper waits there too, and the home,
    // on the mount that holds the link, still lists.
    const auto homePath = QFile::decodeName(dialog.listedFolder());
    ASSERT_TRUE(listedAfter(dialog, [&] { dialog.openFolder(homePath + "/share link"); }));
    EXPECT_TRUE(dialog.message().text().startsWith("“share link” does not answer."));
    ASSERT_TRUE(listedAfter(dialog, [&] { dialog.openFolder(homePath); }));
    EXPECT_FALSE(dialog.message().isVisibleTo(&dialog));
    EXPECT_TRUE(shownNames(dialog).contains("Projects"));
    dialog.pathField().setText("~/Projects");
    ASSERT_TRUE(listedAfter(dialog, [&] { QTest::keyClick(&dialog.pathField(), Qt::Key_Return); }));
    EXPECT_EQ(dialog.listedFolder().toStdString(), (home.temp.home / "Projects").string());
    EXPECT_EQ(dialog.message().text(), "No folders inside.");
    EXPECT_EQ(dialog.chosenFolder(), dialog.listedFolder()) << "nothing selected: the folder shown";
    dialog.pathField().setText("notes.txt");
    ASSERT_TRUE(listedAfter(dialog, [&] { QTest::keyClick(&dialog.pathField(), Qt::Key_Return); }));
    EXPECT_EQ(dialog.message().text(), "There is no folder “notes.txt”.");
    EXPECT_TRUE(readerMeets(dialog, dialog.message().text()));
    dialog.grab().save(CORVALENT_SCREENSHOTS "/folder-chooser-no-folder.png");
    EXPECT_EQ(mount.slowCallsBegunBy(::getpid()), 0u);
}

// Choosing from the page, the keyboard alone: Return on a row opens its
// folder, Return on the folder shown chooses it; the folder is scanned. A second Choose Folder brings the open
// chooser forward.
TEST(OwnFolderChooser, ChoosesAFolderFromTheKeyboardAndIsOneAtATime)
{
    HomeWithADeadShare home;
    testing::ChooserPage window;
    ASSERT_TRUE(window.open());
    auto& app = window.app;
    auto& chooser = window.chooser;
    auto* page = window.page;

    page->header().folderButton().click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return QApplication::activeModalWidget() == chooser->dialog(); }, 10'000));
    auto* dialog = chooser->dialog();
    EXPECT_EQ(dialog->windowTitle(), "Choose a folder to map");
    EXPECT_EQ(dialog->chooseButton().text(), "Scan Folder");
    page->chooseFolder();
    EXPECT_EQ(chooser->dialog(), dialog);
    EXPECT_EQ(app->mainWindow().findChildren<FolderChooserDialog*>().size(), 1);

    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->listed(); }, 20'000));
    QTest::keyClick(&dialog->list(), Qt::Key_Down);
    ASSERT_EQ(dialog->list().currentItem()->text(), "music");
    ASSERT_TRUE(listedAfter(*dialog, [&] { QTest::keyClick(&dialog->list(), Qt::Key_Return); }));
    EXPECT_EQ(dialog->listedFolder().toStdString(), (home.temp.home / "music").string());
    // Return on the folder shown chooses it.
    QTest::keyClick(&dialog->pathField(), Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return chooser->dialog() == nullptr; }, 10'000)) << "chosen";
    auto& model = app->mainView()->diskModel();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind == DiskModelStatus::Kind::ready; }, 30'000));
    EXPECT_EQ(model.result()->root.path, (home.temp.home / "music").string());
    EXPECT_EQ(chooser->dialog(), nullptr);

    // Escape cancels, and changes nothing.
    page->chooseFolder();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chooser->dialog() != nullptr; }, 10'000));
    QTest::keyClick(chooser->dialog(), Qt::Key_Escape);
    EXPECT_TRUE(QTest::qWaitFor([&] { return chooser->dialog() == nullptr; }, 10'000));
    EXPECT_EQ(model.result()->root.path, (home.temp.home / "music").string());
    // So does Return on a focused Cancel, though Scan Folder is the default.
    page->chooseFolder();
    ASSERT_TRUE(QTest::qWaitFor([&] { return chooser->dialog() != nullptr; }, 10'000));
    QSignalSpy finished(chooser->dialog(), &QDialog::finished);
    auto* cancel = chooser->dialog()->findChild<Button*>("folderCancel");
    ASSERT_NE(cancel, nullptr);
    cancel->setFocus(Qt::TabFocusReason);
    QTest::keyClick(cancel, Qt::Key_Return);
    EXPECT_TRUE(QTest::qWaitFor([&] { return chooser->dialog() == nullptr; }, 10'000));
    EXPECT_EQ(finished.count() == 1 ? finished.front().front().toInt() : -1, QDialog::Rejected);
    settle();
    EXPECT_EQ(model.status().kind, DiskModelStatus::Kind::ready) << "nothing is mapped";
    EXPECT_EQ(model.result()->root.path, (home.temp.home / "music").string());
    app.reset();
    settleAfterJobs();
    QSettings().clear();
}

// Tab alone through the chooser: reaching the list chooses nothing but shows
// the ring, and "Scan Folder" maps the folder the field shows. After
// Enclosing Folder the button is the one focused object; the list, reached
// again, goes on from the folder it came up from. A row moved to is the
// choice and the field shows it, also one whose name is not UTF-8, which is
// mapped by its own bytes. A path typed in is read before it is mapped.
TEST(OwnFolderChooser, ScanFolderMapsTheFolderTheFieldShows)
{
    HomeWithADeadShare home;
    const std::string odd = "Mix \xe9t\xe9";  // Latin-1, not UTF-8
    testing::writeFile(home.temp.home / "Projects" / odd / "track.ogg", 30'000);
    testing::ChooserPage window;
    ASSERT_TRUE(window.open());
    auto& model = window.app->mainView()->diskModel();
    const auto pick = [&]() -> FolderChooserDialog* {
        window.page->header().folderButton().click();
        if (!QTest::qWaitFor([&] { return QApplication::activeModalWidget() == window.chooser->dialog(); }, 10'000))
            return nullptr;
        auto* dialog = window.chooser->dialog();
        return QTest::qWaitFor([&] { return dialog->listed(); }, 20'000) ? dialog : nullptr;
    };
    const auto mapped = [&]() -> std::string {
        if (!QTest::qWaitFor([&] { return window.chooser->dialog() == nullptr; }, 10'000)) return "still choosing";
        if (!QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 30'000))
            return "still mapping";
        return model.status().kind == DiskModelStatus::Kind::ready ? model.result()->root.path.value_or("")
                                                                   : "not mapped";
    };
    const auto tab = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab); };

    auto* dialog = pick();
    ASSERT_NE(dialog, nullptr);
    const auto homePath = dialog->pathField().text();
    tab();
    ASSERT_EQ(QApplication::focusWidget(), &dialog->list());
    EXPECT_EQ(dialog->list().currentItem(), nullptr) << "reaching the list chooses nothing";
    EXPECT_TRUE(dialog->list().selectedItems().isEmpty());
    EXPECT_EQ(dialog->pathField().text(), homePath);
    settle();
    EXPECT_GT(ringStrength(dialog->list()), 40) << "the list shows the ring";
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    dialog->grab().save(CORVALENT_SCREENSHOTS "/folder-chooser-list-ringed.png");
    dialog->setPalette(darkPalette());
    dialog->grab().save(CORVALENT_SCREENSHOTS "/folder-chooser-list-ringed-dark.png");
    dialog->setPalette(lightPalette());
    EXPECT_EQ(focusedObjects(*dialog), "Folders");
    QTest::keyClick(&dialog->list(), Qt::Key_Down);
    ASSERT_TRUE(listedAfter(*dialog, [&] { QTest::keyClick(&dialog->list(), Qt::Key_Return); }));
    QTest::keyClick(&dialog->list(), Qt::Key_Backtab);
    QTest::keyClick(&dialog->pathField(), Qt::Key_Backtab);
    ASSERT_EQ(QApplication::focusWidget(), &dialog->upButton());
    ASSERT_TRUE(listedAfter(*dialog, [&] { QTest::keyClick(&dialog->upButton(), Qt::Key_Space); }));
    EXPECT_EQ(focusedObjects(*dialog), "Enclosing Folder");
    tab();
    tab();
    ASSERT_EQ(QApplication::focusWidget(), &dialog->list());
    ASSERT_NE(dialog->list().currentItem(), nullptr);
    EXPECT_EQ(dialog->list().currentItem()->text(), "music") << "the keys go on from the folder left";
    EXPECT_TRUE(dialog->list().selectedItems().isEmpty());
    EXPECT_EQ(dialog->pathField().text(), homePath);
    EXPECT_EQ(focusedObjects(*dialog), "music");
    tab();
    EXPECT_EQ(focusedObjects(*dialog), "Show Hidden Folders");
    tab();
    tab();
    ASSERT_EQ(QApplication::focusWidget(), &dialog->chooseButton());
    QTest::keyClick(&dialog->chooseButton(), Qt::Key_Space);
    EXPECT_EQ(mapped(), home.temp.home.string());

    dialog = pick();
    ASSERT_NE(dialog, nullptr);
    dialog->list().setFocus();
    QTest::keyClick(&dialog->list(), Qt::Key_Down);
    ASSERT_NE(dialog->list().currentItem(), nullptr);
    EXPECT_EQ(dialog->list().currentItem()->text(), "music");
    EXPECT_EQ(dialog->pathField().text(), homePath + "/music") << "the row moved to";
    dialog->pathField().setText("~/Projects");
    ASSERT_TRUE(listedAfter(*dialog, [&] { QTest::keyClick(&dialog->pathField(), Qt::Key_Return); }));
    dialog->list().setFocus();
    QTest::keyClick(&dialog->list(), Qt::Key_Down);
    EXPECT_EQ(dialog->chosenFolder().toStdString(), (home.temp.home / "Projects" / odd).string());
    EXPECT_TRUE(dialog->pathField().text().startsWith(homePath + "/Projects/Mix ")) << "shown as well as it can be";
    dialog->chooseButton().click();
    EXPECT_EQ(mapped(), (home.temp.home / "Projects" / odd).string());
    EXPECT_EQ(model.result()->root.fileCount, 1u);

    // A folder typed in that is not there is never mapped.
    dialog = pick();
    ASSERT_NE(dialog, nullptr);
    dialog->pathField().setText("~/nowhere");
    ASSERT_TRUE(listedAfter(*dialog, [&] { dialog->chooseButton().click(); }));
    EXPECT_EQ(dialog->message().text(), "There is no folder “nowhere”.");
    EXPECT_EQ(window.chooser->dialog(), dialog) << "still open";
    dialog->reject();
    EXPECT_EQ(mapped(), (home.temp.home / "Projects" / odd).string());
    window.app.reset();
    settleAfterJobs();
    QSettings().clear();
}

// A quick visit to a dead share leaves its helper in the kernel: the share,
// however it is typed, is not asked again while that helper is out, in this
// chooser or a later one, and is named as not answering; the home beside it
// still lists. The home is reached through a link, while the mount table
// names the share by the home's real path. Once the helper has ended and
// the share is back, the share is asked again.
TEST(OwnFolderChooser, AShareWhoseHelperIsStillOutIsNotAskedAgain)
{
    HomeWithADeadShare home(testing::TempHome::Reached::throughLink);
    testing::SlowMount mount(home.temp.home / "share", home.tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    const auto homePath = QDir::homePath();
    const auto share = homePath + "/share";
    ASSERT_NE(share.toStdString(), (home.temp.home / "share").string()) << "the home is reached through a link";
    const auto shareMount = FolderLister::countedUnder(share.toStdString()).share;
    EXPECT_EQ(shareMount, (home.temp.home / "share").string());
    const auto pending = std::make_shared<PendingListings>();
    const auto notAnswering = [](const FolderChooserDialog& dialog) {
        return dialog.message().text().endsWith(
            " does not answer. It may be on a disk or network share that is not responding.");
    };
    QWidget window;
    for (int visit = 0; visit < 2; ++visit) {
        SCOPED_TRACE(visit == 0 ? "first chooser" : "a later chooser");
        FolderChooserDialog dialog(CORVALENT_APP, &window, 1s, pending);
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.listed(); }, 20'000));
        for (int flip = 0; flip < 3; ++flip) {
            dialog.openFolder(share);
            if (visit == 0 && flip == 0) {
                ASSERT_TRUE(mount.waitForSlowCalls(1, 20s));
            }
            // Home again before the share answers: its helper goes on, in the kernel.
            ASSERT_TRUE(listedAfter(dialog, [&] { dialog.openFolder(homePath); }));
            EXPECT_TRUE(shownNames(dialog).contains("Projects"));
            ASSERT_TRUE(listedAfter(dialog, [&] { dialog.openFolder(share); }));
            EXPECT_EQ(dialog.message().text(), "“share” does not answer. It may be on a disk or network share that "
                                               "is not responding.");
        }
        for (const auto* typed : {"~/share/", "~/share/./inside/..", "~/Projects/../share", "~/share link/"}) {
            SCOPED_TRACE(typed);
            dialog.pathField().setText(typed);
            ASSERT_TRUE(listedAfter(dialog, [&] { QTest::keyClick(&dialog.pathField(), Qt::Key_Return); }));
            EXPECT_TRUE(notAnswering(dialog)) << dialog.message().text().toStdString();
        }
    }
    EXPECT_EQ(mount.slowCallsBegunByChildrenOf(::getpid()), 1u) << "one helper, asked once";
    EXPECT_EQ(pending->out(shareMount), 1);

    // The share's server comes back.
    mount.unmount();
    ASSERT_TRUE(QTest::qWaitFor([&] { return pending->out(shareMount) == 0; }, 20'000)) << "its helper has ended";
    testing::SlowTree answering;
    answering.folders = {"back"};
    testing::SlowMount back(home.temp.home / "share", answering);
    ASSERT_TRUE(back.mounted()) << back.problem();
    FolderChooserDialog dialog(CORVALENT_APP, &window, 60s, pending);
    ASSERT_TRUE(listedAfter(dialog, [&] { dialog.openFolder(share); }));
    EXPECT_EQ(shownNames(dialog), QStringList{"back"});
}

// One slow folder of a share: while its helper is out, the share itself and
// the folder beside it are listed, not named as not answering, here and in
// a second chooser; the slow folder is, in both, without a second helper;
// and its answer, once it comes, shows in each chooser that waits there.
TEST(OwnFolderChooser, OneSlowFolderLeavesItsShareListedAndItsLateAnswerShows)
{
    testing::TempHome home;
    testing::SlowTree tree;
    tree.folders = {"slow/deep", "beside/inner"};
    tree.slowList = {"slow"};
    tree.delay = 8s;
    testing::SlowMount mount(home.home / "share", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    const auto share = QFile::decodeName((home.home / "share").string().c_str());
    const auto pending = std::make_shared<PendingListings>();
    QWidget window;
    FolderChooserDialog waiting(CORVALENT_APP, &window, 300ms, pending);
    FolderChooserDialog other(CORVALENT_APP, &window, 300ms, pending);
    ASSERT_TRUE(QTest::qWaitFor([&] { return waiting.listed() && other.listed(); }, 20'000));
    const QString silent = "“slow” does not answer. It may be on a disk or network share that is not responding.";

    ASSERT_TRUE(listedAfter(waiting, [&] { waiting.openFolder(share + "/slow"); }));
    EXPECT_EQ(waiting.message().text(), silent);
    EXPECT_FALSE(waiting.chooseButton().isEnabled());
    ASSERT_TRUE(mount.waitForSlowCalls(1));
    ASSERT_TRUE(listedAfter(other, [&] { other.openFolder(share); }));
    EXPECT_EQ(shownNames(other), QStringList({"beside", "slow"}));
    EXPECT_FALSE(other.message().isVisibleTo(&other));
    ASSERT_TRUE(listedAfter(other, [&] { other.openFolder(share + "/beside"); }));
    EXPECT_EQ(shownNames(other), QStringList{"inner"});
    EXPECT_FALSE(other.message().isVisibleTo(&other));
    ASSERT_TRUE(listedAfter(other, [&] { other.openFolder(share + "/slow"); }));
    EXPECT_EQ(other.message().text(), silent);
    EXPECT_EQ(mount.slowCallsEnded(), 0u) << "all this while the slow folder's helper was out";
    EXPECT_TRUE(waiting.message().isVisibleTo(&waiting));

    // The answer comes: each chooser shows it where it named the folder silent.
    for (auto* dialog : {&waiting, &other}) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return shownNames(*dialog) == QStringList{"deep"}; }, 30'000));
        EXPECT_FALSE(dialog->message().isVisibleTo(dialog));
        EXPECT_TRUE(dialog->chooseButton().isEnabled());
    }
    EXPECT_EQ(mount.slowCallsBegun(), 1u) << "asked once";
}

}  // namespace
}  // namespace corvalent

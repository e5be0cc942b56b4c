#include <gtest/gtest.h>
#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QLabel>
#include <QMimeData>
#include <QPointer>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "live_environments.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_guide_sheet.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/message_line.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using testing::writeFile;
using Sheet = QPointer<DiskCleanupConfirmation>;

struct RecordingRevealer : FileRevealer {
    std::vector<std::string> revealed;
    bool nothingShows = false;
    Failure lateAnswer;  // as the desktop's: the failure given with the call, told later
    void showItem(const std::string& path, Failure failure) override
    {
        revealed.push_back(path);
        if (nothingShows) lateAnswer = failure;
    }
};

// A home folder and Trash of the test's own, a real model and a shown
// window the sheets are modal over.
class DiskSheets : public ::testing::Test {
protected:
    testing::TempHome temp;
    const fs::path& home = temp.home;
    fs::path trash = temp.trash();
    DiskModel model{quietDiskEnvironment()};
    RecordingRevealer revealer;
    QWidget window;

    DiskSheets()
    {
        QSettings().clear();
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    // Background work ends and delivers while the model and the test's home remain.
    ~DiskSheets() override
    {
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
        QCoreApplication::processEvents();
    }

    // Opened as the page opens it; it deletes itself on close.
    template <typename Dialog>
    Dialog* present(Dialog* sheet, const QPalette& palette = lightPalette())
    {
        sheet->setPalette(palette);
        sheet->setWindowModality(Qt::WindowModal);
        sheet->setAttribute(Qt::WA_DeleteOnClose);
        sheet->open();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(sheet));
        sheet->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(sheet));
        return sheet;
    }
    Sheet confirm(const DiskCleanupCandidate& candidate)
    {
        return present(new DiskCleanupConfirmation(model, candidate, revealer, &window));
    }
    DiskCleanupCandidate candidate(const fs::path& file)
    {
        return model.cleanupCandidate(file.string(), testing::allocatedBytes(file), false);
    }
    // Waits until the sheet has examined or tried the item and is idle; false when it closed instead.
    bool settled(const Sheet& sheet)
    {
        return QTest::qWaitFor(
                   [&] {
                       return !sheet || (sheet->moveButton().text() == CleanupConfirmationTexts::moveToTrash() &&
                                         !model.cleanupInProgress());
                   },
                   20'000) &&
               sheet;
    }
};

QStringList texts(QWidget& in, const QString& name = {})
{
    QStringList found;
    for (auto* label : in.findChildren<QLabel*>(name))
        if (label->isVisibleTo(&in)) found << label->text();
    return found;
}

void screenshot(QWidget& sheet, const QString& name, bool settleFirst = true)
{
    if (settleFirst) settle();
    QDir().mkpath(CORVALENT_SCREENSHOTS);
    EXPECT_TRUE(sheet.grab().save(QString(CORVALENT_SCREENSHOTS) + "/disk-sheet-" + name + ".png"));
}

TEST_F(DiskSheets, TabReachesTheMoveReturnNeverPressesItAndAClickMovesTheReviewedItemToTheTrash)
{
    const auto movie = home / "films" / "movie.mkv";
    writeFile(movie, 300'000);
    const auto reviewed = candidate(movie);
    ASSERT_EQ(reviewed.safety, DiskCleanupSafety::review);

    Sheet sheet = confirm(reviewed);
    ASSERT_TRUE(settled(sheet));
    EXPECT_TRUE(sheet->moveButton().isEnabled());
    EXPECT_EQ(texts(*sheet, "confirmationName"), QStringList{"movie.mkv"});
    EXPECT_EQ(texts(*sheet, "confirmationDetailTitle"), (QStringList{"WHY IT APPEARED", "WHAT MAY HAPPEN"}));
    EXPECT_TRUE(texts(*sheet, "confirmationMessage").isEmpty());
    EXPECT_EQ(QApplication::focusWidget(), &sheet->cancelButton());
    screenshot(*sheet, "confirmation-light");
    QTest::mouseClick(&sheet->revealButton(), Qt::LeftButton);
    EXPECT_EQ(revealer.revealed, std::vector{movie.string()});

    // Clicked, Reveal holds the focus. Tab goes round Reveal, Cancel and the
    // move; Return and Enter never press the focused move. Return presses
    // the focused Reveal, and the focused Cancel.
    const std::vector<QWidget*> row{&sheet->revealButton(), &sheet->cancelButton(), &sheet->moveButton()};
    for (int step = 0; step < 5; ++step) {
        ASSERT_EQ(QApplication::focusWidget(), row[step % 3]) << step;
        if (row[step % 3] == &sheet->moveButton())
            for (const auto key : {Qt::Key_Return, Qt::Key_Enter}) QTest::keyClick(QApplication::focusWidget(), key);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    drainLanes();
    settle();
    ASSERT_TRUE(sheet) << "Return neither moves nor closes";
    EXPECT_TRUE(model.recentTrash().empty());
    EXPECT_EQ(revealer.revealed.size(), 1U);
    sheet->revealButton().setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(revealer.revealed.size(), 2U);

    // Where nothing can show the item, the sheet says so itself, whole, not
    // the page behind it; an answer that comes once it has closed goes to the page.
    std::vector<std::string> pageHeard;
    revealer.setFailure([&](const std::string& path) { pageHeard.push_back(path); });
    revealer.nothingShows = true;
    sheet->revealButton().click();
    ASSERT_TRUE(revealer.lateAnswer);
    revealer.lateAnswer(movie.string());
    settle();
    auto* line = sheet->findChild<MessageLine*>("confirmationRevealMessage");
    ASSERT_NE(line, nullptr);
    EXPECT_EQ(line->text(), "No file manager could show “movie.mkv”.");
    EXPECT_TRUE(line->isVisible());
    EXPECT_LE(line->mapTo(sheet.data(), QPoint()).y() + line->height(), sheet->height());
    EXPECT_TRUE(pageHeard.empty());
    screenshot(*sheet, "confirmation-reveal-failed");
    sheet->revealButton().click();
    const auto late = revealer.lateAnswer;

    sheet->cancelButton().setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(sheet);
    late(movie.string());
    EXPECT_EQ(pageHeard, std::vector{movie.string()});
    EXPECT_TRUE(fs::exists(movie));
    EXPECT_TRUE(model.recentTrash().empty());

    sheet = confirm(reviewed);
    QSignalSpy finished(sheet.data(), &QDialog::finished);
    ASSERT_TRUE(settled(sheet));
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    EXPECT_FALSE(settled(sheet)) << "closes on the receipt of this move";
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(fs::exists(movie));
    EXPECT_TRUE(fs::exists(trash / "files" / "movie.mkv"));
    std::stringstream info;
    info << std::ifstream(trash / "info" / "movie.mkv.trashinfo").rdbuf();
    EXPECT_TRUE(info.str().starts_with("[Trash Info]\nPath=" + movie.string() + "\nDeletionDate=")) << info.str();
}

TEST_F(DiskSheets, AnItemChangedSinceReviewOrAnEarlierMoveOfItsPathNeverClosesAFailedSheet)
{
    const auto swapped = home / "swapped.mkv", again = home / "again.mkv";
    writeFile(swapped, 300'000);
    writeFile(again, 200'000);
    const auto changed = [](const QString& name) {
        return QStringList{"“" + name +
                           "” can't be moved to Trash. The item changed after it was reviewed. Scan it again before "
                           "acting."};
    };

    Sheet sheet = confirm(candidate(swapped));
    ASSERT_TRUE(settled(sheet));
    fs::remove(swapped);
    writeFile(swapped, 100'000);  // another file under the reviewed name
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    ASSERT_TRUE(settled(sheet)) << "stays open";
    EXPECT_EQ(texts(*sheet, "confirmationMessage"), changed("swapped.mkv"));
    EXPECT_FALSE(sheet->moveButton().isEnabled()) << "a retry would meet the same changed item";
    EXPECT_EQ(fs::file_size(swapped), 100'000U);
    EXPECT_FALSE(fs::exists(trash));
    screenshot(*sheet, "confirmation-changed");
    sheet->reject();

    // Moved once already; a new file at the same path fails its move.
    std::optional<DiskTrashRequest> first;
    model.prepareTrash(candidate(again), [&](auto request) { first = request; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return first.has_value(); }, 20'000));
    model.moveToTrash(*first);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.recentTrash().size() == 1; }, 20'000));
    writeFile(again, 200'000);
    sheet = confirm(candidate(again));
    ASSERT_TRUE(settled(sheet));
    std::ofstream(again, std::ios::app) << "grown";
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    ASSERT_TRUE(settled(sheet)) << "the earlier receipt is not this move's";
    EXPECT_EQ(texts(*sheet, "confirmationMessage"), changed("again.mkv"));
    EXPECT_TRUE(fs::exists(again));
}

// A copy of the verified set whose folder stopped answering after Verify:
// the sheet names that copy and its folder, its move turns off for this try,
// Cancel closes it, and later sheets move at once, that copy's set again too.
TEST_F(DiskSheets, ACopyWhoseFolderDoesNotAnswerTurnsTheMoveOffForThisTryOnly)
{
    const auto kept = home / "backup" / "dataset.zip", offered = home / "downloads" / "dataset.zip",
               other = home / "other.bin";
    for (const auto& copy : {kept, offered}) writeFile(copy, 10'000'000);
    writeFile(other, 100'000);
    model.scan(home.string());
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000));
    ASSERT_TRUE(model.result() && model.result()->potentialDuplicateGroups.size() == 1);
    model.verifyDuplicates(model.result()->potentialDuplicateGroups.front());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.verifyingDuplicateGroupID(); }, 60'000));
    ASSERT_EQ(model.duplicateMessage(), "Verified 2 identical files.");
    testing::SlowTree tree;
    tree.slowStat = {"."};
    tree.neverAnswers = true;
    testing::SlowMount mount(kept.parent_path(), tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    Sheet sheet = confirm(candidate(offered));
    ASSERT_TRUE(settled(sheet));
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    ASSERT_TRUE(settled(sheet)) << "stays open";
    EXPECT_EQ(texts(*sheet, "confirmationMessage"),
              QStringList{QString::fromStdString("“dataset.zip” in “" + kept.parent_path().string() +
                                                 "” does not answer. Nothing was moved. Try again when its disk "
                                                 "answers.")});
    EXPECT_FALSE(sheet->moveButton().isEnabled()) << "not for this try";
    EXPECT_TRUE(fs::exists(offered));
    screenshot(*sheet, "confirmation-copy-not-answering");
    QTest::mouseClick(&sheet->cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !sheet; }, 5'000)) << "Cancel closes it";

    sheet = confirm(candidate(offered));
    ASSERT_TRUE(settled(sheet));
    EXPECT_TRUE(sheet->moveButton().isEnabled()) << "a new try";
    sheet->reject();
    sheet = confirm(candidate(other));
    ASSERT_TRUE(settled(sheet));
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    EXPECT_FALSE(settled(sheet)) << "closes on the receipt of this move";
    EXPECT_FALSE(fs::exists(other));
    EXPECT_EQ(mount.slowCallsBegunBy(::getpid()), 0U) << "a thread of the program waits on the folder";
}

TEST_F(DiskSheets, ASheetSpeaksOfItsOwnItemOnlyAndARefusedItemIsNotOfferedAgain)
{
    const auto kept = home / "kept.bin", moved = home / "report-q3.bin", link = home / "link.bin", pipe = home / "pipe",
               oddName = home / std::string("tool_\xff.deb");
    for (const auto& file : {kept, moved, oddName}) writeFile(file, 40'000);
    fs::create_symlink(kept, link);
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);

    // Each refusal of the sheet's own item: said in the sheet, told to
    // readers, and the move stays off.
    QStringList told;
    watchAnnouncements([&told](const QString& said) { told << said; });
    for (const auto& [refused, kind] : {std::pair(link, DiskTrashError::Kind::symbolicLink),
                                        {pipe, DiskTrashError::Kind::unsupportedItem},
                                        {oddName, DiskTrashError::Kind::invalidName}}) {
        SCOPED_TRACE(refused.string());
        told.clear();
        Sheet sheet = confirm(model.cleanupCandidate(refused.string(), 40'000, false));
        ASSERT_TRUE(settled(sheet));
        EXPECT_EQ(model.cleanupOutcome().refusal, kind);
        EXPECT_EQ(texts(*sheet, "confirmationMessage"), QStringList{model.cleanupOutcome().message});
        EXPECT_FALSE(sheet->moveButton().isEnabled()) << "pressing again meets the same refusal";
        EXPECT_TRUE(told.contains(model.cleanupOutcome().message)) << told.join("|").toStdString();
        sheet->reject();
    }
    watchAnnouncements({});
    ASSERT_TRUE(model.cleanupMessage()) << "the model keeps the last refusal for its status card";

    // Another item's sheet says nothing of the refusal before it.
    Sheet sheet = confirm(candidate(kept));
    ASSERT_TRUE(settled(sheet));
    EXPECT_TRUE(texts(*sheet, "confirmationMessage").isEmpty());
    EXPECT_TRUE(sheet->moveButton().isEnabled());
    sheet->reject();

    // Nor of another item's move.
    sheet = confirm(candidate(moved));
    ASSERT_TRUE(settled(sheet));
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    ASSERT_FALSE(settled(sheet)) << "closed after its move";
    ASSERT_EQ(model.cleanupMessage(), "Moved report-q3.bin to Trash.");
    sheet = confirm(candidate(kept));
    ASSERT_TRUE(settled(sheet));
    EXPECT_TRUE(texts(*sheet, "confirmationMessage").isEmpty());
    screenshot(*sheet, "confirmation-after-another-move");
    sheet->reject();
}

TEST_F(DiskSheets, TheConfirmationShowsTheCandidateExaminesItAnewWhenReopenedAndNeverOffersAProtectedItem)
{
    // Long enough to need more than the two lines a path may take.
    const auto later = home / "renders-for-review" / "ultra-high-definition-masters-2019" / "final-versions" /
                       "exports-approved-by-the-client" / "colour-graded" / "later.bin";
    auto missing = model.cleanupCandidate(later.string(), 1'073'741'824, false);
    missing.activeOwners = {"Alpha", "Beta"};

    auto* opening = new DiskCleanupConfirmation(model, missing, revealer, &window);
    opening->setPalette(darkPalette());
    EXPECT_EQ(opening->moveButton().text(), CleanupConfirmationTexts::checking()) << "until the item is examined";
    EXPECT_FALSE(opening->moveButton().isEnabled());
    screenshot(*opening, "confirmation-checking-dark", false);
    Sheet sheet = present(opening, darkPalette());
    ASSERT_TRUE(settled(sheet));
    EXPECT_EQ(texts(*sheet, "confirmationSize"), QStringList{"1.0 GB"});
    auto* path = sheet->findChild<QLabel*>("confirmationPath");
    const double line = QFontMetricsF(path->font()).lineSpacing();
    EXPECT_TRUE(path->height() > 1.5 * line && path->height() < 2.5 * line) << "two lines, its middle elided";
    EXPECT_EQ(texts(*sheet, "confirmationDetailTitle"),
              (QStringList{"WHY IT APPEARED", "WHAT MAY HAPPEN", "RUNNING NOW"}));
    EXPECT_EQ(texts(*sheet, "confirmationDetailValue").last(), "Alpha, Beta");
    // Missing when the sheet opened: the reason shows and the move is off;
    // the sheet opened again examines the item anew.
    ASSERT_TRUE(model.cleanupMessage());
    EXPECT_EQ(texts(*sheet, "confirmationMessage"), QStringList{*model.cleanupMessage()});
    EXPECT_FALSE(sheet->moveButton().isEnabled()) << "a refusal of its item, whatever it was, offers no move";
    screenshot(*sheet, "confirmation-refused-dark");
    writeFile(later, 50'000);
    sheet->reject();
    sheet = confirm(missing);
    ASSERT_TRUE(settled(sheet));
    EXPECT_TRUE(texts(*sheet, "confirmationMessage").isEmpty());
    ASSERT_TRUE(sheet->moveButton().isEnabled()) << "there now";
    // An assistive tool's press moves as a click does.
    auto* move = QAccessible::queryAccessibleInterface(&sheet->moveButton())->actionInterface();
    ASSERT_NE(move, nullptr);
    QSignalSpy pressed(&sheet->moveButton(), &QAbstractButton::clicked);
    move->doAction(QAccessibleActionInterface::pressAction());
    ASSERT_TRUE(QTest::qWaitFor([&] { return pressed.count() == 1; }, 5'000));
    EXPECT_FALSE(settled(sheet));
    EXPECT_TRUE(fs::exists(trash / "files" / "later.bin"));

    auto guarded = model.cleanupCandidate(home.string(), 1'073'741'823, true);
    guarded.safety = DiskCleanupSafety::protected_;
    const auto before = model.cleanupMessage();
    sheet = confirm(guarded);
    EXPECT_EQ(texts(*sheet, "confirmationSize"), QStringList{"1024 MB"});
    EXPECT_EQ(texts(*sheet, "confirmationDetailTitle").size(), 2);
    EXPECT_FALSE(sheet->moveButton().isEnabled());
    EXPECT_EQ(texts(*sheet, "confirmationMessage"), QStringList{"This location is protected by Corvalent."});
    EXPECT_EQ(model.cleanupMessage(), before) << "the item was not even examined";
    sheet->reject();
}

TEST_F(DiskSheets, TheGuideCopiesTheExactCommandMarksItClosesOnReturnAndLeavesOutWhatItLacks)
{
    DiskCleanupCandidate volume;
    volume.path = "/home/u/.local/share/docker/volumes/db";
    auto guide = *DiskCleanupGuides::guide(volume);
    guide.commands.push_back(guide.commands.front());  // listed twice: both rows carry the mark
    ASSERT_EQ(guide.commands.size(), 3U);
    auto* dark = present(new DiskCleanupGuideView(guide, &window), darkPalette());
    screenshot(*dark, "guide-dark");
    dark->reject();

    QPointer<DiskCleanupGuideView> sheet = present(new DiskCleanupGuideView(guide, &window));
    QSignalSpy finished(sheet.data(), &QDialog::finished);
    EXPECT_NE(sheet->findChild<Button*>("guideDocumentation"), nullptr);
    auto rows = sheet->findChildren<Button*>("guideCopy");
    ASSERT_EQ(rows.size(), 3);
    const auto marks = [&] {
        QStringList shown;
        for (auto* row : rows) shown << row->toolTip();
        return shown;
    };
    EXPECT_EQ(marks(), (QStringList{"Copy command", "Copy command", "Copy command"}));
    auto* held = new QMimeData;
    held->setHtml("<b>held</b>");
    QGuiApplication::clipboard()->setMimeData(held);
    QTest::mouseClick(rows[1], Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "docker system prune");
    EXPECT_FALSE(QGuiApplication::clipboard()->mimeData()->hasHtml()) << "the whole clipboard is replaced";
    EXPECT_EQ(marks(), (QStringList{"Copy command", "Copied", "Copy command"}));
    QTest::mouseClick(rows[2], Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "docker system df -v");
    EXPECT_EQ(marks(), (QStringList{"Copied", "Copy command", "Copied"}));
    screenshot(*sheet, "guide-light");
    // A focused Copy takes Return itself; Done takes it while no button has the focus.
    rows[1]->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    ASSERT_TRUE(sheet);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "docker system prune");
    EXPECT_EQ(marks(), (QStringList{"Copy command", "Copied", "Copy command"}));
    sheet->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    settle();
    EXPECT_FALSE(sheet);
    EXPECT_EQ(finished.count(), 1);

    for (const auto* address : {"docs.example.com/cache", "https://exa mple.com/", "ftp://example.com/", "https://"})
        EXPECT_FALSE(documentationLink(std::string(address))) << address;
    guide.commands.clear();
    guide.steps.clear();
    guide.documentationURL = "https://exa mple.com/";
    sheet = present(new DiskCleanupGuideView(guide, &window));
    EXPECT_EQ(sheet->findChild<QWidget*>("guideCommands"), nullptr);
    EXPECT_FALSE(texts(*sheet).contains("Corvalent never runs these commands."));
    EXPECT_EQ(sheet->findChild<Button*>("guideDocumentation"), nullptr);
    ASSERT_NE(sheet->findChild<QWidget*>("guideSteps"), nullptr) << "drawn even without steps";
    EXPECT_TRUE(texts(*sheet, "guideStep").isEmpty());
    sheet->reject();
}

}  // namespace
}  // namespace corvalent

// The disk road end to end in the real application window, on a real
// display when there is one: a folder is chosen in the folder dialog and
// scanned, a cleanup guide is read and its command copied, a reviewed item
// goes to the Trash of a home of the test's own and comes back with Undo,
// duplicates are verified, and an item swapped after review stays put.
#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QCryptographicHash>
#include <QDialogButtonBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>

#include "models/background_task.h"
#include "models/disk_model.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/folders/folder_chooser.h"
#include "ui/disk/folders/folder_chooser_dialog.h"
#include "ui/disk/header/disk_header.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/review/cleanup_confirmation.h"
#include "ui/disk/review/cleanup_guide_sheet.h"
#include "ui/disk/review/cleanup_row.h"
#include "ui/disk/review/review_cards.h"
#include "ui/disk/review/review_list.h"
#include "ui/disk/sidebar/disk_rows.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/sidebar/duplicate_card.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

QByteArray digest(const fs::path& file)
{
    QFile in(QString::fromStdString(file.string()));
    if (!in.open(QIODevice::ReadOnly)) return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&in);
    return hash.result();
}

void writeBytes(const fs::path& file, const std::string& bytes)
{
    fs::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
}

bool containsText(QWidget& area, const QString& text)
{
    for (auto* label : area.findChildren<QLabel*>())
        if (label->isVisibleTo(&area) && label->text() == text) return true;
    return false;
}

class DiskRoadWindow : public ::testing::Test {
protected:
    testing::TempHome temp;
    const fs::path& home = temp.home;
    fs::path cache = home / ".npm" / "_cacache";
    fs::path trash = temp.trash();
    std::unique_ptr<CorvalentApp> app;

    void SetUp() override
    {
        const auto seed = std::random_device{}();
        std::cout << "seed " << seed << '\n';
        std::mt19937 random(seed);
        const auto bytes = [&](std::size_t count) {
            std::string text(count, '\0');
            for (auto& c : text) c = static_cast<char>(random());
            return text;
        };
        for (int i = 0; i < 6; ++i) writeBytes(cache / "content-v2" / ("blob" + std::to_string(i)), bytes(300'000));
        const auto photo = bytes(11'000'000);
        for (const auto* name : {"a.raw", "b.raw", "c.raw"}) writeBytes(home / "photos" / name, photo);

        QSettings().clear();
        QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
        app = std::make_unique<CorvalentApp>();
        app->setFolderChooser(std::make_shared<OwnFolderChooser>(CORVALENT_APP));
        app->openMainWindow();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
        QTest::mouseClick(&app->mainView()->sectionSwitch().button(AppSection::storage), Qt::LeftButton);
        ASSERT_NE(page(), nullptr);
    }
    void TearDown() override
    {
        app.reset();
        for (const auto lane : {TaskLane::files, TaskLane::processes})
            EXPECT_TRUE(BackgroundTask::pool(lane).waitForDone(60'000));
        QCoreApplication::processEvents();
    }

    DiskView* page() { return qobject_cast<DiskView*>(app->mainView()->currentPage()); }
    DiskModel& model() { return app->mainView()->diskModel(); }
    ReviewList& review()
    {
        return static_cast<ReviewList&>(page()->mapPanel().sidebar().modeContent(DiskSidebarMode::cleanup));
    }
    bool idle()
    {
        return QTest::qWaitFor([&] { return !model().cleanupInProgress(); }, 20'000);
    }
    bool scanned()
    {
        return QTest::qWaitFor([&] { return model().status().kind == DiskModelStatus::Kind::ready; }, 60'000);
    }
    CleanupRow* row(const fs::path& path)
    {
        for (auto* row : review().rows())
            if (row->candidate().path == path.string()) return row;
        return nullptr;
    }
    template <typename Sheet>
    Sheet* openSheet()
    {
        Sheet* sheet = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] { return (sheet = qobject_cast<Sheet*>(QApplication::activeModalWidget())) != nullptr; }, 10'000);
        return shown ? sheet : nullptr;
    }
    void shot(const QString& name)
    {
        settle();
        fs::create_directories(CORVALENT_SCREENSHOTS);
        auto* window = QApplication::activeModalWidget() ? QApplication::activeModalWidget() : &app->mainWindow();
        window->grab().save(QString(CORVALENT_SCREENSHOTS) + "/disk-road-" + name + ".png");
    }
    // Presses the verify button of the first group and waits for its outcome.
    void verifyFirstGroup()
    {
        auto& card = review().duplicateCard();
        ASSERT_FALSE(card.groupBlocks().empty());
        card.groupBlocks().front()->verifyButton().click();
        ASSERT_TRUE(QTest::qWaitFor([&] { return !model().verifyingDuplicateGroupID(); }, 30'000));
        QCoreApplication::processEvents();
    }
};

TEST_F(DiskRoadWindow, ReviewMoveUndoVerifyAndRefuseASwappedItem)
{
    // The program's own folder chooser, answered as a person would.
    page()->header().folderButton().click();
    auto* dialog = openSheet<FolderChooserDialog>();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), "Choose a folder to map");
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->listed(); }, 20'000));
    EXPECT_EQ(dialog->listedFolder().toStdString(), home.string());
    EXPECT_EQ(dialog->chooseButton().text(), "Scan Folder");
    dialog->chooseButton().click();
    ASSERT_TRUE(scanned());
    ASSERT_EQ(model().result()->root.path, home.string());
    QTest::mouseClick(page()->mapPanel().sidebar().findChild<SegmentedControl*>()->segment(1), Qt::LeftButton);
    ASSERT_EQ(page()->state().sidebarMode(), DiskSidebarMode::cleanup);
    ASSERT_TRUE(QTest::qWaitFor([&] { return row(cache) != nullptr; }, 20'000));
    shot("review");

    // The cache's guide: its command is copied exactly.
    row(cache)->guideButton().click();
    auto* guide = openSheet<DiskCleanupGuideView>();
    ASSERT_NE(guide, nullptr);
    Button* copy = nullptr;
    for (auto* button : guide->findChildren<QAbstractButton*>())
        if (button->toolTip() == "Copy command") copy = static_cast<Button*>(button);
    ASSERT_NE(copy, nullptr);
    QTest::mouseClick(copy, Qt::LeftButton);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), "npm cache verify");
    EXPECT_EQ(copy->toolTip(), "Copied");
    shot("guide");
    QTest::keyClick(guide, Qt::Key_Return);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page()->guideSheet() == nullptr; }, 5'000));

    // Review, then keys that move nothing, then the click that does.
    const auto blob = cache / "content-v2" / "blob3";
    const auto before = digest(blob);
    row(cache)->reviewButton().click();
    auto* sheet = openSheet<DiskCleanupConfirmation>();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().text() == "Move to Trash"; }, 10'000));
    QTest::keyClick(sheet, Qt::Key_Return);
    QTest::keyClick(sheet, Qt::Key_Space);
    ASSERT_TRUE(idle());
    EXPECT_TRUE(fs::exists(blob)) << "no key moves anything";
    EXPECT_NE(page()->confirmationSheet(), nullptr);
    shot("confirmation");
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page()->confirmationSheet() == nullptr; }, 20'000));
    ASSERT_TRUE(idle());
    EXPECT_FALSE(fs::exists(cache));
    EXPECT_TRUE(fs::exists(trash / "files" / "_cacache" / "content-v2" / "blob3"));
    EXPECT_TRUE(fs::exists(trash / "info" / "_cacache.trashinfo"));
    auto& status = review().statusCard();
    EXPECT_TRUE(status.texts().contains("Moved _cacache to Trash.")) << status.texts().join(" | ").toStdString();
    EXPECT_TRUE(status.rescanButton().isVisible());
    EXPECT_EQ(review().recentTrashCard().count(), "1");
    EXPECT_EQ(row(cache), nullptr) << "the moved item left the list";
    const auto listedUnderCache = [&] {
        const auto& files = page()->mapPanel().sidebar().fileRows();
        return std::count_if(files.begin(), files.end(),
                             [&](auto* file) { return file->path().starts_with(cache.string() + "/"); });
    };
    EXPECT_EQ(listedUnderCache(), 0) << "nor the largest files";
    shot("moved");

    // Undo with its folder gone says so, and keeps the row for a later try.
    ASSERT_FALSE(review().recentTrashCard().undoButtons().empty());
    fs::rename(cache.parent_path(), home / ".npm-away");
    review().recentTrashCard().undoButtons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return model().cleanupMessage().has_value(); }, 20'000));
    ASSERT_TRUE(idle());
    EXPECT_EQ(status.texts().value(0).toStdString(), "“_cacache” can't go back: its folder “" +
                                                         cache.parent_path().string() +
                                                         "” is gone. It is still in the Trash.");
    EXPECT_EQ(review().recentTrashCard().count(), "1");
    shot("undo-refused");
    fs::rename(home / ".npm-away", cache.parent_path());

    // Undo brings it back as it was.
    review().recentTrashCard().undoButtons().front()->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return fs::exists(blob); }, 20'000));
    ASSERT_TRUE(idle());
    EXPECT_EQ(digest(blob), before);
    EXPECT_EQ(listedUnderCache(), 6) << "restored, its files are listed again";
    EXPECT_FALSE(fs::exists(trash / "info" / "_cacache.trashinfo"));

    // Three identical copies: the first is kept, the others may be reviewed.
    verifyFirstGroup();
    EXPECT_EQ(review().duplicateCard().messageText(), "Verified 3 identical files.");
    const auto& sets = review().duplicateCard().groupBlocks().front()->sets();
    ASSERT_EQ(sets.size(), 1u);
    const auto& copies = sets.front()->rows();
    ASSERT_EQ(copies.size(), 3u);
    EXPECT_EQ(copies[0].review, nullptr);
    ASSERT_NE(copies[1].review, nullptr);
    shot("duplicates");

    // An item swapped for another file after review is refused and stays.
    const fs::path second = copies[1].path;
    copies[1].review->click();
    sheet = openSheet<DiskCleanupConfirmation>();
    ASSERT_NE(sheet, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return sheet->moveButton().text() == "Move to Trash"; }, 10'000));
    fs::remove(second);
    writeBytes(second, "another file");
    QTest::mouseClick(&sheet->moveButton(), Qt::LeftButton);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return model().cleanupMessage().has_value() && !model().cleanupInProgress(); }, 20'000));
    EXPECT_EQ(model().cleanupMessage(), "“" + QString::fromStdString(second.filename().string()) +
                                            "” can't be moved to Trash. The item changed after it was reviewed. "
                                            "Scan it again before acting.");
    EXPECT_EQ(page()->confirmationSheet(), sheet) << "the sheet stays open and says why";
    EXPECT_TRUE(containsText(*sheet, *model().cleanupMessage()));
    EXPECT_TRUE(fs::exists(second));
    EXPECT_FALSE(fs::exists(trash / "files" / second.filename()));
    shot("refused");
    QTest::mouseClick(&sheet->cancelButton(), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return page()->confirmationSheet() == nullptr; }, 5'000));
    shot("refused-status");  // the same sentence in the review list, wrapped to its width

    // A copy changed after the scan is reported when verified.
    writeBytes(second, std::string(11'000'000, 'x'));
    review().statusCard().rescanButton().click();
    ASSERT_TRUE(scanned());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !review().duplicateCard().groupBlocks().empty(); }, 20'000));
    // Saved the way editors save: a changed copy takes the file's place.
    const auto third = home / "photos" / "c.raw";
    fs::copy_file(third, home / "photos" / "c.raw.new");
    {
        std::fstream edited(home / "photos" / "c.raw.new", std::ios::in | std::ios::out | std::ios::binary);
        edited.seekp(5);
        edited.put('!');
    }
    fs::rename(home / "photos" / "c.raw.new", third);
    verifyFirstGroup();
    EXPECT_TRUE(
        review().duplicateCard().messageText().endsWith(" changed while Corvalent was verifying it. Scan again."))
        << review().duplicateCard().messageText().toStdString();
    shot("changed");
}

}  // namespace
}  // namespace corvalent

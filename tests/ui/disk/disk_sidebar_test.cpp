#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QEnterEvent>
#include <QLocale>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

#include "live_environments.h"
#include "models/disk_model.h"
#include "test_support.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/segmented_control.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Mode = DiskSidebarMode;
using testing::writeFile;

// Revealing needs a file manager, which the test machine lacks: the paths are kept.
struct RecordingRevealer : FileRevealer {
    std::vector<std::string> revealed;
    void showItem(const std::string& path, Failure) override { revealed.push_back(path); }
};

// A tree with every kind of row: 15 data folders (one more than a folder
// shows, so "Other folders" appears), a database folder, loose files, a
// folder of nothing but an empty file, and a database file among the
// largest files. `scale` multiplies every size.
fs::path seedTree(const fs::path& base, std::size_t scale = 1)
{
    const auto tree = fs::canonical(base) / "tree";
    writeFile(tree / "store.db" / "blob", 400'000 * scale);
    for (std::size_t i = 0; i < 15; ++i)
        writeFile(tree / ("folder" + std::to_string(10 + i)) / "data", (i + 1) * 12'000 * scale);
    writeFile(tree / "folder24" / "sub" / "deep", 50'000 * scale);
    writeFile(tree / "folder24" / "zeros" / "inner" / "empty", 0);
    writeFile(tree / "folder13" / "index.sqlite", 150'000 * scale);
    writeFile(tree / "loose.bin", 90'000 * scale);
    return tree;
}

// The sidebar offscreen on a real model that scanned a real tree.
struct SidebarHost {
    DiskModel model{quietDiskEnvironment()};
    DiskViewState state;
    RecordingRevealer revealer;
    QWidget host;
    DiskSidebar* sidebar = nullptr;

    explicit SidebarHost(const QPalette& palette = lightPalette())
    {
        QSettings().clear();
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(sidebar = new DiskSidebar(model, state, revealer));
        host.resize(380, 820);
        host.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&host));
    }
    ~SidebarHost()
    {
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
        QCoreApplication::processEvents();
    }
    const DiskScanResult& scan(const fs::path& tree)
    {
        model.scan(tree.string());
        EXPECT_TRUE(QTest::qWaitFor([&] { return model.status().kind != DiskModelStatus::Kind::scanning; }, 60'000));
        // The insights that follow a result arrive too.
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
        QCoreApplication::processEvents();
        return *model.result();
    }
    DiskBreakdownRow* row(const std::string& name) const
    {
        for (auto* row : sidebar->breakdownRows())
            if (row->accessibleName().startsWith(QString::fromStdString(name) + ", ")) return row;
        ADD_FAILURE() << "no row " << name;
        return nullptr;
    }
    void grab(const std::string& name)
    {
        settle();  // the list's cross-fade and the hover fill
        fs::create_directories(CORVALENT_SCREENSHOTS);
        host.grab().save(QString::fromStdString(std::string(CORVALENT_SCREENSHOTS) + "/disk-sidebar-" + name + ".png"));
    }
};

QStringList texts(const std::unique_ptr<QMenu>& menu)
{
    QStringList list;
    if (menu)
        for (auto* action : menu->actions()) list << action->text();
    return list;
}

// The entries of the menu that comes up while `open` runs; it closes at once.
QStringList menuOpenedBy(const std::function<void()>& open)
{
    auto entries = std::make_shared<QStringList>();
    QTimer::singleShot(0, [entries] {
        if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
            for (auto* action : menu->actions()) *entries << action->text();
            menu->close();
        }
    });
    open();
    return *entries;
}

const QStringList revealOnly{revealInFileManager};
const QStringList revealAndReview{revealInFileManager, reviewMoveToTrash};

TEST(DiskSidebar, BreakdownRowsFocusFoldersRevealTheRestAndOfferOnlyWhatTheTrashMayTake)
{
    const testing::TempDir dir;
    const auto tree = seedTree(dir.path());
    SidebarHost host;
    EXPECT_FALSE(host.sidebar->footnote().isVisibleTo(host.sidebar)) << "no footnote without a result";
    const auto& result = host.scan(tree);
    const auto& root = result.root;

    EXPECT_EQ(host.sidebar->title(), "tree");
    EXPECT_EQ(host.sidebar->subtitle(),
              (QStringList{bytesText(root.bytes), "·", groupedCount(root.fileCount) + " files measured"}));
    ASSERT_EQ(host.sidebar->breakdownRows().size(), 16U) << "14 folders, Other folders, Files in this folder";
    for (std::size_t i = 0; i < root.children.size(); ++i)
        EXPECT_EQ(host.sidebar->breakdownRows()[i]->id(), root.children[i].id);
    EXPECT_EQ(host.row("store.db")->accessibleName(), "store.db, " + bytesText(root.children[0].bytes));

    // The pseudo-rows: the loose files are revealed as their folder and
    // never offered to the Trash, which would take the whole folder.
    auto* loose = host.row("Files in this folder");
    EXPECT_EQ(texts(loose->contextMenu()), revealOnly);
    QTest::mouseClick(loose, Qt::LeftButton);
    EXPECT_EQ(host.revealer.revealed, std::vector{tree.string()});
    auto* other = host.row("Other folders");
    EXPECT_EQ(other->contextMenu(), nullptr);
    QTest::mouseClick(other, Qt::LeftButton);
    EXPECT_EQ(host.revealer.revealed.size(), 1U);
    EXPECT_FALSE(host.state.focusedNodeID());

    // A database folder is protected; an ordinary one may be reviewed.
    EXPECT_EQ(texts(host.row("store.db")->contextMenu()), revealOnly);
    const auto menu = host.row("folder20")->contextMenu();
    ASSERT_EQ(texts(menu), revealAndReview);
    menu->actions().last()->trigger();
    ASSERT_TRUE(host.state.cleanupCandidate());
    EXPECT_EQ(host.state.cleanupCandidate()->path, (tree / "folder20").string());
    EXPECT_TRUE(host.state.cleanupCandidate()->isDirectory);
    struct stat folder20 {};
    ASSERT_EQ(::stat((tree / "folder20").c_str(), &folder20), 0);
    ASSERT_TRUE(host.state.cleanupCandidate()->scanned) << "it moves only while it is the folder scanned";
    EXPECT_EQ(host.state.cleanupCandidate()->scanned->inode, folder20.st_ino);

    // A folder with contents takes the focus, from the keyboard too.
    auto* folder = host.row("folder24");
    folder->setFocus(Qt::TabFocusReason);
    QTest::keyClick(folder, Qt::Key_Return);
    EXPECT_EQ(host.state.focusedNodeID(), (tree / "folder24").string());
    EXPECT_EQ(host.sidebar->title(), "folder24");
    ASSERT_EQ(host.sidebar->breakdownRows().size(), 3U) << "sub, zeros and the loose file";

    // A folder of 0 bytes: every share is 0, and its empty folder is revealed, not focused.
    QTest::mouseClick(host.row("zeros"), Qt::LeftButton);
    EXPECT_EQ(host.sidebar->subtitle().first(), bytesText(0));
    auto* inner = host.row("inner");
    EXPECT_EQ(inner->detailText(), "0% · 1 files");
    EXPECT_EQ(inner->share(), 0.0);
    QTest::mouseClick(inner, Qt::LeftButton);
    EXPECT_EQ(host.revealer.revealed.back(), (tree / "folder24" / "zeros" / "inner").string());
    EXPECT_EQ(host.state.focusedNodeID(), (tree / "folder24" / "zeros").string());
}

// A reader's action on a mode segment switches the list, as a click does.
TEST(DiskSidebar, AReadersActionOnAModeSegmentShowsThatList)
{
    const testing::TempDir dir;
    SidebarHost host;
    host.scan(seedTree(dir.path()));
    auto& picker = host.sidebar->picker();
    for (const auto mode : {Mode::cleanup, Mode::largestFiles, Mode::storageFacts, Mode::breakdown}) {
        const auto at = static_cast<int>(mode);
        auto* reader = QAccessible::queryAccessibleInterface(picker.segment(at));
        EXPECT_EQ(reader->role(), QAccessible::RadioButton);
        reader->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        QCoreApplication::processEvents();
        EXPECT_EQ(host.state.sidebarMode(), mode) << picker.segment(at)->text().toStdString();
        EXPECT_TRUE(reader->state().checked);
        EXPECT_TRUE(QTest::qWaitFor([&] { return host.sidebar->modeContent(mode).isVisible(); }, 2'000));
    }
}

TEST(DiskSidebar, HoverIsSharedAndLeavingClearsWhateverIsHeld)
{
    const testing::TempDir dir;
    const auto tree = seedTree(dir.path());
    SidebarHost host;
    host.scan(tree);
    const auto rows = host.sidebar->breakdownRows();
    auto* first = rows[0];
    auto* second = rows[1];

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), first->mapToGlobal(QPointF(5, 5)));
    QCoreApplication::sendEvent(first, &enter);
    EXPECT_EQ(host.state.hoveredID(), first->id());
    EXPECT_TRUE(first->hovered());

    // The map hovers another node meanwhile: that row lights, nothing is rebuilt.
    host.state.setHoveredID(second->id());
    EXPECT_FALSE(first->hovered());
    EXPECT_TRUE(second->hovered());
    EXPECT_EQ(host.sidebar->breakdownRows(), rows);

    QEvent leave(QEvent::Leave);
    QCoreApplication::sendEvent(first, &leave);
    EXPECT_FALSE(host.state.hoveredID());
    EXPECT_FALSE(second->hovered());
}

TEST(DiskSidebar, LargestFilesAreRankedRevealedAndReviewedUnlessProtected)
{
    const testing::TempDir dir;
    const auto tree = seedTree(dir.path());
    SidebarHost host;
    const auto& result = host.scan(tree);

    host.sidebar->picker().segment(static_cast<int>(Mode::largestFiles))->click();
    EXPECT_EQ(&host.sidebar->currentContent(), &host.sidebar->modeContent(Mode::largestFiles));
    EXPECT_EQ(host.sidebar->subtitle().last(), groupedCount(result.root.fileCount) + " files measured");
    const auto& rows = host.sidebar->fileRows();
    ASSERT_EQ(rows.size(), result.largestFiles.size());
    ASSERT_GE(rows.size(), 8U);
    EXPECT_EQ(rows[0]->path(), (tree / "store.db" / "blob").string());
    EXPECT_EQ(rows[0]->accessibleName(), "blob, " + bytesText(result.largestFiles[0].bytes) + ", reveal in file manager");
    EXPECT_EQ(rows[0]->colour(), rows[7]->colour()) << "the palette has seven colours";
    EXPECT_NE(rows[0]->colour(), rows[1]->colour());

    QTest::mouseClick(rows[2], Qt::LeftButton);
    EXPECT_EQ(host.revealer.revealed, std::vector{rows[2]->path()});
    QTest::keyClick(rows[3], Qt::Key_Return);
    EXPECT_EQ(host.revealer.revealed.back(), rows[3]->path());
    EXPECT_EQ(menuOpenedBy([&] { QTest::keyClick(rows[3], Qt::Key_Menu); }), revealAndReview);

    // A database file stays; an ordinary file may be reviewed, as a file.
    const auto sqlite = std::find_if(rows.begin(), rows.end(),
                                     [](const LargestFileRow* row) { return row->path().ends_with("index.sqlite"); });
    ASSERT_NE(sqlite, rows.end());
    EXPECT_EQ(texts((*sqlite)->contextMenu()), revealOnly);
    const auto menu = rows[0]->contextMenu();
    ASSERT_EQ(texts(menu), revealAndReview);
    menu->actions().last()->trigger();
    ASSERT_TRUE(host.state.cleanupCandidate());
    EXPECT_EQ(host.state.cleanupCandidate()->path, rows[0]->path());
    EXPECT_FALSE(host.state.cleanupCandidate()->isDirectory);
    ASSERT_TRUE(host.state.cleanupCandidate()->scanned);
    EXPECT_EQ(host.state.cleanupCandidate()->scanned, DiskScannedItem::of(result.largestFiles[0]));
}

// A name that is not text is listed with a replacement character, revealed
// by its own bytes, and never offered to the Trash.
TEST(DiskSidebar, ALargeFileNamedInLatin1IsListedToBeRevealedOnly)
{
    const testing::TempDir dir;
    const auto tree = seedTree(dir.path());
    const auto latin1 = tree / "folder12" / "caf\xe9 menu.bin";
    writeFile(latin1, 3'000'000);
    SidebarHost host;
    host.scan(tree);

    host.state.setSidebarMode(Mode::largestFiles);
    const auto& rows = host.sidebar->fileRows();
    ASSERT_FALSE(rows.empty());
    auto* first = rows.front();
    EXPECT_EQ(first->path(), latin1.string()) << "the largest file, by its own bytes";
    EXPECT_TRUE(first->accessibleName().startsWith(QStringLiteral("caf\uFFFD menu.bin, ")))
        << first->accessibleName().toStdString();
    EXPECT_EQ(texts(first->contextMenu()), revealOnly);
    QTest::mouseClick(first, Qt::LeftButton);
    EXPECT_EQ(host.revealer.revealed, std::vector{latin1.string()});
    EXPECT_TRUE(localFileUrl(latin1.string()).toEncoded().endsWith("/folder12/caf%E9%20menu.bin"))
        << "the file manager is handed the same bytes";
    EXPECT_TRUE(std::ranges::none_of(host.model.cleanupCandidates(),
                                     [&](const DiskCleanupCandidate& c) { return c.path == latin1.string(); }));
    host.grab("files-latin1");
}

TEST(DiskSidebar, TheReviewHeaderCountsOnlyWhatMayMove)
{
    const testing::TempDir dir;
    SidebarHost host;
    host.state.setSidebarMode(Mode::cleanup);
    EXPECT_EQ(host.sidebar->subtitle(), (QStringList{"0 actions", "·", "Nothing moves without approval"}));
    host.scan(seedTree(dir.path()));
    const auto& candidates = host.model.cleanupCandidates();
    const auto movable = std::ranges::count_if(candidates, &DiskCleanupCandidate::canMoveToTrash);
    ASSERT_LT(movable, std::ssize(candidates)) << "the tree has protected candidates";
    EXPECT_EQ(host.sidebar->subtitle().first(), groupedCount(movable) + " actions");
}

TEST(DiskSidebar, FootnoteTellsHowTheScanEndedWhateverTheLocale)
{
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    ScanFootnote footnote;
    DiskScanResult result;
    result.scannedEntries = 48'210;
    result.duration = 3.43;
    result.root.fileCount = 1'234;
    footnote.setResult(&result);
    EXPECT_EQ(footnote.lines(), QStringList{"48,210 items scanned in 3.4 s"});
    EXPECT_EQ(footnote.firstSymbol(), "checkmark.circle.fill");

    result.cancelled = true;
    result.inaccessibleEntries = 2;
    result.privacySkippedLocations = 1'005;
    footnote.setResult(&result);
    EXPECT_EQ(footnote.lines(), (QStringList{"Partial map · 1,234 files found before stopping",
                                             "2 locations could not be read",
                                             "1,005 protected locations skipped · choose one directly to include it"}));
    EXPECT_EQ(footnote.firstSymbol(), "pause.circle.fill");
    QLocale::setDefault(previous);
}

TEST(DiskSidebar, ListsFitTheNarrowestColumnAndScreenshots)
{
    const testing::TempDir dir;
    const auto tree = seedTree(dir.path(), 40);
    for (const auto& [name, palette] : {std::pair{"light", lightPalette()}, std::pair{"dark", darkPalette()}}) {
        SidebarHost host(palette);
        host.scan(tree);
        host.state.setHoveredID(host.sidebar->breakdownRows()[1]->id());
        host.grab(std::string("map-") + name);
        host.state.setSidebarMode(Mode::largestFiles);
        host.grab(std::string("files-") + name);
    }

    // The map panel may give the sidebar as little as 330 px: no list grows past it.
    SidebarHost host;
    host.scan(tree);
    host.host.resize(330, 820);
    for (const auto mode : {Mode::breakdown, Mode::largestFiles}) {
        host.state.setSidebarMode(mode);
        QCoreApplication::processEvents();
        EXPECT_LE(host.sidebar->currentContent().width(), 330) << sidebarModeLabel(mode).toStdString();
    }
    host.grab("files-330");
}

}  // namespace
}  // namespace corvalent

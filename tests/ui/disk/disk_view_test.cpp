#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QCoreApplication>
#include <QMenu>
#include <QSettings>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <filesystem>
#include <random>

#include "live_environments.h"
#include "models/disk_model.h"
#include "models/preferences.h"
#include "test_support.h"
#include "ui/disk/header/disk_header.h"
#include "ui/disk/sidebar/disk_rows.h"
#include "ui/disk/sidebar/disk_sidebar.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/map/map_panel.h"
#include "ui/disk/map/map_toolbar.h"
#include "ui/disk/map/sunburst_map.h"
#include "ui/shell/app_appearance.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/unavailable_content.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using Content = DiskView::Content;
using Kind = DiskModelStatus::Kind;

// Answers the folder dialog with the folder the test chose.
struct AnsweringChooser : FolderChooser {
    std::optional<std::string> answer;
    int asked = 0;
    void choose(QWidget*, std::function<void(std::optional<std::string>)> chosen) override
    {
        ++asked;
        chosen(answer);
    }
};

// Remembers what was shown in the file manager; with `nothingShows`, as
// where no file manager answers, reports that nothing could.
struct RecordingRevealer : FileRevealer {
    std::vector<std::string> revealed;
    bool nothingShows = false;
    void showItem(const std::string& path, Failure failure) override
    {
        revealed.push_back(path);
        if (nothingShows && failure) failure(path);
    }
};

// The disk page offscreen on a real model, with a volume list, an access
// answer and a folder answer of the test's choosing.
struct DiskPage {
    std::vector<DiskVolume> volumes;
    std::atomic<FullDiskAccessStatus> access{FullDiskAccessStatus::granted};
    std::atomic<int> probes{0};
    std::shared_ptr<AnsweringChooser> chooser = std::make_shared<AnsweringChooser>();
    std::shared_ptr<RecordingRevealer> revealer = std::make_shared<RecordingRevealer>();
    std::unique_ptr<DiskModel> model;
    QWidget host;
    DiskView* view = nullptr;
    int overlaysMade = 0;
    std::function<void()> closeOverlay;

    explicit DiskPage(std::vector<DiskVolume> list = {}) : volumes(std::move(list))
    {
        QSettings().clear();
        auto environment = quietDiskEnvironment();
        environment.volumes = [this] { return volumes; };
        model = std::make_unique<DiskModel>(environment);
    }
    ~DiskPage()
    {
        delete view;
        EXPECT_TRUE(BackgroundTask::pool(TaskLane::files).waitForDone(60'000));
        QCoreApplication::processEvents();
    }
    void open(QSize size = {1180, 760}, const QPalette& palette = lightPalette())
    {
        DiskView::Environment environment;
        environment.probeAccess = [this] {
            ++probes;
            return access.load();
        };
        environment.folderChooser = chooser;
        environment.revealer = revealer;
        environment.accessOverlay = [this](QWidget* parent, std::function<void()> close) {
            ++overlaysMade;
            closeOverlay = std::move(close);
            return new QWidget(parent);
        };
        host.setPalette(palette);
        host.setAutoFillBackground(true);
        auto* layout = new QVBoxLayout(&host);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(view = new DiskView(*model, true, environment));
        host.resize(size);
        host.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&host));
        settled();
    }
    // Every probe and volume load has answered.
    void settled() const
    {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return view->state().fullDiskAccessStatus() != FullDiskAccessStatus::checking; }, 10'000));
        QCoreApplication::processEvents();
    }
    void scan(const fs::path& folder)
    {
        model->scan(folder.string());
        ASSERT_TRUE(scanEnded());
        QCoreApplication::processEvents();
    }
    bool scanEnded() const
    {
        return QTest::qWaitFor([&] { return model->status().kind != Kind::scanning; }, 60'000);
    }
    void grab(const std::string& name)
    {
        settle();  // the content's cross-fade
        fs::create_directories(CORVALENT_SCREENSHOTS);
        host.grab().save(QString::fromStdString(std::string(CORVALENT_SCREENSHOTS) + "/disk-" + name + ".png"));
    }
};

DiskVolume volume(const std::string& url, const std::string& name, bool external = false)
{
    return {url, name, url, DiskCapacity::make(name, 100'000'000'000, 40'000'000'000), !external, false};
}

// Folders of seeded random files under `root`.
void seedTree(const fs::path& root, unsigned seed)
{
    std::mt19937 random(seed);
    for (int folder = 0; folder < 12; ++folder)
        for (int file = 0; file < 8; ++file)
            testing::writeFile(root / ("folder" + std::to_string(folder)) / ("f" + std::to_string(file)),
                               1 + random() % 200'000);
}

QStringList menuTexts(QMenu& menu)
{
    QStringList texts;
    for (auto* action : menu.actions()) texts << (action->isSeparator() ? QStringLiteral("—") : action->text());
    return texts;
}

TEST(DiskView, HeaderCommandsFollowTheVolumesAndTheStatus)
{
    {
        DiskPage page;
        page.open();
        auto& header = page.view->header();
        EXPECT_EQ(page.view->content(), Content::empty);
        EXPECT_FALSE(header.stopButton().isVisible());
        EXPECT_EQ(header.volumeButton().text(), "Choose Disk");
        EXPECT_FALSE(header.volumeButton().isEnabled());
        EXPECT_FALSE(header.scanButton().isEnabled());
        EXPECT_TRUE(header.folderButton().isEnabled());
        // Without a volume the scan command does nothing.
        page.view->scanSelectedVolume();
        EXPECT_EQ(page.model->status().kind, Kind::idle);
        page.grab("empty-no-volume");
    }
    const testing::TempDir usb;
    DiskPage page({volume("/", "Computer"), volume(usb.path().string(), "Stick", true)});
    page.open();
    auto& header = page.view->header();
    EXPECT_EQ(header.volumeButton().text(), "Computer");
    EXPECT_TRUE(header.volumeButton().isEnabled());
    EXPECT_TRUE(header.scanButton().isEnabled());
    EXPECT_EQ(header.scanButton().text(), "Scan Disk");
    EXPECT_EQ(menuTexts(header.volumeMenu()),
              (QStringList{"Internal", "Computer", "—", "External", "Stick", "—", "Refresh Disks"}));

    // Choosing the other volume from the menu selects it.
    for (auto* action : header.volumeMenu().actions())
        if (action->text() == "Stick") action->trigger();
    EXPECT_EQ(header.volumeButton().text(), "Stick");
    page.volumes.pop_back();
    header.volumeMenu().actions().last()->trigger();  // Refresh Disks
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.model->volumes().size() == 1; }, 10'000));
    EXPECT_EQ(header.volumeButton().text(), "Computer");
    EXPECT_EQ(menuTexts(header.volumeMenu()).mid(3, 2), (QStringList{"External", "No external disks connected"}));
}

// Another volume takes the page with it: the last one's map goes, and the
// header and the capacity card name the new one.
TEST(DiskView, AnotherVolumeReplacesTheMapTheHeaderAndTheCapacity)
{
    const testing::TempDir dir, usb;
    const auto tree = fs::canonical(dir.path()) / "tree";
    seedTree(tree, 7);
    DiskPage page({volume(tree.string(), "Work"), volume(usb.path().string(), "Stick", true)});
    page.open();
    page.scan(tree);
    auto& header = page.view->header();
    // The volume button is no label: the capacity card's name is the header's only label for it.
    const auto capacityNamed = [&](const QString& name) {
        const auto labels = header.findChildren<QLabel*>();
        return std::ranges::any_of(labels, [&](QLabel* label) { return label->text() == name; });
    };
    ASSERT_EQ(page.view->content(), Content::map);
    EXPECT_EQ(header.scanButton().text(), "Rescan Disk");
    EXPECT_TRUE(capacityNamed("Work"));

    for (auto* action : header.volumeMenu().actions())
        if (action->text() == "Stick") action->trigger();
    EXPECT_EQ(page.view->content(), Content::empty);
    EXPECT_EQ(header.volumeButton().text(), "Stick");
    EXPECT_EQ(header.scanButton().text(), "Scan Disk");
    EXPECT_TRUE(header.scanButton().isEnabled());
    EXPECT_TRUE(capacityNamed("Stick"));
    EXPECT_FALSE(capacityNamed("Work"));
}

// A volume's name that a menu or a reader could take for a mnemonic or
// markup shows as it is on the button, in its menu and to readers.
TEST(DiskView, AVolumeNameShowsAsItIsOnTheButtonItsMenuAndToReaders)
{
    const QString name = "R&D <b>disk</b>";
    DiskPage page({volume("/", name.toStdString())});
    page.open();
    auto& button = page.view->header().volumeButton();
    EXPECT_EQ(button.text(), name);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(&button)->text(QAccessible::Name), name);
    const auto listed = page.view->header().volumeMenu().actions().at(1);
    EXPECT_EQ(listed->iconText(), name) << "what the menu shows once its mnemonic marks are read";
}

TEST(DiskView, AFolderScanRunsToItsMapAndAnotherScanRefocusesTheRoot)
{
    const testing::TempDir dir;
    const auto seed = std::random_device{}();
    std::cout << "seed " << seed << '\n';
    const auto tree = fs::canonical(dir.path()) / "tree";
    seedTree(tree, seed);
    fs::create_directory_symlink(tree, fs::canonical(dir.path()) / "link");

    DiskPage page({volume(tree.string(), "Work")});
    page.open();
    page.chooser->answer = (fs::canonical(dir.path()) / "link").string();
    page.view->header().folderButton().click();
    EXPECT_EQ(page.chooser->asked, 1);
    EXPECT_EQ(page.view->content(), Content::progress);
    EXPECT_FALSE(page.view->header().scanButton().isEnabled());
    EXPECT_FALSE(page.view->header().volumeButton().isEnabled());
    EXPECT_TRUE(page.view->header().folderButton().isEnabled());
    EXPECT_TRUE(page.view->header().stopButton().isVisible());
    // The panel names the folder by its canonical path, once the scan has resolved it.
    const auto shows = [&](const std::string& path) {
        for (auto* label : page.view->contentPanel(Content::progress).findChildren<QLabel*>())
            if (label->text() == QString::fromStdString(path)) return true;
        return false;
    };
    ASSERT_TRUE(page.scanEnded());
    EXPECT_TRUE(shows(tree.string()));
    EXPECT_EQ(page.view->content(), Content::map);
    EXPECT_EQ(page.view->header().scanButton().text(), "Rescan Disk");
    EXPECT_EQ(page.view->state().focusedNode(page.model->result())->id, tree.string());
    page.grab("map-after-folder-scan");

    // Focus and hover move on; the same folder scanned again brings both back.
    page.view->state().setFocusedNodeID((tree / "folder3").string());
    page.view->state().setHoveredID((tree / "folder4").string());
    EXPECT_EQ(page.view->state().focusedNode(page.model->result())->id, (tree / "folder3").string());
    page.view->header().scanButton().click();  // the whole volume, which is the same folder
    ASSERT_TRUE(page.scanEnded());
    EXPECT_EQ(page.view->state().focusedNodeID(), tree.string());
    EXPECT_FALSE(page.view->state().hoveredID());
    page.grab("map-place");

    // A cancelled dialog changes nothing.
    page.chooser->answer.reset();
    page.view->chooseFolder();
    EXPECT_EQ(page.model->status().kind, Kind::ready);
}

TEST(DiskView, AFolderWithNoDataShowsWhyItCouldNotBeMapped)
{
    const testing::TempDir dir;
    DiskPage page;
    page.open({920, 620}, darkPalette());
    page.chooser->answer = dir.path().string();
    page.view->chooseFolder();
    ASSERT_TRUE(page.scanEnded());
    EXPECT_EQ(page.view->content(), Content::failed);
    auto& failed = static_cast<UnavailableContent&>(page.view->contentPanel(Content::failed));
    EXPECT_EQ(failed.title(), "Couldn’t map this folder");
    EXPECT_EQ(failed.description(), DiskModel::noDataMessage);
    // Every line of the description shows whole, two of them too.
    auto* description = failed.findChild<QLabel*>("unavailableDescription");
    ASSERT_NE(description, nullptr);
    for (const auto& text : {DiskModel::noDataMessage, QString(DiskModel::noDataMessage + " ").repeated(3)}) {
        failed.setDescription(text);
        settle();
        EXPECT_GE(description->height(), description->heightForWidth(description->width())) << text.toStdString();
    }
    failed.setDescription(DiskModel::noDataMessage);
    EXPECT_EQ(page.view->header().scanButton().text(), "Rescan Disk") << "the empty result is held";
    page.grab("failed-dark-920");
}

TEST(DiskView, AccessProbesSetTheStatusAndThePreference)
{
    DiskPage page;
    page.access = FullDiskAccessStatus::denied;
    auto& preferences = Preferences::standard();
    preferences.setIncludePrivacyProtectedLocations(true);
    page.open();
    auto& state = page.view->state();
    EXPECT_EQ(state.fullDiskAccessStatus(), FullDiskAccessStatus::denied);
    EXPECT_FALSE(preferences.includePrivacyProtectedLocations()) << "a denied probe turns the preference off";

    // Reviewing access puts the overlay over the page; closing it probes again.
    const int before = page.probes;
    state.setShowingAccessSetup(true);
    ASSERT_NE(page.view->accessOverlay(), nullptr);
    EXPECT_FALSE(page.view->header().isEnabled()) << "the page takes no input under the overlay";
    page.view->accessOverlay()->setFocusPolicy(Qt::StrongFocus);
    page.view->accessOverlay()->setFocus();
    page.access = FullDiskAccessStatus::granted;
    page.closeOverlay();
    EXPECT_EQ(state.fullDiskAccessStatus(), FullDiskAccessStatus::checking);
    page.settled();
    EXPECT_EQ(page.view->accessOverlay(), nullptr);
    EXPECT_TRUE(page.view->header().isEnabled());
    EXPECT_TRUE(page.view->header().isAncestorOf(page.host.focusWidget())) << "the overlay's focus goes on to the page";
    EXPECT_EQ(state.fullDiskAccessStatus(), FullDiskAccessStatus::granted);
    EXPECT_TRUE(preferences.includePrivacyProtectedLocations());
    EXPECT_EQ(page.probes, before + 1);

    // Coming back to the front probes once more.
    page.access = FullDiskAccessStatus::unavailable;
    emit qGuiApp->applicationStateChanged(Qt::ApplicationActive);
    page.settled();
    EXPECT_EQ(state.fullDiskAccessStatus(), FullDiskAccessStatus::unavailable);
    EXPECT_FALSE(preferences.includePrivacyProtectedLocations());
    EXPECT_EQ(page.overlaysMade, 1);
}

TEST(DiskView, TheMapWalksIntoFoldersAndBackAndRevealsTheFocusedOne)
{
    const testing::TempDir dir;
    const auto root = fs::canonical(dir.path());
    testing::writeFile(root / "a" / "b" / "c" / "deep.bin", 600'000);
    testing::writeFile(root / "a" / "b" / "beside.bin", 300'000);
    testing::writeFile(root / "a" / "loose.bin", 200'000);
    DiskPage page;
    page.open();
    page.scan(root);
    auto& panel = page.view->mapPanel();
    auto& toolbar = panel.toolbar();
    auto& state = page.view->state();
    ASSERT_EQ(page.view->content(), Content::map);
    EXPECT_FALSE(toolbar.backButton().isEnabled()) << "the root has no parent to go back to";
    EXPECT_EQ(toolbar.title().toStdString(), root.filename().string());
    EXPECT_EQ(toolbar.pathText().toStdString(), root.string());
    EXPECT_EQ(toolbar.fileCountText(), "3 files");
    EXPECT_FALSE(toolbar.showsPartial());
    EXPECT_GE(panel.sidebar().width(), 330);
    EXPECT_LE(panel.sidebar().width(), 470);

    // The pointer over a slice lights the same node's row.
    auto& map = panel.map();
    const auto segments = makeSegments(*map.root());
    const auto geometry = SunburstGeometry::of(map.width(), map.height());
    const double angle = (segments.front().start + segments.front().end) / 2;
    const double radius = (geometry.ringInner(0) + geometry.ringOuter(0)) / 2;
    QTest::mouseMove(&map, QPoint(int(geometry.centreX + radius * std::cos(angle)),
                                  int(geometry.centreY + radius * std::sin(angle))));
    EXPECT_EQ(state.hoveredID(), segments.front().node->id);
    EXPECT_TRUE(map.tooltipAnchor().has_value());
    for (auto* row : panel.sidebar().breakdownRows())
        EXPECT_EQ(row->hovered(), row->id() == segments.front().node->id) << row->id();
    page.grab("map-hovered");

    // Two levels down, one step back lands on the folder between.
    const auto& tree = page.model->result()->root;
    panel.select(*tree.node((root / "a").string()));
    panel.select(*tree.node((root / "a" / "b").string()));
    EXPECT_EQ(panel.map().root()->id, (root / "a" / "b").string());
    EXPECT_EQ(toolbar.fileCountText(), "2 files");
    state.setHoveredID((root / "a" / "b" / "beside.bin").string());
    toolbar.backButton().click();
    EXPECT_EQ(state.focusedNodeID(), (root / "a").string());
    EXPECT_FALSE(state.hoveredID());
    toolbar.revealButton().click();
    EXPECT_EQ(page.revealer->revealed, std::vector{(root / "a").string()});
    EXPECT_TRUE(page.view->revealMessage().isHidden());
    page.revealer->nothingShows = true;
    toolbar.revealButton().click();
    EXPECT_EQ(page.view->revealMessage().text(), "No file manager could show “a”.") << "the window says so";
    EXPECT_TRUE(page.view->revealMessage().isVisible());

    // A node without contents stays put and stays highlighted.
    const auto* files = page.model->result()->root.node((root / "a").string() + std::string(directFilesSuffix));
    ASSERT_NE(files, nullptr);
    panel.select(*files);
    EXPECT_EQ(state.focusedNodeID(), (root / "a").string());
    EXPECT_EQ(state.hoveredID(), files->id);
    page.grab("map-light-1180");

    // A focus that is not in the tree goes back to the root.
    state.setFocusedNodeID((root / "gone").string());
    EXPECT_EQ(panel.map().root()->id, root.string());
}

TEST(DiskView, AStoppedScanKeepsAPartialMapAndTheInspectorSettingHidesTheSidebar)
{
    DiskPage page;
    page.open({920, 620}, darkPalette());
    page.model->scan("/usr");
    ASSERT_TRUE(QTest::qWaitFor([&] { return page.model->scannedFiles() > 0; }, 20'000));
    page.view->stopScan();
    EXPECT_EQ(page.view->header().stopButton().text(), "Stopping…");
    EXPECT_FALSE(page.view->header().stopButton().isEnabled());
    ASSERT_TRUE(page.scanEnded());
    ASSERT_TRUE(page.model->result() && page.model->result()->cancelled);
    EXPECT_EQ(page.view->content(), Content::map);
    EXPECT_FALSE(page.view->header().stopButton().isVisible());
    EXPECT_TRUE(page.view->mapPanel().toolbar().showsPartial());
    page.grab("map-partial-dark-920");

    // Turning the inspector off gives the map the whole width, and back.
    page.view->setShowsInspector(false);
    EXPECT_FALSE(page.view->mapPanel().sidebar().isVisible());
    page.view->setShowsInspector(true);
    EXPECT_TRUE(page.view->mapPanel().sidebar().isVisible());
    EXPECT_GE(page.view->mapPanel().sidebar().width(), 330);
}

// In a window shorter than the usual one the page gives way in order: the
// header's subtitle, then its title (the commands join the capacity card,
// which keeps every figure, compact), then the sidebar's title. The usual
// window shows it as drawn.
TEST(DiskView, AShortWindowFoldsTheHeaderInOrderAndTheUsualOneShowsItAsDrawn)
{
    const testing::TempDir dir;
    const auto tree = fs::canonical(dir.path()) / "tree";
    seedTree(tree, 5);
    DiskPage page({volume("/", "Computer")});
    constexpr int chrome = 65;  // the window's top bar and menu above the page
    page.open({1180, 760});
    page.host.layout()->setContentsMargins(0, chrome, 0, 0);
    page.scan(tree);
    auto& view = *page.view;
    const auto shown = [&](const QString& text) {
        for (auto* label : view.findChildren<ElidedLabel*>())
            if (label->text() == text && label->isVisibleTo(&page.host)) return true;
        return false;
    };
    // Shown and whole inside the card, and the card inside the page.
    const auto figureShown = [&](const QString& caption) {
        auto* card = view.findChild<QWidget*>("capacityCard");
        const QRect cardArea(card->mapTo(&view, QPoint(0, 0)), card->size());
        for (auto* figure : view.findChildren<QWidget*>("capacityFigure"))
            if (figure->accessibleName() == caption)
                return figure->isVisibleTo(&page.host) && view.rect().contains(cardArea) &&
                       cardArea.contains(QRect(figure->mapTo(&view, QPoint(0, 0)), figure->size()));
        return false;
    };
    // The commands on the capacity card's row.
    const auto joined = [&] {
        auto* card = view.findChild<QWidget*>("capacityCard");
        const int middle = view.header().scanButton().mapTo(&view, view.header().scanButton().rect().center()).y();
        return middle > card->mapTo(&view, QPoint(0, 0)).y();
    };
    const auto sidebarTitle = [&] { return view.findChild<QWidget*>("sidebarTitle")->isVisibleTo(&page.host); };
    const QString subtitle = "See where space lives, from an entire disk down to a single folder.";
    const auto drawn = [&] {
        EXPECT_EQ(view.foldedParts(), 0);
        EXPECT_TRUE(shown("Disk space"));
        EXPECT_TRUE(shown(subtitle));
        EXPECT_FALSE(joined());
        EXPECT_TRUE(figureShown("CAPACITY"));
        EXPECT_TRUE(sidebarTitle());
    };
    drawn();

    int folded = 0;
    for (const int height : {694, 640, 600, 560, 520, 480, 451, 400, 300}) {
        page.host.resize(958, height + chrome);
        settle();
        EXPECT_GE(view.foldedParts(), folded) << height;
        folded = view.foldedParts();
        EXPECT_EQ(shown(subtitle), folded < 1) << height;
        EXPECT_EQ(shown("Disk space"), folded < 2) << height;
        EXPECT_EQ(joined(), folded >= 2) << height;
        for (const auto* caption : {"USABLE", "FREE NOW", "CAPACITY"}) EXPECT_TRUE(figureShown(caption)) << height;
        EXPECT_EQ(sidebarTitle(), folded < 3) << height;
        if (height == 451) page.grab("960x540-folded");
    }
    EXPECT_EQ(folded, 3);

    page.host.resize(1180, 760);
    settle();
    drawn();
}

}  // namespace
}  // namespace corvalent

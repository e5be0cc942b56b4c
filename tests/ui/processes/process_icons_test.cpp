// Application icons: the bounded, shared cache, the desktop entries and icon
// theme behind it (real files in temp data folders), and the icon view.
#include <gtest/gtest.h>
#include <QAccessible>
#include <QDir>
#include <QFile>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <filesystem>

#include "test_support.h"
#include "ui/processes/icons/process_icon_store.h"
#include "ui/processes/icons/process_icon_view.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;

QImage solid(QColor colour)
{
    QImage image(128, 128, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

// Asks for every path at once and waits for all the answers.
std::vector<QImage> load(ProcessIconStore& store, const QStringList& paths)
{
    std::vector<QImage> images(paths.size());
    qsizetype answered = 0;
    QObject receiver;
    for (qsizetype i = 0; i < paths.size(); ++i)
        store.image(paths[i], &receiver, [&images, &answered, i](const QImage& image) {
            images[i] = image;
            ++answered;
        });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered == paths.size(); }, 20000));
    return images;
}

TEST(ProcessIconStore, KeepsTheMostRecentlyUsedIcons)
{
    std::atomic<int> drawn = 0;
    ProcessIconStore store([&drawn](const QString&) {
        ++drawn;
        return solid(Qt::red);
    });
    QStringList paths;
    for (int i = 0; i < 162; ++i) paths << QString("/icons/%1").arg(i);
    // The first three one by one, so that their order of use is known.
    for (int i = 0; i < 3; ++i) load(store, {paths[i]});
    for (int first = 3; first < 160; first += 20) load(store, paths.mid(first, std::min(20, 160 - first)));

    EXPECT_FALSE(store.cachedImage(paths[0]).isNull());  // a read that does not count as a use
    EXPECT_FALSE(load(store, {paths[1]})[0].isNull());   // a use
    EXPECT_EQ(drawn, 160) << "a cached icon is not drawn again";

    load(store, {paths[160]});
    EXPECT_TRUE(store.cachedImage(paths[0]).isNull());
    EXPECT_FALSE(store.cachedImage(paths[1]).isNull());
    EXPECT_FALSE(store.cachedImage(paths[2]).isNull());
    load(store, {paths[161]});
    EXPECT_TRUE(store.cachedImage(paths[2]).isNull()) << "the used icon outlived it";
    EXPECT_FALSE(store.cachedImage(paths[1]).isNull());
}

TEST(ProcessIconStore, TwentyFourLoadsInFlightAtMost)
{
    QSemaphore gate;
    std::atomic<int> drawn = 0;
    ProcessIconStore store([&](const QString&) {
        gate.acquire();
        ++drawn;
        return solid(Qt::blue);
    });
    QObject receiver;
    int icons = 0;
    const auto count = [&icons](const QImage& image) { icons += image.isNull() ? 0 : 1; };
    for (int i = 0; i < 24; ++i) store.image(QString("/slow/%1").arg(i), &receiver, count);

    std::optional<QImage> refused;
    store.image(QString("/slow/24"), &receiver, [&refused](const QImage& image) { refused = image; });
    ASSERT_TRUE(refused.has_value()) << "answered at once";
    EXPECT_TRUE(refused->isNull());
    store.image(QString("/slow/3"), &receiver, count);  // joins the load in flight
    EXPECT_EQ(icons, 0);

    gate.release(24);
    EXPECT_TRUE(QTest::qWaitFor([&icons] { return icons == 25; }, 20000));
    EXPECT_EQ(drawn, 24);
    gate.release(1);
    EXPECT_FALSE(load(store, {"/slow/24"})[0].isNull()) << "the refusal was not remembered";
}

TEST(ProcessIconStore, CallersShareOneLoadAndFailuresAreRetried)
{
    std::atomic<int> drawn = 0;
    std::atomic<bool> failing = true;
    ProcessIconStore store([&](const QString&) {
        ++drawn;
        return failing ? QImage() : solid(Qt::green);
    });
    int missing = 0;
    for (const auto& path : {std::optional<QString>(), std::optional<QString>("")})
        store.image(path, nullptr, [&missing](const QImage& image) { missing += image.isNull() ? 1 : 0; });
    EXPECT_EQ(missing, 2);

    EXPECT_TRUE(load(store, {"/app"})[0].isNull());
    EXPECT_TRUE(store.cachedImage(QString("/app")).isNull());
    failing = false;

    QSignalSpy loaded(&store, &ProcessIconStore::iconLoaded);
    QObject receiver;
    std::vector<QImage> images;
    for (int i = 0; i < 10; ++i)
        store.image(QString("/app"), &receiver, [&images](const QImage& image) { images.push_back(image); });
    bool answeredTheGone = false;
    auto* gone = new QObject;
    store.image(QString("/app"), gone, [&answeredTheGone](const QImage&) { answeredTheGone = true; });
    delete gone;
    ASSERT_TRUE(QTest::qWaitFor([&images] { return images.size() == 10; }, 20000));
    settle();  // the answer to the gone receiver, had it not been dropped

    EXPECT_EQ(drawn, 2) << "one failed load, then one shared by every caller";
    for (const auto& image : images) EXPECT_EQ(image.cacheKey(), images[0].cacheKey());
    EXPECT_FALSE(images[0].isNull());
    EXPECT_EQ(loaded.count(), 1);
    EXPECT_FALSE(answeredTheGone);
}

void writeText(const fs::path& file, const QString& text)
{
    fs::create_directories(file.parent_path());
    QFile out(QString::fromStdString(file.string()));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(text.toUtf8());
}

QColor centre(const QImage& image)
{
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

TEST(ProcessIconStore, DesktopEntriesGiveTheirProgramsIcons)
{
    const testing::TempDir root;
    const fs::path data = root.path() / "data", bin = root.path() / "my bin", onPath = root.path() / "on-path";
    fs::create_directories(bin);
    fs::create_directories(onPath);
    const auto probe = testing::copyExecutable(testing::idleChildProgram(), bin, "corvalent-probe");
    const auto other = testing::copyExecutable(testing::idleChildProgram(), onPath, "corvalent-other");
    const auto removed = testing::copyExecutable(testing::idleChildProgram(), onPath, "corvalent-removed");
    fs::create_symlink(probe, root.path() / "probe-link");
    const QString blue = QString::fromStdString((root.path() / "blue.png").string());
    ASSERT_TRUE(solid(Qt::blue).save(blue));
    // A theme icon found through the system's hicolor index.
    writeText(data / "icons/hicolor/scalable/apps/corvalent-probe-red.svg",
              R"(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16">)"
              R"(<rect width="16" height="16" fill="#ff0000"/></svg>)");
    writeText(data / "applications/probe.desktop",
              QString("[Desktop Entry]\nType=Application\nName=Probe\nExec=\"%1\" --window %U\nIcon=corvalent-probe-red\n"
                      "\n[Desktop Action New]\nIcon=%2\n")
                  .arg(QString::fromStdString(probe.string()), blue));
    writeText(data / "applications/vendor/other.desktop",
              QString("[Desktop Entry]\nType=Application\nExec=env LANG=C corvalent-other %f\nNoDisplay=true\nIcon=%1\n").arg(blue));
    writeText(data / "applications/removed.desktop", QString("[Desktop Entry]\nType=Application\nExec=%1\nHidden=true\nIcon=%2\n")
                                                         .arg(QString::fromStdString(removed.string()), blue));

    const auto savedDirs = qgetenv("XDG_DATA_DIRS"), savedHome = qgetenv("XDG_DATA_HOME"), savedPath = qgetenv("PATH");
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(data.string()));
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((root.path() / "home").string()));
    qputenv("PATH", QByteArray::fromStdString(onPath.string()) + ":" + savedPath);
    ProcessIconStore store;  // reads the places now
    qputenv("XDG_DATA_DIRS", savedDirs);
    qputenv("XDG_DATA_HOME", savedHome);
    qputenv("PATH", savedPath);

    const auto path = [](const fs::path& file) { return QString::fromStdString(file.string()); };
    const auto images = load(store, {path(root.path() / "probe-link"), path(bin), path(other), path(removed)});
    ASSERT_EQ(images.size(), 4u);
    for (const auto& image : images) {
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(128, 128));
        EXPECT_EQ(image.format(), QImage::Format_ARGB32_Premultiplied);
    }
    EXPECT_EQ(centre(images[0]), QColor(Qt::red)) << "the entry that starts the program's file";
    EXPECT_EQ(centre(images[1]), QColor(Qt::red)) << "the entry whose program lies in the application folder";
    EXPECT_EQ(centre(images[2]), QColor(Qt::blue)) << "a program found on PATH after env";
    EXPECT_NE(centre(images[3]), QColor(Qt::blue)) << "a hidden entry is removed: the generic icon";
}

TEST(ProcessIconSource, ApplicationThenFirstMemberWithAPath)
{
    ProcessRecord unknown, tool;
    tool.path = "/usr/bin/tool";
    ProcessGroup group;
    group.members = {unknown, tool};
    EXPECT_EQ(ProcessIconSource::group(group), QString("/usr/bin/tool"));
    group.appPath = "/opt/App";
    EXPECT_EQ(ProcessIconSource::group(group), QString("/opt/App"));
    group = {};
    group.members = {unknown};
    EXPECT_EQ(ProcessIconSource::group(group), std::nullopt);
}

TEST(ProcessIconView, PlaceholderUntilTheIconArrives)
{
    QSemaphore gate;
    ProcessIconStore store([&gate](const QString&) {
        gate.acquire();
        return solid(Qt::red);
    });
    ProcessIconView view(store, 40);
    ProcessGroup tool;
    tool.symbol = "terminal";
    tool.members.resize(1);
    tool.members[0].path = "/usr/bin/tool";
    view.setGroup(tool);
    view.show();
    const auto shot = [&view](const char* name) {
        const QImage image = view.grab().toImage();
        QDir().mkpath(CORVALENT_SCREENSHOTS);
        image.save(QString(CORVALENT_SCREENSHOTS) + "/process-icon-" + name + ".png");
        return image;
    };
    const QColor tile = shot("placeholder").pixelColor(4, 20);
    EXPECT_GT(tile.blue(), tile.red()) << "a teal tile";

    gate.release();
    EXPECT_TRUE(QTest::qWaitFor([&] { return centre(view.grab().toImage()) == QColor(Qt::red); }, 20000));
    shot("loaded");

    ProcessGroup nothing;
    nothing.symbol = "gearshape";
    view.setGroup(nothing);
    EXPECT_NE(centre(view.grab().toImage()), QColor(Qt::red)) << "the old icon does not stand for the new group";
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(&view)->state().invisible);
}

}  // namespace
}  // namespace corvalent

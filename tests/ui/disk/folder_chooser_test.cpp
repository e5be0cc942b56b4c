// Choosing a folder to map: through the desktop's file-chooser portal, played
// on a message bus of the test's own; where no portal answers, through Qt's
// own dialog, which never holds the window, also over a hung mount.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QFileDialog>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "private_bus.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/header/disk_header.h"
#include "ui/disk/portal_folder_chooser.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using Answer = std::optional<std::optional<std::string>>;

// The file-chooser portal as desktops run it: it takes the request, and the
// test answers it as the person would. A silent one never takes it.
class FakeFileChooser : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.FileChooser")

public:
    struct Request {
        QString title;
        QVariantMap options;
        QString caller, handle;
    };
    std::vector<Request> requests;
    bool silent = false;

    explicit FakeFileChooser(QDBusConnection bus) : bus_(std::move(bus)) {}

    // The person's answer to the last request: 0 chose `uris`, 1 cancelled.
    void respond(uint code, const QStringList& uris = {})
    {
        auto signal = QDBusMessage::createTargetedSignal(requests.back().caller, requests.back().handle,
                                                         "org.freedesktop.portal.Request", "Response");
        signal << code << QVariantMap{{"uris", uris}};
        EXPECT_TRUE(bus_.send(signal));
    }

public slots:
    QDBusObjectPath OpenFile(const QString& /*parentWindow*/, const QString& title, const QVariantMap& options)
    {
        if (silent) {
            setDelayedReply(true);
            return {};
        }
        auto sender = message().service().mid(1).replace('.', '_');
        const auto handle =
            "/org/freedesktop/portal/desktop/request/" + sender + "/" + options.value("handle_token").toString();
        requests.push_back({title, options, message().service(), handle});
        return QDBusObjectPath(handle);
    }

private:
    QDBusConnection bus_;
};

// Records whether it was asked, and answers nothing.
struct AskedChooser : FolderChooser {
    int asked = 0;
    void choose(QWidget*, std::function<void(std::optional<std::string>)>) override { ++asked; }
};

class PortalChooser : public ::testing::Test {
protected:
    void publish()
    {
        ASSERT_TRUE(
            portalSide.registerObject("/org/freedesktop/portal/desktop", &portal, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));
    }
    // Asks, and waits until the portal has the request.
    bool ask(PortalFolderChooser& chooser, Answer& answer)
    {
        const auto before = portal.requests.size();
        chooser.choose(&window, [&answer](std::optional<std::string> folder) { answer = std::move(folder); });
        return QTest::qWaitFor([&] { return portal.requests.size() > before; }, 10'000);
    }

    testing::PrivateBus bus;
    QDBusConnection portalSide = bus.connect();
    FakeFileChooser portal{portalSide};
    std::shared_ptr<AskedChooser> fallback = std::make_shared<AskedChooser>();
    QWidget window;
};

TEST_F(PortalChooser, AsksForOneFolderToMapAndPassesOnTheAnswer)
{
    publish();
    PortalFolderChooser chooser(bus.connect(), fallback);
    Answer answer;
    ASSERT_TRUE(ask(chooser, answer));
    const auto& request = portal.requests.back();
    EXPECT_EQ(request.title, "Choose a folder to map");
    EXPECT_EQ(request.options.value("accept_label").toString(), "Scan Folder");
    EXPECT_EQ(request.options.value("directory").toBool(), true);
    EXPECT_EQ(request.options.value("multiple").toBool(), false);
    EXPECT_EQ(request.options.value("modal").toBool(), true);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no dialog of the program's own";

    portal.respond(0, {"file:///home/ana/Old%20Photos/caf%C3%A9"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
    EXPECT_EQ(*answer, std::optional<std::string>("/home/ana/Old Photos/café"));

    answer.reset();
    ASSERT_TRUE(ask(chooser, answer));
    portal.respond(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
    EXPECT_EQ(*answer, std::nullopt) << "cancelled";
    EXPECT_EQ(fallback->asked, 0);
}

TEST_F(PortalChooser, WhereNoPortalTakesTheRequestQtsDialogAsks)
{
    // No portal on the bus: at once.
    PortalFolderChooser absent(bus.connect(), fallback);
    absent.choose(&window, [](auto) {});
    EXPECT_TRUE(QTest::qWaitFor([&] { return fallback->asked == 1; }, 10'000));

    // One that never takes the request: after its time.
    portal.silent = true;
    publish();
    PortalFolderChooser silent(bus.connect(), fallback, 300ms);
    silent.choose(&window, [](auto) {});
    EXPECT_TRUE(QTest::qWaitFor([&] { return fallback->asked == 2; }, 10'000));
}

// A home holding a mount that hangs, as a dead network share does: Qt's
// dialog lists the home on a thread that then waits on the mount for good.
// Cancel, a second choice and Quit all work at once.
TEST(FolderDialog, OverAHungMountNeverHoldsTheWindow)
{
    testing::TempHome temp;
    testing::SlowTree tree;
    tree.slowStat = {"."};
    testing::SlowMount mount(temp.home / "share", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    QSettings().setValue("hasSeenFullDiskAccessIntroduction", true);
    auto app = std::make_unique<CorvalentApp>();
    app->openMainWindow();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&app->mainWindow()));
    app->mainView()->setSection(AppSection::storage);
    auto* page = qobject_cast<DiskView*>(app->mainView()->currentPage());
    ASSERT_NE(page, nullptr);
    settleAfterJobs();

    for (int turn = 0; turn < 2; ++turn) {
        SCOPED_TRACE(turn == 0 ? "first choice" : "second choice, the reader still waiting");
        const auto calls = mount.slowCallsBegun();
        page->header().folderButton().click();
        QFileDialog* dialog = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) != nullptr; },
            10'000));
        if (turn == 0) {
            ASSERT_TRUE(mount.waitForSlowCalls(calls + 1, 20s)) << "the dialog's reader reached the mount";
        }
        const auto cancelled = std::chrono::steady_clock::now();
        dialog->reject();
        settle();
        EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 3s) << "the window answers; the mount holds for 30 s";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }

    // Quit, as Ctrl+Q gives it, ends the event loop at once.
    const auto asked = std::chrono::steady_clock::now();
    QTimer::singleShot(0, &app->quitAction(), &QAction::trigger);
    QApplication::exec();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 1s);
    app.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 3s) << "and its windows go without waiting on the mount";
    QSettings().clear();
}

}  // namespace
}  // namespace corvalent

#include "folder_chooser_test.moc"

// Choosing a folder to map: through the desktop's file-chooser portal, played
// on a message bus of the test's own; where there is no portal, through the
// program's own chooser, which never holds the window, also over a hung mount.
#include <gtest/gtest.h>
#include <QApplication>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCall>
#include <QDBusVirtualObject>
#include <QListWidget>
#include <QMainWindow>
#include <QSettings>
#include <QTest>
#include <QTimer>
#include <QVariantMap>

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "chooser_page.h"
#include "private_bus.h"
#include "slow_mount.h"
#include "test_support.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view.h"
#include "ui/disk/folders/folder_chooser_dialog.h"
#include "ui/disk/header/disk_header.h"
#include "ui/disk/folders/portal_folder_chooser.h"
#include "ui/shell/corvalent_app.h"
#include "ui/shell/main_view.h"
#include "ui/widgets/buttons.h"
#include "ui_settle.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using Answer = std::optional<std::optional<std::string>>;

// The file-chooser portal as desktops run it: it takes the request, and the
// test answers it as the person would. A slow one takes it late, a silent
// one when the test says. Closed requests are noted.
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
    std::optional<std::chrono::milliseconds> replyAfter;
    QStringList closed;  // the handles of requests closed, in order

    explicit FakeFileChooser(QDBusConnection bus) : bus_(std::move(bus)) {}

    // The person's answer to the last request: 0 chose `uris`, 1 cancelled.
    void respond(uint code, const QStringList& uris = {})
    {
        auto signal = QDBusMessage::createTargetedSignal(requests.back().caller, requests.back().handle,
                                                         "org.freedesktop.portal.Request", "Response");
        signal << code << QVariantMap{{"uris", uris}};
        EXPECT_TRUE(bus_.send(signal));
    }
    // Takes the last request now, when it was held back.
    void reply()
    {
        ASSERT_TRUE(held_.has_value());
        EXPECT_TRUE(bus_.send(held_->createReply(QVariant::fromValue(QDBusObjectPath(requests.back().handle)))));
        held_.reset();
        ++replies;
    }
    int replies = 0;

    // Where requests live: Close on any of them is noted.
    class Requests : public QDBusVirtualObject {
    public:
        explicit Requests(FakeFileChooser& portal) : portal_(portal) {}
        QString introspect(const QString&) const override { return {}; }
        bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override
        {
            if (message.interface() != "org.freedesktop.portal.Request" || message.member() != "Close") return false;
            portal_.closed << message.path();
            connection.send(message.createReply());
            return true;
        }

    private:
        FakeFileChooser& portal_;
    };

public slots:
    QDBusObjectPath OpenFile(const QString& /*parentWindow*/, const QString& title, const QVariantMap& options)
    {
        auto sender = message().service().mid(1).replace('.', '_');
        const auto handle =
            "/org/freedesktop/portal/desktop/request/" + sender + "/" + options.value("handle_token").toString();
        requests.push_back({title, options, message().service(), handle});
        if (silent || replyAfter) {
            setDelayedReply(true);
            held_ = message();
            if (replyAfter) QTimer::singleShot(*replyAfter, this, [this] { reply(); });
            return {};
        }
        ++replies;
        return QDBusObjectPath(handle);
    }

private:
    QDBusConnection bus_;
    std::optional<QDBusMessage> held_;
};

// Records whether it was asked, and keeps the last request's answer.
struct AskedChooser : FolderChooser {
    int asked = 0;
    std::function<void(std::optional<std::string>)> answer;
    void choose(QWidget*, std::function<void(std::optional<std::string>)> chosen) override
    {
        ++asked;
        answer = std::move(chosen);
    }
};

class PortalChooser : public ::testing::Test {
protected:
    void publish()
    {
        ASSERT_TRUE(
            portalSide.registerObject("/org/freedesktop/portal/desktop", &portal, QDBusConnection::ExportAllSlots));
        ASSERT_TRUE(portalSide.registerVirtualObject("/org/freedesktop/portal/desktop/request", &requests,
                                                     QDBusConnection::SubPath));
        ASSERT_TRUE(portalSide.registerService("org.freedesktop.portal.Desktop"));
    }
    // Asks, and waits until the portal has the request.
    bool ask(PortalFolderChooser& chooser, Answer& answer)
    {
        const auto before = portal.requests.size();
        chooser.choose(&window, [&answer](std::optional<std::string> folder) { answer = std::move(folder); });
        return QTest::qWaitFor([&] { return portal.requests.size() > before; }, 10'000);
    }
    // A round trip to the portal from `side`: what the portal sent before,
    // its replies and answers, has come and been handled by then.
    static bool roundTrip(const QDBusConnection& side)
    {
        const QDBusPendingCall ping = side.asyncCall(QDBusMessage::createMethodCall(
            "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop", "org.freedesktop.DBus.Peer", "Ping"));
        if (!QTest::qWaitFor([&] { return ping.isFinished(); }, 10'000)) return false;
        return settle();
    }

    testing::PrivateBus bus;
    QDBusConnection portalSide = bus.connect();
    FakeFileChooser portal{portalSide};
    FakeFileChooser::Requests requests{portal};
    std::shared_ptr<AskedChooser> fallback = std::make_shared<AskedChooser>();
    QWidget window;
};

TEST_F(PortalChooser, AsksForOneFolderToMapAndPassesOnTheAnswer)
{
    publish();
    auto chooserSide = bus.connect();
    PortalFolderChooser chooser(chooserSide, fallback);
    Answer answer;
    ASSERT_TRUE(ask(chooser, answer));
    const auto& request = portal.requests.back();
    EXPECT_EQ(request.title, "Choose a folder to map");
    EXPECT_EQ(request.options.value("accept_label").toString(), "Scan Folder");
    EXPECT_EQ(request.options.value("directory").toBool(), true);
    EXPECT_EQ(request.options.value("multiple").toBool(), false);
    EXPECT_EQ(request.options.value("modal").toBool(), true);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no dialog of the program's own";

    // One chooser at a time: asked again while the portal holds the request
    // (it may never answer), the portal's chooser is closed and asked anew;
    // only the new request's answer counts. The portal has replied by then:
    // the close is the chooser's own, not the one a late reply brings.
    const auto first = portal.requests.back().handle;
    ASSERT_TRUE(roundTrip(chooserSide)) << "the portal's reply has come";
    ASSERT_TRUE(portal.closed.isEmpty());
    Answer again;
    ASSERT_TRUE(ask(chooser, again));
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.closed == QStringList{first}; }, 10'000));
    portal.respond(0, {"file:///home/ana/Old%20Photos/caf%C3%A9"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.has_value(); }, 10'000));
    EXPECT_EQ(*again, std::optional<std::string>("/home/ana/Old Photos/café"));
    EXPECT_FALSE(answer.has_value()) << "the closed request answers nobody";
    EXPECT_EQ(portal.requests.size(), 2u);

    answer.reset();
    ASSERT_TRUE(ask(chooser, answer));
    portal.respond(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
    EXPECT_EQ(*answer, std::nullopt) << "cancelled";
    EXPECT_EQ(fallback->asked, 0);
    EXPECT_EQ(portal.closed, QStringList{first}) << "an answered request is not closed";
}

TEST_F(PortalChooser, WhereThereIsNoPortalTheProgramsOwnChooserAsksAtOnce)
{
    PortalFolderChooser absent(bus.connect(), fallback, 1h);
    Answer answer;
    absent.choose(&window, [&answer](std::optional<std::string> folder) { answer = std::move(folder); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return fallback->asked == 1; }, 10'000));
    // Asked again while it is open, it is the fallback that comes forward.
    absent.choose(&window, [&answer](std::optional<std::string> folder) { answer = std::move(folder); });
    EXPECT_EQ(fallback->asked, 2);
    fallback->answer("/home/ana/music");
    EXPECT_EQ(answer, Answer(std::optional<std::string>("/home/ana/music")));
}

// A portal that takes the request after the first seconds (a desktop busy
// starting its portal) is waited for: one chooser, and its answer counts.
TEST_F(PortalChooser, APortalThatTakesTheRequestLateIsWaitedFor)
{
    portal.replyAfter = 5500ms;
    publish();
    PortalFolderChooser chooser(bus.connect(), fallback);
    Answer answer;
    ASSERT_TRUE(ask(chooser, answer));
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.replies == 1; }, 20'000));
    portal.respond(0, {"file:///home/ana/late"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return answer.has_value(); }, 10'000));
    EXPECT_EQ(*answer, std::optional<std::string>("/home/ana/late"));
    EXPECT_EQ(fallback->asked, 0);
    EXPECT_TRUE(portal.closed.isEmpty());
}

// One that has not taken it when the chooser gives up on it has the request
// closed before the program's own chooser asks, and closed again when it
// takes it after all; its answer then counts for nothing.
TEST_F(PortalChooser, APortalThatNeverTakesTheRequestHasItClosedBeforeTheFallbackAsks)
{
    portal.silent = true;
    publish();
    auto chooserSide = bus.connect();
    PortalFolderChooser chooser(chooserSide, fallback, 300ms);
    Answer answer;
    ASSERT_TRUE(ask(chooser, answer));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fallback->asked == 1; }, 10'000));
    const auto handle = portal.requests.back().handle;
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.closed.size() == 1; }, 10'000));
    EXPECT_EQ(portal.closed.front(), handle);

    portal.reply();
    ASSERT_TRUE(QTest::qWaitFor([&] { return portal.closed.size() == 2; }, 10'000));
    EXPECT_EQ(portal.closed.back(), handle);
    portal.respond(0, {"file:///home/ana/ignored"});
    ASSERT_TRUE(roundTrip(chooserSide)) << "the answer has come";
    EXPECT_FALSE(answer.has_value());
    fallback->answer("/home/ana/chosen");
    EXPECT_EQ(answer, Answer(std::optional<std::string>("/home/ana/chosen")));
}

// Where no file manager answers on the bus and nothing can open the parent
// folder either (no launcher on the path), the failure is reported.
TEST(FileReveal, WhereNoFileManagerAnswersTheFailureIsReported)
{
    testing::PrivateBus bus;
    const testing::TempDir nothing;
    testing::ScopedVariable path("PATH", nothing.path().string());
    testing::ScopedVariable browser("BROWSER", "");
    testing::ScopedVariable defaultBrowser("DEFAULT_BROWSER", "");
    DesktopFileRevealer revealer(bus.connect());
    std::vector<std::string> failed;
    revealer.setFailure([&failed](const std::string& item) { failed.push_back(item); });
    revealer.reveal("/home/ana/Old Photos/report.pdf");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !failed.empty(); }, 10'000));
    EXPECT_EQ(failed, std::vector<std::string>{"/home/ana/Old Photos/report.pdf"});
    EXPECT_EQ(revealFailureText(failed.front()), "No file manager could show “report.pdf”.");
}

// A home holding a mount that hangs, as a dead network share does: the
// program's own chooser lists the home without waiting on it. Cancel, a
// second choice and Quit all work at once.
TEST(FolderDialog, OverAHungMountNeverHoldsTheWindow)
{
    testing::TempHome temp;
    std::filesystem::create_directory(temp.home / "Documents");
    testing::SlowTree tree;
    tree.slowStat = {"."};
    testing::SlowMount mount(temp.home / "share", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();
    testing::ChooserPage window;
    ASSERT_TRUE(window.open());
    auto& app = window.app;
    auto* page = window.page;

    for (int turn = 0; turn < 2; ++turn) {
        SCOPED_TRACE(turn == 0 ? "first choice" : "second choice");
        page->header().folderButton().click();
        FolderChooserDialog* dialog = nullptr;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return (dialog = qobject_cast<FolderChooserDialog*>(QApplication::activeModalWidget())) != nullptr; },
            10'000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return dialog->listed(); }, 20'000));
        EXPECT_EQ(dialog->list().count(), 2) << "Documents and share";
        const auto cancelled = std::chrono::steady_clock::now();
        dialog->reject();
        settle();
        EXPECT_LT(std::chrono::steady_clock::now() - cancelled, 3s) << "the window answers; the mount holds for 30 s";
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    }
    EXPECT_EQ(mount.slowCallsBegun(), 0u) << "nothing looked at the share";

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

// Launch feedback on a display of the test's own (Xvfb) with a window manager
// (openbox): starts of the built program, as a launcher makes them, end their
// startup sequences, read as the desktop reads them on the root window.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>
#include <QStandardPaths>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ChildProcess;

class StartupNotificationTest : public ::testing::Test {
protected:
    testing::TempDir root;
    fs::path runtime = fs::canonical(root.path()) / "runtime";
    fs::path home = fs::canonical(root.path()) / "home";
    std::unique_ptr<ChildProcess> server;
    std::unique_ptr<ChildProcess> windowManager;
    std::string display;
    xcb_connection_t* connection = nullptr;
    xcb_window_t screenRoot = 0;
    std::map<xcb_window_t, std::string> partial;  // by sending window
    std::vector<std::string> messages;

    void SetUp() override
    {
        const auto xvfb = QStandardPaths::findExecutable("Xvfb");
        const auto openbox = QStandardPaths::findExecutable("openbox");
        if (xvfb.isEmpty() || openbox.isEmpty()) GTEST_SKIP() << "needs Xvfb and openbox (scripts/install-deps test)";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
        fs::create_directories(home);

        // The server picks a free display and writes its number to the pipe.
        int number[2];
        ASSERT_EQ(::pipe(number), 0);
        server =
            std::make_unique<ChildProcess>(xvfb.toStdString(),
                                           std::vector<std::string>{"-displayfd", std::to_string(number[1]), "-screen",
                                                                    "0", "1280x800x24", "-nolisten", "tcp"},
                                           root.path());
        ::close(number[1]);
        pollfd ready{number[0], POLLIN, 0};
        char text[16] = {};
        const bool told = ::poll(&ready, 1, 30'000) == 1 && ::read(number[0], text, sizeof text - 1) > 0;
        ::close(number[0]);
        ASSERT_TRUE(told) << "Xvfb starts";
        display = ":" + std::to_string(std::atoi(text));

        connection = xcb_connect(display.c_str(), nullptr);
        ASSERT_EQ(xcb_connection_has_error(connection), 0);
        screenRoot = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
        // Startup messages go to the root window's property-change listeners.
        const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_change_window_attributes(connection, screenRoot, XCB_CW_EVENT_MASK, &mask);
        xcb_flush(connection);

        windowManager = std::make_unique<ChildProcess>(
            "/usr/bin/env",
            std::vector<std::string>{"HOME=" + home.string(), "DISPLAY=" + display, openbox.toStdString()},
            root.path());
        ASSERT_TRUE(
            testing::eventually([&] { return cardinal(screenRoot, "_NET_SUPPORTING_WM_CHECK").has_value(); }, 30s))
            << "openbox manages the display";
    }

    void TearDown() override
    {
        if (connection != nullptr) xcb_disconnect(connection);
    }

    xcb_atom_t atom(const char* name)
    {
        auto* reply = xcb_intern_atom_reply(
            connection, xcb_intern_atom(connection, 0, std::uint16_t(std::strlen(name)), name), nullptr);
        const auto found = reply != nullptr ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return found;
    }

    // A window's 32-bit property, when it has one.
    std::optional<std::uint32_t> cardinal(xcb_window_t window, const char* name)
    {
        auto* reply = xcb_get_property_reply(
            connection, xcb_get_property(connection, 0, window, atom(name), XCB_GET_PROPERTY_TYPE_ANY, 0, 1), nullptr);
        std::optional<std::uint32_t> value;
        if (reply != nullptr && reply->format == 32 && xcb_get_property_value_length(reply) == 4)
            value = *static_cast<std::uint32_t*>(xcb_get_property_value(reply));
        std::free(reply);
        return value;
    }

    // Startup messages put together from their pieces, as they come.
    void receive()
    {
        const auto begin = atom("_NET_STARTUP_INFO_BEGIN");
        const auto more = atom("_NET_STARTUP_INFO");
        while (auto* event = xcb_poll_for_event(connection)) {
            const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE &&
                (message->type == begin || (message->type == more && partial.contains(message->window)))) {
                auto& text = partial[message->window];
                if (message->type == begin) text.clear();
                const auto* bytes = reinterpret_cast<const char*>(message->data.data8);
                const auto* end = static_cast<const char*>(std::memchr(bytes, 0, 20));
                text.append(bytes, end != nullptr ? std::size_t(end - bytes) : 20);
                if (end != nullptr) {
                    messages.push_back(text);
                    partial.erase(message->window);
                }
            }
            std::free(event);
        }
    }

    bool received(const std::string& message, std::chrono::milliseconds timeout = 60s)
    {
        return testing::eventually(
            [&] {
                receive();
                return std::ranges::find(messages, message) != messages.end();
            },
            timeout);
    }

    // The built program, started on this display as a launcher starts it.
    std::unique_ptr<ChildProcess> launch(const std::string& startupId)
    {
        return std::make_unique<ChildProcess>(
            "/usr/bin/env",
            std::vector<std::string>{"-u", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR=" + runtime.string(),
                                     "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (root.path() / "config").string(),
                                     "DISPLAY=" + display, "QT_QPA_PLATFORM=xcb",
                                     "LSAN_OPTIONS=suppressions=" CORVALENT_LSAN_SUPPRESSIONS,
                                     "DESKTOP_STARTUP_ID=" + startupId, CORVALENT_APP},
            root.path());
    }
};

TEST_F(StartupNotificationTest, AStartHandedOverEndsItsOwnSequence)
{
    const auto first = launch("first_TIME1000");
    ASSERT_TRUE(received("remove: ID=first_TIME1000")) << "the first start ends its sequence when its window shows";
    const auto second = launch("second_TIME2000");
    const auto status = second->waitFor(60s);
    ASSERT_TRUE(status.has_value());
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "handed over";
    EXPECT_TRUE(received("remove: ID=second_TIME2000", 30s)) << "the running instance ends the second sequence";
    EXPECT_TRUE(first->running());
}

}  // namespace
}  // namespace corvalent

// The real program, closed while its scan waits on a hung file system, ends
// at once: its window is closed the way a window manager closes it, which
// quits the program where there is no tray.
#include <gtest/gtest.h>
#include <QGuiApplication>
#include <QtGui/qguiapplication_platform.h>
#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <sys/wait.h>

#include "slow_mount.h"
#include "test_support.h"

namespace corvalent {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::SlowMount;
using testing::SlowTree;
using testing::TempDir;

xcb_atom_t atom(xcb_connection_t* connection, const char* name)
{
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> reply(
        xcb_intern_atom_reply(connection, cookie, nullptr), &std::free);
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

// A mapped top-level window of process `pid`, if it shows one.
std::optional<xcb_window_t> shownWindowOf(xcb_connection_t* connection, pid_t pid)
{
    const auto root = xcb_setup_roots_iterator(xcb_get_setup(connection)).data->root;
    const auto pidAtom = atom(connection, "_NET_WM_PID");
    std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree(
        xcb_query_tree_reply(connection, xcb_query_tree(connection, root), nullptr), &std::free);
    if (!tree) return std::nullopt;
    const auto* children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes(
            xcb_get_window_attributes_reply(connection, xcb_get_window_attributes(connection, children[i]), nullptr),
            &std::free);
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE) continue;
        std::unique_ptr<xcb_get_property_reply_t, decltype(&std::free)> owner(
            xcb_get_property_reply(
                connection, xcb_get_property(connection, 0, children[i], pidAtom, XCB_ATOM_CARDINAL, 0, 1), nullptr),
            &std::free);
        if (owner && xcb_get_property_value_length(owner.get()) == 4 &&
            *static_cast<std::uint32_t*>(xcb_get_property_value(owner.get())) == static_cast<std::uint32_t>(pid))
            return children[i];
    }
    return std::nullopt;
}

// What a window manager sends when the user closes a window.
void askToClose(xcb_connection_t* connection, xcb_window_t window)
{
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = atom(connection, "WM_PROTOCOLS");
    message.data.data32[0] = atom(connection, "WM_DELETE_WINDOW");
    message.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(connection);
}

TEST(QuitWindow, EndsAtOnceWhileItsScanWaitsOnAHungFolder)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) GTEST_SKIP() << "needs an X display to close the program's window";
    auto* connection = x11->connection();

    TempDir dir;
    SlowTree tree;
    for (int i = 0; i < 40; ++i) tree.folders.push_back("tree/folder" + std::to_string(i));
    tree.files = {{"tree/folder3/data.bin", 20'000}};
    tree.folders.push_back("tree/folder7/hung");
    tree.slowList = {"tree/folder7/hung"};
    SlowMount mount(dir.path() / "mnt", tree);
    if (!mount.mounted()) GTEST_SKIP() << mount.problem();

    // The whole disk check scans its working folder in the files lane.
    const fs::path home = dir.path() / "home";
    fs::create_directories(home);
    testing::ScopedVariable homeVariable("HOME", home.string());
    testing::ScopedVariable configVariable("XDG_CONFIG_HOME", (dir.path() / "config").string());
    testing::ChildProcess program(CORVALENT_APP, {"--disk-performance-check"}, mount.path() / "tree");
    ASSERT_TRUE(mount.waitForSlowCalls(1, 20s)) << "the scan never reached the hung folder";
    std::optional<xcb_window_t> window;
    ASSERT_TRUE(testing::eventually([&] { return (window = shownWindowOf(connection, program.pid())).has_value(); },
                                    10s));

    const auto closed = std::chrono::steady_clock::now();
    askToClose(connection, *window);
    const auto status = program.waitFor(10s);
    const auto took = std::chrono::steady_clock::now() - closed;
    ASSERT_TRUE(status.has_value()) << "still running 10 s after its window was closed";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    EXPECT_LT(took, 5s) << std::chrono::duration_cast<std::chrono::milliseconds>(took).count() << " ms";
    std::printf("ended %lld ms after its window was closed\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
}  // namespace corvalent

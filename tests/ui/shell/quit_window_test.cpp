// The real program, closed while its scan waits on a hung file system, ends
// at once: its window is closed the way a window manager closes it, which
// quits the program where there is no tray. Ctrl+Q ends it as well while
// its access card checks a Documents folder on a share that never answers.
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

// Ctrl+Q as a keyboard gives it to the window that has the focus.
void pressCtrlQ(xcb_connection_t* connection, xcb_window_t window)
{
    const auto* setup = xcb_get_setup(connection);
    const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> mapping(
        xcb_get_keyboard_mapping_reply(connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, count),
                                       nullptr),
        &std::free);
    ASSERT_TRUE(mapping);
    const auto* symbols = xcb_get_keyboard_mapping_keysyms(mapping.get());
    const int perCode = mapping->keysyms_per_keycode;
    constexpr xcb_keysym_t q = 0x71;
    std::optional<xcb_keycode_t> code;
    for (int i = 0; i < count * perCode && !code; ++i)
        if (symbols[i] == q) code = static_cast<xcb_keycode_t>(setup->min_keycode + i / perCode);
    ASSERT_TRUE(code) << "no key gives q";
    for (const auto type : {XCB_KEY_PRESS, XCB_KEY_RELEASE}) {
        xcb_key_press_event_t key{};
        key.response_type = static_cast<std::uint8_t>(type);
        key.detail = *code;
        key.time = XCB_CURRENT_TIME;
        key.root = xcb_setup_roots_iterator(setup).data->root;
        key.event = window;
        key.same_screen = 1;
        key.state = XCB_MOD_MASK_CONTROL;
        xcb_send_event(connection, 0, window, XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE,
                       reinterpret_cast<const char*>(&key));
    }
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

// At the first start the access card checks the protected folders; Documents
// is a share that never answers. The check waits there in a child of the
// program, never in the program itself, and Ctrl+Q ends the program.
TEST(QuitWindow, CtrlQEndsItWhileTheAccessCardChecksADocumentsFolderThatNeverAnswers)
{
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (x11 == nullptr) GTEST_SKIP() << "needs an X display to press keys in the program's window";
    auto* connection = x11->connection();

    TempDir dir;
    const fs::path home = dir.path() / "home";
    const fs::path runtime = dir.path() / "runtime";
    fs::create_directories(home);
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    testing::ScopedVariable homeVariable("HOME", home.string());
    testing::ScopedVariable configVariable("XDG_CONFIG_HOME", (dir.path() / "config").string());
    testing::ScopedVariable runtimeVariable("XDG_RUNTIME_DIR", runtime.string());
    // Declared before the share, which goes first and lets whatever waits on it end.
    std::optional<testing::ChildProcess> program;
    SlowTree tree;
    tree.slowStat = tree.slowList = tree.slowStatfs = {"."};
    tree.neverAnswers = true;
    SlowMount share(home / "Documents", tree);
    if (!share.mounted()) GTEST_SKIP() << share.problem();

    program.emplace(CORVALENT_APP, std::vector<std::string>{}, home);
    std::optional<xcb_window_t> window;
    ASSERT_TRUE(testing::eventually([&] { return (window = shownWindowOf(connection, program->pid())).has_value(); },
                                    20s));
    ASSERT_TRUE(share.waitForSlowCalls(1, 20s)) << "the card never checked Documents";

    const auto pressed = std::chrono::steady_clock::now();
    pressCtrlQ(connection, *window);
    const auto status = program->waitFor(10s);
    const auto took = std::chrono::steady_clock::now() - pressed;
    ASSERT_TRUE(status.has_value()) << "still running 10 s after Ctrl+Q";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "status " << *status;
    EXPECT_EQ(share.slowCallsBegunBy(program->pid()), 0U) << "the program itself looked at the share";
    std::printf("ended %lld ms after Ctrl+Q\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
}

}  // namespace
}  // namespace corvalent

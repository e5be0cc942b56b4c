#include "ui/shell/main_window_size.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace corvalent {
namespace {

constexpr QSize smallest(920, 620);
constexpr QSize standard(1180, 760);

// Sizes the window for its screen before it is shown, corrects them once the
// window manager has framed it, and follows the screen after that.
class MainWindowFit : public WindowFit {
public:
    explicit MainWindowFit(QWidget& window) : WindowFit(window)
    {
        const auto sizes = mainWindowSize(room());
        window_.setMinimumSize(sizes.minimum);
        window_.resize(sizes.initial);
        given_ = sizes.initial;
    }

protected:
    // A size the user chose stays while it fits; a larger one shrinks.
    void fit() override
    {
        const auto room = this->room();
        if (room.isEmpty()) return;
        window_.setMinimumSize(mainWindowSize(room).minimum);
        if (window_.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) return;
        const auto fitting = window_.size().boundedTo(room);
        if (fitting != window_.size()) window_.resize(fitting);
    }

    // With its frame known: the first size as it should have been, and the
    // whole frame on the screen.
    void place() override
    {
        if (handle_ == nullptr) return;
        frame_ = handle_->frameMargins();
        const auto room = this->room();
        const auto* screen = window_.screen();
        if (room.isEmpty() || screen == nullptr) return;
        window_.setMinimumSize(mainWindowSize(room).minimum);
        if (window_.windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)) return;
        const bool untouched = window_.size() == given_;
        const auto size = untouched ? mainWindowSize(room).initial : window_.size().boundedTo(room);
        if (size != window_.size()) window_.resize(size);
        given_ = size;
        if (untouched) moveFrameInside(size, screen->availableGeometry());
    }

private:
    QSize room() const
    {
        const auto* screen = window_.screen();
        if (screen == nullptr) return {};
        const auto platform = QGuiApplication::platformName();
        auto frame = handle_ != nullptr ? handle_->frameMargins() : QMargins();
        if (!framed_ && frame.isNull()) frame = assumedFrame(platform);
        return windowRoom(screen->availableGeometry(), screen->geometry(), frame, platform);
    }

    QSize given_;
};

}  // namespace

QSize usualMainWindowSize()
{
    return standard;
}

MainWindowSize mainWindowSize(QSize room)
{
    if (room.isEmpty()) return {smallest, standard};
    return {smallest.boundedTo(room), standard.boundedTo(room)};
}

void fitMainWindowToScreen(QWidget& window)
{
    new MainWindowFit(window);
}

}  // namespace corvalent

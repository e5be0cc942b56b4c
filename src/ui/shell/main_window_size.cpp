#include "ui/shell/main_window_size.h"

#include <QEvent>
#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace corvalent {
namespace {

constexpr QSize smallest(920, 620);
constexpr QSize standard(1180, 760);

bool onWayland(QStringView platform)
{
    return platform.startsWith(u"wayland");
}

// Sizes the window for its screen before it is shown, corrects them once the
// window manager has framed it, and follows the screen after that.
class MainWindowFit : public QObject {
public:
    explicit MainWindowFit(QWidget& window) : QObject(&window), window_(window)
    {
        const auto sizes = mainWindowSize(room());
        window_.setMinimumSize(sizes.minimum);
        window_.resize(sizes.initial);
        given_ = sizes.initial;
        window_.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && event->type() == QEvent::Show && handle_ == nullptr) follow();
        if (watched == handle_ && handle_ != nullptr) {
            const auto type = event->type();
            // The frame is known from the first exposure on; a later change
            // (a window manager that frames late, a new theme) fits again.
            if (type == QEvent::Expose && !framed_ && handle_->isExposed()) {
                framed_ = true;
                QMetaObject::invokeMethod(this, &MainWindowFit::place, Qt::QueuedConnection);
            } else if (framed_ && (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose) &&
                       handle_->frameMargins() != frame_) {
                QMetaObject::invokeMethod(this, &MainWindowFit::place, Qt::QueuedConnection);
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void follow()
    {
        handle_ = window_.windowHandle();
        if (handle_ == nullptr) return;
        handle_->installEventFilter(this);
        connect(handle_, &QWindow::screenChanged, this, &MainWindowFit::watch);
        watch(handle_->screen());
    }

    void watch(QScreen* screen)
    {
        disconnect(screenRoom_);
        if (screen != nullptr) screenRoom_ = connect(screen, &QScreen::availableGeometryChanged, this, &MainWindowFit::fit);
        fit();
    }

    // A size the user chose stays while it fits; a larger one shrinks.
    void fit()
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
    void place()
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
        // A Wayland compositor places windows itself.
        if (!untouched || onWayland(QGuiApplication::platformName())) return;
        const auto area = screen->availableGeometry();
        QRect framed(window_.frameGeometry().topLeft(), size.grownBy(frame_));
        framed.moveLeft(std::clamp(framed.left(), area.left(), std::max(area.left(), area.right() + 1 - framed.width())));
        framed.moveTop(std::clamp(framed.top(), area.top(), std::max(area.top(), area.bottom() + 1 - framed.height())));
        if (framed.topLeft() != window_.frameGeometry().topLeft()) window_.move(framed.topLeft());
    }

    QSize room() const
    {
        const auto* screen = window_.screen();
        if (screen == nullptr) return {};
        const auto platform = QGuiApplication::platformName();
        auto frame = handle_ != nullptr ? handle_->frameMargins() : QMargins();
        if (!framed_ && frame.isNull()) frame = assumedFrame(platform);
        return windowRoom(screen->availableGeometry(), screen->geometry(), frame, platform);
    }

    QWidget& window_;
    QWindow* handle_ = nullptr;
    bool framed_ = false;
    QMargins frame_;
    QSize given_;
    QMetaObject::Connection screenRoom_;
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

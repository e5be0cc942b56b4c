#include "ui/shell/main_window_size.h"

#include <QEvent>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>

namespace corvalent {
namespace {

constexpr QSize smallest(920, 620);
constexpr QSize standard(1180, 760);

// Follows the window's screen once the window has one of its own.
class ScreenFit : public QObject {
public:
    explicit ScreenFit(QWidget& window) : QObject(&window), window_(window)
    {
        const auto sizes = mainWindowSize(room());
        window_.setMinimumSize(sizes.minimum);
        window_.resize(sizes.initial);
        window_.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == &window_ && event->type() == QEvent::Show && !following_) follow();
        return QObject::eventFilter(watched, event);
    }

private:
    void follow()
    {
        auto* handle = window_.windowHandle();
        if (handle == nullptr) return;
        following_ = true;
        connect(handle, &QWindow::screenChanged, this, &ScreenFit::watch);
        watch(handle->screen());
    }

    void watch(QScreen* screen)
    {
        disconnect(screenRoom_);
        if (screen != nullptr) screenRoom_ = connect(screen, &QScreen::availableGeometryChanged, this, &ScreenFit::fit);
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

    QSize room() const
    {
        const auto* screen = window_.screen();
        if (screen == nullptr) return {};
        auto room = screen->availableGeometry().size();
        if (const auto* handle = window_.windowHandle()) room = room.shrunkBy(handle->frameMargins());
        return room;
    }

    QWidget& window_;
    bool following_ = false;
    QMetaObject::Connection screenRoom_;
};

}  // namespace

MainWindowSize mainWindowSize(QSize room)
{
    if (room.isEmpty()) return {smallest, standard};
    return {smallest.boundedTo(room), standard.boundedTo(room)};
}

void fitMainWindowToScreen(QWidget& window)
{
    new ScreenFit(window);
}

}  // namespace corvalent

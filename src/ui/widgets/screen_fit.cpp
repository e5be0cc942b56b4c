#include "ui/widgets/screen_fit.h"

#include <QEvent>
#include <QGuiApplication>
#include <QLayout>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <algorithm>

namespace corvalent {
namespace {

// A title bar as tall as the tallest of the usual desktops draw, with thin
// borders; the real frame replaces it once the window is shown.
constexpr QMargins usualFrame(2, 38, 2, 2);
// A desktop's top bar or bottom panel, where the platform does not say.
constexpr int usualPanel = 48;

bool onWayland(QStringView platform)
{
    return platform.startsWith(u"wayland");
}

}  // namespace

QMargins assumedFrame(QStringView platform)
{
    if (platform == u"offscreen" || platform == u"minimal") return {};
    return usualFrame;
}

QSize windowRoom(const QRect& available, const QRect& whole, const QMargins& frame, QStringView platform)
{
    auto room = available.size().shrunkBy(frame);
    if (onWayland(platform) && available == whole) room.rheight() -= usualPanel;
    return room.expandedTo({0, 0});
}

QRect keptInside(QRect rect, const QRect& area)
{
    rect.moveLeft(std::clamp(rect.left(), area.left(), std::max(area.left(), area.right() + 1 - rect.width())));
    rect.moveTop(std::clamp(rect.top(), area.top(), std::max(area.top(), area.bottom() + 1 - rect.height())));
    return rect;
}

QRect centredInside(QSize size, const QMargins& frame, const QRect& over, const QRect& area)
{
    QRect framed(QPoint(0, 0), size.grownBy(frame));
    framed.moveCenter(over.center());
    return keptInside(framed, area).marginsRemoved(frame);
}

QSize layoutSizeAt(QWidget& window, int width)
{
    auto* layout = window.layout();
    if (layout == nullptr) return window.sizeHint();
    layout->activate();
    return {width, layout->hasHeightForWidth() ? layout->totalHeightForWidth(width) : layout->totalSizeHint().height()};
}

WindowFit::WindowFit(QWidget& window) : QObject(&window), window_(window)
{
    window_.installEventFilter(this);
}

bool WindowFit::eventFilter(QObject* watched, QEvent* event)
{
    const auto type = event->type();
    if (watched == &window_ && type == QEvent::Show) {
        // Before the window is mapped, and before a dialog centres itself on
        // its owner: a size and place given here are what it opens at.
        if (handle_.isNull()) follow();
        shown(!event->spontaneous());
    } else if (watched == handle_ && handle_ != nullptr) {
        // The frame is known from the first exposure on; a later change (a
        // window manager that frames late, a new theme) fits again.
        if (type == QEvent::Expose && !framed_ && handle_->isExposed()) {
            framed_ = true;
            QMetaObject::invokeMethod(this, &WindowFit::place, Qt::QueuedConnection);
        } else if (framed_ && (type == QEvent::Move || type == QEvent::Resize || type == QEvent::Expose) &&
                   handle_->frameMargins() != frame_) {
            QMetaObject::invokeMethod(this, &WindowFit::place, Qt::QueuedConnection);
        } else if (framed_ && type == QEvent::Move) {
            QMetaObject::invokeMethod(this, &WindowFit::moved, Qt::QueuedConnection);
        }
    }
    return QObject::eventFilter(watched, event);
}

void WindowFit::follow()
{
    handle_ = window_.windowHandle();
    if (handle_ == nullptr) return;
    handle_->installEventFilter(this);
    connect(handle_, &QWindow::screenChanged, this, &WindowFit::watch);
    watch(handle_->screen());
}

void WindowFit::watch(QScreen* screen)
{
    disconnect(screenRoom_);
    if (screen != nullptr)
        screenRoom_ = connect(screen, &QScreen::availableGeometryChanged, this, &WindowFit::roomChanged);
    fit();
}

void WindowFit::moveFrameInside(QSize size, const QRect& area)
{
    if (onWayland(QGuiApplication::platformName())) return;
    const auto framed = keptInside(QRect(window_.frameGeometry().topLeft(), size.grownBy(frame_)), area);
    if (framed.topLeft() != window_.frameGeometry().topLeft()) window_.move(framed.topLeft());
}

ScreenFit::ScreenFit(QWidget& window, std::function<QSize()> wanted) : WindowFit(window), wanted_(std::move(wanted))
{
    fit();
}

void ScreenFit::fit()
{
    const auto wanted = wanted_();
    const auto room = this->room();
    const auto size = room.isEmpty() ? wanted : wanted.boundedTo(room);
    if (window_.minimumSize() == size && window_.maximumSize() == size) return;
    // A sheet whose content settles after it has opened stays centred,
    // unless the person has moved it meanwhile.
    const bool wasCentred = window_.isVisible() && framed_ && isWhereCentred();
    window_.setFixedSize(size);
    if (wasCentred) centre();
}

void ScreenFit::shown(bool opening)
{
    if (opening) {
        centredAt_.clear();
        recentred_ = 0;
    }
    fit();
    if (opening) centre();
}

// With its frame known: the size it should have, centred on its owner again
// with the real frame, as long as the person has not moved it; and the whole
// frame on the screen.
void ScreenFit::place()
{
    if (handle_ == nullptr) return;
    const bool first = !placed_;
    const bool wasCentred = isWhereCentred();
    frame_ = handle_->frameMargins();
    fit();
    const auto* screen = this->screen();
    if (screen == nullptr || !window_.isVisible()) return;
    placed_ = true;
    if (first || wasCentred)
        centre();
    else
        moveFrameInside(window_.size(), screen->availableGeometry());
}

// A window manager that answers a move late can report, after the last one,
// a place the window was centred at for an earlier size: centre it again. A
// few times at most, should the window manager keep it there.
void ScreenFit::moved()
{
    if (!placed_ || centredAt_.empty() || recentred_ >= 3) return;
    if (!isWhereCentred() || window_.geometry().topLeft() == centredAt_.back()) return;
    ++recentred_;
    centre();
}

void ScreenFit::roomChanged()
{
    place();
}

// The frame centred on the owner's and moved inside the screen's available
// area. The contents are placed, not the frame, so that where the window
// lands does not hang on whether the platform knows the frame yet.
void ScreenFit::centre()
{
    const auto* owner = window_.parentWidget() != nullptr ? window_.parentWidget()->window() : nullptr;
    const auto* screen = this->screen();
    if (owner == nullptr || screen == nullptr || onWayland(QGuiApplication::platformName())) return;
    const auto inside = centredInside(window_.size(), frame(), owner->frameGeometry(), screen->availableGeometry());
    // The latest place last, once.
    std::erase(centredAt_, inside.topLeft());
    centredAt_.push_back(inside.topLeft());
    if (inside != window_.geometry()) window_.setGeometry(inside);
}

bool ScreenFit::isWhereCentred() const
{
    return std::find(centredAt_.begin(), centredAt_.end(), window_.geometry().topLeft()) != centredAt_.end();
}

QScreen* ScreenFit::screen() const
{
    if (handle_ != nullptr && handle_->screen() != nullptr) return handle_->screen();
    // Not yet shown: a sheet opens on its owner's screen.
    if (const auto* owner = window_.parentWidget()) return owner->screen();
    return window_.screen();
}

// The window's own frame once drawn; before that, its owner's, which the
// same window manager drew; else the usual one.
QMargins ScreenFit::frame() const
{
    if (handle_ != nullptr && (framed_ || !handle_->frameMargins().isNull())) return handle_->frameMargins();
    if (const auto* owner = window_.parentWidget()) {
        const auto* ownerHandle = owner->window()->windowHandle();
        if (ownerHandle != nullptr && !ownerHandle->frameMargins().isNull()) return ownerHandle->frameMargins();
    }
    return assumedFrame(QGuiApplication::platformName());
}

QSize ScreenFit::room() const
{
    const auto* screen = this->screen();
    if (screen == nullptr) return {};
    return windowRoom(screen->availableGeometry(), screen->geometry(), frame(), QGuiApplication::platformName());
}

}  // namespace corvalent

#include "ui/widgets/focus_ring.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QWidget>

#include <algorithm>
#include <utility>

#include "ui/widgets/contrast.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {

namespace {

// Whether the person last used the keyboard or the pointer, watched for the
// whole application from the first focus ring on; and whether the control
// holding the focus has taken a key since it got it.
class InputWatcher : public QObject {
public:
    static InputWatcher& instance()
    {
        static auto* watcher = [] {
            auto* created = new InputWatcher;
            QCoreApplication::instance()->installEventFilter(created);
            return created;
        }();
        return *watcher;
    }
    bool lastInputWasKey() const { return key_; }
    bool keyedSinceFocus() const { return keyed_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::KeyPress:
            key_ = true;
            keyed(watched, static_cast<QKeyEvent*>(event)->key());
            break;
        case QEvent::ShortcutOverride: key_ = true; break;
        case QEvent::FocusIn: keyed_ = false; break;
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick:
        case QEvent::TouchBegin: key_ = false; break;
        default: break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    InputWatcher() : QObject(QCoreApplication::instance()) {}

    // The first key other than a modifier that the focused control takes:
    // from now on it shows its ring, wherever that is drawn (by the control,
    // on a list's rows, by the control's parent around it).
    void keyed(QObject* watched, int key)
    {
        auto* focus = QApplication::focusWidget();
        if (keyed_ || focus == nullptr || watched != focus) return;
        if (key == Qt::Key_Shift || key == Qt::Key_Control || key == Qt::Key_Alt || key == Qt::Key_Meta ||
            key == Qt::Key_AltGr || key == Qt::Key_CapsLock || key == Qt::Key_Super_L || key == Qt::Key_Super_R)
            return;
        keyed_ = true;
        focus->update();
        if (auto* area = qobject_cast<QAbstractScrollArea*>(focus)) area->viewport()->update();
        if (auto* parent = focus->parentWidget()) parent->update(focus->geometry().adjusted(-4, -4, 4, 4));
    }

    bool key_ = false;
    bool keyed_ = false;
};

}  // namespace

FocusRing::FocusRing()
{
    InputWatcher::instance();
}

void FocusRing::focusIn(const QFocusEvent& event)
{
    // A window that becomes active, a sheet that shows, or the program
    // moving focus on: a ring only when a key led there. Mouse focus never
    // shows one.
    held_ = true;
    switch (event.reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::ActiveWindowFocusReason:
    case Qt::OtherFocusReason: keyboard_ = InputWatcher::instance().lastInputWasKey(); break;
    case Qt::PopupFocusReason:
    case Qt::MenuBarFocusReason:
        keyboard_ = keptForMenu_ && InputWatcher::instance().lastInputWasKey();
        break;
    default: keyboard_ = false; break;
    }
}

void FocusRing::focusOut()
{
    // A menu opening now takes the focus until it closes: one that a key
    // opened hands the ring back. A menu bar's menu opens before the bar
    // takes the focus as well: the second loss keeps what the first kept.
    if (std::exchange(held_, false)) keptForMenu_ = keyLed() && InputWatcher::instance().lastInputWasKey();
    keyboard_ = false;
}

bool FocusRing::keyLed() const
{
    // Focus that came without a ring shows it once the control takes a key,
    // until the pointer is used.
    const auto& input = InputWatcher::instance();
    return keyboard_ || (held_ && input.keyedSinceFocus() && input.lastInputWasKey());
}

bool FocusRing::shown(const QWidget& widget) const
{
    return keyLed() && widget.hasFocus();
}

void FocusRing::paint(QPainter& painter, const QWidget& widget, const QRectF& area, double radius) const
{
    if (!shown(widget)) return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(colour(widget.palette()), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(area.adjusted(1, 1, -1, -1), std::max(0.0, radius - 1), std::max(0.0, radius - 1));
    painter.restore();
}

std::vector<QColor> FocusRing::surfaces(const QPalette& palette)
{
    constexpr double washAlpha = 0.16;  // the hero gradient's start
    constexpr double faintTextAlpha = 0.08;
    constexpr double faintAccentAlpha = 0.16;
    using CorvalentStyle::blend;
    const auto teal = CorvalentStyle::teal();
    const auto text = CorvalentStyle::primary(palette);
    const auto window = palette.color(QPalette::Window);
    std::vector<QColor> found;
    for (const auto role : {QPalette::Window, QPalette::Base, QPalette::AlternateBase, QPalette::Button}) {
        // A see-through background (a field's, on a well of its own) shows the window.
        const auto colour = palette.color(role);
        const auto plain = blend(window, QColor(colour.rgb()), colour.alphaF());
        for (const auto& under : {plain, blend(plain, teal, washAlpha)}) {
            found.push_back(under);
            found.push_back(blend(under, text, faintTextAlpha));
            found.push_back(blend(under, teal, faintAccentAlpha));
        }
    }
    return found;
}

QColor FocusRing::colour(const QPalette& palette)
{
    auto ring = CorvalentStyle::teal();
    // The surfaces all lie on one side of the accent (light or dark), so
    // each shade that reaches one keeps the ones before.
    for (const auto& surface : surfaces(palette)) ring = Contrast::readable(ring, surface, 3.0);
    return ring;
}

FocusRing::Bands FocusRing::bandsOnFill(const QPalette& palette, const QColor& fill)
{
    // The text colour stands out from the window in both appearances; inside,
    // whichever of text and window stands out more from the fill.
    const auto text = CorvalentStyle::primary(palette);
    const auto window = CorvalentStyle::windowBackground(palette);
    return {text, Contrast::ratio(text, fill) >= Contrast::ratio(window, fill) ? text : window};
}

void FocusRing::paintOnFill(QPainter& painter, const QWidget& widget, const QRectF& area, double radius,
                            const QColor& fill) const
{
    if (!shown(widget)) return;
    constexpr double band = 1.5;
    const auto bands = bandsOnFill(widget.palette(), fill);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    const auto stroke = [&](const QColor& colour, double inset) {
        painter.setPen(QPen(colour, band));
        const double corner = std::max(0.0, radius - inset);
        painter.drawRoundedRect(area.adjusted(inset, inset, -inset, -inset), corner, corner);
    };
    stroke(bands.inner, band * 1.5);
    stroke(bands.outer, band / 2);
    painter.restore();
}

}  // namespace corvalent

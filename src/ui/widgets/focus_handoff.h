#pragma once

// Passing the focus on when the control that held it goes away (a card that
// left the list, a row the list rebuilt, a button a running action turned
// off), so that it lands near where the person was instead of at the top of
// the window. The kit's ring shows on the new holder when a key led there.

#include <QPointer>

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <vector>

class QWidget;

namespace corvalent {

// Whether the focus of `area`'s window lies on `area` or inside it, also
// while another window (a sheet) is active.
bool holdsFocus(const QWidget& area);

// Gives `to` the focus as the program's own move, and brings it into view.
// In a window that is not active it takes the focus when the window comes
// back.
void handFocus(QWidget& to);

// Scrolls the focused `control` into view in the scroll areas around it,
// and again whenever the layouts around it move it, until it loses the focus
// or the person scrolls one of those areas.
void bringIntoView(QWidget& control);

// The first control inside `area` that Tab reaches and that is shown and
// turned on; none when there is no such control.
QWidget* firstControlIn(QWidget& area);

// The focus held inside entries that a change takes away or turns off. It is
// put down before the change, so that the entries' going does not pass it
// along the window's chain (to a far control, or to the window's first one
// when it comes back from a sheet), and handed on after it.
class FocusHandOn {
public:
    FocusHandOn() = default;
    // Takes the focus from whichever of `entries` holds it, when `leaves`
    // says that entry goes.
    template <typename Entry, typename Leaves>
    FocusHandOn(const std::vector<Entry*>& entries, Leaves leaves)
    {
        for (std::size_t i = 0; i < entries.size(); ++i)
            if (holdsFocus(*entries[i]) && leaves(entries[i])) {
                take(*entries[i], i);
                return;
            }
    }
    template <typename Entry>
    explicit FocusHandOn(const std::vector<Entry*>& entries) : FocusHandOn(entries, [](Entry*) { return true; })
    {
    }

    // The place of the entry the focus was taken from, until it is handed on.
    std::optional<std::size_t> from() const { return from_; }
    // Hands the focus to the first of `choices` that is there and takes the
    // focus; one that is turned off for now (an Undo until its move has
    // ended) gets it once it turns on. Never once something else took the
    // focus meanwhile. While none of `choices` can have it, it stays to be
    // handed on.
    void handTo(std::initializer_list<QWidget*> choices);

private:
    void take(QWidget& entry, std::size_t at);

    std::optional<std::size_t> from_;
    QPointer<QWidget> window_;
};

}  // namespace corvalent

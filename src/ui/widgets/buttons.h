#pragma once

// The buttons of every page. They are real push buttons: Tab reaches them,
// Space and Return press them, a keyboard focus ring shows, and their text is
// their accessible name. A focused button takes Return itself; Return never
// presses a destructive one, nor one that carries out what a sheet asks
// about, and a window's default button takes it only while no other button
// has the focus. Pressed, they dim and shrink a
// little (no shrinking under reduced motion).
//
// A button's text is the label as people read it, "&" included: Qt would take
// a lone "&" as a shortcut mark, drop it from the name a screen reader speaks
// and bind Alt to the next key, so the button doubles it in the text it hands
// to Qt and shows it single.

#include <QAbstractButton>
#include <QPushButton>

#include <functional>
#include <optional>

#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"

namespace corvalent {

class Spinner;

class Button : public QPushButton {
public:
    enum class Kind {
        prominent,    // white semibold text on the accent
        bordered,     // primary text on a faint fill with a hairline
        tinted,       // accent text on a faint accent fill
        plain,        // secondary text; a fill only under the pointer
        link,         // accent text, underlined under the pointer
        destructive,  // white semibold text on red
    };
    // Large buttons use body text and stand taller, for a card's action row.
    enum class Size { regular, large };

    Button(Kind kind, const QString& text, QWidget* parent = nullptr, Size size = Size::regular);

    Kind kind() const { return kind_; }
    // The label as shown and read. Both hide QAbstractButton's, whose text
    // is Qt's form with every "&" doubled.
    void setText(const QString& label);
    QString text() const;
    // A symbol before the text; empty for none.
    void setSymbol(const QString& symbol);
    // While busy, a small spinner in the text's colour stands where the
    // symbol would, for a button whose action is under way.
    void setBusy(bool busy);
    bool busy() const { return busy_; }
    // Return and Enter never press this button, even while it has focus;
    // Space, a click and an assistive tool's press still do. Always so for
    // a destructive button. Others take Return while they have the focus.
    void setIgnoresReturn(bool ignores) { ignoresReturn_ = ignores; }
    bool ignoresReturn() const { return ignoresReturn_ || kind_ == Kind::destructive; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    std::optional<QColor> filling() const;
    QColor paintBackground(QPainter& painter, const QRectF& area) const;
    void paintLabel(QPainter& painter, const QColor& ink) const;
    void animatePress(bool down);

    Kind kind_;
    Size size_;
    QString symbol_;
    bool busy_ = false;
    bool ignoresReturn_ = false;
    Spinner* spinner_ = nullptr;
    double press_ = 0;  // 0 released … 1 pressed
    int pressGeneration_ = 0;
    FocusRing focusRing_;
};

// The small "i" beside a title. Hovering and clicking are reported, so the
// page decides which help is open.
class InfoButton : public QAbstractButton {
public:
    std::function<void()> entered;
    std::function<void()> left;

    // `accessibleName` names what the help is about, as "About Memory pressure".
    explicit InfoButton(const QString& accessibleName, QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    FocusRing focusRing_;
};

}  // namespace corvalent

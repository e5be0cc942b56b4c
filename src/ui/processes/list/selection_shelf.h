#pragma once

// The floating bar at the foot of the process page: how many processes a stop
// would take and their footprint, the model's status line, and the actions on
// the selection (clear, explain, force stop, stop). It keeps no state of its
// own; every redraw reads the model.

#include <QString>
#include <QWidget>

#include <cstdint>

namespace corvalent {

class Button;
class ElidedLabel;
class SymbolView;
class VantleModel;

namespace ShelfTexts {

// "Ready when you are", or "3 selected · 412 MB".
QString headline(std::size_t chosen, std::uint64_t bytes);
// The glyph beside it: dotted while nothing is chosen, checked otherwise.
QString glyphSymbol(std::size_t chosen);

}  // namespace ShelfTexts

class SelectionShelf : public QWidget {
    Q_OBJECT

public:
    SelectionShelf(VantleModel& model, QWidget* parent = nullptr);

    // Fills `anchor` (the page's floating place for it) with a shelf and
    // gives the place its shadow.
    static SelectionShelf* attach(QWidget& anchor, VantleModel& model);

    QString headlineText() const;
    QString statusText() const;
    const QString& glyph() const;
    Button& clearButton() { return *clear_; }
    Button& explainButton() { return *explain_; }
    Button& forceButton() { return *force_; }
    Button& stopButton() { return *stop_; }
    // Raised by a point while something is chosen (never under reduced motion).
    bool lifted() const { return lifted_; }

signals:
    // Clear was pressed: the selection empties next, and Clear hides.
    void clearing();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void sync();
    void setLifted(bool lifted);

    VantleModel& model_;
    SymbolView* glyph_ = nullptr;
    ElidedLabel* headline_ = nullptr;
    ElidedLabel* status_ = nullptr;
    Button* clear_ = nullptr;
    Button* explain_ = nullptr;
    Button* force_ = nullptr;
    Button* stop_ = nullptr;
    bool lifted_ = false;
    double lift_ = 0;  // 0 resting … 1 raised, drawn as a one-point rise
    int liftGeneration_ = 0;
};

}  // namespace corvalent

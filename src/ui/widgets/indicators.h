#pragma once

// Small painted indicators: the busy spinner, the state dot, and the bar that
// shows a fraction or, without one, that work is under way.

#include <QColor>
#include <QWidget>

class QVariantAnimation;

namespace corvalent {

// Eight spokes, the brightest going round while shown. Name it for what it
// waits on (`setAccessibleName`).
class Spinner : public QWidget {
public:
    explicit Spinner(int size = 22, QWidget* parent = nullptr);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QVariantAnimation* turn_;
    int step_ = 0;
};

// A filled circle, or a capsule when given a size taller than wide.
class StateDot : public QWidget {
public:
    explicit StateDot(QWidget* parent = nullptr);
    const QColor& colour() const { return colour_; }
    void setColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor colour_;
};

// A thin rounded track, six pixels high by default. Determinate, the used
// part is filled in the tint; indeterminate, a short piece of it sweeps
// across while shown.
class Bar : public QWidget {
public:
    explicit Bar(QWidget* parent = nullptr);

    double fraction() const { return fraction_; }
    void setFraction(double fraction);
    QColor tint() const { return tint_; }
    void setTint(const QColor& tint);
    bool indeterminate() const { return sweep_ != nullptr; }
    void setIndeterminate(bool indeterminate);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    double fraction_ = 0;
    QColor tint_;
    QVariantAnimation* sweep_ = nullptr;
};

}  // namespace corvalent

#pragma once

// What the inspector shows while no group is focused: a ring around a
// viewfinder, what the inspector is for, and that protected work stays
// read-only; above them, when the inspected group's processes have all
// ended, a sentence that says so.

#include <QWidget>

namespace corvalent {
class ElidedLabel;
}

namespace corvalent::inspector {

class Placeholder : public QWidget {
public:
    explicit Placeholder(QWidget* parent = nullptr);

    // The sentence about the group that ended; empty hides it.
    void setEnded(const QString& sentence);
    QString endedText() const;

private:
    ElidedLabel* ended_ = nullptr;
};

}  // namespace corvalent::inspector

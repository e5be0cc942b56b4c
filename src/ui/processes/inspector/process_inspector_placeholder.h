#pragma once

// What the inspector shows while no group is focused: a ring around a
// viewfinder, what the inspector is for, and that protected work stays
// read-only.

#include <QWidget>

namespace corvalent::inspector {

class Placeholder : public QWidget {
public:
    explicit Placeholder(QWidget* parent = nullptr);
};

}  // namespace corvalent::inspector

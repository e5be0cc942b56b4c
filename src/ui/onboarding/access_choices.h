#pragma once

// The two ways to scan, side by side in the card before any setup: the
// complete map (recommended) and the limited scan.

#include <QWidget>

namespace corvalent {

class AccessChoices : public QWidget {
public:
    explicit AccessChoices(QWidget* parent = nullptr);
};

}  // namespace corvalent

#pragma once

// A page's title block: a large bold title over a one-line description.

#include <QWidget>

namespace corvalent {

class SectionTitle : public QWidget {
public:
    SectionTitle(const QString& title, const QString& subtitle, QWidget* parent = nullptr);
};

}  // namespace corvalent

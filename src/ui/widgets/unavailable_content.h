#pragma once

// What a pane shows when it has nothing to show: a large symbol, a title and
// a description, centred in the space it is given.

#include <QWidget>

namespace corvalent {

class ElidedLabel;
class SymbolView;

class UnavailableContent : public QWidget {
public:
    UnavailableContent(const QString& title, const QString& symbol, QWidget* parent = nullptr);

    QString title() const;
    QString description() const;
    void setDescription(const QString& description);

private:
    ElidedLabel* title_;
    ElidedLabel* description_;
};

}  // namespace corvalent

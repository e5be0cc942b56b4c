#pragma once

// The inspector's cards above the member rows: the header on the hero
// gradient, one statistic tile, and what stopping the group would do.

#include <QWidget>

#include "ui/widgets/panel.h"

namespace corvalent {

class ElidedLabel;
class ProcessIconStore;
class ProcessIconView;
class SymbolView;
struct ProcessGroup;

namespace inspector {

// Icon, title, subtitle and whether anything in the group may be stopped.
class HeaderCard : public QWidget {
public:
    HeaderCard(ProcessIconStore& icons, QWidget* parent = nullptr);
    void setGroup(const ProcessGroup& group);

    QString title() const;
    QString subtitle() const;
    QString statusText() const;
    QString statusSymbol() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    ProcessIconView* icon_;
    ElidedLabel* title_;
    ElidedLabel* subtitle_;
    SymbolView* statusSymbol_;
    ElidedLabel* status_;
};

// A small capitals label with its symbol over a figure.
class StatTile : public PanelSurface {
public:
    StatTile(const QString& label, const QString& symbol, QWidget* parent = nullptr);
    void setValue(const QString& value);
    QString value() const;

private:
    ElidedLabel* value_;
};

// "Before you stop" and the group's impact, wrapped.
class ImpactCard : public PanelSurface {
public:
    explicit ImpactCard(QWidget* parent = nullptr);
    void setImpact(const QString& impact);
    QString impact() const;

private:
    ElidedLabel* impact_;
};

}  // namespace inspector
}  // namespace corvalent

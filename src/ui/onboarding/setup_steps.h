#pragma once

// The two setup rows the card shows once the person chose to set up: the
// program with its access status and a lock that pictures it, then a hint on
// what to check.

#include "ui/widgets/panel.h"

namespace corvalent {

class ElidedLabel;
class Spinner;
class SymbolView;
struct FullDiskAccessFlow;

class SetupSteps : public PanelSurface {
public:
    explicit SetupSteps(QWidget* parent = nullptr);

    void setFlow(const FullDiskAccessFlow& flow);

    QString statusLabel() const;
    QString detail() const;
    // The spinner or the lock, whichever shows.
    QWidget* statusIndicator() const;

private:
    QLayout* buildProgramRow();
    QLayout* buildHintRow();

    ElidedLabel* status_ = nullptr;
    Spinner* spinner_ = nullptr;
    SymbolView* lock_ = nullptr;
    SymbolView* hintSymbol_ = nullptr;
    ElidedLabel* detail_ = nullptr;
};

}  // namespace corvalent

#pragma once

// The selected volume in one row under the disk page's title: how full it
// is, a plain verdict on its health and its four figures; and the strip that
// warns that protected folders are missing from the map while access is
// limited.

#include <QColor>
#include <QString>
#include <QWidget>

#include <optional>

#include "core/disk/disk.h"

class QGraphicsOpacityEffect;
class QVariantAnimation;

namespace corvalent {

class DiskModel;
class DiskViewState;
class ElidedLabel;
class Gauge;
class SymbolView;

// The verdict on a capacity: "Almost full" under a tenth free (or without a
// total), "Space is getting tight" under a fifth, else "Room to breathe".
struct DiskHealth {
    QString title;
    QString symbol;
    QColor color;

    explicit DiskHealth(const DiskCapacity& capacity);
};

// The share not available for new data; 0 without a total.
double usedFraction(const DiskCapacity& capacity);
// That share as whole percent, rounded half away from zero.
int usedPercent(const DiskCapacity& capacity);

class CapacityFigure;

class CapacityCard : public QWidget {
public:
    explicit CapacityCard(DiskModel& model, QWidget* parent = nullptr);

    // Compact, on a short page, the card keeps every figure in a smaller
    // font, closer together, with less room above and below. The height of
    // its row with the figures, full or compact.
    void setCompact(bool compact);
    int rowHeight(bool compact) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void sync();
    void present(const DiskCapacity& capacity, bool animated);
    void showFigures();

    DiskModel& model_;
    std::optional<DiskCapacity> shown_;
    QWidget* reading_;
    QWidget* figures_;
    Gauge* gauge_;
    ElidedLabel* name_;
    SymbolView* healthSymbol_;
    ElidedLabel* health_;
    CapacityFigure* usable_;
    CapacityFigure* freeNow_;
    QWidget* reclaimableDivider_;
    CapacityFigure* reclaimable_;
    CapacityFigure* total_;
    bool hasReclaimable_ = false;
    bool compact_ = false;
    double nameReveal_ = 1;
    int nameGeneration_ = 0;
};

// Shown only while access is denied or unavailable. It slides down from its
// top edge and fades as it comes and goes, also under reduced motion: the
// movement is what tells a person the map's coverage changed.
class LimitedAccessWarning : public QWidget {
public:
    explicit LimitedAccessWarning(DiskViewState& state, QWidget* parent = nullptr);

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void sync();
    void setShown(double shown);
    int stripHeight(int width) const;

    DiskViewState& state_;
    QWidget* strip_;
    QVariantAnimation* motion_;
    QGraphicsOpacityEffect* fade_ = nullptr;
    double shown_ = 0;  // 0 gone … 1 in place
    bool wanted_ = false;
};

}  // namespace corvalent

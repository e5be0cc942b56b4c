#pragma once

// A process group's icon as a square: the application's or program's icon
// once the store has it, the group's symbol on a tinted tile until then.

#include <QImage>
#include <QPalette>
#include <QString>
#include <QWidget>

#include <optional>

#include "core/process/processes.h"

class QPainter;
class QRectF;

namespace corvalent {

class ProcessIconStore;

// A square view of a group's icon at a size (40 rows, 62 inspector, 30 overview): the cached icon, else loads it;
// until then (or on failure) the group's symbol on a tinted tile as the placeholder. Decorative: hidden from
// assistive technology, which reads the group's title beside it.
class ProcessIconView : public QWidget {
    Q_OBJECT
public:
    ProcessIconView(ProcessIconStore& store, int size, QWidget* parent = nullptr);
    void setGroup(const ProcessGroup& group);  // source = ProcessIconSource::group(g), placeholder = g.symbol

    const std::optional<QString>& source() const { return source_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void load();

    ProcessIconStore& store_;
    std::optional<QString> source_;
    QString symbol_;
    QImage icon_;                     // loaded by this view for `source_`
    std::optional<QString> loading_;  // the path whose answer is awaited
};

// For painting delegates: draws the icon or the placeholder into `rect` (no widget needed).
void paintProcessIcon(QPainter& painter, const QRectF& rect, const QImage& icon, const QString& placeholderSymbol,
                      const QPalette& palette);

}  // namespace corvalent

#pragma once

// What the disk page shows before there is anything to map: a still picture
// of three partial rings around a drive, the invitation to scan the selected
// disk or a folder, and the two promises every scan keeps.

#include <QWidget>

#include "ui/disk/disk_view_state.h"

namespace corvalent {

class Button;
class DiskModel;
class ElidedLabel;
class SymbolView;

// Three arcs of 20 px on circles of radius 115, 88 and 61 around the
// centre of a 230 px frame, with the drive symbol in the middle. The outer
// stroke reaches 10 px beyond that frame, so the widget is the frame plus
// that margin on every side.
class DiskEmptyMap : public QWidget {
public:
    static constexpr int frame = 230;
    static constexpr int overhang = 10;

    explicit DiskEmptyMap(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The invitation to scan. The picture is decorative: where the page is too
// short for it, it steps aside rather than forcing the window taller.
class DiskEmptyState : public QWidget {
public:
    DiskEmptyState(DiskModel& model, const DiskCommands& commands, QWidget* parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void sync();
    void syncProtectedPromise();

    DiskModel& model_;
    DiskEmptyMap* map_;
    Button* scan_;
    SymbolView* protectedSymbol_;
    ElidedLabel* protectedPromise_;
};

}  // namespace corvalent

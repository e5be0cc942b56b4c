#pragma once

// The row over the disk map: up one level, where in the scanned tree the
// person stands, whether the map is partial, how many files lie below, and
// the command that shows the focused item in the file manager.

#include <QWidget>

#include <functional>

#include "core/disk/disk.h"

namespace corvalent {

class Button;
class ElidedLabel;
class SymbolView;

class MapToolbar : public QWidget {
public:
    MapToolbar(std::function<void()> back, std::function<void()> reveal, QWidget* parent = nullptr);

    // `focused` lies in the tree of `root`; `partial` marks a stopped scan.
    void setNodes(const DiskNode& root, const DiskNode& focused, bool partial);

    Button& backButton() const { return *back_; }
    Button& revealButton() const { return *reveal_; }
    QString title() const;
    QString pathText() const;
    QString fileCountText() const;
    bool showsPartial() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Button* back_;
    ElidedLabel* name_;
    ElidedLabel* path_;
    QWidget* partial_;
    ElidedLabel* files_;
    Button* reveal_;
};

}  // namespace corvalent

#pragma once

// What the disk workspace shows once a scan result exists: the map pane (a
// toolbar over the sunburst, on a soft radial glow) beside the sidebar list
// while the inspector is on. Both show the focused node; a click on a folder
// focuses it, the back button returns to its parent.

#include <QWidget>

#include <optional>
#include <string>

class QSplitter;

namespace corvalent {

class DiskModel;
class DiskSidebar;
class DiskViewState;
class FileRevealer;
class MapToolbar;
class SunburstDiskMap;
struct DiskNode;

class DiskMapPanel : public QWidget {
    Q_OBJECT

public:
    DiskMapPanel(DiskModel& model, DiskViewState& state, FileRevealer& revealer, bool showsInspector,
                 QWidget* parent = nullptr);

    MapToolbar& toolbar() const { return *toolbar_; }
    SunburstDiskMap& map() const { return *map_; }
    // Shown while the inspector is on.
    DiskSidebar& sidebar() const { return *sidebar_; }
    void setShowsInspector(bool on);
    QSplitter& split() const { return *split_; }

    // A click on a slice: a folder with contents takes the focus; anything
    // else stays highlighted.
    void select(const DiskNode& node);
    // Up one level, to the focused node's parent, or the root.
    void back();
    void revealFocused();
    // Lets go of the map's node before the model replaces the tree it lies in.
    void forgetMap();

private:
    void sync();

    DiskModel& model_;
    DiskViewState& state_;
    FileRevealer& revealer_;
    QSplitter* split_ = nullptr;
    QWidget* pane_ = nullptr;
    MapToolbar* toolbar_ = nullptr;
    SunburstDiskMap* map_ = nullptr;
    DiskSidebar* sidebar_ = nullptr;
    std::optional<std::string> shownID_;
};

}  // namespace corvalent

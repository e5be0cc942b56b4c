#pragma once

// The band at the top of the disk workspace: the page's title, the stop
// command while a scan runs, the volume menu, the scan and folder commands,
// then the selected volume's capacity card and, while access is limited,
// the warning that the map may be incomplete.

#include <QWidget>

#include "ui/disk/disk_view_state.h"

class QMenu;

namespace corvalent {

class Button;
class DiskModel;

class DiskHeader : public QWidget {
    Q_OBJECT

public:
    DiskHeader(DiskModel& model, DiskViewState& state, const DiskCommands& commands, QWidget* parent = nullptr);

    Button& stopButton() const { return *stop_; }
    Button& volumeButton() const { return *volume_; }
    Button& scanButton() const { return *scan_; }
    Button& folderButton() const { return *folder_; }
    // The volume menu as it opens now: filled from the model's volumes.
    QMenu& volumeMenu();

private:
    void sync();
    void fillVolumeMenu();

    DiskModel& model_;
    Button* stop_ = nullptr;
    Button* volume_ = nullptr;
    Button* scan_ = nullptr;
    Button* folder_ = nullptr;
    QMenu* menu_ = nullptr;
};

}  // namespace corvalent

#pragma once

// The band at the top of the disk workspace: the page's title, the stop
// command while a scan runs, the volume menu, the scan and folder commands,
// then the selected volume's capacity card and, while access is limited,
// the warning that the map may be incomplete. In a short window it folds: the
// subtitle goes first, then the title, whose commands join the card's row
// while the card keeps every figure in a compact form.

#include <QWidget>

#include <array>

#include "ui/disk/disk_view_state.h"

class QBoxLayout;
class QMenu;

namespace corvalent {

class Button;
class CapacityCard;
class DiskModel;
class ElidedLabel;

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

    // The band's height with nothing folded, and the height each part frees
    // as it folds in turn: the subtitle, then the title.
    int fullHeight() const;
    std::array<int, 2> foldSavings() const;
    void setFolded(int parts);

private:
    void sync();
    void fillVolumeMenu();

    DiskModel& model_;
    QBoxLayout* titleRow_ = nullptr;
    QBoxLayout* cardRow_ = nullptr;
    QWidget* titles_ = nullptr;
    ElidedLabel* heading_ = nullptr;
    ElidedLabel* subtitle_ = nullptr;
    QWidget* commands_ = nullptr;
    CapacityCard* card_ = nullptr;
    QWidget* warning_ = nullptr;
    Button* stop_ = nullptr;
    Button* volume_ = nullptr;
    Button* scan_ = nullptr;
    Button* folder_ = nullptr;
    QMenu* menu_ = nullptr;
};

}  // namespace corvalent

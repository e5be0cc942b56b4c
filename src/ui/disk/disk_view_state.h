#pragma once

// The view state the panels of the disk workspace share: which node the map
// is focused on, which node is under the pointer, the sidebar's mode, the
// access overlay and the last access status, the stop control's hover and
// focus, and the candidate or guide shown as a sheet. The page owns one; the
// panels read and set it and keep no copies. Each field has its own signal,
// sent only when the value changes.

#include <QObject>
#include <QString>

#include <functional>
#include <optional>
#include <string>

#include "core/disk/disk.h"
#include "core/disk/disk_cleanup_guides.h"
#include "core/disk/disk_insights.h"
#include "models/full_disk_access.h"

namespace corvalent {

enum class DiskSidebarMode { breakdown, cleanup, largestFiles, storageFacts };

// "Map", "Review", "Files", "Storage".
QString sidebarModeLabel(DiskSidebarMode mode);

// The commands two places of the page offer; each is one function.
struct DiskCommands {
    std::function<void()> scanSelectedVolume;
    std::function<void()> chooseFolder;
    std::function<void()> stopScan;
};

class DiskViewState : public QObject {
    Q_OBJECT

public:
    using QObject::QObject;

    // The id of the node the map is focused on; none focuses the root.
    const std::optional<std::string>& focusedNodeID() const { return focusedNodeID_; }
    void setFocusedNodeID(std::optional<std::string> id);
    // The node under the pointer, over its slice or its row.
    const std::optional<std::string>& hoveredID() const { return hoveredID_; }
    void setHoveredID(std::optional<std::string> id);
    DiskSidebarMode sidebarMode() const { return sidebarMode_; }
    void setSidebarMode(DiskSidebarMode mode);
    bool showingAccessSetup() const { return showingAccessSetup_; }
    void setShowingAccessSetup(bool showing);
    FullDiskAccessStatus fullDiskAccessStatus() const { return fullDiskAccessStatus_; }
    void setFullDiskAccessStatus(FullDiskAccessStatus status);
    bool stopActionHovered() const { return stopActionHovered_; }
    void setStopActionHovered(bool hovered);
    bool stopActionFocused() const { return stopActionFocused_; }
    void setStopActionFocused(bool focused);
    const std::optional<DiskCleanupCandidate>& cleanupCandidate() const { return cleanupCandidate_; }
    void setCleanupCandidate(std::optional<DiskCleanupCandidate> candidate);
    const std::optional<DiskCleanupGuide>& cleanupGuide() const { return cleanupGuide_; }
    void setCleanupGuide(std::optional<DiskCleanupGuide> guide);

    // The focused node of `result`: the node with the focused id, else the
    // root; none without a result. Points into `result`.
    const DiskNode* focusedNode(const std::optional<DiskScanResult>& result) const;

signals:
    void focusedNodeIDChanged();
    void hoveredIDChanged();
    void sidebarModeChanged();
    void showingAccessSetupChanged();
    void fullDiskAccessStatusChanged();
    void stopActionHoveredChanged();
    void stopActionFocusedChanged();
    void cleanupCandidateChanged();
    void cleanupGuideChanged();

private:
    std::optional<std::string> focusedNodeID_;
    std::optional<std::string> hoveredID_;
    DiskSidebarMode sidebarMode_ = DiskSidebarMode::breakdown;
    bool showingAccessSetup_ = false;
    FullDiskAccessStatus fullDiskAccessStatus_ = FullDiskAccessStatus::checking;
    bool stopActionHovered_ = false;
    bool stopActionFocused_ = false;
    std::optional<DiskCleanupCandidate> cleanupCandidate_;
    std::optional<DiskCleanupGuide> cleanupGuide_;
};

}  // namespace corvalent

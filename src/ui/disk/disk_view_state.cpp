#include "ui/disk/disk_view_state.h"

#include "core/common/paths.h"

namespace corvalent {

QString sidebarModeLabel(DiskSidebarMode mode)
{
    switch (mode) {
    case DiskSidebarMode::breakdown: return QStringLiteral("Map");
    case DiskSidebarMode::cleanup: return QStringLiteral("Review");
    case DiskSidebarMode::largestFiles: return QStringLiteral("Files");
    case DiskSidebarMode::storageFacts: return QStringLiteral("Storage");
    }
    return {};
}

namespace {

template <typename Value, typename Signal>
void assign(DiskViewState* state, Value& field, Value value, Signal changed)
{
    if (field == value) return;
    field = std::move(value);
    emit(state->*changed)();
}

}  // namespace

void DiskViewState::setFocusedNodeID(std::optional<std::string> id)
{
    assign(this, focusedNodeID_, std::move(id), &DiskViewState::focusedNodeIDChanged);
}

void DiskViewState::setHoveredID(std::optional<std::string> id)
{
    assign(this, hoveredID_, std::move(id), &DiskViewState::hoveredIDChanged);
}

void DiskViewState::setSidebarMode(DiskSidebarMode mode)
{
    assign(this, sidebarMode_, mode, &DiskViewState::sidebarModeChanged);
}

void DiskViewState::setShowingAccessSetup(bool showing)
{
    assign(this, showingAccessSetup_, showing, &DiskViewState::showingAccessSetupChanged);
}

void DiskViewState::setFullDiskAccessStatus(FullDiskAccessStatus status)
{
    assign(this, fullDiskAccessStatus_, status, &DiskViewState::fullDiskAccessStatusChanged);
}

void DiskViewState::setStopActionHovered(bool hovered)
{
    assign(this, stopActionHovered_, hovered, &DiskViewState::stopActionHoveredChanged);
}

void DiskViewState::setStopActionFocused(bool focused)
{
    assign(this, stopActionFocused_, focused, &DiskViewState::stopActionFocusedChanged);
}

void DiskViewState::setCleanupCandidate(std::optional<DiskCleanupCandidate> candidate)
{
    assign(this, cleanupCandidate_, std::move(candidate), &DiskViewState::cleanupCandidateChanged);
}

void DiskViewState::setCleanupGuide(std::optional<DiskCleanupGuide> guide)
{
    assign(this, cleanupGuide_, std::move(guide), &DiskViewState::cleanupGuideChanged);
}

// Node ids are paths, so the focused node is found by walking down the
// folders that lead to it rather than through the whole tree.
const DiskNode* DiskViewState::focusedNode(const std::optional<DiskScanResult>& result) const
{
    if (!result) return nullptr;
    const DiskNode* node = &result->root;
    if (!focusedNodeID_) return node;
    const std::string_view target = *focusedNodeID_;
    while (node->id != target) {
        const DiskNode* next = nullptr;
        for (const auto& child : node->children)
            if (child.isDirectory && Paths::isAtOrBelow(target, child.id)) next = &child;
        if (next == nullptr) return &result->root;
        node = next;
    }
    return node;
}

}  // namespace corvalent

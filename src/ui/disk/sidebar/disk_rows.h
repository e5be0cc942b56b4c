#pragma once

// The rows of the disk sidebar: a child of the focused folder with its share
// of it, one of the scan's largest files, and the scan's footnote under the
// list. Each row is one keyboard stop: Space or Return activates it and the
// menu key opens its menu. Rows copy the few fields they show, never a tree.

#include <QAbstractButton>
#include <QColor>
#include <QStringList>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "core/disk/disk_insights.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/focus_ring.h"
#include "ui/widgets/pressable_row.h"

class QMenu;

namespace corvalent {

class DiskModel;
class DiskViewState;
class ElidedLabel;
class FileRevealer;
class SymbolView;
struct DiskFile;
struct DiskNode;
struct DiskScanResult;

// What the rows act through.
struct DiskRowContext {
    DiskModel& model;
    DiskViewState& state;
    FileRevealer& revealer;
};

inline const QString revealInFileManager = QStringLiteral("Reveal in File Manager");
inline const QString reviewMoveToTrash = QStringLiteral("Review Move to Trash\u2026");

// An item's menu: reveal it when it has a path, and open the review of its
// move to the Trash when there is a candidate the Trash may take. Null when
// it would be empty.
std::unique_ptr<QMenu> diskItemMenu(const DiskRowContext& context, const std::optional<std::string>& path,
                                    const std::optional<DiskCleanupCandidate>& candidate);

// One child of the focused folder. Its hover look follows the shared hovered
// id, which the sidebar tells it; the pointer over it sets that id.
class DiskBreakdownRow : public QAbstractButton {
public:
    // `total` is the focused folder's bytes, or 1 when those are 0.
    DiskBreakdownRow(const DiskNode& node, int index, std::uint64_t total, const DiskRowContext& context,
                     QWidget* parent = nullptr);

    const std::string& id() const { return id_; }
    double share() const { return share_; }
    QString detailText() const;
    bool hovered() const { return hovered_; }
    void setHovered(bool hovered);
    // Folders with contents take the focus; anything else with a path is revealed.
    void activate();
    // Null when there is nothing to offer.
    std::unique_ptr<QMenu> contextMenu();
    void openMenu(const QPoint& at);

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void shift(bool right);

    DiskRowContext context_;
    std::string id_;
    std::optional<std::string> path_;
    std::uint64_t bytes_;
    bool isDirectory_;
    std::optional<DiskScannedItem> scanned_;
    bool opens_;         // a folder with contents
    bool directFiles_;   // the folder's loose files, which carry the folder's path
    QColor colour_;
    double share_;
    ElidedLabel* detail_ = nullptr;
    bool hovered_ = false;
    bool shifted_ = false;
    double hover_ = 0;  // 0 … 1, the fill's progress
    int hoverGeneration_ = 0;
    bool platformMenu_ = false;
    FocusRing focusRing_;
};

// One of the scan's largest files, numbered from 1.
class LargestFileRow : public PressableRow {
public:
    LargestFileRow(const DiskFile& file, int rank, const DiskRowContext& context, QWidget* parent = nullptr);

    const std::string& path() const { return path_; }
    QColor colour() const { return colour_; }
    void activate();
    std::unique_ptr<QMenu> contextMenu();
    void openMenu(const QPoint& at);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    DiskRowContext context_;
    bool platformMenu_ = false;
    std::string path_;
    std::uint64_t bytes_;
    std::optional<DiskScannedItem> scanned_;
    QColor colour_;
};

// Under the list while a result exists: how the scan ended, and what it
// could not read or left out.
class ScanFootnote : public QWidget {
public:
    explicit ScanFootnote(QWidget* parent = nullptr);
    // Hidden without a result.
    void setResult(const DiskScanResult* result);
    QStringList lines() const;
    QString firstSymbol() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Line {
        QWidget* row = nullptr;
        SymbolView* symbol = nullptr;
        ElidedLabel* text = nullptr;
    };
    std::array<Line, 3> lines_{};
};

}  // namespace corvalent

#pragma once

// Paints one group row of the process list: the selection glyph, the icon,
// title and subtitle with the member count, memory and CPU, over the row's
// focused, selected or hovered background. Only rows in view are painted.
// A click on the glyph selects or deselects the group; its tooltip says what
// the click does or why the group is locked.

#include <QDeadlineTimer>
#include <QFont>
#include <QHash>
#include <QPixmap>
#include <QSet>
#include <QStyledItemDelegate>

#include <functional>
#include <optional>
#include <string>
#include <unordered_map>

class QAbstractItemView;

namespace corvalent {

class FocusRing;
class ProcessIconStore;
class ProcessListModel;

class ProcessRowDelegate : public QStyledItemDelegate {
public:
    // The list's padding around all rows, the gap between rows and a row's height.
    static constexpr int sidePadding = 12;
    static constexpr int topPadding = 10;
    static constexpr int bottomPadding = 105;
    static constexpr int rowSpacing = 5;
    static constexpr int rowHeight = 58;

    // The current row shows `ring` while the view has the focus.
    ProcessRowDelegate(ProcessListModel& rows, ProcessIconStore& icons, QAbstractItemView& view,
                       const FocusRing& ring);

    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // The row's own rectangle inside the list item, without the padding.
    QRectF rowRect(const QRect& itemRect, int row) const;
    QRectF glyphRect(const QRect& itemRect, int row) const;
    // The glyph's help text of a row.
    QString glyphHelp(int row) const;

    const std::optional<std::string>& hovered() const { return hovered_; }
    void setHovered(std::optional<std::string> id);
    // The band at the view's foot that something opaque floats over: rows
    // are drawn down to its top and never in the gap below what floats there.
    void setCoveredFoot(int height) { coveredFoot_ = height; }

private:
    // What a row's background shows, and where its content sits.
    struct Look {
        QColor fill;
        double outline = 0;  // the focused row's border, 0…1
        double shift = 0;    // pixels to the right while hovered
    };
    struct Shade {
        Look from;
        Look to;
        double progress = 1;
        int generation = 0;
    };

    Look target(int row, const QPalette& palette) const;
    // The look to paint now: a change of target fades over from what was shown.
    Look shade(const std::string& id, const Look& wanted) const;
    void requestIcon(const QString& path) const;
    QPixmap symbol(const QString& name, const QColor& colour, int points, qreal ratio) const;
    void paintTexts(QPainter& painter, const QRectF& area, int row, const QPalette& palette) const;

    ProcessListModel& rows_;
    ProcessIconStore& icons_;
    QAbstractItemView& view_;
    const FocusRing& ring_;
    std::optional<std::string> hovered_;
    mutable std::unordered_map<std::string, Shade> shades_;
    mutable QSet<QString> requested_;  // icons being loaded
    mutable QHash<QString, QDeadlineTimer> failed_;  // icons not to ask for until then
    mutable QHash<QString, QPixmap> symbols_;        // by name, tint, size and pixel ratio
    QFont titleFont_;
    QFont captionFont_;
    QFont memoryFont_;
    int coveredFoot_ = 0;
};

}  // namespace corvalent

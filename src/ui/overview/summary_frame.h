#pragma once

// The frame both overview summaries share: a header with its link to the
// workspace, a one-line footer, the empty message, the small figure of the
// totals row and the stack their rows sit in.

#include <QWidget>

#include <cstddef>
#include <functional>
#include <vector>

#include "ui/overview/overview_states.h"

class QVBoxLayout;

namespace corvalent {

class ElidedLabel;
class SymbolView;

namespace overview {

// Symbol tile, title over subtitle, and "View all".
class PanelHeader : public QWidget {
public:
    PanelHeader(const QString& title, const QString& symbol, std::function<void()> viewAll, QWidget* parent = nullptr);
    void setSubtitle(const QString& text);

private:
    ElidedLabel* subtitle_;
};

// The panel's last line: what the summary is based on.
class PanelFooter : public QWidget {
public:
    explicit PanelFooter(QWidget* parent = nullptr);
    void set(const StorageFooter& footer);

private:
    SymbolView* symbol_;
    ElidedLabel* title_;
    ElidedLabel* detail_;
};

// A message centred in the space it is given, with an optional second line.
class EmptyMessage : public QWidget {
public:
    explicit EmptyMessage(QWidget* parent = nullptr);
    void set(const EmptySummary& message);

private:
    SymbolView* symbol_;
    ElidedLabel* title_;
    ElidedLabel* detail_;
};

// A small capitalised label over a figure that shrinks a little before it
// gives up characters.
class CardMetric : public QWidget {
public:
    CardMetric(const QString& label, const QString& valueName, QWidget* parent = nullptr);
    void setValue(const QString& value);

private:
    ElidedLabel* value_;
};

// Rows stacked from the top, reused by position so that a refresh only
// changes texts. Each row keeps its vertical padding where the height allows
// and gives up some of it, down to a floor, where it does not: a full list
// then fits a small window without scrolling.
class RowStack : public QWidget {
public:
    RowStack(int horizontalPadding, int padding, int minimumPadding, QWidget* parent = nullptr);

    std::size_t count() const { return rows_.size(); }
    QWidget* row(std::size_t index) const { return rows_[index]; }
    // Adds rows from `make` or removes the last ones until there are `count`.
    void resize(std::size_t count, const std::function<QWidget*()>& make);
    // The vertical padding each row has now.
    int padding() const { return current_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    int contentHeight() const;
    void fit();

    QVBoxLayout* layout_;
    std::vector<QWidget*> rows_;
    int horizontal_;
    int padding_;
    int minimumPadding_;
    int current_;
};

}  // namespace overview
}  // namespace corvalent

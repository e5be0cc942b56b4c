#pragma once

// One member process of the inspected group: its checkbox, icon, name, role
// and footprint, its ids and running time, why it is protected, and its
// executable path and working folder as selectable text. A row shows new
// figures in place, so a refresh neither rebuilds nor moves it.

#include <QLabel>
#include <QWidget>

#include <functional>
#include <string>

#include "ui/widgets/corvalent_style.h"

class QCheckBox;

namespace corvalent {

class ElidedLabel;
class ProcessIconStore;
class ProcessIconView;
struct ProcessGroup;
struct ProcessRecord;

namespace inspector {

// Plain text the mouse can select, wrapping at any character when a word
// (a long path) does not fit, in a tone read from the palette.
class SelectableText : public QLabel {
public:
    SelectableText(const QFont& font, Tone tone, QWidget* parent = nullptr);
    void setPlainText(const QString& text);
    QString plainText() const { return plain_; }

    QSize minimumSizeHint() const override;

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void applyTone();

    Tone tone_;
    QString plain_;
};

class MemberRow : public QWidget {
public:
    // `toggled(id, on)` asks for the process to join or leave the selection.
    MemberRow(ProcessIconStore& icons, std::function<void(const std::string&, bool)> toggled,
              QWidget* parent = nullptr);

    // Shows `record` of `group`; `nowSeconds` is the wall clock for its running time.
    void present(const ProcessRecord& record, const ProcessGroup& group, bool selected, double nowSeconds);

    const std::string& id() const { return id_; }
    QCheckBox& check() { return *check_; }
    QString name() const;
    QString role() const;
    QString memory() const;
    QString facts() const;
    // The protection reason; empty while the process may be stopped.
    QString reason() const;
    QString path() const { return path_->plainText(); }
    // Empty while the folder line is hidden.
    QString folder() const;
    const ProcessIconView& icon() const { return *icon_; }

private:
    QWidget* buildFacts();

    std::string id_;
    QCheckBox* check_;
    ProcessIconView* icon_;
    ElidedLabel* name_;
    ElidedLabel* role_;
    ElidedLabel* memory_;
    ElidedLabel* facts_;
    QWidget* protection_;
    ElidedLabel* reason_;
    SelectableText* path_;
    SelectableText* folder_;
};

}  // namespace inspector
}  // namespace corvalent

#pragma once

// The top of the access card: the drive with its open-lock badge, the title
// and the subtitle that wraps rather than truncating. The card paints the
// teal wash behind it.

#include <QWidget>

namespace corvalent {

class ElidedLabel;

class AccessHeader : public QWidget {
public:
    explicit AccessHeader(QWidget* parent = nullptr);

    QString title() const;
    QString subtitle() const;
    void setTexts(const QString& title, const QString& subtitle);
    // Folded for a short window: no icon, tighter margins.
    void setFolded(bool folded);
    bool folded() const { return folded_; }
    // The height folding gives back.
    int foldSaving() const;

private:
    bool folded_ = false;
    QWidget* icon_ = nullptr;
    ElidedLabel* title_ = nullptr;
    ElidedLabel* subtitle_ = nullptr;
};

}  // namespace corvalent

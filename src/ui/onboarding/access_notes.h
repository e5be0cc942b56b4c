#pragma once

// The small print under the card's middle: the privacy note, and the place
// where a failed reopen or verification explains itself.

#include <QStringList>
#include <QWidget>

#include <optional>

namespace corvalent {

class ElidedLabel;
class MessageLine;

// "Scans stay on your computer…" with its shield.
QWidget* privacyNote();

// The relaunch error, the verification error, then a home folder that did
// not open, each shown only while it has a text, in a warning colour that
// reads on either palette. While space is reserved the area keeps room for
// one message even when none shows, so that a message appearing does not
// move the card's buttons.
class AccessMessages : public QWidget {
public:
    explicit AccessMessages(QWidget* parent = nullptr);

    void setMessages(const std::optional<QString>& relaunchError, const std::optional<QString>& verificationError);
    // Says, after the other two, that no file manager opened the home
    // folder, and tells readers; false takes it away.
    void setOpenFailed(bool failed);
    void setReserved(bool reserved);
    // The messages shown, the relaunch error first.
    QStringList messages() const;

private:
    void fit();

    bool reserved_ = false;
    QWidget* relaunchRow_ = nullptr;
    ElidedLabel* relaunchText_ = nullptr;
    QWidget* verificationRow_ = nullptr;
    ElidedLabel* verificationText_ = nullptr;
    MessageLine* openFailed_ = nullptr;
};

}  // namespace corvalent

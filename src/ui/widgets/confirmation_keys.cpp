#include "ui/widgets/confirmation_keys.h"

#include <QDialog>
#include <QEvent>
#include <QPointer>

#include "ui/widgets/buttons.h"

namespace corvalent {
namespace {

// Gives `first` the focus whenever the sheet shows. The sheet is not active
// yet then, so the focus arrives as the window's first focus once it is.
class FirstFocus : public QObject {
public:
    FirstFocus(QDialog& sheet, QWidget& first) : QObject(&sheet), first_(&first) { sheet.installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Show && first_) first_->setFocus(Qt::OtherFocusReason);
        return QObject::eventFilter(watched, event);
    }

private:
    QPointer<QWidget> first_;
};

}  // namespace

void guardConfirmation(QDialog& sheet, Button& cancel, Button& action)
{
    // The kit's buttons take focus by Tab and are never a passing default.
    for (auto* button : {&cancel, &action}) button->setDefault(false);
    action.setIgnoresReturn(true);
    new FirstFocus(sheet, cancel);
}

}  // namespace corvalent

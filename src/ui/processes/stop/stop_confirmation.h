#pragma once

// The sheet that confirms a prepared stop: what will stop and how, then
// either back out or hand the request to the model. It is bound to one
// request by id: confirming does nothing once the model holds another
// request or none, so a replaced or dismissed request never stops anything.

#include <QDialog>
#include <QString>

#include <cstddef>

#include "models/vantle_model.h"

namespace corvalent {

class Button;

namespace StopTexts {

QString title(bool force);
// "1 selected process", "2 selected processes".
QString subtitle(std::size_t records);
QString methodNote(bool force);
// "Mail · PID 612".
QString recordLine(const ProcessRecord& record);
QString reassurance();
QString confirmTitle(bool force);

}  // namespace StopTexts

class StopConfirmation : public QDialog {
    Q_OBJECT

public:
    StopConfirmation(VantleModel& model, StopRequest request, QWidget* parent = nullptr);

    const QString& requestID() const { return request_.id; }
    Button& cancelButton() { return *cancel_; }
    Button& confirmButton() { return *confirm_; }

private:
    QWidget* buildHeader();
    QWidget* buildNote();
    QWidget* buildList();
    QWidget* buildReassurance();
    void confirm();

    VantleModel& model_;
    StopRequest request_;
    Button* cancel_ = nullptr;
    Button* confirm_ = nullptr;
};

}  // namespace corvalent

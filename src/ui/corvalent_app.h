#pragma once

// The application: the shared process model, the main window and the
// application-wide commands.

#include <QObject>
#include <QPointer>

#include <memory>

class QAction;
class QMainWindow;

namespace corvalent {

class VantleModel;

class CorvalentApp : public QObject {
    Q_OBJECT

public:
    CorvalentApp();
    ~CorvalentApp() override;

    // Created on first use and kept for the life of the application.
    VantleModel& model();
    QMainWindow& mainWindow();
    // Shows the main window, making it first when needed.
    void openMainWindow();

    // "Refresh" (Ctrl+R): posts the refresh notification.
    QAction& refreshAction() { return *refresh_; }

private:
    void firstShown();

    std::unique_ptr<VantleModel> model_;
    QPointer<QMainWindow> window_;
    QAction* refresh_ = nullptr;
    bool started_ = false;
};

// The program after its command-line check: returns the exit status.
int runApplication(int argc, char** argv);

}  // namespace corvalent

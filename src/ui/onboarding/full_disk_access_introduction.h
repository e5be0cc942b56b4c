#pragma once

// The first-use card that asks for read access to the person's folders: it
// explains the choice, shows the person their home folder, confirms access in
// this process and in a fresh one, and reopens the program when only a fresh
// process can see the new access. The overlay shows it over the part of the
// window it is given.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

#include "models/background_task.h"
#include "ui/onboarding/onboarding_flow.h"

class QAbstractButton;
class QHBoxLayout;
class QTimer;

namespace corvalent {

class AccessHeader;
class AccessMessages;
class Button;
class SetupSteps;

class FullDiskAccessIntroduction : public QWidget {
    Q_OBJECT

public:
    FullDiskAccessIntroduction(OnboardingEnvironment environment, std::function<void()> onClose,
                               QWidget* parent = nullptr);
    ~FullDiskAccessIntroduction() override;

    const FullDiskAccessFlow& flow() const { return flow_; }
    QString title() const;
    QString subtitle() const;
    QString statusLabel() const;
    QString setupDetail() const;
    // The texts of the visible buttons, left to right.
    QStringList buttonTexts() const;
    // The visible button with this text, or null.
    QAbstractButton* button(const QString& text) const;
    // The spinner or the lock, whichever shows.
    QWidget* statusIndicator() const;
    // The error messages shown, the relaunch error first.
    QStringList messages() const;
    // A check, a verification or the folder's opener is still running.
    bool busy() const;
    // The setup steps show rather than the two choices.
    bool showsSetupSteps() const;
    // Closed for good: the owner is taking it away.
    bool closed() const { return closed_; }
    // The old region is still fading out over the new one.
    bool crossFading() const { return !fadeCover_.isNull(); }
    // Its height for its fixed width, folded to fit `room` when the whole
    // card would not.
    int fitHeight(int room);
    bool folded() const;
    // Keyboard focus to the card, named by its title, as a dialog takes it
    // when it opens: Return presses the prominent button, Tab goes on to the
    // first button.
    void takeFocus();

public slots:
    // The application came to the front again, as after a visit to the settings.
    void applicationBecameActive();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QWidget* buildBody();
    QHBoxLayout* buildActions();
    void sync();
    void swapRegions();

    void refreshAccessStatus(bool finishIfGranted, std::function<void()> then = {});
    // A probe's answer applied; true when it closed the card.
    bool applyAccessStatus(FullDiskAccessStatus status, bool finishIfGranted);
    void verifyAccessAfterFocus();
    void verifyFreshProcessAccess(bool reportFailure);
    void relaunch();
    void setUp();
    void openSettingsAgain();
    void chooseLimitedScanning();
    void pressPrimary();
    // Nothing opened: carry on as if the person came back from it.
    void openSettingsOrVerify();
    void finish();

    OnboardingEnvironment environment_;
    std::function<void()> onClose_;
    FullDiskAccessFlow flow_;
    bool started_ = false;
    bool closed_ = false;
    bool showingSetup_ = false;
    bool focusLent_ = false;  // the prominent button's focus parked on Open Home Folder
    std::uint64_t probeGeneration_ = 0;
    std::uint64_t openGeneration_ = 0;
    BackgroundTask probeTask_;
    BackgroundTask verifyTask_;
    BackgroundTask openTask_;
    std::string reopenProgram_;  // worked out by the verification that offers Reopen
    QTimer* recheck_ = nullptr;

    AccessHeader* header_ = nullptr;
    QWidget* choices_ = nullptr;
    SetupSteps* setupSteps_ = nullptr;
    QPointer<QWidget> fadeCover_;
    AccessMessages* messages_ = nullptr;
    Button* limited_ = nullptr;
    Button* openSettings_ = nullptr;
    Button* primary_ = nullptr;
};

// The card over a dimmed area: the scrim covers exactly the rect its owner
// gives it and takes every click there, doing nothing, and the card stays
// centred in it. While it shows, keyboard focus stays inside the card.
class FullDiskAccessOverlay : public QWidget {
    Q_OBJECT

public:
    FullDiskAccessOverlay(OnboardingEnvironment environment, std::function<void()> onClose, QWidget* parent);

    FullDiskAccessIntroduction& card() const { return *card_; }

protected:
    bool event(QEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void placeCard();

    FullDiskAccessIntroduction* card_ = nullptr;
    QPointer<QWidget> lastFocus_;
};

}  // namespace corvalent

#pragma once

// The first-use card that asks for Full Disk Access: it explains the choice,
// shows the person their home folder, confirms access in this process and
// in a fresh one, and reopens the program when only a fresh process can see
// the new access. The overlay shows it over the window.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <optional>

#include "models/background_task.h"
#include "models/full_disk_access.h"
#include "ui/widgets/corvalent_style.h"

class QAbstractButton;
class QHBoxLayout;

namespace corvalent {

// Everything the card does outside itself, so that tests can stand in.
struct OnboardingEnvironment {
    std::function<FullDiskAccessStatus()> probe;        // in-process check; blocking, run in the pool
    std::function<FullDiskAccessStatus()> verifyFresh;  // fresh-process check; blocking, run in the pool
    std::function<bool()> openSettings;                 // false: nothing could be opened
    // Starts a new instance: an error's description, or nullopt once started.
    std::function<std::optional<QString>()> relaunch;
    std::function<void()> exitProcess;

    // The real checks; a new instance of this executable; exit status 0.
    // `openSettings` answers false until the owner supplies the real one.
    static OnboardingEnvironment system();
};

// What the card knows; every text and button follows from it.
struct FullDiskAccessFlow {
    bool hasOpenedSettings = false;
    FullDiskAccessStatus accessStatus = FullDiskAccessStatus::checking;
    bool isRelaunching = false;
    std::optional<QString> relaunchError;
    bool hasVerifiedFreshAccess = false;
    bool isVerifyingFreshAccess = false;
    std::optional<QString> accessVerificationError;
};

QString accessTitle(const FullDiskAccessFlow& flow);
QString accessSubtitle(const FullDiskAccessFlow& flow);
QString accessStatusLabel(const FullDiskAccessFlow& flow);
QString setupDetail(const FullDiskAccessFlow& flow);
// Granted here, or seen by a fresh process.
bool accessConfirmed(const FullDiskAccessFlow& flow);

enum class OnboardingAction { setUp, continueAfterGrant, verify, relaunch };

// The one prominent button: what it says and does, and whether it can be pressed.
struct OnboardingPrimaryButton {
    OnboardingAction action;
    QString text;
    QString symbol;  // empty: none
    bool enabled;
};
OnboardingPrimaryButton primaryButton(const FullDiskAccessFlow& flow);

class Button;
class ElidedLabel;
class Spinner;
class Switch;
class SymbolView;

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
    // The spinner or the switch, whichever shows.
    QWidget* statusIndicator() const;
    // The error messages shown, the relaunch error first.
    QStringList messages() const;
    // A check or a verification is still running.
    bool busy() const;
    // The setup steps show rather than the two choices.
    bool showsSetupSteps() const;
    // The old region is still fading out over the new one.
    bool crossFading() const { return !fadeCover_.isNull(); }

public slots:
    // The application came to the front again, as after a visit to the settings.
    void applicationBecameActive();

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // One of the two ways to scan, as the card compares them.
    struct Choice {
        QString symbol;
        Tone symbolTone;
        QString title;
        bool recommended;
        QString detail;
        Tone fill;
        Tone outline;
    };

    void build();
    QWidget* buildHeader();
    QWidget* buildChoice(const Choice& choice);
    QWidget* buildChoices();
    QWidget* buildSetupSteps();
    QHBoxLayout* buildActions();
    void sync();
    void swapRegions();

    void refreshAccessStatus(bool finishIfGranted, std::function<void()> then = {});
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
    std::uint64_t probeGeneration_ = 0;
    BackgroundTask probeTask_;
    BackgroundTask verifyTask_;

    QWidget* header_ = nullptr;
    ElidedLabel* title_ = nullptr;
    ElidedLabel* subtitle_ = nullptr;
    QWidget* middle_ = nullptr;
    QWidget* choices_ = nullptr;
    QWidget* setupSteps_ = nullptr;
    QPointer<QWidget> fadeCover_;
    ElidedLabel* status_ = nullptr;
    Spinner* spinner_ = nullptr;
    Switch* switch_ = nullptr;
    SymbolView* hintSymbol_ = nullptr;
    ElidedLabel* detail_ = nullptr;
    QWidget* relaunchErrorRow_ = nullptr;
    ElidedLabel* relaunchErrorText_ = nullptr;
    QWidget* verificationErrorRow_ = nullptr;
    ElidedLabel* verificationErrorText_ = nullptr;
    Button* limited_ = nullptr;
    Button* openSettings_ = nullptr;
    Button* primary_ = nullptr;
};

// The card over a dimmed window: the scrim takes every click and does
// nothing, and the card stays centred as the parent resizes.
class FullDiskAccessOverlay : public QWidget {
    Q_OBJECT

public:
    FullDiskAccessOverlay(OnboardingEnvironment environment, std::function<void()> onClose, QWidget* parent);

    FullDiskAccessIntroduction& card() const { return *card_; }

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void placeCard();

    FullDiskAccessIntroduction* card_ = nullptr;
};

}  // namespace corvalent

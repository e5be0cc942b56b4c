#pragma once

// What the access introduction knows and the rules that turn it into texts
// and the one prominent button, kept apart from the widgets so that every
// state can be asked for directly.

#include <QString>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "models/full_disk_access.h"

namespace corvalent {

// Everything the card does outside itself, so that tests can stand in.
struct OnboardingEnvironment {
    std::function<FullDiskAccessStatus()> probe;        // the check as this program sees it; blocking, run in the pool
    std::function<FullDiskAccessStatus()> verifyFresh;  // fresh-process check; blocking, run in the pool
    std::function<bool()> openSettings;                 // false: nothing could be opened; blocking, run in the pool
    // The program a new instance runs (empty: none found); blocking, run in
    // the pool when the card comes to offer Reopen.
    std::function<std::string()> programPath;
    // Starts `program` as a new instance: an error's description, or nullopt
    // once started. On the GUI thread: it never looks the program up.
    std::function<std::optional<QString>(const std::string& program)> relaunch;
    std::function<void()> exitProcess;
    // How long the card waits for the program to come back to the front
    // after `openSettings` before it checks by itself: an opener may start
    // and show nothing in front.
    std::chrono::milliseconds recheckAfter = std::chrono::seconds(3);

    // `check` for both checks: the program's one access check, which its
    // owner makes and hands to every user of it. The program as installed
    // for a new instance; exit status 0. `openSettings` answers false until
    // the owner supplies the real one.
    static OnboardingEnvironment system(std::function<FullDiskAccessStatus()> check);
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
// A check is under way: the status shows a spinner rather than the lock.
bool accessChecking(const FullDiskAccessFlow& flow);
// Why a verification the person asked for did not confirm access.
QString verificationFailure(FullDiskAccessStatus status);
// What the window says when no file manager opened the home folder.
QString homeFolderNotOpened();

enum class OnboardingAction { setUp, continueAfterGrant, verify, relaunch };

// The one prominent button: what it says and does, and whether it can be pressed.
struct OnboardingPrimaryButton {
    OnboardingAction action;
    QString text;
    QString symbol;  // empty: none
    bool enabled;
};
OnboardingPrimaryButton primaryButton(const FullDiskAccessFlow& flow);

}  // namespace corvalent

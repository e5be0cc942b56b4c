#include "ui/onboarding/onboarding_flow.h"

#include <QCoreApplication>
#include <QFile>

#include "core/common/program_start.h"

namespace corvalent {

bool accessConfirmed(const FullDiskAccessFlow& flow)
{
    return flow.accessStatus == FullDiskAccessStatus::granted || flow.hasVerifiedFreshAccess;
}

bool accessChecking(const FullDiskAccessFlow& flow)
{
    return flow.accessStatus == FullDiskAccessStatus::checking || flow.isVerifyingFreshAccess;
}

QString accessTitle(const FullDiskAccessFlow& flow)
{
    if (flow.accessStatus == FullDiskAccessStatus::granted) return QStringLiteral("Folder access is ready");
    if (flow.hasVerifiedFreshAccess) return QStringLiteral("Folder access confirmed");
    if (flow.hasOpenedSettings) return QStringLiteral("Check your folder permissions");
    return QStringLiteral("See what is using your space");
}

QString accessSubtitle(const FullDiskAccessFlow& flow)
{
    if (flow.accessStatus == FullDiskAccessStatus::granted)
        return QStringLiteral("Access confirmed. Corvalent can include protected folders in disk maps.");
    if (flow.hasVerifiedFreshAccess)
        return QStringLiteral("Reopen Corvalent once so the main app can use the confirmed access.");
    if (flow.hasOpenedSettings)
        return QStringLiteral(
            "Corvalent reads your folders directly; nothing needs switching on. Check their "
            "permissions, then verify below.");
    return QStringLiteral("Folder access lets Corvalent build a complete, accurate storage map.");
}

QString accessStatusLabel(const FullDiskAccessFlow& flow)
{
    if (flow.isVerifyingFreshAccess) return QStringLiteral("Verifying in a fresh process\u2026");
    if (flow.hasVerifiedFreshAccess && flow.accessStatus != FullDiskAccessStatus::granted)
        return QStringLiteral("Folder access confirmed \u00b7 restart required");
    switch (flow.accessStatus) {
    case FullDiskAccessStatus::checking: return QStringLiteral("Checking access\u2026");
    case FullDiskAccessStatus::granted: return QStringLiteral("Folder access confirmed");
    case FullDiskAccessStatus::denied: return QStringLiteral("Folder access not detected");
    case FullDiskAccessStatus::unavailable: break;
    }
    return QStringLiteral("Unable to verify access");
}

QString setupDetail(const FullDiskAccessFlow& flow)
{
    if (flow.accessStatus == FullDiskAccessStatus::granted)
        return QStringLiteral("Verified by reading protected folder metadata. File contents remain unopened.");
    if (flow.hasVerifiedFreshAccess)
        return QStringLiteral(
            "A fresh Corvalent process verified protected-folder access. Reopen the main app to apply it.");
    if (flow.accessStatus == FullDiskAccessStatus::denied)
        return QStringLiteral(
            "Your folders\u2019 permissions on this computer refuse reading. Check that your account "
            "owns them and may read and open them.");
    return QStringLiteral(
        "Nothing needs switching on: Corvalent reads your home, Desktop, Documents and Downloads "
        "folders directly.");
}

QString verificationFailure(FullDiskAccessStatus status)
{
    if (status == FullDiskAccessStatus::denied)
        return QStringLiteral(
            "Your folders\u2019 permissions still refuse reading. Check their owner and permissions, "
            "then verify again.");
    return QStringLiteral("Corvalent could not verify access. Check that your home folder exists, then try again.");
}

QString homeFolderNotOpened()
{
    return QStringLiteral("No file manager could open the home folder.");
}

OnboardingPrimaryButton primaryButton(const FullDiskAccessFlow& flow)
{
    const bool checking = flow.accessStatus == FullDiskAccessStatus::checking;
    if (!flow.hasOpenedSettings) return {OnboardingAction::setUp, QStringLiteral("Set Up Folder Access"), {}, true};
    if (flow.accessStatus == FullDiskAccessStatus::granted)
        return {OnboardingAction::continueAfterGrant, QStringLiteral("Continue"), QStringLiteral("checkmark"), true};
    if (!flow.hasVerifiedFreshAccess)
        return {
            OnboardingAction::verify,
            flow.isVerifyingFreshAccess ? QStringLiteral("Verifying Access\u2026") : QStringLiteral("Verify Access"),
            QStringLiteral("checkmark.shield"), !checking && !flow.isVerifyingFreshAccess};
    return {
        OnboardingAction::relaunch,
        flow.isRelaunching ? QStringLiteral("Reopening Corvalent\u2026") : QStringLiteral("Quit & Reopen Corvalent"),
        QStringLiteral("arrow.triangle.2.circlepath"), !checking && !flow.isRelaunching};
}

OnboardingEnvironment OnboardingEnvironment::system(std::function<FullDiskAccessStatus()> check)
{
    OnboardingEnvironment environment;
    // Both ask a fresh process: this one never looks at the folders itself.
    environment.probe = check;
    environment.verifyFresh = std::move(check);
    environment.openSettings = [] { return false; };
    // The program as installed: its file, even when started through a link,
    // or what its name starts once an upgrade removed that file.
    environment.programPath = [] { return FullDiskAccessVerifier::programPath(); };
    environment.relaunch = [](const std::string& program) -> std::optional<QString> {
        if (program.empty()) return QStringLiteral("its program file could not be found.");
        // A path: nothing is looked up, the start is over at once.
        switch (startProgram({program})) {
        case ProgramStart::started: return std::nullopt;
        case ProgramStart::notFound:
            return QStringLiteral("“%1” could not be started.").arg(QFile::decodeName(QByteArray::fromStdString(program)));
        default: return QStringLiteral("no new process could be started.");
        }
    };
    // Quits as Quit does: the instance is let go first, and no thread is joined.
    environment.exitProcess = [] { QCoreApplication::exit(0); };
    return environment;
}

}  // namespace corvalent

#pragma once

// Whether this program may read the privacy-protected folders, asked of a
// fresh process of its own (a folder may lie on a share that does not answer,
// and a thread caught there would keep this program from ever ending), and
// the reset of the access preferences when
// the program runs under another signing identity.

#include <QString>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "core/common/child_process.h"

namespace corvalent {

class Preferences;

enum class FullDiskAccessStatus { checking, granted, denied, unavailable };

namespace FullDiskAccessProbe {

// The folders the probe opens, in order: the person's Desktop, Documents and
// Downloads folders as the desktop names them (user-dirs.dirs, so localized
// or moved ones count), each only when it exists and is not the home folder
// itself or above it, then the home folder: the places and the home a scan's
// privacy rule uses (DiskScanner::privacyProtectedFolders).
std::vector<std::string> probeFolders();

// Opens each probe folder and closes it at once, reading no entry: the first
// that opens answers granted, and the folders after it are not looked at (a
// Documents folder on a share that does not answer holds the check only when
// no Desktop folder before it opened); a refusal (EPERM, EACCES) makes the
// answer denied unless a later one opens; otherwise unavailable. Called only
// in the check's own process (the "--full-disk-access-check" flag).
FullDiskAccessStatus currentStatus();

// The exit status the check flag answers with: 0 granted, 2 denied, 3 otherwise.
int exitStatus(FullDiskAccessStatus status);

}  // namespace FullDiskAccessProbe

namespace FullDiskAccessVerifier {

// The program a new start of it as installed runs: this program's file,
// links resolved, or the new file once an upgrade has replaced it at its
// place. Where the upgrade removed it, the name the program was started by,
// else the installed name, found as a shell finds them (a shell asked
// within a bound). Empty when none of them is there. Blocking for at most
// about three seconds: call it off the GUI thread.
std::string programPath();

// How long a check in a fresh process may take; later it answers unavailable.
inline constexpr std::chrono::milliseconds checkLimit{2'000};

// Runs this program (or `program`) again with "--full-disk-access-check" and
// reads its exit status. Blocking: call it off the GUI thread. A child that
// runs longer than `limit` is ended and the answer is unavailable; one caught
// on a share that does not answer cannot be ended and is left to end by itself.
FullDiskAccessStatus checkInFreshProcess(std::chrono::milliseconds limit = checkLimit,
                                         std::string program = std::string(thisProgram));

// The check a window asks again and again (when it opens, whenever the
// program comes to the front), each time in a fresh process as above. One
// process at a time: a call made while another runs waits for it first.
// While a child of an earlier call is still caught on a share that does not
// answer, no other is started and the answer is unavailable; once it has
// ended, the next call asks again. No thread of this program looks at the
// folders. Blocking for at most twice `limit`.
std::function<FullDiskAccessStatus()> repeatedCheck(std::chrono::milliseconds limit = checkLimit,
                                                    std::string program = std::string(thisProgram));

}  // namespace FullDiskAccessVerifier

namespace DiskAccessPreference {

// The identity under which the access preferences were set; this build is
// never code-signed.
QString currentSigningIdentity();

// Resets "includePrivacyProtectedLocations" and "hasSeenFullDiskAccessIntroduction"
// when the stored identity is missing or differs, and stores the current one.
void migrateSigningIdentityIfNeeded(Preferences& preferences);

}  // namespace DiskAccessPreference
}  // namespace corvalent

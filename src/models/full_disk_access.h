#pragma once

// Whether this program may read the privacy-protected folders, asked in this
// process or in a fresh one, and the reset of the access preferences when
// the program runs under another signing identity.

#include <QString>

#include <chrono>
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
// that opens answers granted; a refusal (EPERM, EACCES) makes the answer
// denied unless a later one opens; otherwise unavailable.
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
// about three seconds.
std::string programPath();

// Runs this program (or `program`) again with "--full-disk-access-check" and
// reads its exit status. Blocking: call it off the GUI thread. A child that
// runs longer than `limit` is ended and the answer is unavailable.
FullDiskAccessStatus checkInFreshProcess(std::chrono::milliseconds limit = std::chrono::seconds(10),
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

#pragma once

// The privacy-protected folders a walk leaves out unless asked to include
// them: nine fixed places below the account's home folder, and the desktop's
// own Desktop, Documents and Downloads folders, wherever the user put them.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace corvalent {

// Where the privacy-protected folders are: below one home folder, and the
// desktop's own, exactly as named.
struct PLPrivacyFolders {
    std::string home;  // none below it when empty or "/"
    std::vector<std::string> desktopFolders;
};

// 1 when `path` is one of the home folder's privacy-protected folders, or is
// exactly one of the desktop's, and is not the scan root itself; else 0.
std::int32_t pl_should_skip_privacy_path(const char* root, const char* path, const PLPrivacyFolders& folders);

// How many components a path has ("/home/ana" has two).
std::size_t pathComponents(std::string_view path);

// The most components a path the privacy rule leaves out can have: two
// below the home folder, or one of the desktop's folders.
std::size_t privacyRuleDepth(const PLPrivacyFolders& folders);

}  // namespace corvalent

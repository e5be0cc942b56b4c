#pragma once

// Installed applications on this desktop, read from the XDG applications
// folders: which executable paths belong to which application, its title and
// its icon. Linux has no application bundles; an entry's program folder (or
// the program itself, when it sits in a folder shared by many programs)
// stands for one.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace corvalent {

// Where entries and programs are looked up, each list in precedence order.
struct ApplicationPlaces {
    std::vector<std::string> applicationFolders;  // $XDG_DATA_HOME/applications, then each of $XDG_DATA_DIRS
    std::vector<std::string> searchPath;          // $PATH
    std::vector<std::string> sharedFolders;       // folders holding many programs, $PATH's included

    // From the process environment; read once, then handed on as a value.
    // Folders on a network share or a FUSE mount are left out of the first
    // two lists: looking there could hold the looking thread for good.
    static ApplicationPlaces fromEnvironment();
};

// One installed application.
struct InstalledApplication {
    std::string location;  // its program folder, or the program file in a shared folder
    std::string title;     // the entry's Name
    std::string icon;      // the entry's Icon, "" when it has none
    std::string id;        // the entry's id ("org.example.App.desktop")
    bool operator==(const InstalledApplication&) const = default;
};

// An immutable index of the installed applications by location.
class ApplicationIndex {
public:
    ApplicationIndex() = default;  // knows no application

    static ApplicationIndex build(const ApplicationPlaces& places);
    // Changes whenever an applications folder is added, removed or changes
    // (its modification time); cheap enough for a periodic check.
    static std::uint64_t stamp(const ApplicationPlaces& places);

    // The application whose location holds `executable` (the longest one),
    // or none.
    const InstalledApplication* locate(std::string_view executable) const;
    // The stamp of the folders when the index was built; 0 for an empty index.
    std::uint64_t builtStamp() const { return stamp_; }
    std::size_t size() const { return byLocation_.size(); }

private:
    std::unordered_map<std::string, InstalledApplication> byLocation_;
    std::uint64_t stamp_ = 0;
};

// The groups of a key file, the format of desktop entries and of icon theme
// indexes, by name; each group's unlocalised keys ("Name", not "Name[de]"),
// the first of a repeated key counting, values with the string escapes
// ("\s", "\n", "\t", "\r", "\\") decoded.
using KeyFileGroup = std::map<std::string, std::string, std::less<>>;
using KeyFile = std::map<std::string, KeyFileGroup, std::less<>>;

namespace DesktopEntries {

// The one reader of key files; empty when `path` cannot be read.
KeyFile readKeyFile(const std::string& path);

// The words of an Exec value (already unescaped as a string): quoting undone,
// field codes ("%f", "%U", …) dropped, "%%" kept as "%".
std::vector<std::string> execArguments(std::string_view exec);

// $XDG_DATA_HOME, else ~/.local/share.
std::string userDataHome();

// Where the Flatpak application `appId` is installed: the user's installation
// below `userDataHome` when it holds the application, else the system's.
std::string flatpakInstallation(std::string_view appId, const std::string& userDataHome);

}  // namespace DesktopEntries

}  // namespace corvalent

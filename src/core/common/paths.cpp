#include "core/common/paths.h"

#include <QString>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "bridge/process_bridge.h"

namespace corvalent::Paths {
namespace {

constexpr std::string_view ownTrashPrefix = ".Trash-";
// A home's Trash below the home: <home>/.local/share/Trash.
constexpr std::array<std::string_view, 3> homeTrashLayout{".local", "share", "Trash"};

// ".Trash" (the shared folder and, below it, every user's), or ".Trash-<uid>".
bool isTrashFolderName(std::string_view name)
{
    if (name == sharedTrashName) return true;
    if (!name.starts_with(ownTrashPrefix) || name.size() == ownTrashPrefix.size()) return false;
    const auto uid = name.substr(ownTrashPrefix.size());
    return std::all_of(uid.begin(), uid.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string underTop(std::string_view top)
{
    return top == "/" ? std::string() : std::string(top);
}

}  // namespace

std::string standardized(std::string_view path)
{
    std::filesystem::path full(path);
    if (full.is_relative()) {
        std::error_code error;
        full = std::filesystem::current_path(error) / full;
    }
    auto text = full.lexically_normal().string();
    while (text.size() > 1 && text.back() == '/') text.pop_back();
    return text.empty() ? std::string("/") : text;
}

std::string homeFolder()
{
    const char* home = std::getenv("HOME");
    return standardized(home != nullptr && home[0] != '\0' ? home : pl_account_home());
}

std::pair<std::string, std::string> folderAndName(std::string_view path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string_view::npos) return {".", std::string(path)};
    return {slash == 0 ? std::string("/") : std::string(path.substr(0, slash)), std::string(path.substr(slash + 1))};
}

bool isBelow(std::string_view path, std::string_view folder)
{
    return path.size() > folder.size() && isAtOrBelow(path, folder);
}

std::string lowerCased(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())).toLower().toStdString();
}

std::string homeTrash(std::string_view home)
{
    // A relative XDG_DATA_HOME is invalid and ignored, as the base-directory rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/') return standardized(std::string(dataHome) + "/Trash");
    return standardized(std::string(home) + "/.local/share/Trash");
}

std::string homeTrash()
{
    return homeTrash(homeFolder());
}

std::string sharedTrashFolder(std::string_view top, uid_t uid)
{
    return underTop(top) + "/" + std::string(sharedTrashName) + "/" + std::to_string(uid);
}

std::string ownTrashFolder(std::string_view top, uid_t uid)
{
    return underTop(top) + "/" + std::string(ownTrashPrefix) + std::to_string(uid);
}

std::string resolved(std::string_view path)
{
    std::error_code error;
    const auto real = std::filesystem::weakly_canonical(standardized(path), error);
    return error ? standardized(path) : standardized(real.string());
}

Home::Home(std::string_view named)
    : named_(standardized(named)), real_(resolved(named_)), trash_(homeTrash(named_)), realTrash_(resolved(trash_))
{
    const auto identity = [](const std::string& folder) -> std::optional<std::pair<std::uint64_t, std::uint64_t>> {
        struct stat info {};
        if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return std::nullopt;
        return std::pair(static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino));
    };
    trashInode_ = identity(realTrash_);
    if (trashInode_) trashFilesInode_ = identity(realTrash_ + "/files");
}

Home Home::current()
{
    return Home(homeFolder());
}

std::optional<std::string_view> Home::within(std::string_view path) const
{
    for (const std::string_view home : {named_, real_}) {
        if (path == home) return path.substr(path.size());
        if (home != "/" && Paths::isAtOrBelow(path, home)) return path.substr(home.size());
    }
    return std::nullopt;
}

std::string Home::realSpelling(std::string_view path) const
{
    const auto rest = within(path);
    if (!rest) return std::string(path);
    return rest->empty() || real_ != "/" ? real_ + std::string(*rest) : std::string(*rest);
}

bool Home::holdsInTrash(std::string_view path) const
{
    return Paths::isAtOrBelow(path, trash_) || Paths::isAtOrBelow(path, realTrash_);
}

bool Home::isAtOrBelow(std::string_view folder) const
{
    return Paths::isAtOrBelow(named_, folder) || Paths::isAtOrBelow(real_, folder);
}

bool Home::isTrash(std::uint64_t device, std::uint64_t inode) const
{
    const auto wanted = std::pair(device, inode);
    return trashInode_ == wanted || trashFilesInode_ == wanted;
}

bool isInTrash(std::string_view path, const Home& home)
{
    if (home.holdsInTrash(path)) return true;
    // The last three components met, to find a home's Trash below any home.
    std::array<std::string_view, 3> last{};
    std::size_t at = 0;
    while (at < path.size()) {
        auto end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        const auto name = path.substr(at, end - at);
        if (isTrashFolderName(name)) return true;
        last = {last[1], last[2], name};
        if (last == homeTrashLayout) return true;
        at = end + 1;
    }
    return false;
}

bool isInTrash(std::string_view path, const Home& home, const std::vector<std::string>& trashFolders)
{
    return isInTrash(path, home) || std::any_of(trashFolders.begin(), trashFolders.end(), [&](const std::string& folder) {
               return Paths::isAtOrBelow(path, folder);
           });
}

}  // namespace corvalent::Paths

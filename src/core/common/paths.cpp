#include "core/common/paths.h"

#include <QString>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>

#include "bridge/process_bridge.h"

namespace corvalent::Paths {
namespace {

constexpr std::string_view ownTrashPrefix = ".Trash-";

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
    struct stat info {};
    if (::lstat(realTrash_.c_str(), &info) == 0 && S_ISDIR(info.st_mode))
        trashInode_.emplace(static_cast<std::uint64_t>(info.st_dev), static_cast<std::uint64_t>(info.st_ino));
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
    return trashInode_ == std::pair(device, inode);
}

bool isInTrash(std::string_view path, const Home& home)
{
    if (home.holdsInTrash(path)) return true;
    std::size_t at = 0;
    while (at < path.size()) {
        auto end = path.find('/', at);
        if (end == std::string_view::npos) end = path.size();
        if (isTrashFolderName(path.substr(at, end - at))) return true;
        at = end + 1;
    }
    return false;
}

}  // namespace corvalent::Paths

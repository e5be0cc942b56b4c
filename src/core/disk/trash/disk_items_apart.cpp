#include "core/disk/trash/disk_items_apart.h"

#include <array>
#include <cerrno>
#include <charconv>
#include <exception>
#include <unistd.h>

namespace corvalent::DiskItemsApart {
namespace {

// Path text given to one helper at most: the kernel limits a program's
// arguments, and a set of many copies is asked of helpers in turn.
constexpr std::size_t argumentBudget = 128 * 1'024;

// Every number of the record, so that the caller describes the item from it
// as it would from its own lstat.
template <typename Stat, typename Visit>
void eachField(Stat& info, Visit&& visit)
{
    visit(info.st_dev);
    visit(info.st_ino);
    visit(info.st_mode);
    visit(info.st_nlink);
    visit(info.st_uid);
    visit(info.st_gid);
    visit(info.st_rdev);
    visit(info.st_size);
    visit(info.st_blksize);
    visit(info.st_blocks);
    visit(info.st_atim.tv_sec);
    visit(info.st_atim.tv_nsec);
    visit(info.st_mtim.tv_sec);
    visit(info.st_mtim.tv_nsec);
    visit(info.st_ctim.tv_sec);
    visit(info.st_ctim.tv_nsec);
}

// An answer is "-" (nothing there) or "=" and the numbers, each followed by
// a space; a NUL ends it.
std::optional<Found> decodeOne(std::string_view record)
{
    if (record == "-") return Found{};
    if (!record.starts_with('=')) return std::nullopt;
    record.remove_prefix(1);
    struct stat info {};
    bool whole = true;
    eachField(info, [&](auto& field) {
        const auto space = record.find(' ');
        if (!whole || space == std::string_view::npos) {
            whole = false;
            return;
        }
        const auto [end, error] = std::from_chars(record.data(), record.data() + space, field);
        whole = error == std::errc() && end == record.data() + space;
        record.remove_prefix(space + 1);
    });
    if (!whole || !record.empty()) return std::nullopt;
    return Found{info};
}

bool writeAll(std::string_view text)
{
    while (!text.empty()) {
        const auto written = ::write(STDOUT_FILENO, text.data(), text.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        text.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

std::string encode(const Found& found)
{
    if (!found) return std::string("-") + '\0';
    std::string out = "=";
    eachField(*found, [&out](const auto& field) {
        std::array<char, 24> digits{};
        const auto end = std::to_chars(digits.data(), digits.data() + digits.size(), field).ptr;
        out.append(digits.data(), end).push_back(' ');
    });
    out.push_back('\0');
    return out;
}

std::vector<Found> decode(std::string_view output)
{
    std::vector<Found> answers;
    for (auto end = output.find('\0'); end != std::string_view::npos; end = output.find('\0')) {
        const auto answer = decodeOne(output.substr(0, end));
        // What follows a garbled answer is not trusted either.
        if (!answer) break;
        answers.push_back(*answer);
        output.remove_prefix(end + 1);
    }
    return answers;
}

std::vector<Found> examine(const std::vector<std::string>& paths, std::chrono::milliseconds limit,
                           const std::string& program)
{
    using Clock = std::chrono::steady_clock;
    const auto until = Clock::now() + limit;
    std::vector<Found> found;
    std::size_t next = 0;
    while (next < paths.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left <= std::chrono::milliseconds::zero()) break;
        ChildRunRequest request;
        request.executable = program;
        request.arguments = {std::string(helperFlag)};
        for (std::size_t text = 0;
             next < paths.size() && (request.arguments.size() == 1 || text + paths[next].size() < argumentBudget);
             ++next) {
            text += paths[next].size() + 1;
            request.arguments.push_back(paths[next]);
        }
        const auto asked = request.arguments.size() - 1;
        request.outputCap = asked * 512 + 64;
        request.deadline = left;
        request.killGrace = std::chrono::milliseconds(100);
        auto answers = decode(runChild(request).output);
        if (answers.size() > asked) answers.resize(asked);
        found.insert(found.end(), answers.begin(), answers.end());
        if (answers.size() < asked) break;
    }
    return found;
}

int print(int count, char** paths, const std::function<struct stat(const std::string&)>& look)
{
    for (int i = 0; i < count; ++i) {
        Found found;
        try {
            found = look(paths[i]);
        } catch (const std::exception&) {
        }
        // One answer at a time: should a later path hold the helper, the
        // caller still has the answers before it.
        if (!writeAll(encode(found))) return 1;
    }
    return 0;
}

}  // namespace corvalent::DiskItemsApart

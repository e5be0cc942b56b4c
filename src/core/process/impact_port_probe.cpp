#include "core/process/impact_port_probe.h"

#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <set>

#include "core/common/child_process.h"
#include "core/common/utf8.h"

namespace corvalent::ImpactPortProbe {
namespace {

// Enough for a selection someone reviews; keeps lsof's run short.
constexpr std::size_t recordLimit = 12;
constexpr std::array<const char*, 2> lsofLocations{"/usr/sbin/lsof", "/usr/bin/lsof"};

std::string lsofPath()
{
    for (const char* path : lsofLocations) {
        struct stat status {};
        if (::stat(path, &status) == 0 && S_ISREG(status.st_mode) && ::access(path, X_OK) == 0) return path;
    }
    return {};
}

// Bytes of the line break starting at `at`, 0 when none starts there.
std::size_t lineBreakLength(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return i < text.size() ? static_cast<unsigned char>(text[i]) : 0U; };
    switch (byte(at)) {
        case '\n':
        case '\v':
        case '\f': return 1;
        case '\r': return byte(at + 1) == '\n' ? 2 : 1;
        case 0xC2:  // NEL
            return byte(at + 1) == 0x85 ? 2 : 0;
        case 0xE2:  // LINE SEPARATOR, PARAGRAPH SEPARATOR
            return byte(at + 1) == 0x80 && (byte(at + 2) == 0xA8 || byte(at + 2) == 0xA9) ? 3 : 0;
        default: return 0;
    }
}

template <typename Number>
std::optional<Number> wholeNumber(std::string_view text)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// "*:80", "127.0.0.1:631", "[::1]:443" -> the port; "*:*" -> none.
std::optional<int> port(std::string_view address)
{
    const auto colon = address.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    const auto number = wholeNumber<long long>(address.substr(colon + 1));
    if (!number || *number < 1 || *number > 65'535) return std::nullopt;
    return static_cast<int>(*number);
}

}  // namespace

PortMap parse(std::string_view output)
{
    std::map<std::int32_t, std::set<int>> found;
    std::optional<std::int32_t> pid;
    const auto take = [&](std::string_view line) {
        if (line.empty()) return;
        const auto value = line.substr(1);
        if (line.front() == 'p') {
            pid = wholeNumber<std::int32_t>(value);
        } else if (line.front() == 'n' && pid) {
            if (const auto number = port(value)) found[*pid].insert(*number);
        }
    };

    std::size_t lineStart = 0;
    for (std::size_t at = 0; at < output.size();) {
        if (const auto length = lineBreakLength(output, at)) {
            take(output.substr(lineStart, at - lineStart));
            at += length;
            lineStart = at;
        } else {
            ++at;
        }
    }
    take(output.substr(lineStart));

    PortMap ports;
    for (const auto& [owner, numbers] : found) ports.emplace(owner, std::vector<int>(numbers.begin(), numbers.end()));
    return ports;
}

PortMap listeningPorts(const std::vector<ProcessRecord>& records)
{
    return listeningPorts(records, lsofPath());
}

PortMap listeningPorts(const std::vector<ProcessRecord>& records, const std::string& tool)
{
    // A pid may have been reused since the records were taken: ask only about
    // processes that are still the same instance of the same program.
    std::string pids;
    const auto considered = std::min(records.size(), recordLimit);
    for (std::size_t i = 0; i < considered; ++i) {
        const auto& record = records[i];
        const auto fresh = Scanner::read(record.pid);
        if (!fresh || fresh->id() != record.id() || fresh->path != record.path) continue;
        if (!pids.empty()) pids += ',';
        pids += std::to_string(record.pid);
    }
    if (pids.empty()) return {};

    ChildRunRequest request;
    request.executable = tool;
    // -b: no stat, lstat or readlink of what the processes hold, which would
    // wait as long as any mount does not answer; -w: no warnings about that.
    request.arguments = {"-b", "-w", "-nP", "-a", "-p", pids, "-iTCP", "-sTCP:LISTEN", "-Fpn"};
    request.outputCap = 65'536;
    request.deadline = std::chrono::milliseconds(1'500);
    request.killGrace = std::chrono::milliseconds(500);
    const auto run = runChild(request);
    if (!run.launched) return {};

    std::string_view output = run.output;
    // A line cut in the middle could name another port ("n*:8080" cut to "n*:80").
    if (run.timedOut || run.overflowed) {
        const auto lastNewline = output.rfind('\n');
        output = lastNewline == std::string_view::npos ? std::string_view() : output.substr(0, lastNewline + 1);
    }
    if (!isValidUtf8(output)) return {};
    return parse(output);
}

}  // namespace corvalent::ImpactPortProbe

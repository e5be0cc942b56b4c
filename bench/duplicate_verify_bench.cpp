// Duplicate verification on 2 GiB of files from a warm page cache: on all
// threads beside `jdupes -r` (the same work: find which equal-sized files
// are equal), and on one thread beside `openssl dgst -sha256` (the hashing
// limit: the same library, no checks) and `sha256sum`. The command-line modes
// let the side-by-side scripts run each part alone.
#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/disk/disk_duplicates.h"

namespace corvalent::bench {
namespace {

namespace fs = std::filesystem;

constexpr int fileCount = 8;
constexpr std::uint64_t fileBytes = 256ULL * 1024 * 1024;
constexpr double mebibyte = 1024.0 * 1024.0;

std::vector<fs::path> duplicatePaths(const fs::path& folder)
{
    std::vector<fs::path> files;
    for (int i = 0; i < fileCount; ++i) files.push_back(folder / ("copy" + std::to_string(i) + ".bin"));
    return files;
}

// A marker written last, so that an interrupted run makes the files again.
bool complete(const fs::path& folder, const std::vector<fs::path>& files)
{
    std::error_code error;
    if (!fs::exists(folder / "complete", error)) return false;
    return std::ranges::all_of(files, [](const fs::path& file) {
        std::error_code sizeError;
        return fs::is_regular_file(fs::symlink_status(file, sizeError)) && fs::file_size(file, sizeError) == fileBytes;
    });
}

// Four pairs of 256 MiB files of pseudo-random bytes (a seeded xorshift per
// pair), made once and kept. Only these files and the marker are written.
std::vector<fs::path> generatedDuplicates(const fs::path& folder)
{
    const auto files = duplicatePaths(folder);
    if (complete(folder, files)) return files;
    fs::create_directories(folder);
    fs::remove(folder / "complete");
    std::string chunk(1 << 20, '\0');
    for (int i = 0; i < fileCount; ++i) {
        std::ofstream out(files[static_cast<std::size_t>(i)], std::ios::binary | std::ios::trunc);
        std::uint64_t state = 0x9e3779b97f4a7c15ULL * static_cast<std::uint64_t>(i / 2 + 1);
        for (std::uint64_t written = 0; written < fileBytes; written += chunk.size()) {
            for (std::size_t at = 0; at < chunk.size(); at += 8) {
                state ^= state << 13;
                state ^= state >> 7;
                state ^= state << 17;
                for (std::size_t k = 0; k < 8; ++k) chunk[at + k] = static_cast<char>(state >> (8 * k));
            }
            out.write(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        }
        if (!out.flush()) throw std::runtime_error("cannot write " + files[static_cast<std::size_t>(i)].string());
    }
    std::ofstream(folder / "complete") << fileCount << " files of " << fileBytes << " bytes\n";
    return files;
}

// The files as a scan records them.
DiskDuplicateGroup groupOf(const std::vector<fs::path>& paths, std::uint64_t size)
{
    std::vector<DiskFile> files;
    for (const auto& path : paths) {
        struct stat info {};
        ::lstat(path.c_str(), &info);
        files.push_back(DiskFile{path.string(), static_cast<std::uint64_t>(info.st_blocks) * 512,
                                 static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_dev),
                                 static_cast<std::uint64_t>(info.st_ino), false});
    }
    return DiskDuplicateGroup::make(size, std::move(files));
}

// The regular files directly in `folder` that share the most common size
// (the larger size on a tie), as a scan would group them.
DiskDuplicateGroup equalSizeGroup(const fs::path& folder)
{
    std::map<std::uint64_t, std::vector<fs::path>> bySize;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.is_regular_file() && !entry.is_symlink()) bySize[entry.file_size()].push_back(entry.path());
    auto largest = bySize.end();
    for (auto it = bySize.begin(); it != bySize.end(); ++it)
        if (largest == bySize.end() || it->second.size() >= largest->second.size()) largest = it;
    if (largest == bySize.end()) return {};
    return groupOf(largest->second, largest->first);
}

template <typename Work>
double seconds(Work work)
{
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

template <typename Work>
double bestSeconds(int rounds, Work work)
{
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) best = std::min(best, seconds(work));
    return best;
}

std::vector<std::string> withFiles(std::vector<std::string> command, const std::vector<fs::path>& files)
{
    for (const auto& file : files) command.push_back(file.string());
    return command;
}

// Runs a command-line mode, turning any failure into a message and exit status 1.
template <typename Mode>
int reportingFailure(Mode mode)
{
    try {
        return mode();
    } catch (const std::exception& error) {
        std::cerr << error.what() << '\n';
        return 1;
    }
}

const std::string defaultDuplicatesFolder = "/var/tmp/corvalent-bench/duplicates";

}  // namespace

int makeDuplicates(const std::string& folder)
{
    return reportingFailure([&] {
        generatedDuplicates(folder);
        return 0;
    });
}

int verifyFolder(const std::string& folder)
{
    return reportingFailure([&] {
        const auto sets = DiskDuplicateVerifier::verify(equalSizeGroup(folder));
        print(std::to_string(sets.size()) + " sets");
        return sets.size() == fileCount / 2 ? 0 : 1;
    });
}

int printHashRate(const std::string& file)
{
    return reportingFailure([&] {
        const auto group = groupOf({file}, fs::file_size(file));
        const double spent = seconds([&] { DiskDuplicateVerifier::verify(group, {}, 1); });
        print(fixed(static_cast<double>(group.logicalBytesPerFile) / mebibyte / spent, 1));
        return 0;
    });
}

void reportDuplicateVerification()
{
    const auto files = generatedDuplicates(defaultDuplicatesFolder);
    const auto group = groupOf(files, fileBytes);
    const double megabytes = static_cast<double>(fileBytes) * fileCount / 1e6;
    constexpr int rounds = 3;

    std::size_t sets = 0;
    const auto verifyOnce = [&] { sets = DiskDuplicateVerifier::verify(group).size(); };
    verifyOnce();  // warms the page cache
    const double ours = bestSeconds(rounds, verifyOnce);
    const double oneThread = bestSeconds(rounds, [&] { DiskDuplicateVerifier::verify(group, {}, 1); });
    const double openssl = bestSeconds(rounds, [&] {
        runQuietly(withFiles({"/usr/bin/openssl", "dgst", "-sha256"}, files));
    });
    const double coreutils = bestSeconds(rounds, [&] { runQuietly(withFiles({"/usr/bin/sha256sum"}, files)); });

    std::string peers;
    if (fs::exists("/usr/bin/jdupes")) {
        const double jdupes = bestSeconds(rounds, [&] {
            runQuietly({"/usr/bin/jdupes", "-r", "-q", defaultDuplicatesFolder});
        });
        peers = "; jdupes -r " + fixed(jdupes * 1000, 0) + " ms, verify/jdupes = " + fixed(ours / jdupes, 2) +
                "x (goal <= 0.4)";
    }
    print("duplicate verification (" + std::to_string(fileCount) + " files of 256 MiB, " + std::to_string(sets) +
          " sets): verify " + fixed(ours * 1000, 0) + " ms" + peers);
    print("one thread: verify " + fixed(megabytes / oneThread, 0) + " MB/s; openssl dgst -sha256 " +
          fixed(megabytes / openssl, 0) + " MB/s; sha256sum " + fixed(megabytes / coreutils, 0) +
          " MB/s; verify/openssl = " + fixed(openssl / oneThread, 2) +
          "x (goal >= 1.0); verify/sha256sum = " + fixed(coreutils / oneThread, 2) + "x");
}

}  // namespace corvalent::bench

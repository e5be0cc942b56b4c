// Duplicate verification throughput on 2 GB of files, beside `openssl dgst
// -sha256` (the hashing limit: the same library, no checks) and `sha256sum`
// on the same files, all from a warm page cache.
#include <sys/stat.h>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/disk_duplicates.h"

namespace corvalent::bench {
namespace {

namespace fs = std::filesystem;

constexpr int fileCount = 8;
constexpr std::uint64_t fileBytes = 256ULL * 1024 * 1024;

// Four pairs of 256 MiB files of pseudo-random bytes, made once and kept.
std::vector<fs::path> generatedDuplicates()
{
    const fs::path root = fs::temp_directory_path() / "corvalent-bench-duplicates";
    std::vector<fs::path> files;
    for (int i = 0; i < fileCount; ++i) files.push_back(root / ("copy" + std::to_string(i) + ".bin"));
    if (fs::exists(root / "complete")) return files;
    fs::remove_all(root);
    fs::create_directories(root);
    std::string chunk(1 << 20, '\0');
    for (int i = 0; i < fileCount; ++i) {
        std::ofstream out(files[static_cast<std::size_t>(i)], std::ios::binary);
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
    }
    std::ofstream(root / "complete") << fileCount << " files of " << fileBytes << " bytes\n";
    return files;
}

DiskDuplicateGroup groupOf(const std::vector<fs::path>& paths)
{
    std::vector<DiskFile> files;
    for (const auto& path : paths) {
        struct stat info {};
        ::lstat(path.c_str(), &info);
        files.push_back(DiskFile{path.string(), static_cast<std::uint64_t>(info.st_blocks) * 512,
                                 static_cast<std::uint64_t>(info.st_size), static_cast<std::uint64_t>(info.st_dev),
                                 static_cast<std::uint64_t>(info.st_ino), false});
    }
    return DiskDuplicateGroup::make(fileBytes, std::move(files));
}

template <typename Work>
double bestSeconds(int rounds, Work work)
{
    double best = 1e300;
    for (int i = 0; i < rounds; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        best = std::min(best, spent.count());
    }
    return best;
}

std::vector<std::string> withFiles(std::vector<std::string> command, const std::vector<fs::path>& files)
{
    for (const auto& file : files) command.push_back(file.string());
    return command;
}

}  // namespace

void reportDuplicateVerification()
{
    const auto files = generatedDuplicates();
    const auto group = groupOf(files);
    const double megabytes = static_cast<double>(fileBytes) * fileCount / 1e6;
    constexpr int rounds = 3;

    std::size_t sets = 0;
    const auto verifyOnce = [&] { sets = DiskDuplicateVerifier::verify(group).size(); };
    verifyOnce();  // warms the page cache
    const double ours = bestSeconds(rounds, verifyOnce);
    const double openssl = bestSeconds(rounds, [&] {
        runQuietly(withFiles({"/usr/bin/openssl", "dgst", "-sha256"}, files));
    });
    const double coreutils = bestSeconds(rounds, [&] { runQuietly(withFiles({"/usr/bin/sha256sum"}, files)); });

    print("duplicate verification (" + std::to_string(fileCount) + " files of 256 MiB, " + std::to_string(sets) +
          " sets): verify " + fixed(megabytes / ours, 0) + " MB/s; openssl dgst -sha256 " +
          fixed(megabytes / openssl, 0) + " MB/s; sha256sum " + fixed(megabytes / coreutils, 0) + " MB/s");
    print("verify/openssl = " + fixed(openssl / ours, 2) +
          "x (goal >= 0.9); verify/sha256sum = " + fixed(coreutils / ours, 2) + "x");
}

}  // namespace corvalent::bench

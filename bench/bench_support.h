#pragma once

// Small helpers shared by the side-by-side benchmarks.

#include <charconv>
#include <chrono>
#include <fcntl.h>
#include <iostream>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace corvalent::bench {

template <typename Work>
double millisecondsPerRound(int rounds, Work work)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < rounds; ++i) work();
    const std::chrono::duration<double, std::milli> spent = std::chrono::steady_clock::now() - start;
    return spent.count() / rounds;
}

// Runs a peer tool with its output thrown away, and waits for it.
inline void runQuietly(std::vector<std::string> argv)
{
    std::vector<char*> pointers;
    for (auto& argument : argv) pointers.push_back(argument.data());
    pointers.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (posix_spawn(&pid, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

// `ps` listing the same columns a sample reads.
inline void runPs()
{
    runQuietly({"/usr/bin/ps", "-eo", "pid,ppid,uid,lstart,time,rss,comm"});
}

inline std::string fixed(double value, int decimals)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
    return std::string(text, result.ptr);
}

// Side-by-side reports, printed after the micro-benchmarks.
void reportProcessTable();
void reportProcessEngine();
void reportDiskScan();
void reportDuplicateVerification();
// Scans one folder and exits: the disk report runs the benchmark itself so.
int scanForMeasurement(const std::string& path);
// Makes the four pairs of 256 MiB files in `folder`, unless they are there already.
int makeDuplicates(const std::string& folder);
// Verifies the equal-sized files in `folder` as one group; 0 when four sets were found.
int verifyFolder(const std::string& folder);
// Hashes one file as verification does, on one thread, and prints MiB/s.
int printHashRate(const std::string& file);
// Measures process reads over `rounds` samples, on the live table and with
// 2,000 more idle processes, and exits.
int reportProcessRead(int rounds);

inline void print(const std::string& line)
{
    std::cout << line << '\n' << std::flush;
}

}  // namespace corvalent::bench

// Walks the folder named by its first argument as whatever account runs it,
// with the thread count of its second (default 1), and prints
// "<entries> <inaccessible> <digest>", the digest standing for every visit in
// order with its size. Tests start it as an unprivileged account so that
// folders without permissions really are unreadable, and with a third
// argument, an open-file limit it sets (soft and hard) before it walks. With a
// fourth, "hog", another thread takes every free descriptor while the walk
// runs (from its 1,000th visit on) and gives them all back after a fifth of a
// second. The measured walk's seconds go to standard error.
//
// With "--account-home" alone it prints the account's home folder twice, a
// line each: read first while no descriptor is free, then again once they
// are back.
//
// With "--protection PASSWD PID…" it prints the account's home folder and the
// protection code of each process PID, a line each, as seen with the account
// database PASSWD in place of /etc/passwd (bound over it in a mount namespace
// of its own, which needs root).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <thread>
#include <unistd.h>
#include <vector>
#include <iostream>
#include <string>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include "bridge/disk_walk.h"
#include "bridge/process_bridge.h"

namespace {

struct Digest final : corvalent::PLDiskVisitor {
    std::uint64_t value = 1469598103934665603ULL;
    std::uint64_t visits = 0;
    std::atomic<bool>* midway = nullptr;  // set at the 1,000th visit

    void add(std::string_view bytes)
    {
        for (const char byte : bytes) value = (value ^ static_cast<unsigned char>(byte)) * 1099511628211ULL;
    }

    bool visit(const corvalent::PLDiskEntry& entry) override
    {
        add(std::to_string(entry.depth) + ":" + std::to_string(static_cast<int>(entry.kind)) + ":" +
            std::to_string(entry.error != 0) + ":" + std::to_string(entry.allocatedBytes) + ":");
        add(entry.name);
        if (++visits == 1'000 && midway != nullptr) {
            *midway = true;
            midway->notify_all();
        }
        return true;
    }
};

int accountHomeTwice()
{
    const struct rlimit limit{64, 64};
    if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 3;
    std::vector<int> taken;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) taken.push_back(fd);
    const std::string first = corvalent::pl_account_home();
    for (const int fd : taken) ::close(fd);
    const std::string second = corvalent::pl_account_home();
    std::cout << first << '\n' << second << '\n';
    return 0;
}

int protectionWithAccounts(int argc, char** argv)
{
    if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        ::mount(argv[2], "/etc/passwd", nullptr, MS_BIND, nullptr) != 0)
        return 3;
    std::cout << corvalent::pl_account_home() << '\n';
    for (int i = 3; i < argc; ++i) {
        corvalent::PLProcessInfo info;
        if (corvalent::pl_read(std::stoi(argv[i]), &info) != 1) return 4;
        std::cout << corvalent::pl_protection_reason(info.pid, info.uid, info.path, info.name) << '\n';
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--account-home") return accountHomeTwice();
    if (argc >= 4 && std::string(argv[1]) == "--protection") return protectionWithAccounts(argc, argv);
    if (argc < 2 || argc > 5) return 2;
    if (argc >= 4) {
        const auto files = static_cast<rlim_t>(std::stoul(argv[3]));
        const struct rlimit limit{files, files};
        if (::setrlimit(RLIMIT_NOFILE, &limit) != 0) return 3;
    }
    corvalent::PLDiskWalkOptions options;
    options.threads = argc >= 3 ? std::stoi(argv[2]) : 1;
    Digest digest;
    corvalent::PLDiskScanStats stats{};
    std::atomic<bool> midway = false;
    std::jthread hog;
    if (argc == 5 && std::string(argv[4]) == "hog") {
        // A first walk while descriptors are plentiful: the undefined
        // behaviour checker needs a pipe the first time it meets a type.
        Digest warmUp;
        corvalent::pl_walk_disk(argv[1], options, warmUp, stats);
        digest.midway = &midway;
        hog = std::jthread([&midway] {
            midway.wait(false);
            std::vector<int> taken;
            const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(200);
            while (std::chrono::steady_clock::now() < until) {
                const int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
                if (fd >= 0)
                    taken.push_back(fd);
                else
                    std::this_thread::yield();
            }
            for (const int fd : taken) ::close(fd);
        });
    }
    const auto start = std::chrono::steady_clock::now();
    const auto result = corvalent::pl_walk_disk(argv[1], options, digest, stats);
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    std::cerr << spent.count() << '\n';
    midway = true;  // a small tree never woke the other thread
    midway.notify_all();
    std::cout << stats.entries << ' ' << stats.inaccessible << ' ' << digest.value << '\n';
    return result == 0 ? 0 : 1;
}

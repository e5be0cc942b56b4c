// Idles until a signal ends it. Tests copy it under other names (node, java)
// and start it with arguments it never reads, except for one leading mode:
//   --listen FILE      listen on a TCP port of 127.0.0.1, write the port to FILE
//   --touch MIB        keep MIB mebibytes of written memory
//   --spin             keep one core busy
//   --chdir-on-usr1 DIR  move into DIR when SIGUSR1 arrives
//   --exec-on-usr1 PROGRAM  run PROGRAM (no arguments) in place when SIGUSR1 arrives
//   --undumpable [UID]  become UID (when started by root), then not dumpable,
//                      as setuid programs are: /proc/PID's files turn root's
//   --traced           start a tracer that never waits for us, so that once
//                      killed we stay a zombie our parent cannot reap until
//                      the tracer ends (killed, or after a minute); prints
//                      "<pid> <tracer pid>" once traced
//   --connect SOCKET COUNT FILE  open COUNT connections to the local socket
//                      SOCKET, say nothing on them, and write how many were
//                      made to FILE once all were tried
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <grp.h>
#include <iostream>
#include <netinet/in.h>
#include <string>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const char* chdirTarget = nullptr;

char* execTarget[] = {nullptr, nullptr};

void moveOnSignal(int)
{
    if (chdirTarget != nullptr && ::chdir(chdirTarget) != 0) ::_exit(3);
}

void execOnSignal(int)
{
    ::execve(execTarget[0], execTarget, environ);
    ::_exit(3);
}

int becomeUndumpable(const char* user)
{
    if (user != nullptr) {
        const auto uid = static_cast<uid_t>(std::strtoul(user, nullptr, 10));
        if (::setgroups(0, nullptr) != 0 || ::setresgid(uid, uid, uid) != 0 || ::setresuid(uid, uid, uid) != 0)
            return 1;
    }
    return ::prctl(PR_SET_DUMPABLE, 0) == 0 ? 0 : 1;
}

int listenOnLoopback(const char* portFile)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 1;
    const std::string partial = std::string(portFile) + ".part";
    std::ofstream(partial) << ntohs(address.sin_port) << '\n';
    return std::rename(partial.c_str(), portFile) == 0 ? 0 : 1;
}

int connectMany(const char* socketPath, int count, const char* doneFile)
{
    // As many descriptors as this account may have: the connections are the point.
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::strlen(socketPath) >= sizeof address.sun_path) return 1;
    std::strcpy(address.sun_path, socketPath);
    int made = 0;
    for (int i = 0; i < count; ++i) {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) return 1;
        // A listener that takes no connections would hold a connect for ever.
        const timeval wait{10, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            ++made;
        else
            ::close(fd);
    }
    const std::string partial = std::string(doneFile) + ".part";
    std::ofstream(partial) << made << '\n';
    return std::rename(partial.c_str(), doneFile) == 0 ? 0 : 1;
}

int startTracer()
{
    const pid_t traced = ::getpid();
    // Where Yama restricts tracing, a child may trace its parent only when allowed.
    ::prctl(PR_SET_PTRACER, PR_SET_PTRACER_ANY);
    int ready[2];
    if (::pipe(ready) != 0) return 1;
    const pid_t tracer = ::fork();
    if (tracer == 0) {
        if (::ptrace(PTRACE_SEIZE, traced, nullptr, nullptr) != 0 || ::write(ready[1], "t", 1) != 1) ::_exit(1);
        ::sleep(60);
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 0;
    if (tracer < 0 || ::read(ready[0], &answer, 1) != 1) return 1;
    std::cout << traced << ' ' << tracer << std::endl;
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--listen" && argc > 2) {
        if (listenOnLoopback(argv[2]) != 0) return 2;
    } else if (mode == "--touch" && argc > 2) {
        const auto bytes = std::strtoull(argv[2], nullptr, 10) << 20;
        auto* memory = static_cast<volatile char*>(std::malloc(bytes));
        if (memory == nullptr) return 2;
        for (unsigned long long i = 0; i < bytes; i += 4096) memory[i] = 1;
    } else if (mode == "--spin") {
        unsigned long long counter = 0;
        for (;;) {
            counter = counter + 1;
            asm volatile("" : "+r"(counter));  // keeps the loop from being optimised away
        }
    } else if (mode == "--chdir-on-usr1" && argc > 2) {
        chdirTarget = argv[2];
        std::signal(SIGUSR1, moveOnSignal);
    } else if (mode == "--exec-on-usr1" && argc > 2) {
        execTarget[0] = argv[2];
        std::signal(SIGUSR1, execOnSignal);
    } else if (mode == "--undumpable") {
        if (becomeUndumpable(argc > 2 ? argv[2] : nullptr) != 0) return 2;
    } else if (mode == "--connect" && argc > 4) {
        if (connectMany(argv[2], std::atoi(argv[3]), argv[4]) != 0) return 2;
    } else if (mode == "--traced") {
        if (startTracer() != 0) return 2;
    }
    for (;;) ::pause();
}

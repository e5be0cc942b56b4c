// Runs a command and prints "<seconds> <peak KiB>" of it. A separate small
// program, because a process's peak memory includes the memory of the
// process it was started from until its exec: starting from this small one
// keeps that share negligible.
#include <chrono>
#include <fcntl.h>
#include <iostream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2) return 2;
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        ::dup2(null, STDOUT_FILENO);
        ::dup2(null, STDERR_FILENO);
        ::execv(argv[1], argv + 1);
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || ::wait4(pid, &status, 0, &usage) != pid) return 2;
    const std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
    std::cout << spent.count() << ' ' << usage.ru_maxrss << '\n';
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
}

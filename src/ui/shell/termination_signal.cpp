#include "ui/shell/termination_signal.h"

#include <QSocketNotifier>
#include <QtGlobal>

#include <fcntl.h>
#include <unistd.h>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstddef>
#include <iterator>

namespace corvalent {
namespace {

// The pipe's writing end, for the handler: a signal handler reaches no object.
std::atomic<int> wakeUp{-1};

constexpr int quitSignals[] = {SIGTERM, SIGINT, SIGHUP};

void onTerminate(int)
{
    const int saved = errno;
    const char byte = 1;
    const int descriptor = wakeUp.load();
    if (descriptor >= 0) {
        // A full pipe already holds a wake-up: nothing is lost.
        const auto written = ::write(descriptor, &byte, 1);
        (void)written;
    }
    errno = saved;
}

}  // namespace

TerminationSignal::TerminationSignal(std::function<void()> quit, QObject* parent)
    : QObject(parent), quit_(std::move(quit))
{
    if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0) {
        qWarning("Corvalent: SIGTERM, SIGINT and SIGHUP cannot be answered; they end the program at once.");
        pipe_[0] = pipe_[1] = -1;
        return;
    }
    notifier_ = new QSocketNotifier(pipe_[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignal::received);
    wakeUp.store(pipe_[1]);
    struct sigaction action {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(quitSignals); ++i) {
        const int signal = quitSignals[i];
        struct sigaction before {};
        ::sigaction(signal, nullptr, &before);
        if (signal != SIGTERM && before.sa_handler == SIG_IGN) continue;
        if (::sigaction(signal, &action, nullptr) == 0) taken_[i] = signal;
    }
}

TerminationSignal::~TerminationSignal()
{
    if (pipe_[1] < 0) return;
    for (const int signal : taken_)
        if (signal != 0) ::signal(signal, SIG_DFL);
    wakeUp.store(-1);
    delete notifier_;
    ::close(pipe_[0]);
    ::close(pipe_[1]);
}

void TerminationSignal::received()
{
    char bytes[64];
    while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
    }
    if (quit_) quit_();
}

}  // namespace corvalent

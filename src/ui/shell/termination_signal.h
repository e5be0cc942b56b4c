#pragma once

// SIGTERM (a logout), SIGINT (Ctrl+C in the terminal) and SIGHUP (the
// terminal closed) end the program the way Quit does. The handler only
// writes a byte to a pipe; the event loop reads it and calls `quit`, so that
// nothing but that one write runs inside the handler. SIGINT or SIGHUP
// ignored when the program started (as nohup and background shells start
// it) stays ignored.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace corvalent {

class TerminationSignal : public QObject {
public:
    // Takes over the three signals until destroyed; one at a time.
    explicit TerminationSignal(std::function<void()> quit, QObject* parent = nullptr);
    ~TerminationSignal() override;
    TerminationSignal(const TerminationSignal&) = delete;
    TerminationSignal& operator=(const TerminationSignal&) = delete;

private:
    void received();

    std::function<void()> quit_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
    int taken_[3] = {};  // the signals taken over, 0 for one left alone
};

}  // namespace corvalent

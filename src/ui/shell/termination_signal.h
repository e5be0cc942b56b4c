#pragma once

// SIGTERM, as a logout sends it, ends the program the way Quit does. The
// handler only writes a byte to a pipe; the event loop reads it and calls
// `quit`, so that nothing but that one write runs inside the handler.

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace corvalent {

class TerminationSignal : public QObject {
public:
    // Takes over SIGTERM until destroyed; one at a time.
    explicit TerminationSignal(std::function<void()> quit, QObject* parent = nullptr);
    ~TerminationSignal() override;
    TerminationSignal(const TerminationSignal&) = delete;
    TerminationSignal& operator=(const TerminationSignal&) = delete;

private:
    void received();

    std::function<void()> quit_;
    int pipe_[2] = {-1, -1};
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace corvalent

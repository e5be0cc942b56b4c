#pragma once

// One running Corvalent per user. The first start holds a lock in the runtime
// folder and listens on a local socket beside it; a later start asks it over
// that socket to bring its window forward, and ends. The kernel drops the lock
// with its holder, so nothing a crashed instance leaves behind blocks a start,
// and of two starts at the same moment only one can take it.
//
// The running instance keeps answering whatever its callers do: a connection
// gets a short time to ask, only a few are kept at once, an accept that
// fails (no descriptor to spare) is tried again later, and a socket file
// that goes away is made again.

#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

class QLocalSocket;
class QSocketNotifier;
class QTimer;

namespace corvalent {

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Start {
        first,       // this process is the running instance
        handedOver,  // the running instance has brought its window forward
        unanswered,  // another instance holds the lock but did not answer in time
    };

    // The lock and the socket live in `folder`.
    explicit SingleInstance(QString folder, QObject* parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder, where the program keeps its lock and socket.
    static QString runtimeFolder();

    // Becomes the running instance, or hands this start over to the one
    // already running and waits at most `limit` for its answer. Where no lock
    // can be made at all, the start goes ahead: it is never blocked.
    Start start(std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Takes the lock and listens; false while another process holds it.
    bool claim();
    // Lets go of the lock and the socket, so that a new process can take them.
    void release();
    bool isClaimed() const { return lock_ >= 0; }
    // Lets go while `start` starts the process that takes over (a relaunch),
    // and claims again when it reports an error, which it passes on.
    std::optional<QString> handOverTo(const std::function<std::optional<QString>()>& start);

    QString lockPath() const;
    QString socketPath() const;

signals:
    // A later start asked for the main window.
    void showRequested();

private:
    enum class Lock { taken, held, unavailable };
    Lock takeLock();
    void listen();
    void stopListening();
    bool listensAtSocketFile() const;
    void acceptWaiting();
    void tryAgainLater();
    void take(int descriptor);
    void answer(QLocalSocket& socket);
    bool askToShow(std::chrono::milliseconds limit) const;

    QString folder_;
    int lock_ = -1;
    int listener_ = -1;               // the listening socket
    std::uint64_t socketDevice_ = 0;  // of the socket file it is bound to
    std::uint64_t socketInode_ = 0;
    QSocketNotifier* waiting_ = nullptr;  // a connection waits to be accepted
    QTimer* retry_ = nullptr;             // after a failure: accepts, or listens, again
    QTimer* watch_ = nullptr;             // now and then: is the socket file still ours?
    std::chrono::milliseconds pause_;     // before the next retry
    int connections_ = 0;                 // accepted and not yet gone
};

}  // namespace corvalent

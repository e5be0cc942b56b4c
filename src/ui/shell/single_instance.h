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
// that goes away is made again. Now and then it also makes sure that its
// lock and socket paths still name what it holds: a lock file deleted or
// replaced is locked again at its path, and a socket file is made again
// unless another live instance answers there. A start that finds the lock
// free while an instance still answers on the socket hands over to it.
//
// A start that hands over passes on what its launcher gave it to end the
// launch's "starting" feedback with, so that the instance can end it.

#include <QByteArray>
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

// What a launcher gives a program it starts: the X11 startup notification id
// (DESKTOP_STARTUP_ID) and the Wayland activation token (XDG_ACTIVATION_TOKEN).
struct LaunchToken {
    QByteArray startupId;
    QByteArray activationToken;

    bool isEmpty() const { return startupId.isEmpty() && activationToken.isEmpty(); }
    bool operator==(const LaunchToken&) const = default;

    // This process's own, read before the platform takes them from the environment.
    static LaunchToken fromEnvironment();
};

class SingleInstance : public QObject {
    Q_OBJECT

public:
    enum class Start {
        first,       // this process is the running instance
        handedOver,  // the running instance has brought its window forward
        unanswered,  // another instance holds the lock but did not answer in time
    };

    // The lock and the socket live in `folder`; every `checkInterval` the
    // instance checks that both are still its own.
    explicit SingleInstance(QString folder, std::chrono::milliseconds checkInterval = std::chrono::seconds(5),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // The user's runtime folder, where the program keeps its lock and socket:
    // XDG_RUNTIME_DIR, or where that is no folder of the user's, one fixed
    // folder per user in /tmp; empty when neither can be had.
    static QString runtimeFolder();

    // Becomes the running instance, or hands this start over to the one
    // already running, passing `launch` on, and waits at most `limit` for its
    // answer. Where no lock can be made at all, the start goes ahead: it is
    // never blocked.
    Start start(const LaunchToken& launch = {}, std::chrono::milliseconds limit = std::chrono::seconds(10));
    // Takes the lock and listens; false while another process holds it, or
    // another live instance answers on the socket.
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
    // A later start asked for the main window, passing on its launcher's token.
    void showRequested(const corvalent::LaunchToken& launch);

private:
    enum class Lock { taken, held, unavailable };
    enum class Answer { shown, closed, none };
    Lock takeLock();
    Lock takeLockIfAlone();
    void keepLockAtPath();
    void check();
    void listen();
    void stopListening();
    bool listensAtSocketFile() const;
    void acceptWaiting();
    void tryAgainLater();
    void take(int descriptor);
    void answer(QLocalSocket& socket);
    Answer askToShow(const LaunchToken& launch, std::chrono::milliseconds limit) const;

    QString folder_;
    int lock_ = -1;
    int listener_ = -1;               // the listening socket
    std::uint64_t socketDevice_ = 0;  // of the socket file it is bound to
    std::uint64_t socketInode_ = 0;
    QSocketNotifier* waiting_ = nullptr;  // a connection waits to be accepted
    QTimer* retry_ = nullptr;             // after a failure: accepts, or listens, again
    QTimer* watch_ = nullptr;             // now and then: are the lock and socket files still ours?
    std::chrono::milliseconds pause_;     // before the next retry
    int connections_ = 0;                 // accepted and not yet gone
};

}  // namespace corvalent

#include "ui/shell/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace corvalent {
namespace {

constexpr char showRequest[] = "show\n";
constexpr char shownAnswer[] = "shown\n";
constexpr qint64 longestLine = 64;

using namespace std::chrono_literals;
// A later start asks at once; a connection that has not asked by then never will.
constexpr auto timeToAsk = 2s;
// Connections kept at once; more are closed as they come. A later start
// that meets a full house asks again.
constexpr int mostConnections = 16;
constexpr int backlog = 64;
// Between failed attempts to accept or to listen, growing to the longest.
constexpr auto firstPause = 100ms;
constexpr auto longestPause = 2s;
constexpr auto watchInterval = 5s;

int milliseconds(const QDeadlineTimer& deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

}  // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent)
    : QObject(parent),
      folder_(std::move(folder)),
      retry_(new QTimer(this)),
      watch_(new QTimer(this)),
      pause_(firstPause)
{
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, [this] {
        if (listensAtSocketFile())
            waiting_->setEnabled(true);
        else
            listen();
    });
    watch_->setInterval(watchInterval);
    watch_->setTimerType(Qt::VeryCoarseTimer);
    connect(watch_, &QTimer::timeout, this, [this] {
        if (!retry_->isActive() && !listensAtSocketFile()) listen();
    });
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::runtimeFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

QString SingleInstance::lockPath() const
{
    return folder_ + QStringLiteral("/corvalent.lock");
}

QString SingleInstance::socketPath() const
{
    return folder_ + QStringLiteral("/corvalent.socket");
}

SingleInstance::Start SingleInstance::start(std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    for (;;) {
        switch (takeLock()) {
        case Lock::taken: listen(); return Start::first;
        case Lock::unavailable: return Start::first;
        case Lock::held: break;
        }
        if (askToShow(std::chrono::milliseconds(milliseconds(deadline)))) return Start::handedOver;
        if (deadline.hasExpired()) return Start::unanswered;
        // The holder has taken the lock but not listened yet, or has just
        // ended: the next turn finds it listening or the lock free.
        QThread::msleep(20);
    }
}

bool SingleInstance::claim()
{
    if (isClaimed()) return true;
    if (takeLock() != Lock::taken) return false;
    listen();
    return true;
}

void SingleInstance::release()
{
    // Only a socket file this instance made goes, and only while it holds the lock.
    if (listensAtSocketFile()) ::unlink(QFile::encodeName(socketPath()).constData());
    stopListening();
    retry_->stop();
    watch_->stop();
    for (auto* socket : findChildren<QLocalSocket*>(Qt::FindDirectChildrenOnly)) {
        socket->abort();
        socket->deleteLater();
    }
    if (lock_ >= 0) {
        ::close(lock_);  // and with it the lock
        lock_ = -1;
    }
}

std::optional<QString> SingleInstance::handOverTo(const std::function<std::optional<QString>()>& start)
{
    const bool held = isClaimed();
    release();
    auto error = start();
    if (error && held) claim();
    return error;
}

SingleInstance::Lock SingleInstance::takeLock()
{
    if (isClaimed()) return Lock::taken;
    if (folder_.isEmpty() || !QDir().mkpath(folder_)) {
        qWarning("Corvalent: no runtime folder; a second start opens a second window.");
        return Lock::unavailable;
    }
    // The file stays; the lock on it is what counts, and it ends with its holder.
    const int file = ::open(QFile::encodeName(lockPath()).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) {
        qWarning("Corvalent: the instance lock cannot be opened; a second start opens a second window.");
        return Lock::unavailable;
    }
    int locked = -1;
    do locked = ::flock(file, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) {
        lock_ = file;
        return Lock::taken;
    }
    const bool held = errno == EWOULDBLOCK;
    ::close(file);
    if (held) return Lock::held;
    qWarning("Corvalent: the instance lock cannot be taken; a second start opens a second window.");
    return Lock::unavailable;
}

void SingleInstance::listen()
{
    stopListening();
    if (!isClaimed()) return;
    const auto path = QFile::encodeName(socketPath());
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof(address.sun_path)) {
        qWarning("Corvalent: later starts cannot reach this instance: the runtime folder's path is too long.");
        return;
    }
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));

    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // With the lock held, a socket file already there was left by an instance
    // that ended, or by this one before it lost it.
    ::unlink(path.constData());
    struct stat file {};
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener, backlog) != 0 || ::stat(path.constData(), &file) != 0) {
        const int error = errno;
        if (listener >= 0) ::close(listener);
        // Said once for a run of failures; it is tried again all the same.
        if (pause_ == firstPause)
            qWarning("Corvalent: later starts cannot reach this instance for now: %s",
                     std::generic_category().message(error).c_str());
        tryAgainLater();
        return;
    }
    listener_ = listener;
    socketDevice_ = file.st_dev;
    socketInode_ = file.st_ino;
    pause_ = firstPause;
    waiting_ = new QSocketNotifier(listener_, QSocketNotifier::Read, this);
    connect(waiting_, &QSocketNotifier::activated, this, &SingleInstance::acceptWaiting);
    waiting_->setEnabled(true);
    watch_->start();
}

void SingleInstance::stopListening()
{
    // Deleted later: this may run inside the notifier's own signal.
    if (waiting_ != nullptr) {
        waiting_->setEnabled(false);
        waiting_->deleteLater();
        waiting_ = nullptr;
    }
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

bool SingleInstance::listensAtSocketFile() const
{
    struct stat file {};
    return listener_ >= 0 && ::lstat(QFile::encodeName(socketPath()).constData(), &file) == 0 &&
           S_ISSOCK(file.st_mode) && file.st_dev == socketDevice_ && file.st_ino == socketInode_;
}

void SingleInstance::acceptWaiting()
{
    // A turn takes a bounded number, so that a flood of callers cannot hold
    // the event loop; the rest come on the next turn.
    for (int taken = 0; taken < backlog; ++taken) {
        const int descriptor = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (descriptor < 0) {
            const int error = errno;
            if (error == EINTR || error == ECONNABORTED) continue;
            if (error == EAGAIN || error == EWOULDBLOCK) return;
            // Out of descriptors or memory for now: the caller waits in the
            // backlog until they come back. Any other failure is the listening
            // socket's own, and the next attempt listens anew.
            if (error != EMFILE && error != ENFILE && error != ENOBUFS && error != ENOMEM) stopListening();
            tryAgainLater();
            return;
        }
        pause_ = firstPause;
        if (connections_ >= mostConnections)
            ::close(descriptor);
        else
            take(descriptor);
    }
}

void SingleInstance::tryAgainLater()
{
    if (waiting_ != nullptr) waiting_->setEnabled(false);
    retry_->start(pause_);
    pause_ = std::min<std::chrono::milliseconds>(pause_ * 2, longestPause);
}

void SingleInstance::take(int descriptor)
{
    auto* socket = new QLocalSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        delete socket;
        ::close(descriptor);  // not taken on
        return;
    }
    ++connections_;
    connect(socket, &QObject::destroyed, this, [this] { --connections_; });
    connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(*socket); });
    QTimer::singleShot(timeToAsk, socket, [socket] {
        socket->abort();
        socket->deleteLater();
    });
}

void SingleInstance::answer(QLocalSocket& socket)
{
    if (!socket.canReadLine()) {
        if (socket.bytesAvailable() > longestLine) socket.abort();
        return;
    }
    if (socket.readLine(longestLine + 1) == showRequest) {
        emit showRequested();
        socket.write(shownAnswer);
    }
    socket.disconnectFromServer();
}

bool SingleInstance::askToShow(std::chrono::milliseconds limit) const
{
    const QDeadlineTimer deadline(limit);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(milliseconds(deadline))) return false;
    socket.write(showRequest);
    if (!socket.waitForBytesWritten(milliseconds(deadline))) return false;
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > longestLine || !socket.waitForReadyRead(milliseconds(deadline))) return false;
    }
    return socket.readLine(longestLine + 1) == shownAnswer;
}

}  // namespace corvalent

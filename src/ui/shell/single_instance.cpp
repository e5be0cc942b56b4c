#include "ui/shell/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalSocket>
#include <QSocketNotifier>
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

enum class Follow { links, none };

// A folder of this user's, made (without its parents) when missing. One in a
// shared folder is not reached through a link and no one else may enter it.
bool usableFolder(const QByteArray& path, Follow follow)
{
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST) return false;
    struct stat info {};
    const int found = follow == Follow::links ? ::stat(path.constData(), &info) : ::lstat(path.constData(), &info);
    if (found != 0 || !S_ISDIR(info.st_mode) || info.st_uid != ::geteuid()) return false;
    return follow == Follow::links || (info.st_mode & 077) == 0;
}

// A later start asks "show", with its launcher's tokens as percent-encoded
// fields ("show startup-id=… activation-token=…"); the instance answers "shown".
constexpr char showRequest[] = "show";
constexpr char shownAnswer[] = "shown\n";
constexpr char startupIdField[] = "startup-id=";
constexpr char activationTokenField[] = "activation-token=";
// A token longer than this is left out (launchers' tokens are far shorter).
constexpr qsizetype longestToken = 512;
constexpr qint64 longestLine = 4096;

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

int milliseconds(const QDeadlineTimer& deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

QByteArray requestLine(const LaunchToken& launch)
{
    QByteArray line(showRequest);
    const auto field = [&line](const char* name, const QByteArray& token) {
        if (!token.isEmpty() && token.size() <= longestToken)
            line += ' ' + QByteArray(name) + token.toPercentEncoding();
    };
    field(startupIdField, launch.startupId);
    field(activationTokenField, launch.activationToken);
    return line + '\n';
}

// The launcher's tokens of a request to show; nothing when it is not one.
// Fields this instance does not know are passed over.
std::optional<LaunchToken> parseRequest(QByteArray line)
{
    if (!line.endsWith('\n')) return std::nullopt;
    line.chop(1);
    const auto fields = line.split(' ');
    if (fields.front() != showRequest) return std::nullopt;
    LaunchToken launch;
    for (const auto& field : fields.sliced(1)) {
        if (field.startsWith(startupIdField))
            launch.startupId = QByteArray::fromPercentEncoding(field.sliced(qsizetype(std::strlen(startupIdField))));
        else if (field.startsWith(activationTokenField))
            launch.activationToken =
                QByteArray::fromPercentEncoding(field.sliced(qsizetype(std::strlen(activationTokenField))));
    }
    return launch;
}

std::optional<sockaddr_un> socketAddress(const QByteArray& path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (std::size_t(path.size()) >= sizeof(address.sun_path)) return std::nullopt;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    return address;
}

// 0 when `file` is locked, else the errno of the attempt.
int lockFile(int file)
{
    int locked = -1;
    do locked = ::flock(file, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    return locked == 0 ? 0 : errno;
}

// Whether a live process listens at `address`: a connection is taken, or
// waits in a full backlog. Its errno when that cannot be told.
enum class Peer { none, live, unknown };
Peer peerAt(const sockaddr_un& address, int& error)
{
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        error = errno;
        return Peer::unknown;
    }
    const int connected = ::connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof(address));
    const int failure = connected == 0 ? 0 : errno;
    ::close(probe);
    if (failure == 0 || failure == EAGAIN) return Peer::live;
    if (failure == ECONNREFUSED || failure == ENOENT) return Peer::none;
    error = failure;
    return Peer::unknown;
}

}  // namespace

LaunchToken LaunchToken::fromEnvironment()
{
    return {qgetenv("DESKTOP_STARTUP_ID"), qgetenv("XDG_ACTIVATION_TOKEN")};
}

SingleInstance::SingleInstance(QString folder, std::chrono::milliseconds checkInterval, QObject* parent)
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
    watch_->setInterval(checkInterval);
    watch_->setTimerType(checkInterval >= 1s ? Qt::VeryCoarseTimer : Qt::CoarseTimer);
    connect(watch_, &QTimer::timeout, this, &SingleInstance::check);
}

SingleInstance::~SingleInstance()
{
    release();
}

QString SingleInstance::runtimeFolder()
{
    // XDG_RUNTIME_DIR where it is a folder of this user's (made when only it
    // is missing); else one fixed folder per user, never one that depends on
    // the environment (TMPDIR), so that every start finds the same lock.
    const auto given = qgetenv("XDG_RUNTIME_DIR");
    if (given.startsWith('/') && usableFolder(given, Follow::links)) return QFile::decodeName(given);
    const auto fallback = QByteArray("/tmp/corvalent-runtime-") + QByteArray::number(::geteuid());
    if (usableFolder(fallback, Follow::none)) return QFile::decodeName(fallback);
    return {};
}

QString SingleInstance::lockPath() const
{
    return folder_ + QStringLiteral("/corvalent.lock");
}

QString SingleInstance::socketPath() const
{
    return folder_ + QStringLiteral("/corvalent.socket");
}

SingleInstance::Start SingleInstance::start(const LaunchToken& launch, std::chrono::milliseconds limit)
{
    const QDeadlineTimer deadline(limit);
    bool withToken = !launch.isEmpty();
    for (;;) {
        switch (takeLockIfAlone()) {
        case Lock::taken: listen(); return Start::first;
        case Lock::unavailable: return Start::first;
        case Lock::held: break;
        }
        switch (askToShow(withToken ? launch : LaunchToken{}, std::chrono::milliseconds(milliseconds(deadline)))) {
        case Answer::shown: return Start::handedOver;
        // An instance of an earlier version knows no tokens and closes on
        // them (as a full one closes): the next request goes without.
        case Answer::closed: withToken = false; break;
        case Answer::none: break;
        }
        if (deadline.hasExpired()) return Start::unanswered;
        // The holder has taken the lock but not listened yet, or has just
        // ended: the next turn finds it listening or the lock free.
        QThread::msleep(20);
    }
}

bool SingleInstance::claim()
{
    if (isClaimed()) return true;
    if (takeLockIfAlone() != Lock::taken) return false;
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
        // Unlocked before it is closed: a copy of the descriptor elsewhere
        // (a child between fork and exec) would keep the lock.
        ::flock(lock_, LOCK_UN);
        ::close(lock_);
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
    const int error = lockFile(file);
    if (error == 0) {
        lock_ = file;
        return Lock::taken;
    }
    const bool held = error == EWOULDBLOCK;
    ::close(file);
    if (held) return Lock::held;
    qWarning("Corvalent: the instance lock cannot be taken; a second start opens a second window.");
    return Lock::unavailable;
}

// The lock is taken only where no other live instance answers on the socket:
// with the lock file deleted under it, a running instance is still the one.
SingleInstance::Lock SingleInstance::takeLockIfAlone()
{
    if (isClaimed()) return Lock::taken;
    const auto lock = takeLock();
    const auto address = socketAddress(QFile::encodeName(socketPath()));
    int error = 0;
    if (lock != Lock::taken || !address || peerAt(*address, error) != Peer::live) return lock;
    ::close(lock_);
    lock_ = -1;
    return Lock::held;
}

// A lock file deleted or replaced under this instance is locked again at its
// path, so that the next start finds it held.
void SingleInstance::keepLockAtPath()
{
    const auto path = QFile::encodeName(lockPath());
    struct stat held {
    }, named{};
    if (lock_ < 0 || ::fstat(lock_, &held) != 0) return;
    if (::stat(path.constData(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino) return;
    const int file = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0) return;  // tried again at the next check
    if (lockFile(file) != 0) {
        // Another instance has locked it meanwhile: it answers from now on.
        ::close(file);
        return;
    }
    ::close(lock_);
    lock_ = file;
}

void SingleInstance::check()
{
    keepLockAtPath();
    if (!retry_->isActive() && !listensAtSocketFile()) listen();
}

void SingleInstance::listen()
{
    stopListening();
    if (!isClaimed()) return;
    watch_->start();
    const auto path = QFile::encodeName(socketPath());
    const auto address = socketAddress(path);
    if (!address) {
        qWarning("Corvalent: later starts cannot reach this instance: the runtime folder's path is too long.");
        return;
    }

    int error = 0;
    struct stat file {};
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (listener < 0) {
        error = errno;
    } else {
        // The file takes the socket's mode: only this user may connect, whatever the umask.
        ::fchmod(listener, 0600);
        // With the lock held, a socket file already there was left by an
        // instance that ended, or by this one before it lost it; one that
        // another live instance answers on stays, and is looked at again later.
        switch (peerAt(*address, error)) {
        case Peer::live: ::close(listener); return;
        case Peer::unknown: break;
        case Peer::none:
            ::unlink(path.constData());
            if (::bind(listener, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0 ||
                ::listen(listener, backlog) != 0 || ::stat(path.constData(), &file) != 0)
                error = errno;
            else if ((file.st_mode & 07777) != 0600)
                ::chmod(path.constData(), 0600);  // a umask that took the owner's own rights
            break;
        }
    }
    if (error != 0) {
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
    if (const auto launch = parseRequest(socket.readLine(longestLine + 1))) {
        emit showRequested(*launch);
        socket.write(shownAnswer);
    }
    socket.disconnectFromServer();
}

SingleInstance::Answer SingleInstance::askToShow(const LaunchToken& launch, std::chrono::milliseconds limit) const
{
    const QDeadlineTimer deadline(limit);
    QLocalSocket socket;
    socket.connectToServer(socketPath());
    if (!socket.waitForConnected(milliseconds(deadline))) return Answer::none;
    socket.write(requestLine(launch));
    if (!socket.waitForBytesWritten(milliseconds(deadline))) return Answer::none;
    while (!socket.canReadLine()) {
        if (socket.bytesAvailable() > longestLine) return Answer::none;
        if (!socket.waitForReadyRead(milliseconds(deadline)))
            return socket.state() == QLocalSocket::UnconnectedState && !deadline.hasExpired() ? Answer::closed
                                                                                              : Answer::none;
    }
    return socket.readLine(longestLine + 1) == shownAnswer ? Answer::shown : Answer::none;
}

}  // namespace corvalent

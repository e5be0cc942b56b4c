#include "ui/shell/single_instance.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>

namespace corvalent {
namespace {

constexpr char showRequest[] = "show\n";
constexpr char shownAnswer[] = "shown\n";
constexpr qint64 longestLine = 64;

int milliseconds(const QDeadlineTimer& deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

}  // namespace

SingleInstance::SingleInstance(QString folder, QObject* parent) : QObject(parent), folder_(std::move(folder)) {}

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
    if (server_ != nullptr) {
        server_->close();  // removes the socket file
        delete server_;
        server_ = nullptr;
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
    server_ = new QLocalServer(this);
    // With the lock held, a socket file already there was left by an instance that ended.
    QLocalServer::removeServer(socketPath());
    if (!server_->listen(socketPath())) {
        qWarning("Corvalent: later starts cannot reach this instance: %s", qPrintable(server_->errorString()));
        return;
    }
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (auto* socket = server_->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, this, [this, socket] { answer(*socket); });
        }
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

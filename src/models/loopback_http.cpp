#include "models/loopback_http.h"

#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <algorithm>
#include <optional>
#include <utility>

namespace corvalent {
namespace {

// A status line and headers longer than this are not an answer.
constexpr qsizetype headCap = 16 * 1024;
// Nor is a chunk-size line longer than this.
constexpr qsizetype lineCap = 1024;
// What the socket holds before the reader takes it: reading from the system
// stops there, so a sender that will not stop is held back by TCP itself.
constexpr qint64 socketBuffer = 64 * 1024;

}  // namespace

HttpReplyReader::State HttpReplyReader::feed(const QByteArray& data)
{
    pending_ += data;
    for (;;) {
        switch (part_) {
            case Part::head: {
                const auto end = pending_.indexOf("\r\n\r\n");
                if (end < 0) return pending_.size() > headCap ? State::malformed : State::reading;
                if (const auto state = readHead(end); state != State::reading) return state;
                break;
            }
            case Part::sized:
            case Part::chunkData: {
                const auto taken = std::min<qint64>(remaining_, pending_.size());
                body_ += pending_.first(taken);
                pending_.remove(0, taken);
                remaining_ -= taken;
                if (remaining_ > 0) return State::reading;
                part_ = part_ == Part::sized ? Part::done : Part::chunkEnd;
                break;
            }
            case Part::chunkSize: {
                const auto end = pending_.indexOf("\r\n");
                if (end < 0) return pending_.size() > lineCap ? State::malformed : State::reading;
                // Chunk extensions after ';' carry nothing we use.
                const QByteArray line = pending_.first(end).split(';').front().trimmed();
                pending_.remove(0, end + 2);
                bool number = false;
                const qint64 size = line.toLongLong(&number, 16);
                if (!number || size < 0 || line.startsWith('-') || line.startsWith('+')) return State::malformed;
                if (size == 0) {
                    part_ = Part::done;  // trailers, if any, are left unread
                    break;
                }
                if (size > cap_ - body_.size()) return State::tooLarge;
                remaining_ = size;
                part_ = Part::chunkData;
                break;
            }
            case Part::chunkEnd:
                if (pending_.size() < 2) return State::reading;
                if (!pending_.startsWith("\r\n")) return State::malformed;
                pending_.remove(0, 2);
                part_ = Part::chunkSize;
                break;
            case Part::untilClose:
                if (pending_.size() > cap_ - body_.size()) return State::tooLarge;
                body_ += pending_;
                pending_.clear();
                return State::reading;
            case Part::done: pending_.clear(); return State::complete;
        }
    }
}

HttpReplyReader::State HttpReplyReader::readHead(qsizetype end)
{
    const auto lines = pending_.first(end).split('\n');
    pending_.remove(0, end + 4);
    const auto statusLine = lines.front().trimmed().split(' ');
    bool number = false;
    status_ = statusLine.value(1).toInt(&number);
    if (!statusLine.front().startsWith("HTTP/1.") || !number || status_ < 100 || status_ > 599)
        return State::malformed;
    std::optional<qint64> length;
    bool chunked = false;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const auto colon = lines[i].indexOf(':');
        if (colon < 0) continue;
        const QByteArray name = lines[i].first(colon).trimmed().toLower();
        const QByteArray value = lines[i].mid(colon + 1).trimmed();
        if (name == "transfer-encoding") {
            chunked = value.toLower().contains("chunked");
        } else if (name == "content-length") {
            const qint64 declared = value.toLongLong(&number);
            if (!number || declared < 0 || (length && *length != declared)) return State::malformed;
            length = declared;
        }
    }
    if (chunked) {
        part_ = Part::chunkSize;
    } else if (length) {
        if (*length > cap_) return State::tooLarge;
        remaining_ = *length;
        part_ = *length == 0 ? Part::done : Part::sized;
    } else {
        part_ = Part::untilClose;
    }
    return State::reading;
}

HttpReplyReader::State HttpReplyReader::closed()
{
    if (part_ == Part::untilClose || part_ == Part::done) return State::complete;
    return State::malformed;  // cut short
}

LoopbackHttpExchange::LoopbackHttpExchange(LoopbackHttpRequest request,
                                           std::function<void(LoopbackHttpAnswer)> finished, QObject* parent)
    : QObject(parent), request_(std::move(request)), finished_(std::move(finished)), reader_(request_.cap)
{
}

void LoopbackHttpExchange::start()
{
    deadline_.setSingleShot(true);
    deadline_.setTimerType(Qt::PreciseTimer);
    connect(&deadline_, &QTimer::timeout, this, [this] { end(LoopbackHttpAnswer::Ending::timedOut); });
    const auto left =
        std::chrono::ceil<std::chrono::milliseconds>(request_.deadline - std::chrono::steady_clock::now());
    deadline_.start(std::max(left, std::chrono::milliseconds(0)));

    socket_ = new QTcpSocket(this);
    socket_->setProxy(QNetworkProxy::NoProxy);
    socket_->setReadBufferSize(socketBuffer);
    connect(socket_, &QTcpSocket::connected, this, &LoopbackHttpExchange::send);
    connect(socket_, &QTcpSocket::readyRead, this, &LoopbackHttpExchange::readAvailable);
    connect(socket_, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError) return serverClosed();
        end(LoopbackHttpAnswer::Ending::failed, socket_->errorString());
    });
    connect(socket_, &QTcpSocket::disconnected, this, &LoopbackHttpExchange::serverClosed);
    socket_->connectToHost(QHostAddress(QHostAddress::LocalHost), request_.port);
}

void LoopbackHttpExchange::send()
{
    QByteArray head = request_.method + ' ' + request_.path + " HTTP/1.1\r\nHost: 127.0.0.1:" +
                      QByteArray::number(request_.port) + "\r\nAccept: application/json\r\nConnection: close\r\n";
    if (!request_.body.isEmpty())
        head += "Content-Type: " + request_.contentType + "\r\nContent-Length: " +
                QByteArray::number(request_.body.size()) + "\r\n";
    socket_->write(head + "\r\n" + request_.body);
}

void LoopbackHttpExchange::readAvailable()
{
    while (!ended_ && socket_->bytesAvailable() > 0) {
        switch (reader_.feed(socket_->read(socketBuffer))) {
            case HttpReplyReader::State::reading: break;
            case HttpReplyReader::State::complete: return end(LoopbackHttpAnswer::Ending::complete);
            case HttpReplyReader::State::tooLarge: return end(LoopbackHttpAnswer::Ending::tooLarge);
            case HttpReplyReader::State::malformed:
                return end(LoopbackHttpAnswer::Ending::failed, QStringLiteral("The server's answer could not be read."));
        }
    }
}

void LoopbackHttpExchange::serverClosed()
{
    readAvailable();
    if (ended_) return;
    if (reader_.closed() == HttpReplyReader::State::complete) return end(LoopbackHttpAnswer::Ending::complete);
    end(LoopbackHttpAnswer::Ending::failed, QStringLiteral("The server closed the connection early."));
}

void LoopbackHttpExchange::abort()
{
    finished_ = {};
    end(LoopbackHttpAnswer::Ending::failed);
}

void LoopbackHttpExchange::end(LoopbackHttpAnswer::Ending ending, const QString& errorText)
{
    if (ended_) return;
    ended_ = true;
    deadline_.stop();
    if (socket_ != nullptr) {
        socket_->disconnect(this);
        socket_->abort();
    }
    deleteLater();
    if (!finished_) return;
    LoopbackHttpAnswer answer;
    answer.ending = ending;
    answer.status = reader_.status();
    answer.errorText = errorText;
    if (ending == LoopbackHttpAnswer::Ending::complete) {
        answer.body = reader_.body();
        if (answer.status < 200 || answer.status > 299) {
            answer.ending = LoopbackHttpAnswer::Ending::failed;
            answer.errorText = QStringLiteral("The server answered with status %1.").arg(answer.status);
        }
    }
    std::exchange(finished_, {})(std::move(answer));
}

}  // namespace corvalent

#pragma once

// A local model server that is not what it claims: for the tests of the
// local model client and of the impact review that uses it.

#include <QHostAddress>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>

namespace corvalent::testing {

// A model server with a thread of its own, so that it keeps writing while the
// test holds the GUI thread. It answers the model list normally, except on
// `hostilePath`, where it sends `kind` and never ends. It writes only as fast
// as the client takes, so what it has sent bounds what the client holds.
class HostileModelServer {
public:
    enum class Kind {
        endless,     // no length, the body never ends
        hugeLength,  // declares a terabyte and keeps sending
        chunked,     // one chunk after another, no last chunk
        trickle,     // a byte now and then, within a small declared length
    };

    HostileModelServer(QByteArray hostilePath, Kind kind) : hostilePath_(std::move(hostilePath)), kind_(kind)
    {
        context_.moveToThread(&thread_);
        thread_.start();
        QMetaObject::invokeMethod(&context_, [this] { listen(); }, Qt::BlockingQueuedConnection);
    }
    ~HostileModelServer()
    {
        QMetaObject::invokeMethod(&context_, [this] { delete server_; }, Qt::BlockingQueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    quint16 port() const { return port_; }
    int hostileRequests() const { return hostileRequests_; }
    // Model lists answered whole and closed by the client.
    int listsTaken() const { return listsTaken_; }
    bool clientClosed() const { return clientClosed_; }
    qint64 sent() const { return sent_; }

private:
    void listen()
    {
        server_ = new QTcpServer;
        server_->listen(QHostAddress::LocalHost);
        port_ = server_->serverPort();
        QObject::connect(server_, &QTcpServer::newConnection, server_, [this] {
            while (QTcpSocket* socket = server_->nextPendingConnection()) {
                auto head = std::make_shared<QByteArray>();
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, head] {
                    const bool answered = head->contains("\r\n\r\n");
                    *head += socket->readAll();
                    if (answered || !head->contains("\r\n\r\n")) return;
                    const QByteArray path = head->split(' ').value(1);
                    if (path == hostilePath_) return answerHostile(socket);
                    // The connection stays open: the client ends it once it has the list.
                    const QByteArray models = "{\"models\":[{\"name\":\"small:7b\"}]}";
                    QObject::connect(socket, &QTcpSocket::disconnected, [this] { ++listsTaken_; });
                    socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nConnection: close\r\n"
                                  "Content-Length: " +
                                  QByteArray::number(models.size()) + "\r\n\r\n" + models);
                });
            }
        });
    }
    void answerHostile(QTcpSocket* socket)
    {
        ++hostileRequests_;
        QObject::connect(socket, &QTcpSocket::disconnected, [this] { clientClosed_ = true; });
        QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n";
        const bool list = hostilePath_ == "/api/tags";
        QByteArray opening = list ? "{\"models\":[" : "{\"response\":\"";
        QByteArray piece = list ? QByteArray("{\"name\":\"m\"},").repeated(1'000) : QByteArray(16'384, 'a');
        switch (kind_) {
            case Kind::endless: head += "Connection: close\r\n\r\n"; break;
            case Kind::hugeLength: head += "Content-Length: 1099511627776\r\n\r\n"; break;
            case Kind::chunked:
                head += "Transfer-Encoding: chunked\r\n\r\n";
                opening = QByteArray::number(opening.size(), 16) + "\r\n" + opening + "\r\n";
                piece = QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n";
                break;
            case Kind::trickle: {
                socket->write(head + "Content-Length: 1000\r\n\r\n" + opening);
                auto* drip = new QTimer(socket);
                QObject::connect(drip, &QTimer::timeout, socket, [this, socket] { sent_ += socket->write("a"); });
                drip->start(20);
                return;
            }
        }
        socket->write(head + opening);
        const auto pump = [this, socket, piece] {
            while (socket->state() == QAbstractSocket::ConnectedState && socket->bytesToWrite() < 256 * 1024)
                sent_ += socket->write(piece);
        };
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, pump);
        pump();
    }

    QByteArray hostilePath_;
    Kind kind_;
    QThread thread_;
    QObject context_;
    QTcpServer* server_ = nullptr;
    quint16 port_ = 0;
    std::atomic<int> hostileRequests_ = 0;
    std::atomic<int> listsTaken_ = 0;
    std::atomic<bool> clientClosed_ = false;
    std::atomic<qint64> sent_ = 0;
};

}  // namespace corvalent::testing

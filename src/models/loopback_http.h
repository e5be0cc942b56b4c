#pragma once

// One HTTP/1.1 exchange with a server on the loopback interface that is not
// trusted to be what it claims: the reply is decoded as it arrives and cut
// off once its body passes a cap, nothing is buffered beyond that, and the
// exchange ends at a deadline fixed when it was asked for. No proxy, no
// redirect, one connection per exchange.

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>

#include <chrono>
#include <functional>

class QTcpSocket;

namespace corvalent {

struct LoopbackHttpRequest {
    quint16 port = 0;
    QByteArray method = "GET";
    QByteArray path = "/";
    QByteArray body;         // sent with a length when not empty
    QByteArray contentType;  // of the body
    qint64 cap = 0;          // most bytes of reply body taken
    std::chrono::steady_clock::time_point deadline;
};

struct LoopbackHttpAnswer {
    enum class Ending {
        complete,  // a whole reply with a 2xx status
        failed,    // refused, cut short, malformed, or another status (its body kept)
        timedOut,
        tooLarge,  // the body passed the cap
    };
    Ending ending = Ending::failed;
    int status = 0;
    QByteArray body;
    QString errorText;
};

// Decodes a reply as its bytes arrive: a length, chunks, or everything until
// the server closes. Holds at most the cap of body and one unfinished line.
class HttpReplyReader {
public:
    enum class State { reading, complete, tooLarge, malformed };

    explicit HttpReplyReader(qint64 cap) : cap_(cap) {}
    State feed(const QByteArray& data);
    // The server closed the connection.
    State closed();
    int status() const { return status_; }
    const QByteArray& body() const { return body_; }

private:
    enum class Part { head, sized, chunkSize, chunkData, chunkEnd, untilClose, done };
    State readHead(qsizetype end);
    State take(Part next);

    qint64 cap_;
    Part part_ = Part::head;
    QByteArray pending_;
    QByteArray body_;
    qint64 remaining_ = 0;
    int status_ = 0;
};

// Lives on a thread whose event loop runs; `finished` runs there, once,
// unless the exchange is aborted first. Deletes itself when it ends.
class LoopbackHttpExchange : public QObject {
public:
    LoopbackHttpExchange(LoopbackHttpRequest request, std::function<void(LoopbackHttpAnswer)> finished,
                         QObject* parent = nullptr);
    void start();
    // Ends the exchange without an answer.
    void abort();

private:
    void send();
    void readAvailable();
    void serverClosed();
    void end(LoopbackHttpAnswer::Ending ending, const QString& errorText = {});

    LoopbackHttpRequest request_;
    std::function<void(LoopbackHttpAnswer)> finished_;
    HttpReplyReader reader_;
    QTcpSocket* socket_ = nullptr;
    QTimer deadline_;
    bool ended_ = false;
};

}  // namespace corvalent

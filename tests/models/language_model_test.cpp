// The local model server client against a small HTTP server on 127.0.0.1
// that answers as the model server's API does, and against servers that
// answer without end.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>


#include "core/process/impact_explanation.h"
#include "hostile_model_server.h"
#include "models/language_model.h"
#include "test_support.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;
using testing::HostileModelServer;

struct Request {
    QByteArray method, path, body;
};
struct Answer {
    int status = 200;
    QByteArray body;
    enum class Framing { length, chunks, close } framing = Framing::length;
};

// Answers each request with `answer`; nullopt leaves the connection hanging.
class ApiServer {
public:
    std::function<std::optional<Answer>(const Request&)> answer;
    std::vector<Request> requests;

    ApiServer()
    {
        server_.listen(QHostAddress::LocalHost);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection()) {
                socket->setParent(&server_);
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { read(socket); });
            }
        });
    }
    quint16 port() const { return server_.serverPort(); }

private:
    void read(QTcpSocket* socket)
    {
        QByteArray& buffer = buffers_[socket];
        buffer += socket->readAll();
        const auto headerEnd = buffer.indexOf("\r\n\r\n");
        if (headerEnd < 0) return;
        const QByteArray head = buffer.left(headerEnd);
        qsizetype length = 0;
        for (const auto& line : head.split('\n')) {
            if (line.toLower().startsWith("content-length:")) length = line.mid(15).trimmed().toLongLong();
        }
        if (buffer.size() < headerEnd + 4 + length) return;
        const auto first = head.left(head.indexOf("\r\n")).split(' ');
        requests.push_back({first.value(0), first.value(1), buffer.mid(headerEnd + 4, length)});
        buffer.clear();
        const auto reply = answer(requests.back());
        if (!reply) return;
        QByteArray answerHead = "HTTP/1.1 " + QByteArray::number(reply->status) +
                          " X\r\nContent-Type: application/json\r\nConnection: close\r\n";
        switch (reply->framing) {
            case Answer::Framing::length:
                socket->write(answerHead + "Content-Length: " + QByteArray::number(reply->body.size()) + "\r\n\r\n" +
                              reply->body);
                break;
            case Answer::Framing::chunks:
                // Small chunks, each flushed on its own, with an extension on the first.
                socket->write(answerHead + "Transfer-Encoding: chunked\r\n\r\n");
                for (qsizetype at = 0; at < reply->body.size(); at += 7) {
                    const auto piece = reply->body.mid(at, 7);
                    socket->write(QByteArray::number(piece.size(), 16) + (at == 0 ? ";x=y" : "") + "\r\n" + piece +
                                  "\r\n");
                    socket->flush();
                }
                socket->write("0\r\nTrailer: none\r\n\r\n");
                break;
            case Answer::Framing::close: socket->write(answerHead + "\r\n" + reply->body); break;
        }
        socket->disconnectFromHost();
    }

    QTcpServer server_;
    std::map<QTcpSocket*, QByteArray> buffers_;
};

QByteArray tags(const QStringList& names)
{
    QByteArray list;
    for (const auto& name : names) list += (list.isEmpty() ? "" : ",") + ("{\"name\":\"" + name.toUtf8() + "\"}");
    return "{\"models\":[" + list + "]}";
}

QByteArray generated(const QString& text)
{
    return QJsonDocument(QJsonObject{{"model", "m"}, {"response", text}, {"done", true}}).toJson();
}

// Holds the GUI thread, as a long layout or a burst of events would, until
// `done` or 15 s: whatever must happen meanwhile happens elsewhere.
bool holdGuiThreadUntil(const std::function<bool()>& done)
{
    return testing::eventually(done, std::chrono::seconds(15));
}

// A port with nothing listening: connections to it are refused.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost);
    return probe.serverPort();
}

class LocalModel : public ::testing::Test {
protected:
    ApiServer api;
    QObject receiver;
    QStringList models{"small:latest", "tiny:7b"};
    std::function<std::optional<Answer>(const Request&)> generate = [](const Request&) {
        return Answer{200, generated("Stopping Database workers closes port 5432.")};
    };

    void SetUp() override
    {
        api.answer = [this](const Request& request) -> std::optional<Answer> {
            if (request.method == "GET" && request.path == "/api/tags") return Answer{200, tags(models)};
            if (request.method == "POST" && request.path == "/api/generate") return generate(request);
            return Answer{404, "{\"error\":\"not found\"}"};
        };
    }
    void TearDown() override { QSettings().remove("languageModel"); }

    static LanguageModelAvailability availability(LanguageModel& model, QObject* receiver)
    {
        std::optional<LanguageModelAvailability> result;
        model.availability(receiver, [&](LanguageModelAvailability a) { result = a; });
        EXPECT_TRUE(QTest::qWaitFor([&] { return result.has_value(); }, 10'000));
        return result.value_or(LanguageModelAvailability::unsupported);
    }

    struct Outcome {
        std::optional<std::string> reply;
        QString error;
    };
    Outcome respond(LanguageModel& model)
    {
        std::optional<Outcome> outcome;
        model.respond("Be brief.", "What stops?", &receiver, [&](std::optional<std::string> reply, QString error) {
            outcome = Outcome{reply, error};
        });
        EXPECT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 10'000));
        return outcome.value_or(Outcome{});
    }
};

TEST_F(LocalModel, AvailabilityFollowsTheServer)
{
    LocalModelServer server(api.port());
    EXPECT_EQ(availability(server, &receiver), LanguageModelAvailability::available);
    QSettings().setValue("languageModel", "tiny:7b");
    EXPECT_EQ(availability(server, &receiver), LanguageModelAvailability::available);
    QSettings().setValue("languageModel", "absent");
    EXPECT_EQ(availability(server, &receiver), LanguageModelAvailability::notReady);
    QSettings().remove("languageModel");
    models.clear();
    EXPECT_EQ(availability(server, &receiver), LanguageModelAvailability::notReady);

    LocalModelServer nobody(closedPort());
    EXPECT_EQ(availability(nobody, &receiver), LanguageModelAvailability::notEnabled);
    api.answer = [](const Request&) { return Answer{200, "<html>a web page</html>"}; };
    EXPECT_EQ(availability(server, &receiver), LanguageModelAvailability::notEnabled);
}

TEST_F(LocalModel, OneExchangeSendsInstructionsAndPromptToTheChosenModel)
{
    QSettings().setValue("languageModel", "small");  // no tag: the latest
    LocalModelServer server(api.port());
    const auto outcome = respond(server);
    EXPECT_EQ(outcome.reply, "Stopping Database workers closes port 5432.");
    EXPECT_TRUE(outcome.error.isEmpty());

    ASSERT_EQ(api.requests.size(), 2u);
    const auto body = QJsonDocument::fromJson(api.requests[1].body).object();
    EXPECT_EQ(body.value("model").toString(), "small:latest");
    EXPECT_EQ(body.value("system").toString(), "Be brief.");
    EXPECT_EQ(body.value("prompt").toString(), "What stops?");
    EXPECT_EQ(body.value("stream"), QJsonValue(false));
}

TEST_F(LocalModel, RepliesBecomeTheBriefOrTheMessageInstead)
{
    ImpactAssessment assessment;
    SelectedImpactGroup workers;
    workers.title = "Database workers";
    assessment.groups = {workers};
    LocalModelServer server(api.port());
    auto shown = [&] {
        const auto outcome = respond(server);
        return explanationResult(outcome.reply, outcome.error, assessment, {});
    };

    EXPECT_EQ(shown(), (ImpactExplanationResult{true, "Stopping Database workers closes port 5432."}));
    generate = [](const Request&) { return Answer{200, generated(" \n ")}; };
    EXPECT_EQ(shown(), (ImpactExplanationResult{false, failureMessage()}));
    generate = [](const Request&) { return Answer{200, generated("Everything is fine.")}; };
    EXPECT_EQ(shown(), (ImpactExplanationResult{false, noInsightMessage()}));
    generate = [](const Request&) { return Answer{404, "{\"error\":\"model 'small' not found\"}"}; };
    EXPECT_EQ(respond(server).error, "model 'small' not found");
    EXPECT_EQ(shown(), (ImpactExplanationResult{false, failureMessage()}));
}

TEST_F(LocalModel, ChunkedAndCloseDelimitedAnswersAreReadWhole)
{
    LocalModelServer server(api.port());
    const QString text = "Stopping Database workers closes port 5432 and ends every open connection.";
    for (const auto framing : {Answer::Framing::chunks, Answer::Framing::close}) {
        generate = [&](const Request&) { return Answer{200, generated(text), framing}; };
        const auto outcome = respond(server);
        EXPECT_EQ(outcome.reply, text.toStdString());
        EXPECT_TRUE(outcome.error.isEmpty()) << outcome.error.toStdString();
    }
}

TEST(HttpReplyReader, DecodesEveryFramingHoweverTheBytesArrive)
{
    const QByteArray body = "{\"response\":\"two chunks\"}";
    const QByteArray replies[] = {
        "HTTP/1.1 200 OK\r\nContent-Length: 25\r\n\r\n" + body + "extra bytes are left alone",
        "HTTP/1.1 200 OK\r\ntransfer-encoding: Chunked\r\n\r\nd;name=value\r\n{\"response\":\"\r\n"
        "C\r\ntwo chunks\"}\r\n0\r\nTrailer: x\r\n\r\n",
    };
    for (const auto& reply : replies) {
        HttpReplyReader whole(1024);
        EXPECT_EQ(whole.feed(reply), HttpReplyReader::State::complete);
        EXPECT_EQ(whole.body(), body);
        HttpReplyReader bytewise(1024);
        auto state = HttpReplyReader::State::reading;
        for (const char byte : reply)
            if (state == HttpReplyReader::State::reading) state = bytewise.feed(QByteArray(1, byte));
        EXPECT_EQ(state, HttpReplyReader::State::complete);
        EXPECT_EQ(bytewise.body(), body);
        EXPECT_EQ(bytewise.status(), 200);
    }
    HttpReplyReader untilClose(1024);
    EXPECT_EQ(untilClose.feed("HTTP/1.0 404 Not Found\r\n\r\n{\"error\":"), HttpReplyReader::State::reading);
    EXPECT_EQ(untilClose.feed("\"x\"}"), HttpReplyReader::State::reading);
    EXPECT_EQ(untilClose.closed(), HttpReplyReader::State::complete);
    EXPECT_EQ(untilClose.body(), "{\"error\":\"x\"}");
    EXPECT_EQ(untilClose.status(), 404);
}

TEST(HttpReplyReader, StopsAtTheCapAndAtAnythingNotAnAnswer)
{
    using State = HttpReplyReader::State;
    const auto fed = [](const QByteArray& reply, qint64 cap = 10) { return HttpReplyReader(cap).feed(reply); };
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nContent-Length: 11\r\n\r\n"), State::tooLarge);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\n0123456789"), State::complete);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n6\r\n012345\r\n5\r\n"), State::tooLarge);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFFFF\r\n"),
              State::malformed);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\n\r\n01234567890"), State::tooLarge);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n-1\r\n"), State::malformed);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabXY"), State::malformed);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\n"), State::malformed);
    EXPECT_EQ(fed("SSH-2.0-OpenSSH\r\n\r\n"), State::malformed);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nX: " + QByteArray(20'000, 'x')), State::malformed);
    EXPECT_EQ(fed("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + QByteArray(2'000, '1')),
              State::malformed);
    HttpReplyReader cutShort(10);
    EXPECT_EQ(cutShort.feed("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n012"), State::reading);
    EXPECT_EQ(cutShort.closed(), State::malformed);
}

TEST_F(LocalModel, HangOrRefusalIsAnError)
{
    generate = [](const Request&) { return std::nullopt; };
    LocalModelServer hanging(api.port(), 300ms);
    LocalModelServer refusing(closedPort());
    for (LanguageModel* model : {static_cast<LanguageModel*>(&hanging), static_cast<LanguageModel*>(&refusing)}) {
        const auto outcome = respond(*model);
        EXPECT_FALSE(outcome.reply);
        EXPECT_FALSE(outcome.error.isEmpty());
    }
}

TEST_F(LocalModel, CancelledOrAbandonedExchangeReportsNothing)
{
    LocalModelServer server(api.port());
    bool called = false;
    std::shared_ptr<std::atomic<bool>> handle;
    // Cancelled while the model writes: its answer arrives and is dropped.
    generate = [&](const Request&) {
        handle->store(true);
        return Answer{200, generated("Database workers stop.")};
    };
    // The callback holds `held`: once the exchange lets go of it, it can never run.
    auto held = std::make_shared<int>(0);
    std::weak_ptr<int> watch = held;
    handle = server.respond("i", "p", &receiver, [&, held](auto, auto) { called = true; });
    held.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return api.requests.size() == 2; }, 10'000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.expired(); }, 10'000)) << "the answer arrived and was dropped";
    EXPECT_FALSE(called);

    auto gone = std::make_unique<QObject>();
    held = std::make_shared<int>(0);
    watch = held;
    server.respond("i", "p", gone.get(), [&, held](auto, auto) { called = true; });
    held.reset();
    gone.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.expired(); }, 10'000)) << "the exchange ended unanswered";
    EXPECT_FALSE(called);
}

// Every hostile reply ends at its cap (the model list at 64 KiB, a brief at
// 1 MiB) long before its deadline, with the GUI thread held meanwhile; the
// list then reads as no server, the brief as an exchange that failed.
TEST_F(LocalModel, OversizedRepliesEndAtTheirCapWhateverTheGuiThreadDoes)
{
    using Kind = HostileModelServer::Kind;
    const auto generous = std::chrono::minutes(2);
    // Beyond the cap only the kernel's socket buffers (a few MiB here) take
    // more; a client that kept reading would take gigabytes meanwhile.
    const qint64 bound = 16 * 1024 * 1024;
    for (const auto kind : {Kind::endless, Kind::hugeLength, Kind::chunked}) {
        SCOPED_TRACE(static_cast<int>(kind));
        HostileModelServer list("/api/tags", kind);
        LocalModelServer listClient(list.port(), generous);
        std::optional<LanguageModelAvailability> state;
        listClient.availability(&receiver, [&](LanguageModelAvailability a) { state = a; });
        EXPECT_TRUE(holdGuiThreadUntil([&] { return list.clientClosed(); }));
        EXPECT_LT(list.sent(), bound) << "sent " << list.sent();
        ASSERT_TRUE(QTest::qWaitFor([&] { return state.has_value(); }, 10'000));
        EXPECT_EQ(state, LanguageModelAvailability::notEnabled);

        HostileModelServer brief("/api/generate", kind);
        LocalModelServer briefClient(brief.port(), generous);
        std::optional<Outcome> outcome;
        briefClient.respond("i", "p", &receiver, [&](std::optional<std::string> reply, QString error) {
            outcome = Outcome{reply, error};
        });
        ASSERT_TRUE(QTest::qWaitFor([&] { return brief.hostileRequests() == 1; }, 10'000));
        EXPECT_TRUE(holdGuiThreadUntil([&] { return brief.clientClosed(); }));
        EXPECT_LT(brief.sent(), bound) << "sent " << brief.sent();
        ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 10'000));
        EXPECT_FALSE(outcome->reply);
        EXPECT_FALSE(outcome->error.isEmpty());
        const auto shown = explanationResult(outcome->reply, outcome->error, {}, {});
        EXPECT_EQ(shown, (ImpactExplanationResult{false, failureMessage()}));
    }
}

// A reply that trickles in never reaches its cap: its deadline, counted from
// the request, ends it though the GUI thread is held past it.
// A brief nobody waits for any more (its sheet closed) frees its connection
// at once rather than at the deadline.
TEST_F(LocalModel, AnAbandonedExchangeClosesItsConnection)
{
    HostileModelServer brief("/api/generate", HostileModelServer::Kind::trickle);
    LocalModelServer client(brief.port(), std::chrono::minutes(2));
    auto sheet = std::make_unique<QObject>();
    bool called = false;
    client.respond("i", "p", sheet.get(), [&](auto, auto) { called = true; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return brief.hostileRequests() == 1; }, 10'000));
    sheet.reset();
    EXPECT_TRUE(holdGuiThreadUntil([&] { return brief.clientClosed(); }));
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
}

// An answer on its way to the GUI thread when its server goes is dropped:
// the server is not there to carry the exchange on.
TEST_F(LocalModel, AnAnswerOutlivingItsServerIsDropped)
{
    HostileModelServer port("/api/generate", HostileModelServer::Kind::trickle);
    auto client = std::make_unique<LocalModelServer>(port.port());
    bool called = false;
    client->respond("i", "p", &receiver, [&](auto, auto) { called = true; });
    EXPECT_TRUE(holdGuiThreadUntil([&] { return port.listsTaken() == 1; }));
    client.reset();
    // Its answer was posted before its thread ended.
    QCoreApplication::processEvents();
    EXPECT_FALSE(called);
    EXPECT_EQ(port.hostileRequests(), 0);
}

TEST_F(LocalModel, TheDeadlineRunsFromTheRequestWhateverTheGuiThreadDoes)
{
    HostileModelServer list("/api/tags", HostileModelServer::Kind::trickle);
    LocalModelServer listClient(list.port(), 400ms);
    std::optional<LanguageModelAvailability> state;
    listClient.availability(&receiver, [&](LanguageModelAvailability a) { state = a; });
    EXPECT_TRUE(holdGuiThreadUntil([&] { return list.clientClosed(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return state.has_value(); }, 10'000));
    EXPECT_EQ(state, LanguageModelAvailability::notEnabled);

    HostileModelServer brief("/api/generate", HostileModelServer::Kind::trickle);
    LocalModelServer briefClient(brief.port(), 400ms);
    std::optional<Outcome> outcome;
    briefClient.respond("i", "p", &receiver,
                        [&](std::optional<std::string> reply, QString error) { outcome = Outcome{reply, error}; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return brief.hostileRequests() == 1; }, 10'000));
    EXPECT_TRUE(holdGuiThreadUntil([&] { return brief.clientClosed(); }));
    ASSERT_TRUE(QTest::qWaitFor([&] { return outcome.has_value(); }, 10'000));
    EXPECT_FALSE(outcome->reply);
    EXPECT_EQ(outcome->error, "The local model did not answer in time.");
}

}  // namespace
}  // namespace corvalent

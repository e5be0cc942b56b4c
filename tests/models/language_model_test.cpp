// The local model server client against a small HTTP server on 127.0.0.1
// that answers as the model server's API does.
#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include "core/impact_explanation.h"
#include "models/language_model.h"

namespace corvalent {
namespace {

using namespace std::chrono_literals;

struct Request {
    QByteArray method, path, body;
};
struct Answer {
    int status = 200;
    QByteArray body;
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
        socket->write("HTTP/1.1 " + QByteArray::number(reply->status) +
                      " X\r\nContent-Type: application/json\r\n"
                      "Connection: close\r\nContent-Length: " +
                      QByteArray::number(reply->body.size()) + "\r\n\r\n" + reply->body);
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
    handle = server.respond("i", "p", &receiver, [&](auto, auto) { called = true; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return api.requests.size() == 2; }, 10'000));
    QTest::qWait(200);
    EXPECT_FALSE(called);

    auto gone = std::make_unique<QObject>();
    server.respond("i", "p", gone.get(), [&](auto, auto) { called = true; });
    gone.reset();
    QTest::qWait(300);
    EXPECT_FALSE(called);
}

}  // namespace
}  // namespace corvalent

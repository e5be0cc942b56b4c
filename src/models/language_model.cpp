#include "models/language_model.h"

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

#include "core/process/impact_explanation.h"
#include "models/loopback_http.h"
#include "models/preferences.h"

namespace corvalent {

namespace {

using Clock = std::chrono::steady_clock;

// The model list comes back fast or not at all; only a reply takes long.
constexpr std::chrono::milliseconds tagsDeadline = std::chrono::seconds(5);

}  // namespace

// The exchanges' side of the server, on a thread of its own: neither a flood
// of reply data nor a busy GUI thread can then delay a deadline or the end of
// a reply that passed its cap.
class LocalModelServer::Link : public QObject {
public:
    using Abandoned = std::shared_ptr<std::atomic<bool>>;

    void start(LoopbackHttpRequest request, Abandoned abandoned,
               std::function<void(LoopbackHttpAnswer)> finished)
    {
        if (*abandoned) return;
        std::erase_if(exchanges_, [](const auto& entry) { return entry.first.isNull(); });
        auto* exchange = new LoopbackHttpExchange(std::move(request), std::move(finished), this);
        exchanges_.emplace_back(exchange, std::move(abandoned));
        exchange->start();
    }

    // The receiver of these exchanges is gone: nobody waits for them.
    void abandon(const Abandoned& abandoned)
    {
        for (const auto& [exchange, flag] : exchanges_)
            if (flag == abandoned && !exchange.isNull()) exchange->abort();
    }

private:
    std::vector<std::pair<QPointer<LoopbackHttpExchange>, Abandoned>> exchanges_;
};

LocalModelServer::LocalModelServer(quint16 port, std::chrono::milliseconds replyDeadline)
    : port_(port), replyDeadline_(replyDeadline), link_(new Link)
{
    thread_.setObjectName(QStringLiteral("local model"));
    link_->moveToThread(&thread_);
    QObject::connect(&thread_, &QThread::finished, link_, &QObject::deleteLater);
    thread_.start();
}

LocalModelServer::~LocalModelServer()
{
    // Exchanges still open end with the link, on its thread, unanswered.
    thread_.quit();
    thread_.wait();
}

QString LocalModelServer::chosenModel(const QStringList& models)
{
    const QString wanted = Preferences::standard().languageModel();
    if (wanted.isEmpty()) return models.value(0);
    // The server lists "name:tag"; a setting without a tag means the latest.
    for (const auto& name : models) {
        if (name == wanted || name == wanted + QStringLiteral(":latest")) return name;
    }
    return {};
}

void LocalModelServer::exchange(const QByteArray& path, const QByteArray& body, qint64 cap,
                                std::chrono::milliseconds deadline, QObject* receiver,
                                std::function<void(Answer)> done)
{
    LoopbackHttpRequest request;
    request.port = port_;
    request.method = body.isEmpty() ? "GET" : "POST";
    request.path = path;
    request.body = body;
    request.contentType = "application/json";
    request.cap = cap;
    request.deadline = Clock::now() + deadline;
    auto abandoned = std::make_shared<std::atomic<bool>>(false);
    Link* link = link_;
    // Queued to the link's thread; dropped with the link when the server goes first.
    if (receiver != nullptr)
        QObject::connect(receiver, &QObject::destroyed, link, [link, abandoned] {
            *abandoned = true;
            link->abandon(abandoned);
        });
    // The guards are made and read on the GUI thread only; the answer comes
    // back through the application object, which outlives every receiver,
    // and is dropped when the receiver or this server has gone meanwhile.
    QPointer<QObject> guard(receiver);
    std::weak_ptr<const bool> server = alive_;
    std::function<void(Answer)> finished = [guard, server, done = std::move(done)](Answer answer) mutable {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, server, done = std::move(done), answer = std::move(answer)]() mutable {
                if (guard && !server.expired()) done(std::move(answer));
            },
            Qt::QueuedConnection);
    };
    QMetaObject::invokeMethod(
        link,
        [link, request = std::move(request), abandoned, finished = std::move(finished)]() mutable {
            link->start(std::move(request), abandoned, std::move(finished));
        },
        Qt::QueuedConnection);
}

void LocalModelServer::fetchTags(QObject* receiver, std::function<void(Tags)> done)
{
    exchange("/api/tags", {}, modelListCap, std::min(replyDeadline_, tagsDeadline), receiver,
             [done = std::move(done)](Answer answer) {
                 if (answer.ending != Answer::Ending::complete) return done(std::nullopt);
                 const auto models = QJsonDocument::fromJson(answer.body).object().value(QStringLiteral("models"));
                 if (!models.isArray()) return done(std::nullopt);
                 QStringList names;
                 for (const auto& model : models.toArray()) {
                     const QString name = model.toObject().value(QStringLiteral("name")).toString();
                     if (!name.isEmpty()) names.append(name);
                 }
                 done(names);
             });
}

void LocalModelServer::availability(QObject* receiver, std::function<void(LanguageModelAvailability)> done)
{
    fetchTags(receiver, [done = std::move(done)](Tags tags) {
        if (!tags) return done(LanguageModelAvailability::notEnabled);
        done(chosenModel(*tags).isEmpty() ? LanguageModelAvailability::notReady : LanguageModelAvailability::available);
    });
}

std::shared_ptr<std::atomic<bool>> LocalModelServer::respond(
    const std::string& instructions, const std::string& prompt, QObject* receiver,
    std::function<void(std::optional<std::string>, QString)> done)
{
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    // The model is looked up afresh: the server's list may have changed
    // since availability was asked.
    fetchTags(receiver, [this, instructions, prompt, receiver, cancelled, done = std::move(done)](Tags tags) {
        if (*cancelled) return;
        if (!tags) return done(std::nullopt, QStringLiteral("The local model server did not answer."));
        const QString model = chosenModel(*tags);
        if (model.isEmpty()) return done(std::nullopt, QStringLiteral("The local model is not installed."));
        generate(model, instructions, prompt, receiver, cancelled, done);
    });
    return cancelled;
}

void LocalModelServer::generate(const QString& model, const std::string& instructions, const std::string& prompt,
                                QObject* receiver, std::shared_ptr<std::atomic<bool>> cancelled,
                                std::function<void(std::optional<std::string>, QString)> done)
{
    QJsonObject body{
        {QStringLiteral("model"), model},
        {QStringLiteral("system"), QString::fromStdString(instructions)},
        {QStringLiteral("prompt"), QString::fromStdString(prompt)},
        {QStringLiteral("stream"), false},
    };
    exchange("/api/generate", QJsonDocument(body).toJson(QJsonDocument::Compact), briefCap,
             replyDeadline_, receiver, [cancelled, done = std::move(done)](Answer answer) {
                 if (*cancelled) return;
                 switch (answer.ending) {
                     case Answer::Ending::timedOut:
                         return done(std::nullopt, QStringLiteral("The local model did not answer in time."));
                     case Answer::Ending::tooLarge:
                         return done(std::nullopt, QStringLiteral("The local model's answer was too long."));
                     case Answer::Ending::failed:
                     case Answer::Ending::complete: break;
                 }
                 const auto reply = QJsonDocument::fromJson(answer.body).object();
                 if (answer.ending == Answer::Ending::failed) {
                     const QString serverError = reply.value(QStringLiteral("error")).toString();
                     return done(std::nullopt, serverError.isEmpty() ? answer.errorText : serverError);
                 }
                 const auto response = reply.value(QStringLiteral("response"));
                 if (!response.isString())
                     return done(std::nullopt,
                                 QStringLiteral("The local model server sent an answer that could not be read."));
                 done(response.toString().toStdString(), {});
             });
}

QString availabilityMessage(LanguageModelAvailability availability)
{
    switch (availability) {
        case LanguageModelAvailability::available: return {};
        case LanguageModelAvailability::notEnabled:
            return QStringLiteral(
                "Start the local model server to get an on-device explanation. The known effects are still shown "
                "above.");
        case LanguageModelAvailability::notReady:
            return QStringLiteral("The local model is not ready yet. The known effects are still shown above.");
        case LanguageModelAvailability::unsupported:
            return QStringLiteral(
                "This computer does not support the local model. The known effects are still shown above.");
    }
    return QStringLiteral("The on-device model is unavailable. The known effects are still shown above.");
}

QString unsupportedSystemMessage()
{
    return QStringLiteral(
        "On-device explanations require a local model server. The known effects are still shown above.");
}

QString noInsightMessage()
{
    return QStringLiteral("The on-device model did not add a specific insight. Use the process facts above.");
}

QString failureMessage()
{
    return QStringLiteral("The on-device explanation could not be completed. Review the known effects above.");
}

QString loadingMessage()
{
    return QStringLiteral("Adding a concise summary…");
}

ImpactExplanationResult explanationResult(const std::optional<std::string>& reply, const QString& error,
                                          const ImpactAssessment& assessment,
                                          const std::map<std::int32_t, std::vector<int>>& listeningPorts)
{
    if (!reply || !error.isEmpty()) return {false, failureMessage()};
    try {
        const auto accepted = OnDeviceImpactExplainer::acceptedReply(*reply, assessment, listeningPorts);
        if (!accepted) return {false, noInsightMessage()};
        return {true, QString::fromStdString(*accepted)};
    } catch (const ImpactExplanationError&) {
        return {false, failureMessage()};
    }
}

}  // namespace corvalent

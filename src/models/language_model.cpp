#include "models/language_model.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSettings>
#include <QTimer>

#include "core/impact_explanation.h"

namespace corvalent {

namespace {

// The model list comes back fast or not at all; only a reply takes long.
constexpr std::chrono::milliseconds tagsDeadline = std::chrono::seconds(5);

QNetworkRequest loopbackRequest(const QUrl& url)
{
    QNetworkRequest request(url);
    // A redirect could point anywhere; the server is only ever this one.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    return request;
}

}  // namespace

LocalModelServer::LocalModelServer(quint16 port, std::chrono::milliseconds replyDeadline)
    : port_(port), replyDeadline_(replyDeadline), network_(std::make_unique<QNetworkAccessManager>())
{
    // http_proxy in the environment must not carry prompts to another host.
    network_->setProxy(QNetworkProxy::NoProxy);
}

LocalModelServer::~LocalModelServer() = default;

QUrl LocalModelServer::url(const QString& path) const
{
    QUrl url;
    url.setScheme(QStringLiteral("http"));
    url.setHost(QStringLiteral("127.0.0.1"));
    url.setPort(port_);
    url.setPath(path);
    return url;
}

QString LocalModelServer::chosenModel(const QStringList& models)
{
    const QString wanted = QSettings().value(QStringLiteral("languageModel")).toString();
    if (wanted.isEmpty()) return models.value(0);
    // The server lists "name:tag"; a setting without a tag means the latest.
    for (const auto& name : models) {
        if (name == wanted || name == wanted + QStringLiteral(":latest")) return name;
    }
    return {};
}

void LocalModelServer::watch(QNetworkReply* reply, QObject* receiver, std::chrono::milliseconds deadline,
                             std::function<void(QNetworkReply*, bool)> finished)
{
    auto timedOut = std::make_shared<bool>(false);
    auto* timer = new QTimer(reply);
    timer->setSingleShot(true);
    QObject::connect(timer, &QTimer::timeout, reply, [reply, timedOut] {
        *timedOut = true;
        reply->abort();
    });
    timer->start(deadline);
    QPointer<QObject> guard(receiver);
    if (receiver) QObject::connect(receiver, &QObject::destroyed, reply, &QNetworkReply::abort);
    QObject::connect(reply, &QNetworkReply::finished, reply, [reply, guard, timedOut, finished = std::move(finished)] {
        reply->deleteLater();
        if (guard) finished(reply, *timedOut);
    });
}

void LocalModelServer::fetchTags(QObject* receiver, std::function<void(Tags)> done)
{
    QNetworkReply* reply = network_->get(loopbackRequest(url(QStringLiteral("/api/tags"))));
    watch(reply, receiver, std::min(replyDeadline_, tagsDeadline),
          [done = std::move(done)](QNetworkReply* reply, bool) {
              if (reply->error() != QNetworkReply::NoError) return done(std::nullopt);
              const auto document = QJsonDocument::fromJson(reply->readAll());
              const auto models = document.object().value(QStringLiteral("models"));
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
    auto request = loopbackRequest(url(QStringLiteral("/api/generate")));
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    QNetworkReply* reply = network_->post(request, QJsonDocument(body).toJson(QJsonDocument::Compact));
    watch(reply, receiver, replyDeadline_, [cancelled, done = std::move(done)](QNetworkReply* reply, bool timedOut) {
        if (*cancelled) return;
        if (timedOut) return done(std::nullopt, QStringLiteral("The local model did not answer in time."));
        const auto answer = QJsonDocument::fromJson(reply->readAll()).object();
        if (reply->error() != QNetworkReply::NoError) {
            const QString serverError = answer.value(QStringLiteral("error")).toString();
            return done(std::nullopt, serverError.isEmpty() ? reply->errorString() : serverError);
        }
        const auto response = answer.value(QStringLiteral("response"));
        if (!response.isString())
            return done(std::nullopt, QStringLiteral("The local model server sent an answer that could not be read."));
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

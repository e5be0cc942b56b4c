#pragma once

// The language model that writes the impact review's brief, behind a small
// interface: tests give it a fake, the program a local model server on the
// loopback interface.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/process/impact_assessment.h"
#include "models/loopback_http.h"

namespace corvalent {

enum class LanguageModelAvailability { available, notEnabled, notReady, unsupported };

class LanguageModel {
public:
    virtual ~LanguageModel() = default;
    virtual bool platformSupported() const = 0;
    // Asynchronous; `done` runs on the GUI thread, and not at all once
    // `receiver` is gone.
    virtual void availability(QObject* receiver, std::function<void(LanguageModelAvailability)> done) = 0;
    // One fresh exchange: instructions + prompt. `done` gets the raw reply,
    // or nullopt and an error text, on the GUI thread; never after the handle
    // is set or `receiver` is gone.
    virtual std::shared_ptr<std::atomic<bool>> respond(
        const std::string& instructions, const std::string& prompt, QObject* receiver,
        std::function<void(std::optional<std::string> reply, QString error)> done) = 0;
};

// A model server on 127.0.0.1 that answers GET /api/tags and
// POST /api/generate. Only the port is configurable: requests never leave the
// loopback interface, through no proxy and no redirect. Any process may
// listen there, so nothing it sends is trusted: the exchanges run on a thread
// of their own, each reply is cut off past its cap, and each deadline counts
// from the request however busy the GUI thread is.
class LocalModelServer : public LanguageModel {
public:
    static constexpr quint16 defaultPort = 11434;
    static constexpr qint64 modelListCap = 64 * 1024;
    static constexpr qint64 briefCap = 1024 * 1024;

    // The model list's deadline is 5 s, or `replyDeadline` when shorter.
    explicit LocalModelServer(quint16 port = defaultPort,
                              std::chrono::milliseconds replyDeadline = std::chrono::seconds(30));
    ~LocalModelServer() override;
    LocalModelServer(const LocalModelServer&) = delete;
    LocalModelServer& operator=(const LocalModelServer&) = delete;

    bool platformSupported() const override { return true; }
    void availability(QObject* receiver, std::function<void(LanguageModelAvailability)> done) override;
    std::shared_ptr<std::atomic<bool>> respond(
        const std::string& instructions, const std::string& prompt, QObject* receiver,
        std::function<void(std::optional<std::string> reply, QString error)> done) override;

private:
    class Link;
    using Answer = LoopbackHttpAnswer;
    using Tags = std::optional<QStringList>;  // nullopt: no usable answer
    void fetchTags(QObject* receiver, std::function<void(Tags)> done);
    void generate(const QString& model, const std::string& instructions, const std::string& prompt, QObject* receiver,
                  std::shared_ptr<std::atomic<bool>> cancelled,
                  std::function<void(std::optional<std::string>, QString)> done);
    // Sends one request (a POST when `body` is not empty) from the exchange
    // thread. `done` runs once, on the GUI thread, unless `receiver` has gone
    // first, which also ends the exchange.
    void exchange(const QByteArray& path, const QByteArray& body, qint64 cap, std::chrono::milliseconds deadline,
                  QObject* receiver, std::function<void(Answer)> done);
    // The chosen model: the "languageModel" setting, else the server's first.
    static QString chosenModel(const QStringList& models);

    quint16 port_;
    std::chrono::milliseconds replyDeadline_;
    QThread thread_;
    Link* link_ = nullptr;  // lives on `thread_`
    std::shared_ptr<const bool> alive_ = std::make_shared<const bool>(true);
};

// The texts the impact review shows in place of a brief.
QString availabilityMessage(LanguageModelAvailability availability);  // empty for available
QString unsupportedSystemMessage();
QString noInsightMessage();
QString failureMessage();
QString loadingMessage();

// What one finished exchange comes to: the brief to show, or the message to
// show instead (no insight, empty reply and any error alike).
struct ImpactExplanationResult {
    bool ready = false;
    QString text;
    bool operator==(const ImpactExplanationResult&) const = default;
};
ImpactExplanationResult explanationResult(const std::optional<std::string>& reply, const QString& error,
                                          const ImpactAssessment& assessment,
                                          const std::map<std::int32_t, std::vector<int>>& listeningPorts);

}  // namespace corvalent

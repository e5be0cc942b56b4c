#pragma once

// The sheet that previews what stopping the selection would do, before
// anything is stopped: the action in plain words, what to check first, each
// group's card with the ports it listens on, and a short brief from the local
// language model when one is available. Its only action is "Done".

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <vector>

#include "models/background_task.h"
#include "models/vantle_model.h"

namespace corvalent {

class Button;
class ElidedLabel;
class ImpactGroupCard;
class LanguageModel;

class ImpactReviewView : public QDialog {
    Q_OBJECT

public:
    enum class Phase { loading, ready, unavailable };

    ImpactReviewView(ImpactReview review, LanguageModel& languageModel, QWidget* parent = nullptr);
    ~ImpactReviewView() override;

    const QString& reviewID() const { return review_.id; }
    Phase phase() const { return phase_; }
    // The brief, or the message shown in its place; empty while loading.
    QString explanation() const;
    const std::map<std::int32_t, std::vector<int>>& listeningPorts() const { return ports_; }
    std::vector<ImpactGroupCard*> cards() const { return cards_; }
    Button& doneButton() { return *done_; }

signals:
    // The probe has answered and the cards show its ports.
    void portsShown();

public slots:
    void done(int result) override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QWidget* buildHeader();
    QWidget* buildContent();
    QWidget* buildExplanation();
    QWidget* buildFooter();
    void probePorts();
    void askAvailability();
    void askModel();
    void setPhase(Phase phase, const QString& text);

    ImpactReview review_;
    LanguageModel& languageModel_;
    std::map<std::int32_t, std::vector<int>> ports_;
    Phase phase_ = Phase::loading;
    bool started_ = false;
    bool closed_ = false;
    BackgroundTask probe_;
    std::shared_ptr<std::atomic<bool>> exchange_;  // set to cancel the model's answer
    std::vector<ImpactGroupCard*> cards_;
    QWidget* explanationPanel_ = nullptr;
    QWidget* loadingRow_ = nullptr;
    ElidedLabel* explanationText_ = nullptr;
    Button* done_ = nullptr;
};

}  // namespace corvalent

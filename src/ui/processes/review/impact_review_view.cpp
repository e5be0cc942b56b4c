#include "ui/processes/review/impact_review_view.h"

#include <QHBoxLayout>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QScrollArea>
#include <QVBoxLayout>

#include "core/process/impact_explanation.h"
#include "core/process/impact_port_probe.h"
#include "models/language_model.h"
#include "ui/processes/review/impact_review_cards.h"
#include "ui/processes/review/impact_review_texts.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/sheet_header.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int sheetWidth = 680;
constexpr int sheetHeight = 650;
constexpr int padding = 26;
constexpr int washHeight = 190;

const QString title = QStringLiteral("Review this stop");

}  // namespace

ImpactReviewView::ImpactReviewView(ImpactReview review, LanguageModel& languageModel, QWidget* parent)
    : QDialog(parent), review_(std::move(review)), languageModel_(languageModel)
{
    setObjectName("impactReview");
    setWindowTitle(title);
    setAccessibleName(title);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(18);
    column->addWidget(buildHeader());
    column->addWidget(buildContent(), 1);
    column->addWidget(new Divider(Qt::Horizontal));
    column->addWidget(buildFooter());
    // On a smaller screen the groups scroll; the header and the footer with Done stay.
    new ScreenFit(*this, [] { return QSize(sheetWidth, sheetHeight); });
}

ImpactReviewView::~ImpactReviewView()
{
    if (exchange_) *exchange_ = true;
}

QWidget* ImpactReviewView::buildHeader()
{
    auto* header = new SheetHeader(
        {QStringLiteral("checkmark.shield.fill"), 22, ImpactReviewBlocks::teal(), 48, {14, 0.15}, Qt::AlignVCenter},
        title, QStringLiteral("A clear preview of what will close and what to check first"));
    header->setTextSpacing(3);
    header->title().setFont(CorvalentStyle::font(TextStyle::heroTitle));
    header->title().setObjectName("impactTitle");
    header->subtitle().setObjectName("impactSubtitle");
    header->subtitle().setWordWrap(false);
    auto* badge = new Badge(QStringLiteral("NORMAL STOP"), ImpactReviewBlocks::teal());
    badge->setObjectName("impactBadge");
    badge->setContentsMargins(10, 6, 10, 6);
    header->addTrailing(badge);
    return header;
}

QWidget* ImpactReviewView::buildContent()
{
    auto* content = new QWidget;
    content->setObjectName("impactContent");
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 4);
    column->setSpacing(16);
    const auto& assessment = review_.assessment;
    column->addWidget(ImpactReviewBlocks::actionSummary(assessment));
    if (auto* checks = ImpactReviewBlocks::checklist(assessment)) column->addWidget(checks);
    column->addWidget(buildExplanation());

    auto* groups = new QVBoxLayout;
    groups->setSpacing(10);
    auto* label = new ElidedLabel(QStringLiteral("WHAT WILL HAPPEN TO EACH GROUP"), CorvalentStyle::capitalsFont(0.7),
                                  Tones::secondary());
    label->setObjectName("impactGroupsLabel");
    groups->addWidget(label);
    for (const auto& group : assessment.groups) {
        cards_.push_back(new ImpactGroupCard(group));
        groups->addWidget(cards_.back());
    }
    if (const auto omitted = ImpactReviewTexts::omittedLine(assessment.omittedGroupCount); !omitted.isEmpty()) {
        auto* line = new ElidedLabel(omitted, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        line->setObjectName("impactOmitted");
        line->setWordWrap(true);
        groups->addWidget(line);
    }
    column->addLayout(groups);
    column->addStretch();

    auto* area = transparentScrollArea(content);
    area->setObjectName("impactScroll");
    area->setAccessibleName(QStringLiteral("Impact of this stop"));
    return area;
}

QWidget* ImpactReviewView::buildExplanation()
{
    auto* block = new PanelSurface(13);
    block->setObjectName("impactExplanation");
    block->setColours([](const QPalette& palette) { return CorvalentStyle::withAlpha(CorvalentStyle::panel(palette), 0.72); },
                      [](const QPalette& palette) { return CorvalentStyle::primary(palette, 0.07); });
    explanationPanel_ = block;
    auto* column = new QVBoxLayout(block);
    column->setContentsMargins(15, 15, 15, 15);
    column->setSpacing(9);
    column->addWidget(ImpactReviewBlocks::symbolLine(QStringLiteral("sparkles"),
                                                     QStringLiteral("Private plain-language summary"),
                                                     CorvalentStyle::font(TextStyle::headline), Tones::primary()));
    loadingRow_ = new QWidget;
    auto* row = new QHBoxLayout(loadingRow_);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(9);
    row->addWidget(new Spinner(14), 0, Qt::AlignVCenter);
    auto* waiting = new ElidedLabel(loadingMessage(), CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    waiting->setObjectName("impactLoading");
    row->addWidget(waiting, 1);
    column->addWidget(loadingRow_);
    explanationText_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::secondary());
    explanationText_->setObjectName("impactBrief");
    explanationText_->setWordWrap(true);
    explanationText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    explanationText_->hide();
    column->addWidget(explanationText_);
    return block;
}

QWidget* ImpactReviewView::buildFooter()
{
    auto* footer = new QWidget;
    auto* row = new QHBoxLayout(footer);
    row->setContentsMargins(0, 0, 0, 0);
    row->addWidget(ImpactReviewBlocks::symbolLine(QStringLiteral("lock.shield.fill"),
                                                  QStringLiteral("Preview only \u00b7 nothing has been stopped"),
                                                  CorvalentStyle::font(TextStyle::caption), Tones::secondary()),
                   1, Qt::AlignVCenter);
    done_ = new Button(Button::Kind::bordered, QStringLiteral("Done"), nullptr, Button::Size::large);
    done_->setObjectName("impactDone");
    connect(done_, &QAbstractButton::clicked, this, &QDialog::reject);
    row->addWidget(done_);
    return footer;
}

QString ImpactReviewView::explanation() const
{
    return phase_ == Phase::loading ? QString() : explanationText_->text();
}

void ImpactReviewView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    done_->setFocus(Qt::OtherFocusReason);
    if (started_) return;
    started_ = true;
    probePorts();
}

// The probe waits on lsof, so it runs off the GUI thread. Its answer is kept
// even when the sheet has closed meanwhile; only the brief stops there.
void ImpactReviewView::probePorts()
{
    auto records = review_.records;
    probe_ = BackgroundTask::start(
        this, [records = std::move(records)](std::stop_token) { return ImpactPortProbe::listeningPorts(records); },
        [this](ImpactPortProbe::PortMap ports) {
            ports_ = std::move(ports);
            for (auto* card : cards_) card->showPorts(ports_);
            emit portsShown();
            if (closed_) return;
            if (!languageModel_.platformSupported()) return setPhase(Phase::unavailable, unsupportedSystemMessage());
            askAvailability();
        },
        {.lane = TaskLane::processes, .deliverAfterStop = true});
}

void ImpactReviewView::askAvailability()
{
    languageModel_.availability(this, [this](LanguageModelAvailability availability) {
        if (closed_) return;
        if (availability != LanguageModelAvailability::available)
            return setPhase(Phase::unavailable, availabilityMessage(availability));
        askModel();
    });
}

// Nothing reaches the model unless the sheet is open; closing it cancels the answer.
void ImpactReviewView::askModel()
{
    exchange_ = languageModel_.respond(
        OnDeviceImpactExplainer::instructions(), OnDeviceImpactExplainer::prompt(review_.assessment, ports_), this,
        [this](std::optional<std::string> reply, QString error) {
            if (closed_) return;
            const auto result = explanationResult(reply, error, review_.assessment, ports_);
            setPhase(result.ready ? Phase::ready : Phase::unavailable, result.text);
        });
}

void ImpactReviewView::setPhase(Phase phase, const QString& text)
{
    AppMotion::fadeOutCover(explanationPanel_, CorvalentStyle::windowBackground(palette()));
    phase_ = phase;
    loadingRow_->hide();
    explanationText_->setText(text);
    explanationText_->setTone(phase == Phase::ready ? Tones::primary() : Tones::secondary());
    explanationText_->show();
}

void ImpactReviewView::done(int result)
{
    closed_ = true;
    if (exchange_) *exchange_ = true;
    QDialog::done(result);
}

// The window background with a teal wash at the top, which fades out
// downwards as well as across, so it has no edge of its own.
void ImpactReviewView::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(rect(), CorvalentStyle::windowBackground(palette()));
    const QRect top(0, 0, width(), washHeight);
    QImage wash(top.size() * devicePixelRatioF(), QImage::Format_ARGB32_Premultiplied);
    wash.setDevicePixelRatio(devicePixelRatioF());
    wash.fill(Qt::transparent);
    QPainter layer(&wash);
    QLinearGradient across(0, 0, width(), washHeight);
    across.setColorAt(0, CorvalentStyle::withAlpha(ImpactReviewBlocks::teal(), 0.1));
    across.setColorAt(0.5, CorvalentStyle::withAlpha(ImpactReviewBlocks::cyan(), 0.05));
    across.setColorAt(1, Qt::transparent);
    layer.fillRect(top, across);
    layer.setCompositionMode(QPainter::CompositionMode_DestinationIn);
    QLinearGradient down(0, 0, 0, washHeight);
    down.setColorAt(0.4, Qt::black);
    down.setColorAt(1, Qt::transparent);
    layer.fillRect(top, down);
    layer.end();
    painter.drawImage(top, wash);
}

}  // namespace corvalent

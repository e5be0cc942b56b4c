#include "ui/disk/review/cleanup_guide_sheet.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>
#include <stop_token>

#include "models/background_task.h"
#include "ui/desktop/file_reveal.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/sheet_header.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int sheetWidth = 540;
constexpr int padding = 24;
constexpr int stepsPadding = 16;
constexpr int numberSide = 22;
constexpr int numberGap = 10;

const QString copySymbol = QStringLiteral("doc.on.doc");
const QString copiedSymbol = QStringLiteral("checkmark");

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// The step's number on a small teal tile.
QWidget* stepNumber(int number)
{
    auto* tile = new PanelSurface(5);
    tile->setColours(Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.08)),
                     Tones::fixed(Qt::transparent));
    tile->setFixedSize(numberSide, numberSide);
    auto* layout = new QHBoxLayout(tile);
    layout->setContentsMargins(0, 0, 0, 0);
    auto* label = new ElidedLabel(QLocale().toString(number), CorvalentStyle::font(TextStyle::caption, QFont::Bold),
                                  Tones::fixed(CorvalentStyle::teal()));
    label->setObjectName("guideStepNumber");
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    return tile;
}

}  // namespace

std::optional<QUrl> documentationLink(const std::optional<std::string>& address)
{
    if (!address) return std::nullopt;
    QUrl url(QString::fromStdString(*address), QUrl::StrictMode);
    const auto scheme = url.scheme();
    if (!url.isValid() || (scheme != "http" && scheme != "https") || url.host().isEmpty()) return std::nullopt;
    return url;
}

DiskCleanupGuideView::DiskCleanupGuideView(DiskCleanupGuide guide, QWidget* parent)
    : QDialog(parent), guide_(std::move(guide))
{
    setObjectName("cleanupGuide");
    setWindowTitle(text(guide_.title));
    setAccessibleName(text(guide_.title));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(20);
    column->addWidget(buildHeader());
    // On a smaller screen the steps and commands scroll; Done stays.
    auto* body = new QWidget;
    auto* parts = new QVBoxLayout(body);
    parts->setContentsMargins(0, 0, 0, 0);
    parts->setSpacing(20);
    parts->addWidget(buildSteps(), 0, Qt::AlignLeft);
    if (!guide_.commands.empty()) parts->addWidget(buildCommands());
    parts->addWidget(buildCaution());
    auto* area = sheetScrollArea(body, sheetWidth - 2 * padding);
    area->setObjectName("guideScroll");
    area->setAccessibleName(QStringLiteral("Steps"));
    column->addWidget(area);
    column->addLayout(buildFooter());
    // As tall as the content at the fixed width, as far as the screen allows.
    new ScreenFit(*this, [this] { return layoutSizeAt(*this, sheetWidth); });
}

QWidget* DiskCleanupGuideView::buildHeader()
{
    auto* header =
        new SheetHeader({QStringLiteral("wrench.and.screwdriver.fill"), 20, CorvalentStyle::teal(), 42, {9, 0.09}},
                        text(guide_.title), text(guide_.summary));
    header->title().setObjectName("guideTitle");
    header->subtitle().setObjectName("guideSummary");
    return header;
}

// As wide as its longest step needs, up to the sheet's width; drawn even
// without steps.
QWidget* DiskCleanupGuideView::buildSteps()
{
    auto* panel = new PanelSurface(12);
    panel->setObjectName("guideSteps");
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(stepsPadding, stepsPadding, stepsPadding, stepsPadding);
    column->setSpacing(13);
    const auto font = CorvalentStyle::font(TextStyle::callout);
    const QFontMetrics metrics(font);
    int widest = 0;
    for (std::size_t index = 0; index < guide_.steps.size(); ++index) {
        auto* row = new QHBoxLayout;
        row->setSpacing(numberGap);
        row->addWidget(stepNumber(static_cast<int>(index) + 1), 0, Qt::AlignTop);
        const auto step = text(guide_.steps[index]);
        auto* label = new ElidedLabel(step, font, Tones::primary());
        label->setObjectName("guideStep");
        label->setWordWrap(true);
        row->addWidget(label, 1);
        column->addLayout(row);
        widest = std::max(widest, metrics.horizontalAdvance(step) + 1);
    }
    const int rows = guide_.steps.empty() ? 0 : numberSide + numberGap + widest;
    panel->setFixedWidth(std::min(sheetWidth - 2 * padding, 2 * stepsPadding + rows));
    return panel;
}

QWidget* DiskCleanupGuideView::buildCommands()
{
    auto* section = new QWidget;
    section->setObjectName("guideCommands");
    auto* column = new QVBoxLayout(section);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(8);
    column->addWidget(new ElidedLabel(QStringLiteral("OPTIONAL TERMINAL COMMANDS"), CorvalentStyle::capitalsFont(0.55),
                                      Tones::secondary()));
    for (const auto& each : guide_.commands) {
        const auto command = text(each);
        auto* row = new PanelSurface(7);
        row->setColours(Tones::primary(0.035), CorvalentStyle::softBorder);
        row->setFixedHeight(36);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(11, 0, 11, 0);
        layout->setSpacing(10);
        // A plain label, so the mouse can select part of the command.
        auto* label = new QLabel(command);
        label->setObjectName("guideCommand");
        label->setTextFormat(Qt::PlainText);
        label->setFont(CorvalentStyle::monospaced(TextStyle::caption));
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        layout->addWidget(label, 1);
        auto* copy = new Button(Button::Kind::plain, {});
        copy->setObjectName("guideCopy");
        copy->setAccessibleDescription(command);
        connect(copy, &QAbstractButton::clicked, this, [this, command] { this->copy(command); });
        layout->addWidget(copy);
        commandRows_.push_back({command, copy});
        column->addWidget(row);
    }
    showCopyMarks();
    column->addWidget(new ElidedLabel(QStringLiteral("Corvalent never runs these commands."),
                                      CorvalentStyle::font(TextStyle::caption2), Tones::secondary()));
    return section;
}

QWidget* DiskCleanupGuideView::buildCaution()
{
    auto* caution = new QWidget;
    auto* row = new QHBoxLayout(caution);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(QStringLiteral("exclamationmark.triangle"), 12, Tones::secondary()), 0, Qt::AlignTop);
    auto* label = new ElidedLabel(text(guide_.caution), CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    label->setObjectName("guideCaution");
    label->setWordWrap(true);
    row->addWidget(label, 1);
    return caution;
}

QLayout* DiskCleanupGuideView::buildFooter()
{
    auto* footer = new QHBoxLayout;
    if (const auto link = documentationLink(guide_.documentationURL)) {
        auto* documentation = new Button(Button::Kind::link, QStringLiteral("Official documentation"));
        documentation->setObjectName("guideDocumentation");
        documentation->setSymbol(QStringLiteral("arrow.up.right.square"));
        documentation->setFont(CorvalentStyle::font(TextStyle::caption, QFont::Medium));
        documentation->setToolTip(link->toString());
        // The opener is looked up and started off the GUI thread: a PATH folder
        // on a share that does not answer holds that lane, never the window.
        connect(documentation, &QAbstractButton::clicked, this, [url = link->toString(QUrl::FullyEncoded).toStdString()] {
            BackgroundTask::start(
                QCoreApplication::instance(), [url](std::stop_token) { return openWithDesktop(url); }, [](bool) {},
                {.userInitiated = true, .ownThread = true});
        });
        footer->addWidget(documentation);
    }
    footer->addStretch();
    done_ = new Button(Button::Kind::prominent, QStringLiteral("Done"));
    done_->setObjectName("guideDone");
    done_->setDefault(true);
    connect(done_, &QAbstractButton::clicked, this, &QDialog::accept);
    footer->addWidget(done_);
    return footer;
}

void DiskCleanupGuideView::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    done_->setFocus(Qt::OtherFocusReason);
}

// Replaces whatever the clipboard held, of any type, with the command alone.
void DiskCleanupGuideView::copy(const QString& command)
{
    QGuiApplication::clipboard()->setText(command);
    copiedCommand_ = command;
    showCopyMarks();
}

void DiskCleanupGuideView::showCopyMarks()
{
    for (const auto& row : commandRows_) {
        const bool copied = copiedCommand_ == row.command;
        row.copy->setSymbol(copied ? copiedSymbol : copySymbol);
        const auto hint = copied ? QStringLiteral("Copied") : QStringLiteral("Copy command");
        row.copy->setToolTip(hint);
        row.copy->setAccessibleName(hint);
    }
}

}  // namespace corvalent

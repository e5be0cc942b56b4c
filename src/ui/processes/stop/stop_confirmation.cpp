#include "ui/processes/stop/stop_confirmation.h"

#include <QHBoxLayout>
#include <QScrollArea>
#include <QVBoxLayout>

#include "ui/widgets/buttons.h"
#include "ui/widgets/confirmation_keys.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/note_panel.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/sheet_header.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

namespace StopTexts {

QString title(bool force)
{
    return force ? QStringLiteral("Force stop?") : QStringLiteral("Ready to stop?");
}

QString subtitle(std::size_t records)
{
    return QString::number(records) + QStringLiteral(" selected ") +
           (records == 1 ? QStringLiteral("process") : QStringLiteral("processes"));
}

QString methodNote(bool force)
{
    return force ? QStringLiteral("Force stop ends processes immediately. Unsaved work can be lost; interrupted "
                                  "database writes can require recovery.")
                 : QStringLiteral("Apps receive a normal quit request when the complete app is selected. Individual "
                                  "helpers receive a termination signal and may not prompt to save.");
}

QString recordLine(const ProcessRecord& record)
{
    return QString::fromStdString(record.name) + QStringLiteral(" \u00b7 PID ") + QString::number(record.pid);
}

QString reassurance()
{
    return QStringLiteral("No files are deleted. Protection is checked again before stopping.");
}

QString confirmTitle(bool force)
{
    return force ? QStringLiteral("Force stop") : QStringLiteral("Stop processes");
}

}  // namespace StopTexts

namespace {

constexpr int sheetWidth = 540;
constexpr int padding = 26;
constexpr int listHeight = 250;

QColor accent(bool force)
{
    return force ? CorvalentStyle::orange() : CorvalentStyle::teal();
}

}  // namespace

StopConfirmation::StopConfirmation(VantleModel& model, StopRequest request, QWidget* parent)
    : QDialog(parent), model_(model), request_(std::move(request))
{
    setObjectName("stopConfirmation");
    setWindowTitle(StopTexts::title(request_.force));
    setAccessibleName(StopTexts::title(request_.force));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(18);
    column->addWidget(buildHeader());
    column->addWidget(buildNote());
    column->addWidget(buildList());
    column->addWidget(buildReassurance());

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    cancel_ = new Button(Button::Kind::bordered, QStringLiteral("Cancel"));
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel_);
    confirm_ = new Button(request_.force ? Button::Kind::destructive : Button::Kind::prominent,
                          StopTexts::confirmTitle(request_.force));
    confirm_->setObjectName("confirmStop");
    connect(confirm_, &QAbstractButton::clicked, this, &StopConfirmation::confirm);
    buttons->addWidget(confirm_);
    column->addLayout(buttons);
    guardConfirmation(*this, *cancel_, *confirm_);
    // On a smaller screen the list gives way; the buttons stay.
    new ScreenFit(*this, [this] { return layoutSizeAt(*this, sheetWidth); });
}

QWidget* StopConfirmation::buildHeader()
{
    const bool force = request_.force;
    const SheetHeader::Symbol glyph{force ? "exclamationmark.triangle.fill" : "stop.circle.fill",
                                    22,
                                    accent(force),
                                    44,
                                    {12, 0.11},
                                    Qt::AlignVCenter};
    auto* header = new SheetHeader(glyph, StopTexts::title(force), StopTexts::subtitle(request_.records.size()));
    header->setTextSpacing(2);
    header->symbol().setObjectName("stopGlyph");
    header->title().setObjectName("stopTitle");
    header->subtitle().setObjectName("stopSubtitle");
    header->subtitle().setWordWrap(false);
    return header;
}

QWidget* StopConfirmation::buildNote()
{
    auto* note = new NotePanel(accent(request_.force));
    note->addText(StopTexts::methodNote(request_.force), CorvalentStyle::font(TextStyle::callout), Tones::primary())
        ->setObjectName("stopNote");
    return note;
}

// The impacts, a hairline, then every record: the area bounds the height,
// never the count.
QWidget* StopConfirmation::buildList()
{
    auto* content = new QWidget;
    content->setObjectName("stopList");
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(10);
    for (const auto& impact : request_.impacts) {
        auto* text = new ElidedLabel(QString::fromStdString(impact), CorvalentStyle::font(TextStyle::callout),
                                     Tones::primary());
        text->setObjectName("stopImpact");
        text->setWordWrap(true);
        column->addWidget(text);
    }
    column->addWidget(new Divider(Qt::Horizontal));
    for (const auto& record : request_.records) {
        auto* line =
            new ElidedLabel(StopTexts::recordLine(record), CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        line->setObjectName("stopRecord");
        column->addWidget(line);
    }
    column->addStretch();

    auto* area = sheetScrollArea(content, sheetWidth - 2 * padding, listHeight);
    area->setObjectName("stopScroll");
    area->setAccessibleName(QStringLiteral("Processes to stop"));
    return area;
}

QWidget* StopConfirmation::buildReassurance()
{
    auto* line = new QWidget;
    auto* row = new QHBoxLayout(line);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(QStringLiteral("lock.shield.fill"), 12, Tones::secondary()), 0, Qt::AlignVCenter);
    auto* text =
        new ElidedLabel(StopTexts::reassurance(), CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    text->setObjectName("stopReassurance");
    row->addWidget(text, 1);
    return line;
}

// Only the request this sheet shows may be carried out; the model clears it
// (closing the sheet) before it stops anything.
void StopConfirmation::confirm()
{
    const auto& current = model_.request();
    if (!current || current->id != request_.id) return;
    model_.stop(request_);
}

}  // namespace corvalent

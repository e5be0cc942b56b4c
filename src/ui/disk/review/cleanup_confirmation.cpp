#include "ui/disk/review/cleanup_confirmation.h"

#include <QHBoxLayout>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <algorithm>

#include "core/common/display.h"
#include "models/disk_model.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/sidebar/disk_rows.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/confirmation_keys.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/sheet_header.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

namespace CleanupConfirmationTexts {

QString title()
{
    return QStringLiteral("Move to Trash?");
}

QString subtitle()
{
    return QStringLiteral("Corvalent will recheck this exact item before asking the system to move it.");
}

QString trashNote()
{
    return QStringLiteral(
        "The item goes to Trash, not permanent deletion. Space is reclaimed only after Trash is "
        "emptied; Undo remains available in this session.");
}

QString moveToTrash()
{
    return QStringLiteral("Move to Trash");
}

QString checking()
{
    return QStringLiteral("Checking\u2026");
}

}  // namespace CleanupConfirmationTexts

namespace {

namespace Texts = CleanupConfirmationTexts;

constexpr int sheetWidth = 520;
constexpr int padding = 24;

QString text(std::string_view value)
{
    return QString::fromUtf8(value.data(), static_cast<qsizetype>(value.size()));
}

// A titled paragraph of the item panel: the title in small capitals, the
// value wrapped to its full height.
QWidget* confirmationDetail(const QString& title, const QString& value)
{
    auto* detail = new QWidget;
    auto* column = new QVBoxLayout(detail);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(3);
    auto* caption = new ElidedLabel(title.toUpper(), CorvalentStyle::capitalsFont(0.5), Tones::secondary());
    caption->setObjectName("confirmationDetailTitle");
    column->addWidget(caption);
    auto* body = new ElidedLabel(value, CorvalentStyle::font(TextStyle::callout), Tones::primary());
    body->setObjectName("confirmationDetailValue");
    body->setWordWrap(true);
    column->addWidget(body);
    return detail;
}

}  // namespace

DiskCleanupConfirmation::DiskCleanupConfirmation(DiskModel& model, DiskCleanupCandidate candidate,
                                                 FileRevealer& revealer, QWidget* parent)
    : QDialog(parent),
      model_(model),
      candidate_(std::move(candidate)),
      revealer_(revealer),
      openedAt_(std::chrono::system_clock::now())
{
    setObjectName("cleanupConfirmation");
    setWindowTitle(Texts::title());
    setAccessibleName(Texts::title());
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(padding, padding, padding, padding);
    column->setSpacing(20);
    column->addWidget(buildHeader());
    // On a smaller screen the item and the note scroll; the buttons stay.
    auto* body = new QWidget;
    auto* details = new QVBoxLayout(body);
    details->setContentsMargins(0, 0, 0, 0);
    details->setSpacing(20);
    details->addWidget(buildItemPanel());
    details->addWidget(buildTrashNote());
    auto* area = sheetScrollArea(body, sheetWidth - 2 * padding);
    area->setObjectName("confirmationScroll");
    area->setAccessibleName(QStringLiteral("Item to move"));
    column->addWidget(area);
    message_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::fixed(CorvalentStyle::orange()));
    message_->setObjectName("confirmationMessage");
    message_->setWordWrap(true);
    column->addWidget(message_);
    revealMessage_ = new MessageLine(this);
    revealMessage_->setObjectName("confirmationRevealMessage");
    column->addWidget(revealMessage_);

    auto* buttons = new QHBoxLayout;
    reveal_ = new Button(Button::Kind::plain, revealInFileManager);
    connect(reveal_, &QAbstractButton::clicked, this, [this] { reveal(); });
    buttons->addWidget(reveal_);
    buttons->addStretch();
    cancel_ = new Button(Button::Kind::bordered, QStringLiteral("Cancel"));
    // Closing while a move runs does not stop it: the model finishes it.
    connect(cancel_, &QAbstractButton::clicked, this, &QDialog::reject);
    buttons->addWidget(cancel_);
    move_ = new Button(Button::Kind::prominent, Texts::moveToTrash());
    move_->setObjectName("moveToTrash");
    // As wide in both of its states, so the row does not shift.
    move_->setBusy(true);
    move_->setText(Texts::checking());
    const int checkingWidth = move_->sizeHint().width();
    move_->setBusy(false);
    move_->setText(Texts::moveToTrash());
    move_->setMinimumWidth(std::max(checkingWidth, move_->sizeHint().width()));
    connect(move_, &QAbstractButton::clicked, this, &DiskCleanupConfirmation::move);
    buttons->addWidget(move_);
    column->addLayout(buttons);
    // Tab reaches the move so that it needs no pointer, but no key that
    // confirms by habit does: Space on it, a click or an assistive press.
    guardConfirmation(*this, *cancel_, *move_);
    screenFit_ = new ScreenFit(*this, [this] { return layoutSizeAt(*this, sheetWidth); });

    connect(&model_, &DiskModel::trashChanged, this, &DiskCleanupConfirmation::refresh);
    // The page never offers a protected item; should one arrive anyway, it
    // is not even examined and the move stays disabled.
    if (candidate_.canMoveToTrash())
        prepare(false);
    else
        refresh();
}

QWidget* DiskCleanupConfirmation::buildHeader()
{
    const bool safe = candidate_.safety == DiskCleanupSafety::safe;
    const auto colour = safe ? CorvalentStyle::teal() : CorvalentStyle::orange();
    const SheetHeader::Symbol shield{
        safe ? "checkmark.shield.fill" : "exclamationmark.shield.fill", 21, colour, 42, {10, 0.1}};
    auto* header = new SheetHeader(shield, Texts::title(), Texts::subtitle());
    header->symbol().setObjectName("confirmationShield");
    return header;
}

QWidget* DiskCleanupConfirmation::buildItemPanel()
{
    auto* panel = new PanelSurface(13);
    panel->setObjectName("confirmationItem");
    auto* column = new QVBoxLayout(panel);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(12);

    auto* nameRow = new QHBoxLayout;
    nameRow->setSpacing(10);
    const auto headline = CorvalentStyle::font(TextStyle::headline);
    auto* name = new ElidedLabel(text(candidate_.name()), headline, Tones::primary());
    name->setObjectName("confirmationName");
    name->setElideMode(Qt::ElideMiddle);
    nameRow->addWidget(name, 1, Qt::AlignBottom);
    auto* size = new ElidedLabel(text(Display::bytes(candidate_.bytes)), headline, Tones::primary());
    size->setObjectName("confirmationSize");
    size->setShrinks(false);
    nameRow->addWidget(size, 0, Qt::AlignBottom);
    column->addLayout(nameRow);

    auto* path =
        new ElidedLabel(text(candidate_.path), CorvalentStyle::monospaced(TextStyle::caption), Tones::secondary());
    path->setObjectName("confirmationPath");
    path->setElideMode(Qt::ElideMiddle);
    path->setMaximumLines(2);
    column->addWidget(path);
    column->addWidget(new Divider(Qt::Horizontal));

    column->addWidget(confirmationDetail(QStringLiteral("Why it appeared"), text(candidate_.reason)));
    column->addWidget(confirmationDetail(QStringLiteral("What may happen"), text(candidate_.consequence)));
    if (!candidate_.activeOwners.empty()) {
        QStringList owners;
        for (const auto& owner : candidate_.activeOwners) owners << text(owner);
        column->addWidget(confirmationDetail(QStringLiteral("Running now"), owners.join(QStringLiteral(", "))));
    }
    return panel;
}

QWidget* DiskCleanupConfirmation::buildTrashNote()
{
    auto* note = new QWidget;
    auto* row = new QHBoxLayout(note);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    row->addWidget(new SymbolView(QStringLiteral("arrow.uturn.backward.circle"), 12, Tones::secondary()), 0,
                   Qt::AlignTop);
    auto* text = new ElidedLabel(Texts::trashNote(), CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    text->setObjectName("confirmationTrashNote");
    text->setWordWrap(true);
    row->addWidget(text, 1);
    return note;
}

// Pins the item's identity. A retry after a refusal prepares again and,
// once the item passes, moves it at once.
void DiskCleanupConfirmation::prepare(bool thenMove)
{
    preparing_ = true;
    refusal_.reset();
    refresh();
    const QPointer<DiskCleanupConfirmation> self(this);
    const auto since = model_.cleanupOutcome().serial;
    model_.prepareTrash(candidate_, [self, thenMove, since](std::optional<DiskTrashRequest> request) {
        if (!self) return;  // closed meanwhile
        self->preparing_ = false;
        if (!request) {
            // Refused: the move stays off whatever the model says of it.
            auto outcome = self->ownOutcome(DiskCleanupOutcome::Action::prepare, since);
            if (!outcome) outcome = DiskCleanupOutcome{.refusal = DiskTrashError::Kind::identityChanged};
            self->refused(std::move(outcome));
            return;
        }
        self->request_ = std::move(request);
        self->refresh();
        if (thenMove) self->move();
    });
}

void DiskCleanupConfirmation::move()
{
    if (preparing_ || !candidate_.canMoveToTrash() || model_.cleanupInProgress()) return;
    if (!request_) return prepare(true);
    // A failed move keeps the pinned identity: a retry moves the reviewed
    // item or nothing, never whatever took its place.
    refusal_.reset();
    pressedAt_ = model_.cleanupOutcome().serial;
    const QPointer<DiskCleanupConfirmation> self(this);
    model_.moveToTrash(*request_, [self] {
        if (self) self->moveEnded();
    });
}

void DiskCleanupConfirmation::moveEnded()
{
    if (movedSinceOpening()) {
        accept();
        return;
    }
    // A move the model ignored (another one ran) says nothing of this item.
    auto outcome = ownOutcome(DiskCleanupOutcome::Action::move, pressedAt_);
    if (outcome && !outcome->succeeded) return refused(std::move(outcome));
    refresh();
}

std::optional<DiskCleanupOutcome> DiskCleanupConfirmation::ownOutcome(DiskCleanupOutcome::Action action,
                                                                      std::uint64_t since) const
{
    const auto& outcome = model_.cleanupOutcome();
    if (outcome.action != action || outcome.serial <= since) return std::nullopt;
    if (outcome.path == candidate_.path || (request_ && outcome.path == request_->identity.path)) return outcome;
    return std::nullopt;
}

void DiskCleanupConfirmation::refused(std::optional<DiskCleanupOutcome> outcome)
{
    refusal_ = std::move(outcome);
    refresh();
    if (message_->isVisibleTo(this)) announce(*message_);
}

// A receipt made before the sheet opened is an earlier move of the same path,
// not this one. The executor records the normalised path, which is the
// pinned identity's.
bool DiskCleanupConfirmation::movedSinceOpening() const
{
    for (const auto& receipt : model_.recentTrash()) {
        if (receipt.movedAt < openedAt_) continue;
        if (receipt.originalPath == candidate_.path || (request_ && receipt.originalPath == request_->identity.path))
            return true;
    }
    return false;
}

void DiskCleanupConfirmation::refresh()
{
    const bool busy = preparing_ || model_.cleanupInProgress();
    move_->setText(busy ? Texts::checking() : Texts::moveToTrash());
    move_->setAccessibleName(move_->text());
    move_->setBusy(busy);
    // After a refusal of its item, whatever it was, the sheet offers no move:
    // a sheet opened again examines the item anew.
    const bool movable = !busy && candidate_.canMoveToTrash() && !refusal_;
    // A move pressed from the keyboard leaves the focus on Cancel, which
    // stays usable while it runs, not on whatever follows in the row.
    if (!movable && move_->hasFocus()) cancel_->setFocus(Qt::OtherFocusReason);
    move_->setEnabled(movable);

    // Only what this sheet's own item came to: never the model's message
    // about another item, nor an earlier move's.
    std::optional<QString> message;
    if (!candidate_.canMoveToTrash())
        message = QString::fromUtf8(DiskTrashError(DiskTrashError::Kind::protectedPath).what());
    else if (refusal_ && !refusal_->message.isEmpty())
        message = refusal_->message;
    if (message) {
        message_->setText(*message);
        message_->setAccessibleName(*message);
    }
    message_->setVisible(!busy && message.has_value());
    // As tall as its content, as far as the screen allows.
    screenFit_->fit();
}

// Where nothing can show the item, the sheet says so itself; an answer that
// comes after it has closed goes to the page.
void DiskCleanupConfirmation::reveal()
{
    revealer_.revealReporting(candidate_.path,
                              [sheet = QPointer(this), page = revealer_.failure()](const std::string& path) {
                                  if (sheet) {
                                      sheet->revealMessage_->say(revealFailureText(path));
                                      sheet->screenFit_->fit();
                                  } else if (page) {
                                      page(path);
                                  }
                              });
}

}  // namespace corvalent

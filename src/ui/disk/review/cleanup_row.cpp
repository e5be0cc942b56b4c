#include "ui/disk/review/cleanup_row.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QMenu>
#include <QVBoxLayout>

#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view_state.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

ElidedLabel* text(const QFont& font, Tone tone)
{
    return new ElidedLabel({}, font, std::move(tone));
}

// A borderless action in the card's small type.
Button* action(Button::Kind kind, const QString& title, QWidget* parent)
{
    auto* button = new Button(kind, title, parent);
    button->setFont(CorvalentStyle::font(TextStyle::caption, QFont::Medium));
    return button;
}

}  // namespace

QString cleanupSymbol(const DiskCleanupCandidate& candidate)
{
    using C = DiskCleanupCategory;
    switch (candidate.category) {
    case C::cache: return QStringLiteral("shippingbox.fill");
    case C::logs: return QStringLiteral("doc.text.fill");
    case C::downloads: return QStringLiteral("arrow.down.circle.fill");
    case C::developer: return QStringLiteral("hammer.fill");
    case C::installer: return QStringLiteral("archivebox.fill");
    case C::application: return QStringLiteral("app.fill");
    case C::container: return QStringLiteral("cube.box.fill");
    case C::personal: return QStringLiteral("doc.fill");
    case C::system: return QStringLiteral("lock.shield.fill");
    case C::cloud: return QStringLiteral("icloud.fill");
    case C::database: return QStringLiteral("cylinder.fill");
    case C::other: break;
    }
    return candidate.isDirectory ? QStringLiteral("folder.fill") : QStringLiteral("doc.fill");
}

Tone safetyTone(DiskCleanupSafety safety)
{
    switch (safety) {
    case DiskCleanupSafety::safe: return Tones::fixed(CorvalentStyle::teal());
    case DiskCleanupSafety::review: return Tones::fixed(CorvalentStyle::orange());
    case DiskCleanupSafety::protected_: break;
    }
    return Tones::secondary();
}

QString safetyBadgeText(DiskCleanupSafety safety)
{
    switch (safety) {
    case DiskCleanupSafety::safe: return QStringLiteral("LOW RISK");
    case DiskCleanupSafety::review: return QStringLiteral("REVIEW");
    case DiskCleanupSafety::protected_: break;
    }
    return QStringLiteral("PROTECTED");
}

Badge* cleanupBadge(DiskCleanupSafety safety)
{
    return new Badge(safetyBadgeText(safety), safetyTone(safety),
                     Badge::Look{.tracking = 0.45, .padding = {7, 4, 7, 4}, .fillOpacity = 0.09});
}

QString activeOwnersText(const std::vector<std::string>& owners)
{
    if (owners.empty()) return {};
    QStringList shown;
    for (std::size_t i = 0; i < owners.size() && i < 2; ++i) shown << QString::fromStdString(owners[i]);
    return QStringLiteral("In use by ") + shown.join(QStringLiteral(", "));
}

CleanupRow::CleanupRow(const DiskCleanupCandidate& candidate, const DiskRowContext& context, QWidget* parent)
    : PanelSurface(10, parent), context_(context)
{
    setObjectName("cleanupRow");
    setColours(Tones::primary(0.025), CorvalentStyle::softBorder);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(11, 11, 11, 11);
    column->setSpacing(8);

    auto* header = rowLayout(10);
    symbol_ = new SymbolView({}, 15, Tones::secondary(), {20, 20});
    header->addWidget(symbol_, 0, Qt::AlignVCenter);
    auto* naming = new QVBoxLayout;
    naming->setSpacing(2);
    name_ = text(CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary());
    name_->setElideMode(Qt::ElideMiddle);
    category_ = text(CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    naming->addWidget(name_);
    naming->addWidget(category_);
    header->addLayout(naming, 1);
    header->addSpacing(8);
    size_ = text(CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    size_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    size_->setShrinks(false);
    header->addWidget(size_, 0, Qt::AlignVCenter);
    column->addLayout(header);

    reason_ = text(CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    reason_->setWordWrap(true);
    column->addWidget(reason_);

    owners_ = new QWidget(this);
    auto* owners = rowLayout(4);
    owners_->setLayout(owners);
    const auto orange = Tones::fixed(CorvalentStyle::orange());
    owners->addWidget(new SymbolView("waveform.path.ecg", 10, orange, {12, 12}), 0, Qt::AlignVCenter);
    ownersText_ = text(CorvalentStyle::font(TextStyle::caption2, QFont::Medium), orange);
    owners->addWidget(ownersText_, 1);
    column->addWidget(owners_);

    auto* actions = rowLayout(6);
    badge_ = cleanupBadge(DiskCleanupSafety::review);
    actions->addWidget(badge_, 0, Qt::AlignVCenter);
    actions->addStretch(1);
    howToClean_ = action(Button::Kind::plain, QStringLiteral("How to clean"), this);
    reveal_ = action(Button::Kind::plain, QStringLiteral("Reveal"), this);
    review_ = action(Button::Kind::link, QStringLiteral("Review\u2026"), this);
    for (auto* button : {howToClean_, reveal_, review_}) actions->addWidget(button);
    column->addLayout(actions);

    connect(howToClean_, &QAbstractButton::clicked, this, [this] {
        if (guide_) context_.state.setCleanupGuide(guide_);
    });
    connect(reveal_, &QAbstractButton::clicked, this, [this] { context_.revealer.reveal(candidate_.path); });
    connect(review_, &QAbstractButton::clicked, this, [this] {
        if (candidate_.canMoveToTrash()) context_.state.setCleanupCandidate(candidate_);
    });

    present(candidate);
}

void CleanupRow::setCandidate(const DiskCleanupCandidate& candidate)
{
    if (candidate != candidate_) present(candidate);
}

void CleanupRow::present(const DiskCleanupCandidate& candidate)
{
    candidate_ = candidate;
    // Looked up once per state: it decides the guide button and menu entry.
    guide_ = DiskCleanupGuides::guide(candidate_);

    const auto name = QString::fromStdString(std::string(candidate_.name()));
    const auto size = bytesText(candidate_.bytes);
    setAccessibleName(name + QStringLiteral(", ") + size);
    symbol_->setSymbol(cleanupSymbol(candidate_));
    symbol_->setTone(safetyTone(candidate_.safety));
    name_->setText(name);
    category_->setText(QString::fromStdString(std::string(rawValue(candidate_.category))));
    size_->setText(size);
    reason_->setText(QString::fromStdString(candidate_.reason));
    ownersText_->setText(activeOwnersText(candidate_.activeOwners));
    owners_->setVisible(!candidate_.activeOwners.empty());
    badge_->setText(safetyBadgeText(candidate_.safety));
    badge_->setTone(safetyTone(candidate_.safety));
    howToClean_->setVisible(guide_.has_value());
    review_->setVisible(candidate_.canMoveToTrash());
    // Every card has these buttons: the item's name tells them apart.
    for (auto* button : {howToClean_, reveal_, review_}) button->setAccessibleDescription(name);
}

QStringList CleanupRow::texts() const
{
    QStringList shown{name_->text(), category_->text(), size_->text(), reason_->text()};
    if (owners_->isVisibleTo(this)) shown << ownersText_->text();
    shown << badge_->text();
    return shown;
}

QStringList CleanupRow::actions() const
{
    QStringList offered;
    for (auto* button : {howToClean_, reveal_, review_})
        if (button->isVisibleTo(this)) offered << button->text();
    return offered;
}

QColor CleanupRow::badgeColour() const
{
    return badge_->colour();
}

std::unique_ptr<QMenu> CleanupRow::contextMenu()
{
    auto menu = diskItemMenu(context_, candidate_.path, candidate_);
    if (guide_) {
        if (!menu) menu = std::make_unique<QMenu>();
        QObject::connect(menu->addAction(showSafeCleanupGuide), &QAction::triggered,
                         [state = &context_.state, guide = *guide_] { state->setCleanupGuide(guide); });
    }
    return menu;
}

// Also reached from the buttons inside, which leave the menu to the card.
void CleanupRow::contextMenuEvent(QContextMenuEvent* event)
{
    const bool byKey = event->reason() == QContextMenuEvent::Keyboard;
    const auto at = byKey ? mapToGlobal(QPoint(width() / 3, height() / 2)) : event->globalPos();
    if (auto menu = contextMenu()) menu->exec(at);
}

}  // namespace corvalent

#include "ui/disk/sidebar/duplicate_card.h"

#include <QEvent>
#include <QFontMetricsF>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>
#include <initializer_list>
#include <unordered_map>
#include <utility>

#include "models/disk_model.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/sidebar/duplicate_copy_texts.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/focus_handoff.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr std::size_t shownGroupLimit = 3;
constexpr int symbolSize = 12;
// Borderless buttons inside rows stand no taller than the row's text needs.
constexpr int rowButtonHeight = 22;

ElidedLabel* label(const QString& text, const QFont& font, Tone tone)
{
    return new ElidedLabel(text, font, std::move(tone));
}

Button* rowButton(Button::Kind kind, const QString& text, const QFont& font)
{
    auto* button = new Button(kind, text);
    button->setFont(font);
    button->setFixedHeight(rowButtonHeight);
    return button;
}

Tone teal()
{
    return Tones::fixed(CorvalentStyle::teal());
}

QString groupFilesText(const DiskDuplicateGroup& group)
{
    const auto count = group.files.size();
    return QString::number(count) + (count == 1 ? QStringLiteral(" file \u00b7 ") : QStringLiteral(" files \u00b7 ")) +
           bytesText(group.logicalBytesPerFile) + QStringLiteral(" each");
}

QString groupRecoverableText(const DiskDuplicateGroup& group)
{
    return QStringLiteral("Up to ") + bytesText(group.estimatedRecoverableBytes) + QStringLiteral(" locally allocated");
}

// Out of the layout at once, deleted once the events that reach it now are done.
void discard(QLayout& layout, QWidget* widget)
{
    layout.removeWidget(widget);
    widget->hide();
    widget->deleteLater();
}

}  // namespace

void VerifiedDuplicateSetBlock::addRow(QGridLayout& grid, const DiskFile& file, DiskDuplicateCopyRole role,
                                       DiskModel& model, DiskViewState& state, FileRevealer& revealer)
{
    DuplicateCopyRow row{file.path, role};
    const int line = static_cast<int>(rows_.size());
    const auto path = QString::fromStdString(file.path);
    row.text = label(path, CorvalentStyle::monospaced(TextStyle::caption2), Tones::secondary());
    row.text->setElideMode(Qt::ElideMiddle);
    setLiteralToolTip(*row.text, path);
    grid.addWidget(row.text, line, 0);

    const auto buttonFont = CorvalentStyle::font(TextStyle::caption2);
    row.reveal = rowButton(Button::Kind::plain, QStringLiteral("Reveal"), buttonFont);
    row.reveal->setAccessibleDescription(path);
    connect(row.reveal, &QAbstractButton::clicked, this, [&revealer, path = file.path] { revealer.reveal(path); });
    grid.addWidget(row.reveal, line, 1);

    switch (role) {
    case DiskDuplicateCopyRole::keep:
        grid.addWidget(label(QStringLiteral("Keep"), buttonFont, Tones::secondary()), line, 2);
        break;
    case DiskDuplicateCopyRole::protected_: {
        auto* lock = new SymbolView("lock.fill", symbolSize - 1, Tones::secondary());
        lock->setToolTip(QStringLiteral("Protected"));
        lock->setAccessibleName(QStringLiteral("Protected"));
        grid.addWidget(lock, line, 2, Qt::AlignLeft | Qt::AlignVCenter);
        break;
    }
    case DiskDuplicateCopyRole::review:
        row.review = rowButton(Button::Kind::link, QStringLiteral("Review\u2026"), buttonFont);
        row.review->setAccessibleDescription(path);
        // Classified when pressed, so the sheet shows the owners running now.
        connect(row.review, &QAbstractButton::clicked, this, [&model, &state, file] {
            auto candidate = model.cleanupCandidate(file.path, file.bytes, false, DiskScannedItem::of(file));
            if (candidate.canMoveToTrash()) state.setCleanupCandidate(std::move(candidate));
        });
        grid.addWidget(row.review, line, 2, Qt::AlignLeft | Qt::AlignVCenter);
        break;
    }
    rows_.push_back(row);
}

VerifiedDuplicateSetBlock::VerifiedDuplicateSetBlock(const DiskVerifiedDuplicateSet& set,
                                                     const std::vector<DiskDuplicateCopyRole>& roles, DiskModel& model,
                                                     DiskViewState& state, FileRevealer& revealer, QWidget* parent)
    : PanelSurface(8, parent)
{
    setObjectName("verifiedDuplicateSet");
    setColours(Tones::fixed(CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.045)), Tones::fixed(Qt::transparent));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(8, 8, 8, 8);
    column->setSpacing(5);
    title_ = label(QString::number(set.files.size()) + QStringLiteral(" identical \u00b7 up to ") +
                       bytesText(set.estimatedRecoverableBytes),
                   CorvalentStyle::font(TextStyle::caption2, QFont::DemiBold), teal());
    column->addLayout(symbolLine(new SymbolView("checkmark.seal.fill", symbolSize, teal()), title_));
    auto* grid = new QGridLayout;
    grid->setContentsMargins(0, 0, 0, 0);
    grid->setHorizontalSpacing(7);
    grid->setVerticalSpacing(0);
    grid->setColumnStretch(0, 1);
    for (std::size_t i = 0; i < set.files.size() && i < roles.size(); ++i)
        addRow(*grid, set.files[i], roles[i], model, state, revealer);
    keepPartingFolders();
    column->addLayout(grid);
    column->addWidget(wrappedLabel(QStringLiteral("Corvalent keeps the first copy selected above."),
                              CorvalentStyle::font(TextStyle::caption2), Tones::fixed(CorvalentStyle::orange())));
}

QString VerifiedDuplicateSetBlock::titleText() const
{
    return title_->text();
}

void VerifiedDuplicateSetBlock::keepPartingFolders()
{
    std::vector<QString> paths;
    for (const auto& row : rows_) paths.push_back(QString::fromStdString(row.path));
    const auto parts = duplicateCopyParts(paths);
    for (std::size_t i = 0; i < rows_.size(); ++i)
        rows_[i].text->setShortener([kept = parts[i]](const QString& text, const QFontMetricsF& metrics, double width) {
            return duplicateCopyText(text, kept, metrics, width);
        });
}

DuplicateGroupBlock::DuplicateGroupBlock(const DiskDuplicateGroup& group, DiskModel& model, DiskViewState& state,
                                         FileRevealer& revealer, QWidget* parent)
    : QWidget(parent), model_(model), state_(state), revealer_(revealer), group_(group)
{
    setObjectName("duplicateGroup");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 3, 0, 3);
    column->setSpacing(7);

    auto* row = new QHBoxLayout;
    row->setContentsMargins(0, 0, 0, 0);
    auto* figures = new QVBoxLayout;
    figures->setSpacing(2);
    files_ = label({}, CorvalentStyle::font(TextStyle::caption, QFont::Medium), Tones::primary());
    recoverable_ = label({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    figures->addWidget(files_);
    figures->addWidget(recoverable_);
    row->addLayout(figures, 1);

    // The three controls share the row's end; one shows at a time.
    const auto actionFont = CorvalentStyle::font(TextStyle::caption, QFont::DemiBold);
    verify_ = rowButton(Button::Kind::link, QStringLiteral("Verify"), actionFont);
    connect(verify_, &QAbstractButton::clicked, this, [this] { model_.verifyDuplicates(group_); });
    stop_ = rowButton(Button::Kind::plain, QStringLiteral("Stop"), actionFont);
    connect(stop_, &QAbstractButton::clicked, this, [this] { model_.cancelDuplicateVerification(); });
    seal_ = new SymbolView("checkmark.seal.fill", 14, teal(), {18, 18});
    seal_->setAccessibleName(QStringLiteral("Verified"));
    seal_->setToolTip(QStringLiteral("Verified"));
    for (auto* control : std::initializer_list<QWidget*>{verify_, stop_, seal_}) row->addWidget(control);
    stop_->hide();
    seal_->hide();
    column->addLayout(row);

    differ_ = new QWidget(this);
    differ_->setLayout(symbolLine(
        new SymbolView("equal.circle", symbolSize, Tones::secondary()),
        label(QStringLiteral("Contents differ"), CorvalentStyle::font(TextStyle::caption2), Tones::secondary())));
    differ_->hide();
    column->addWidget(differ_);
    results_ = new QVBoxLayout;
    results_->setContentsMargins(0, 0, 0, 0);
    results_->setSpacing(7);
    column->addLayout(results_);
    sync();
}

QString DuplicateGroupBlock::filesText() const
{
    return files_->text();
}

QString DuplicateGroupBlock::recoverableText() const
{
    return recoverable_->text();
}

bool DuplicateGroupBlock::contentsDiffer() const
{
    return differ_->isVisibleTo(this);
}

FocusHandOn DuplicateGroupBlock::sync()
{
    const auto left = model_.duplicateCopiesLeft(group_);
    files_->setText(groupFilesText(left));
    recoverable_->setText(groupRecoverableText(left));
    verify_->setAccessibleDescription(files_->text());

    const auto& verified = model_.verifiedDuplicateSets();
    const auto found = verified.find(group_.id);
    const auto* sets = found == verified.end() ? nullptr : &found->second;
    const auto& verifying = model_.verifyingDuplicateGroupID();
    const auto action = verifying == group_.id ? Action::stop : sets != nullptr ? Action::verified : Action::verify;
    // With fewer than two copies left outside every Trash there is nothing to compare.
    const bool verifiable = model_.copiesOutsideTrash(left.files) >= 2;
    auto wanted = builtFrom(sets);
    const bool rebuilds = built_ != wanted;

    // The focus of the control or copy that goes, taken before anything
    // turns off or hides.
    std::vector<QWidget*> held{control(action_)};
    std::vector<std::pair<std::string, bool>> copies{{}};  // each button's copy, and whether it is its review
    for (auto* block : sets_)
        for (const auto& row : block->rows())
            for (auto* button : {static_cast<QWidget*>(row.reveal), static_cast<QWidget*>(row.review)})
                if (button != nullptr) {
                    held.push_back(button);
                    copies.emplace_back(row.path, button == row.review);
                }
    FocusHandOn focus(held, [&](QWidget* control) {
        return control == held.front() ? action != action_ || (action == Action::verify && !verifiable) : rebuilds;
    });

    // One verification at a time: the others wait for it.
    verify_->setEnabled(!verifying.has_value());
    showAction(action);
    verify_->setVisible(action == Action::verify && verifiable);
    if (rebuilds) rebuildSets(sets, std::move(wanted));
    if (!focus.from()) return focus;
    if (*focus.from() == 0) {
        // Verify leads to Stop and back; a verification to the first copy it found.
        focus.handTo({control(action_), firstCopyButton()});
        return focus;
    }
    // A copy's button: the same one again, else the next copy still shown.
    std::unordered_map<std::string, const DuplicateCopyRow*> shown;
    for (auto* block : sets_)
        for (const auto& row : block->rows()) shown.emplace(row.path, &row);
    const auto actionOf = [](const DuplicateCopyRow& row) -> QWidget* {
        return row.review != nullptr ? row.review : row.reveal;
    };
    const auto& [path, review] = copies[*focus.from()];
    QWidget* same = nullptr;
    if (const auto found = shown.find(path); found != shown.end())
        same = review ? actionOf(*found->second) : found->second->reveal;
    QWidget* next = nullptr;
    for (auto later = copies.begin() + static_cast<std::ptrdiff_t>(*focus.from()); later != copies.end(); ++later)
        if (const auto found = shown.find(later->first); later->first != path && found != shown.end()) {
            next = actionOf(*found->second);
            break;
        }
    // A set that went back to unverified leaves its group's Verify.
    focus.handTo({same, next, control(action_)});
    return focus;
}

QWidget* DuplicateGroupBlock::control(Action action) const
{
    QWidget* const controls[] = {verify_, stop_, seal_};
    return controls[static_cast<int>(action)];
}

QWidget* DuplicateGroupBlock::firstCopyButton() const
{
    for (auto* block : sets_)
        if (!block->rows().empty()) return block->rows().front().reveal;
    return nullptr;
}

void DuplicateGroupBlock::showAction(Action action)
{
    if (action == action_) return;
    QWidget* from = control(action_);
    action_ = action;
    control(action)->show();
    from->hide();
}

DuplicateGroupBlock::Built DuplicateGroupBlock::builtFrom(const std::vector<DiskVerifiedDuplicateSet>* sets) const
{
    Built built;
    if (sets != nullptr) {
        built.sets.emplace();
        // A set with one copy left, or none, has nothing left to show.
        for (auto& left : model_.duplicateSetsLeft(*sets)) {
            built.roles.push_back(model_.duplicateCopyRoles(left));
            built.sets->push_back(std::move(left));
        }
    }
    return built;
}

void DuplicateGroupBlock::rebuildSets(const std::vector<DiskVerifiedDuplicateSet>* sets, Built wanted)
{
    // A button of a block may be the one whose press led here.
    for (auto* block : sets_) discard(*results_, block);
    sets_.clear();
    differ_->setVisible(sets != nullptr && sets->empty());
    if (wanted.sets) {
        for (std::size_t i = 0; i < wanted.sets->size(); ++i) {
            auto* block =
                new VerifiedDuplicateSetBlock((*wanted.sets)[i], wanted.roles[i], model_, state_, revealer_, this);
            results_->addWidget(block);
            sets_.push_back(block);
        }
    }
    built_ = std::move(wanted);
}

DuplicateCard::DuplicateCard(DiskModel& model, DiskViewState& state, FileRevealer& revealer, QWidget* parent)
    : PanelSurface(10, parent), model_(model), state_(state), revealer_(revealer)
{
    setObjectName("duplicateCard");
    setColours(Tones::primary(0.025), CorvalentStyle::softBorder);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(12, 12, 12, 12);
    column->setSpacing(10);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    const auto headerFont = CorvalentStyle::font(TextStyle::caption, QFont::DemiBold);
    header->addLayout(symbolLine(new SymbolView("doc.on.doc", symbolSize, Tones::primary()),
                                 label(QStringLiteral("Possible duplicates"), headerFont, Tones::primary())),
                      1);
    count_ = label({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    count_->setShrinks(false);
    header->addWidget(count_);
    column->addLayout(header);
    column->addWidget(wrappedLabel(
        QStringLiteral("Matched by file size. Verify reads only these files locally and compares their full contents."),
        CorvalentStyle::font(TextStyle::caption2), Tones::secondary()));

    groupColumn_ = new QVBoxLayout;
    groupColumn_->setContentsMargins(0, 0, 0, 0);
    groupColumn_->setSpacing(10);
    column->addLayout(groupColumn_);
    message_ = wrappedLabel({}, CorvalentStyle::font(TextStyle::caption2), Tones::secondary());
    message_->setObjectName("duplicateMessage");
    message_->hide();
    column->addWidget(message_);
    column->addWidget(
        wrappedLabel(QStringLiteral(
                    "File system clones and shared blocks can make actual recovered space smaller than the estimate."),
                CorvalentStyle::font(TextStyle::caption2), Tones::tertiary()));

    // Trash and insights change which copies are gone or protected.
    for (auto signal : {&DiskModel::resultChanged, &DiskModel::duplicatesChanged, &DiskModel::trashChanged,
                        &DiskModel::insightsChanged})
        connect(&model_, signal, this, &DuplicateCard::sync);
    sync();
}

QString DuplicateCard::countText() const
{
    return count_->text();
}

QString DuplicateCard::messageText() const
{
    return message_->isVisibleTo(this) ? message_->text() : QString();
}

void DuplicateCard::sync()
{
    static const std::vector<DiskDuplicateGroup> none;
    const auto& result = model_.result();
    const auto& groups = result ? result->potentialDuplicateGroups : none;
    const auto shown = std::min(groups.size(), shownGroupLimit);
    if (groups.size() != groupCount_ || !std::equal(groups.begin(), groups.begin() + static_cast<std::ptrdiff_t>(shown),
                                                    shownGroups_.begin(), shownGroups_.end()))
        rebuildGroups(groups);
    for (std::size_t i = 0; i < blocks_.size(); ++i) {
        // What a group could not hand on goes to the next group's Verify,
        // else past the card.
        auto focus = blocks_[i]->sync();
        if (i + 1 < blocks_.size()) focus.handTo({&blocks_[i + 1]->verifyButton()});
        if (focus.from()) focusLeft_ = std::move(focus);
    }

    const auto& message = model_.duplicateMessage();
    message_->setText(message.value_or(QString()));
    message_->setVisible(message.has_value());
    syncVisibility();
}

FocusHandOn DuplicateCard::takeFocusLeft()
{
    return std::exchange(focusLeft_, {});
}

void DuplicateCard::rebuildGroups(const std::vector<DiskDuplicateGroup>& groups)
{
    for (auto* widget : blocks_) discard(*groupColumn_, widget);
    for (auto* widget : dividers_) discard(*groupColumn_, widget);
    blocks_.clear();
    dividers_.clear();
    groupCount_ = groups.size();
    shownGroups_.assign(groups.begin(),
                        groups.begin() + static_cast<std::ptrdiff_t>(std::min(groups.size(), shownGroupLimit)));
    count_->setText(QString::number(groupCount_));
    for (const auto& group : shownGroups_) {
        if (!blocks_.empty()) {
            auto* divider = new Divider(Qt::Horizontal, 0, this);
            groupColumn_->addWidget(divider);
            dividers_.push_back(divider);
        }
        auto* block = new DuplicateGroupBlock(group, model_, state_, revealer_, this);
        groupColumn_->addWidget(block);
        blocks_.push_back(block);
    }
}

// Without groups there is nothing to show. A card without a parent is not
// shown here, which would make it a window of its own.
void DuplicateCard::syncVisibility()
{
    if (blocks_.empty())
        hide();
    else if (!isWindow())
        show();
}

void DuplicateCard::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ParentChange) syncVisibility();
    PanelSurface::changeEvent(event);
}

}  // namespace corvalent

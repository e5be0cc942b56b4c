#include "ui/disk/sidebar/disk_rows.h"

#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>
#include <utility>

#include "core/disk/disk.h"
#include "core/common/utf8.h"
#include "models/disk_model.h"
#include "ui/desktop/file_reveal.h"
#include "ui/disk/disk_view_state.h"
#include "ui/disk/map/sunburst_segments.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/display_formats.h"
#include "ui/widgets/indicators.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr double rowRadius = 9;
constexpr int symbolSize = 15;
constexpr QSize iconFrame{21, 21};
const QMargins rowMargins{10, 8, 10, 8};

// Buttons keep at least their preferred width; rows give way to the column
// and let their names and folders elide instead.
void fitColumn(QWidget& row)
{
    row.setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    row.setContentsMargins(rowMargins);
}

ElidedLabel* oneLine(const QString& value, const QFont& font, Tone tone)
{
    return new ElidedLabel(value, font, std::move(tone));
}

// The size at the trailing edge, never shortened.
ElidedLabel* sizeLabel(std::uint64_t bytes)
{
    auto* label = oneLine(bytesText(bytes), CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label->setShrinks(false);
    return label;
}

// Name over detail, sharing what the row leaves them.
QVBoxLayout* nameOverDetail(ElidedLabel* name, ElidedLabel* detail)
{
    auto* block = new QVBoxLayout;
    block->setContentsMargins(0, 0, 0, 0);
    block->setSpacing(3);
    block->addWidget(name);
    block->addWidget(detail);
    return block;
}

// Where a menu opened from the keyboard appears: over the row, not at its corner.
QPoint keyboardMenuPosition(const QWidget& row)
{
    return row.mapToGlobal(QPoint(row.width() / 3, row.height() / 2));
}

// Return and Enter activate a row as Space does; the menu key opens its
// menu. Some platforms turn the menu key into a context-menu event of their
// own, which comes first: the key that follows it is then spent.
template <typename Row>
bool handledKey(Row& row, const QKeyEvent& event, bool& platformMenu)
{
    if (event.key() == Qt::Key_Return || event.key() == Qt::Key_Enter) {
        row.click();
        return true;
    }
    if (event.key() != Qt::Key_Menu) return false;
    if (!std::exchange(platformMenu, false)) row.openMenu(keyboardMenuPosition(row));
    return true;
}

template <typename Row>
void showContextMenu(Row& row, const QContextMenuEvent& event, bool& platformMenu)
{
    const bool byKey = event.reason() == QContextMenuEvent::Keyboard;
    if (byKey) platformMenu = true;
    row.openMenu(byKey ? keyboardMenuPosition(row) : event.globalPos());
}

// "42% · 1,234 files": the share rounded half away from zero, not clamped.
QString breakdownDetail(double share, std::int64_t fileCount)
{
    const auto percent = static_cast<long long>(std::llround(share * 100));
    return QString::number(percent) + QStringLiteral("% \u00b7 ") + groupedCount(fileCount) + QStringLiteral(" files");
}

}  // namespace

std::unique_ptr<QMenu> diskItemMenu(const DiskRowContext& context, const std::optional<std::string>& path,
                                    const std::optional<DiskCleanupCandidate>& candidate)
{
    auto menu = std::make_unique<QMenu>();
    // The actions hold copies: the row may be rebuilt while the menu is open.
    if (path)
        QObject::connect(menu->addAction(revealInFileManager), &QAction::triggered,
                         [revealer = &context.revealer, path = *path] { revealer->reveal(path); });
    if (candidate && candidate->canMoveToTrash())
        QObject::connect(menu->addAction(reviewMoveToTrash), &QAction::triggered,
                         [state = &context.state, candidate = *candidate] { state->setCleanupCandidate(candidate); });
    if (menu->isEmpty()) return nullptr;
    return menu;
}

DiskBreakdownRow::DiskBreakdownRow(const DiskNode& node, int index, std::uint64_t total, const DiskRowContext& context,
                                   QWidget* parent)
    : QAbstractButton(parent),
      context_(context),
      id_(node.id),
      path_(node.path),
      bytes_(node.bytes),
      isDirectory_(node.isDirectory),
      scanned_(DiskScannedItem::of(node)),
      opens_(node.isDirectory && !node.children.empty()),
      directFiles_(node.id.ends_with(directFilesSuffix)),
      colour_(DiskPalette::color(index)),
      share_(static_cast<double>(node.bytes) / static_cast<double>(std::max<std::uint64_t>(total, 1)))
{
    setObjectName("breakdownRow");
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    fitColumn(*this);
    const auto name = QString::fromStdString(node.name);
    const auto size = bytesText(node.bytes);
    setAccessibleName(name + ", " + size);

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(11);
    auto* strip = new StateDot;
    strip->setFixedSize(5, 34);
    strip->setColour(CorvalentStyle::withAlpha(colour_, 0.9));
    row->addWidget(strip);
    row->addWidget(new SymbolView(isDirectory_ ? "folder.fill" : "doc.fill", symbolSize,
                                  isDirectory_ ? Tones::fixed(colour_) : Tones::secondary(), iconFrame));
    detail_ = oneLine(breakdownDetail(share_, node.fileCount), CorvalentStyle::font(TextStyle::caption2),
                      Tones::secondary());
    row->addLayout(nameOverDetail(oneLine(name, CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary()),
                             detail_),
                   1);
    row->addSpacing(8);
    row->addWidget(sizeLabel(node.bytes));
    if (opens_) row->addWidget(new SymbolView("chevron.right", 9, Tones::tertiary()));

    connect(this, &QAbstractButton::clicked, this, &DiskBreakdownRow::activate);
}

QString DiskBreakdownRow::detailText() const
{
    return detail_->text();
}

void DiskBreakdownRow::setHovered(bool hovered)
{
    if (hovered == hovered_) return;
    hovered_ = hovered;
    shift(hovered && !AppMotion::reduceMotion());
    const double from = hover_;
    const double to = hovered ? 1.0 : 0.0;
    const int generation = ++hoverGeneration_;
    AppMotion::animate(this, AppMotion::hover(), [this, from, to, generation](double t) {
        if (generation != hoverGeneration_) return;
        hover_ = from + (to - from) * std::min(t, 1.0);
        update();
    });
}

void DiskBreakdownRow::activate()
{
    if (opens_) {
        context_.state.setFocusedNodeID(id_);
    } else if (path_) {
        context_.revealer.reveal(*path_);
    }
}

// The loose files of a folder carry the folder's own path: the Trash would
// take the whole folder, so they are only ever revealed.
std::unique_ptr<QMenu> DiskBreakdownRow::contextMenu()
{
    std::optional<DiskCleanupCandidate> candidate;
    if (path_ && !directFiles_) candidate = context_.model.cleanupCandidate(*path_, bytes_, isDirectory_, scanned_);
    return diskItemMenu(context_, path_, candidate);
}

void DiskBreakdownRow::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF area(rect());
    if (hover_ > 0) {
        QPainterPath fill;
        fill.addRoundedRect(area, rowRadius, rowRadius);
        painter.fillPath(fill, CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.09 * hover_));
    }
    const double barWidth = area.width() * std::clamp(share_, 0.0, 1.0);
    if (barWidth > 0) {
        QPainterPath bar;
        bar.addRoundedRect(QRectF(0, 0, barWidth, area.height()), std::min(rowRadius, barWidth / 2), rowRadius);
        painter.fillPath(bar, CorvalentStyle::withAlpha(colour_, 0.055));
    }
    focusRing_.paint(painter, *this, area, rowRadius);
}

void DiskBreakdownRow::enterEvent(QEnterEvent* event)
{
    context_.state.setHoveredID(id_);
    QAbstractButton::enterEvent(event);
}

// Whatever the shared id holds now, the pointer left: a slice set meanwhile
// is no longer under it either.
void DiskBreakdownRow::leaveEvent(QEvent* event)
{
    context_.state.setHoveredID(std::nullopt);
    QAbstractButton::leaveEvent(event);
}

void DiskBreakdownRow::openMenu(const QPoint& at)
{
    if (auto menu = contextMenu()) menu->exec(at);
}

void DiskBreakdownRow::keyPressEvent(QKeyEvent* event)
{
    if (!handledKey(*this, *event, platformMenu_)) QAbstractButton::keyPressEvent(event);
}

void DiskBreakdownRow::contextMenuEvent(QContextMenuEvent* event)
{
    showContextMenu(*this, *event, platformMenu_);
}

void DiskBreakdownRow::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QAbstractButton::focusInEvent(event);
}

void DiskBreakdownRow::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QAbstractButton::focusOutEvent(event);
}

// One pixel to the right, by moving the margins the content is laid out in.
void DiskBreakdownRow::shift(bool right)
{
    if (right == shifted_) return;
    shifted_ = right;
    const int by = right ? 1 : -1;
    const auto margins = contentsMargins();
    setContentsMargins(margins.left() + by, margins.top(), margins.right() - by, margins.bottom());
}

LargestFileRow::LargestFileRow(const DiskFile& file, int rank, const DiskRowContext& context, QWidget* parent)
    : PressableRow(parent),
      context_(context),
      path_(file.path),
      bytes_(file.bytes),
      scanned_(DiskScannedItem::of(file)),
      colour_(DiskPalette::color(rank - 1))
{
    setObjectName("largestFileRow");
    fitColumn(*this);
    const auto name = QString::fromStdString(std::string(file.name()));
    const auto slash = file.path.rfind('/');
    const auto folder = slash == std::string::npos ? std::string() : file.path.substr(0, std::max<std::size_t>(slash, 1));
    const auto size = bytesText(file.bytes);
    setToolTip(revealInFileManager);
    setAccessibleName(name + ", " + size + ", reveal in file manager");

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(11);
    auto* number = oneLine(QString::number(rank), CorvalentStyle::font(TextStyle::caption), Tones::tertiary());
    number->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    number->setFixedWidth(22);
    row->addWidget(number);
    row->addWidget(new SymbolView("doc.fill", symbolSize, Tones::fixed(colour_), iconFrame));
    auto* where = oneLine(QString::fromStdString(folder), CorvalentStyle::monospaced(TextStyle::caption2), Tones::secondary());
    where->setElideMode(Qt::ElideMiddle);
    row->addLayout(nameOverDetail(oneLine(name, CorvalentStyle::font(TextStyle::callout, QFont::Medium), Tones::primary()),
                             where),
                   1);
    row->addSpacing(8);
    row->addWidget(sizeLabel(file.bytes));

    connect(this, &QAbstractButton::clicked, this, &LargestFileRow::activate);
}

void LargestFileRow::activate()
{
    context_.revealer.reveal(path_);
}

// A name that is not text is shown with replacement characters: such a file
// is only ever revealed, by its own bytes.
std::unique_ptr<QMenu> LargestFileRow::contextMenu()
{
    std::optional<DiskCleanupCandidate> candidate;
    if (isValidUtf8(path_)) candidate = context_.model.cleanupCandidate(path_, bytes_, false, scanned_);
    return diskItemMenu(context_, path_, candidate);
}

void LargestFileRow::openMenu(const QPoint& at)
{
    if (auto menu = contextMenu()) menu->exec(at);
}

void LargestFileRow::keyPressEvent(QKeyEvent* event)
{
    if (!handledKey(*this, *event, platformMenu_)) PressableRow::keyPressEvent(event);
}

void LargestFileRow::contextMenuEvent(QContextMenuEvent* event)
{
    showContextMenu(*this, *event, platformMenu_);
}

ScanFootnote::ScanFootnote(QWidget* parent) : QWidget(parent)
{
    setObjectName("scanFootnote");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(16, 16, 16, 16);
    column->setSpacing(7);
    for (auto& line : lines_) {
        line.row = new QWidget(this);
        auto* row = new QHBoxLayout(line.row);
        row->setContentsMargins(0, 0, 0, 0);
        row->setSpacing(6);
        line.symbol = new SymbolView({}, 11, Tones::secondary(), {12, 13});
        row->addWidget(line.symbol, 0, Qt::AlignTop);
        line.text = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
        line.text->setWordWrap(true);
        row->addWidget(line.text, 1);
        column->addWidget(line.row);
    }
    hide();
}

void ScanFootnote::setResult(const DiskScanResult* result)
{
    setVisible(result != nullptr);
    if (result == nullptr) return;
    const auto show = [](Line& line, bool shown, const QString& symbol, const QString& words, Tone tone) {
        line.row->setVisible(shown);
        line.symbol->setSymbol(symbol);
        line.symbol->setTone(tone);
        line.text->setTone(std::move(tone));
        line.text->setText(words);
    };
    const auto teal = Tones::fixed(CorvalentStyle::teal());
    if (result->cancelled) {
        show(lines_[0], true, "pause.circle.fill",
             "Partial map \u00b7 " + groupedCount(result->root.fileCount) + " files found before stopping", teal);
    } else {
        // One decimal whatever the locale.
        show(lines_[0], true, "checkmark.circle.fill",
             groupedCount(result->scannedEntries) + " items scanned in " + QString::number(result->duration, 'f', 1) +
                 " s",
             teal);
    }
    show(lines_[1], result->inaccessibleEntries >= 1, "lock.slash",
         groupedCount(result->inaccessibleEntries) + " locations could not be read",
         Tones::fixed(CorvalentStyle::orange()));
    show(lines_[2], result->privacySkippedLocations >= 1, "hand.raised",
         groupedCount(result->privacySkippedLocations) +
             " protected locations skipped \u00b7 choose one directly to include it",
         Tones::secondary());
}

QStringList ScanFootnote::lines() const
{
    QStringList shown;
    for (const auto& line : lines_)
        if (line.row->isVisibleTo(this)) shown << line.text->text();
    return shown;
}

QString ScanFootnote::firstSymbol() const
{
    return lines_[0].symbol->symbol();
}

void ScanFootnote::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.fillRect(QRectF(0, 0, width(), 1), CorvalentStyle::softBorder(palette()));
}

}  // namespace corvalent

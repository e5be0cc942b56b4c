#include "ui/disk/folders/folder_chooser_dialog.h"

#include <QDir>
#include <QFile>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cerrno>

#include "core/common/paths.h"

#include "core/common/text_order.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/check_box.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/scroll_focus.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int padding = 20;
constexpr QSize usualSize(560, 460);
constexpr int rowHeight = 26;
// The short wait before "Opening…" shows, so that a quick listing never flickers.
constexpr int openingDelay = 250;
// Where a row keeps its name's bytes.
constexpr int nameRole = Qt::UserRole;

QByteArray standardized(const QByteArray& path)
{
    return QByteArray::fromStdString(Paths::standardized(path.toStdString()));
}

QByteArray joined(const QByteArray& folder, const QByteArray& name)
{
    return folder == "/" ? folder + name : folder + '/' + name;
}

QString quoted(const QByteArray& path)
{
    const auto name = path.mid(path.lastIndexOf('/') + 1);
    return QStringLiteral("“%1”").arg(QFile::decodeName(name.isEmpty() ? path : name));
}

QString failure(const QByteArray& path, int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("There is no folder %1.").arg(quoted(path));
    case ENOTDIR: return QStringLiteral("%1 is not a folder.").arg(quoted(path));
    case EACCES:
    case EPERM: return QStringLiteral("You don’t have permission to open %1.").arg(quoted(path));
    default: return QStringLiteral("%1 can’t be opened.").arg(quoted(path));
    }
}

QListWidgetItem* selectedItem(const QListWidget& list)
{
    const auto selected = list.selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

}  // namespace

FolderChooserDialog::FolderChooserDialog(std::string program, QWidget* parent, std::chrono::milliseconds answerLimit,
                                         std::shared_ptr<PendingListings> pending)
    : QDialog(parent),
      program_(std::move(program)),
      answerLimit_(answerLimit),
      pending_(pending ? std::move(pending) : std::make_shared<PendingListings>())
{
    setObjectName("folderChooser");
    setWindowTitle(QStringLiteral("Choose a folder to map"));
    setAccessibleName(windowTitle());
    auto* column = columnLayout(this, padding, 12);

    auto* top = rowLayout(8);
    up_ = new Button(Button::Kind::bordered, QString(), this);
    up_->setObjectName("folderUp");
    up_->setSymbol(QStringLiteral("arrow.up"));
    up_->setAccessibleName(QStringLiteral("Enclosing Folder"));
    setLiteralToolTip(*up_, QStringLiteral("Enclosing Folder (Alt+Up)"));
    connect(up_, &QAbstractButton::clicked, this, &FolderChooserDialog::goUp);
    top->addWidget(up_);
    path_ = new QLineEdit(this);
    path_->setObjectName("folderPath");
    path_->setAccessibleName(QStringLiteral("Folder"));
    path_->setFont(CorvalentStyle::font(TextStyle::body));
    path_->installEventFilter(this);
    connect(path_, &QLineEdit::textEdited, this, &FolderChooserDialog::syncChoose);
    top->addWidget(path_, 1);
    column->addLayout(top);

    list_ = new QListWidget(this);
    list_->setObjectName("folderList");
    list_->setAccessibleName(QStringLiteral("Folders"));
    list_->setUniformItemSizes(true);
    list_->setIconSize(QSize(16, 16));
    list_->setFont(CorvalentStyle::font(TextStyle::body));
    list_->installEventFilter(this);
    showFocusRing(*list_, 2);
    connect(list_, &QListWidget::itemDoubleClicked, this, &FolderChooserDialog::openRow);
    // The row moved to or clicked is the choice, and the field shows it.
    connect(list_, &QListWidget::itemSelectionChanged, this, [this] {
        const auto* row = selectedItem(*list_);
        showInField(row != nullptr ? joined(folder_, row->data(nameRole).toByteArray()) : folder_);
        syncChoose();
    });
    column->addWidget(list_, 1);
    // Drawn over the middle of the list, which is empty whenever it shows; a
    // child of the dialog, not of the list, so that readers meet it too.
    message_ = new ElidedLabel(QString(), CorvalentStyle::font(TextStyle::body), Tones::secondary(), this);
    message_->setObjectName("folderMessage");
    message_->setAlignment(Qt::AlignCenter);
    message_->setMaximumLines(3);
    message_->setAttribute(Qt::WA_TransparentForMouseEvents);
    message_->hide();
    list_->viewport()->installEventFilter(this);

    auto* footer = rowLayout(10);
    hidden_ = new CheckBox(QStringLiteral("Show Hidden Folders"), this);
    hidden_->setObjectName("folderHidden");
    setLiteralToolTip(*hidden_, QStringLiteral("Ctrl+H"));
    connect(hidden_, &QCheckBox::toggled, this, [this] { fill(); });
    footer->addWidget(hidden_);
    footer->addStretch(1);
    auto* cancel = new Button(Button::Kind::bordered, QStringLiteral("Cancel"), this);
    cancel->setObjectName("folderCancel");
    connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
    footer->addWidget(cancel);
    choose_ = new Button(Button::Kind::prominent, QStringLiteral("Scan Folder"), this);
    choose_->setObjectName("folderChoose");
    choose_->setDefault(true);
    connect(choose_, &QAbstractButton::clicked, this, &FolderChooserDialog::scanShown);
    footer->addWidget(choose_);
    column->addLayout(footer);

    auto* toggleHidden = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_H), this);
    connect(toggleHidden, &QShortcut::activated, hidden_, &QAbstractButton::click);
    auto* upKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_Up), this);
    connect(upKey, &QShortcut::activated, this, &FolderChooserDialog::goUp);
    auto* pathKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_L), this);
    connect(pathKey, &QShortcut::activated, path_, [this] {
        path_->setFocus(Qt::ShortcutFocusReason);
        path_->selectAll();
    });

    new ScreenFit(*this, [] { return usualSize; });
    openFolder(QDir::homePath());
    path_->setFocus();
}

FolderChooserDialog::~FolderChooserDialog()
{
    listing_.cancel();
}

void FolderChooserDialog::openFolder(const QString& path)
{
    enter(QFile::encodeName(path));
}

void FolderChooserDialog::enter(const QByteArray& path)
{
    const auto previous = folder_;
    folder_ = standardized(path);
    listing_.cancel();
    entries_.clear();
    list_->clear();
    showInField(folder_);
    resumeAt_.clear();
    failed_ = false;
    chooseOnceListed_ = false;
    const int generation = ++generation_;
    waiting_ = true;
    hideMessage();
    syncChoose();
    QTimer::singleShot(openingDelay, this, [this, generation] {
        if (generation == generation_ && waiting_) showMessage(QStringLiteral("Opening %1…").arg(quoted(folder_)));
    });
    // The folder we came up from is where the keyboard goes on from.
    const auto cameFrom = previous.startsWith(joined(folder_, {})) ? previous.mid(previous.lastIndexOf('/') + 1)
                                                                   : QByteArray();
    ask(answerLimit_, cameFrom);
}

void FolderChooserDialog::ask(std::chrono::milliseconds limit, const QByteArray& cameFrom)
{
    listing_ = BackgroundTask::start(
        this,
        [program = program_, path = folder_.toStdString(), limit, pending = pending_](std::stop_token stop) {
            return FolderLister::listApart(path, limit, std::move(stop), pending, program);
        },
        [this, path = folder_, cameFrom](FolderListing listing) {
            const bool late = listing.outcome == FolderListing::Outcome::notAnswering ||
                              listing.outcome == FolderListing::Outcome::waiting;
            listed(path, listing);
            fill(cameFrom);
            emit folderListed();
            // Asked on, without a bound: an answer that comes later shows here.
            if (late) return ask(std::chrono::milliseconds::max(), cameFrom);
            if (chooseOnceListed_ && !failed_) accept();
        },
        {.lane = TaskLane::files, .userInitiated = true, .ownThread = true});
}

void FolderChooserDialog::listed(const QByteArray& path, const FolderListing& listing)
{
    waiting_ = false;
    entries_ = listing.folders;
    std::sort(entries_.begin(), entries_.end(),
              [](const auto& a, const auto& b) { return localizedStandardLess(a.name, b.name); });
    failed_ = listing.outcome != FolderListing::Outcome::listed;
    switch (listing.outcome) {
    case FolderListing::Outcome::listed: hideMessage(); break;
    case FolderListing::Outcome::notAnswering:
        // Not chosen when the answer comes later: the person has seen this.
        chooseOnceListed_ = false;
        showMessage(QStringLiteral("%1 does not answer. It may be on a disk or network share that is not "
                                   "responding.")
                        .arg(quoted(path)));
        break;
    case FolderListing::Outcome::waiting:
        chooseOnceListed_ = false;
        showMessage(QStringLiteral("%1 is waiting for its disk or network share, which has not answered for "
                                   "other folders yet.")
                        .arg(quoted(path)));
        break;
    case FolderListing::Outcome::failed:
        showMessage(failure(path, listing.error));
        break;
    case FolderListing::Outcome::stopped: failed_ = false; break;
    }
    syncChoose();
}

void FolderChooserDialog::fill(const QByteArray& current)
{
    const auto* selected = selectedItem(*list_);
    const auto kept = selected != nullptr ? selected->data(nameRole).toByteArray() : QByteArray();
    list_->clear();
    const auto colour = CorvalentStyle::secondary(palette());
    const QIcon folderIcon(Symbols::pixmap(QStringLiteral("folder"), colour, 16, devicePixelRatioF()));
    const QIcon mountIcon(Symbols::pixmap(QStringLiteral("externaldrive"), colour, 16, devicePixelRatioF()));
    for (const auto& entry : entries_) {
        if (!hidden_->isChecked() && entry.name.starts_with('.')) continue;
        const bool mount = entry.kind == PLFolderKind::mountPoint || entry.kind == PLFolderKind::elsewhere;
        const auto name = QByteArray::fromStdString(entry.name);
        auto* item = new QListWidgetItem(mount ? mountIcon : folderIcon, QFile::decodeName(name), list_);
        item->setData(nameRole, name);
        item->setSizeHint(QSize(0, rowHeight));
        if (name == kept) {
            if (list_->hasFocus())
                list_->setCurrentItem(item);
            else
                item->setSelected(true);
        } else if (name == current && kept.isEmpty()) {
            // Not chosen: the keyboard goes on from there once it is in the list.
            resumeAt_ = name;
            if (list_->hasFocus()) resumeKeyboard();
        } else {
            continue;
        }
        list_->scrollToItem(item);
    }
    if (!failed_ && !waiting_ && list_->count() == 0) showMessage(QStringLiteral("No folders inside."));
    else if (!failed_ && !waiting_) hideMessage();
    syncChoose();
}

bool FolderChooserDialog::fieldEdited() const
{
    return path_->text() != shownText_;
}

void FolderChooserDialog::showInField(const QByteArray& path)
{
    shown_ = path;
    shownText_ = QFile::decodeName(path);
    path_->setText(shownText_);
}

void FolderChooserDialog::openTyped(bool chooseOnceListed)
{
    if (!fieldEdited()) {
        // Return on the folder listed chooses it; on a row's path, opens it.
        if (shown_ != folder_ || !choose_->isEnabled()) return enter(shown_);
        return accept();
    }
    auto typed = path_->text().trimmed();
    if (typed == QStringLiteral("~") || typed.startsWith(QStringLiteral("~/"))) typed.replace(0, 1, QDir::homePath());
    if (typed.isEmpty()) return;
    const auto path = QFile::encodeName(typed);
    enter(QDir::isAbsolutePath(typed) ? path : joined(folder_, path));
    chooseOnceListed_ = chooseOnceListed;
}

void FolderChooserDialog::scanShown()
{
    // A path typed in is listed first: a folder that cannot be read is never mapped.
    if (fieldEdited()) return openTyped(true);
    accept();
}

void FolderChooserDialog::openRow(QListWidgetItem* item)
{
    if (item != nullptr) enter(joined(folder_, item->data(nameRole).toByteArray()));
}

void FolderChooserDialog::goUp()
{
    if (folder_ == "/") return;
    const auto slash = folder_.lastIndexOf('/');
    enter(slash <= 0 ? QByteArray("/") : folder_.left(slash));
}

void FolderChooserDialog::resumeKeyboard()
{
    QModelIndex at;
    if (const auto* chosen = selectedItem(*list_)) {
        at = list_->indexFromItem(chosen);
    } else {
        for (int row = 0; row < list_->count() && !resumeAt_.isEmpty(); ++row)
            if (list_->item(row)->data(nameRole).toByteArray() == resumeAt_) at = list_->model()->index(row, 0);
    }
    list_->selectionModel()->setCurrentIndex(at, QItemSelectionModel::NoUpdate);
    if (at.isValid()) list_->scrollTo(at);
}

void FolderChooserDialog::showMessage(const QString& text)
{
    message_->setText(text);
    placeMessage();
    message_->show();
    // Readers hear it with the list it stands in, and at once.
    list_->setAccessibleDescription(text);
    announce(*message_);
}

void FolderChooserDialog::hideMessage()
{
    message_->hide();
    list_->setAccessibleDescription({});
}

void FolderChooserDialog::placeMessage()
{
    const QRect viewport(list_->viewport()->mapTo(this, QPoint()), list_->viewport()->size());
    const auto area = viewport.adjusted(24, 0, -24, 0);
    message_->setGeometry(area.x(), area.center().y() - 40, area.width(), 80);
    message_->raise();
}

void FolderChooserDialog::syncChoose()
{
    // A folder that could not be read is no choice; one of its rows, or a
    // path typed in, still is.
    choose_->setEnabled(selectedItem(*list_) != nullptr || fieldEdited() || (!waiting_ && !failed_));
    up_->setEnabled(folder_ != "/");
}

bool FolderChooserDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_->viewport() && event->type() == QEvent::Resize) placeMessage();
    if (watched == list_ && event->type() == QEvent::Move) placeMessage();
    // Reaching the list chooses nothing: the view would make its first row
    // current on the way in, and the next key would act on it. The keys go
    // on from the chosen row, else from the folder we came up from.
    if (watched == list_ && event->type() == QEvent::FocusIn && list_->currentItem() == nullptr) {
        static_cast<QObject*>(list_)->event(event);
        resumeKeyboard();
        return true;
    }
    // A current row reads as focused to a screen reader: it is current only
    // while the list has the focus, so one control reads so at a time.
    if (watched == list_ && event->type() == QEvent::FocusOut && list_->currentItem() != nullptr) {
        resumeAt_ = list_->currentItem()->data(nameRole).toByteArray();
        list_->selectionModel()->setCurrentIndex({}, QItemSelectionModel::NoUpdate);
    }
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == path_ && enter) {
        openTyped(false);
        return true;
    }
    if (watched == list_ && enter && key->modifiers() == Qt::NoModifier && list_->currentItem() != nullptr) {
        openRow(list_->currentItem());
        return true;
    }
    if (watched == list_ && key->key() == Qt::Key_Backspace) {
        goUp();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace corvalent

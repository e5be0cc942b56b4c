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

#include "core/common/text_order.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/check_box.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int padding = 20;
constexpr QSize usualSize(560, 460);
constexpr int rowHeight = 26;
// The short wait before "Opening…" shows, so that a quick listing never flickers.
constexpr int openingDelay = 250;

QString quoted(const QString& path)
{
    const auto name = QDir(path).dirName();
    return QStringLiteral("“%1”").arg(name.isEmpty() ? path : name);
}

QString failure(const QString& path, int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("There is no folder %1.").arg(quoted(path));
    case ENOTDIR: return QStringLiteral("%1 is not a folder.").arg(quoted(path));
    case EACCES:
    case EPERM: return QStringLiteral("You don’t have permission to open %1.").arg(quoted(path));
    default: return QStringLiteral("%1 can’t be opened.").arg(quoted(path));
    }
}

QString joined(const QString& folder, const QString& name)
{
    return folder == QStringLiteral("/") ? folder + name : folder + u'/' + name;
}

}  // namespace

FolderChooserDialog::FolderChooserDialog(std::string program, QWidget* parent, std::chrono::milliseconds answerLimit)
    : QDialog(parent), program_(std::move(program)), answerLimit_(answerLimit)
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
    top->addWidget(path_, 1);
    column->addLayout(top);

    list_ = new QListWidget(this);
    list_->setObjectName("folderList");
    list_->setAccessibleName(QStringLiteral("Folders"));
    list_->setUniformItemSizes(true);
    list_->setIconSize(QSize(16, 16));
    list_->setFont(CorvalentStyle::font(TextStyle::body));
    list_->installEventFilter(this);
    connect(list_, &QListWidget::itemDoubleClicked, this, &FolderChooserDialog::openRow);
    connect(list_, &QListWidget::itemSelectionChanged, this, &FolderChooserDialog::syncChoose);
    // The row the keyboard is on is the one chosen: what is drawn is what is scanned.
    connect(list_, &QListWidget::currentItemChanged, this, [](QListWidgetItem* current) {
        if (current != nullptr) current->setSelected(true);
    });
    column->addWidget(list_, 1);
    // Shown in the middle of the list, which is empty whenever it shows.
    message_ = new ElidedLabel(QString(), CorvalentStyle::font(TextStyle::body), Tones::secondary(), list_->viewport());
    message_->setObjectName("folderMessage");
    message_->setAlignment(Qt::AlignCenter);
    message_->setMaximumLines(3);
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
    connect(choose_, &QAbstractButton::clicked, this, &QDialog::accept);
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

QString FolderChooserDialog::choice() const
{
    const auto selected = list_->selectedItems();
    if (!selected.isEmpty()) return joined(folder_, selected.front()->text());
    return folder_;
}

void FolderChooserDialog::openFolder(const QString& path)
{
    const auto previous = folder_;
    folder_ = QDir::cleanPath(path);
    path_->setText(folder_);
    listing_.cancel();
    entries_.clear();
    list_->clear();
    failed_ = false;
    const int generation = ++generation_;
    if (silent_.contains(folder_)) {
        FolderListing quiet;
        quiet.outcome = FolderListing::Outcome::notAnswering;
        listed(folder_, quiet);
        fill();
        emit folderListed();
        return;
    }
    waiting_ = true;
    message_->hide();
    syncChoose();
    QTimer::singleShot(openingDelay, this, [this, generation] {
        if (generation == generation_ && waiting_) showMessage(QStringLiteral("Opening %1…").arg(quoted(folder_)));
    });
    // The folder we came up from stays selected.
    const auto cameFrom = previous.startsWith(joined(folder_, QString())) ? QDir(previous).dirName() : QString();
    listing_ = BackgroundTask::start(
        this,
        [program = program_, path = QFile::encodeName(folder_).toStdString(), limit = answerLimit_](std::stop_token stop) {
            return FolderLister::listApart(program, path, limit, std::move(stop));
        },
        [this, path = folder_, cameFrom](FolderListing listing) {
            listed(path, listing);
            fill(cameFrom);
            emit folderListed();
        },
        {.lane = TaskLane::files, .userInitiated = true, .ownThread = true});
}

void FolderChooserDialog::listed(const QString& path, const FolderListing& listing)
{
    waiting_ = false;
    entries_ = listing.folders;
    std::sort(entries_.begin(), entries_.end(),
              [](const auto& a, const auto& b) { return localizedStandardLess(a.name, b.name); });
    switch (listing.outcome) {
    case FolderListing::Outcome::listed: message_->hide(); break;
    case FolderListing::Outcome::notAnswering:
        silent_.insert(path);
        failed_ = true;
        showMessage(QStringLiteral("%1 does not answer. It may be on a disk or network share that is not "
                                   "responding.")
                        .arg(quoted(path)));
        break;
    case FolderListing::Outcome::failed:
        failed_ = true;
        showMessage(failure(path, listing.error));
        break;
    case FolderListing::Outcome::stopped: break;
    }
    syncChoose();
}

void FolderChooserDialog::fill(const QString& select)
{
    const auto kept = select.isEmpty() && !list_->selectedItems().isEmpty() ? list_->selectedItems().front()->text()
                                                                            : select;
    list_->clear();
    const auto colour = CorvalentStyle::secondary(palette());
    const QIcon folderIcon(Symbols::pixmap(QStringLiteral("folder"), colour, 16, devicePixelRatioF()));
    const QIcon mountIcon(Symbols::pixmap(QStringLiteral("externaldrive"), colour, 16, devicePixelRatioF()));
    for (const auto& entry : entries_) {
        if (!hidden_->isChecked() && entry.name.starts_with('.')) continue;
        const bool mount = entry.kind == PLFolderKind::mountPoint || entry.kind == PLFolderKind::elsewhere;
        auto* item = new QListWidgetItem(mount ? mountIcon : folderIcon, QFile::decodeName(entry.name.c_str()), list_);
        item->setSizeHint(QSize(0, rowHeight));
        if (item->text() == kept) {
            list_->setCurrentItem(item);
            list_->scrollToItem(item);
        }
    }
    if (!failed_ && !waiting_ && list_->count() == 0) showMessage(QStringLiteral("No folders inside."));
    else if (!failed_ && !waiting_) message_->hide();
    syncChoose();
}

void FolderChooserDialog::openTyped()
{
    auto typed = path_->text().trimmed();
    if (typed == QStringLiteral("~") || typed.startsWith(QStringLiteral("~/"))) typed.replace(0, 1, QDir::homePath());
    if (typed.isEmpty()) return;
    // Return on the folder shown chooses it.
    if (QDir::cleanPath(typed) == folder_ && choose_->isEnabled() && list_->selectedItems().isEmpty()) return accept();
    openFolder(QDir::isAbsolutePath(typed) ? typed : joined(folder_, typed));
}

void FolderChooserDialog::openRow(QListWidgetItem* item)
{
    if (item != nullptr) openFolder(joined(folder_, item->text()));
}

void FolderChooserDialog::goUp()
{
    if (folder_ == QStringLiteral("/")) return;
    const auto parent = folder_.section(u'/', 0, -2);
    openFolder(parent.isEmpty() ? QStringLiteral("/") : parent);
}

void FolderChooserDialog::showMessage(const QString& text)
{
    message_->setText(text);
    message_->show();
}

void FolderChooserDialog::syncChoose()
{
    // A folder that could not be read is no choice; one of its rows still is.
    choose_->setEnabled(!list_->selectedItems().isEmpty() || (!waiting_ && !failed_));
    up_->setEnabled(folder_ != QStringLiteral("/"));
}

bool FolderChooserDialog::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == list_->viewport() && event->type() == QEvent::Resize) {
        const auto area = list_->viewport()->rect().adjusted(24, 0, -24, 0);
        message_->setGeometry(area.x(), area.center().y() - 40, area.width(), 80);
    }
    if (event->type() != QEvent::KeyPress) return QDialog::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if (watched == path_ && enter) {
        openTyped();
        return true;
    }
    if (watched == list_ && enter && key->modifiers() == Qt::NoModifier && list_->currentItem() != nullptr &&
        list_->currentItem()->isSelected()) {
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

#include "ui/processes/inspector/process_inspector_member.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenu>
#include <QVBoxLayout>

#include "core/process/processes.h"
#include "ui/processes/icons/process_icon_view.h"
#include "ui/processes/inspector/process_inspector_texts.h"
#include "ui/widgets/check_box.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/symbols.h"

namespace corvalent::inspector {

namespace {

// Paths have no spaces: a zero-width space after each slash lets a long one
// wrap between its folders. It never reaches the clipboard.
constexpr QChar breakHint(0x200B);

QString withBreaks(const QString& text)
{
    QString shown;
    shown.reserve(text.size() + text.size() / 8);
    for (const QChar c : text) {
        shown.append(c);
        if (c == '/') shown.append(breakHint);
    }
    return shown;
}

void replaceText(ElidedLabel* label, const QString& text)
{
    if (label->text() != text) label->setText(text);
}

}  // namespace

SelectableText::SelectableText(const QFont& font, Tone tone, QWidget* parent) : QLabel(parent), tone_(std::move(tone))
{
    setTextFormat(Qt::PlainText);
    setFont(font);
    setWordWrap(true);
    setTextInteractionFlags(Qt::TextSelectableByMouse);
    setContextMenuPolicy(Qt::DefaultContextMenu);
    applyTone();
}

void SelectableText::setPlainText(const QString& text)
{
    if (text == plain_) return;
    plain_ = text;
    setText(withBreaks(text));
    setAccessibleName(text);
}

QSize SelectableText::minimumSizeHint() const
{
    // A folder name wider than the pane is cut rather than widening it.
    return {0, QLabel::minimumSizeHint().height()};
}

void SelectableText::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::ParentChange) applyTone();
}

void SelectableText::applyTone()
{
    // The tone reads the surroundings' palette: this one's own text colour is the tone's output.
    const QColor colour = tone_(parentWidget() != nullptr ? parentWidget()->palette() : palette());
    if (palette().color(QPalette::WindowText) == colour) return;
    auto pal = palette();
    pal.setColor(QPalette::WindowText, colour);
    pal.setColor(QPalette::Text, colour);
    setPalette(pal);
}

void SelectableText::keyPressEvent(QKeyEvent* event)
{
    if (event->matches(QKeySequence::Copy) && hasSelectedText()) {
        QApplication::clipboard()->setText(selectedText().remove(breakHint));
        return;
    }
    QLabel::keyPressEvent(event);
}

void SelectableText::mouseReleaseEvent(QMouseEvent* event)
{
    QLabel::mouseReleaseEvent(event);
    auto* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection() && hasSelectedText())
        clipboard->setText(selectedText().remove(breakHint), QClipboard::Selection);
}

void SelectableText::contextMenuEvent(QContextMenuEvent* event)
{
    QMenu menu(this);
    auto* copy = menu.addAction(QStringLiteral("Copy"), this, [this] {
        QApplication::clipboard()->setText((hasSelectedText() ? selectedText() : text()).remove(breakHint));
    });
    copy->setShortcut(QKeySequence::Copy);
    menu.addAction(QStringLiteral("Select All"), this, [this] { setSelection(0, static_cast<int>(text().size())); });
    menu.exec(event->globalPos());
}

MemberRow::MemberRow(ProcessIconStore& icons, std::function<void(const std::string&, bool)> toggled,
                     QWidget* parent)
    : QWidget(parent)
{
    setObjectName("memberRow");
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 16, 0, 0);
    column->setSpacing(8);

    auto* top = new QHBoxLayout;
    top->setSpacing(11);
    check_ = new CheckBox;
    check_->setFocusPolicy(Qt::StrongFocus);
    connect(check_, &QCheckBox::clicked, this, [this, toggled = std::move(toggled)](bool on) { toggled(id_, on); });
    top->addWidget(check_, 0, Qt::AlignVCenter);
    icon_ = new ProcessIconView(icons, 30);
    top->addWidget(icon_, 0, Qt::AlignVCenter);
    auto* names = new QVBoxLayout;
    names->setSpacing(3);
    name_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout, QFont::DemiBold), Tones::primary());
    role_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::caption2), Tones::tertiary());
    names->addWidget(name_);
    names->addWidget(role_);
    top->addLayout(names, 1);
    top->addSpacing(8);
    memory_ = new ElidedLabel({}, CorvalentStyle::font(TextStyle::callout), Tones::primary());
    memory_->setShrinks(false);
    top->addWidget(memory_, 0, Qt::AlignVCenter);
    column->addLayout(top);

    column->addWidget(buildFacts());
    path_ = new SelectableText(CorvalentStyle::monospaced(TextStyle::caption), Tones::secondary());
    path_->setObjectName("memberPath");
    column->addWidget(path_);
    folder_ = new SelectableText(CorvalentStyle::font(TextStyle::caption), Tones::tertiary());
    folder_->setObjectName("memberFolder");
    column->addWidget(folder_);

    // The line after the row, 14 clear on either side.
    column->addSpacing(14 - column->spacing());
    column->addWidget(new Divider(Qt::Horizontal));
    column->addSpacing(14 - column->spacing());
}

QWidget* MemberRow::buildFacts()
{
    auto* facts = new QWidget;
    auto* row = new QHBoxLayout(facts);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);
    const auto caption = CorvalentStyle::font(TextStyle::caption);
    facts_ = new ElidedLabel({}, caption, Tones::secondary());
    facts_->setShrinks(false);
    row->addWidget(facts_, 0, Qt::AlignTop);

    protection_ = new QWidget;
    auto* locked = new QHBoxLayout(protection_);
    locked->setContentsMargins(0, 0, 0, 0);
    locked->setSpacing(4);
    locked->addWidget(new ElidedLabel(QStringLiteral("\u00b7"), caption, Tones::secondary()), 0, Qt::AlignTop);
    locked->addWidget(new SymbolView(QStringLiteral("lock.fill"), 10, Tones::secondary(), {10, 13}), 0,
                      Qt::AlignTop);
    reason_ = new ElidedLabel({}, caption, Tones::secondary());
    reason_->setMaximumLines(2);
    locked->addWidget(reason_, 1, Qt::AlignTop);
    row->addWidget(protection_, 1);
    row->addStretch(0);
    return facts;
}

void MemberRow::present(const ProcessRecord& record, const ProcessGroup& group, bool selected, double nowSeconds)
{
    id_ = record.id();
    const bool stoppable = group.stoppableIDs.count(id_) == 1;
    check_->setObjectName(QStringLiteral("memberCheck:%1").arg(record.pid));
    check_->setChecked(selected);
    check_->setEnabled(stoppable);
    check_->setAccessibleName(InspectorTexts::checkName(selected, record.name));
    check_->setAccessibleDescription(InspectorTexts::checkDescription(record.pid));

    ProcessGroup source;
    source.symbol = group.symbol;
    if (const auto path = InspectorTexts::memberIconSource(group, record)) source.appPath = path->toStdString();
    icon_->setGroup(source);

    replaceText(name_, QString::fromStdString(record.name));
    replaceText(role_, InspectorTexts::role(record.role));
    replaceText(memory_, InspectorTexts::memory(record.memory));
    replaceText(facts_, InspectorTexts::facts(record, nowSeconds));
    protection_->setVisible(!stoppable);
    replaceText(reason_, stoppable ? QString() : InspectorTexts::reason(record.protection));
    reason_->setToolTip(reason_->text());
    path_->setPlainText(InspectorTexts::path(record.path));
    folder_->setPlainText(record.cwd.empty() ? QString() : InspectorTexts::folder(record.cwd));
    folder_->setVisible(!record.cwd.empty());
}

QString MemberRow::name() const
{
    return name_->text();
}

QString MemberRow::role() const
{
    return role_->text();
}

QString MemberRow::memory() const
{
    return memory_->text();
}

QString MemberRow::facts() const
{
    return facts_->text();
}

QString MemberRow::reason() const
{
    return protection_->isVisibleTo(this) ? reason_->text() : QString();
}

QString MemberRow::folder() const
{
    return folder_->isVisibleTo(this) ? folder_->plainText() : QString();
}

}  // namespace corvalent::inspector

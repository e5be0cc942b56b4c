#include "ui/onboarding/access_notes.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

#include <algorithm>

#include "ui/onboarding/onboarding_flow.h"
#include "ui/widgets/contrast.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int symbolSide = 14;

ElidedLabel* captionLabel(Tone tone, const QString& text = {})
{
    auto* label = new ElidedLabel(text, CorvalentStyle::font(TextStyle::caption), std::move(tone));
    label->setWordWrap(true);
    return label;
}

// A symbol before a caption that wraps beside it.
QWidget* noteRow(const QString& symbol, Tone tone, ElidedLabel* label)
{
    auto* row = new QWidget;
    auto* line = new QHBoxLayout(row);
    line->setContentsMargins(0, 0, 0, 0);
    line->setSpacing(7);
    line->addWidget(new SymbolView(symbol, 12, std::move(tone), {symbolSide, symbolSide}), 0, Qt::AlignTop);
    line->addWidget(label, 1);
    return row;
}

}  // namespace

QWidget* privacyNote()
{
    return noteRow("checkmark.shield.fill", Tones::secondary(),
                   captionLabel(Tones::secondary(), QStringLiteral("Scans stay on your computer. Corvalent only reads "
                                                                   "file sizes and never opens file contents.")));
}

AccessMessages::AccessMessages(QWidget* parent) : QWidget(parent)
{
    const auto warning = Tones::readable(CorvalentStyle::orange());
    relaunchText_ = captionLabel(warning);
    verificationText_ = captionLabel(warning);
    relaunchRow_ = noteRow("exclamationmark.triangle.fill", warning, relaunchText_);
    verificationRow_ = noteRow("lock.slash.fill", warning, verificationText_);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(18);
    column->addWidget(relaunchRow_);
    column->addWidget(verificationRow_);
    openFailed_ = new MessageLine(this);
    column->addWidget(openFailed_);
    column->addStretch(1);
    fit();
}

void AccessMessages::setMessages(const std::optional<QString>& relaunchError,
                                 const std::optional<QString>& verificationError)
{
    relaunchText_->setText(relaunchError.value_or(QString()));
    relaunchRow_->setVisible(relaunchError.has_value());
    verificationText_->setText(verificationError.value_or(QString()));
    verificationRow_->setVisible(verificationError.has_value());
    fit();
}

void AccessMessages::setOpenFailed(bool failed)
{
    if (failed == !openFailed_->isHidden()) return;
    if (failed)
        openFailed_->say(homeFolderNotOpened());
    else
        openFailed_->clear();
    fit();
}

void AccessMessages::setReserved(bool reserved)
{
    reserved_ = reserved;
    fit();
}

// Shown while there is a message or room kept for one; the room is one line
// of a message row.
void AccessMessages::fit()
{
    const bool any = !relaunchRow_->isHidden() || !verificationRow_->isHidden() || !openFailed_->isHidden();
    setMinimumHeight(reserved_ ? std::max(symbolSide, relaunchText_->fontMetrics().height()) : 0);
    setVisible(reserved_ || any);
}

QStringList AccessMessages::messages() const
{
    QStringList texts;
    if (!relaunchRow_->isHidden()) texts << relaunchText_->text();
    if (!verificationRow_->isHidden()) texts << verificationText_->text();
    if (!openFailed_->isHidden()) texts << openFailed_->text();
    return texts;
}

}  // namespace corvalent

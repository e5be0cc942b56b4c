#include "ui/widgets/message_line.h"

#include <QAccessible>
#include <QTimer>

#include <utility>

#include "ui/widgets/contrast.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/layout_helpers.h"
#include "ui/widgets/symbols.h"

namespace corvalent {

namespace {

AnnouncementWatcher& announcementWatcher()
{
    static AnnouncementWatcher watcher;
    return watcher;
}

}  // namespace

void announce(QWidget& widget)
{
    QAccessibleEvent alert(&widget, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    if (auto& watcher = announcementWatcher(); watcher) {
        auto* accessible = QAccessible::queryAccessibleInterface(&widget);
        watcher(accessible != nullptr ? accessible->text(QAccessible::Name) : widget.accessibleName());
    }
}

AnnouncementWatcher watchAnnouncements(AnnouncementWatcher watcher)
{
    return std::exchange(announcementWatcher(), std::move(watcher));
}

MessageLine::MessageLine(QWidget* parent, std::optional<std::chrono::milliseconds> shownFor) : QWidget(parent)
{
    if (shownFor) {
        expiry_ = new QTimer(this);
        expiry_->setSingleShot(true);
        expiry_->setInterval(*shownFor);
        connect(expiry_, &QTimer::timeout, this, &MessageLine::clear);
    }
    const auto warning = Tones::readable(CorvalentStyle::orange());
    text_ = wrappedLabel(QString(), CorvalentStyle::font(TextStyle::caption), warning);
    auto* line =
        symbolLine(new SymbolView(QStringLiteral("exclamationmark.triangle.fill"), 12, warning, {14, 14}), text_, 7);
    setLayout(line);
    hide();
}

void MessageLine::say(const QString& text)
{
    text_->setText(text);
    setAccessibleName(text);
    show();
    announce(*text_);
    if (expiry_ != nullptr) expiry_->start();
}

void MessageLine::clear()
{
    hide();
    text_->clear();
    setAccessibleName({});
}

QString MessageLine::text() const
{
    return isHidden() ? QString() : text_->text();
}

}  // namespace corvalent

#include "ui/shell/section_switch.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QKeyEvent>
#include <QPainter>
#include <QPainterPath>

#include "ui/widgets/app_motion.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int buttonWidth = 30;
constexpr int buttonHeight = 22;
constexpr int switchPadding = 3;
constexpr int switchSpacing = 2;
constexpr int symbolSize = 14;

QRect buttonRect(int index)
{
    return {switchPadding + index * (buttonWidth + switchSpacing), switchPadding, buttonWidth, buttonHeight};
}

// A button whose value is its selection, so readers say which page shows.
class SectionButtonAccessible : public QAccessibleWidget {
public:
    explicit SectionButtonAccessible(SectionButton* button) : QAccessibleWidget(button, QAccessible::Button) {}

    QString text(QAccessible::Text kind) const override
    {
        if (kind == QAccessible::Value)
            return button().selected() ? QStringLiteral("Selected") : QStringLiteral("Not selected");
        if (kind == QAccessible::Help) return button().toolTip();
        return QAccessibleWidget::text(kind);
    }
    QAccessible::State state() const override
    {
        auto state = QAccessibleWidget::state();
        state.checkable = true;
        state.checked = button().selected();
        return state;
    }
    QStringList actionNames() const override { return QStringList(pressAction()) + QAccessibleWidget::actionNames(); }
    void doAction(const QString& action) override
    {
        if (action == pressAction())
            button().click();
        else
            QAccessibleWidget::doAction(action);
    }

private:
    SectionButton& button() const { return *static_cast<SectionButton*>(widget()); }
};

QAccessibleInterface* sectionButtonAccessible(const QString&, QObject* object)
{
    if (auto* button = dynamic_cast<SectionButton*>(object)) return new SectionButtonAccessible(button);
    return nullptr;
}

}  // namespace

QString sectionTitle(AppSection section)
{
    return section == AppSection::processes ? QStringLiteral("Processes") : QStringLiteral("Disk Space");
}

QString sectionSymbol(AppSection section)
{
    return section == AppSection::processes ? QStringLiteral("waveform.path.ecg") : QStringLiteral("internaldrive");
}

QString sectionHelpText(AppSection button, std::optional<AppSection> selected)
{
    return selected == button ? QStringLiteral("Return to Overview") : "Show " + sectionTitle(button);
}

SectionButton::SectionButton(AppSection section, QWidget* parent) : QAbstractButton(parent), section_(section)
{
    static const bool installed = [] {
        QAccessible::installFactory(sectionButtonAccessible);
        return true;
    }();
    (void)installed;
    setText(sectionTitle(section));
    setAccessibleName(sectionTitle(section));
    setToolTip(sectionHelpText(section, std::nullopt));
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

QSize SectionButton::sizeHint() const
{
    return {buttonWidth, buttonHeight};
}

void SectionButton::setSelected(bool selected, const QString& helpText)
{
    setToolTip(helpText);
    if (selected_ == selected) return;
    selected_ = selected;
    QAccessible::State changed;
    changed.checked = true;
    QAccessibleStateChangeEvent event(this, changed);
    QAccessible::updateAccessibility(&event);
    update();
}

void SectionButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    // Pressed, the symbol dims as every pressable control does.
    if (isDown()) painter.setOpacity(0.82);
    const auto colour = selected_ ? QColor(Qt::white) : CorvalentStyle::secondary(palette());
    const auto icon = Symbols::pixmap(sectionSymbol(section_), colour, symbolSize, devicePixelRatioF());
    painter.drawPixmap(QPointF((width() - symbolSize) / 2.0, (height() - symbolSize) / 2.0), icon);
}

void SectionButton::keyPressEvent(QKeyEvent* event)
{
    // Space presses every button; Return and Enter press this one too, as
    // nothing on the top bar is a dialog's default.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        click();
        return;
    }
    QAbstractButton::keyPressEvent(event);
}

void SectionButton::focusInEvent(QFocusEvent* event)
{
    focusRing_.focusIn(*event);
    QAbstractButton::focusInEvent(event);
    if (parentWidget() != nullptr) parentWidget()->update();
}

void SectionButton::focusOutEvent(QFocusEvent* event)
{
    focusRing_.focusOut();
    QAbstractButton::focusOutEvent(event);
    if (parentWidget() != nullptr) parentWidget()->update();
}

SectionSwitch::SectionSwitch(QWidget* parent) : QWidget(parent)
{
    setFixedSize(sizeHint());
    processes_ = new SectionButton(AppSection::processes, this);
    storage_ = new SectionButton(AppSection::storage, this);
    for (auto* button : {processes_, storage_}) {
        button->setGeometry(buttonRect(button == processes_ ? 0 : 1));
        connect(button, &QAbstractButton::clicked, this, [this, button] {
            const auto section = button->section();
            emit sectionChosen(section_ == section ? std::nullopt : std::optional(section));
        });
    }
    setTabOrder(processes_, storage_);
}

QSize SectionSwitch::sizeHint() const
{
    return {2 * switchPadding + 2 * buttonWidth + switchSpacing, 2 * switchPadding + buttonHeight};
}

SectionButton& SectionSwitch::button(AppSection section) const
{
    return section == AppSection::processes ? *processes_ : *storage_;
}

void SectionSwitch::setSection(std::optional<AppSection> section)
{
    section_ = section;
    for (auto* button : {processes_, storage_})
        button->setSelected(section == button->section(), sectionHelpText(button->section(), section));
    const double target = section ? (section == AppSection::processes ? 0 : 1) : -1;
    if (target < 0 || plate_ < 0) {
        // The plate appears or leaves in place; it slides only between buttons.
        plate_ = target;
        update();
        return;
    }
    const double from = plate_;
    AppMotion::animate(this, AppMotion::selection(), [this, from, target](double t) {
        plate_ = from + (target - from) * t;
        update();
    });
}

void SectionSwitch::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath track;
    track.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(track, CorvalentStyle::primary(palette(), 0.055));
    if (plate_ >= 0) {
        const auto plate = QRectF(buttonRect(0)).translated(plate_ * (buttonWidth + switchSpacing), 0);
        QPainterPath shadow;
        shadow.addRoundedRect(plate.translated(0, 1).adjusted(-1, -1, 1, 1), 6, 6);
        painter.fillPath(shadow, CorvalentStyle::withAlpha(CorvalentStyle::teal(), 0.22));
        QPainterPath fill;
        fill.addRoundedRect(plate, 5, 5);
        painter.fillPath(fill, CorvalentStyle::teal());
    }
    // The ring goes around the button; around the one on the plate, in two
    // bands: the outer against the track, the inner against the plate. The
    // button beside the plate keeps its ring to its own edge, on the track:
    // grown, it would run into the plate.
    for (auto* button : {processes_, storage_}) {
        const auto around = QRectF(button->geometry()).adjusted(-3, -3, 3, 3);
        if (button->selected() && plate_ >= 0)
            button->focusRing().paintOnFill(painter, *button, around, 8, CorvalentStyle::teal());
        else if (plate_ >= 0)
            button->focusRing().paint(painter, *button, QRectF(button->geometry()), 5);
        else
            button->focusRing().paint(painter, *button, around, 8);
    }
}

}  // namespace corvalent

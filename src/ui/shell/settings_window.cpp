#include "ui/shell/settings_window.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QScrollArea>
#include <QShortcut>
#include <QVBoxLayout>

#include "models/background_task.h"
#include "models/preferences.h"
#include "models/vantle_model.h"
#include "ui/onboarding/onboarding_flow.h"
#include "ui/shell/system_settings.h"
#include "ui/widgets/buttons.h"
#include "ui/widgets/corvalent_style.h"
#include "ui/widgets/labels.h"
#include "ui/widgets/message_line.h"
#include "ui/widgets/overlay_scroll_bar.h"
#include "ui/widgets/panel.h"
#include "ui/widgets/screen_fit.h"
#include "ui/widgets/segmented_control.h"
#include "ui/widgets/switch.h"
#include "ui/widgets/symbols.h"

namespace corvalent {
namespace {

constexpr int windowWidth = 500;
constexpr int windowHeight = 540;

QString lockSymbol(bool showProtected)
{
    return showProtected ? QStringLiteral("lock.open.fill") : QStringLiteral("lock.shield.fill");
}

ElidedLabel* bodyLabel(const QString& text)
{
    return new ElidedLabel(text, CorvalentStyle::font(TextStyle::body, QFont::Medium), Tones::primary());
}

// A caption in the secondary colour; long ones wrap to their full height.
ElidedLabel* captionLabel(const QString& text, bool wrap = true)
{
    auto* label = new ElidedLabel(text, CorvalentStyle::font(TextStyle::caption), Tones::secondary());
    label->setWordWrap(wrap);
    return label;
}

Switch* makeSwitch(const QString& name, bool on)
{
    auto* control = new Switch;
    control->setAccessibleName(name);
    control->setChecked(on);
    return control;
}

// A section: its plain header above a panel whose layout the caller fills.
QVBoxLayout* addSection(QVBoxLayout& column, const QString& title)
{
    auto* header = new ElidedLabel(title, CorvalentStyle::font(TextStyle::headline), Tones::primary());
    header->setContentsMargins(4, 0, 0, 0);
    auto* panel = new PanelSurface(10);
    auto* inside = new QVBoxLayout(panel);
    inside->setContentsMargins(14, 12, 14, 12);
    inside->setSpacing(6);
    auto* section = new QVBoxLayout;
    section->setSpacing(5);
    section->addWidget(header);
    section->addWidget(panel);
    column.addLayout(section);
    return inside;
}

// Readers meet the window as a dialog named by its title, as the main window
// is a frame; Qt would give a plain widget the role of a filler.
QAccessibleInterface* settingsAccessible(const QString&, QObject* object)
{
    if (auto* window = qobject_cast<SettingsWindow*>(object)) return new QAccessibleWidget(window, QAccessible::Dialog);
    return nullptr;
}

}  // namespace

// A modeless dialog-type window: with an owner, the window manager keeps it
// above and with that window (a plain window type would not be marked so).
SettingsWindow::SettingsWindow(VantleModel& model, QWidget* parent) : QWidget(parent, Qt::Dialog), model_(model)
{
    static const bool readersKnowTheWindow = [] {
        QAccessible::installFactory(settingsAccessible);
        return true;
    }();
    Q_UNUSED(readersKnowTheWindow);
    setWindowTitle(QStringLiteral("Settings"));
    setFont(CorvalentStyle::font(TextStyle::body));
    auto* sections = new QWidget;
    auto* column = new QVBoxLayout(sections);
    column->setContentsMargins(20, 18, 20, 18);
    column->setSpacing(16);
    buildProcessVisibility(*column);
    buildAppearance(*column);
    buildDiskAccess(*column);
    buildLayout(*column);
    column->addStretch(1);
    // On a smaller screen the sections scroll inside the window.
    auto* whole = new QVBoxLayout(this);
    whole->setContentsMargins(0, 0, 0, 0);
    auto* area = sheetScrollArea(sections, windowWidth);
    area->setAccessibleName(QStringLiteral("Settings"));
    whole->addWidget(area);
    new ScreenFit(*this, [] { return QSize(windowWidth, windowHeight); });

    // Nothing here waits to be applied, so Escape simply closes, as Ctrl+W does.
    for (const auto& keys : {QKeySequence(QKeySequence::Close), QKeySequence(Qt::Key_Escape)}) {
        auto* close = new QShortcut(keys, this);
        connect(close, &QShortcut::activated, this, &QWidget::close);
    }
    // Focus starts on the first switch without a keyboard ring.
    protected_->setFocus(Qt::OtherFocusReason);
}

void SettingsWindow::buildProcessVisibility(QVBoxLayout& column)
{
    auto* inside = addSection(column, QStringLiteral("Process visibility"));
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    protectionBadge_ = new SymbolView(lockSymbol(model_.showProtectedProcesses()), 17,
                                      Tones::fixed(CorvalentStyle::teal()), {34, 34}, SymbolView::Tile{9, 0.11});
    row->addWidget(protectionBadge_);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(1);
    texts->addWidget(bodyLabel(QStringLiteral("Show protected processes")));
    texts->addWidget(captionLabel(QStringLiteral("Display processes Corvalent cannot stop."), false));
    row->addLayout(texts, 1);
    protected_ = makeSwitch(QStringLiteral("Show protected processes"), model_.showProtectedProcesses());
    row->addWidget(protected_, 0, Qt::AlignVCenter);
    inside->addLayout(row);
    inside->addWidget(captionLabel(QStringLiteral("Protected processes stay view-only. Corvalent still checks "
                                                  "ownership, identity, and executable location before every stop.")));

    connect(protected_, &QAbstractButton::toggled, this, [this](bool on) {
        if (model_.showProtectedProcesses() != on) model_.setShowProtectedProcesses(on);
    });
    connect(&model_, &VantleModel::showProtectedProcessesChanged, this, [this] {
        const bool on = model_.showProtectedProcesses();
        protectionBadge_->setSymbol(lockSymbol(on));
        if (protected_->isChecked() != on) protected_->setChecked(on);
    });
}

void SettingsWindow::buildAppearance(QVBoxLayout& column)
{
    auto* inside = addSection(column, QStringLiteral("Appearance"));
    auto* row = new QHBoxLayout;
    row->setSpacing(12);
    row->addWidget(bodyLabel(QStringLiteral("Theme")));
    row->addStretch(1);
    theme_ = new SegmentedControl(QStringLiteral("Theme"));
    for (const auto choice : {AppAppearance::system, AppAppearance::light, AppAppearance::dark})
        theme_->addSegment(appearanceTitle(choice), appearanceSymbol(choice), static_cast<int>(choice));
    theme_->setFixedWidth(300);
    theme_->setCurrent(static_cast<int>(storedAppearance()));
    row->addWidget(theme_);
    inside->addLayout(row);
    inside->addWidget(
        captionLabel(QStringLiteral("System follows your computer’s appearance.")));

    connect(theme_, &SegmentedControl::chosen, this, [](int id) { setAppearance(static_cast<AppAppearance>(id)); });
    connect(&Preferences::standard(), &Preferences::appearanceChanged, this,
            [this](const QString& raw) { theme_->setCurrent(static_cast<int>(appearanceFromRaw(raw))); });
}

void SettingsWindow::buildDiskAccess(QVBoxLayout& column)
{
    auto* inside = addSection(column, QStringLiteral("Disk access"));
    auto* row = new QHBoxLayout;
    row->addWidget(bodyLabel(QStringLiteral("Include privacy-protected folders")), 1);
    protectedLocations_ = makeSwitch(QStringLiteral("Include privacy-protected folders"),
                                     Preferences::standard().includePrivacyProtectedLocations());
    row->addWidget(protectedLocations_, 0, Qt::AlignVCenter);
    inside->addLayout(row);
    diskAccessCaption_ = captionLabel(diskAccessCaption(protectedLocations_->isChecked()));
    inside->addWidget(diskAccessCaption_);
    openSettings_ = new Button(Button::Kind::tinted, QStringLiteral("Open Home Folder"));
    inside->addSpacing(2);
    inside->addWidget(openSettings_, 0, Qt::AlignLeft);
    openFailed_ = new MessageLine;
    openFailed_->setObjectName("openHomeMessage");
    inside->addWidget(openFailed_);

    connect(protectedLocations_, &QAbstractButton::toggled, this, [this](bool on) {
        Preferences::standard().setIncludePrivacyProtectedLocations(on);
        diskAccessCaption_->setText(diskAccessCaption(on));
    });
    // Onboarding and the access probe change it too; the switch shows the stored choice.
    connect(&Preferences::standard(), &Preferences::includePrivacyProtectedLocationsChanged, protectedLocations_,
            &QAbstractButton::setChecked);
    // The opener is looked up and started off the GUI thread; its answer comes back here.
    connect(openSettings_, &QPushButton::clicked, this, [this] {
        BackgroundTask::start(
            this, [](std::stop_token) { return openFullDiskAccessSettings(); },
            [this](bool opened) {
                if (opened) return openFailed_->clear();
                openFailed_->say(homeFolderNotOpened());
            },
            {.userInitiated = true, .ownThread = true});
    });
}

void SettingsWindow::buildLayout(QVBoxLayout& column)
{
    auto* inside = addSection(column, QStringLiteral("Layout"));
    auto* row = new QHBoxLayout;
    row->addWidget(bodyLabel(QStringLiteral("Show contextual inspector")), 1);
    inspector_ = makeSwitch(QStringLiteral("Show contextual inspector"), Preferences::standard().showInspector());
    row->addWidget(inspector_, 0, Qt::AlignVCenter);
    inside->addLayout(row);
    inside->addWidget(
        captionLabel(QStringLiteral("Shows process details and storage breakdowns beside the main view.")));

    connect(inspector_, &QAbstractButton::toggled, this, [this](bool on) {
        Preferences::standard().setShowInspector(on);
    });
    connect(&Preferences::standard(), &Preferences::showInspectorChanged, inspector_, &QAbstractButton::setChecked);
}

Segment& SettingsWindow::themeSegment(AppAppearance appearance)
{
    return *theme_->segment(static_cast<int>(appearance));
}

QString SettingsWindow::protectionSymbol() const
{
    return protectionBadge_->symbol();
}

QString SettingsWindow::diskAccessCaption() const
{
    return diskAccessCaption_->text();
}

QString SettingsWindow::diskAccessCaption(bool includeProtectedLocations)
{
    return includeProtectedLocations
               ? QStringLiteral("Full scans include protected locations where the system allows access. Denied paths "
                                "are still reported.")
               : QStringLiteral("Limited scans skip your Desktop, Documents, and Downloads folders unless you "
                                "choose one directly.");
}

}  // namespace corvalent

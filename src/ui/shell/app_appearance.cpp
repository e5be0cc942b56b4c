#include "ui/shell/app_appearance.h"

#include <QApplication>
#include <QDBusConnection>
#include <QPointer>

#include "models/preferences.h"

#include "ui/desktop/desktop_settings.h"
#include "ui/widgets/app_motion.h"
#include "ui/widgets/app_style.h"
#include "ui/widgets/corvalent_style.h"

namespace corvalent {
namespace {

using CorvalentStyle::withAlpha;

struct Colours {
    QColor window, base, alternateBase, text, button, light, mid, dark, shadow, link, tooltip;
};

// Every role from a few colours; disabled text is the active text faded.
QPalette makePalette(const Colours& c)
{
    QPalette palette;
    const auto accent = CorvalentStyle::teal();
    for (const auto group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        const bool disabled = group == QPalette::Disabled;
        const auto text = disabled ? withAlpha(c.text, 0.35) : c.text;
        palette.setColor(group, QPalette::Window, c.window);
        palette.setColor(group, QPalette::WindowText, text);
        palette.setColor(group, QPalette::Base, c.base);
        palette.setColor(group, QPalette::AlternateBase, c.alternateBase);
        palette.setColor(group, QPalette::Text, text);
        palette.setColor(group, QPalette::PlaceholderText, withAlpha(c.text, disabled ? 0.2 : 0.4));
        palette.setColor(group, QPalette::Button, c.button);
        palette.setColor(group, QPalette::ButtonText, text);
        palette.setColor(group, QPalette::BrightText, Qt::white);
        palette.setColor(group, QPalette::Light, c.light);
        palette.setColor(group, QPalette::Midlight, c.light);
        palette.setColor(group, QPalette::Mid, c.mid);
        palette.setColor(group, QPalette::Dark, c.dark);
        palette.setColor(group, QPalette::Shadow, c.shadow);
        palette.setColor(group, QPalette::Highlight, disabled ? withAlpha(accent, 0.4) : accent);
        palette.setColor(group, QPalette::HighlightedText, Qt::white);
        palette.setColor(group, QPalette::Link, c.link);
        palette.setColor(group, QPalette::LinkVisited, c.link.darker(115));
        palette.setColor(group, QPalette::ToolTipBase, c.tooltip);
        palette.setColor(group, QPalette::ToolTipText, text);
    }
    return palette;
}

// Written and read on the GUI thread only.
std::optional<bool>& desktopPrefersDarkAnswer()
{
    static std::optional<bool> answer;
    return answer;
}

}  // namespace

QString rawValue(AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::light: return QStringLiteral("light");
    case AppAppearance::dark: return QStringLiteral("dark");
    case AppAppearance::system: break;
    }
    return QStringLiteral("system");
}

AppAppearance appearanceFromRaw(const QString& raw)
{
    if (raw == "light") return AppAppearance::light;
    if (raw == "dark") return AppAppearance::dark;
    return AppAppearance::system;
}

QString appearanceTitle(AppAppearance appearance)
{
    auto title = rawValue(appearance);
    title[0] = title[0].toUpper();
    return title;
}

QString appearanceSymbol(AppAppearance appearance)
{
    switch (appearance) {
    case AppAppearance::light: return QStringLiteral("sun.max");
    case AppAppearance::dark: return QStringLiteral("moon");
    case AppAppearance::system: break;
    }
    return QStringLiteral("circle.lefthalf.filled");
}

AppAppearance storedAppearance()
{
    return appearanceFromRaw(Preferences::standard().appearance());
}

void setAppearance(AppAppearance appearance)
{
    Preferences::standard().setAppearance(rawValue(appearance));
    applyAppearance(appearance);
}

void followDesktopSettings()
{
    followDesktopSettings(QDBusConnection::sessionBus(), std::chrono::seconds(2));
}

void followDesktopSettings(const QDBusConnection& bus, std::chrono::milliseconds answerTimeout)
{
    static QPointer<DesktopSettings> followed;
    delete followed.data();
    auto* settings = new DesktopSettings(bus, answerTimeout, QCoreApplication::instance());
    followed = settings;
    QObject::connect(settings, &DesktopSettings::prefersDarkChanged, settings, [settings] {
        desktopPrefersDarkAnswer() = settings->prefersDark();
        if (storedAppearance() == AppAppearance::system) applyAppearance(AppAppearance::system);
    });
    QObject::connect(settings, &DesktopSettings::animationsEnabledChanged, settings,
                     [settings] { AppMotion::setDesktopAnimationsEnabled(settings->animationsEnabled()); });
    settings->start();
}

bool desktopPrefersDark()
{
    static const bool gtkThemeDark = qEnvironmentVariable("GTK_THEME").endsWith(":dark");
    return gtkThemeDark || desktopPrefersDarkAnswer().value_or(false);
}

std::optional<bool> desktopAnimationsEnabled()
{
    return AppMotion::desktopAnimationsEnabled();
}

void applyAppearance(AppAppearance appearance)
{
    const bool dark = appearance == AppAppearance::dark ||
                      (appearance == AppAppearance::system && desktopPrefersDark());
    const auto palette = dark ? darkPalette() : lightPalette();
    QApplication::setPalette(palette);
    applyToolTipPalette(palette);
}

QPalette lightPalette()
{
    return makePalette({
        .window = QColor(0xF5, 0xF5, 0xF7),
        .base = QColor(0xFF, 0xFF, 0xFF),
        .alternateBase = QColor(0xF2, 0xF2, 0xF4),
        .text = QColor(0x1D, 0x1D, 0x1F),
        .button = QColor(0xFF, 0xFF, 0xFF),
        .light = QColor(0xFF, 0xFF, 0xFF),
        .mid = QColor(0xC7, 0xC7, 0xCC),
        .dark = QColor(0x8E, 0x8E, 0x93),
        .shadow = QColor(0x00, 0x00, 0x00, 0x40),
        .link = CorvalentStyle::teal().darker(115),
        .tooltip = QColor(0xFF, 0xFF, 0xFF),  // the panel colour, as the help popovers
    });
}

QPalette darkPalette()
{
    return makePalette({
        .window = QColor(0x1E, 0x1E, 0x1F),
        .base = QColor(0x2A, 0x2A, 0x2C),
        .alternateBase = QColor(0x32, 0x32, 0x34),
        .text = QColor(0xF2, 0xF2, 0xF7),
        .button = QColor(0x3A, 0x3A, 0x3C),
        .light = QColor(0x48, 0x48, 0x4A),
        .mid = QColor(0x2C, 0x2C, 0x2E),
        .dark = QColor(0x10, 0x10, 0x11),
        .shadow = QColor(0x00, 0x00, 0x00, 0x80),
        .link = CorvalentStyle::teal().lighter(125),
        .tooltip = QColor(0x2A, 0x2A, 0x2C),  // the panel colour, as the help popovers
    });
}

}  // namespace corvalent

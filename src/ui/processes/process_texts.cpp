#include "ui/processes/process_texts.h"

#include <QLocale>

#include <algorithm>
#include <optional>

#include "core/common/display.h"
#include "core/process/processes.h"

namespace corvalent::ProcessTexts {

QString measuredCPU(std::optional<double> percent)
{
    if (!percent) return QStringLiteral("Unavailable");
    return QString::asprintf("%.0f%%", *percent);
}

QString count(std::int64_t value)
{
    // A fixed locale: the process locale is often C, which groups nothing.
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(value));
}

QString lastScan(int milliseconds)
{
    return QStringLiteral("Last scan %1 ms").arg(milliseconds);
}

QString groupCount(std::size_t groups)
{
    return QStringLiteral("%1 groups on this computer").arg(groups);
}

QString hiddenProtected(int processes)
{
    return QStringLiteral("%1 protected hidden").arg(processes);
}

QString liveState(bool scanning)
{
    return scanning ? QStringLiteral("Updating processes") : QStringLiteral("Process list is live");
}

QString memory(std::uint64_t bytes, bool incomplete)
{
    const auto text = QString::fromStdString(Display::bytes(bytes));
    return incomplete ? QStringLiteral("\u2265 ") + text : text;
}

QString cpu(std::optional<double> percent)
{
    if (!percent) return QStringLiteral("CPU \u2014");
    return QString::asprintf("%.1f%% CPU", *percent);
}

QString memberCount(int members)
{
    return members == 1 ? QStringLiteral("1 process") : QStringLiteral("%1 processes").arg(members);
}

std::optional<ProcessProtection> blockingProtection(const ProcessGroup& group)
{
    for (const auto& member : group.members)
        if (member.isProtected()) return member.protection;
    return std::nullopt;
}

QString blockingReason(std::optional<ProcessProtection> protection)
{
    if (!protection) return QStringLiteral("Protected");
    const auto reason = explanation(*protection);
    return QString::fromUtf8(reason.data(), static_cast<qsizetype>(reason.size()));
}

Glyph glyph(const std::vector<std::string>& stoppableIDs, const std::set<std::string>& selected)
{
    if (stoppableIDs.empty()) return Glyph::locked;
    const auto chosen = std::count_if(stoppableIDs.begin(), stoppableIDs.end(),
                                      [&](const std::string& id) { return selected.count(id) == 1; });
    if (chosen == static_cast<std::ptrdiff_t>(stoppableIDs.size())) return Glyph::checked;
    return chosen > 0 ? Glyph::mixed : Glyph::empty;
}

QString glyphSymbol(Glyph glyph)
{
    switch (glyph) {
        case Glyph::locked: return QStringLiteral("lock.fill");
        case Glyph::checked: return QStringLiteral("checkmark.circle.fill");
        case Glyph::mixed: return QStringLiteral("minus.circle.fill");
        case Glyph::empty: break;
    }
    return QStringLiteral("circle");
}

QString glyphAccessibleName(Glyph glyph, const QString& title)
{
    return (glyph == Glyph::checked ? QStringLiteral("Deselect ") : QStringLiteral("Select ")) + title;
}

QString glyphHelp(Glyph glyph, const QString& title, const QString& blockingReason)
{
    return glyph == Glyph::locked ? blockingReason : QStringLiteral("Select ") + title;
}

ListNotice listNotice(bool hasSample, bool hasRows, bool scanning)
{
    if (!hasSample) return ListNotice::reading;
    // While a refresh runs an empty list waits for it rather than calling
    // itself empty.
    return hasRows || scanning ? ListNotice::none : ListNotice::empty;
}

QString readingText()
{
    return QStringLiteral("Reading processes\u2026");
}

QString emptyTitle()
{
    return QStringLiteral("No processes found");
}

QString emptyDescription(bool showProtectedProcesses)
{
    return showProtectedProcesses ? QStringLiteral("Try another search or include system processes.")
                                  : QStringLiteral("Try another search or show protected processes in Settings.");
}

}  // namespace corvalent::ProcessTexts

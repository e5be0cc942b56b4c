#include "ui/processes/inspector/process_inspector_texts.h"

#include <QStringList>

#include <algorithm>

#include "core/common/display.h"
#include "core/process/processes.h"

namespace corvalent::InspectorTexts {

namespace {

QString fromStd(std::string_view text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

Status status(const ProcessGroup& group)
{
    if (!group.stoppableIDs.empty())
        return {QStringLiteral("Available to review"), QStringLiteral("checkmark.shield.fill"), true};
    for (const auto& member : group.members)
        if (member.isProtected()) return {reason(member.protection), QStringLiteral("lock.fill"), false};
    return {QStringLiteral("Protected \u00b7 view only"), QStringLiteral("lock.fill"), false};
}

QString reason(ProcessProtection protection)
{
    return fromStd(explanation(protection));
}

QString cpu(std::optional<double> percent)
{
    if (!percent) return QStringLiteral("\u2014");
    return QString::asprintf("%.1f%%", *percent);
}

QString related(std::size_t members)
{
    return QStringLiteral("%1 related").arg(members);
}

QString role(const std::string& role)
{
    if (role.empty()) return QStringLiteral("Executable");
    auto words = fromStd(role).split(' ');
    for (auto& word : words)
        if (!word.isEmpty()) word = word.left(1).toUpper() + word.mid(1).toLower();
    return words.join(' ');
}

QString memory(std::optional<std::uint64_t> bytes)
{
    if (!bytes) return QStringLiteral("Unavailable");
    return QString::fromStdString(Display::bytes(*bytes));
}

QString facts(const ProcessRecord& record, double nowSeconds)
{
    const double running = std::max(0.0, nowSeconds - static_cast<double>(record.started) / 1'000'000.0);
    return QStringLiteral("PID %1 \u00b7 Parent %2 \u00b7 Running %3")
        .arg(record.pid)
        .arg(record.parent)
        .arg(QString::fromStdString(Display::age(running)));
}

QString path(const std::string& path)
{
    return path.empty() ? QStringLiteral("Executable path unavailable") : QString::fromStdString(path);
}

QString folder(const std::string& cwd)
{
    return QStringLiteral("Folder: ") + QString::fromStdString(cwd);
}

QString checkName(bool selected, const std::string& name)
{
    return (selected ? QStringLiteral("Deselect ") : QStringLiteral("Select ")) + QString::fromStdString(name);
}

QString checkDescription(int pid)
{
    return QStringLiteral("PID %1").arg(pid);
}

QString ended(const std::string& title)
{
    return QStringLiteral("“%1” is no longer running.").arg(QString::fromStdString(title));
}

std::optional<QString> memberIconSource(const ProcessGroup& group, const ProcessRecord& record)
{
    if (group.appPath) return QString::fromStdString(*group.appPath);
    if (const auto bundle = Classifier::appPath(record.path)) return QString::fromStdString(*bundle);
    if (!record.path.empty()) return QString::fromStdString(record.path);
    return std::nullopt;
}

}  // namespace corvalent::InspectorTexts

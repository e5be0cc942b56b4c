#include "ui/widgets/display_formats.h"

#include <QLocale>

#include "core/common/display.h"

namespace corvalent {

QString bytesText(std::uint64_t bytes)
{
    return QString::fromStdString(Display::bytes(bytes));
}

QString groupedCount(std::int64_t count)
{
    return QLocale(QLocale::English, QLocale::UnitedStates).toString(static_cast<qlonglong>(count));
}

QString memoryPressureText(MemoryPressure pressure)
{
    switch (pressure) {
    case MemoryPressure::normal: return QStringLiteral("Normal");
    case MemoryPressure::elevated: return QStringLiteral("Elevated");
    case MemoryPressure::critical: return QStringLiteral("Critical");
    case MemoryPressure::unavailable: break;
    }
    return QStringLiteral("Unavailable");
}

}  // namespace corvalent

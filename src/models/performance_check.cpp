#include "models/performance_check.h"

#include <QCoreApplication>
#include <QStringList>
#include <unistd.h>

namespace corvalent::PerformanceCheck {
namespace {

bool argumentGiven(const char* flag)
{
    const auto arguments = QCoreApplication::arguments();
    return arguments.contains(QLatin1String(flag));
}

}  // namespace

bool processEnabled()
{
    static const bool value = argumentGiven("--performance-check");
    return value;
}

bool diskEnabled()
{
    static const bool value = argumentGiven("--disk-performance-check");
    return value;
}

bool enabled()
{
    return processEnabled() || diskEnabled();
}

ScanResult scan()
{
    ScanResult result;
    result.records.reserve(2'000);
    const auto user = ::getuid();
    for (std::int32_t i = 0; i < 2'000; ++i) {
        const auto number = std::to_string(i);
        result.records.push_back(ProcessRecord::make(100'000 + i, 1, user, 1, 0,
                                                     static_cast<std::uint64_t>(2'000 - i) * 1'024,
                                                     "Test worker " + number,
                                                     "/System/Library/PerformanceFixture/worker-" + number, "/", ""));
    }
    result.pressure = 1;
    result.swap = 0;
    result.timestamp = uptimeSeconds();
    result.duration = 0;
    return result;
}

}  // namespace corvalent::PerformanceCheck

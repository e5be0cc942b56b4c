#include "core/common/uptime.h"

#include <chrono>

namespace corvalent {

double uptimeSeconds()
{
    const std::chrono::duration<double> now = std::chrono::steady_clock::now().time_since_epoch();
    return now.count();
}

}  // namespace corvalent

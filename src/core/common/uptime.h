#pragma once

namespace corvalent {

// Seconds on the uptime clock (steady, never stepped).
double uptimeSeconds();

}  // namespace corvalent

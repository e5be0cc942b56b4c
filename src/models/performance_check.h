#pragma once

// The headless measurement modes, chosen by command-line flags. While either
// flag is given, the process workspace works on a fixed synthetic table so
// that measurements repeat.

#include "core/processes.h"

namespace corvalent::PerformanceCheck {

// "--performance-check" is among the arguments (exactly).
bool processEnabled();
// "--disk-performance-check" is among the arguments (exactly).
bool diskEnabled();
bool enabled();

// The fixed table of 2,000 synthetic processes; only the timestamp changes.
ScanResult scan();

}  // namespace corvalent::PerformanceCheck

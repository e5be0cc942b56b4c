#pragma once

// The headless measurement modes, chosen by command-line flags. While either
// flag is given, the process workspace works on a fixed synthetic table so
// that measurements repeat.

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <variant>

#include "core/process/processes.h"
#include "models/vantle_model.h"

namespace corvalent::PerformanceCheck {

// "--performance-check" is among the arguments (exactly).
bool processEnabled();
// "--disk-performance-check" is among the arguments (exactly).
bool diskEnabled();
bool enabled();

// The fixed table of 2,000 synthetic processes; only the timestamp changes.
ScanResult scan();

// `environment` turned to the fixed table: what the process model is given
// while a measurement runs. Nothing can be stopped there.
VantleModelEnvironment measuredEnvironment(VantleModelEnvironment environment);

// Runs the measurement the flags ask for (the disk run when both are given),
// prints its report on standard output and calls `finished` with the exit
// status: 0, or 1 when the report could not be written. Without a flag it
// calls `finished` at once with 0 and measures nothing.
void run(VantleModel& model, std::function<void(int exitStatus)> finished);

using ReportValue = std::variant<std::int64_t, double, std::string>;
// A flat JSON object: keys in ascending order, two-space indentation,
// "/" written as "\/", integers exact, no trailing newline.
std::string reportJSON(const std::map<std::string, ReportValue>& report);

// The sample at the 95th percentile of ascending `sorted`; 0 without samples.
double percentile95(const std::vector<double>& sorted);

}  // namespace corvalent::PerformanceCheck

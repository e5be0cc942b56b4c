#pragma once

// The TCP ports on which processes listen, as the impact review names them.
// Asks lsof, and only about processes that are still the ones the caller saw.

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "core/process/processes.h"

namespace corvalent::ImpactPortProbe {

// pid -> its listening ports, ascending and distinct; a pid appears only with a port.
using PortMap = std::map<std::int32_t, std::vector<int>>;

// Asks the system's lsof about the first 12 records.
PortMap listeningPorts(const std::vector<ProcessRecord>& records);
// The same with another lsof-compatible tool.
PortMap listeningPorts(const std::vector<ProcessRecord>& records, const std::string& tool);

// Reads lsof's field output ("-Fpn": "p" lines name a process, "n" lines an address).
PortMap parse(std::string_view output);

}  // namespace corvalent::ImpactPortProbe

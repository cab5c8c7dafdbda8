#pragma once
#include <string>

// The plain-text description of a simulated machine (the format is documented in
// sim/DESCRIPTION.md). SimBus::Parse and SimBus::Load use it.

namespace sim {

class SimBus;

// Adds what the description says to bus. On error returns false with "line N: reason".
bool ApplyDescription(const std::string& text, SimBus& bus, std::string* error);

}  // namespace sim

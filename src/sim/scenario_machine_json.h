#pragma once

#include <string>

#include "sim/scenario.h"
#include "sim/scenario_fields.h"

namespace sim::scenario_json {

// The scenario's "machine": its drives, readers, Windows, administrator,
// folders and registry.
bool machine(JsonReader& json, const Json& value, const std::string& path, ScenarioMachine& out);

}  // namespace sim::scenario_json

#pragma once

#include <optional>
#include <string>
#include <vector>

#include "sim/scenario.h"

namespace simrun {

// What velcrest-sim makes of a scenario before it runs it, beyond what the
// scenario reader checks field by field: an error when the scenario cannot
// mean what it says (a program that does not exist), and one warning line
// for each thing that is legal but probably a slip (an incident on a drive
// without a reader, an answer for a template the program never shows, a
// locale name the programs do not know).
struct ScenarioCheck {
    std::optional<std::string> error;
    std::vector<std::string> warnings;
};

ScenarioCheck checkScenario(const sim::Scenario& scenario);

}  // namespace simrun

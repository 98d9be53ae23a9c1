#pragma once

#include <string>

#include "scenario_run.h"
#include "sim/machine.h"

namespace simrun {

// What a person would see and what the machine did, as lines of text: a
// dialog's caption, texts and buttons, the answer, the progress bar, the
// registry writes, the power and the log-on. Empty for events the text
// transcript leaves to --json.
std::string transcriptText(const sim::MachineEvent& event);
// The closing summary: firmware, reader identity, medium, marker, run-once,
// what was left open, and how the scenario ended.
std::string summaryText(const RunResult& result);

// The same, one JSON object a line.
std::string eventJson(const sim::MachineEvent& event);
std::string summaryJson(const RunResult& result);

}  // namespace simrun

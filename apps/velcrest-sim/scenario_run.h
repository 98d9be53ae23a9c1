#pragma once

#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "sim/machine.h"
#include "sim/scenario.h"

namespace simrun {

// velcrest-sim's exit statuses.
inline constexpr int kExitScenarioEnded = 0;
inline constexpr int kExitUsage = 1;
inline constexpr int kExitBadScenario = 2;
inline constexpr int kExitLoopGuard = 3;

// Power cycles one scenario may go through: a program that switches the
// machine off at every log-on must not keep the run going for ever.
inline constexpr int kMaxBoots = 4;

struct ShownDialog {
    std::string program;
    int templateId = 0;
    std::string caption;
};

struct RunSummary {
    sim::MachineSummary machine;
    std::vector<ShownDialog> dialogs;  // every dialog a program showed, in order
    bool stoppedByLoopGuard = false;
    std::string loopGuardReason;
    // The last of the format program's closing notices it showed, if any.
    std::optional<ShownDialog> formatClosingNotice;

    // Whether `program` showed template `templateId` at some point.
    bool showed(std::string_view program, int templateId) const;
};

struct RunResult {
    std::vector<sim::MachineEvent> events;
    RunSummary summary;
    int exitStatus = kExitScenarioEnded;
};

struct RunOptions {
    // Each event as it happens (the live transcript).
    std::function<void(const sim::MachineEvent&)> onEvent;
    // A person at the terminal answers every dialog; when the input ends the
    // scenario's answers take over.
    std::istream* interactiveIn = nullptr;
    std::ostream* interactiveOut = nullptr;
    std::optional<sim::LoopGuardLimits> loopGuard;
};

// Folders a scenario left unset: the example package as the program folder
// and the repository's resources/ for the language libraries.
void fillDefaultFolders(sim::Scenario& scenario);

// The program names a scenario uses must be programs of the table; the
// field that names an unknown one, as a scenario error.
std::optional<std::string> checkProgramNames(const sim::Scenario& scenario);

// Runs the scenario to its end on a machine of its own: the programs of
// `run.start` one after the other, then, when a program switched the machine
// off, the next power-on and log-on with its run-once programs.
RunResult runScenario(const sim::Scenario& scenario, const RunOptions& options = {});

}  // namespace simrun

#include "scenario_run.h"

#include <algorithm>
#include <array>
#include <memory>

#include "format/format_templates.h"
#include "program_table.h"
#include "sim/user_script.h"

namespace simrun {

namespace {

// Thrown by the loop guard's handler and caught by runScenario alone: the
// programs loop on results the guard cannot change (a notice shown until a
// medium is writable), so the run is ended where it stands, as a person
// would end a hung program. Nothing in the programs catches it.
struct ProcessKilled {};

// The notices the format program ends with: the new revision not confirmed,
// confirmed, and the end of a stand-alone format (or no reader found). Its
// notice that a format was not seen to finish comes before one of them.
constexpr std::array kFormatClosingNotices = {
    format::FormatTemplate::RevisionDiffers,
    format::FormatTemplate::RevisionMatches,
    format::FormatTemplate::StandAloneDone,
};

bool isFormatClosingNotice(const ShownDialog& dialog) {
    if (findProgram(dialog.program) != findProgram(kFormatProgramFile)) return false;
    return std::any_of(kFormatClosingNotices.begin(), kFormatClosingNotices.end(),
                       [&](format::FormatTemplate notice) {
                           return format::templateNumber(notice) == dialog.templateId;
                       });
}

std::string knownPrograms() {
    std::string names;
    for (const ProgramEntry& entry : programTable()) {
        if (!names.empty()) names += ", ";
        names += entry.file.fileName;
    }
    return names;
}

std::optional<std::string> unknownProgram(const std::string& field, const std::string& name) {
    if (findProgram(name) != nullptr) return std::nullopt;
    return field + ": no program \"" + name + "\" (known: " + knownPrograms() + ")";
}

class ScenarioRunner {
  public:
    ScenarioRunner(const sim::Scenario& scenario, const RunOptions& options)
        : scenario_(scenario), machine_(scenario) {
        machine_.setProgramFiles(programFiles());
        if (options.onEvent) machine_.setEventSink(options.onEvent);
        if (options.loopGuard) machine_.setLoopGuard(*options.loopGuard);
        machine_.setGuardHandler([] { throw ProcessKilled{}; });
        machine_.setProgramStarter([this](const std::string& program) { runProgram(program); });
        if (options.interactiveIn != nullptr && options.interactiveOut != nullptr) {
            terminal_ = std::make_unique<sim::Terminal>(
                sim::Terminal{*options.interactiveIn, *options.interactiveOut});
            for (const ProgramEntry& entry : programTable()) {
                const std::string& file = entry.file.fileName;
                people_.push_back(std::make_unique<sim::TerminalUserScript>(
                    *terminal_, machine_.scriptedUser(file)));
                machine_.setUser(file, *people_.back());
            }
        }
    }

    RunResult run() {
        RunResult result;
        try {
            session();
        } catch (const ProcessKilled&) {
            result.summary.stoppedByLoopGuard = true;
            while (machine_.currentProcess() != nullptr) machine_.endProcess(true);
        }
        result.events = machine_.events();
        result.summary.machine = machine_.summary();
        for (const sim::MachineEvent& event : result.events) {
            if (event.kind == sim::EventKind::DialogShown) {
                result.summary.dialogs.push_back(
                    ShownDialog{event.program, static_cast<int>(event.get(sim::field::kTemplate)),
                                event.get(sim::field::kCaption)});
            } else if (event.kind == sim::EventKind::LoopGuard) {
                result.summary.loopGuardReason = event.get(sim::field::kReason);
            }
        }
        for (const ShownDialog& dialog : result.summary.dialogs) {
            if (isFormatClosingNotice(dialog)) result.summary.formatClosingNotice = dialog;
        }
        result.exitStatus = result.summary.stoppedByLoopGuard ? kExitLoopGuard : kExitScenarioEnded;
        return result;
    }

  private:
    void runProgram(const std::string& fileName) {
        const ProgramEntry* entry = findProgram(fileName);
        if (entry == nullptr) return;
        sim::MachineProcess& process = machine_.startProcess(entry->file.fileName);
        entry->run(process.services());
        machine_.endProcess();
    }

    void session() {
        for (const std::string& program : scenario_.run.start) {
            if (machine_.poweredOff()) break;
            runProgram(program);
        }
        for (int boot = 0; boot < kMaxBoots; ++boot) {
            if (machine_.poweredOff()) {
                if (scenario_.run.afterPowerOff == sim::AfterPowerOff::Stop) return;
                machine_.powerOn();
            } else if (boot == 0 &&
                       scenario_.run.ifNotPoweredOff == sim::IfNotPoweredOff::Restart) {
                machine_.restart();
            } else {
                return;
            }
            machine_.logOn([this](const std::string& program) { runProgram(program); });
        }
    }

    const sim::Scenario& scenario_;
    sim::Machine machine_;
    std::unique_ptr<sim::Terminal> terminal_;
    std::vector<std::unique_ptr<sim::TerminalUserScript>> people_;
};

}  // namespace

bool RunSummary::showed(std::string_view program, int templateId) const {
    for (const ShownDialog& dialog : dialogs) {
        if (dialog.program == program && dialog.templateId == templateId) return true;
    }
    return false;
}

void fillDefaultFolders(sim::Scenario& scenario) {
    const std::filesystem::path source = VELCREST_SOURCE_DIR;
    if (scenario.machine.programFolder.empty())
        scenario.machine.programFolder = source / "examples" / "package";
    if (scenario.machine.libraryFolder.empty())
        scenario.machine.libraryFolder = source / "resources";
}

std::optional<std::string> checkProgramNames(const sim::Scenario& scenario) {
    for (std::size_t i = 0; i < scenario.run.start.size(); ++i) {
        if (auto problem =
                unknownProgram("run.start[" + std::to_string(i) + "]", scenario.run.start[i]))
            return problem;
    }
    for (const auto& [program, answers] : scenario.user.programs) {
        if (auto problem = unknownProgram("user.programs." + program, program)) return problem;
    }
    for (std::size_t i = 0; i < scenario.faults.size(); ++i) {
        const auto& program = scenario.faults[i].program;
        if (!program) continue;
        if (auto problem = unknownProgram("faults[" + std::to_string(i) + "].program", *program))
            return problem;
    }
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const sim::Incident& incident = scenario.incidents[i];
        const std::string field = "incidents[" + std::to_string(i) + "]";
        if (incident.at.program) {
            if (auto problem = unknownProgram(field + ".at.program", *incident.at.program))
                return problem;
        }
        if (incident.kind == sim::IncidentKind::StartProgram) {
            if (auto problem = unknownProgram(field + ".program", incident.program)) return problem;
        }
    }
    return std::nullopt;
}

RunResult runScenario(const sim::Scenario& scenario, const RunOptions& options) {
    sim::Scenario filled = scenario;
    fillDefaultFolders(filled);
    ScenarioRunner runner(filled, options);
    return runner.run();
}

}  // namespace simrun

// velcrest-sim [SCENARIO] [--json] [--interactive] [--stream-out FILE]: runs
// both programs on the simulated machine and prints what happened. Without a
// scenario it runs the built-in demonstration.
#include <CLI/CLI.hpp>
#include <iostream>
#include <optional>
#include <string>

#include "demo_scenario.h"
#include "received_stream.h"
#include "scenario_checks.h"
#include "scenario_run.h"
#include "sim/scenario_json.h"
#include "transcript.h"

namespace {

struct Arguments {
    std::string scenarioFile;  // empty: the demonstration
    bool json = false;
    bool interactive = false;
    std::string streamFile;
    std::string streamDrive;
};

constexpr const char* kToolName = "velcrest-sim";
constexpr const char* kDescription =
    "Runs the update program and the format program, the real code, on a simulated Windows\n"
    "machine described by a scenario file, and prints what a person would have seen and what\n"
    "the machine did.";
constexpr const char* kFooter =
    "Exit statuses:\n"
    "  0  the scenario ran to its end\n"
    "  1  a bad command line, or a stream file that cannot be written\n"
    "  2  a bad scenario file (one line on standard error naming the field)\n"
    "  3  the loop guard stopped a program that would have gone round for ever\n"
    "\n"
    "Scenario files, the transcript and the JSON events: docs/scenarios.md";

void describe(CLI::App& app, Arguments& arguments) {
    app.footer(kFooter);
    app.add_option("scenario", arguments.scenarioFile,
                   "the scenario file (JSON); without it, the built-in demonstration");
    app.add_flag("--json", arguments.json,
                 "one JSON object a line on standard output: every event, then the summary");
    app.add_flag("--interactive", arguments.interactive,
                 "answer every dialog at the terminal; when the input ends, the scenario's "
                 "answers take over");
    CLI::Option* stream = app.add_option(
        "--stream-out", arguments.streamFile,
        "write the firmware stream a reader took (header block and data blocks as it received "
        "them) to FILE, comparable with `firmtool stream --out`");
    stream->type_name("FILE");
    app.add_option("--stream-drive", arguments.streamDrive,
                   "the reader whose stream --stream-out writes (default: the first reader that "
                   "took a header block, else the first reader)")
        ->type_name("LETTER")
        ->needs(stream);
}

// A usage error is one line; --help and -h print the whole help.
std::optional<int> parse(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::cout << app.help();
        return simrun::kExitScenarioEnded;
    } catch (const CLI::ParseError& error) {
        std::cerr << kToolName << ": " << error.what() << " (see " << kToolName << " --help)\n";
        return simrun::kExitUsage;
    }
    return std::nullopt;
}

}  // namespace

int main(int argc, char** argv) {
    Arguments arguments;
    CLI::App app(kDescription, kToolName);
    describe(app, arguments);
    if (const std::optional<int> status = parse(app, argc, argv)) return *status;

    const std::string scenarioName =
        arguments.scenarioFile.empty() ? std::string("demo") : arguments.scenarioFile;
    sim::Scenario scenario = simrun::demoScenario();
    if (!arguments.scenarioFile.empty()) {
        sim::ScenarioReading reading = sim::readScenarioFile(arguments.scenarioFile);
        if (!reading.ok()) {
            std::cerr << kToolName << ": " << scenarioName << ": " << *reading.error << "\n";
            return simrun::kExitBadScenario;
        }
        scenario = std::move(reading.scenario);
    }
    const simrun::ScenarioCheck check = simrun::checkScenario(scenario);
    if (check.error) {
        std::cerr << kToolName << ": " << scenarioName << ": " << *check.error << "\n";
        return simrun::kExitBadScenario;
    }
    for (const std::string& warning : check.warnings)
        std::cerr << kToolName << ": " << scenarioName << ": warning: " << warning << "\n";

    std::optional<char> streamDrive;
    if (!arguments.streamDrive.empty()) {
        streamDrive = simrun::driveLetterOf(arguments.streamDrive);
        if (!streamDrive) {
            std::cerr << kToolName << ": --stream-drive: expected a drive letter, not \""
                      << arguments.streamDrive << "\" (see " << kToolName << " --help)\n";
            return simrun::kExitUsage;
        }
    }

    const bool json = arguments.json;
    simrun::RunOptions options;
    options.onEvent = [json](const sim::MachineEvent& event) {
        const std::string line = json ? simrun::eventJson(event) : simrun::transcriptText(event);
        if (!line.empty()) std::cout << line << std::flush;
    };
    if (arguments.interactive) {
        options.interactiveIn = &std::cin;
        // Under --json standard output carries only JSON lines.
        options.interactiveOut = json ? &std::cerr : &std::cout;
    }
    if (!json && !scenario.description.empty()) std::cout << "== " << scenario.description << "\n";

    const simrun::RunResult result = simrun::runScenario(scenario, options);
    std::cout << (json ? simrun::summaryJson(result) : simrun::summaryText(result));
    if (result.exitStatus == simrun::kExitLoopGuard) {
        std::cerr << kToolName
                  << ": the loop guard stopped the scenario: " << result.summary.loopGuardReason
                  << "\n";
    }
    if (!arguments.streamFile.empty()) {
        if (const auto problem =
                simrun::writeReceivedStream(result, streamDrive, arguments.streamFile)) {
            std::cerr << kToolName << ": --stream-out: " << *problem << "\n";
            return simrun::kExitUsage;
        }
    }
    return result.exitStatus;
}

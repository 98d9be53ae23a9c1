// velcrest-sim [SCENARIO] [--json] [--interactive]: runs both programs on the
// simulated machine and prints what happened. Without a scenario it runs the
// built-in demonstration.
#include <iostream>
#include <optional>
#include <string>
#include <string_view>

#include "demo_scenario.h"
#include "scenario_run.h"
#include "sim/scenario_json.h"
#include "transcript.h"

namespace {

struct Arguments {
    std::optional<std::string> scenarioFile;
    bool json = false;
    bool interactive = false;
};

constexpr const char* kUsage = "usage: velcrest-sim [SCENARIO] [--json] [--interactive]\n";

std::optional<Arguments> parseArguments(int argc, char** argv) {
    Arguments arguments;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--json") {
            arguments.json = true;
        } else if (argument == "--interactive") {
            arguments.interactive = true;
        } else if (argument.starts_with("-") || arguments.scenarioFile) {
            return std::nullopt;
        } else {
            arguments.scenarioFile = std::string(argument);
        }
    }
    return arguments;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<Arguments> arguments = parseArguments(argc, argv);
    if (!arguments) {
        std::cerr << kUsage;
        return simrun::kExitUsage;
    }

    sim::Scenario scenario = simrun::demoScenario();
    if (arguments->scenarioFile) {
        sim::ScenarioReading reading = sim::readScenarioFile(*arguments->scenarioFile);
        if (!reading.ok()) {
            std::cerr << "velcrest-sim: " << *arguments->scenarioFile << ": " << *reading.error
                      << "\n";
            return simrun::kExitBadScenario;
        }
        scenario = std::move(reading.scenario);
    }
    if (const auto problem = simrun::checkProgramNames(scenario)) {
        std::cerr << "velcrest-sim: " << arguments->scenarioFile.value_or("demo") << ": "
                  << *problem << "\n";
        return simrun::kExitBadScenario;
    }

    const bool json = arguments->json;
    simrun::RunOptions options;
    options.onEvent = [json](const sim::MachineEvent& event) {
        const std::string line = json ? simrun::eventJson(event) : simrun::transcriptText(event);
        if (!line.empty()) std::cout << line << std::flush;
    };
    if (arguments->interactive) {
        options.interactiveIn = &std::cin;
        options.interactiveOut = &std::cout;
    }
    if (!json && !scenario.description.empty()) std::cout << "== " << scenario.description << "\n";

    const simrun::RunResult result = simrun::runScenario(scenario, options);
    std::cout << (json ? simrun::summaryJson(result) : simrun::summaryText(result));
    if (result.exitStatus == simrun::kExitLoopGuard) {
        std::cerr << "velcrest-sim: the loop guard stopped the scenario: "
                  << result.summary.loopGuardReason << "\n";
    }
    return result.exitStatus;
}

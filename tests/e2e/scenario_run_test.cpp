#include "scenario_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <ostream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "demo_scenario.h"
#include "sim/scenario_json.h"

namespace {

template <class Case>
requires requires(const Case& c) {
    std::string_view(c.name);
}
void PrintTo(const Case& c, std::ostream* out) {
    *out << c.name;
}

struct NameOfCase {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& testInfo) const {
        return testInfo.param.name;
    }
};

constexpr std::uint16_t kNewProductId = 0x1002;
constexpr std::uint16_t kHandOffRevision = 0x0200;

const std::filesystem::path kScenarios =
    std::filesystem::path(VELCREST_SOURCE_DIR) / "examples" / "scenarios";

std::size_t timesShown(const simrun::RunSummary& summary, std::string_view program,
                       int templateId) {
    return static_cast<std::size_t>(std::count_if(
        summary.dialogs.begin(), summary.dialogs.end(), [&](const simrun::ShownDialog& dialog) {
            return dialog.program == program && dialog.templateId == templateId;
        }));
}

// What every run must leave behind, whatever happened in it.
void expectNothingLeftOpen(const simrun::RunResult& result) {
    const sim::MachineSummary& machine = result.summary.machine;
    EXPECT_EQ(machine.openRegistryKeys, 0u);
    EXPECT_EQ(machine.openVolumeHandles, 0u);
    EXPECT_TRUE(machine.lockedVolumes.empty());
}

void expectTheWholeRoad(const simrun::RunResult& result) {
    ASSERT_EQ(result.exitStatus, simrun::kExitScenarioEnded);
    const sim::MachineSummary& machine = result.summary.machine;
    ASSERT_FALSE(machine.readers.empty());
    const sim::ReaderSummary& reader = machine.readers[0];
    EXPECT_TRUE(reader.firmware.written());
    EXPECT_EQ(reader.firmware.checksumMatches, std::optional<bool>(true));
    EXPECT_EQ(reader.after.productId, kNewProductId);
    EXPECT_EQ(reader.after.deviceRevision, kHandOffRevision);
    EXPECT_EQ(reader.formatsCompleted, 1);
    EXPECT_TRUE(machine.markerWritten);
    EXPECT_FALSE(machine.markerPresent) << "Ardlow removes the marker after the format";
    EXPECT_TRUE(machine.runOnceValues.empty()) << "Windows removed the run-once value";
    EXPECT_EQ(machine.powerCycles, 1);
    EXPECT_TRUE(result.summary.showed("Velcrest.exe", 140)) << "update complete";
    EXPECT_TRUE(result.summary.showed("Ardlow.exe", 140)) << "the new revision confirmed";
    EXPECT_FALSE(result.summary.showed("Ardlow.exe", 139));
    expectNothingLeftOpen(result);
}

TEST(Demonstration, RunsTheWholeRoadFromTheUpdateToTheFormattedMedium) {
    std::vector<sim::MachineEvent> live;
    simrun::RunOptions options;
    options.onEvent = [&](const sim::MachineEvent& event) { live.push_back(event); };
    const simrun::RunResult result = simrun::runScenario(simrun::demoScenario(), options);
    expectTheWholeRoad(result);
    EXPECT_EQ(live.size(), result.events.size()) << "the live transcript sees every event";

    // Velcrest ran before the power-off, Ardlow after the log-on.
    const auto at = [&](sim::EventKind kind, std::string_view program) {
        return std::find_if(result.events.begin(), result.events.end(),
                            [&](const sim::MachineEvent& e) {
                                return e.kind == kind && (program.empty() || e.program == program);
                            });
    };
    const auto velcrestEnds = at(sim::EventKind::ProcessEnded, "Velcrest.exe");
    const auto powerOff = at(sim::EventKind::PowerOff, "");
    const auto logOn = at(sim::EventKind::LogOn, "");
    const auto ardlowStarts = at(sim::EventKind::ProcessStarted, "Ardlow.exe");
    ASSERT_NE(ardlowStarts, result.events.end());
    EXPECT_LT(velcrestEnds, powerOff);
    EXPECT_LT(powerOff, logOn);
    EXPECT_LT(logOn, ardlowStarts);

    // Both progress bars moved all the way through their quarters.
    std::vector<std::int64_t> flashMarks;
    for (const sim::MachineEvent& event : result.events) {
        if (event.kind == sim::EventKind::Progress && event.program == "Velcrest.exe")
            flashMarks.push_back(event.number("percent"));
    }
    EXPECT_EQ(flashMarks, (std::vector<std::int64_t>{0, 25, 50, 75, 100}));
}

// --- the ready scenarios of examples/scenarios -------------------------------------

struct ExampleCase {
    const char* name;
    const char* file;
    std::function<void(const simrun::RunResult&)> check;
};

class ExampleScenario : public ::testing::TestWithParam<ExampleCase> {};

TEST_P(ExampleScenario, RunsAsItsDescriptionSays) {
    const sim::ScenarioReading reading = sim::readScenarioFile(kScenarios / GetParam().file);
    ASSERT_TRUE(reading.ok()) << *reading.error;
    ASSERT_EQ(simrun::checkProgramNames(reading.scenario), std::nullopt);
    EXPECT_FALSE(reading.scenario.description.empty());
    const simrun::RunResult result = simrun::runScenario(reading.scenario);
    EXPECT_EQ(result.exitStatus, simrun::kExitScenarioEnded);
    expectNothingLeftOpen(result);
    GetParam().check(result);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExampleScenario,
    ::testing::Values(
        ExampleCase{"Demo", "demo.json", expectTheWholeRoad},
        ExampleCase{"WriteProtected", "write-protected.json",
                    [](const simrun::RunResult& result) {
                        EXPECT_EQ(timesShown(result.summary, "Velcrest.exe", 147), 3u);
                        expectTheWholeRoad(result);
                    }},
        ExampleCase{"RefusedBlock", "refused-block.json",
                    [](const simrun::RunResult& result) {
                        const sim::MachineSummary& machine = result.summary.machine;
                        EXPECT_TRUE(result.summary.showed("Velcrest.exe", 154));
                        EXPECT_FALSE(result.summary.showed("Velcrest.exe", 140));
                        EXPECT_FALSE(machine.readers[0].firmware.written());
                        EXPECT_EQ(machine.readers[0].firmware.blocksReceived, 19u);
                        EXPECT_FALSE(machine.markerWritten);
                        EXPECT_TRUE(machine.runOnceValues.empty());
                        EXPECT_EQ(machine.readers[0].after, machine.readers[0].before);
                        EXPECT_EQ(machine.powerCycles, 0);
                    }},
        ExampleCase{"SecondReader", "second-reader.json",
                    [](const simrun::RunResult& result) {
                        const sim::MachineSummary& machine = result.summary.machine;
                        EXPECT_TRUE(result.summary.showed("Velcrest.exe", 146));
                        EXPECT_TRUE(machine.readers[0].firmware.written()) << "the lower letter";
                        EXPECT_FALSE(machine.readers[1].firmware.headerReceived);
                        EXPECT_EQ(machine.readers[0].formatsCompleted, 1);
                        EXPECT_EQ(machine.readers[1].formatsCompleted, 0);
                        EXPECT_TRUE(result.summary.showed("Ardlow.exe", 140));
                    }},
        // Readers with a USB serial number are not supported: the registry
        // does not lead to their USB identity, so no table row matches.
        ExampleCase{"SerialNumberReader", "serial-number-reader.json",
                    [](const simrun::RunResult& result) {
                        const sim::MachineSummary& machine = result.summary.machine;
                        std::vector<int> shown;
                        for (const simrun::ShownDialog& dialog : result.summary.dialogs)
                            shown.push_back(dialog.templateId);
                        EXPECT_EQ(shown, (std::vector<int>{150, 102, 151, 153}));
                        EXPECT_FALSE(machine.readers[0].firmware.headerReceived);
                        EXPECT_EQ(machine.readers[0].after, machine.readers[0].before);
                        EXPECT_FALSE(machine.markerWritten);
                        EXPECT_TRUE(machine.runOnceValues.empty());
                        EXPECT_EQ(machine.powerCycles, 0);
                    }},
        ExampleCase{"StandAloneFormat", "stand-alone-format.json",
                    [](const simrun::RunResult& result) {
                        const sim::MachineSummary& machine = result.summary.machine;
                        for (const int id : {144, 149, 150})
                            EXPECT_TRUE(result.summary.showed("Ardlow.exe", id)) << id;
                        EXPECT_FALSE(result.summary.showed("Ardlow.exe", 140));
                        EXPECT_EQ(machine.readers[0].formatsCompleted, 1);
                        EXPECT_FALSE(machine.markerWritten);
                        EXPECT_EQ(machine.powerCycles, 0);
                    }}),
    NameOfCase{});

TEST(ExampleScenarios, EveryFileIsRunByTheTable) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(kScenarios))
        files.push_back(entry.path().filename().string());
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<std::string>{"demo.json", "refused-block.json",
                                               "second-reader.json", "serial-number-reader.json",
                                               "stand-alone-format.json", "write-protected.json"}))
        << "a new example scenario belongs in the table above";
}

TEST(ExampleScenarios, TheFullExampleOfTheDocumentationRuns) {
    std::ifstream in(std::filesystem::path(VELCREST_SOURCE_DIR) / "docs" / "scenarios.md");
    std::ostringstream document;
    document << in.rdbuf();
    const std::string text = document.str();
    const std::size_t start = text.find("```json\n");
    ASSERT_NE(start, std::string::npos);
    const std::size_t end = text.find("```", start + 8);
    ASSERT_NE(end, std::string::npos);
    const sim::ScenarioReading reading =
        sim::readScenarioText(text.substr(start + 8, end - start - 8), kScenarios);
    ASSERT_TRUE(reading.ok()) << *reading.error;
    const simrun::RunResult result = simrun::runScenario(reading.scenario);

    EXPECT_EQ(result.exitStatus, simrun::kExitScenarioEnded);
    EXPECT_TRUE(result.summary.showed("Velcrest.exe", 146)) << "two readers";
    EXPECT_EQ(timesShown(result.summary, "Velcrest.exe", 147), 2u);
    EXPECT_FALSE(result.summary.showed("Velcrest.exe", 152)) << "the lock's own retries cover two";
    EXPECT_TRUE(result.summary.machine.readers[0].firmware.written());
    EXPECT_EQ(result.summary.machine.powerCycles, 1) << "the restart after the declined power-off";
    EXPECT_TRUE(result.summary.showed("Ardlow.exe", 140));
    expectNothingLeftOpen(result);
}

// --- power-off declined, the loop guard, a second instance ------------------------

TEST(ScenarioRun, ADeclinedPowerOffLeavesTheHandOffUntilTheUserRestarts) {
    sim::Scenario scenario = simrun::demoScenario();
    scenario.user.programs["Velcrest.exe"].queued[142] = {sim::UserAction::cancel()};

    const simrun::RunResult stopped = simrun::runScenario(scenario);
    EXPECT_EQ(stopped.exitStatus, simrun::kExitScenarioEnded);
    EXPECT_TRUE(stopped.summary.machine.markerPresent);
    ASSERT_EQ(stopped.summary.machine.runOnceValues.size(), 1u);
    EXPECT_EQ(stopped.summary.machine.powerCycles, 0);
    EXPECT_FALSE(stopped.summary.machine.poweredOff);

    scenario.run.ifNotPoweredOff = sim::IfNotPoweredOff::Restart;
    expectTheWholeRoad(simrun::runScenario(scenario));
}

sim::Scenario stuckWriteProtect() {
    sim::Scenario scenario = simrun::demoScenario();
    scenario.machine.readers[0].deviceSpecificParameter = 0x80;
    return scenario;
}

TEST(ScenarioRun, TheLoopGuardEndsAProgramThatWouldAskForEver) {
    simrun::RunOptions options;
    options.loopGuard = sim::LoopGuardLimits{50, 100000};
    const simrun::RunResult result = simrun::runScenario(stuckWriteProtect(), options);
    EXPECT_EQ(result.exitStatus, simrun::kExitLoopGuard);
    EXPECT_TRUE(result.summary.stoppedByLoopGuard);
    EXPECT_FALSE(result.summary.loopGuardReason.empty());
    EXPECT_GE(timesShown(result.summary, "Velcrest.exe", 147), 40u);
    EXPECT_FALSE(result.summary.machine.markerWritten);
    const auto ended = std::find_if(
        result.events.rbegin(), result.events.rend(),
        [](const sim::MachineEvent& e) { return e.kind == sim::EventKind::ProcessEnded; });
    ASSERT_NE(ended, result.events.rend());
    EXPECT_TRUE(ended->flag("killed"));
}

TEST(ScenarioRun, ASecondInstanceStartedDuringTheUpdateShowsNothing) {
    sim::Scenario scenario = simrun::demoScenario();
    sim::Incident start;
    start.at.kind = sim::TriggerKind::Dialog;
    start.at.templateId = 151;
    start.at.program = "Velcrest.exe";
    start.kind = sim::IncidentKind::StartProgram;
    start.program = "Velcrest.exe";
    scenario.incidents = {start};
    const simrun::RunResult result = simrun::runScenario(scenario);

    std::vector<std::string> runs;
    bool nestedShowedADialog = false;
    int depth = 0;
    for (const sim::MachineEvent& event : result.events) {
        if (event.kind == sim::EventKind::ProcessStarted) {
            ++depth;
            runs.push_back(event.program);
        } else if (event.kind == sim::EventKind::ProcessEnded) {
            --depth;
        } else if (event.kind == sim::EventKind::DialogShown && depth > 1) {
            nestedShowedADialog = true;
        }
    }
    EXPECT_EQ(runs, (std::vector<std::string>{"Velcrest.exe", "Velcrest.exe", "Ardlow.exe"}));
    EXPECT_FALSE(nestedShowedADialog);
    expectTheWholeRoad(result);
}

TEST(ScenarioRun, AnUnknownProgramIsAScenarioError) {
    sim::Scenario scenario = simrun::demoScenario();
    scenario.run.start = {"Velcrest.exe", "Notepad.exe"};
    EXPECT_EQ(simrun::checkProgramNames(scenario),
              std::optional<std::string>(
                  "run.start[1]: no program \"Notepad.exe\" (known: Velcrest.exe, Ardlow.exe)"));
}

// --- the tool itself ---------------------------------------------------------------

class VelcrestSimTool : public ::testing::Test {
  protected:
    void SetUp() override {
        folder_ = std::filesystem::path(::testing::TempDir()) /
                  ("velcrest_sim_" +
                   std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path scenarioFile(const std::string& text) {
        const std::filesystem::path file = folder_ / "scenario.json";
        std::ofstream(file) << text;
        return file;
    }

    int run(const std::string& arguments) {
        const std::string command = std::string(VELCREST_SIM_PATH) + " " + arguments + " >" +
                                    (folder_ / "out").string() + " 2>" +
                                    (folder_ / "err").string() + " </dev/null";
        const int status = std::system(command.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string read(const char* name) {
        std::ifstream in(folder_ / name);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }

    std::filesystem::path folder_;
};

struct ToolCase {
    const char* name;
    const char* scenario;  // null: no scenario argument
    const char* options;
    int exitStatus;
    const char* stderrHas;
};

class VelcrestSimExit : public VelcrestSimTool, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(VelcrestSimExit, TellsHowTheRunEnded) {
    const ToolCase& c = GetParam();
    const std::string arguments =
        (c.scenario != nullptr ? scenarioFile(c.scenario).string() + " " : std::string()) +
        c.options;
    EXPECT_EQ(run(arguments), c.exitStatus);
    EXPECT_NE(read("err").find(c.stderrHas), std::string::npos) << read("err");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VelcrestSimExit,
    ::testing::Values(
        ToolCase{"Demonstration", nullptr, "", 0, ""},
        ToolCase{"BadField", "{\"machine\": {\"readers\": [{\"usb\": {\"vid\": \"0d9\"}}]}}", "", 2,
                 "scenario.json: machine.readers[0].usb.vid: expected a string of 4 hexadecimal "
                 "digits\n"},
        ToolCase{"UnknownProgram", "{\"run\": {\"start\": [\"Ardlw.exe\"]}}", "", 2,
                 "run.start[0]: no program \"Ardlw.exe\""},
        ToolCase{"LoopGuard", "{\"machine\": {\"readers\": [{\"writeProtect\": 128}]}}", "", 3,
                 "the loop guard stopped the scenario"},
        ToolCase{"UnknownOption", nullptr, "--verbose", 1, "usage: velcrest-sim"}),
    NameOfCase{});

TEST_F(VelcrestSimTool, JsonGivesOneObjectALineEndingWithTheSummary) {
    ASSERT_EQ(run("--json"), 0);
    std::istringstream lines(read("out"));
    std::vector<nlohmann::json> events;
    for (std::string line; std::getline(lines, line);) {
        nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << line;
        ASSERT_TRUE(parsed.contains("event")) << line;
        events.push_back(std::move(parsed));
    }
    ASSERT_GT(events.size(), 2u);
    const nlohmann::json& summary = events.back();
    EXPECT_EQ(summary["event"], "summary");
    EXPECT_EQ(summary["readers"][0]["firmwareWritten"], true);
    EXPECT_EQ(summary["readers"][0]["formatsCompleted"], 1);
    EXPECT_EQ(summary["marker"]["present"], false);
    const auto closing = std::find_if(events.begin(), events.end(), [](const nlohmann::json& e) {
        return e["event"] == "dialog" && e["program"] == "Ardlow.exe" && e["template"] == 140;
    });
    EXPECT_NE(closing, events.end());
}

TEST_F(VelcrestSimTool, InteractiveAnswersComeFromTheTerminalUntilItsInputEnds) {
    // Cancel at the first dialog ends the update program before anything happens.
    const std::string command = std::string("printf 'cancel\\n' | ") + VELCREST_SIM_PATH +
                                " --interactive >" + (folder_ / "out").string() + " 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string out = read("out");
    EXPECT_NE(out.find("firmware not sent"), std::string::npos) << out;
    EXPECT_NE(out.find("dialog 150 ends with 2"), std::string::npos) << out;
}

}  // namespace

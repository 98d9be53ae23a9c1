#include "scenario_run.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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
#include "e2e_support.h"
#include "firmware/chained_xor.h"
#include "scenario_checks.h"
#include "sim/scenario_json.h"
#include "support/case_names.h"
#include "support/scratch_folder.h"
#include "transcript.h"

namespace {

using e2e::FT;
using e2e::id;
using e2e::UT;
using testsupport::NameOfCase;
using testsupport::PrintTo;

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
    EXPECT_TRUE(result.summary.showed("Velcrest.exe", id(UT::UpdateComplete))) << "update complete";
    EXPECT_TRUE(result.summary.showed("Ardlow.exe", id(FT::RevisionMatches)))
        << "the new revision confirmed";
    EXPECT_FALSE(result.summary.showed("Ardlow.exe", id(FT::RevisionDiffers)));
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
            flashMarks.push_back(event.get(sim::field::kPercent));
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
    const simrun::ScenarioCheck check = simrun::checkScenario(reading.scenario);
    ASSERT_EQ(check.error, std::nullopt);
    EXPECT_EQ(check.warnings, std::vector<std::string>{}) << "an example has no slips";
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
                        EXPECT_EQ(
                            timesShown(result.summary, "Velcrest.exe", id(UT::WriteProtected)), 3u);
                        expectTheWholeRoad(result);
                    }},
        ExampleCase{"RefusedBlock", "refused-block.json",
                    [](const simrun::RunResult& result) {
                        const sim::MachineSummary& machine = result.summary.machine;
                        EXPECT_TRUE(result.summary.showed("Velcrest.exe", id(UT::FlashFailure)));
                        EXPECT_FALSE(result.summary.showed("Velcrest.exe", id(UT::UpdateComplete)));
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
                        EXPECT_TRUE(result.summary.showed("Velcrest.exe", id(UT::SeveralReaders)));
                        EXPECT_TRUE(machine.readers[0].firmware.written()) << "the lower letter";
                        EXPECT_FALSE(machine.readers[1].firmware.headerReceived);
                        EXPECT_EQ(machine.readers[0].formatsCompleted, 1);
                        EXPECT_EQ(machine.readers[1].formatsCompleted, 0);
                        EXPECT_TRUE(result.summary.showed("Ardlow.exe", id(FT::RevisionMatches)));
                    }},
        // Readers with a USB serial number are not supported: the registry
        // does not lead to their USB identity, so no table row matches.
        ExampleCase{"SerialNumberReader", "serial-number-reader.json",
                    [](const simrun::RunResult& result) {
                        const sim::MachineSummary& machine = result.summary.machine;
                        std::vector<int> shown;
                        for (const simrun::ShownDialog& dialog : result.summary.dialogs)
                            shown.push_back(dialog.templateId);
                        EXPECT_EQ(shown,
                                  (std::vector<int>{id(UT::StartNotice), id(UT::MainDialog),
                                                    id(UT::UpdateStart), id(UT::NoTableRow)}));
                        EXPECT_FALSE(machine.readers[0].firmware.headerReceived);
                        EXPECT_EQ(machine.readers[0].after, machine.readers[0].before);
                        EXPECT_FALSE(machine.markerWritten);
                        EXPECT_TRUE(machine.runOnceValues.empty());
                        EXPECT_EQ(machine.powerCycles, 0);
                    }},
        ExampleCase{
            "StandAloneFormat", "stand-alone-format.json",
            [](const simrun::RunResult& result) {
                const sim::MachineSummary& machine = result.summary.machine;
                for (const FT shown : {FT::DriveSelect, FT::ConfirmFormat, FT::StandAloneDone})
                    EXPECT_TRUE(result.summary.showed("Ardlow.exe", id(shown))) << id(shown);
                EXPECT_FALSE(result.summary.showed("Ardlow.exe", id(FT::RevisionMatches)));
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
    EXPECT_TRUE(result.summary.showed("Velcrest.exe", id(UT::SeveralReaders))) << "two readers";
    EXPECT_EQ(timesShown(result.summary, "Velcrest.exe", id(UT::WriteProtected)), 2u);
    EXPECT_FALSE(result.summary.showed("Velcrest.exe", id(UT::DeviceAccessFailure)))
        << "the lock's own retries cover two";
    EXPECT_TRUE(result.summary.machine.readers[0].firmware.written());
    EXPECT_EQ(result.summary.machine.powerCycles, 1) << "the restart after the declined power-off";
    EXPECT_TRUE(result.summary.showed("Ardlow.exe", id(FT::RevisionMatches)));
    expectNothingLeftOpen(result);
}

// --- power-off declined, the loop guard, a second instance ------------------------

TEST(ScenarioRun, ADeclinedPowerOffLeavesTheHandOffUntilTheUserRestarts) {
    sim::Scenario scenario = simrun::demoScenario();
    scenario.user.programs["Velcrest.exe"].queued[id(UT::PowerOffPrompt)] = {
        sim::UserAction::cancel()};

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
    EXPECT_GE(timesShown(result.summary, "Velcrest.exe", id(UT::WriteProtected)), 40u);
    EXPECT_FALSE(result.summary.machine.markerWritten);
    const auto ended = std::find_if(
        result.events.rbegin(), result.events.rend(),
        [](const sim::MachineEvent& e) { return e.kind == sim::EventKind::ProcessEnded; });
    ASSERT_NE(ended, result.events.rend());
    EXPECT_TRUE(ended->get(sim::field::kKilled));
}

TEST(ScenarioRun, ASecondInstanceStartedDuringTheUpdateShowsNothing) {
    sim::Scenario scenario = simrun::demoScenario();
    sim::Incident start;
    start.at.kind = sim::TriggerKind::Dialog;
    start.at.templateId = id(UT::UpdateStart);
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

// --- what a rehearsal shows ------------------------------------------------------

std::vector<const sim::MachineEvent*> eventsOf(const simrun::RunResult& result,
                                               sim::EventKind kind) {
    std::vector<const sim::MachineEvent*> found;
    for (const sim::MachineEvent& event : result.events) {
        if (event.kind == kind) found.push_back(&event);
    }
    return found;
}

// A refused image, then a restart: the transcript says the reader came up
// with its old firmware and why the new one was not taken.
TEST(Rehearsal, ARestartAfterARefusedImageSaysTheOldFirmwareStays) {
    sim::Scenario scenario = simrun::demoScenario();
    scenario.faults = {e2e::refusedBlock(20)};
    scenario.run.ifNotPoweredOff = sim::IfNotPoweredOff::Restart;
    const simrun::RunResult result = simrun::runScenario(scenario);

    const auto enumerated = eventsOf(result, sim::EventKind::ReaderEnumerated);
    ASSERT_EQ(enumerated.size(), 1u);
    EXPECT_FALSE(enumerated[0]->get(sim::field::kChanged));
    const std::string text = simrun::transcriptText(*enumerated[0]);
    EXPECT_NE(text.find("| the new firmware was not taken (only 19 of 96 blocks arrived): the "
                        "old firmware stays"),
              std::string::npos)
        << text;
}

// Block 20 is refused and the user goes on each time: the row, the file, the
// load, the header and every call that reached the reader are told, and every
// later notice says why its block never got there.
TEST(Rehearsal, ShowsTheRowTheLoadTheHeaderAndWhyEveryLaterBlockWasRefused) {
    sim::Scenario scenario = simrun::demoScenario();
    scenario.faults = {e2e::refusedBlock(20)};
    scenario.user.programs["Velcrest.exe"].defaults[id(UT::FlashFailure)] =
        sim::UserAction::cancel();
    const simrun::RunResult result = simrun::runScenario(scenario);
    expectNothingLeftOpen(result);

    const auto loads = eventsOf(result, sim::EventKind::FirmwareLoaded);
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0]->program, "Velcrest.exe");
    EXPECT_EQ(loads[0]->get(sim::field::kResult), firmware::kLoadOk);
    EXPECT_EQ(loads[0]->get(sim::field::kRow), 1);
    EXPECT_EQ(
        loads[0]->get(sim::field::kRowFields),
        (std::vector<std::string>{"0d9f", "1001", "1002", "TKW-5 CardRW", "TKW-5 CardRW", "0100",
                                  "VA-DE-LO Firmware Update R01", "0200", "tkw5crw-0200.s37"}));

    const auto headers = eventsOf(result, sim::EventKind::FirmwareHeader);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0]->get(sim::field::kHeaderName), "VA-DE-LO Firmware Update R01");
    EXPECT_TRUE(headers[0]->get(sim::field::kScrambled));
    EXPECT_EQ(headers[0]->get(sim::field::kBlocks), 96);

    std::vector<std::int64_t> blocksSent;
    for (const sim::MachineEvent* command : eventsOf(result, sim::EventKind::PassThrough)) {
        if (command->get(sim::field::kCommand) != "writeBlock") continue;
        blocksSent.push_back(command->get(sim::field::kBlock));
        EXPECT_EQ(command->get(sim::field::kCdb).substr(0, 8), "fa 00 c0");
        EXPECT_EQ(command->get(sim::field::kDirection), "out");
        EXPECT_EQ(command->get(sim::field::kLength), 512);
        if (command->get(sim::field::kBlock) == 20) {
            EXPECT_EQ(command->get(sim::field::kSense), "03/0C/00");
        } else {
            EXPECT_FALSE(command->has(sim::field::kSense)) << "an accepted block has no sense";
        }
    }
    ASSERT_EQ(blocksSent.size(), 21u) << "the header and blocks 1 to 20 reach the reader";
    EXPECT_EQ(blocksSent.back(), 20);
    EXPECT_EQ(eventsOf(result, sim::EventKind::VolumeLocked).size(), 1u);

    std::size_t releases = 0;
    for (const sim::MachineEvent* closed : eventsOf(result, sim::EventKind::VolumeClosed)) {
        if (!closed->has(sim::field::kAfterRefusal)) continue;
        ++releases;
        EXPECT_EQ(closed->get(sim::field::kAfterRefusal), "block 20 was refused");
    }
    EXPECT_EQ(releases, 1u);

    std::size_t notices = 0;
    for (const sim::MachineEvent* dialog : eventsOf(result, sim::EventKind::DialogShown)) {
        if (dialog->get(sim::field::kTemplate) != id(UT::FlashFailure)) continue;
        ++notices;
        EXPECT_EQ(dialog->get(sim::field::kNote),
                  "no command has reached E: since block 20 was refused and its volume was "
                  "released");
    }
    EXPECT_EQ(notices, 77u) << "block 20 and each of the 76 after it";
}

// --- the tool itself ---------------------------------------------------------------

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

class VelcrestSimTool : public ::testing::Test {
  protected:
    testsupport::ScratchFolder scratch_{"velcrest_sim"};
    std::filesystem::path folder_ = scratch_.path();

    std::filesystem::path scenarioFile(const std::string& text,
                                       const std::string& name = "scenario.json") {
        const std::filesystem::path file = folder_ / name;
        std::ofstream(file) << text;
        return file;
    }

    // Runs a command line in the scratch folder's shell, its output kept in
    // "out" and "err"; the exit status.
    int shell(const std::string& command, const std::string& input = "") {
        std::ofstream(folder_ / "in") << input;
        const std::string line = "(" + command + ") <" + (folder_ / "in").string() + " >" +
                                 (folder_ / "out").string() + " 2>" + (folder_ / "err").string();
        const int status = std::system(line.c_str());
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    int run(const std::string& arguments, const std::string& input = "") {
        return shell(std::string(VELCREST_SIM_PATH) + " " + arguments, input);
    }

    std::string read(const char* name) {
        std::ifstream in(folder_ / name);
        std::ostringstream text;
        text << in.rdbuf();
        return text.str();
    }
};

struct ToolCase {
    const char* name;
    const char* scenario;  // null: no scenario argument
    const char* options;
    int exitStatus;
    const char* stderrHas;
    std::size_t stderrLines;
    const char* stdoutHas = "";
};

class VelcrestSimExit : public VelcrestSimTool, public ::testing::WithParamInterface<ToolCase> {};

TEST_P(VelcrestSimExit, TellsHowTheRunEndedInAsManyLinesAsItMeans) {
    const ToolCase& c = GetParam();
    const std::string arguments =
        (c.scenario != nullptr ? scenarioFile(c.scenario).string() + " " : std::string()) +
        c.options;
    EXPECT_EQ(run(arguments), c.exitStatus);
    const std::string err = read("err");
    EXPECT_NE(err.find(c.stderrHas), std::string::npos) << err;
    EXPECT_EQ(linesOf(err).size(), c.stderrLines) << err;
    EXPECT_NE(read("out").find(c.stdoutHas), std::string::npos) << read("out");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VelcrestSimExit,
    ::testing::Values(
        ToolCase{"Demonstration", nullptr, "", 0, "", 0, "== summary"},
        ToolCase{"Help", nullptr, "--help", 0, "", 0, "Exit statuses:\n  0  the scenario ran"},
        ToolCase{"ShortHelpNamesTheDocs", nullptr, "-h", 0, "", 0, "docs/scenarios.md"},
        ToolCase{"BadField", "{\"machine\": {\"readers\": [{\"usb\": {\"vid\": \"0d9\"}}]}}", "", 2,
                 "scenario.json: machine.readers[0].usb.vid: expected a string of 4 hexadecimal "
                 "digits\n",
                 1},
        ToolCase{"UnknownProgram", "{\"run\": {\"start\": [\"Ardlw.exe\"]}}", "", 2,
                 "run.start[0]: no program \"Ardlw.exe\"", 1},
        ToolCase{"NoProgramFolder", "{\"machine\": {\"programFolder\": \"nowhere\"}}", "", 2,
                 "machine.programFolder: no folder \"", 1},
        ToolCase{"NoLibraryFolder", "{\"machine\": {\"libraryFolder\": \"nowhere\"}}", "", 2,
                 "machine.libraryFolder: no folder \"", 1},
        ToolCase{"LoopGuard", "{\"machine\": {\"readers\": [{\"writeProtect\": 128}]}}", "", 3,
                 "the loop guard stopped the scenario", 1},
        ToolCase{"UnknownOption", nullptr, "--verbose", 1, "velcrest-sim: ", 1},
        ToolCase{"TwoScenarios", nullptr, "one.json two.json", 1, "two.json", 1},
        ToolCase{"StreamDriveAlone", nullptr, "--stream-drive E", 1, "--stream-out", 1},
        ToolCase{"StreamDriveNoLetter", nullptr, "--stream-out s.bin --stream-drive 7", 1,
                 "--stream-drive: expected a drive letter", 1},
        ToolCase{"StreamDriveWithoutReader", nullptr, "--stream-out s.bin --stream-drive G", 1,
                 "--stream-out: no reader on G:", 1, "== summary"},
        ToolCase{"IncidentWithoutReader",
                 "{\"incidents\": [{\"at\": {\"time\": 0}, \"do\": \"pullMedium\", \"drive\": "
                 "\"F\"}]}",
                 "", 0, "warning: incidents[0].drive: no reader on F: (readers: E:)\n", 1},
        ToolCase{"AnswerForATemplateTheProgramLacks",
                 "{\"user\": {\"programs\": {\"Ardlow.exe\": {\"answers\": {\"147\": \"ok\"}}}}}",
                 "", 0,
                 "warning: user.programs.Ardlow.exe.answers.147: Ardlow.exe never shows template "
                 "147",
                 1},
        ToolCase{
            "DefaultForATemplateTheProgramLacks",
            "{\"user\": {\"programs\": {\"Velcrest.exe\": {\"defaults\": {\"139\": \"ok\"}}}}}", "",
            0, "warning: user.programs.Velcrest.exe.defaults.139: Velcrest.exe never", 1},
        ToolCase{"LocaleOutsideTheLanguageTable", "{\"machine\": {\"locale\": \"enu\"}}", "", 0,
                 "warning: machine.locale: \"enu\" is none of the names", 1},
        ToolCase{"NoSlips",
                 "{\"machine\": {\"locale\": \"DEU\", \"readers\": [{\"letter\": \"G\"}]}, "
                 "\"user\": {\"programs\": {\"Ardlow.exe\": {\"answers\": {\"140\": \"ok\"}}}}, "
                 "\"incidents\": [{\"at\": {\"time\": 0}, \"do\": \"insertMedium\", \"drive\": "
                 "\"G\"}]}",
                 "", 0, "", 0}),
    NameOfCase{});

// A package like the example one whose firmware file stops loading at a
// record with a wrong checksum, after a stray character and an unknown record
// type the reader reports on standard output.
std::filesystem::path failingPackage(const std::filesystem::path& folder) {
    const std::filesystem::path package = folder / "failing-package";
    std::filesystem::create_directories(package);
    std::filesystem::copy_file(e2e::kPackage / "firmtable.txt", package / "firmtable.txt");
    std::ifstream source(e2e::kPackage / "src" / "tkw5crw-0200.s37");
    std::string plain;
    std::string line;
    for (int i = 0; i < 3 && std::getline(source, line); ++i) plain += line + "\n";
    plain += "xS4\n";
    plain += "S32500010080000105000001054000010580000105C0000106000001064000010680000106C0FF\n";
    plain += "S9030000FC\n";
    const std::vector<std::uint8_t> encoded =
        firmware::encodeChainedLines(std::span<const std::uint8_t>(
            reinterpret_cast<const std::uint8_t*>(plain.data()), plain.size()));
    std::ofstream(package / "tkw5crw-0200.s37", std::ios::binary)
        .write(reinterpret_cast<const char*>(encoded.data()),
               static_cast<std::streamsize>(encoded.size()));
    return package;
}

constexpr int kNoClosingNotice = 0;

struct JsonCase {
    const char* name;
    const char* scenario = nullptr;        // a file of examples/scenarios; null: the demonstration
    bool failingLoad = false;              // run on the package whose firmware file does not load
    const char* input = nullptr;           // what the terminal gets with --interactive; null: none
    int closingNotice = kNoClosingNotice;  // the format program's last closing notice
};

class VelcrestSimJson : public VelcrestSimTool, public ::testing::WithParamInterface<JsonCase> {};

// Automation reads standard output line by line: every line is one JSON
// object with its event, time and program, and the summary comes last.
TEST_P(VelcrestSimJson, PrintsOnlyJsonLinesOnStandardOutput) {
    const JsonCase& c = GetParam();
    std::string arguments = "--json";
    if (c.scenario != nullptr) arguments += " " + (kScenarios / c.scenario).string();
    if (c.failingLoad) {
        const std::filesystem::path package = failingPackage(folder_);
        arguments +=
            " " + scenarioFile("{\"machine\": {\"programFolder\": \"" + package.string() + "\"}}")
                      .string();
    }
    if (c.input != nullptr) arguments += " --interactive";
    ASSERT_EQ(run(arguments, c.input != nullptr ? c.input : ""), 0) << read("err");

    std::vector<nlohmann::json> events;
    for (const std::string& line : linesOf(read("out"))) {
        nlohmann::json parsed = nlohmann::json::parse(line, nullptr, false);
        ASSERT_FALSE(parsed.is_discarded()) << line;
        ASSERT_TRUE(parsed.is_object()) << line;
        ASSERT_TRUE(parsed.contains("event")) << line;
        if (parsed["event"] != "summary") {
            EXPECT_TRUE(parsed["time"].is_number_unsigned()) << line;
            EXPECT_TRUE(parsed["program"].is_string()) << line;
        }
        events.push_back(std::move(parsed));
    }
    ASSERT_GT(events.size(), 2u);
    EXPECT_EQ(events.back()["event"], "summary");
    const auto count = [&](std::string_view event) {
        return std::count_if(events.begin(), events.end(),
                             [&](const nlohmann::json& e) { return e["event"] == event; });
    };
    EXPECT_EQ(count("summary"), 1);
    const nlohmann::json& closing = events.back()["closingNotice"];
    if (c.closingNotice == kNoClosingNotice) {
        EXPECT_TRUE(closing.is_null()) << closing;
    } else {
        EXPECT_EQ(closing["program"], "Ardlow.exe");
        EXPECT_EQ(closing["template"], c.closingNotice);
    }
    if (c.input != nullptr) {
        const std::string err = read("err");
        EXPECT_NE(err.find("Your answer to dialog 150"), std::string::npos) << err;
    }
    if (!c.failingLoad) return;

    std::vector<std::string> output;
    for (const nlohmann::json& e : events) {
        if (e["event"] == "output") {
            EXPECT_EQ(e["program"], "Velcrest.exe");
            output.push_back(e["text"]);
        }
    }
    EXPECT_EQ(output, (std::vector<std::string>{"S Error = 0x78", "get_srecord: Error 52"}));
    const auto load = std::find_if(events.begin(), events.end(), [](const nlohmann::json& e) {
        return e["event"] == "firmware-load";
    });
    ASSERT_NE(load, events.end());
    EXPECT_EQ((*load)["result"], firmware::kLoadChecksumError);
    EXPECT_EQ((*load)["row"], 1);
    EXPECT_EQ(count("firmware-header"), 0) << "nothing is sent after a failed load";
    EXPECT_EQ(events.back()["readers"][0]["headerReceived"], false);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, VelcrestSimJson,
                         ::testing::Values(JsonCase{.name = "Demonstration",
                                                    .closingNotice = id(FT::RevisionMatches)},
                                           JsonCase{.name = "RefusedBlock",
                                                    .scenario = "refused-block.json",
                                                    .closingNotice = kNoClosingNotice},
                                           JsonCase{.name = "SecondReader",
                                                    .scenario = "second-reader.json",
                                                    .closingNotice = id(FT::RevisionMatches)},
                                           JsonCase{.name = "StandAloneFormat",
                                                    .scenario = "stand-alone-format.json",
                                                    .closingNotice = id(FT::StandAloneDone)},
                                           JsonCase{.name = "FailingLoad",
                                                    .failingLoad = true,
                                                    .closingNotice = kNoClosingNotice},
                                           JsonCase{.name = "InteractiveAsksOnStandardError",
                                                    .input = "\nok\n",
                                                    .closingNotice = id(FT::RevisionMatches)}),
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
        return e["event"] == "dialog" && e["program"] == "Ardlow.exe" &&
               e["template"] == id(FT::RevisionMatches);
    });
    EXPECT_NE(closing, events.end());
}

TEST_F(VelcrestSimTool, TheTextTranscriptGivesTheProgramsOutputItsTimeAndProgram) {
    const std::filesystem::path package = failingPackage(folder_);
    ASSERT_EQ(run(scenarioFile("{\"machine\": {\"programFolder\": \"" + package.string() + "\"}}")
                      .string()),
              0);
    const std::string out = read("out");
    EXPECT_NE(out.find("        0 ms  Velcrest  standard output: S Error = 0x78\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("        0 ms  Velcrest  standard output: get_srecord: Error 52\n"),
              std::string::npos)
        << out;
    for (const std::string& line : linesOf(out))
        EXPECT_FALSE(line.starts_with("S Error") || line.starts_with("get_srecord")) << line;
}

// A firmware file left unencoded gives a diagnostic for nearly every
// character: the text shows the first five and counts the rest, --json has each.
TEST_F(VelcrestSimTool, ThousandsOfDiagnosticsAreCountedInTheTextAndEachIsAJsonEvent) {
    const std::filesystem::path package = folder_ / "plain-package";
    std::filesystem::create_directories(package);
    std::filesystem::copy_file(e2e::kPackage / "firmtable.txt", package / "firmtable.txt");
    std::filesystem::copy_file(e2e::kPackage / "src" / "tkw5crw-0200.s37",
                               package / "tkw5crw-0200.s37");
    const std::string scenario =
        scenarioFile("{\"machine\": {\"programFolder\": \"" + package.string() + "\"}}").string();

    ASSERT_EQ(run(scenario + " --json"), 0);
    std::size_t events = 0;
    for (const std::string& line : linesOf(read("out"))) {
        if (line.find("\"event\":\"output\"") != std::string::npos) ++events;
    }
    ASSERT_GT(events, 1000u);

    ASSERT_EQ(run(scenario), 0);
    const std::string out = read("out");
    std::size_t shown = 0;
    for (const std::string& line : linesOf(out)) {
        if (line.find("standard output: S Error") != std::string::npos) ++shown;
    }
    EXPECT_EQ(shown, 5u);
    EXPECT_NE(out.find("Velcrest  ends (its other " + std::to_string(events - shown) +
                       " lines on standard output are not shown here; --json has each)"),
              std::string::npos)
        << out;
}

// For every row of the example package, the stream the rehearsal's reader
// took is the one firmtool builds for that reader.
TEST_F(VelcrestSimTool, TheStreamFileEqualsFirmtoolsForEveryRowOfTheExamplePackage) {
    const std::string table =
        firmware::decodeFirmwareTableText(e2e::readHostFile(e2e::kPackage / "firmtable.txt"));
    const std::vector<firmware::FirmwareTableRow> rows = firmware::firmwareTableRows(table);
    ASSERT_FALSE(rows.empty());
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const firmware::FirmwareTableRow& row = rows[i];
        SCOPED_TRACE("row " + std::to_string(i + 1) + ": " + row.keyProductName + " " +
                     row.keyRevision);
        // Windows 2000 and XP record the USB ids in lower case, Vista and later in
        // upper case: the version picks the generation the row was written for.
        const bool upperCase = std::any_of(row.keyVendorId.begin(), row.keyVendorId.end(),
                                           [](char c) { return c >= 'A' && c <= 'F'; });
        nlohmann::json scenario = {
            {"machine",
             {{"readers",
               {{{"usb",
                  {{"vid", row.keyVendorId}, {"pid", row.keyProductId}, {"rev", row.keyRevision}}},
                 {"inquiry", {{"product", row.keyProductName}}}}}}}},
            {"run", {{"afterPowerOff", "stop"}}}};
        if (upperCase) {
            scenario["machine"]["version"] = {{"major", 6}, {"minor", 0}, {"build", 6000}};
            // That Windows gets the version notice first; "Continue" goes on.
            scenario["user"]["programs"]["Velcrest.exe"]["answers"]
                    [std::to_string(id(UT::VersionNotSupported))] = "cancel";
        }
        const std::filesystem::path simStream = folder_ / "sim.bin";
        const std::filesystem::path toolStream = folder_ / "firmtool.bin";
        ASSERT_EQ(
            run(scenarioFile(scenario.dump()).string() + " --stream-out " + simStream.string()), 0)
            << read("err");
        ASSERT_EQ(
            shell("cd " + e2e::kPackage.string() + " && " + FIRMTOOL_PATH +
                  " stream firmtable.txt '" + row.keyVendorId + "' '" + row.keyProductId + "' '" +
                  row.keyRevision + "' '" + row.keyProductName + "' --out " + toolStream.string()),
            0)
            << read("err");
        const std::vector<std::uint8_t> simBytes = e2e::readHostFile(simStream);
        EXPECT_FALSE(simBytes.empty());
        EXPECT_TRUE(simBytes == e2e::readHostFile(toolStream))
            << simBytes.size() << " bytes against " << e2e::readHostFile(toolStream).size();
    }
}

TEST_F(VelcrestSimTool, InteractiveAnswersComeFromTheTerminalUntilItsInputEnds) {
    // Cancel at the first dialog ends the update program before anything happens.
    ASSERT_EQ(run("--interactive", "cancel\n"), 0);
    const std::string out = read("out");
    EXPECT_NE(out.find("firmware not sent"), std::string::npos) << out;
    EXPECT_NE(out.find("dialog 150 ends with 2"), std::string::npos) << out;
}

}  // namespace

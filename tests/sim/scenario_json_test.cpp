#include "sim/scenario_json.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

#include "support/case_names.h"
#include "support/scratch_folder.h"

namespace {

using testsupport::NameOfCase;
using testsupport::PrintTo;

const std::filesystem::path kBase = "/scenarios";

struct ErrorCase {
    const char* name;
    const char* text;
    const char* error;  // the whole message, or its start when it ends in "..."
};

class ScenarioJsonError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ScenarioJsonError, NamesTheField) {
    const sim::ScenarioReading reading = sim::readScenarioText(GetParam().text, kBase);
    ASSERT_FALSE(reading.ok());
    std::string expected = GetParam().error;
    const bool prefix = expected.size() > 3 && expected.ends_with("...");
    if (prefix) {
        expected.resize(expected.size() - 3);
        EXPECT_EQ(reading.error->substr(0, expected.size()), expected) << *reading.error;
    } else {
        EXPECT_EQ(*reading.error, expected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ScenarioJsonError,
    ::testing::Values(
        ErrorCase{"NotJson", "{\"machine\": }", "not JSON: line 1, column 13: ..."},
        ErrorCase{"TrailingText", "{} x", "not JSON: line 1, column 4: ..."},
        ErrorCase{"NotAnObject", "[]", "scenario: expected an object"},
        ErrorCase{"MisspeltTopField", "{\"machin\": {}}",
                  "machin: unknown field (expected one of: description, machine, user, faults, "
                  "incidents, run)"},
        ErrorCase{"MisspeltReaderField", "{\"machine\": {\"readers\": [{\"leter\": \"E\"}]}}",
                  "machine.readers[0].leter: unknown field ..."},
        ErrorCase{"ShortVendorId", "{\"machine\": {\"readers\": [{\"usb\": {\"vid\": \"d9f\"}}]}}",
                  "machine.readers[0].usb.vid: expected a string of 4 hexadecimal digits"},
        ErrorCase{"NumericProductId",
                  "{\"machine\": {\"readers\": [{}, {\"letter\": \"G\", "
                  "\"usb\": {\"pid\": 4097}}]}}",
                  "machine.readers[1].usb.pid: expected a string of 4 hexadecimal digits"},
        ErrorCase{"LongLetter", "{\"machine\": {\"readers\": [{\"letter\": \"EE\"}]}}",
                  "machine.readers[0].letter: expected a drive letter from \"A\" to \"Z\""},
        ErrorCase{"LetterTaken",
                  "{\"machine\": {\"readers\": [{\"letter\": \"e\"}, {\"letter\": \"E:\"}]}}",
                  "machine.readers[1].letter: drive E: is already taken"},
        ErrorCase{"ReaderOnADriveLetter",
                  "{\"machine\": {\"drives\": [{\"letter\": \"E\"}], \"readers\": [{}]}}",
                  "machine.readers[0].letter: drive E: is already taken"},
        ErrorCase{"DriveWithoutLetter", "{\"machine\": {\"drives\": [{\"type\": \"fixed\"}]}}",
                  "machine.drives[0].letter: missing"},
        ErrorCase{"UnknownDriveType",
                  "{\"machine\": {\"drives\": [{\"letter\": \"A\", "
                  "\"type\": \"floppy\"}]}}",
                  "machine.drives[0].type: expected one of: removable, fixed, remote, cdrom, "
                  "ramdisk"},
        ErrorCase{"WriteProtectTooBig", "{\"machine\": {\"readers\": [{\"writeProtect\": 300}]}}",
                  "machine.readers[0].writeProtect: expected a byte: ..."},
        ErrorCase{"WriteProtectNotHex",
                  "{\"machine\": {\"readers\": [{\"writeProtect\": \"80\"}]}}",
                  "machine.readers[0].writeProtect: expected a byte: ..."},
        ErrorCase{"NegativeVersion", "{\"machine\": {\"version\": {\"major\": -1}}}",
                  "machine.version.major: expected a whole number from 0 to 4294967295"},
        ErrorCase{"FractionalFormatTime", "{\"machine\": {\"readers\": [{\"formatMs\": 1.5}]}}",
                  "machine.readers[0].formatMs: expected a whole number ..."},
        ErrorCase{"UnknownGroupAttribute",
                  "{\"machine\": {\"administrator\": {\"groups\": "
                  "[{\"rid\": 544, \"attributes\": [\"enable\"]}]}}}",
                  "machine.administrator.groups[0].attributes[0]: expected one of: mandatory, "
                  "enabledByDefault, enabled, owner, denyOnly"},
        ErrorCase{"CurrentDirectoryWithoutDrive",
                  "{\"machine\": {\"currentDirectory\": \"Program Files\"}}",
                  "machine.currentDirectory: expected a Windows path that starts with a drive "
                  "root, ..."},
        ErrorCase{"TemplateKeyNotANumber",
                  "{\"user\": {\"programs\": {\"Velcrest.exe\": {\"answers\": {\"abc\": "
                  "[\"ok\"]}}}}}",
                  "user.programs.Velcrest.exe.answers.abc: expected a template number from 1 to "
                  "65535 as the field name"},
        ErrorCase{"AnswerNotKnown",
                  "{\"user\": {\"programs\": {\"Velcrest.exe\": {\"answers\": {\"151\": [\"ok\", "
                  "\"maybe\"]}}}}}",
                  "user.programs.Velcrest.exe.answers.151[1]: expected an answer: ..."},
        ErrorCase{"FallbackNotKnown", "{\"user\": {\"fallback\": 1}}",
                  "user.fallback: expected an answer: ..."},
        ErrorCase{"FaultWithoutEffect", "{\"faults\": [{\"command\": \"inquiry\"}]}",
                  "faults[0]: expected exactly one of \"fail\" (the call fails) and \"sense\" ..."},
        ErrorCase{"FaultWithBothEffects",
                  "{\"faults\": [{\"command\": \"inquiry\", \"fail\": true, \"sense\": "
                  "\"02/3A/00\"}]}",
                  "faults[0]: expected exactly one of ..."},
        ErrorCase{"OpenHasNoSense",
                  "{\"faults\": [{\"command\": \"open\", \"sense\": \"02/3A/00\"}]}",
                  "faults[0].sense: an open, lock or unlock has no sense data"},
        ErrorCase{"SenseMissingAByte",
                  "{\"faults\": [{\"command\": \"inquiry\", \"sense\": \"02/3A\"}]}",
                  "faults[0].sense: expected sense data as three hexadecimal bytes ..."},
        ErrorCase{"UnknownCommand", "{\"faults\": [{\"command\": \"read\", \"fail\": true}]}",
                  "faults[0].command: expected a device call: ..."},
        ErrorCase{"BlockOnAnotherCommand",
                  "{\"faults\": [{\"command\": \"inquiry\", \"block\": 3, \"fail\": true}]}",
                  "faults[0].block: only for \"command\": \"writeBlock\""},
        ErrorCase{"OperationWithoutCode",
                  "{\"faults\": [{\"command\": \"operation\", \"fail\": true}]}",
                  "faults[0].operation: missing: the operation code to fail"},
        ErrorCase{"ZeroTimes",
                  "{\"faults\": [{\"command\": \"inquiry\", \"fail\": true, \"times\": 0}]}",
                  "faults[0].times: expected a whole number ..."},
        ErrorCase{"FalseFail", "{\"faults\": [{\"command\": \"inquiry\", \"fail\": false}]}",
                  "faults[0].fail: expected true or the error code the call gives"},
        ErrorCase{"NeitherCommandNorRegistry", "{\"faults\": [{\"fail\": true}]}",
                  "faults[0]: expected a fault with a \"command\" or a \"registry\" field"},
        ErrorCase{"RegistryFaultWithoutKey", "{\"faults\": [{\"registry\": \"open\"}]}",
                  "faults[0].key: missing: the key path"},
        ErrorCase{"TwoTriggers",
                  "{\"incidents\": [{\"at\": {\"time\": 5, \"dialog\": 3}, "
                  "\"do\": \"quit\"}]}",
                  "incidents[0].at: expected exactly one of \"time\", \"dialog\", \"command\" and "
                  "\"poll\""},
        ErrorCase{"UnknownIncident",
                  "{\"incidents\": [{\"at\": {\"time\": 5}, \"do\": \"explode\"}]}",
                  "incidents[0].do: expected one of: ..."},
        ErrorCase{"WriteProtectWithoutBits",
                  "{\"incidents\": [{\"at\": {\"time\": 5}, \"do\": \"writeProtect\"}]}",
                  "incidents[0].bits: missing: the new byte 3 (0 removes the protection)"},
        ErrorCase{"StartWithoutProgram",
                  "{\"incidents\": [{\"at\": {\"time\": 5}, \"do\": \"start\"}]}",
                  "incidents[0].program: missing"},
        ErrorCase{"ProgramOnATimeTrigger",
                  "{\"incidents\": [{\"at\": {\"time\": 5, \"program\": \"Velcrest.exe\"}, "
                  "\"do\": \"quit\"}]}",
                  "incidents[0].at.program: time is the machine's, not a program's"},
        ErrorCase{"DriveForQuit",
                  "{\"incidents\": [{\"at\": {\"time\": 5}, \"do\": \"quit\", \"drive\": \"E\"}]}",
                  "incidents[0].drive: this incident concerns no drive"},
        ErrorCase{"UnknownPowerChoice", "{\"run\": {\"afterPowerOff\": \"sleep\"}}",
                  "run.afterPowerOff: expected \"powerOn\" or \"stop\""},
        ErrorCase{"UnknownRestartChoice", "{\"run\": {\"ifNotPoweredOff\": \"powerOn\"}}",
                  "run.ifNotPoweredOff: expected \"stop\" or \"restart\""},
        ErrorCase{"PowerChoiceNotAString", "{\"run\": {\"afterPowerOff\": 1}}",
                  "run.afterPowerOff: expected a string"},
        ErrorCase{"UnknownFailingCall",
                  "{\"machine\": {\"administrator\": {\"failing\": \"OpenToken\"}}}",
                  "machine.administrator.failing: expected \"OpenProcessToken\", "
                  "\"GetTokenInformation\", \"readingGroups\", \"AllocateAndInitializeSid\" or "
                  "\"LookupPrivilegeValueA\""},
        // The size query's error means something only when the size query fails.
        ErrorCase{"SizeQueryErrorWithoutItsFault",
                  R"({"machine": {"administrator": {"sizeQueryError": 5}}})",
                  "machine.administrator.sizeQueryError: only with \"failing\": "
                  "\"GetTokenInformation\""},
        ErrorCase{"SizeQueryErrorForAnotherCall",
                  R"({"machine": {"administrator": {"failing": "OpenProcessToken",
                                                    "sizeQueryError": 5}}})",
                  "machine.administrator.sizeQueryError: only with \"failing\": "
                  "\"GetTokenInformation\""},
        ErrorCase{"SizeQueryErrorThatIsItsNormalAnswer",
                  R"({"machine": {"administrator": {"failing": "GetTokenInformation",
                                                    "sizeQueryError": 122}}})",
                  "machine.administrator.sizeQueryError: 122 is the size query's normal "
                  "answer, not a failure"},
        ErrorCase{"SizeQueryErrorZero",
                  R"({"machine": {"administrator": {"failing": "GetTokenInformation",
                                                    "sizeQueryError": 0}}})",
                  "machine.administrator.sizeQueryError: ..."},
        ErrorCase{"OverstatedGroupCountNotABoolean",
                  R"({"machine": {"administrator": {"overstatedGroupCount": 3}}})",
                  "machine.administrator.overstatedGroupCount: ..."},
        ErrorCase{"SystemFaultsNotAnObject", R"({"machine": {"faults": []}})",
                  "machine.faults: expected an object"},
        ErrorCase{"LocaleLookupNotABoolean", R"({"machine": {"faults": {"localeLookup": "yes"}}})",
                  "machine.faults.localeLookup: ..."},
        ErrorCase{"ReadsFailAfterNegative", R"({"machine": {"faults": {"readsFailAfter": -1}}})",
                  "machine.faults.readsFailAfter: ..."},
        ErrorCase{"ReadsFailAfterNotANumber",
                  R"({"machine": {"faults": {"readsFailAfter": "4k"}}})",
                  "machine.faults.readsFailAfter: ..."},
        ErrorCase{"UnknownRegistryCall", "{\"faults\": [{\"registry\": \"read\", \"key\": \"X\"}]}",
                  "faults[0].registry: expected one of: open, create, enumValue, enumKey, "
                  "queryValue, setValue, deleteKey, close"},
        ErrorCase{"TokenGroupWithoutRid",
                  "{\"machine\": {\"administrator\": {\"groups\": [{\"attributes\": []}]}}}",
                  "machine.administrator.groups[0].rid: missing"},
        ErrorCase{"IncidentWithoutTrigger", "{\"incidents\": [{\"do\": \"quit\"}]}",
                  "incidents[0].at: missing: when it happens"},
        ErrorCase{"TriggerOperationWithoutCode",
                  "{\"incidents\": [{\"at\": {\"command\": \"operation\"}, \"do\": \"quit\"}]}",
                  "incidents[0].at.operation: missing: the operation code to wait for"},
        ErrorCase{"OccurrenceOnAPoll",
                  "{\"incidents\": [{\"at\": {\"poll\": 2, \"occurrence\": 2}, \"do\": \"quit\"}]}",
                  "incidents[0].at.occurrence: only with \"dialog\" or \"command\""},
        ErrorCase{"OperationOnAnotherCommand",
                  R"({"faults": [{"command": "inquiry", "operation": 18, "fail": true}]})",
                  "faults[0].operation: only for \"command\": \"operation\""},
        ErrorCase{"OperationOnADialogTrigger",
                  R"({"incidents": [{"at": {"dialog": 3, "operation": 18}, "do": "quit"}]})",
                  "incidents[0].at.operation: only with \"command\": \"operation\""},
        ErrorCase{"DriveOnADialogTrigger",
                  R"({"incidents": [{"at": {"dialog": 3, "drive": "E"}, "do": "quit"}]})",
                  "incidents[0].at.drive: only with \"command\" or \"poll\""},
        ErrorCase{"BitsForPullMedium",
                  R"({"incidents": [{"at": {"time": 5}, "do": "pullMedium", "bits": 0}]})",
                  "incidents[0].bits: only with \"do\": \"writeProtect\""},
        ErrorCase{"ProgramForQuit",
                  R"({"incidents": [{"at": {"time": 5}, "do": "quit", "program": "Ardlow.exe"}]})",
                  "incidents[0].program: only with \"do\": \"start\""},
        ErrorCase{"StartNotAList", "{\"run\": {\"start\": \"Velcrest.exe\"}}",
                  "run.start: expected a list of strings"},
        ErrorCase{"NoProgramFolder", "{\"machine\": {\"programFolder\": \"../package\"}}",
                  "machine.programFolder: no folder \"/package\""},
        ErrorCase{"NoLibraryFolder", "{\"machine\": {\"libraryFolder\": \"/no/such/folder\"}}",
                  "machine.libraryFolder: no folder \"/no/such/folder\""}),
    NameOfCase{});

// Every kind of object refuses a key it does not know, and offers exactly
// the keys it reads, in the order it reads them.
struct UnknownFieldCase {
    const char* name;
    const char* text;
    const char* path;
    const char* fields;
};

class ScenarioJsonUnknownField : public ::testing::TestWithParam<UnknownFieldCase> {};

TEST_P(ScenarioJsonUnknownField, NamesTheObjectsOwnFields) {
    const sim::ScenarioReading reading = sim::readScenarioText(GetParam().text, kBase);
    ASSERT_FALSE(reading.ok());
    EXPECT_EQ(*reading.error, std::string(GetParam().path) +
                                  ": unknown field (expected one of: " + GetParam().fields + ")");
}

INSTANTIATE_TEST_SUITE_P(
    Objects, ScenarioJsonUnknownField,
    ::testing::Values(
        UnknownFieldCase{"Scenario", R"({"x": 1})", "x",
                         "description, machine, user, faults, incidents, run"},
        UnknownFieldCase{"Machine", R"({"machine": {"x": 1}})", "machine.x",
                         "drives, readers, locale, version, administrator, programFolder, "
                         "libraryFolder, currentDirectory, otherPrograms, registry, faults"},
        UnknownFieldCase{"Drive", R"({"machine": {"drives": [{"letter": "A", "x": 1}]}})",
                         "machine.drives[0].x", "letter, type, medium, files"},
        UnknownFieldCase{"Reader", R"({"machine": {"readers": [{"x": 1}]}})",
                         "machine.readers[0].x",
                         "letter, inquiry, usb, writeProtect, medium, files, formatMs, "
                         "refuseFormat, becomes"},
        UnknownFieldCase{"Inquiry", R"({"machine": {"readers": [{"inquiry": {"x": 1}}]}})",
                         "machine.readers[0].inquiry.x", "vendor, product, revision"},
        UnknownFieldCase{"Usb", R"({"machine": {"readers": [{"usb": {"x": 1}}]}})",
                         "machine.readers[0].usb.x", "vid, pid, rev, serial"},
        UnknownFieldCase{"Becomes", R"({"machine": {"readers": [{"becomes": {"x": 1}}]}})",
                         "machine.readers[0].becomes.x", "pid, product, rev, inquiryRevision"},
        UnknownFieldCase{"Version", R"({"machine": {"version": {"x": 1}}})", "machine.version.x",
                         "major, minor, build, platformId"},
        UnknownFieldCase{"Administrator", R"({"machine": {"administrator": {"x": 1}}})",
                         "machine.administrator.x",
                         "groups, shutdownPrivilege, failing, sizeQueryError, "
                         "overstatedGroupCount"},
        UnknownFieldCase{"SystemFaults", R"({"machine": {"faults": {"x": 1}}})", "machine.faults.x",
                         "localeLookup, currentDirectory, readsFailAfter"},
        UnknownFieldCase{"TokenGroup",
                         R"({"machine": {"administrator": {"groups": [{"rid": 544, "x": 1}]}}})",
                         "machine.administrator.groups[0].x", "rid, attributes"},
        UnknownFieldCase{"Registry", R"({"machine": {"registry": {"x": 1}}})", "machine.registry.x",
                         "runOnceKey, keys"},
        UnknownFieldCase{"RegistryKey",
                         R"({"machine": {"registry": {"keys": [{"path": "SOFTWARE", "x": 1}]}}})",
                         "machine.registry.keys[0].x", "path, values"},
        UnknownFieldCase{"User", R"({"user": {"x": 1}})", "user.x", "fallback, programs"},
        UnknownFieldCase{"ProgramAnswers", R"({"user": {"programs": {"Ardlow.exe": {"x": 1}}}})",
                         "user.programs.Ardlow.exe.x", "answers, defaults"},
        UnknownFieldCase{"CommandFault",
                         R"({"faults": [{"command": "inquiry", "fail": true, "x": 1}]})",
                         "faults[0].x",
                         "command, operation, drive, program, block, occurrence, times, fail, "
                         "sense"},
        UnknownFieldCase{"RegistryFault", R"({"faults": [{"registry": "open", "x": 1}]})",
                         "faults[0].x", "registry, key, name, error"},
        UnknownFieldCase{"Incident", R"({"incidents": [{"at": {"time": 5}, "x": 1}]})",
                         "incidents[0].x", "at, do, drive, bits, program"},
        UnknownFieldCase{"Trigger", R"({"incidents": [{"at": {"time": 5, "x": 1}}]})",
                         "incidents[0].at.x",
                         "time, dialog, command, operation, poll, program, drive, occurrence"},
        UnknownFieldCase{"Run", R"({"run": {"x": 1}})", "run.x",
                         "start, afterPowerOff, ifNotPoweredOff"}),
    NameOfCase{});

// Each failing call of the administrator's is the one fault of the system it
// names, and nothing else fails.
struct FailingCallCase {
    const char* name;
    const char* call;
    sim::TokenFault token;
    bool privilegeLookup;
};

class ScenarioJsonFailingCall : public ::testing::TestWithParam<FailingCallCase> {};

TEST_P(ScenarioJsonFailingCall, SetsThatFaultAlone) {
    const std::string text =
        std::string(R"({"machine": {"administrator": {"failing": ")") + GetParam().call + R"("}}})";
    const sim::ScenarioReading reading = sim::readScenarioText(text, kBase);
    ASSERT_TRUE(reading.ok()) << *reading.error;
    const sim::SystemFaults& faults = reading.scenario.machine.faults;
    EXPECT_EQ(faults.token, GetParam().token);
    EXPECT_EQ(faults.failPrivilegeLookup, GetParam().privilegeLookup);
    EXPECT_FALSE(faults.overstateGroupCount);
    EXPECT_FALSE(faults.failLocaleLookup);
    EXPECT_FALSE(faults.failCurrentDirectory);
    EXPECT_FALSE(faults.failReadsAfter.has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Calls, ScenarioJsonFailingCall,
    ::testing::Values(
        FailingCallCase{"OpenProcessToken", "OpenProcessToken", sim::TokenFault::OpenToken, false},
        FailingCallCase{"GetTokenInformation", "GetTokenInformation", sim::TokenFault::SizeQuery,
                        false},
        FailingCallCase{"ReadingGroups", "readingGroups", sim::TokenFault::ReadGroups, false},
        FailingCallCase{"AllocateAndInitializeSid", "AllocateAndInitializeSid",
                        sim::TokenFault::AllocateSid, false},
        FailingCallCase{"LookupPrivilegeValueA", "LookupPrivilegeValueA", sim::TokenFault::None,
                        true}),
    NameOfCase());

TEST(ScenarioJson, AnEmptyScenarioIsTheDemonstrationMachine) {
    const sim::ScenarioReading reading = sim::readScenarioText("{}", kBase);
    ASSERT_TRUE(reading.ok()) << *reading.error;
    const sim::Scenario& scenario = reading.scenario;
    ASSERT_EQ(scenario.machine.readers.size(), 1u);
    EXPECT_EQ(scenario.machine.readers[0].letter, 'E');
    EXPECT_EQ(scenario.machine.readers[0].inquiry.product, "TKW-5 CardRW");
    EXPECT_EQ(scenario.machine.readers[0].productId, 0x1001);
    EXPECT_TRUE(scenario.machine.programFolder.empty()) << "the runner fills in the package";
    EXPECT_EQ(scenario.run.start, std::vector<std::string>{"Velcrest.exe"});
}

TEST(ScenarioJson, ReadsEveryKindOfField) {
    // Folders must exist: the scenario's own folder holds the package it names.
    const testsupport::ScratchFolder scratch("scenario_json");
    const std::filesystem::path& base = scratch.path();
    std::filesystem::create_directories(base / "pkg");
    const char* text = R"({
      // comments are allowed
      "description": "all fields",
      "machine": {
        "drives": [{"letter": "a", "type": "removable", "medium": false},
                   {"letter": "C", "type": "fixed", "files": ["boot.ini"]}],
        "readers": [{"letter": "G", "inquiry": {"vendor": "KAVO"},
                     "usb": {"vid": "0D9F", "pid": "1003", "rev": "0080", "serial": "123"},
                     "writeProtect": "0x10", "medium": true, "files": [], "formatMs": 0,
                     "refuseFormat": true, "becomes": {"pid": "1004", "rev": "0200"}}],
        "locale": "DEU",
        "version": {"major": 6, "minor": 0, "build": 6000, "platformId": 2},
        "administrator": {"groups": [{"rid": 544, "attributes": ["denyOnly"]}],
                          "shutdownPrivilege": false, "failing": "GetTokenInformation",
                          "sizeQueryError": 1344, "overstatedGroupCount": true},
        "programFolder": "pkg", "libraryFolder": null, "currentDirectory": "C:\\",
        "otherPrograms": ["C:\\Program.exe"],
        "registry": {"runOnceKey": false,
                     "keys": [{"path": "SOFTWARE\\Kavo Corporation\\Pendrel",
                               "values": {"vender": "Kavo"}}]},
        "faults": {"localeLookup": true, "currentDirectory": true, "readsFailAfter": 4096}
      },
      "user": {"fallback": "cancel",
               "programs": {"Ardlow.exe": {"answers": {"144": ["select 1", "ok"], "149": "cancel"},
                                           "defaults": {"138": "ok"}}}},
      "faults": [{"command": "writeBlock", "block": 7, "sense": "03/0c/00", "times": "always"},
                 {"command": "operation", "operation": "0x28", "fail": 1117, "drive": "G",
                  "program": "Ardlow.exe", "occurrence": 2},
                 {"registry": "setValue", "key": "SOFTWARE\\X", "name": "v", "error": 5}],
      "incidents": [{"at": {"poll": 3, "drive": "G"}, "do": "pullMedium"},
                    {"at": {"dialog": 147, "program": "Velcrest.exe", "occurrence": 2},
                     "do": "writeProtect", "drive": "G", "bits": 0},
                    {"at": {"time": 2500}, "do": "start", "program": "Velcrest.exe"}],
      "run": {"start": ["Ardlow.exe"], "afterPowerOff": "stop", "ifNotPoweredOff": "restart"}
    })";
    const sim::ScenarioReading reading = sim::readScenarioText(text, base);
    ASSERT_TRUE(reading.ok()) << *reading.error;
    const sim::Scenario& s = reading.scenario;

    ASSERT_TRUE(s.machine.drives.has_value());
    EXPECT_EQ((*s.machine.drives)[0].letter, 'A');
    EXPECT_EQ((*s.machine.drives)[0].type, win::DRIVE_REMOVABLE);
    EXPECT_FALSE((*s.machine.drives)[0].mediumPresent);
    const sim::ScenarioReader& reader = s.machine.readers.at(0);
    EXPECT_EQ(reader.letter, 'G');
    EXPECT_EQ(reader.inquiry.vendor, "KAVO");
    EXPECT_EQ(reader.inquiry.product, "TKW-5 CardRW") << "unset fields keep the defaults";
    EXPECT_EQ(reader.vendorId, 0x0d9f);
    EXPECT_EQ(reader.deviceRevision, 0x0080);
    EXPECT_EQ(reader.deviceSpecificParameter, 0x10);
    EXPECT_EQ(reader.formatDurationMs, 0u);
    EXPECT_TRUE(reader.refuseFormat);
    EXPECT_EQ(reader.becomes.productId, std::optional<std::uint16_t>(0x1004));
    EXPECT_FALSE(reader.becomes.productName.has_value());
    EXPECT_EQ(s.machine.majorVersion, 6u);
    ASSERT_EQ(s.machine.tokenGroups.size(), 1u);
    EXPECT_EQ(s.machine.tokenGroups[0].attributes, win::SE_GROUP_USE_FOR_DENY_ONLY);
    EXPECT_FALSE(s.machine.shutdownPrivilege);
    EXPECT_EQ(s.machine.faults.token, sim::TokenFault::SizeQuery);
    EXPECT_EQ(s.machine.faults.sizeQueryError, 1344u);
    EXPECT_TRUE(s.machine.faults.overstateGroupCount);
    EXPECT_FALSE(s.machine.faults.failPrivilegeLookup);
    EXPECT_TRUE(s.machine.faults.failLocaleLookup);
    EXPECT_TRUE(s.machine.faults.failCurrentDirectory);
    EXPECT_EQ(s.machine.faults.failReadsAfter, std::optional<std::size_t>(4096));
    EXPECT_EQ(s.machine.programFolder, base / "pkg") << "relative to the scenario's folder";
    EXPECT_FALSE(s.machine.useLibraryFolder);
    EXPECT_FALSE(s.machine.runOnceKeyPresent);
    ASSERT_EQ(s.machine.registryKeys.size(), 1u);
    EXPECT_EQ(s.machine.registryKeys[0].values.at(0).second, "Kavo");

    EXPECT_EQ(s.user.fallback, sim::UserAction::cancel());
    const sim::ProgramAnswers& answers = s.user.programs.at("Ardlow.exe");
    EXPECT_EQ(answers.queued.at(144),
              (std::vector<sim::UserAction>{sim::UserAction::select(0), sim::UserAction::ok()}));
    EXPECT_EQ(answers.queued.at(149), std::vector<sim::UserAction>{sim::UserAction::cancel()});
    EXPECT_EQ(answers.defaults.at(138), sim::UserAction::ok());

    ASSERT_EQ(s.faults.size(), 2u);
    EXPECT_EQ(s.faults[0].call, sim::DeviceCall::WriteBlock);
    EXPECT_EQ(s.faults[0].block, std::optional<std::uint16_t>(7));
    EXPECT_FALSE(s.faults[0].failCall);
    EXPECT_EQ(s.faults[0].asc, 0x0C);
    EXPECT_EQ(s.faults[0].times, sim::kForever);
    EXPECT_EQ(s.faults[1].operationCode, 0x28);
    EXPECT_EQ(s.faults[1].error, 1117u);
    EXPECT_EQ(s.faults[1].drive, std::optional<char>('G'));
    EXPECT_EQ(s.faults[1].occurrence, 2);
    ASSERT_EQ(s.registryFaults.size(), 1u);
    EXPECT_EQ(s.registryFaults[0].call, sim::RegistryCall::SetValue);
    EXPECT_EQ(s.registryFaults[0].error, win::ERROR_ACCESS_DENIED);

    ASSERT_EQ(s.incidents.size(), 3u);
    EXPECT_EQ(s.incidents[0].at.kind, sim::TriggerKind::Poll);
    EXPECT_EQ(s.incidents[0].at.occurrence, 3);
    EXPECT_EQ(s.incidents[0].drive, 'G') << "the trigger's drive is the incident's";
    EXPECT_EQ(s.incidents[1].at.templateId, 147);
    EXPECT_EQ(s.incidents[1].kind, sim::IncidentKind::SetWriteProtect);
    EXPECT_EQ(s.incidents[2].at.timeMs, 2500u);
    EXPECT_EQ(s.incidents[2].program, "Velcrest.exe");

    EXPECT_EQ(s.run.start, std::vector<std::string>{"Ardlow.exe"});
    EXPECT_EQ(s.run.afterPowerOff, sim::AfterPowerOff::Stop);
    EXPECT_EQ(s.run.ifNotPoweredOff, sim::IfNotPoweredOff::Restart);
}

TEST(ScenarioJson, AMissingFileSaysSo) {
    const sim::ScenarioReading reading = sim::readScenarioFile("/no/such/scenario.json");
    ASSERT_FALSE(reading.ok());
    EXPECT_EQ(*reading.error, "cannot read /no/such/scenario.json");
}

}  // namespace

// The edge cases of both programs, each a whole run on the simulated machine:
// what the machine is like, who answers what, and the facts that must be seen.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "demo_scenario.h"
#include "e2e_support.h"

namespace e2e {
namespace {

using sim::UserAction;
using testsupport::PrintTo;

const UserAction kOk = UserAction::ok();
const UserAction kCancel = UserAction::cancel();

constexpr char kMarkerRevision[] = "0200";
constexpr char kDemoVendor[] = "Kavo";
constexpr char kDemoProduct[] = "TKW-5 CardRW";
constexpr win::DWORD kLockBusy = 5;
constexpr std::uint8_t kWriteProtectSwitch = 0x80;
constexpr std::uint8_t kOtherModeBit = 0x01;
constexpr std::uint16_t kOtherRevision = 0x0300;
constexpr std::int64_t kHalfWay = 0x8000;
// Polls come 1000 ms after the format starts: a format of 2000 ms is half
// done at the first one.
constexpr win::DWORD kFormatHalfDoneAtFirstPoll = 2000;
constexpr win::DWORD kFormatDoneBeforeFirstPoll = 500;
constexpr std::uint64_t kDuringArdlowsWaitMs = 1000;
// Long enough for the polls of the lost-poll rows to meet it still running.
constexpr win::DWORD kLongFormat = 20000;
// The format program's first REQUEST SENSE comes before the format command;
// the second is the first poll.
constexpr int kFirstPollSense = 2;
constexpr int kLostPollsThatEndPolling = 5;
// Past the example package's firmware table (588 bytes), well inside its
// firmware file.
constexpr std::size_t kReadsFailInTheFirmwareFile = 2000;

sim::ProgramAnswers& answersOf(sim::Scenario& s, const char* program) {
    return s.user.programs[program];
}
void queue(sim::Scenario& s, const char* program, int templateId, std::vector<UserAction> list) {
    answersOf(s, program).queued[templateId] = std::move(list);
}

sim::Incident incident(sim::TriggerKind kind, sim::IncidentKind what) {
    sim::Incident i;
    i.at.kind = kind;
    i.kind = what;
    return i;
}
sim::Incident atDialog(int templateId, const char* program, int occurrence,
                       sim::IncidentKind what) {
    sim::Incident i = incident(sim::TriggerKind::Dialog, what);
    i.at.templateId = templateId;
    i.at.program = program;
    i.at.occurrence = occurrence;
    return i;
}
sim::Incident atPoll(int poll, sim::IncidentKind what) {
    sim::Incident i = incident(sim::TriggerKind::Poll, what);
    i.at.occurrence = poll;
    return i;
}

sim::CommandFault fault(sim::DeviceCall call) {
    sim::CommandFault f;
    f.call = call;
    return f;
}
sim::CommandFault refusedFormat() {
    sim::CommandFault f = fault(sim::DeviceCall::Format);
    f.failCall = false;
    f.senseKey = sim::kSenseIllegalRequest;
    f.asc = sim::kAscInvalidFieldInCdb;
    return f;
}
// REQUEST SENSE commands that themselves fail, from the n-th on.
sim::CommandFault lostPolls(int from, int times) {
    sim::CommandFault f = fault(sim::DeviceCall::RequestSense);
    f.occurrence = from;
    f.times = times;
    return f;
}

void layMarker(sim::Scenario& s) {
    s.machine.registryKeys.push_back(
        {sim::kMarkerKeyPath,
         {{"rev", kMarkerRevision}, {"vender", kDemoVendor}, {"product", kDemoProduct}}});
}
void standAlone(sim::Scenario& s) {
    s.run.start = {kFormat};
}

// --- facts shared by several rows ---------------------------------------------------

void expectUpdated(const simrun::RunResult& r) {
    const sim::MachineSummary& m = r.summary.machine;
    EXPECT_EQ(m.readers[0].receivedStream, expectedDemoStream());
    EXPECT_TRUE(m.readers[0].firmware.written());
    EXPECT_TRUE(r.summary.showed(kUpdate, id(UT::UpdateComplete)));
    EXPECT_TRUE(m.markerWritten);
}
void expectWholeRoad(const simrun::RunResult& r) {
    expectUpdated(r);
    const sim::MachineSummary& m = r.summary.machine;
    EXPECT_EQ(m.powerCycles, 1);
    EXPECT_EQ(m.readers[0].formatsCompleted, 1);
    EXPECT_FALSE(m.markerPresent);
    EXPECT_TRUE(r.summary.showed(kFormat, id(FT::RevisionMatches)));
}
// The update program ended before it touched a reader or the registry.
void expectNothingDone(const simrun::RunResult& r) {
    const sim::MachineSummary& m = r.summary.machine;
    for (const sim::ReaderSummary& reader : m.readers) {
        EXPECT_FALSE(reader.firmware.headerReceived);
        EXPECT_EQ(reader.formatsCompleted, 0);
    }
    EXPECT_FALSE(m.markerWritten);
    EXPECT_TRUE(m.runOnceValues.empty());
    EXPECT_EQ(m.powerCycles, 0);
    EXPECT_FALSE(m.poweredOff);
}
// The flash went wrong: no success notice, no hand-off, no power-off.
void expectNoHandOff(const simrun::RunResult& r) {
    const sim::MachineSummary& m = r.summary.machine;
    EXPECT_FALSE(r.summary.showed(kUpdate, id(UT::UpdateComplete)));
    EXPECT_FALSE(r.summary.showed(kUpdate, id(UT::PowerOffPrompt)));
    EXPECT_FALSE(m.readers[0].firmware.written());
    EXPECT_FALSE(m.markerWritten);
    EXPECT_TRUE(m.runOnceValues.empty());
    EXPECT_EQ(m.powerCycles, 0);
    EXPECT_EQ(m.readers[0].after, m.readers[0].before) << "the reader keeps its firmware";
}

std::vector<int> startOfUpdate(std::vector<int> rest) {
    std::vector<int> shown{id(UT::StartNotice), id(UT::MainDialog), id(UT::UpdateStart)};
    shown.insert(shown.end(), rest.begin(), rest.end());
    return shown;
}

std::vector<bool> suspendAnswers(const simrun::RunResult& r) {
    std::vector<bool> refused;
    for (const sim::MachineEvent& e : r.events) {
        if (e.kind == sim::EventKind::SuspendQuery) refused.push_back(e.get(sim::field::kRefused));
    }
    return refused;
}

struct EdgeCase {
    const char* name;
    std::function<void(sim::Scenario&)> setUp;
    std::function<void(const simrun::RunResult&)> check;
    int exitStatus = simrun::kExitScenarioEnded;
};

class EdgeScenario : public ::testing::TestWithParam<EdgeCase> {};

TEST_P(EdgeScenario, ShowsWhatTheUserMustSee) {
    sim::Scenario scenario = simrun::demoScenario();
    GetParam().setUp(scenario);
    simrun::RunOptions options;
    options.loopGuard = sim::LoopGuardLimits{200, 200000};
    const simrun::RunResult result = simrun::runScenario(scenario, options);
    EXPECT_EQ(result.exitStatus, GetParam().exitStatus) << result.summary.loopGuardReason;
    expectNothingLeftOpen(result);
    GetParam().check(result);
}

const EdgeCase kStartUp[] = {
    {"Version4OkEnds",
     [](sim::Scenario& s) {
         s.machine.majorVersion = 4;
         queue(s, kUpdate, id(UT::VersionNotSupported), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), std::vector<int>{id(UT::VersionNotSupported)});
         expectNothingDone(r);
     }},
    // Windows of version 6 spells the reader's USB ids in upper case; the
    // package has rows for them.
    {"Version6CancelGoesOnInBothPrograms",
     [](sim::Scenario& s) {
         s.machine.majorVersion = 6;
         s.machine.programFolder = packageWithUpperCaseKeys();
         queue(s, kUpdate, id(UT::VersionNotSupported), {kCancel});
         queue(s, kFormat, id(FT::VersionNotice), {kCancel});
     },
     [](const simrun::RunResult& r) {
         const std::vector<int> shown = dialogsOf(r, kUpdate);
         ASSERT_GE(shown.size(), 2u);
         EXPECT_EQ(shown[0], id(UT::VersionNotSupported));
         EXPECT_EQ(shown[1], id(UT::StartNotice)) << "the administrator passes";
         ASSERT_FALSE(dialogsOf(r, kFormat).empty());
         EXPECT_EQ(dialogsOf(r, kFormat).front(), id(FT::VersionNotice));
         expectWholeRoad(r);
     }},
    {"Version5Minor0HasNoNotice", [](sim::Scenario& s) { s.machine.minorVersion = 0; },
     [](const simrun::RunResult& r) {
         EXPECT_FALSE(r.summary.showed(kUpdate, id(UT::VersionNotSupported)));
         EXPECT_FALSE(r.summary.showed(kFormat, id(FT::VersionNotice)));
         expectWholeRoad(r);
     }},
    {"Version6OkInTheFormatProgramDeletesTheMarker",
     [](sim::Scenario& s) {
         standAlone(s);
         layMarker(s);
         s.machine.majorVersion = 6;
         queue(s, kFormat, id(FT::VersionNotice), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat), std::vector<int>{id(FT::VersionNotice)});
         EXPECT_FALSE(r.summary.machine.markerPresent);
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
     }},
    {"DenyOnlyAdministratorOkEnds",
     [](sim::Scenario& s) {
         s.machine.tokenGroups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_USE_FOR_DENY_ONLY},
                                  {win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED}};
         queue(s, kUpdate, id(UT::NotAdministrator), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), std::vector<int>{id(UT::NotAdministrator)});
         expectNothingDone(r);
     }},
    {"DenyOnlyAdministratorCancelGoesOn",
     [](sim::Scenario& s) {
         s.machine.tokenGroups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_USE_FOR_DENY_ONLY}};
         queue(s, kUpdate, id(UT::NotAdministrator), {kCancel});
         queue(s, kFormat, id(FT::AdministratorNotice), {kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate)[0], id(UT::NotAdministrator));
         EXPECT_EQ(dialogsOf(r, kUpdate)[1], id(UT::StartNotice));
         EXPECT_EQ(dialogsOf(r, kFormat)[0], id(FT::AdministratorNotice));
         expectWholeRoad(r);
     }},
    {"DenyOnlyAdministratorOkInTheFormatProgramDeletesTheMarker",
     [](sim::Scenario& s) {
         standAlone(s);
         layMarker(s);
         s.machine.tokenGroups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_USE_FOR_DENY_ONLY}};
         queue(s, kFormat, id(FT::AdministratorNotice), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat), std::vector<int>{id(FT::AdministratorNotice)});
         EXPECT_FALSE(r.summary.machine.markerPresent);
     }},
    // Any step of reading the token that fails leaves the program unsure, and
    // it takes the user for no administrator.
    {"FailingTokenReadShowsTheAdministratorNotice",
     [](sim::Scenario& s) {
         s.machine.faults.token = sim::TokenFault::ReadGroups;
         queue(s, kUpdate, id(UT::NotAdministrator), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), std::vector<int>{id(UT::NotAdministrator)});
         expectNothingDone(r);
     }},
    // The walk reads no further than the block holds, so the administrator
    // is still found and nothing goes wrong.
    {"OverstatedGroupCountStillFindsTheAdministrator",
     [](sim::Scenario& s) { s.machine.faults.overstateGroupCount = true; },
     [](const simrun::RunResult& r) {
         EXPECT_FALSE(r.summary.showed(kUpdate, id(UT::NotAdministrator)));
         EXPECT_FALSE(r.summary.showed(kFormat, id(FT::AdministratorNotice)));
         expectWholeRoad(r);
     }},
    {"CancelOnTheStartNoticeEnds",
     [](sim::Scenario& s) { queue(s, kUpdate, id(UT::StartNotice), {kCancel}); },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), std::vector<int>{id(UT::StartNotice)});
         expectNothingDone(r);
     }},
    {"SecondFormatProgramShowsNothingAndLeavesTheMarker",
     [](sim::Scenario& s) {
         s.incidents = {atDialog(id(FT::MainDialog), kFormat, 1, sim::IncidentKind::StartProgram)};
         s.incidents[0].program = kFormat;
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(countEvents(r, sim::EventKind::ProcessStarted, kFormat), 2u);
         EXPECT_EQ(timesShown(r, kFormat, id(FT::MainDialog)), 1u);
         expectWholeRoad(r);
     }},
    {"UnknownLocaleLoadsNoLibraryAndShowsNothing",
     [](sim::Scenario& s) { s.machine.locale = "XYZ"; },
     [](const simrun::RunResult& r) {
         EXPECT_TRUE(dialogsOf(r, kUpdate).empty());
         std::vector<std::int64_t> missing;
         for (const sim::MachineEvent& e : r.events) {
             if (e.kind == sim::EventKind::TemplateMissing)
                 missing.push_back(e.get(sim::field::kTemplate));
         }
         EXPECT_EQ(missing, (std::vector<std::int64_t>{id(UT::StartNotice), id(UT::MainDialog)}))
             << "the start notice is passed, the main dialog fails to open";
         expectNothingDone(r);
     }},
    // A locale that cannot be read is no known locale: no library, and the
    // program ends without a word, as for an unknown one.
    {"FailingLocaleLookupLoadsNoLibraryAndShowsNothing",
     [](sim::Scenario& s) { s.machine.faults.failLocaleLookup = true; },
     [](const simrun::RunResult& r) {
         EXPECT_TRUE(dialogsOf(r, kUpdate).empty());
         EXPECT_EQ(countEvents(r, sim::EventKind::LibraryLoaded), 0u);
         expectNothingDone(r);
     }},
    {"UnknownLocaleInTheFormatProgramKeepsTheMarker",
     [](sim::Scenario& s) {
         standAlone(s);
         layMarker(s);
         s.machine.locale = "XYZ";
     },
     [](const simrun::RunResult& r) {
         EXPECT_TRUE(dialogsOf(r, kFormat).empty());
         EXPECT_TRUE(r.summary.machine.markerPresent);
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
     }},
    {"GermanLocaleUsesItsLibrary", [](sim::Scenario& s) { s.machine.locale = "DEU"; },
     [](const simrun::RunResult& r) {
         bool german = false;
         for (const sim::MachineEvent& e : r.events) {
             if (e.kind == sim::EventKind::LibraryLoaded &&
                 e.get(sim::field::kLibrary) == "KELDRA_GER.dll")
                 german = true;
         }
         EXPECT_TRUE(german);
         expectWholeRoad(r);
     }},
};
INSTANTIATE_TEST_SUITE_P(StartUp, EdgeScenario, ::testing::ValuesIn(kStartUp), NameOfCase{});

const EdgeCase kReaderSearch[] = {
    {"NoRemovableDrive",
     [](sim::Scenario& s) {
         s.machine.readers.clear();
         queue(s, kUpdate, id(UT::NoReader), {kOk});
     },
     [](const simrun::RunResult& r) {
         // The notice comes while the main dialog initialises, before it shows.
         EXPECT_EQ(dialogsOf(r, kUpdate),
                   (std::vector<int>{id(UT::StartNotice), id(UT::NoReader)}));
         EXPECT_EQ(resultsOf(r, kUpdate, id(UT::MainDialog)), std::vector<std::int64_t>{2});
         EXPECT_FALSE(r.summary.machine.markerWritten);
     }},
    {"TwoReadersLowerLetterUpdatedLastLetterFormatted",
     [](sim::Scenario& s) {
         sim::ScenarioReader second;
         second.letter = 'G';
         second.serialNumber = "KC0001234";
         s.machine.readers.push_back(second);
     },
     [](const simrun::RunResult& r) {
         const sim::MachineSummary& m = r.summary.machine;
         EXPECT_TRUE(r.summary.showed(kUpdate, id(UT::SeveralReaders)));
         EXPECT_TRUE(m.readers[0].firmware.written()) << "E, the lower letter";
         EXPECT_FALSE(m.readers[1].firmware.headerReceived);
         EXPECT_EQ(m.readers[0].formatsCompleted, 0);
         EXPECT_EQ(m.readers[1].formatsCompleted, 1) << "G, the last matching letter";
     }},
    {"VendorPaddedWithBlanksMatches",
     [](sim::Scenario& s) { s.machine.readers[0].inquiry.vendor = "Kavo    "; },
     [](const simrun::RunResult& r) { expectWholeRoad(r); }},
    {"VendorInOtherLetterCaseDoesNotMatch",
     [](sim::Scenario& s) {
         s.machine.readers[0].inquiry.vendor = "KAVO";
         queue(s, kUpdate, id(UT::NoReader), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({id(UT::NoReader)}));
         expectNothingDone(r);
     }},
    {"NoTable",
     [](sim::Scenario& s) {
         s.machine.programFolder = packageWithoutTable();
         queue(s, kUpdate, id(UT::FileCannotOpen), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({id(UT::FileCannotOpen)}));
         expectNothingDone(r);
     }},
    {"NoTableCancelLeavesTheDialogOpen",
     [](sim::Scenario& s) {
         s.machine.programFolder = packageWithoutTable();
         // The notice has only OK; the caption's close box gives Cancel.
         queue(s, kUpdate, id(UT::FileCannotOpen), {UserAction::closeBox()});
         queue(s, kUpdate, id(UT::MainDialog), {kOk, kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({id(UT::FileCannotOpen)}));
         EXPECT_EQ(resultsOf(r, kUpdate, id(UT::MainDialog)), std::vector<std::int64_t>{2})
             << "the main dialog stayed until the user cancelled it";
         expectNothingDone(r);
     }},
    {"NoMatchingRow", [](sim::Scenario& s) { s.machine.readers[0].productId = 0x1005; },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({id(UT::NoTableRow)}));
         expectNothingDone(r);
     }},
    {"WriteProtectionLoopsUntilRemoved",
     [](sim::Scenario& s) {
         s.machine.readers[0].deviceSpecificParameter = kWriteProtectSwitch;
         queue(s, kUpdate, id(UT::WriteProtected), {kOk, kCancel, UserAction::closeBox()});
         sim::Incident off =
             atDialog(id(UT::WriteProtected), kUpdate, 3, sim::IncidentKind::SetWriteProtect);
         off.bits = 0;
         s.incidents = {off};
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(timesShown(r, kUpdate, id(UT::WriteProtected)), 3u);
         expectWholeRoad(r);
     }},
    {"AnyModeBitProtectsInTheUpdateOnly",
     [](sim::Scenario& s) {
         s.machine.readers[0].deviceSpecificParameter = kOtherModeBit;
         sim::Incident off =
             atDialog(id(UT::WriteProtected), kUpdate, 2, sim::IncidentKind::SetWriteProtect);
         off.bits = kOtherModeBit;
         s.incidents = {off};
         // The bit stays set; the user gives up after the second notice
         // by taking the card out, which a failing mode sense counts as
         // writable.
         sim::Incident pull =
             atDialog(id(UT::WriteProtected), kUpdate, 2, sim::IncidentKind::PullMedium);
         sim::Incident back =
             atDialog(id(UT::UpdateComplete), kUpdate, 1, sim::IncidentKind::InsertMedium);
         s.incidents.push_back(pull);
         s.incidents.push_back(back);
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(timesShown(r, kUpdate, id(UT::WriteProtected)), 2u);
         EXPECT_FALSE(r.summary.showed(kFormat, id(FT::WriteProtected)))
             << "the format program reads only the switch";
         expectWholeRoad(r);
     }},
    {"EmptyMediumInAReadyReaderGoesOn",
     [](sim::Scenario& s) { s.machine.readers[0].files.clear(); },
     [](const simrun::RunResult& r) {
         EXPECT_FALSE(r.summary.showed(kUpdate, id(UT::ReaderNotReady)));
         expectWholeRoad(r);
         EXPECT_EQ(value(r.summary.machine.markerValues, "rev", kMarkerRevision), std::nullopt)
             << "the marker is gone after the format";
         EXPECT_EQ(lastWrite(r, sim::kMarkerKeyPath, "product"), kDemoProduct);
         EXPECT_EQ(lastWrite(r, sim::kMarkerKeyPath, "rev"), kMarkerRevision);
     }},
    {"ReaderNotReadyOkSwitchesOffWithoutEntries",
     [](sim::Scenario& s) {
         s.machine.readers[0].mediumPresent = false;
         queue(s, kUpdate, id(UT::ReaderNotReady), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({id(UT::ReaderNotReady)}));
         const sim::MachineSummary& m = r.summary.machine;
         EXPECT_EQ(countEvents(r, sim::EventKind::PowerOff), 1u);
         EXPECT_EQ(r.summary.machine.powerCycles, 1);
         EXPECT_FALSE(m.markerWritten);
         EXPECT_EQ(countEvents(r, sim::EventKind::RegistryValueSet, kUpdate), 0u);
         EXPECT_FALSE(started(r, kFormat)) << "no run-once entry";
         EXPECT_FALSE(m.readers[0].firmware.headerReceived);
     }},
    {"ReaderNotReadyCancelLeavesTheDialogOpen",
     [](sim::Scenario& s) {
         s.machine.readers[0].mediumPresent = false;
         queue(s, kUpdate, id(UT::ReaderNotReady), {kCancel});
         queue(s, kUpdate, id(UT::MainDialog), {kOk, kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(countEvents(r, sim::EventKind::PowerOff), 0u);
         EXPECT_EQ(resultsOf(r, kUpdate, id(UT::MainDialog)), std::vector<std::int64_t>{2});
         expectNothingDone(r);
     }},
};
INSTANTIATE_TEST_SUITE_P(ReaderSearch, EdgeScenario, ::testing::ValuesIn(kReaderSearch),
                         NameOfCase{});

constexpr std::uint16_t kSomeBlock = 5;

const EdgeCase kFlash[] = {
    {"RefusedHeaderOkStops",
     [](sim::Scenario& s) {
         s.faults = {refusedBlock(0)};
         queue(s, kUpdate, id(UT::FlashFailure), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(timesShown(r, kUpdate, id(UT::FlashFailure)), 1u);
         EXPECT_EQ(r.summary.machine.readers[0].firmware.blocksReceived, 0u);
         expectNoHandOff(r);
     }},
    {"RefusedHeaderCancelGoesOnWithoutSuccess",
     [](sim::Scenario& s) {
         s.faults = {refusedBlock(0)};
         answersOf(s, kUpdate).defaults[id(UT::FlashFailure)] = kCancel;
     },
     [](const simrun::RunResult& r) {
         EXPECT_GT(timesShown(r, kUpdate, id(UT::FlashFailure)), 1u)
             << "every later block is refused too";
         EXPECT_EQ(countEvents(r, sim::EventKind::WindowDestroyed, kUpdate), 1u);
         expectNoHandOff(r);
     }},
    {"RefusedBlockOkStops",
     [](sim::Scenario& s) {
         s.faults = {refusedBlock(kSomeBlock)};
         queue(s, kUpdate, id(UT::FlashFailure), {kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(timesShown(r, kUpdate, id(UT::FlashFailure)), 1u);
         EXPECT_EQ(r.summary.machine.readers[0].firmware.blocksReceived, kSomeBlock - 1u);
         expectNoHandOff(r);
     }},
    {"RefusedBlockCancelGoesOnWithoutSuccess",
     [](sim::Scenario& s) {
         s.faults = {refusedBlock(kSomeBlock)};
         answersOf(s, kUpdate).defaults[id(UT::FlashFailure)] = kCancel;
     },
     [](const simrun::RunResult& r) {
         EXPECT_GT(timesShown(r, kUpdate, id(UT::FlashFailure)), 1u);
         EXPECT_EQ(countEvents(r, sim::EventKind::WindowDestroyed, kUpdate), 1u);
         expectNoHandOff(r);
     }},
    // Two records too short for their address field: the bounds say 0x20000
    // to 0x2FFFF, but not one byte was stored, so there is nothing to send.
    {"FirmwareFileWithoutAStoredByte",
     [](sim::Scenario& s) {
         s.machine.programFolder = packageWithEveryFirmware("S30300020000FA\r\nS30300030000F9\r\n");
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({}));
         EXPECT_FALSE(r.summary.machine.readers[0].firmware.headerReceived);
         expectNoHandOff(r);
     }},
    {"LockFailingThenSucceeding",
     [](sim::Scenario& s) {
         sim::CommandFault busy = fault(sim::DeviceCall::Lock);
         busy.times = 40;
         busy.error = kLockBusy;
         s.faults = {busy};
         queue(s, kUpdate, id(UT::DeviceAccessFailure), {kOk, kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_GE(timesShown(r, kUpdate, id(UT::DeviceAccessFailure)), 2u);
         expectWholeRoad(r);
     }},
    {"HandOffValuesAndTheQuotedPathWithABlank",
     [](sim::Scenario& s) { s.machine.otherPrograms = {"C:\\Program.exe"}; },
     [](const simrun::RunResult& r) {
         expectWholeRoad(r);
         EXPECT_EQ(lastWrite(r, sim::kRunOnceKeyPath, "pendrel"),
                   "\"C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe\"");
         EXPECT_EQ(lastWrite(r, sim::kMarkerKeyPath, "rev"), kMarkerRevision);
         EXPECT_EQ(lastWrite(r, sim::kMarkerKeyPath, "vender"), kDemoVendor);
         EXPECT_EQ(lastWrite(r, sim::kMarkerKeyPath, "product"), kDemoProduct);
         for (const sim::MachineEvent& e : r.events) {
             if (e.kind == sim::EventKind::RunOnce) {
                 EXPECT_EQ(e.get(sim::field::kProgram), kFormat) << e.get(sim::field::kStarts);
             }
         }
     }},
    {"DriveRootAsCurrentDirectoryGivesTwoBackslashes",
     [](sim::Scenario& s) { s.machine.currentDirectory = "C:\\"; },
     [](const simrun::RunResult& r) {
         expectUpdated(r);
         EXPECT_EQ(lastWrite(r, sim::kRunOnceKeyPath, "pendrel"), "C:\\\\Ardlow.exe");
     }},
    // The program offers the power-off, then cannot switch off and says
    // nothing more: the hand-off waits for the user to switch off by hand.
    {"FailingPrivilegeLookupLeavesTheMachineOn",
     [](sim::Scenario& s) { s.machine.faults.failPrivilegeLookup = true; },
     [](const simrun::RunResult& r) {
         expectUpdated(r);
         const sim::MachineSummary& m = r.summary.machine;
         EXPECT_EQ(resultsOf(r, kUpdate, id(UT::PowerOffPrompt)),
                   std::vector<std::int64_t>{win::IDOK});
         EXPECT_EQ(dialogsOf(r, kUpdate).back(), id(UT::PowerOffPrompt))
             << "nothing is shown after the prompt";
         EXPECT_EQ(countEvents(r, sim::EventKind::PowerOff), 0u);
         EXPECT_FALSE(m.poweredOff);
         EXPECT_EQ(m.powerCycles, 0);
         EXPECT_TRUE(m.markerPresent);
         EXPECT_EQ(m.runOnceValues.size(), 1u);
         EXPECT_FALSE(started(r, kFormat));
     }},
    // Without its folder the entry names a program at the root of the
    // current drive, which is not there: after the log-on nothing starts, and
    // the update's notice told the user to start the format program by hand.
    {"FailingCurrentDirectoryLeavesAnEntryWithoutTheFolder",
     [](sim::Scenario& s) { s.machine.faults.failCurrentDirectory = true; },
     [](const simrun::RunResult& r) {
         expectUpdated(r);
         EXPECT_EQ(lastWrite(r, sim::kRunOnceKeyPath, "pendrel"), "\\Ardlow.exe");
         EXPECT_EQ(r.summary.machine.powerCycles, 1);
         EXPECT_FALSE(started(r, kFormat));
         EXPECT_TRUE(r.summary.machine.markerPresent);
     }},
    {"PowerOffDeclinedLeavesTheHandOff",
     [](sim::Scenario& s) { queue(s, kUpdate, id(UT::PowerOffPrompt), {kCancel}); },
     [](const simrun::RunResult& r) {
         expectUpdated(r);
         const sim::MachineSummary& m = r.summary.machine;
         EXPECT_TRUE(m.markerPresent);
         EXPECT_EQ(m.runOnceValues.size(), 1u);
         EXPECT_EQ(countEvents(r, sim::EventKind::PowerOff), 0u);
         EXPECT_FALSE(started(r, kFormat));
     }},
    // A table that cannot be read is reported as a file that cannot be opened.
    {"UnreadableTableShowsTheFileNotice",
     [](sim::Scenario& s) { s.machine.faults.failReadsAfter = 0; },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({id(UT::FileCannotOpen)}));
         expectNoHandOff(r);
         EXPECT_FALSE(r.summary.machine.readers[0].firmware.headerReceived);
     }},
    // A firmware file that fails part way is a load that failed: the reader
    // is never touched and the program ends without a notice.
    {"FirmwareFileFailingPartWayEndsWithoutTouchingTheReader",
     [](sim::Scenario& s) { s.machine.faults.failReadsAfter = kReadsFailInTheFirmwareFile; },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kUpdate), startOfUpdate({}));
         expectNoHandOff(r);
         EXPECT_FALSE(r.summary.machine.readers[0].firmware.headerReceived);
         EXPECT_FALSE(r.summary.machine.poweredOff);
     }},
    {"QuitDuringTheFlashDoesNotCutItShort",
     [](sim::Scenario& s) {
         sim::Incident quit = incident(sim::TriggerKind::Command, sim::IncidentKind::PostQuit);
         quit.at.call = sim::DeviceCall::WriteBlock;
         quit.at.occurrence = 3;
         s.incidents = {quit};
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(r.summary.machine.readers[0].receivedStream, expectedDemoStream());
     }},
};
INSTANTIATE_TEST_SUITE_P(Flash, EdgeScenario, ::testing::ValuesIn(kFlash), NameOfCase{});

// The first run's firmware file stops in the middle of its only line, on a
// byte chosen so that a decoder left there would read the next file's first
// key byte as a line end and lose that file's first record. The second file
// is the demo firmware without its header record, so its first line holds
// data.
TEST(ProcessStart, ASecondUpdateRunAfterALoadStoppedMidLineReadsAsAFreshProcess) {
    const std::vector<std::uint8_t> demo = readHostFile(kPackage / "src" / "tkw5crw-0200.s37");
    const std::string demoText(demo.begin(), demo.end());
    const std::string withoutHeaderRecord = demoText.substr(demoText.find('\n') + 1);
    ASSERT_EQ(withoutHeaderRecord.rfind("S3", 0), 0u);

    const auto lastRaw =
        static_cast<std::uint8_t>(firmware::defaultLineKey(0) ^ firmware::kChainedLineEnd);
    const auto key = static_cast<std::uint8_t>('S' ^ lastRaw);
    const std::vector<std::uint8_t> stopsMidLine{key, lastRaw};  // "S", then the file ends

    // This test process's own decoder is where a fresh one would be.
    firmware::resetChainedDecoder();
    sim::Scenario first = simrun::demoScenario();
    first.machine.programFolder = packageWithEveryFirmwareBytes(stopsMidLine);
    const simrun::RunResult stopped = simrun::runScenario(first);
    EXPECT_EQ(dialogsOf(stopped, kUpdate), startOfUpdate({}));
    EXPECT_FALSE(stopped.summary.machine.readers[0].firmware.headerReceived);

    sim::Scenario second = simrun::demoScenario();
    second.machine.programFolder = packageWithEveryFirmware(withoutHeaderRecord);
    const simrun::RunResult fresh = simrun::runScenario(second);
    expectUpdated(fresh);
}

const EdgeCase kFormatProcedure[] = {
    {"AfterUpdateNeverAsksForTheDrive", [](sim::Scenario&) {},
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat),
                   (std::vector<int>{id(FT::MainDialog), id(FT::RevisionMatches)}));
         expectWholeRoad(r);
     }},
    {"StandAloneCancelInTheConfirmationAsksForTheDriveAgain",
     [](sim::Scenario& s) {
         standAlone(s);
         queue(s, kFormat, id(FT::ConfirmFormat), {kCancel, kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat),
                   (std::vector<int>{id(FT::MainDialog), id(FT::DriveSelect), id(FT::ConfirmFormat),
                                     id(FT::DriveSelect), id(FT::ConfirmFormat),
                                     id(FT::StandAloneDone)}));
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 1);
         EXPECT_FALSE(r.summary.machine.markerWritten);
     }},
    {"IncompleteMarkerCancelInTheDriveSelectionQuitsUntouched",
     [](sim::Scenario& s) {
         standAlone(s);
         s.machine.registryKeys.push_back(
             {sim::kMarkerKeyPath, {{"vender", kDemoVendor}, {"product", kDemoProduct}}});
         queue(s, kFormat, id(FT::DriveSelect), {kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat),
                   (std::vector<int>{id(FT::MainDialog), id(FT::DriveSelect)}));
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
         EXPECT_TRUE(r.summary.machine.markerPresent) << "the marker is not touched";
     }},
    {"StandAloneNoReaderQuits",
     [](sim::Scenario& s) {
         standAlone(s);
         s.machine.readers[0].inquiry.vendor = "Kavox";
     },
     [](const simrun::RunResult& r) {
         // The drive list closes itself while it initialises: it never shows.
         EXPECT_EQ(dialogsOf(r, kFormat), (std::vector<int>{id(FT::MainDialog), id(FT::NoReader)}));
         EXPECT_EQ(resultsOf(r, kFormat, id(FT::DriveSelect)), std::vector<std::int64_t>{2});
         EXPECT_FALSE(r.summary.showed(kFormat, id(FT::ConfirmFormat)));
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
     }},
    {"NoMediaRetriesThenCancelDeletesTheMarker",
     [](sim::Scenario& s) {
         standAlone(s);
         layMarker(s);
         s.machine.readers[0].mediumPresent = false;
         queue(s, kFormat, id(FT::NotReady), {kOk, kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat),
                   (std::vector<int>{id(FT::MainDialog), id(FT::NotReady), id(FT::NotReady)}));
         EXPECT_FALSE(r.summary.machine.markerPresent);
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
     }},
    {"NoMediaCancelWithoutMarkerFailsQuietly",
     [](sim::Scenario& s) {
         standAlone(s);
         s.machine.readers[0].mediumPresent = false;
         queue(s, kFormat, id(FT::NotReady), {kCancel});
     },
     [](const simrun::RunResult& r) {
         EXPECT_TRUE(r.summary.showed(kFormat, id(FT::NotReady)));
         EXPECT_FALSE(r.summary.showed(kFormat, id(FT::StandAloneDone)));
         EXPECT_FALSE(r.summary.machine.markerPresent);
     }},
    {"WriteProtectedMediumInTheFormatProgram",
     [](sim::Scenario& s) {
         standAlone(s);
         s.machine.readers[0].deviceSpecificParameter = kWriteProtectSwitch;
         sim::Incident off =
             atDialog(id(FT::WriteProtected), kFormat, 2, sim::IncidentKind::SetWriteProtect);
         off.bits = 0;
         s.incidents = {off};
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(timesShown(r, kFormat, id(FT::WriteProtected)), 2u);
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 1);
     }},
    {"MediumPulledDuringTheFormatOkFinishes",
     [](sim::Scenario& s) {
         s.incidents = {atPoll(2, sim::IncidentKind::PullMedium)};
         queue(s, kFormat, id(FT::MediumAbsent), {kOk});
     },
     [](const simrun::RunResult& r) {
         const std::vector<int> shown = dialogsOf(r, kFormat);
         ASSERT_GE(shown.size(), 3u);
         EXPECT_EQ(shown[shown.size() - 3], id(FT::MediumAbsent));
         EXPECT_EQ(shown[shown.size() - 2], id(FT::NotFormatted)) << "the format was not seen";
         EXPECT_EQ(shown.back(), id(FT::RevisionMatches)) << "the closing notice follows";
         EXPECT_EQ(r.summary.machine.readers[0].formatsAborted, 1);
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
         EXPECT_FALSE(r.summary.machine.markerPresent) << "the main dialog ended with OK";
     }},
    {"MediumPulledDuringTheFormatCancelPollsOn",
     [](sim::Scenario& s) {
         s.incidents = {atPoll(2, sim::IncidentKind::PullMedium)};
         queue(s, kFormat, id(FT::MediumAbsent), {kCancel, kOk});
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(timesShown(r, kFormat, id(FT::MediumAbsent)), 2u);
         EXPECT_TRUE(r.summary.showed(kFormat, id(FT::RevisionMatches)));
     }},
    {"FormatOverAtTheFirstPoll",
     [](sim::Scenario& s) { s.machine.readers[0].formatDurationMs = kFormatDoneBeforeFirstPoll; },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 1);
         std::vector<std::int64_t> positions;
         for (const sim::MachineEvent& e : r.events) {
             if (e.kind == sim::EventKind::Progress && e.program == kFormat)
                 positions.push_back(e.get(sim::field::kPosition));
         }
         EXPECT_EQ(positions, std::vector<std::int64_t>{0}) << "the bar never moved";
         EXPECT_EQ(countEvents(r, sim::EventKind::WindowDestroyed, kFormat), 1u);
         EXPECT_TRUE(r.summary.showed(kFormat, id(FT::RevisionMatches)));
     }},
    {"HalfWayProgressFrom0x80And0x00",
     [](sim::Scenario& s) { s.machine.readers[0].formatDurationMs = kFormatHalfDoneAtFirstPoll; },
     [](const simrun::RunResult& r) {
         std::vector<std::int64_t> positions;
         for (const sim::MachineEvent& e : r.events) {
             if (e.kind == sim::EventKind::Progress && e.program == kFormat)
                 positions.push_back(e.get(sim::field::kPosition));
         }
         EXPECT_NE(std::find(positions.begin(), positions.end(), kHalfWay), positions.end());
     }},
    {"RevisionsDifferShow139",
     [](sim::Scenario& s) { s.machine.readers[0].becomes.deviceRevision = kOtherRevision; },
     [](const simrun::RunResult& r) {
         EXPECT_TRUE(r.summary.showed(kFormat, id(FT::RevisionDiffers)));
         EXPECT_FALSE(r.summary.showed(kFormat, id(FT::RevisionMatches)));
         EXPECT_FALSE(r.summary.machine.markerPresent);
     }},
    {"RefusedFormatTellsTheCardWasNotFormatted",
     [](sim::Scenario& s) { s.faults = {refusedFormat()}; },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(
             dialogsOf(r, kFormat),
             (std::vector<int>{id(FT::MainDialog), id(FT::NotFormatted), id(FT::RevisionMatches)}));
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
         EXPECT_FALSE(r.summary.machine.markerPresent) << "the main dialog ended with OK";
     }},
    {"StandAloneRefusedFormatTellsTheCardWasNotFormatted",
     [](sim::Scenario& s) {
         standAlone(s);
         s.faults = {refusedFormat()};
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat),
                   (std::vector<int>{id(FT::MainDialog), id(FT::DriveSelect), id(FT::ConfirmFormat),
                                     id(FT::NotFormatted), id(FT::StandAloneDone)}));
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 0);
     }},
    // The first REQUEST SENSE comes before the format; the polls follow.
    {"OneLostPollKeepsPolling",
     [](sim::Scenario& s) {
         s.machine.readers[0].formatDurationMs = kLongFormat;
         s.faults = {lostPolls(kFirstPollSense + 1, 1)};
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(dialogsOf(r, kFormat),
                   (std::vector<int>{id(FT::MainDialog), id(FT::RevisionMatches)}));
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 1);
     }},
    {"FiveLostPollsInARowEndThePolling",
     [](sim::Scenario& s) {
         s.machine.readers[0].formatDurationMs = kLongFormat;
         s.faults = {lostPolls(kFirstPollSense + 1, kLostPollsThatEndPolling)};
     },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(
             dialogsOf(r, kFormat),
             (std::vector<int>{id(FT::MainDialog), id(FT::NotFormatted), id(FT::RevisionMatches)}));
         EXPECT_EQ(countEvents(r, sim::EventKind::FaultFired, kFormat),
                   std::size_t{kLostPollsThatEndPolling});
     }},
    {"QuitDuringThePollsEndsWithoutOk",
     [](sim::Scenario& s) { s.incidents = {atPoll(2, sim::IncidentKind::PostQuit)}; },
     [](const simrun::RunResult& r) {
         EXPECT_EQ(r.summary.machine.readers[0].formatsCompleted, 1) << "the polls went on";
         EXPECT_TRUE(r.summary.machine.markerPresent) << "the main dialog did not end with OK";
     }},
};
INSTANTIATE_TEST_SUITE_P(Format, EdgeScenario, ::testing::ValuesIn(kFormatProcedure), NameOfCase{});

// --- the suspend query -----------------------------------------------------------

struct SuspendCase {
    const char* name;
    bool refused;  // whether the running program refuses to let Windows suspend
    std::function<void(sim::Scenario&)> setUp;
};

class SuspendQuery : public ::testing::TestWithParam<SuspendCase> {};

TEST_P(SuspendQuery, IsRefusedWhileADialogOtherThanTheAboutBoxIsOpen) {
    sim::Scenario scenario = simrun::demoScenario();
    GetParam().setUp(scenario);
    const simrun::RunResult result = simrun::runScenario(scenario);
    EXPECT_EQ(result.exitStatus, simrun::kExitScenarioEnded);
    const std::vector<bool> answers = suspendAnswers(result);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0], GetParam().refused);
    expectWholeRoad(result);
}

void suspendAt(sim::Scenario& s, const char* program, int templateId) {
    queue(s, program, templateId, {UserAction::querySuspend()});
}
void suspendInAbout(sim::Scenario& s, const char* program, int mainDialog) {
    queue(s, program, mainDialog, {UserAction::about(), kOk});
    queue(s, program, id(UT::AboutBox), {UserAction::querySuspend(), kOk});
}

const SuspendCase kSuspend[] = {
    {.name = "UpdateNotice",
     .refused = true,
     .setUp = [](sim::Scenario& s) { suspendAt(s, kUpdate, id(UT::StartNotice)); }},
    {.name = "UpdateMainDialog",
     .refused = true,
     .setUp = [](sim::Scenario& s) { suspendAt(s, kUpdate, id(UT::MainDialog)); }},
    {.name = "UpdateProgress",
     .refused = true,
     .setUp =
         [](sim::Scenario& s) {
             sim::Incident ask =
                 incident(sim::TriggerKind::Command, sim::IncidentKind::QuerySuspend);
             ask.at.call = sim::DeviceCall::WriteBlock;
             ask.at.occurrence = 2;
             s.incidents = {ask};
         }},
    // The About box opens only over the main dialog, which still refuses.
    {.name = "UpdateAboutBoxOverTheMainDialog",
     .refused = true,
     .setUp = [](sim::Scenario& s) { suspendInAbout(s, kUpdate, id(UT::MainDialog)); }},
    {.name = "FormatMainDialog",
     .refused = true,
     .setUp = [](sim::Scenario& s) { suspendAt(s, kFormat, id(FT::MainDialog)); }},
    {.name = "FormatProgress",
     .refused = true,
     .setUp = [](sim::Scenario& s) { s.incidents = {atPoll(2, sim::IncidentKind::QuerySuspend)}; }},
    {.name = "FormatAboutBoxOverTheMainDialog",
     .refused = true,
     .setUp = [](sim::Scenario& s) { suspendInAbout(s, kFormat, id(FT::MainDialog)); }},
    {.name = "NoDialogOpen",
     .refused = false,
     .setUp =
         [](sim::Scenario& s) {
             // Ardlow waits five seconds before its main dialog: nothing is open.
             sim::Incident ask = incident(sim::TriggerKind::Time, sim::IncidentKind::QuerySuspend);
             ask.at.timeMs = kDuringArdlowsWaitMs;
             ask.at.program = kFormat;
             s.incidents = {ask};
         }},
};
INSTANTIATE_TEST_SUITE_P(Dialogs, SuspendQuery, ::testing::ValuesIn(kSuspend), NameOfCase{});

}  // namespace
}  // namespace e2e

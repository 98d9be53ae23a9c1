// Every device call of both programs failing in turn, in every way it can
// fail, once or for good: whatever happens, the run ends, nothing is left
// open or locked, the update program never says "complete" for a firmware
// the reader did not take whole, and the format program says the card could
// not be formatted exactly when it did not see the format finish.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "demo_scenario.h"
#include "e2e_support.h"

namespace e2e {
namespace {

using testsupport::PrintTo;
enum class Failure { CallFails, IllegalRequest, NoMedium, NoSenseData };

constexpr win::DWORD kIoDeviceError = 1117;
// Room for a notice per block when every block after a refused one is
// refused too, and then some.
constexpr std::size_t kAnswersBesidesBlocks = 100;
// A careful user retries a drive that is not ready a few times, then gives up.
constexpr std::size_t kRetriesOfANotReadyDrive = 3;
constexpr std::size_t kStopAfterPasses = 100000;

struct FaultCase {
    std::string name;
    const char* program;
    sim::DeviceCall call;
    std::optional<std::uint16_t> block;
    Failure failure;
    int occurrence;
    int times;
    bool emptyMedium;              // the update program then asks whether the reader is ready
    sim::UserAction flashFailure;  // the answer to notice 154
};

const char* failureName(Failure f) {
    switch (f) {
        case Failure::CallFails:
            return "CallFails";
        case Failure::IllegalRequest:
            return "IllegalRequest";
        case Failure::NoMedium:
            return "NoMedium";
        case Failure::NoSenseData:
            return "NoSenseData";
    }
    return "";
}

bool canOnlyFailAsACall(sim::DeviceCall call) {
    return call == sim::DeviceCall::Open || call == sim::DeviceCall::Lock ||
           call == sim::DeviceCall::Unlock;
}

std::string caseName(const FaultCase& c) {
    std::ostringstream name;
    name << (c.program == std::string_view(kUpdate) ? "Update_" : "Format_")
         << sim::deviceCallName(c.call);
    if (c.block) name << "Block" << *c.block;
    name << "_" << failureName(c.failure) << "_From" << c.occurrence
         << (c.times == sim::kForever ? "_Always" : "_Once");
    if (c.emptyMedium) name << "_EmptyMedium";
    if (c.call == sim::DeviceCall::WriteBlock)
        name << (c.flashFailure == sim::UserAction::ok() ? "_Stop" : "_GoOn");
    return name.str();
}

// The demo package's image is this many blocks long; the matrix hits the
// header, the first block, one in the middle and the last.
std::uint16_t demoBlockCount() {
    const std::size_t bytes = expectedDemoStream().size();
    return static_cast<std::uint16_t>(bytes / firmware::kBlockSize - 1);
}

std::vector<FaultCase> matrix() {
    const std::vector<Failure> allFailures = {Failure::CallFails, Failure::IllegalRequest,
                                              Failure::NoMedium, Failure::NoSenseData};
    const std::vector<int> timesList = {1, sim::kForever};
    std::vector<FaultCase> cases;
    const auto add = [&](FaultCase c) {
        c.name = caseName(c);
        cases.push_back(std::move(c));
    };
    const auto failuresOf = [&](sim::DeviceCall call) {
        return canOnlyFailAsACall(call) ? std::vector<Failure>{Failure::CallFails} : allFailures;
    };

    struct ProgramCalls {
        const char* program;
        std::vector<std::pair<sim::DeviceCall, bool>> calls;  // call, with an empty medium
    };
    const std::vector<ProgramCalls> programs = {
        {kUpdate,
         {{sim::DeviceCall::Open, false},
          {sim::DeviceCall::Lock, false},
          {sim::DeviceCall::Unlock, false},
          {sim::DeviceCall::Inquiry, false},
          {sim::DeviceCall::ModeSense, false},
          {sim::DeviceCall::RequestSense, false},
          {sim::DeviceCall::TestUnitReady, true}}},
        {kFormat,
         {{sim::DeviceCall::Open, false},
          {sim::DeviceCall::Lock, false},
          {sim::DeviceCall::Unlock, false},
          {sim::DeviceCall::Inquiry, false},
          {sim::DeviceCall::TestUnitReady, false},
          {sim::DeviceCall::RequestSense, false},
          {sim::DeviceCall::ModeSense, false},
          {sim::DeviceCall::Format, false}}},
    };
    for (const ProgramCalls& p : programs) {
        for (const auto& [call, empty] : p.calls) {
            for (const Failure failure : failuresOf(call)) {
                for (const int occurrence : {1, 2}) {
                    for (const int times : timesList) {
                        add({"", p.program, call, std::nullopt, failure, occurrence, times, empty,
                             sim::UserAction::ok()});
                    }
                }
            }
        }
    }
    const std::uint16_t last = demoBlockCount();
    const std::uint16_t middle = static_cast<std::uint16_t>(last / 2);
    for (const std::uint16_t block : std::set<std::uint16_t>{0, 1, middle, last}) {
        for (const Failure failure : allFailures) {
            for (const int times : timesList) {
                for (const sim::UserAction answer :
                     {sim::UserAction::ok(), sim::UserAction::cancel()}) {
                    add({"", kUpdate, sim::DeviceCall::WriteBlock, block, failure, 1, times, false,
                         answer});
                }
            }
        }
    }
    return cases;
}

sim::CommandFault faultOf(const FaultCase& c) {
    sim::CommandFault f;
    f.call = c.call;
    f.program = c.program;
    f.block = c.block;
    f.occurrence = c.occurrence;
    f.times = c.times;
    switch (c.failure) {
        case Failure::CallFails:
            f.failCall = true;
            f.error = kIoDeviceError;
            break;
        case Failure::IllegalRequest:
            f.failCall = false;
            f.senseKey = sim::kSenseIllegalRequest;
            f.asc = sim::kAscInvalidFieldInCdb;
            break;
        case Failure::NoMedium:
            f.failCall = false;
            f.senseKey = sim::kSenseNotReady;
            f.asc = sim::kAscMediumNotPresent;
            break;
        case Failure::NoSenseData:
            f.failCall = false;
            f.withSense = false;
            break;
    }
    return f;
}

sim::Scenario scenarioOf(const FaultCase& c) {
    sim::Scenario s = simrun::demoScenario();
    if (c.emptyMedium) s.machine.readers[0].files.clear();
    s.faults = {faultOf(c)};
    s.user.programs[kUpdate].defaults[id(UT::FlashFailure)] = c.flashFailure;
    sim::ProgramAnswers& format = s.user.programs[kFormat];
    format.queued[id(FT::NotReady)] =
        std::vector<sim::UserAction>(kRetriesOfANotReadyDrive, sim::UserAction::ok());
    format.defaults[id(FT::NotReady)] = sim::UserAction::cancel();
    return s;
}

// Calls a program never makes on the demonstration's road: a fault on them
// has nothing to hit. The format program leaves the volume unlocked so that
// its one-shot commands reach the device; the update program asks for sense
// data only when a command of its own reports an error.
bool neverMade(const FaultCase& c) {
    if (c.program == std::string_view(kFormat))
        return c.call == sim::DeviceCall::Lock || c.call == sim::DeviceCall::Unlock;
    return c.call == sim::DeviceCall::RequestSense;
}

bool firedOn(const simrun::RunResult& result, std::string_view program, sim::DeviceCall call) {
    return std::any_of(result.events.begin(), result.events.end(), [&](const sim::MachineEvent& e) {
        return e.kind == sim::EventKind::FaultFired && e.program == program &&
               e.get(sim::field::kCommand) == sim::deviceCallName(call);
    });
}

// The format program's 154 comes exactly when it could not see the format
// finish: never after a format the reader completed with every command of
// the format program answered, always when the format command was refused or
// the reader formatted nothing. Its 140 speaks of the update, so it needs a
// firmware the reader took.
void expectFormatToldAsSeen(const simrun::RunResult& result) {
    const bool closed = result.summary.showed(kFormat, id(FT::RevisionMatches)) ||
                        result.summary.showed(kFormat, id(FT::RevisionDiffers));
    const bool notFormattedShown = result.summary.showed(kFormat, id(FT::NotFormatted));
    if (!closed) {
        EXPECT_FALSE(notFormattedShown) << "154 comes only before a closing notice";
        return;
    }
    const bool anyFault = countEvents(result, sim::EventKind::FaultFired, kFormat) > 0;
    const bool formatted = countEvents(result, sim::EventKind::MediumFormatted) > 0;
    if (!anyFault && formatted) {
        EXPECT_FALSE(notFormattedShown) << "154 after a format seen to finish";
    }
    if (firedOn(result, kFormat, sim::DeviceCall::Format) || !formatted) {
        EXPECT_TRUE(notFormattedShown) << "a closing notice without 154 for a format not seen";
    }
    if (result.summary.showed(kFormat, id(FT::RevisionMatches))) {
        EXPECT_TRUE(result.summary.machine.readers[0].firmware.written())
            << "the format program's 140 for an update that did not happen";
    }
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, EndsCleanAndNeverClaimsWorkThatDidNotHappen) {
    const FaultCase& c = GetParam();
    simrun::RunOptions options;
    options.loopGuard =
        sim::LoopGuardLimits{2u * demoBlockCount() + kAnswersBesidesBlocks, kStopAfterPasses};
    const simrun::RunResult result = simrun::runScenario(scenarioOf(c), options);

    if (c.times == 1) {
        EXPECT_EQ(result.exitStatus, simrun::kExitScenarioEnded)
            << "a single failure must not trap the user: " << result.summary.loopGuardReason;
    } else {
        EXPECT_TRUE(result.exitStatus == simrun::kExitScenarioEnded ||
                    result.exitStatus == simrun::kExitLoopGuard)
            << result.exitStatus;
    }
    expectNothingLeftOpen(result);

    const std::size_t fired = countEvents(result, sim::EventKind::FaultFired);
    if (neverMade(c)) {
        EXPECT_EQ(fired, 0u) << "a call this program should not make";
    } else if (c.occurrence == 1) {
        EXPECT_GT(fired, 0u) << "the fault hit nothing";
    }

    const sim::ReaderSummary& reader = result.summary.machine.readers[0];
    if (result.summary.showed(kUpdate, id(UT::UpdateComplete))) {
        EXPECT_EQ(reader.receivedStream, expectedDemoStream())
            << "notice 140 after a firmware the reader did not take whole";
    }
    if (result.summary.machine.markerWritten) {
        EXPECT_TRUE(reader.firmware.written()) << "a hand-off for a firmware never sent";
    }
    expectFormatToldAsSeen(result);
}

INSTANTIATE_TEST_SUITE_P(EveryCall, FaultMatrix, ::testing::ValuesIn(matrix()), NameOfCase{});

TEST(FaultMatrixBaseline, TheDemoStreamIsThePackagesRowAndFirmware) {
    // Without this the comparisons above could compare two empty streams.
    ASSERT_GT(demoBlockCount(), 2u);
    const simrun::RunResult result = simrun::runScenario(simrun::demoScenario());
    EXPECT_EQ(result.summary.machine.readers[0].receivedStream, expectedDemoStream());
}

}  // namespace
}  // namespace e2e

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_link.h"
#include "device/pass_through_request.h"
#include "simulated_drive.h"

namespace device_test {
namespace {

using testsupport::PrintTo;

using device::kCommandFailed;

constexpr std::array<std::uint8_t, 6> kTestUnitReady{0x00, 0, 0, 0, 0, 0};
constexpr std::array<std::uint8_t, 6> kInquiry{0x12, 0, 0, 0, 36, 0};
constexpr std::uint32_t kStaleCode = 0x12345678;

// ---------------------------------------------------------------------------
// Device paths

struct PathCase {
    const char* name;
    const char* root;
    const char* path;
};

class DevicePathTest : public ::testing::TestWithParam<PathCase> {};

TEST_P(DevicePathTest, TakesOnlyTheFirstCharacterOfTheRoot) {
    EXPECT_EQ(device::devicePath(GetParam().root), GetParam().path);
}

INSTANTIATE_TEST_SUITE_P(Roots, DevicePathTest,
                         ::testing::Values(PathCase{"UpperCase", "E:\\", "\\\\.\\E:"},
                                           PathCase{"LowerCase", "e:\\", "\\\\.\\e:"},
                                           PathCase{"TwoBackslashes", "F:\\\\", "\\\\.\\F:"},
                                           PathCase{"LetterOnly", "G", "\\\\.\\G:"},
                                           PathCase{"Empty", "", "\\\\.\\:"}),
                         NameOfCase{});

using TransportTest = SimulatedDrive<>;

TEST_F(TransportTest, LowerCaseRootReachesTheSameVolume) {
    EXPECT_EQ(link.testUnitReady("e:\\"), 1);
    ASSERT_EQ(volumes.opens().size(), 1u);
    EXPECT_EQ(volumes.opens()[0].path, "\\\\.\\e:");
    ASSERT_EQ(volumes.passThroughs().size(), 1u);
    EXPECT_EQ(volumes.passThroughs()[0].letter, 'E');
}

// ---------------------------------------------------------------------------
// The request record, one-shot and held alike

enum class Mode { Once, Held };

const char* modeName(Mode mode) {
    return mode == Mode::Once ? "Once" : "Held";
}
void PrintTo(Mode mode, std::ostream* out) {
    *out << modeName(mode);
}

template <class Base>
class BothModes : public SimulatedDrive<Base> {
  protected:
    // Sends over the way the mode names; a held send locks first.
    int send(Mode mode, const std::uint8_t* cdb, std::uint8_t length, void* buffer,
             std::uint8_t direction, std::uint32_t transferLength) {
        if (mode == Mode::Once) {
            return this->link.sendCommandOnce(cdb, length, kReaderRoot, buffer, direction,
                                              transferLength);
        }
        if (!this->link.holdsVolume()) {
            EXPECT_EQ(this->link.lockVolume(kReaderRoot), 1);
        }
        return this->link.sendCommandHeld(cdb, length, buffer, direction, transferLength);
    }
    void endHeldPeriod() {
        if (this->link.holdsVolume()) this->link.unlockVolume();
    }
};

class RequestRecordTest : public BothModes<::testing::TestWithParam<Mode>> {};

TEST_P(RequestRecordTest, CarriesTheFieldValuesADriverExpects) {
    std::array<std::uint8_t, device::kInquiryLength> buffer{};
    ASSERT_EQ(send(GetParam(), kInquiry.data(), 6, buffer.data(), win::SCSI_IOCTL_DATA_IN, 36), 1);
    endHeldPeriod();

    ASSERT_EQ(volumes.passThroughs().size(), 1u);
    const sim::PassThroughRecord& record = volumes.passThroughs()[0];
    const win::SCSI_PASS_THROUGH_DIRECT& sent = record.request;
    EXPECT_EQ(sent.Length, sizeof(win::SCSI_PASS_THROUGH_DIRECT));
    EXPECT_EQ(sent.ScsiStatus, 0);
    EXPECT_EQ(sent.PathId, 0);
    EXPECT_EQ(sent.TargetId, 1);
    EXPECT_EQ(sent.Lun, 0);
    EXPECT_EQ(sent.CdbLength, 6);
    EXPECT_EQ(sent.SenseInfoLength, 18);
    EXPECT_EQ(sent.DataIn, win::SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(sent.DataTransferLength, 36u);
    EXPECT_EQ(sent.TimeOutValue, 5u);
    EXPECT_EQ(sent.DataBuffer, buffer.data());
    EXPECT_EQ(sent.SenseInfoOffset, device::kSenseInfoOffset);
    EXPECT_EQ(record.cdb, std::vector<std::uint8_t>(kInquiry.begin(), kInquiry.end()));
    for (std::size_t i = 6; i < sizeof(sent.Cdb); ++i)
        EXPECT_EQ(sent.Cdb[i], 0) << "Cdb byte " << i;

    // The same record is input and output, and it went out zero-filled behind
    // its header: a stale sense area would be judged as this command's.
    EXPECT_EQ(record.inBufferSize, sizeof(device::PassThroughRequest));
    EXPECT_EQ(record.outBufferSize, sizeof(device::PassThroughRequest));
    for (std::size_t i = sizeof(win::SCSI_PASS_THROUGH_DIRECT); i < record.inputBytes.size(); ++i) {
        EXPECT_EQ(record.inputBytes[i], 0) << "record byte " << i;
    }

    ASSERT_EQ(volumes.opens().size(), 1u);
    const sim::OpenRecord& open = volumes.opens()[0];
    EXPECT_EQ(open.path, "\\\\.\\E:");
    EXPECT_EQ(open.desiredAccess, win::GENERIC_READ | win::GENERIC_WRITE);
    EXPECT_EQ(open.shareMode, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE);
    EXPECT_EQ(open.creationDisposition, win::OPEN_EXISTING);
    EXPECT_EQ(open.flagsAndAttributes, 0u);
}

TEST_P(RequestRecordTest, CdbLongerThanTheRecordHoldsIsNotSent) {
    std::array<std::uint8_t, 17> longCdb{};
    link.lastSenseCode = kStaleCode;
    EXPECT_EQ(send(GetParam(), longCdb.data(), 17, nullptr, win::SCSI_IOCTL_DATA_UNSPECIFIED, 0),
              0);
    EXPECT_EQ(link.lastSenseCode, kCommandFailed);
    EXPECT_TRUE(volumes.passThroughs().empty());
    EXPECT_FALSE(link.holdsVolume());
}

INSTANTIATE_TEST_SUITE_P(Modes, RequestRecordTest, ::testing::Values(Mode::Once, Mode::Held),
                         [](const auto& testInfo) {
                             return std::string(modeName(testInfo.param));
                         });

// ---------------------------------------------------------------------------
// lastSenseCode

struct SenseCase {
    const char* name;
    std::optional<sim::InjectedFault> fault;  // none: the healthy reader answers
    int result;
    std::uint32_t code;
};

sim::InjectedFault reply(std::uint8_t status, std::vector<std::uint8_t> sense) {
    sim::ScsiReply answer;
    answer.status = status;
    answer.sense = std::move(sense);
    return sim::InjectedFault::answer(answer);
}

const SenseCase kSenseCases[] = {
    {"GoodStatus", std::nullopt, 1, 0x00000000},
    {"CallRejected", sim::InjectedFault::callFails(), 0, 0xFF000000},
    {"MediumNotPresent", sim::InjectedFault::checkCondition(sim::kSenseNotReady, 0x3A, 0x00), 0,
     0xFF023A00},
    {"UnitAttention", sim::InjectedFault::checkCondition(sim::kSenseUnitAttention, 0x28, 0x00), 0,
     0xFF062800},
    {"FormatInProgress", sim::InjectedFault::checkCondition(sim::kSenseNotReady, 0x04, 0x04), 0,
     0xFF020404},
    {"GoodStatusWithAscOnly",
     reply(sim::kStatusGood, sim::fixedSense(sim::kSenseNoSense, 0x3A, 0x00)), 1, 0x00003A00},
    {"FilemarkFlagOnly", sim::InjectedFault::senseFlagsOnly(sim::kSenseFlagFilemark), 0,
     0xFF800000},
    {"EomFlagOnly", sim::InjectedFault::senseFlagsOnly(sim::kSenseFlagEom), 0, 0xFF400000},
    {"IliFlagOnly", sim::InjectedFault::senseFlagsOnly(sim::kSenseFlagIli), 0, 0xFF200000},
    {"CheckConditionWithoutSense", sim::InjectedFault::checkConditionWithoutSense(), 0, 0xFF000000},
    {"BusyWithoutSense", reply(sim::kStatusBusy, {}), 0, 0xFF000000},
};

class LastSenseCodeTest : public BothModes<::testing::TestWithParam<std::tuple<Mode, SenseCase>>> {
};

TEST_P(LastSenseCodeTest, JudgesStatusAndSenseByte2) {
    const auto& [mode, sense] = GetParam();
    if (mode == Mode::Held) {
        ASSERT_EQ(link.lockVolume(kReaderRoot), 1);
    }
    if (sense.fault) volumes.injectNext(*sense.fault);
    link.lastSenseCode = kStaleCode;

    EXPECT_EQ(send(mode, kTestUnitReady.data(), 6, nullptr, win::SCSI_IOCTL_DATA_UNSPECIFIED, 0),
              sense.result);
    EXPECT_EQ(link.lastSenseCode, sense.code);
    EXPECT_EQ(volumes.passThroughs().size(), 1u);

    // One-shot commands never leave a handle; a held one survives success only.
    const bool stillHeld = mode == Mode::Held && sense.result == 1;
    EXPECT_EQ(link.holdsVolume(), stillHeld);
    EXPECT_EQ(volumes.openHandleCount(), stillHeld ? 1u : 0u);
    EXPECT_EQ(volumes.isLocked(kReaderLetter), stillHeld);
    endHeldPeriod();
}

INSTANTIATE_TEST_SUITE_P(Replies, LastSenseCodeTest,
                         ::testing::Combine(::testing::Values(Mode::Once, Mode::Held),
                                            ::testing::ValuesIn(kSenseCases)),
                         [](const auto& testInfo) {
                             return std::string(modeName(std::get<0>(testInfo.param))) +
                                    std::get<1>(testInfo.param).name;
                         });

// ---------------------------------------------------------------------------
// A volume that cannot be opened

enum class OpenFailure { UnknownDrive, OpenRefused };
enum class Operation { OneShot, Lock };

struct OpenFailureCase {
    const char* name;
    OpenFailure failure;
    Operation operation;
    bool withAction;
};

class FailedOpenTest : public SimulatedDrive<::testing::TestWithParam<OpenFailureCase>> {};

TEST_P(FailedOpenTest, LeavesLastSenseCodeAndRunsTheOwnersAction) {
    const OpenFailureCase& c = GetParam();
    int actionRuns = 0;
    if (c.withAction) link.setOpenFailureAction([&actionRuns] { ++actionRuns; });

    reader.removeMedium();
    ASSERT_EQ(link.testUnitReady(kReaderRoot), 0);
    ASSERT_EQ(link.lastSenseCode, 0xFF023A00u);

    const char* root = kReaderRoot;
    if (c.failure == OpenFailure::UnknownDrive) root = "Q:\\";
    if (c.failure == OpenFailure::OpenRefused) {
        volumes.failOpens(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    }
    const std::size_t sentBefore = volumes.passThroughs().size();
    const int result =
        c.operation == Operation::OneShot ? link.testUnitReady(root) : link.lockVolume(root);

    EXPECT_EQ(result, 0);
    EXPECT_EQ(link.lastSenseCode, 0xFF023A00u);
    EXPECT_EQ(actionRuns, c.withAction ? 1 : 0);
    EXPECT_EQ(volumes.lastErrorReads(), 1u);
    EXPECT_EQ(volumes.passThroughs().size(), sentBefore);
    EXPECT_FALSE(link.holdsVolume());
    // Nothing is held, so ending the held period does nothing.
    EXPECT_EQ(link.unlockVolume(), 0);
    EXPECT_TRUE(volumes.controls().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailedOpenTest,
    ::testing::Values(
        OpenFailureCase{"OneShotUnknownDrive", OpenFailure::UnknownDrive, Operation::OneShot, true},
        OpenFailureCase{"OneShotRefused", OpenFailure::OpenRefused, Operation::OneShot, true},
        OpenFailureCase{"OneShotNoAction", OpenFailure::OpenRefused, Operation::OneShot, false},
        OpenFailureCase{"LockUnknownDrive", OpenFailure::UnknownDrive, Operation::Lock, true},
        OpenFailureCase{"LockRefused", OpenFailure::OpenRefused, Operation::Lock, true},
        OpenFailureCase{"LockNoAction", OpenFailure::OpenRefused, Operation::Lock, false}),
    NameOfCase{});

// ---------------------------------------------------------------------------
// Locking

struct LockCase {
    const char* name;
    int busyAttempts;
    int result;
    std::size_t attempts;
};

class LockRetryTest : public SimulatedDrive<::testing::TestWithParam<LockCase>> {};

TEST_P(LockRetryTest, RetriesASecondApartAndKeepsTheHandle) {
    const LockCase& c = GetParam();
    volumes.holdLockBusy(kReaderLetter, c.busyAttempts);

    EXPECT_EQ(link.lockVolume(kReaderRoot), c.result);

    const auto& controls = volumes.controls();
    ASSERT_EQ(controls.size(), c.attempts);
    for (std::size_t i = 0; i < controls.size(); ++i) {
        EXPECT_EQ(controls[i].controlCode, win::FSCTL_LOCK_VOLUME);
        EXPECT_EQ(controls[i].tick, 1000u * i) << "attempt " << i + 1;
    }
    EXPECT_EQ(clock.now(), 1000u * (c.attempts - 1));
    EXPECT_EQ(volumes.isLocked(kReaderLetter), c.result == 1);
    // Locked or not, the handle stays held until the held period ends.
    EXPECT_TRUE(link.holdsVolume());
    EXPECT_EQ(volumes.openHandleCount(), 1u);

    EXPECT_EQ(link.unlockVolume(), 1);
    ASSERT_EQ(controls.size(), c.attempts + 1);
    EXPECT_EQ(controls.back().controlCode, win::FSCTL_UNLOCK_VOLUME);
    EXPECT_FALSE(link.holdsVolume());
}

INSTANTIATE_TEST_SUITE_P(Busy, LockRetryTest,
                         ::testing::Values(LockCase{"Free", 0, 1, 1},
                                           LockCase{"GrantedOnAttempt3", 2, 1, 3},
                                           LockCase{"GrantedOnLastAttempt", 5, 1, 6},
                                           LockCase{"BusySixTimes", 6, 0, 6},
                                           LockCase{"BusyForEver", sim::kForever, 0, 6}),
                         NameOfCase{});

using HeldPeriodTest = SimulatedDrive<>;

TEST_F(HeldPeriodTest, RefusedBlockEndsTheHeldPeriod) {
    reader.refuseBlock(2);
    ASSERT_EQ(link.lockVolume(kReaderRoot), 1);
    std::array<std::uint8_t, device::kFirmwareBlockSize> block{};

    EXPECT_EQ(link.writeFirmwareBlock(block, 0), 1);
    EXPECT_EQ(link.writeFirmwareBlock(block, 1), 1);
    EXPECT_EQ(link.writeFirmwareBlock(block, 2), 0);
    EXPECT_EQ(link.lastSenseCode, 0xFF030C00u);
    EXPECT_FALSE(link.holdsVolume());
    EXPECT_EQ(volumes.openHandleCount(), 0u);
    EXPECT_FALSE(volumes.isLocked(kReaderLetter));

    // Later blocks reach nothing, and the end of the held period has nothing
    // left to unlock or close.
    EXPECT_EQ(link.writeFirmwareBlock(block, 3), 0);
    EXPECT_EQ(link.lastSenseCode, kCommandFailed);
    EXPECT_EQ(volumes.passThroughs().size(), 3u);
    const std::size_t controlsBefore = volumes.controls().size();
    EXPECT_EQ(link.unlockVolume(), 0);
    EXPECT_EQ(volumes.controls().size(), controlsBefore);
}

TEST_F(HeldPeriodTest, HeldCommandWithoutALockSendsNothing) {
    link.lastSenseCode = kStaleCode;
    EXPECT_EQ(link.sendCommandHeld(kTestUnitReady.data(), 6, nullptr,
                                   win::SCSI_IOCTL_DATA_UNSPECIFIED, 0),
              0);
    EXPECT_EQ(link.lastSenseCode, kCommandFailed);
    EXPECT_TRUE(volumes.opens().empty());
    EXPECT_TRUE(volumes.passThroughs().empty());
}

TEST_F(HeldPeriodTest, SecondLockLeavesOneHandle) {
    ASSERT_EQ(link.lockVolume(kReaderRoot), 1);
    // The earlier handle goes first, so the volume has no other handle that
    // would keep the new lock from being granted.
    EXPECT_EQ(link.lockVolume(kReaderRoot), 1);
    EXPECT_EQ(volumes.openHandleCount(), 1u);
    ASSERT_EQ(volumes.controls().size(), 2u);
    EXPECT_TRUE(volumes.controls()[1].succeeded);

    EXPECT_EQ(link.unlockVolume(), 1);
}

TEST_F(HeldPeriodTest, OneShotCommandDoesNotLoseTheHeldHandle) {
    ASSERT_EQ(link.lockVolume(kReaderRoot), 1);
    // The locked volume answers only its locker, so this command fails; what
    // matters is that the held handle survives it.
    EXPECT_EQ(link.testUnitReady(kReaderRoot), 0);
    EXPECT_TRUE(link.holdsVolume());
    EXPECT_EQ(volumes.openHandleCount(), 1u);

    std::array<std::uint8_t, device::kFirmwareBlockSize> block{};
    EXPECT_EQ(link.writeFirmwareBlock(block, 0), 1);
    EXPECT_EQ(link.unlockVolume(), 1);
}

TEST_F(HeldPeriodTest, LinkGoingAwayReleasesTheVolume) {
    {
        device::DeviceLink other{volumes, registry, clock, device::WriteProtectRule::WpBitOnly};
        ASSERT_EQ(other.lockVolume(kReaderRoot), 1);
    }
    EXPECT_FALSE(volumes.isLocked(kReaderLetter));
}

}  // namespace
}  // namespace device_test

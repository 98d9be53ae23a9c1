#include "sim/sim_volumes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"
#include "support/case_names.h"

namespace {

using testsupport::NameOfCase;
using testsupport::PrintTo;

constexpr const char* kPathE = "\\\\.\\E:";
constexpr win::DWORD kReadWrite = win::GENERIC_READ | win::GENERIC_WRITE;
constexpr win::DWORD kShareBoth = win::FILE_SHARE_READ | win::FILE_SHARE_WRITE;

// A pass-through record as a program lays it out: header, filler, sense area.
struct Request {
    win::SCSI_PASS_THROUGH_DIRECT sptd;
    win::DWORD filler;
    std::uint8_t sense[32];
};

constexpr win::DWORD kSenseOffset = static_cast<win::DWORD>(offsetof(Request, sense));

Request testUnitReadyRequest() {
    Request request;
    std::memset(&request, 0, sizeof(request));
    request.sptd.Length = sizeof(win::SCSI_PASS_THROUGH_DIRECT);
    request.sptd.TargetId = 1;
    request.sptd.CdbLength = 6;
    request.sptd.SenseInfoLength = 18;
    request.sptd.DataIn = win::SCSI_IOCTL_DATA_UNSPECIFIED;
    request.sptd.TimeOutValue = 5;
    request.sptd.SenseInfoOffset = kSenseOffset;
    return request;
}

class SimVolumesTest : public ::testing::Test {
  protected:
    SimVolumesTest() { volumes.attach('E', reader); }
    void TearDown() override { EXPECT_EQ(volumes.openHandleCount(), 0u); }

    win::HANDLE open(const char* path = kPathE, win::DWORD access = kReadWrite) {
        return volumes.CreateFileA(path, access, kShareBoth, win::OPEN_EXISTING, 0);
    }
    win::BOOL send(win::HANDLE handle, Request& request, win::DWORD inSize = sizeof(Request),
                   win::DWORD outSize = sizeof(Request)) {
        win::DWORD returned = 0;
        return volumes.DeviceIoControl(handle, win::IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                       inSize, &request, outSize, &returned);
    }
    win::BOOL control(win::HANDLE handle, win::DWORD code) {
        win::DWORD returned = 0;
        return volumes.DeviceIoControl(handle, code, nullptr, 0, nullptr, 0, &returned);
    }
    void expectFails(win::BOOL result, win::DWORD error) {
        EXPECT_EQ(result, win::FALSE);
        EXPECT_EQ(volumes.GetLastError(), error);
    }

    sim::VirtualClock clock;
    sim::VirtualReader reader{clock, sim::ReaderIdentity{"Kavo", "TKW-5", "1.00"}};
    sim::SimVolumes volumes{clock};
};

// ---------------------------------------------------------------------------
// Opening

struct PathCase {
    const char* name;
    const char* path;
    bool opens;
};

class DevicePathOpenTest : public SimVolumesTest, public ::testing::WithParamInterface<PathCase> {};

TEST_P(DevicePathOpenTest, OpensOnlyTheVolumePathOfAnAttachedDrive) {
    const win::HANDLE handle = open(GetParam().path);
    if (GetParam().opens) {
        EXPECT_NE(handle, win::invalidHandleValue());
        EXPECT_EQ(volumes.CloseHandle(handle), win::TRUE);
    } else {
        EXPECT_EQ(handle, win::invalidHandleValue());
        EXPECT_EQ(volumes.GetLastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
    }
    EXPECT_EQ(volumes.openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, DevicePathOpenTest,
    ::testing::Values(PathCase{.name = "Upper", .path = "\\\\.\\E:", .opens = true},
                      PathCase{.name = "Lower", .path = "\\\\.\\e:", .opens = true},
                      PathCase{.name = "NotAttached", .path = "\\\\.\\F:", .opens = false},
                      PathCase{.name = "RootDirectory", .path = "\\\\.\\E:\\", .opens = false},
                      PathCase{.name = "DriveOnly", .path = "E:", .opens = false},
                      PathCase{.name = "NoLetter", .path = "\\\\.\\:", .opens = false},
                      PathCase{.name = "Empty", .path = "", .opens = false},
                      PathCase{.name = "Win32Prefix", .path = "\\\\?\\E:", .opens = false}),
    NameOfCase{});

TEST_F(SimVolumesTest, InjectedOpenFailuresComeFirstAndRunOut) {
    volumes.failOpens(static_cast<win::DWORD>(win::ERROR_SHARING_VIOLATION), 2);
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(open(), win::invalidHandleValue());
        EXPECT_EQ(volumes.GetLastError(), static_cast<win::DWORD>(win::ERROR_SHARING_VIOLATION));
    }
    const win::HANDLE handle = open();
    EXPECT_NE(handle, win::invalidHandleValue());
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, HandlesAreCountedAndNeverReused) {
    const win::HANDLE first = open();
    const win::HANDLE second = open();
    EXPECT_NE(first, second);
    EXPECT_EQ(volumes.openHandleCount(), 2u);
    EXPECT_EQ(volumes.CloseHandle(first), win::TRUE);
    EXPECT_EQ(volumes.CloseHandle(first), win::FALSE);
    EXPECT_EQ(volumes.badCloseCount(), 1u);
    const win::HANDLE third = open();
    EXPECT_NE(third, first);
    volumes.CloseHandle(second);
    volumes.CloseHandle(third);
    EXPECT_EQ(volumes.openHandleCount(), 0u);
}

// ---------------------------------------------------------------------------
// The driver's checks of the record

struct MalformedCase {
    const char* name;
    std::function<void(Request&, win::DWORD& inSize, win::DWORD& outSize)> spoil;
};

const MalformedCase kMalformedCases[] = {
    {"InputTooShort",
     [](Request&, win::DWORD& in, win::DWORD&) { in = sizeof(win::SCSI_PASS_THROUGH_DIRECT) - 1; }},
    {"OutputTooShort", [](Request&, win::DWORD&,
                          win::DWORD& out) { out = sizeof(win::SCSI_PASS_THROUGH_DIRECT) - 1; }},
    {"WrongLengthField",
     [](Request& r, win::DWORD&, win::DWORD&) {
         r.sptd.Length = static_cast<win::WORD>(sizeof(win::SCSI_PASS_THROUGH_DIRECT) - 4);
     }},
    {"NoCdb", [](Request& r, win::DWORD&, win::DWORD&) { r.sptd.CdbLength = 0; }},
    {"CdbTooLong", [](Request& r, win::DWORD&, win::DWORD&) { r.sptd.CdbLength = 17; }},
    {"UnknownDirection", [](Request& r, win::DWORD&, win::DWORD&) { r.sptd.DataIn = 3; }},
    {"DataWithoutBuffer",
     [](Request& r, win::DWORD&, win::DWORD&) {
         r.sptd.DataIn = win::SCSI_IOCTL_DATA_IN;
         r.sptd.DataTransferLength = 36;
     }},
    {"SenseBeyondOutput",
     [](Request& r, win::DWORD&, win::DWORD& out) {
         r.sptd.SenseInfoOffset = out - r.sptd.SenseInfoLength + 1;
     }},
    {"SenseOverHeader", [](Request& r, win::DWORD&, win::DWORD&) { r.sptd.SenseInfoOffset = 0; }},
    {"OutputEndsBeforeSense",
     [](Request&, win::DWORD&, win::DWORD& out) { out = kSenseOffset + 17; }},
};

class MalformedRequestTest : public SimVolumesTest,
                             public ::testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedRequestTest, IsRefusedBeforeTheDeviceSeesIt) {
    Request request = testUnitReadyRequest();
    win::DWORD inSize = sizeof(Request);
    win::DWORD outSize = sizeof(Request);
    GetParam().spoil(request, inSize, outSize);
    reader.removeMedium();  // an answer from the reader would carry sense

    const win::HANDLE handle = open();
    expectFails(send(handle, request, inSize, outSize),
                static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(volumes.passThroughs().empty());
    for (std::uint8_t byte : request.sense) EXPECT_EQ(byte, 0);
    volumes.CloseHandle(handle);
}

INSTANTIATE_TEST_SUITE_P(Records, MalformedRequestTest, ::testing::ValuesIn(kMalformedCases),
                         NameOfCase{});

TEST_F(SimVolumesTest, SenseFitsExactlyAtTheEndOfTheOutput) {
    Request request = testUnitReadyRequest();
    request.sptd.SenseInfoOffset = sizeof(Request) - 18;
    reader.removeMedium();
    const win::HANDLE handle = open();
    EXPECT_EQ(send(handle, request), win::TRUE);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&request);
    EXPECT_EQ(bytes[sizeof(Request) - 18 + 2], sim::kSenseNotReady);
    EXPECT_EQ(bytes[sizeof(Request) - 18 + 12], sim::kAscMediumNotPresent);
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, WritesStatusAndNoMoreSenseThanAskedFor) {
    Request request = testUnitReadyRequest();
    request.sptd.SenseInfoLength = 4;
    std::memset(request.sense, 0xEE, sizeof(request.sense));
    reader.removeMedium();
    const win::HANDLE handle = open();

    ASSERT_EQ(send(handle, request), win::TRUE);
    EXPECT_EQ(request.sptd.ScsiStatus, sim::kStatusCheckCondition);
    EXPECT_EQ(request.sptd.SenseInfoLength, 4);
    EXPECT_EQ(request.sense[0], sim::kFixedSenseCurrent);
    EXPECT_EQ(request.sense[2], sim::kSenseNotReady);
    for (std::size_t i = 4; i < sizeof(request.sense); ++i) EXPECT_EQ(request.sense[i], 0xEE);
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, PassThroughNeedsReadAndWriteAccess) {
    Request request = testUnitReadyRequest();
    const win::HANDLE handle = open(kPathE, win::GENERIC_READ);
    expectFails(send(handle, request), static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, DataMovesInPlaceAndIsRecorded) {
    Request request = testUnitReadyRequest();
    std::array<std::uint8_t, 36> data{};
    const std::uint8_t inquiry[6] = {0x12, 0, 0, 0, 36, 0};
    std::memcpy(request.sptd.Cdb, inquiry, 6);
    request.sptd.DataIn = win::SCSI_IOCTL_DATA_IN;
    request.sptd.DataTransferLength = 36;
    request.sptd.DataBuffer = data.data();
    const win::HANDLE handle = open("\\\\.\\e:");

    ASSERT_EQ(send(handle, request), win::TRUE);
    EXPECT_EQ(request.sptd.ScsiStatus, sim::kStatusGood);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "Kavo    ");
    ASSERT_EQ(volumes.passThroughs().size(), 1u);
    const sim::PassThroughRecord& record = volumes.passThroughs()[0];
    EXPECT_EQ(record.letter, 'E');
    EXPECT_EQ(record.cdb, std::vector<std::uint8_t>(inquiry, inquiry + 6));
    EXPECT_EQ(record.direction, win::SCSI_IOCTL_DATA_IN);
    EXPECT_EQ(record.transferLength, 36u);
    EXPECT_EQ(record.inputBytes.size(), sizeof(Request));
    volumes.CloseHandle(handle);
}

// ---------------------------------------------------------------------------
// Faults in place of the device's answer

TEST_F(SimVolumesTest, NextCallFaultsAreUsedOnceEachInOrder) {
    volumes.injectNext(
        sim::InjectedFault::callFails(static_cast<win::DWORD>(win::ERROR_NOT_READY)));
    volumes.injectNext(
        sim::InjectedFault::checkCondition(sim::kSenseUnitAttention, sim::kAscMediumChanged, 0));
    const win::HANDLE handle = open();

    Request first = testUnitReadyRequest();
    expectFails(send(handle, first), static_cast<win::DWORD>(win::ERROR_NOT_READY));
    Request second = testUnitReadyRequest();
    ASSERT_EQ(send(handle, second), win::TRUE);
    EXPECT_EQ(second.sense[2], sim::kSenseUnitAttention);
    Request third = testUnitReadyRequest();
    ASSERT_EQ(send(handle, third), win::TRUE);
    EXPECT_EQ(third.sptd.ScsiStatus, sim::kStatusGood);
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, CommandFaultsHitOnlyTheirCommandAndVolume) {
    sim::VirtualReader second{clock, sim::ReaderIdentity{"Kavo", "TKW-5", "1.00"}};
    volumes.attach('F', second);
    volumes.injectForCommand(sim::ReaderCommand::TestUnitReady, sim::InjectedFault::callFails(), 2,
                             'e');
    const win::HANDLE onE = open();
    const win::HANDLE onF = open("\\\\.\\F:");

    Request request = testUnitReadyRequest();
    EXPECT_EQ(send(onF, request), win::TRUE);
    request = testUnitReadyRequest();
    request.sptd.Cdb[0] = 0x03;  // another command on the faulty volume
    request.sptd.Cdb[4] = 0;
    EXPECT_EQ(send(onE, request), win::TRUE);
    for (int i = 0; i < 2; ++i) {
        request = testUnitReadyRequest();
        EXPECT_EQ(send(onE, request), win::FALSE) << "fault " << i + 1;
    }
    request = testUnitReadyRequest();
    EXPECT_EQ(send(onE, request), win::TRUE);
    volumes.CloseHandle(onE);
    volumes.CloseHandle(onF);
}

// The reader sees its commands in order; the hook counts only what reaches
// it: commands of its kind on its own drive, and not one a fault stopped in
// the driver.
TEST_F(SimVolumesTest, HookRunsJustBeforeTheNthCommandOfItsKindReachesTheReader) {
    sim::VirtualReader onDriveF{clock, sim::ReaderIdentity{"Kavo", "TKW-5", "1.00"}};
    volumes.attach('F', onDriveF);
    int runs = 0;
    volumes.before('e', sim::ReaderCommand::TestUnitReady, 2, [&] {
        ++runs;
        reader.removeMedium();
    });
    const win::HANDLE onE = open();
    const win::HANDLE onF = open("\\\\.\\F:");
    const auto testUnitReady = [&](win::HANDLE handle) {
        Request request = testUnitReadyRequest();
        EXPECT_EQ(send(handle, request), win::TRUE);
        return request;
    };

    testUnitReady(onF);  // another drive
    Request sense = testUnitReadyRequest();
    sense.sptd.Cdb[0] = 0x03;  // another command on the hooked drive
    EXPECT_EQ(send(onE, sense), win::TRUE);
    EXPECT_EQ(testUnitReady(onE).sptd.ScsiStatus, sim::kStatusGood);
    volumes.injectNext(sim::InjectedFault::callFails());
    Request stopped = testUnitReadyRequest();
    EXPECT_EQ(send(onE, stopped), win::FALSE);
    EXPECT_EQ(runs, 0);

    // The second one that reaches the reader finds the medium gone already.
    const Request found = testUnitReady(onE);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(found.sptd.ScsiStatus, sim::kStatusCheckCondition);
    EXPECT_EQ(found.sense[sim::kSenseKeyByte] & 0x0F, sim::kSenseNotReady);
    EXPECT_EQ(found.sense[sim::kAscByte], sim::kAscMediumNotPresent);
    reader.insertMedium();
    testUnitReady(onE);
    EXPECT_EQ(runs, 1);
    volumes.CloseHandle(onE);
    volumes.CloseHandle(onF);
}

TEST_F(SimVolumesTest, PlainDiskRefusesPassThroughButLocks) {
    volumes.attachPlainDisk('C');
    const win::HANDLE handle = open("\\\\.\\C:");
    Request request = testUnitReadyRequest();
    expectFails(send(handle, request), sim::kErrorInvalidFunction);
    EXPECT_EQ(volumes.passThroughs().size(), 1u);
    EXPECT_EQ(control(handle, win::FSCTL_LOCK_VOLUME), win::TRUE);
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, DetachedDeviceFailsItsOpenHandles) {
    const win::HANDLE handle = open();
    volumes.detach('E');
    Request request = testUnitReadyRequest();
    expectFails(send(handle, request), sim::kErrorDeviceNotConnected);
    EXPECT_EQ(open(), win::invalidHandleValue());
    EXPECT_EQ(volumes.CloseHandle(handle), win::TRUE);

    volumes.attach('E', reader);
    const win::HANDLE again = open();
    request = testUnitReadyRequest();
    EXPECT_EQ(send(again, request), win::TRUE);
    volumes.CloseHandle(again);
}

// ---------------------------------------------------------------------------
// Volume locks

TEST_F(SimVolumesTest, LockIsRefusedWhileAnotherHandleIsOpen) {
    const win::HANDLE locker = open();
    const win::HANDLE other = open();
    expectFails(control(locker, win::FSCTL_LOCK_VOLUME),
                static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    volumes.CloseHandle(other);
    EXPECT_EQ(control(locker, win::FSCTL_LOCK_VOLUME), win::TRUE);
    EXPECT_TRUE(volumes.isLocked('e'));
    volumes.CloseHandle(locker);
}

TEST_F(SimVolumesTest, LockedVolumeAnswersOnlyItsLocker) {
    const win::HANDLE locker = open();
    ASSERT_EQ(control(locker, win::FSCTL_LOCK_VOLUME), win::TRUE);
    const win::HANDLE other = open();

    Request request = testUnitReadyRequest();
    expectFails(send(other, request), static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    expectFails(control(other, win::FSCTL_UNLOCK_VOLUME), sim::kErrorNotLocked);
    request = testUnitReadyRequest();
    EXPECT_EQ(send(locker, request), win::TRUE);

    volumes.CloseHandle(other);
    volumes.CloseHandle(locker);
}

TEST_F(SimVolumesTest, ClosingTheLockersHandleReleasesTheLock) {
    const win::HANDLE locker = open();
    ASSERT_EQ(control(locker, win::FSCTL_LOCK_VOLUME), win::TRUE);
    volumes.CloseHandle(locker);
    EXPECT_FALSE(volumes.isLocked('E'));
}

TEST_F(SimVolumesTest, BusyLockRefusesTheGivenNumberOfAttempts) {
    volumes.holdLockBusy('E', 2);
    const win::HANDLE handle = open();
    EXPECT_EQ(control(handle, win::FSCTL_LOCK_VOLUME), win::FALSE);
    clock.Sleep(1000);
    EXPECT_EQ(control(handle, win::FSCTL_LOCK_VOLUME), win::FALSE);
    clock.Sleep(1000);
    EXPECT_EQ(control(handle, win::FSCTL_LOCK_VOLUME), win::TRUE);
    EXPECT_EQ(control(handle, win::FSCTL_UNLOCK_VOLUME), win::TRUE);
    EXPECT_FALSE(volumes.isLocked('E'));

    const auto& controls = volumes.controls();
    ASSERT_EQ(controls.size(), 4u);
    EXPECT_EQ(controls[2].tick, 2000u);
    EXPECT_TRUE(controls[2].succeeded);
    EXPECT_EQ(controls[3].controlCode, win::FSCTL_UNLOCK_VOLUME);
    volumes.CloseHandle(handle);
}

TEST_F(SimVolumesTest, UnknownHandleOrControlCodeFails) {
    Request request = testUnitReadyRequest();
    expectFails(send(win::invalidHandleValue(), request),
                static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    const win::HANDLE handle = open();
    expectFails(control(handle, 0x00070000), sim::kErrorInvalidFunction);
    volumes.CloseHandle(handle);
}

}  // namespace

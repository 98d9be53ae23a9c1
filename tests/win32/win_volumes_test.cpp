#include "win32/win_volumes.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>

#include "device/device_link.h"
#include "win32/win_clock.h"
#include "win32/win_registry.h"
#include "win32/windows_api.h"
#include "windows_test_support.h"

namespace {

// The system volume: present on every machine and no reader. Wine opens it
// and answers the volume locks, but refuses SCSI pass-through on it. Only
// harmless commands are sent to it (INQUIRY, TEST UNIT READY), should these
// tests ever run on a machine whose C: is a real disk.
constexpr const char* kSystemRoot = "C:\\";
constexpr std::uint8_t kInquiryCdb[6] = {0x12, 0, 0, 0, device::kInquiryLength, 0};
constexpr std::uint32_t kEarlierSenseCode = 0x00062800;

class VolumeTest : public testing::Test {
  protected:
    VolumeTest() : link(volumes, registry, clock, device::WriteProtectRule::AnyBitProtects) {
        link.setOpenFailureAction([this] { ++openFailures; });
        link.lastSenseCode = kEarlierSenseCode;
    }

    win32::WinVolumes volumes;
    win32::WinRegistry registry;
    win32::WinClock clock;
    device::DeviceLink link;
    int openFailures = 0;
};

TEST_F(VolumeTest, ALetterWithoutVolumeFailsToOpenAndLeavesTheSenseCode) {
    const std::string root = std::string{win32_test::unusedDriveLetter()} + ":\\";
    const ::DWORD handlesBefore = win32_test::processHandleCount();

    std::array<std::uint8_t, device::kInquiryLength> reply{};
    EXPECT_EQ(link.inquiry(root, reply), 0);
    EXPECT_EQ(link.lastSenseCode, kEarlierSenseCode);
    EXPECT_EQ(openFailures, 1);

    EXPECT_EQ(link.lockVolume(root), 0);
    EXPECT_FALSE(link.holdsVolume());
    EXPECT_EQ(openFailures, 2);
    EXPECT_EQ(link.unlockVolume(), 0);
    EXPECT_EQ(win32_test::processHandleCount(), handlesBefore);
}

TEST_F(VolumeTest, OpeningALetterWithoutVolumeSaysTheFileIsNotFound) {
    const std::string path =
        device::devicePath(std::string{win32_test::unusedDriveLetter()} + ":\\");
    const win::HANDLE handle =
        volumes.CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0);
    EXPECT_EQ(handle, win::invalidHandleValue());
    EXPECT_EQ(volumes.GetLastError(), static_cast<win::DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(VolumeTest, PassThroughToADriveThatIsNoReaderIsUndeliveredAndClosesTheHandle) {
    const ::DWORD handlesBefore = win32_test::processHandleCount();

    std::array<std::uint8_t, device::kInquiryLength> reply{};
    EXPECT_EQ(link.inquiry(kSystemRoot, reply), 0);
    EXPECT_EQ(link.lastSenseCode, device::kCommandFailed);
    EXPECT_EQ(link.testUnitReady(kSystemRoot), 0);
    EXPECT_EQ(link.lastSenseCode, device::kCommandFailed);

    EXPECT_EQ(openFailures, 0);
    EXPECT_EQ(win32_test::processHandleCount(), handlesBefore);
}

TEST_F(VolumeTest, LockHoldsOneHandleAndUnlockReleasesIt) {
    const ::DWORD handlesBefore = win32_test::processHandleCount();

    EXPECT_NE(link.lockVolume(kSystemRoot), 0);
    EXPECT_TRUE(link.holdsVolume());
    EXPECT_EQ(win32_test::processHandleCount(), handlesBefore + 1);
    // A second lock without an unlock between gives up the first handle.
    EXPECT_NE(link.lockVolume(kSystemRoot), 0);
    EXPECT_EQ(win32_test::processHandleCount(), handlesBefore + 1);

    EXPECT_EQ(link.unlockVolume(), 1);
    EXPECT_FALSE(link.holdsVolume());
    EXPECT_EQ(win32_test::processHandleCount(), handlesBefore);
    EXPECT_EQ(link.unlockVolume(), 0);
    EXPECT_EQ(openFailures, 0);
}

TEST_F(VolumeTest, AHeldCommandThatIsRefusedReleasesTheVolume) {
    const ::DWORD handlesBefore = win32_test::processHandleCount();
    ASSERT_NE(link.lockVolume(kSystemRoot), 0);

    std::array<std::uint8_t, device::kInquiryLength> reply{};
    EXPECT_EQ(link.sendCommandHeld(kInquiryCdb, sizeof kInquiryCdb, reply.data(),
                                   win::SCSI_IOCTL_DATA_IN, device::kInquiryLength),
              0);
    EXPECT_EQ(link.lastSenseCode, device::kCommandFailed);
    EXPECT_FALSE(link.holdsVolume());
    EXPECT_EQ(win32_test::processHandleCount(), handlesBefore);
    // Nothing is held, so nothing is unlocked or closed a second time.
    EXPECT_EQ(link.unlockVolume(), 0);
}

}  // namespace

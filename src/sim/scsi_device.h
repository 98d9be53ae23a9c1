#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace sim {

// Operation codes the simulated devices know.
inline constexpr std::uint8_t kOpTestUnitReady = 0x00;
inline constexpr std::uint8_t kOpRequestSense = 0x03;
inline constexpr std::uint8_t kOpInquiry = 0x12;
inline constexpr std::uint8_t kOpModeSense10 = 0x5A;
inline constexpr std::uint8_t kOpVendor = 0xFA;

// SCSI status bytes.
inline constexpr std::uint8_t kStatusGood = 0x00;
inline constexpr std::uint8_t kStatusCheckCondition = 0x02;
inline constexpr std::uint8_t kStatusBusy = 0x08;

// Sense keys (low four bits of sense byte 2) and the flags above them.
inline constexpr std::uint8_t kSenseNoSense = 0x0;
inline constexpr std::uint8_t kSenseNotReady = 0x2;
inline constexpr std::uint8_t kSenseMediumError = 0x3;
inline constexpr std::uint8_t kSenseIllegalRequest = 0x5;
inline constexpr std::uint8_t kSenseUnitAttention = 0x6;
inline constexpr std::uint8_t kSenseDataProtect = 0x7;
inline constexpr std::uint8_t kSenseFlagFilemark = 0x80;
inline constexpr std::uint8_t kSenseFlagEom = 0x40;
inline constexpr std::uint8_t kSenseFlagIli = 0x20;

// Additional sense codes and qualifiers the simulated devices report.
inline constexpr std::uint8_t kAscNone = 0x00;
inline constexpr std::uint8_t kAscNotReady = 0x04;
inline constexpr std::uint8_t kAscqFormatInProgress = 0x04;
inline constexpr std::uint8_t kAscWriteError = 0x0C;
inline constexpr std::uint8_t kAscInvalidOperationCode = 0x20;
inline constexpr std::uint8_t kAscInvalidFieldInCdb = 0x24;
inline constexpr std::uint8_t kAscWriteProtected = 0x27;
inline constexpr std::uint8_t kAscMediumChanged = 0x28;
inline constexpr std::uint8_t kAscMediumNotPresent = 0x3A;

// Fixed-format sense data.
inline constexpr std::size_t kFixedSenseLength = 18;
inline constexpr std::uint8_t kFixedSenseCurrent = 0x70;
inline constexpr std::size_t kSenseKeyByte = 2;
inline constexpr std::size_t kAdditionalLengthByte = 7;
inline constexpr std::size_t kAscByte = 12;
inline constexpr std::size_t kAscqByte = 13;
inline constexpr std::size_t kSenseKeySpecificByte = 15;
inline constexpr std::size_t kProgressHighByte = 16;
inline constexpr std::size_t kProgressLowByte = 17;
inline constexpr std::uint8_t kSenseKeySpecificValid = 0x80;

// One command as it reaches a device: the CDB, the direction the host set up
// (win::SCSI_IOCTL_DATA_*) and the host's data buffer, used in place.
struct ScsiCommand {
    std::span<const std::uint8_t> cdb;
    std::uint8_t direction = 0;
    std::span<std::uint8_t> data;
};

// A device's answer: its status, the sense data it returns with it (empty
// when it returns none) and how many data bytes it moved.
struct ScsiReply {
    std::uint8_t status = kStatusGood;
    std::vector<std::uint8_t> sense;
    std::uint32_t transferred = 0;
};

// Fixed-format sense with the given byte 2 (sense key and flags), ASC, ASCQ.
std::vector<std::uint8_t> fixedSense(std::uint8_t byte2, std::uint8_t asc, std::uint8_t ascq);
ScsiReply goodReply(std::uint32_t transferred = 0);
ScsiReply checkCondition(std::uint8_t byte2, std::uint8_t asc, std::uint8_t ascq);

// What a simulated volume talks to when it passes a command through.
class ScsiDevice {
  public:
    virtual ~ScsiDevice() = default;
    virtual ScsiReply execute(const ScsiCommand& command) = 0;
};

}  // namespace sim

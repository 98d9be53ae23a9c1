#include "sim/scsi_device.h"

namespace sim {

namespace {

// Bytes that follow the additional-length byte in the 18-byte form.
constexpr std::uint8_t kFixedSenseAdditionalLength =
    static_cast<std::uint8_t>(kFixedSenseLength - kAdditionalLengthByte - 1);

}  // namespace

std::vector<std::uint8_t> fixedSense(std::uint8_t byte2, std::uint8_t asc, std::uint8_t ascq) {
    std::vector<std::uint8_t> sense(kFixedSenseLength, 0);
    sense[0] = kFixedSenseCurrent;
    sense[kSenseKeyByte] = byte2;
    sense[kAdditionalLengthByte] = kFixedSenseAdditionalLength;
    sense[kAscByte] = asc;
    sense[kAscqByte] = ascq;
    return sense;
}

ScsiReply goodReply(std::uint32_t transferred) {
    ScsiReply reply;
    reply.transferred = transferred;
    return reply;
}

ScsiReply checkCondition(std::uint8_t byte2, std::uint8_t asc, std::uint8_t ascq) {
    ScsiReply reply;
    reply.status = kStatusCheckCondition;
    reply.sense = fixedSense(byte2, asc, ascq);
    return reply;
}

}  // namespace sim

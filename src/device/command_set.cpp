#include <array>
#include <cstdint>

#include "device/device_link.h"

namespace device {

namespace {

// The simulated reader decodes these bytes from its own copy, written apart
// from this one on purpose: each is the other's check, so keep them unshared.
constexpr std::uint8_t kOpTestUnitReady = 0x00;
constexpr std::uint8_t kOpRequestSense = 0x03;
constexpr std::uint8_t kOpInquiry = 0x12;
constexpr std::uint8_t kOpModeSense10 = 0x5A;
constexpr std::uint8_t kOpVendor = 0xFA;

constexpr std::uint8_t kCdb6Length = 6;
constexpr std::uint8_t kCdb10Length = 10;
constexpr std::uint8_t kCdb12Length = 12;

constexpr std::size_t kCdb6AllocationLengthByte = 4;

constexpr std::uint8_t kModeSenseDisableBlockDescriptors = 0x08;
constexpr std::size_t kModeSenseDbdByte = 1;
constexpr std::size_t kModeSensePageByte = 2;
constexpr std::size_t kModeSenseLengthHighByte = 7;
constexpr std::size_t kModeSenseLengthLowByte = 8;

// The reader takes the vendor commands only with these bytes behind the
// operation code and its zero byte.
constexpr std::size_t kVendorSignatureStart = 2;
constexpr std::array<std::uint8_t, 5> kBlockWriteSignature = {0xC0, 0x55, 0x44, 0x4D, 0x53};
constexpr std::array<std::uint8_t, 6> kFormatSignature = {0xA0, 0x4D, 0x47, 0x66, 0x6D, 0x74};
constexpr std::size_t kBlockNumberHighByte = 7;
constexpr std::size_t kBlockNumberLowByte = 8;

// Byte 3 of the mode parameter header is the device-specific parameter.
constexpr std::size_t kDeviceSpecificParameterByte = 3;
constexpr std::uint8_t kWriteProtectBit = 0x80;

constexpr unsigned kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;

constexpr std::uint8_t highByte(std::uint16_t value) {
    return static_cast<std::uint8_t>((value >> kByteBits) & kByteMask);
}
constexpr std::uint8_t lowByte(std::uint16_t value) {
    return static_cast<std::uint8_t>(value & kByteMask);
}

template <std::size_t N>
std::array<std::uint8_t, kCdb12Length> vendorCdb(const std::array<std::uint8_t, N>& signature) {
    std::array<std::uint8_t, kCdb12Length> cdb{};
    cdb[0] = kOpVendor;
    for (std::size_t i = 0; i < N; ++i) cdb[kVendorSignatureStart + i] = signature[i];
    return cdb;
}

}  // namespace

int DeviceLink::testUnitReady(std::string_view driveRoot) {
    const std::array<std::uint8_t, kCdb6Length> cdb{kOpTestUnitReady};
    return sendCommandOnce(cdb.data(), kCdb6Length, driveRoot, nullptr,
                           win::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
}

int DeviceLink::inquiry(std::string_view driveRoot,
                        std::array<std::uint8_t, kInquiryLength>& buffer) {
    std::array<std::uint8_t, kCdb6Length> cdb{kOpInquiry};
    cdb[kCdb6AllocationLengthByte] = static_cast<std::uint8_t>(kInquiryLength);
    return sendCommandOnce(cdb.data(), kCdb6Length, driveRoot, buffer.data(),
                           win::SCSI_IOCTL_DATA_IN, static_cast<std::uint32_t>(buffer.size()));
}

int DeviceLink::requestSense(std::string_view driveRoot,
                             std::array<std::uint8_t, kRequestSenseLength>& buffer) {
    std::array<std::uint8_t, kCdb6Length> cdb{kOpRequestSense};
    cdb[kCdb6AllocationLengthByte] = static_cast<std::uint8_t>(kRequestSenseLength);
    return sendCommandOnce(cdb.data(), kCdb6Length, driveRoot, buffer.data(),
                           win::SCSI_IOCTL_DATA_IN, static_cast<std::uint32_t>(buffer.size()));
}

int DeviceLink::modeSense10(std::uint8_t pageCode, std::string_view driveRoot, std::uint8_t* buffer,
                            std::uint16_t length) {
    std::array<std::uint8_t, kCdb10Length> cdb{kOpModeSense10};
    cdb[kModeSenseDbdByte] = kModeSenseDisableBlockDescriptors;
    cdb[kModeSensePageByte] = pageCode;
    cdb[kModeSenseLengthHighByte] = highByte(length);
    cdb[kModeSenseLengthLowByte] = lowByte(length);
    return sendCommandOnce(cdb.data(), kCdb10Length, driveRoot, buffer, win::SCSI_IOCTL_DATA_IN,
                           length);
}

void DeviceLink::checkWriteProtect(std::string_view driveRoot) {
    std::array<std::uint8_t, kModeHeaderLength> header{};
    const int sent = modeSense10(kAllPagesCurrent, driveRoot, header.data(),
                                 static_cast<std::uint16_t>(header.size()));
    const std::uint8_t parameter = header[kDeviceSpecificParameterByte];
    switch (writeProtectRule_) {
        case WriteProtectRule::AnyBitProtects:
            // The result is not looked at: a failed command leaves the header
            // zero, which reads as writable.
            mediaWritable = parameter == 0 ? 1 : 0;
            break;
        case WriteProtectRule::WpBitOnly:
            mediaWritable = (sent == 1 && (parameter & kWriteProtectBit) != 0) ? 0 : 1;
            break;
    }
}

int DeviceLink::writeFirmwareBlock(std::array<std::uint8_t, kFirmwareBlockSize>& buffer,
                                   std::uint16_t blockNumber) {
    std::array<std::uint8_t, kCdb12Length> cdb = vendorCdb(kBlockWriteSignature);
    cdb[kBlockNumberHighByte] = highByte(blockNumber);
    cdb[kBlockNumberLowByte] = lowByte(blockNumber);
    return sendCommandHeld(cdb.data(), kCdb12Length, buffer.data(), win::SCSI_IOCTL_DATA_OUT,
                           static_cast<std::uint32_t>(buffer.size()));
}

int DeviceLink::formatMedia(std::string_view driveRoot) {
    const std::array<std::uint8_t, kCdb12Length> cdb = vendorCdb(kFormatSignature);
    return sendCommandOnce(cdb.data(), kCdb12Length, driveRoot, nullptr,
                           win::SCSI_IOCTL_DATA_UNSPECIFIED, 0);
}

}  // namespace device

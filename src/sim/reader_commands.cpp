#include "sim/reader_commands.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "sim/scsi_device.h"

namespace sim {

namespace {

constexpr std::size_t kCdb6Length = 6;
constexpr std::size_t kCdb10Length = 10;
constexpr std::size_t kCdb12Length = 12;
constexpr unsigned kByteBits = 8;

// The vendor commands: FA 00, then the signature, then parameters, then zeros.
constexpr std::size_t kVendorZeroByte = 1;
constexpr std::size_t kVendorSignatureStart = 2;
constexpr std::array<std::uint8_t, 5> kBlockWriteSignature = {0xC0, 0x55, 0x44, 0x4D, 0x53};
constexpr std::array<std::uint8_t, 6> kFormatSignature = {0xA0, 0x4D, 0x47, 0x66, 0x6D, 0x74};
constexpr std::size_t kBlockNumberHighByte = 7;
constexpr std::size_t kBlockNumberLowByte = 8;
constexpr std::size_t kBlockWriteReservedStart = 9;
constexpr std::size_t kFormatReservedStart = 8;

template <std::size_t N>
bool signatureIs(std::span<const std::uint8_t> cdb, const std::array<std::uint8_t, N>& expected) {
    return std::equal(expected.begin(), expected.end(),
                      cdb.begin() + static_cast<std::ptrdiff_t>(kVendorSignatureStart));
}

bool zeroFrom(std::span<const std::uint8_t> cdb, std::size_t start) {
    return std::all_of(cdb.begin() + static_cast<std::ptrdiff_t>(start), cdb.end(),
                       [](std::uint8_t byte) { return byte == 0; });
}

DecodedCommand vendorCommand(std::span<const std::uint8_t> cdb) {
    DecodedCommand decoded{ReaderCommand::VendorOther, kOpVendor, std::nullopt};
    if (cdb.size() != kCdb12Length || cdb[kVendorZeroByte] != 0) return decoded;
    if (signatureIs(cdb, kBlockWriteSignature) && zeroFrom(cdb, kBlockWriteReservedStart)) {
        decoded.command = ReaderCommand::BlockWrite;
        decoded.block = static_cast<std::uint16_t>((cdb[kBlockNumberHighByte] << kByteBits) |
                                                   cdb[kBlockNumberLowByte]);
    } else if (signatureIs(cdb, kFormatSignature) && zeroFrom(cdb, kFormatReservedStart)) {
        decoded.command = ReaderCommand::Format;
    }
    return decoded;
}

}  // namespace

DecodedCommand decodeCommand(std::span<const std::uint8_t> cdb) {
    if (cdb.empty()) return {};
    const std::uint8_t operationCode = cdb[0];
    switch (operationCode) {
        case kOpTestUnitReady:
            return {ReaderCommand::TestUnitReady, operationCode, std::nullopt};
        case kOpRequestSense:
            return {ReaderCommand::RequestSense, operationCode, std::nullopt};
        case kOpInquiry:
            return {ReaderCommand::Inquiry, operationCode, std::nullopt};
        case kOpModeSense10:
            return {ReaderCommand::ModeSense10, operationCode, std::nullopt};
        case kOpVendor:
            return vendorCommand(cdb);
        default:
            return {ReaderCommand::Unknown, operationCode, std::nullopt};
    }
}

std::size_t cdbLengthFor(std::uint8_t operationCode) {
    if (operationCode == kOpModeSense10) return kCdb10Length;
    if (operationCode == kOpVendor) return kCdb12Length;
    return kCdb6Length;
}

}  // namespace sim

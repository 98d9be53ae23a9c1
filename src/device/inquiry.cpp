#include <cctype>
#include <cstddef>
#include <string>
#include <utility>

#include "device/device_link.h"

namespace device {

namespace {

// Field positions of the standard INQUIRY data.
constexpr std::size_t kVendorStart = 8;
constexpr std::size_t kVendorLength = 8;
constexpr std::size_t kProductStart = 16;
constexpr std::size_t kProductLength = 16;
constexpr std::size_t kRevisionStart = 32;
constexpr std::size_t kRevisionLength = 4;

// One character per byte up to the field's first zero byte (a failed
// INQUIRY leaves the buffer zero, and the field then reads as empty), blanks
// the device padded with taken off the end.
std::string textField(const std::array<std::uint8_t, kInquiryLength>& reply, std::size_t start,
                      std::size_t length) {
    std::string text;
    for (std::size_t index = start; index < start + length && reply[index] != 0; ++index) {
        text += static_cast<char>(reply[index]);
    }
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
        text.pop_back();
    }
    return text;
}

}  // namespace

InquiryStrings parseInquiryReply(const std::array<std::uint8_t, kInquiryLength>& reply) {
    return InquiryStrings{textField(reply, kVendorStart, kVendorLength),
                          textField(reply, kProductStart, kProductLength),
                          textField(reply, kRevisionStart, kRevisionLength)};
}

void DeviceLink::storeInquiry(const std::array<std::uint8_t, kInquiryLength>& reply) {
    InquiryStrings strings = parseInquiryReply(reply);
    inquiryVendor = std::move(strings.vendor);
    inquiryProduct = std::move(strings.product);
    inquiryRevision = std::move(strings.revision);
}

}  // namespace device

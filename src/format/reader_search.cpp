#include "format/reader_search.h"

#include <array>
#include <cstdint>

namespace format {

device::InquiryStrings inquireDrive(device::DeviceLink& link, const std::string& root) {
    std::array<std::uint8_t, device::kInquiryLength> reply{};
    link.inquiry(root, reply);
    return device::parseInquiryReply(reply);
}

}  // namespace format

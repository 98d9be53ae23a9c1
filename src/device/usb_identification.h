#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "device/device_link.h"
#include "platform/registry.h"

namespace device {

// The three identifiers cut out of the USB parent's hardware id.
struct UsbIdentity {
    std::string vendorId;
    std::string productId;
    std::string revision;
};

// Follows the registry from a drive letter to the USB device behind it. No
// value when the walk stopped early (a key that cannot be opened or closed,
// an unreadable mount record): the caller then keeps what it had. A walk that
// ran to its end without a match gives three empty strings.
std::optional<UsbIdentity> walkToUsbParent(platform::Registry& registry, std::string_view driveRoot,
                                           const InquiryStrings& inquiry);

// The hardware id "USB\Vid_1234&Pid_5678&Rev_0100" cut into 1234, 5678 and
// 0100; pieces that are too short give what is there.
UsbIdentity cutHardwareId(std::string_view hardwareId);

}  // namespace device

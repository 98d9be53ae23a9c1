#pragma once

#include <string>

#include "device/device_link.h"

namespace format {

// The INQUIRY strings of the drive. A failed inquiry leaves its buffer
// zeroed, which gives three empty strings.
device::InquiryStrings inquireDrive(device::DeviceLink& link, const std::string& root);

}  // namespace format

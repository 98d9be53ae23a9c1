#pragma once

#include <functional>
#include <string>

#include "device/device_link.h"
#include "platform/system.h"

namespace format {

inline constexpr int kDriveLetterCount = 26;

// Calls `visit` with the root ("E:\") of every removable drive, in
// drive-letter order. Other drive types are never visited, so they are never
// sent a command.
void forEachRemovableDrive(platform::System& system,
                           const std::function<void(const std::string& root)>& visit);

// The INQUIRY strings of the drive. A failed inquiry leaves its buffer
// zeroed, which gives three empty strings.
device::InquiryStrings inquireDrive(device::DeviceLink& link, const std::string& root);

}  // namespace format

#pragma once

#include <functional>
#include <string>

#include "platform/system.h"

namespace shell {

inline constexpr int kDriveLetterCount = 26;

// The root ("E:\") of drive number `number`, 0 for A:.
std::string driveRoot(int number);

// Calls `visit` with the number and root of every removable drive, in
// drive-letter order. Other drive types are never visited, so they are never
// sent a command.
void forEachRemovableDrive(platform::System& system,
                           const std::function<void(int number, const std::string& root)>& visit);

}  // namespace shell

#pragma once

#include "platform/system.h"

namespace shell {

// 1 when the system is of the NT family.
int isWindowsNt(platform::System& system);

// 1 when the test was made (the result then tells whether the process token
// holds the builtin group `rid` enabled), 0 when a step failed. A group
// present only for deny does not count.
int isBuiltinGroupMember(platform::System& system, win::DWORD rid, int* isMember);

int isAdministrator(platform::System& system, int* isMember);

}  // namespace shell

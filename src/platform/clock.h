#pragma once

#include "platform/win_api.h"

namespace platform {

// Time, so that every wait of the programs (lock retries, format polls, the
// pause before the format dialog) costs no real time on the simulated machine.
class Clock {
  public:
    virtual ~Clock() = default;

    virtual void Sleep(win::DWORD milliseconds) = 0;
    // Milliseconds since the machine started; wraps as on the platform.
    virtual win::DWORD GetTickCount() = 0;
};

}  // namespace platform

#pragma once

#include "platform/clock.h"

namespace win32 {

// The running machine's own time: a wait really waits.
class WinClock final : public platform::Clock {
  public:
    void Sleep(win::DWORD milliseconds) override;
    win::DWORD GetTickCount() override;
};

}  // namespace win32

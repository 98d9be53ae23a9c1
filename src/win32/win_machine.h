#pragma once

#include "platform/services.h"
#include "win32/win_clock.h"
#include "win32/win_registry.h"
#include "win32/win_system.h"
#include "win32/win_ui.h"
#include "win32/win_volumes.h"

namespace win32 {

// The Windows machine a program runs on: one real backend of each seam, and
// the services over them that the entry point hands to the application.
class WinMachine {
  public:
    WinMachine() = default;
    WinMachine(const WinMachine&) = delete;
    WinMachine& operator=(const WinMachine&) = delete;

    const platform::Services& services() { return services_; }

  private:
    WinUi ui_;
    WinSystem system_;
    WinRegistry registry_;
    WinVolumes volumes_;
    WinClock clock_;
    platform::Services services_{ui_, system_, registry_, volumes_, clock_};
};

}  // namespace win32

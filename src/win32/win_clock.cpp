#include "win32/win_clock.h"

#include "win32/windows_api.h"

namespace win32 {

void WinClock::Sleep(win::DWORD milliseconds) {
    ::Sleep(milliseconds);
}

win::DWORD WinClock::GetTickCount() {
    return toPortable(::GetTickCount());
}

}  // namespace win32

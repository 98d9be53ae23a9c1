// Velcrest.exe: the update program on the Windows machine it runs on.
// clang-format off
#include "platform/services.h"
#include "update/update_app.h"
#include "win32/win_clock.h"
#include "win32/win_registry.h"
#include "win32/win_system.h"
#include "win32/win_ui.h"
#include "win32/win_volumes.h"

// Last: its macros would rewrite the win:: names of the headers above.
#include <windows.h>
// clang-format on

// The program reads no command line; everything it needs it finds on the
// machine or asks the user in its dialogs.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    win32::WinUi ui;
    win32::WinSystem system;
    win32::WinRegistry registry;
    win32::WinVolumes volumes;
    win32::WinClock clock;
    const platform::Services services{ui, system, registry, volumes, clock};

    update::UpdateApp app(services);
    app.InitInstance();
    return app.ExitInstance();
}

// Velcrest.exe: the update program on the Windows machine it runs on.
// clang-format off
#include "update/update_app.h"
#include "win32/win_machine.h"

// Last: the platform's macros would rewrite the win:: names of the headers
// above.
#include "win32/windows_api.h"
// clang-format on

// The program reads no command line; everything it needs it finds on the
// machine or asks the user in its dialogs.
int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    win32::WinMachine machine;
    update::UpdateApp app(machine.services());
    app.InitInstance();
    return app.ExitInstance();
}

// Velcrest.exe of the road build: the update program on the real backend
// with the road's virtual reader. Never shipped.
// clang-format off
#include "road_program.h"
#include "update/update_app.h"

// Last: its macros would rewrite the win:: names of the headers above.
#include "win32/windows_api.h"
// clang-format on

int WINAPI WinMain(HINSTANCE /*instance*/, HINSTANCE /*previous*/, LPSTR /*commandLine*/,
                   int /*show*/) {
    return road::runOnTheRoad<update::UpdateApp>();
}

// Stands in for wine's own wineboot.exe in the road's prefix, where the
// power-off test asks for it: wine answers ExitWindowsEx by starting
// wineboot, which with EWX_FORCE ends every program of the session, the test
// driver too. This one only writes down the command line it was started
// with, into the file VELCREST_ROAD_POWER_OFF names, so the test sees what
// the program asked for and goes on.
#include <cstdio>
#include <cstdlib>

// clang-format off
#include "win32/windows_api.h"
// clang-format on

int main() {
    const char* record = std::getenv("VELCREST_ROAD_POWER_OFF");
    if (record == nullptr) return 0;
    std::FILE* file = std::fopen(record, "a");
    if (file == nullptr) return 1;
    std::fprintf(file, "%s\n", ::GetCommandLineA());
    std::fclose(file);
    return 0;
}

// A program for the backend's tests to start as a process of its own: what
// the system reports depends on how the process was started (the version
// wine pretends to be for this program, the locale of its environment), and
// a named mutex is only taken from another process.
//
//   win32_probe version      the version record and the NT-family test
//   win32_probe mutex NAME   GetLastError after creating the mutex NAME
//   win32_probe locale       the system locale's abbreviation and the
//                            language libraries the programs would load
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "shell/administrator.h"
#include "shell/language_library.h"
#include "win32/win_system.h"

namespace {

constexpr int kUsage = 2;
constexpr int kLocaleNameSize = 260;

int reportVersion(win32::WinSystem& system) {
    win::OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    const win::BOOL read = system.GetVersionExA(&version);
    std::printf("read=%d major=%u minor=%u build=%u platform=%u nt=%d csd=%s\n", read,
                version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber,
                version.dwPlatformId, shell::isWindowsNt(system), version.szCSDVersion);
    return 0;
}

int reportMutex(win32::WinSystem& system, const char* name) {
    const win::HANDLE mutex = system.CreateMutexA(name);
    std::printf("created=%d error=%u\n", mutex != nullptr ? 1 : 0, system.GetLastError());
    return 0;
}

int reportLocale(win32::WinSystem& system) {
    char name[kLocaleNameSize] = {};
    system.GetLocaleInfoA(win::LOCALE_SYSTEM_DEFAULT, win::LOCALE_SABBREVLANGNAME, name,
                          kLocaleNameSize);
    const std::optional<std::string_view> code = shell::languageCode(name);
    const std::string update =
        code ? shell::languageLibraryName(shell::kUpdateLibraryPrefix, *code) : "none";
    const std::string format =
        code ? shell::languageLibraryName(shell::kFormatLibraryPrefix, *code) : "none";
    std::printf("abbreviation=%s update=%s format=%s\n", name, update.c_str(), format.c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    win32::WinSystem system;
    const std::string_view mode = argc > 1 ? argv[1] : "";
    if (mode == "version" && argc == 2) return reportVersion(system);
    if (mode == "mutex" && argc == 3) return reportMutex(system, argv[2]);
    if (mode == "locale" && argc == 2) return reportLocale(system);
    std::fprintf(stderr, "usage: win32_probe version | mutex NAME | locale\n");
    return kUsage;
}

#include "shell/removable_drives.h"

namespace shell {

namespace {
constexpr char kFirstDriveLetter = 'A';
constexpr const char* kRootSuffix = ":\\";
}  // namespace

std::string driveRoot(int number) {
    std::string root(1, static_cast<char>(kFirstDriveLetter + number));
    root += kRootSuffix;
    return root;
}

void forEachRemovableDrive(platform::System& system,
                           const std::function<void(int number, const std::string& root)>& visit) {
    const win::DWORD mask = system.GetLogicalDrives();
    for (int number = 0; number < kDriveLetterCount; ++number) {
        if ((mask & (win::DWORD{1} << number)) == 0) continue;
        const std::string root = driveRoot(number);
        if (system.GetDriveTypeA(root.c_str()) != win::DRIVE_REMOVABLE) continue;
        visit(number, root);
    }
}

}  // namespace shell

#include <algorithm>
#include <cstring>
#include <vector>

#include "update/update_dialog.h"
#include "update/update_templates.h"

namespace update {

namespace {

constexpr win::DWORD kShutdownTokenAccess = win::TOKEN_ADJUST_PRIVILEGES | win::TOKEN_QUERY;
constexpr win::UINT kSwitchOffNow = win::EWX_POWEROFF | win::EWX_FORCE;
constexpr win::DWORD kNoShutdownReason = 0;
constexpr win::DWORD kOnePrivilege = 1;
constexpr auto kPrivilegesLength = static_cast<win::DWORD>(sizeof(win::TOKEN_PRIVILEGES));
static_assert(kPrivilegesLength == 16);
constexpr win::DWORD kNoOptions = 0;
constexpr char kQuote = '"';
constexpr char kBlank = ' ';
// The current directory can change between asking for its size and reading
// it; a few tries settle that.
constexpr int kCurrentDirectoryTries = 3;

// The current directory at whatever length it has; empty when it cannot be
// read.
std::string currentDirectory(platform::System& system) {
    std::vector<char> buffer;
    for (int attempt = 0; attempt < kCurrentDirectoryTries; ++attempt) {
        const win::DWORD needed = system.GetCurrentDirectoryA(0, nullptr);
        if (needed == 0) return {};
        buffer.assign(needed, '\0');
        const win::DWORD written = system.GetCurrentDirectoryA(needed, buffer.data());
        if (written == 0) return {};
        if (written < needed) return std::string(buffer.data(), written);
    }
    return {};
}

// A string value staged as the program stages it: a zero-filled buffer of the
// given size holding the text, cut so that the terminator always fits.
std::vector<win::BYTE> stagedValue(const std::string& text, std::size_t bufferSize) {
    std::vector<win::BYTE> staged(bufferSize, 0);
    const std::size_t length = std::min(text.size(), bufferSize - 1);
    std::memcpy(staged.data(), text.data(), length);
    staged.resize(length + 1);
    return staged;
}

win::LONG setStringValue(platform::Registry& registry, win::HKEY key, const char* name,
                         const std::vector<win::BYTE>& data) {
    return registry.RegSetValueExA(key, name, win::REG_SZ, data.data(),
                                   static_cast<win::DWORD>(data.size()));
}

}  // namespace

std::string UpdateDialog::runOnceCommand(const std::string& directory) {
    std::string command = directory + kFormatProgramFile;
    // Unquoted, Windows would try "C:\dir" with the rest as arguments when the
    // path holds a blank, and could start another program.
    if (command.find(kBlank) != std::string::npos) command = kQuote + command + kQuote;
    return command;
}

void UpdateDialog::writeRunOnceEntry() {
    const std::string command = runOnceCommand(currentDirectory(system_));
    win::HKEY key = nullptr;
    if (registry_.RegOpenKeyExA(win::hkeyLocalMachine(), kRunOnceKey, kNoOptions,
                                win::KEY_SET_VALUE, &key) != win::ERROR_SUCCESS) {
        return;
    }
    std::vector<win::BYTE> data(command.begin(), command.end());
    data.push_back(0);
    setStringValue(registry_, key, kRunOnceValue, data);
    registry_.RegCloseKey(key);
}

void UpdateDialog::writeHandOffMarker() {
    const std::vector<win::BYTE> revision = stagedValue(handoffRevision, kMarkerRevisionBufferSize);
    const std::vector<win::BYTE> vendor =
        stagedValue(deviceLink.inquiryVendor, kMarkerVendorBufferSize);
    const std::vector<win::BYTE> product =
        stagedValue(matchedProductName, kMarkerProductBufferSize);
    win::HKEY key = nullptr;
    win::DWORD disposition = 0;
    if (registry_.RegCreateKeyExA(win::hkeyLocalMachine(), kMarkerKey, win::REG_OPTION_NON_VOLATILE,
                                  win::KEY_SET_VALUE, &key, &disposition) != win::ERROR_SUCCESS) {
        return;
    }
    setStringValue(registry_, key, kMarkerRevisionValue, revision);
    setStringValue(registry_, key, kMarkerVendorValue, vendor);
    setStringValue(registry_, key, kMarkerProductValue, product);
    registry_.RegCloseKey(key);
}

// The registry results are not judged: whatever happened, the user is
// offered the power-off, and the format program copes with a missing marker.
void UpdateDialog::completeHandOff() {
    updateComplete_.doModal();
    writeRunOnceEntry();
    writeHandOffMarker();
    if (powerOffPrompt_.doModal() == win::IDOK) powerOff();
    endDialog(win::IDOK);
}

// Without the privilege ExitWindowsEx fails quietly and the program simply
// ends; the user switches off by hand.
void UpdateDialog::powerOff() {
    win::HANDLE token = nullptr;
    const bool tokenOpen = system_.OpenProcessToken(kShutdownTokenAccess, &token) != win::FALSE;
    win::TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = kOnePrivilege;
    privileges.Privileges[0].Attributes = win::SE_PRIVILEGE_ENABLED;
    const bool found = system_.LookupPrivilegeValueA(win::SE_SHUTDOWN_NAME,
                                                     &privileges.Privileges[0].Luid) != win::FALSE;
    if (tokenOpen && found) {
        system_.AdjustTokenPrivileges(token, win::FALSE, &privileges, kPrivilegesLength);
    }
    system_.ExitWindowsEx(kSwitchOffNow, kNoShutdownReason);
    if (tokenOpen) system_.CloseHandle(token);
}

}  // namespace update

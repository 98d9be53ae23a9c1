#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "platform/system.h"

namespace testsupport {

// Stands between a program and any System, passes every call on unchanged and
// writes it down as text with the arguments that matter
// ("OpenProcessToken(40)", "ExitWindowsEx(12,0)", "CreateFileA(.\firmtable.txt)"),
// for the tests that must see which calls were made and in what order.
class RecordingSystem final : public platform::System {
  public:
    explicit RecordingSystem(platform::System& target) : target_(target) {}

    const std::vector<std::string>& calls() const { return calls_; }
    // The calls of the given names, in order, with their arguments.
    std::vector<std::string> callsNamed(std::initializer_list<std::string_view> names) const;
    // The arguments of every call of one name ("KELDRA_ENG.dll" of
    // "LoadLibraryA(KELDRA_ENG.dll)").
    std::vector<std::string> argumentsOf(std::string_view name) const;
    int count(std::string_view name) const;

    win::BOOL GetVersionExA(win::OSVERSIONINFOA* info) override;
    win::BOOL OpenProcessToken(win::DWORD desiredAccess, win::HANDLE* token) override;
    win::BOOL GetTokenInformation(win::HANDLE token, int informationClass, void* information,
                                  win::DWORD informationLength, win::DWORD* returnLength) override;
    win::BOOL AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                       win::BYTE subAuthorityCount, win::DWORD subAuthority0,
                                       win::DWORD subAuthority1, win::PSID* sid) override;
    win::BOOL EqualSid(win::PSID first, win::PSID second) override;
    void FreeSid(win::PSID sid) override;
    win::BOOL LookupPrivilegeValueA(const char* name, win::LUID* luid) override;
    win::BOOL AdjustTokenPrivileges(win::HANDLE token, win::BOOL disableAll,
                                    win::TOKEN_PRIVILEGES* newState,
                                    win::DWORD bufferLength) override;
    win::BOOL ExitWindowsEx(win::UINT flags, win::DWORD reason) override;
    int GetLocaleInfoA(win::LCID locale, win::LCTYPE type, char* data, int dataLength) override;
    win::HANDLE CreateMutexA(const char* name) override;
    win::BOOL CloseHandle(win::HANDLE handle) override;
    win::DWORD GetLastError() override;
    win::DWORD GetLogicalDrives() override;
    win::UINT GetDriveTypeA(const char* rootPath) override;
    win::HANDLE FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) override;
    win::BOOL FindClose(win::HANDLE search) override;
    win::DWORD GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) override;
    win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                            win::DWORD creationDisposition, win::DWORD flagsAndAttributes) override;
    win::BOOL ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                       win::DWORD* bytesRead) override;
    win::DWORD GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) override;
    win::HMODULE LoadLibraryA(const char* fileName) override;
    win::BOOL FreeLibrary(win::HMODULE module) override;

  private:
    void record(std::string_view name, std::initializer_list<std::string> arguments = {});

    platform::System& target_;
    std::vector<std::string> calls_;
};

}  // namespace testsupport

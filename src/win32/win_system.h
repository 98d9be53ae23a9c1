#pragma once

#include "platform/system.h"

namespace win32 {

// The running Windows beyond the registry, the volumes and the clock, call
// for call.
class WinSystem final : public platform::System {
  public:
    win::BOOL GetVersionExA(win::OSVERSIONINFOA* version) override;
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
    // Takes the current directory out of the library search path first (see
    // removeCurrentDirectoryFromLibrarySearch).
    win::HMODULE LoadLibraryA(const char* fileName) override;
    win::BOOL FreeLibrary(win::HMODULE module) override;
};

// A library loaded by bare file name is searched for in the program's folder
// first, but also in the current directory, where anyone who can write a
// file next to a document the user opens from could plant one. This takes the
// current directory out of the search for the rest of the process; the
// program's folder and the system folders stay. False where the platform
// cannot do it (Windows XP before Service Pack 1).
bool removeCurrentDirectoryFromLibrarySearch();

}  // namespace win32

#pragma once

#include "platform/win_ui_api.h"

namespace platform {

// The operating system beyond the registry, the volumes and the clock: the
// version, the process token, power, the locale, named mutexes, drives and
// files, the current directory and library loading. One call per platform
// call; arguments the programs always pass as null are left out (the current
// process is implied where the platform takes its handle).
class System {
  public:
    virtual ~System() = default;

    virtual win::BOOL GetVersionExA(win::OSVERSIONINFOA* version) = 0;

    // The current process's token.
    virtual win::BOOL OpenProcessToken(win::DWORD desiredAccess, win::HANDLE* token) = 0;
    virtual win::BOOL GetTokenInformation(win::HANDLE token, int informationClass,
                                          void* information, win::DWORD informationLength,
                                          win::DWORD* returnLength) = 0;
    virtual win::BOOL AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                               win::BYTE subAuthorityCount,
                                               win::DWORD subAuthority0, win::DWORD subAuthority1,
                                               win::PSID* sid) = 0;
    virtual win::BOOL EqualSid(win::PSID first, win::PSID second) = 0;
    virtual void FreeSid(win::PSID sid) = 0;
    // On the local system.
    virtual win::BOOL LookupPrivilegeValueA(const char* name, win::LUID* luid) = 0;
    virtual win::BOOL AdjustTokenPrivileges(win::HANDLE token, win::BOOL disableAll,
                                            win::TOKEN_PRIVILEGES* newState,
                                            win::DWORD bufferLength) = 0;
    virtual win::BOOL ExitWindowsEx(win::UINT flags, win::DWORD reason) = 0;

    virtual int GetLocaleInfoA(win::LCID locale, win::LCTYPE type, char* data, int dataLength) = 0;

    // Not initially owned, default security; GetLastError tells
    // ERROR_ALREADY_EXISTS when another process holds the name.
    virtual win::HANDLE CreateMutexA(const char* name) = 0;
    virtual win::BOOL CloseHandle(win::HANDLE handle) = 0;
    virtual win::DWORD GetLastError() = 0;

    virtual win::DWORD GetLogicalDrives() = 0;
    virtual win::UINT GetDriveTypeA(const char* rootPath) = 0;
    virtual win::HANDLE FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) = 0;
    virtual win::BOOL FindClose(win::HANDLE search) = 0;
    // As on the platform: the length written without the terminator, or the
    // size needed (with the terminator) when the buffer is too small.
    virtual win::DWORD GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) = 0;

    // Files opened for reading as raw bytes (the firmware table and files);
    // relative paths are taken relative to the current directory.
    virtual win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess,
                                    win::DWORD shareMode, win::DWORD creationDisposition,
                                    win::DWORD flagsAndAttributes) = 0;
    virtual win::BOOL ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                               win::DWORD* bytesRead) = 0;
    virtual win::DWORD GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) = 0;

    virtual win::HMODULE LoadLibraryA(const char* fileName) = 0;
    virtual win::BOOL FreeLibrary(win::HMODULE module) = 0;
};

}  // namespace platform

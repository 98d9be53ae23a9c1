#pragma once

#include "platform/win_api.h"

namespace platform {

// Volumes and device I/O, one call per platform call. Security attributes,
// templates and overlapped structures are always null for these programs and
// are left out.
class Volumes {
  public:
    virtual ~Volumes() = default;

    // invalidHandleValue() on failure; GetLastError then tells why.
    virtual win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess,
                                    win::DWORD shareMode, win::DWORD creationDisposition,
                                    win::DWORD flagsAndAttributes) = 0;
    virtual win::BOOL DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                                      win::DWORD inBufferSize, void* outBuffer,
                                      win::DWORD outBufferSize, win::DWORD* bytesReturned) = 0;
    virtual win::BOOL CloseHandle(win::HANDLE handle) = 0;
    virtual win::DWORD GetLastError() = 0;
};

}  // namespace platform

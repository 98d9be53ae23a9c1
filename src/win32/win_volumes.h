#pragma once

#include "platform/volumes.h"

namespace win32 {

// The volumes of the running Windows, call for call: synchronous device I/O
// on handles opened without overlapped mode.
class WinVolumes final : public platform::Volumes {
  public:
    win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                            win::DWORD creationDisposition, win::DWORD flagsAndAttributes) override;
    win::BOOL DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                              win::DWORD inBufferSize, void* outBuffer, win::DWORD outBufferSize,
                              win::DWORD* bytesReturned) override;
    win::BOOL CloseHandle(win::HANDLE handle) override;
    win::DWORD GetLastError() override;
};

}  // namespace win32

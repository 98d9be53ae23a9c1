#include "win32/win_volumes.h"

#include "win32/windows_api.h"

namespace win32 {

win::HANDLE WinVolumes::CreateFileA(const char* path, win::DWORD desiredAccess,
                                    win::DWORD shareMode, win::DWORD creationDisposition,
                                    win::DWORD flagsAndAttributes) {
    return toPortable(::CreateFileA(path, desiredAccess, shareMode, nullptr, creationDisposition,
                                    flagsAndAttributes, nullptr));
}

win::BOOL WinVolumes::DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                                      win::DWORD inBufferSize, void* outBuffer,
                                      win::DWORD outBufferSize, win::DWORD* bytesReturned) {
    // Without an overlapped structure the platform requires somewhere to put
    // the byte count; a caller that does not want it still gets one here.
    win::DWORD ignoredCount = 0;
    Carried<win::DWORD> count(bytesReturned != nullptr ? bytesReturned : &ignoredCount);
    return ::DeviceIoControl(toNative(device), controlCode, inBuffer, inBufferSize, outBuffer,
                             outBufferSize, count.get(), nullptr);
}

win::BOOL WinVolumes::CloseHandle(win::HANDLE handle) {
    return ::CloseHandle(toNative(handle));
}

win::DWORD WinVolumes::GetLastError() {
    return toPortable(::GetLastError());
}

}  // namespace win32

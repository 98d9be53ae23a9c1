#pragma once

#include "platform/registry.h"

namespace win32 {

// The registry of the running Windows, call for call.
class WinRegistry final : public platform::Registry {
  public:
    win::LONG RegOpenKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                            win::REGSAM access, win::HKEY* result) override;
    win::LONG RegCreateKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                              win::REGSAM access, win::HKEY* result,
                              win::DWORD* disposition) override;
    win::LONG RegEnumValueA(win::HKEY key, win::DWORD index, char* name, win::DWORD* nameLength,
                            win::DWORD* type, win::BYTE* data, win::DWORD* dataLength) override;
    win::LONG RegEnumKeyExA(win::HKEY key, win::DWORD index, char* name,
                            win::DWORD* nameLength) override;
    win::LONG RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                               win::BYTE* data, win::DWORD* dataLength) override;
    win::LONG RegSetValueExA(win::HKEY key, const char* valueName, win::DWORD type,
                             const win::BYTE* data, win::DWORD dataLength) override;
    win::LONG RegDeleteKeyA(win::HKEY key, const char* subKey) override;
    win::LONG RegCloseKey(win::HKEY key) override;
};

}  // namespace win32

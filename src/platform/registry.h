#pragma once

#include "platform/win_api.h"

namespace platform {

// The registry, one call per platform call with the platform's arguments and
// results (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA,
// ERROR_NO_MORE_ITEMS, ...). Arguments the programs always pass as null or 0
// (reserved words, classes, security attributes, write times) are left out.
// Lengths are in/out as on the platform: the buffer's size in, what was
// written (or is needed) out.
class Registry {
  public:
    virtual ~Registry() = default;

    virtual win::LONG RegOpenKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                                    win::REGSAM access, win::HKEY* result) = 0;
    virtual win::LONG RegCreateKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                                      win::REGSAM access, win::HKEY* result,
                                      win::DWORD* disposition) = 0;
    // nameLength counts characters, without the terminator on output.
    virtual win::LONG RegEnumValueA(win::HKEY key, win::DWORD index, char* name,
                                    win::DWORD* nameLength, win::DWORD* type, win::BYTE* data,
                                    win::DWORD* dataLength) = 0;
    virtual win::LONG RegEnumKeyExA(win::HKEY key, win::DWORD index, char* name,
                                    win::DWORD* nameLength) = 0;
    virtual win::LONG RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                                       win::BYTE* data, win::DWORD* dataLength) = 0;
    virtual win::LONG RegSetValueExA(win::HKEY key, const char* valueName, win::DWORD type,
                                     const win::BYTE* data, win::DWORD dataLength) = 0;
    virtual win::LONG RegDeleteKeyA(win::HKEY key, const char* subKey) = 0;
    virtual win::LONG RegCloseKey(win::HKEY key) = 0;
};

}  // namespace platform

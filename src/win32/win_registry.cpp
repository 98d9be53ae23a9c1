#include "win32/win_registry.h"

#include "win32/windows_api.h"

namespace win32 {

win::LONG WinRegistry::RegOpenKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                                     win::REGSAM access, win::HKEY* result) {
    Carried<win::HKEY> opened(result);
    return ::RegOpenKeyExA(toNative(key), subKey, options, access, opened.get());
}

win::LONG WinRegistry::RegCreateKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                                       win::REGSAM access, win::HKEY* result,
                                       win::DWORD* disposition) {
    Carried<win::HKEY> created(result);
    Carried<win::DWORD> createdOrOpened(disposition);
    return ::RegCreateKeyExA(toNative(key), subKey, 0, nullptr, options, access, nullptr,
                             created.get(), createdOrOpened.get());
}

win::LONG WinRegistry::RegEnumValueA(win::HKEY key, win::DWORD index, char* name,
                                     win::DWORD* nameLength, win::DWORD* type, win::BYTE* data,
                                     win::DWORD* dataLength) {
    Carried<win::DWORD> nameCharacters(nameLength);
    Carried<win::DWORD> valueType(type);
    Carried<win::DWORD> dataBytes(dataLength);
    return ::RegEnumValueA(toNative(key), index, name, nameCharacters.get(), nullptr,
                           valueType.get(), data, dataBytes.get());
}

win::LONG WinRegistry::RegEnumKeyExA(win::HKEY key, win::DWORD index, char* name,
                                     win::DWORD* nameLength) {
    Carried<win::DWORD> nameCharacters(nameLength);
    return ::RegEnumKeyExA(toNative(key), index, name, nameCharacters.get(), nullptr, nullptr,
                           nullptr, nullptr);
}

win::LONG WinRegistry::RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                                        win::BYTE* data, win::DWORD* dataLength) {
    Carried<win::DWORD> valueType(type);
    Carried<win::DWORD> dataBytes(dataLength);
    return ::RegQueryValueExA(toNative(key), valueName, nullptr, valueType.get(), data,
                              dataBytes.get());
}

win::LONG WinRegistry::RegSetValueExA(win::HKEY key, const char* valueName, win::DWORD type,
                                      const win::BYTE* data, win::DWORD dataLength) {
    return ::RegSetValueExA(toNative(key), valueName, 0, type, data, dataLength);
}

win::LONG WinRegistry::RegDeleteKeyA(win::HKEY key, const char* subKey) {
    return ::RegDeleteKeyA(toNative(key), subKey);
}

win::LONG WinRegistry::RegCloseKey(win::HKEY key) {
    return ::RegCloseKey(toNative(key));
}

}  // namespace win32

#include "sim/registry_records.h"

namespace sim {

bool RegistryRecords::setString(std::string_view keyPath, std::string_view name,
                                std::string_view text) {
    std::vector<win::BYTE> bytes(text.begin(), text.end());
    bytes.push_back(0);
    return setValue(keyPath, name, win::REG_SZ, bytes);
}

bool RegistryRecords::setMultiString(std::string_view keyPath, std::string_view name,
                                     const std::vector<std::string>& strings) {
    std::vector<win::BYTE> bytes;
    for (const std::string& s : strings) {
        bytes.insert(bytes.end(), s.begin(), s.end());
        bytes.push_back(0);
    }
    bytes.push_back(0);
    return setValue(keyPath, name, win::REG_MULTI_SZ, bytes);
}

bool RegistryRecords::setBinary(std::string_view keyPath, std::string_view name,
                                std::span<const win::BYTE> data) {
    return setValue(keyPath, name, win::REG_BINARY, data);
}

bool SeamRecords::setValue(std::string_view keyPath, std::string_view name, win::DWORD type,
                           std::span<const win::BYTE> data) {
    const std::string path(keyPath);
    const std::string valueName(name);
    win::HKEY key = nullptr;
    win::DWORD disposition = 0;
    if (registry_.RegCreateKeyExA(win::hkeyLocalMachine(), path.c_str(),
                                  win::REG_OPTION_NON_VOLATILE, win::KEY_SET_VALUE, &key,
                                  &disposition) != win::ERROR_SUCCESS) {
        return false;
    }
    const win::LONG set = registry_.RegSetValueExA(key, valueName.c_str(), type, data.data(),
                                                   static_cast<win::DWORD>(data.size()));
    registry_.RegCloseKey(key);
    return set == win::ERROR_SUCCESS;
}

}  // namespace sim

#include "format/marker.h"

#include <algorithm>
#include <array>

namespace format {

void deleteMarkerKey(platform::Registry& registry) {
    win::HKEY parent = nullptr;
    if (registry.RegOpenKeyExA(win::hkeyLocalMachine(), kMarkerParentKeyPath, 0, win::KEY_READ,
                               &parent) != win::ERROR_SUCCESS) {
        return;
    }
    registry.RegDeleteKeyA(parent, kMarkerKeyName);
    registry.RegCloseKey(parent);
}

bool readMarkerValue(platform::Registry& registry, win::HKEY key, const char* name,
                     std::string& text) {
    text.clear();
    std::array<win::BYTE, kMarkerValueBufferSize> buffer{};
    win::DWORD length = static_cast<win::DWORD>(buffer.size());
    win::DWORD type = win::REG_NONE;
    if (registry.RegQueryValueExA(key, name, &type, buffer.data(), &length) != win::ERROR_SUCCESS) {
        return false;
    }
    // A value that fills the whole buffer without a terminator would be read
    // past its end as text; it does not fit, so it counts as missing.
    const auto terminator = std::find(buffer.begin(), buffer.end(), win::BYTE{0});
    if (terminator == buffer.end()) return false;
    text.assign(buffer.begin(), terminator);
    return true;
}

}  // namespace format

#pragma once

#include <cstddef>
#include <string>

#include "platform/registry.h"

namespace format {

// The hand-off marker the update program leaves under HKEY_LOCAL_MACHINE.
inline constexpr const char* kMarkerKeyPath = "Software\\Kavo Corporation\\Pendrel";
inline constexpr const char* kMarkerParentKeyPath = "Software\\Kavo Corporation";
inline constexpr const char* kMarkerKeyName = "Pendrel";
inline constexpr const char* kMarkerVendorValue = "vender";
inline constexpr const char* kMarkerProductValue = "product";
inline constexpr const char* kMarkerRevisionValue = "rev";
inline constexpr std::size_t kMarkerValueBufferSize = 50;

// Removes the marker key. Every failure is ignored: the key may already be
// gone, and nothing the user could do about it would change the outcome.
void deleteMarkerKey(platform::Registry& registry);

// Reads one value of the open marker key as zero-terminated text, whatever
// its registry type. False when it cannot be read or does not fit the
// 50-byte buffer with its terminator; `text` is then left empty.
bool readMarkerValue(platform::Registry& registry, win::HKEY key, const char* name,
                     std::string& text);

}  // namespace format

#pragma once

// How Windows spells a text a device reports when it names the device's
// records after it. A device id may hold only printable ASCII without blanks
// and commas; where a bus reports anything else (a blank, a control
// character, a byte above 0x7F, a comma), Windows writes '_' in its place.
// The simulated machine lays its records by this rule and the registry walk
// looks for them by it, so both read it from here.

#include <string>
#include <string_view>

namespace win {

inline constexpr char kDeviceIdReplacement = '_';
inline constexpr unsigned char kLastDeviceIdExcludedLow = 0x20;  // the blank and below
inline constexpr unsigned char kLastDeviceIdAllowedHigh = 0x7F;
inline constexpr char kDeviceIdExcludedComma = ',';

constexpr bool deviceIdMayHold(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > kLastDeviceIdExcludedLow && byte <= kLastDeviceIdAllowedHigh &&
           c != kDeviceIdExcludedComma;
}

// `text` as Windows writes it into a device id: one character for each, every
// one an id may not hold replaced.
inline std::string deviceIdText(std::string_view text) {
    std::string written(text);
    for (char& c : written) {
        if (!deviceIdMayHold(c)) c = kDeviceIdReplacement;
    }
    return written;
}

}  // namespace win

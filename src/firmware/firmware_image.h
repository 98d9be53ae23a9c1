#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace firmware {

inline constexpr std::size_t kImageSize = 0x40000;
inline constexpr std::uint8_t kUnsetImageByte = 0xFF;
inline constexpr std::uint32_t kNoLowAddress = 0xFFFFFFFF;

// The firmware as it will be sent: a data byte for address A sits at index
// A XOR 1, because the reader takes 16-bit words with their bytes swapped
// against the file's order. Bytes no record sets stay 0xFF.
struct FirmwareImage {
    std::array<std::uint8_t, kImageSize> imageBytes{};
    std::uint32_t imageLowAddress = kNoLowAddress;  // lowest load address accepted
    std::uint32_t imageHighAddress = 0;             // highest address written
    bool dataStored = false;                        // at least one data byte was stored

    // The bounds alone cannot tell: records too short for their address field
    // move them without storing a byte. Only a stored byte gives the reader
    // something to take, so this is the one test of "nothing to send".
    bool holdsData() const { return dataStored; }
};

}  // namespace firmware

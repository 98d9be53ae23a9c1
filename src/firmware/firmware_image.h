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

    // The low address stays unset when no data record was accepted, and the
    // high address lies below the low one when the records carried no bytes:
    // either way there is nothing a reader could be given.
    bool holdsData() const {
        return imageLowAddress != kNoLowAddress && imageHighAddress >= imageLowAddress;
    }
};

}  // namespace firmware

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "firmware/flash_layout.h"
#include "sim/virtual_reader.h"

namespace sim {

// What a reader made of the firmware blocks it took since the last header.
struct FirmwareReception {
    bool headerReceived = false;
    bool scrambled = false;  // the header named the scrambling header name
    firmware::HeaderBlockFields header;
    std::uint16_t blocksExpected = 0;  // from the header's image length
    std::size_t blocksReceived = 0;    // data blocks after the header, in order
    // Header and every block, in order, and nothing more.
    bool whole = false;
    // The header's checksum against the bytes received, when the range it
    // covers lies within them.
    std::optional<bool> checksumMatches;

    bool written() const { return whole && checksumMatches.value_or(true); }
};

FirmwareReception receptionOf(const std::vector<ReceivedBlock>& blocks);

}  // namespace sim

#pragma once

#include <cstdint>
#include <optional>
#include <span>

// The reader's own reading of a CDB: which command of its set it is. The
// virtual reader answers by it, and the machine's command faults and events
// name commands by it, so the two cannot tell one command apart differently.
// The host's encoder (src/device/command_set) is written apart from this on
// purpose: each checks the other, and a mistake made once shows.
namespace sim {

enum class ReaderCommand {
    TestUnitReady,
    RequestSense,
    Inquiry,
    ModeSense10,
    BlockWrite,   // the vendor command with the block-write signature
    Format,       // the vendor command with the format signature
    VendorOther,  // the vendor operation code without a signature the reader knows
    Unknown,      // an operation code the reader does not know (or no CDB at all)
};

struct DecodedCommand {
    ReaderCommand command = ReaderCommand::Unknown;
    std::uint8_t operationCode = 0;
    std::optional<std::uint16_t> block;  // the block a BlockWrite carries
};

DecodedCommand decodeCommand(std::span<const std::uint8_t> cdb);

// The length of CDB an operation code of the set needs at least.
std::size_t cdbLengthFor(std::uint8_t operationCode);

}  // namespace sim

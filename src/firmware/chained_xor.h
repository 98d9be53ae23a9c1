#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "firmware/byte_source.h"

// The line-chained XOR encoding of the firmware table and the firmware files:
// each line starts with a key byte that yields nothing; every further raw byte
// is XOR-ed with the raw byte before it; a decoded LF ends the line.
namespace firmware {

// The streaming decoder's state. There is one per process and it is never
// reset between loads: a load that stops mid-line leaves the next one starting
// mid-line, exactly as the update program behaves.
struct ChainedDecoderState {
    bool atLineStart = true;
    std::uint8_t previousRaw = 0;
    // Decoded LFs so far, so that a reader can say on which line it stands.
    std::size_t linesEnded = 0;
};

// The decoded byte that ends a line; the raw byte after it is a key byte.
inline constexpr std::uint8_t kChainedLineEnd = 0x0A;

// The one process-wide decoder state that readChainedChar uses. It is defined
// here rather than in a source file because readChainedChar runs once per
// character of a firmware file and is inlined into its callers; being
// constant-initialised, the state needs no guard on each access.
inline ChainedDecoderState& chainedDecoderState() {
    static ChainedDecoderState state;
    return state;
}

// Starts the process-wide decoder afresh, as at program start. For tests and
// tools that run several independent loads in one process.
void resetChainedDecoder();

// The next decoded character of an encoded file; false at end of file.
inline bool readChainedChar(ByteSource& file, char& character) {
    ChainedDecoderState& state = chainedDecoderState();
    if (state.atLineStart) {
        if (!file.readByte(state.previousRaw)) return false;
        state.atLineStart = false;
    }
    std::uint8_t raw = 0;
    if (!file.readByte(raw)) return false;
    const auto decoded = static_cast<std::uint8_t>(raw ^ state.previousRaw);
    state.previousRaw = raw;
    if (decoded == kChainedLineEnd) {
        state.atLineStart = true;
        ++state.linesEnded;
    }
    character = static_cast<char>(decoded);
    return true;
}

// Decodes `length` encoded bytes of `buffer` in place and writes a zero byte
// after the decoded text; returns the decoded length. Every call starts at a
// line start. A length of 0 or less writes only the terminator. The length is
// taken at most as the buffer's size, and nothing is written to an empty
// buffer.
std::size_t decodeChainedLines(std::span<std::uint8_t> buffer, std::ptrdiff_t length);

// The key byte the encoder gives line `lineIndex` when no fixed key is asked
// for: a fixed pseudo-random sequence, so that encoding is reproducible.
std::uint8_t defaultLineKey(std::size_t lineIndex);

// Encodes plain text line by line: each line (ending with LF, the last one
// possibly without) gets the fixed key when given, else defaultLineKey.
std::vector<std::uint8_t> encodeChainedLines(std::span<const std::uint8_t> plain,
                                             std::optional<std::uint8_t> fixedKey = std::nullopt);

// Decodes a whole encoded file, every line, with no size limit.
std::vector<std::uint8_t> decodeChainedFile(std::span<const std::uint8_t> encoded);

}  // namespace firmware

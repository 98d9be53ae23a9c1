#include "firmware/chained_xor.h"

#include <algorithm>

namespace firmware {

void resetChainedDecoder() {
    chainedDecoderState() = ChainedDecoderState{};
}

std::size_t decodeChainedLines(std::span<std::uint8_t> buffer, std::ptrdiff_t length) {
    if (buffer.empty()) return 0;
    const std::size_t inputLength =
        length <= 0 ? 0 : std::min(static_cast<std::size_t>(length), buffer.size());
    std::size_t written = 0;
    bool atLineStart = true;
    std::uint8_t previousRaw = 0;
    // The decoded text trails the input by one key byte per line, so writing
    // never overtakes reading.
    for (std::size_t read = 0; read < inputLength; ++read) {
        const std::uint8_t raw = buffer[read];
        if (atLineStart) {
            previousRaw = raw;
            atLineStart = false;
            continue;
        }
        const auto decoded = static_cast<std::uint8_t>(raw ^ previousRaw);
        previousRaw = raw;
        buffer[written++] = decoded;
        if (decoded == kChainedLineEnd) atLineStart = true;
    }
    // Every line's key byte yields nothing, so the terminator always falls
    // inside the input's extent (or at the start of an empty input).
    buffer[written] = 0;
    return written;
}

std::uint8_t defaultLineKey(std::size_t lineIndex) {
    // A fixed integer hash of the line number: reproducible everywhere and
    // free of any platform's random generator.
    auto mixed = static_cast<std::uint32_t>(lineIndex) * 0x9E3779B1u + 0x7F4A7C15u;
    mixed ^= mixed >> 15;
    mixed *= 0x2C1B3C6Du;
    mixed ^= mixed >> 12;
    return static_cast<std::uint8_t>(mixed >> 24);
}

std::vector<std::uint8_t> encodeChainedLines(std::span<const std::uint8_t> plain,
                                             std::optional<std::uint8_t> fixedKey) {
    std::vector<std::uint8_t> encoded;
    encoded.reserve(plain.size() + plain.size() / 16 + 1);
    std::size_t lineIndex = 0;
    bool atLineStart = true;
    std::uint8_t previousRaw = 0;
    for (const std::uint8_t byte : plain) {
        if (atLineStart) {
            previousRaw = fixedKey.value_or(defaultLineKey(lineIndex++));
            encoded.push_back(previousRaw);
            atLineStart = false;
        }
        previousRaw = static_cast<std::uint8_t>(byte ^ previousRaw);
        encoded.push_back(previousRaw);
        if (byte == kChainedLineEnd) atLineStart = true;
    }
    return encoded;
}

std::vector<std::uint8_t> decodeChainedFile(std::span<const std::uint8_t> encoded) {
    std::vector<std::uint8_t> decoded(encoded.begin(), encoded.end());
    decoded.push_back(0);  // room for the terminator of an empty input
    decoded.resize(decodeChainedLines(decoded, static_cast<std::ptrdiff_t>(encoded.size())));
    return decoded;
}

}  // namespace firmware

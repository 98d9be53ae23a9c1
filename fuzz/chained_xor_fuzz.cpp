// The three decoders of the chained XOR encoding must agree on any bytes, and
// the encoder must be undone by them whatever key it uses.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <span>
#include <vector>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"

namespace {

using firmware::ByteSource;
using firmware::MemoryByteSource;

void require(bool condition) {
    if (!condition) std::abort();
}

void drain(ByteSource& source, std::vector<std::uint8_t>& decoded) {
    char character = 0;
    while (firmware::readChainedChar(source, character)) {
        decoded.push_back(static_cast<std::uint8_t>(character));
    }
}

void checkInPlaceDecoder(std::span<const std::uint8_t> input,
                         const std::vector<std::uint8_t>& reference) {
    std::vector<std::uint8_t> buffer(input.begin(), input.end());
    buffer.push_back(0xEE);  // room for the terminator of an empty input
    const std::size_t decoded =
        firmware::decodeChainedLines(buffer, static_cast<std::ptrdiff_t>(input.size()));
    require(decoded == reference.size());
    require(std::equal(reference.begin(), reference.end(), buffer.begin()));
    require(buffer[decoded] == 0);
}

// The streaming decoder keeps its state across files, so reading the input as
// two files split anywhere gives the same text as reading it as one.
void checkStreamingDecoder(std::span<const std::uint8_t> input,
                           const std::vector<std::uint8_t>& reference) {
    const std::size_t split = input.empty() ? 0 : input[0] % (input.size() + 1);
    firmware::resetChainedDecoder();
    std::vector<std::uint8_t> decoded;
    MemoryByteSource head(input.first(split));
    drain(head, decoded);
    MemoryByteSource tail(input.subspan(split));
    drain(tail, decoded);
    require(decoded == reference);
}

void checkRoundTrip(std::span<const std::uint8_t> plain, std::optional<std::uint8_t> key) {
    const std::vector<std::uint8_t> encoded = firmware::encodeChainedLines(plain, key);
    const std::vector<std::uint8_t> decoded = firmware::decodeChainedFile(encoded);
    require(std::equal(decoded.begin(), decoded.end(), plain.begin(), plain.end()));
    firmware::resetChainedDecoder();
    MemoryByteSource source(encoded);
    std::vector<std::uint8_t> streamed;
    drain(source, streamed);
    require(streamed == decoded);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    const std::vector<std::uint8_t> reference = firmware::decodeChainedFile(input);
    checkInPlaceDecoder(input, reference);
    checkStreamingDecoder(input, reference);
    if (!input.empty()) {
        // The first byte picks the key, the rest is the plain text.
        checkRoundTrip(input.subspan(1), input[0]);
        checkRoundTrip(input.subspan(1), std::nullopt);
    }
    return 0;
}

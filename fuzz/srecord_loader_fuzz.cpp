// The loader over any bytes: it must stay inside the image, give one of its
// three results, and leave bounds that describe what it stored. Each input is
// loaded twice: as the raw file, and as plain S-record text encoded first, so
// that mutations of readable records reach deep into the reader.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_image.h"
#include "firmware/srecord_reader.h"

namespace {

using firmware::FirmwareImage;

constexpr std::uint8_t kPlainTextKey = 0x5C;
constexpr std::uint32_t kLastImageAddress = firmware::kImageSize - 1;

void require(bool condition) {
    if (!condition) std::abort();
}

// Records too short for their address field move the bounds without storing
// a byte, so bounds may be set on an image that holds no data. Set, they lie
// in the image; only a stored byte makes the highest reach the lowest.
void checkBounds(const FirmwareImage& image) {
    if (image.imageLowAddress == firmware::kNoLowAddress) {
        require(!image.holdsData() && image.imageHighAddress == 0);
        return;
    }
    require(image.imageLowAddress >= firmware::kLowestLoadAddress);
    require(image.imageLowAddress <= firmware::kHighestLoadAddress);
    require(image.imageHighAddress <= kLastImageAddress);
    // A record without data offers the address before it as its highest.
    require(image.imageHighAddress + 1 >= image.imageLowAddress);
    if (image.holdsData()) require(image.imageHighAddress >= image.imageLowAddress);
}

// The whole-image scan below is the checker's, not the code under test: left
// to the fuzzer's comparison tracing and the sanitizers it takes nine tenths
// of the time.
#if defined(__clang__)
#define VELCREST_UNWATCHED __attribute__((no_sanitize("coverage", "address", "undefined")))
#else
#define VELCREST_UNWATCHED
#endif

// The bytes of an image that holds data are scanned a word at a time, and
// only bytes that differ from the fill are placed against the bounds.
VELCREST_UNWATCHED void checkStoredBytes(const FirmwareImage& image) {
    constexpr std::uint64_t kBlankWord = ~std::uint64_t{0};
    constexpr std::size_t kWordBytes = sizeof(std::uint64_t);
    static_assert(firmware::kUnsetImageByte == 0xFF && firmware::kImageSize % kWordBytes == 0);
    // Taken once: an instrumented function is never inlined into this one.
    const std::uint8_t* const bytes = image.imageBytes.data();
    for (std::size_t offset = 0; offset < firmware::kImageSize; offset += kWordBytes) {
        std::uint64_t word = 0;
        std::memcpy(&word, bytes + offset, kWordBytes);
        if (word == kBlankWord) continue;
        for (std::size_t index = offset; index < offset + kWordBytes; ++index) {
            if (bytes[index] == firmware::kUnsetImageByte) continue;
            const auto address = static_cast<std::uint32_t>(index ^ 1);
            require(address >= image.imageLowAddress && address <= image.imageHighAddress);
        }
    }
}

// An image that says it holds no data is blank, and every byte of one that
// does which differs from the fill lies inside its bounds. A stored 0xFF looks
// like the fill, so a blank image may still hold data. Most inputs store
// nothing, and for them one compare with a blank image settles it.
void checkImageBytes(const FirmwareImage& image) {
    static const auto blank = [] {
        auto empty = std::make_unique<FirmwareImage>();
        empty->imageBytes.fill(firmware::kUnsetImageByte);
        return empty;
    }();
    if (image.holdsData()) {
        checkStoredBytes(image);
        return;
    }
    require(std::memcmp(image.imageBytes.data(), blank->imageBytes.data(), firmware::kImageSize) ==
            0);
}

void checkLoad(std::span<const std::uint8_t> file, FirmwareImage& image) {
    firmware::resetChainedDecoder();
    firmware::MemoryByteSource source(file);
    const std::uint8_t result = firmware::loadFirmwareImage(source, image);
    require(result == firmware::kLoadOk || result == firmware::kLoadChecksumError ||
            result == firmware::kLoadAddressOutOfRange);
    checkBounds(image);
    checkImageBytes(image);
}

}  // namespace

// Only libFuzzer calls this: the diagnostics of millions of inputs would drown
// its own output. The corpus replay keeps them.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const auto image = std::make_unique<FirmwareImage>();
    const std::span<const std::uint8_t> input(data, size);
    checkLoad(input, *image);
    const std::vector<std::uint8_t> encoded = firmware::encodeChainedLines(input, kPlainTextKey);
    checkLoad(encoded, *image);
    return 0;
}

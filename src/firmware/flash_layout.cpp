#include "firmware/flash_layout.h"

#include <algorithm>
#include <cstdio>

namespace firmware {

namespace {

constexpr std::uint32_t kLastImageIndex = kImageSize - 1;
constexpr unsigned kBitsPerHexDigit = 4;
constexpr unsigned kBitsPerByte = 8;
constexpr std::uint8_t kByteMask = 0xFF;
constexpr std::uint16_t kChecksumMask = 0xFFFF;
constexpr std::uint8_t kDecimalDigitBase = 10;
// "0x" and sixteen digits of a 64-bit value, and the terminator.
constexpr std::size_t kHexTextSize = 2 + 16 + 1;

std::uint16_t identityDigitValue(char character) {
    if (character >= '0' && character <= '9') return static_cast<std::uint16_t>(character - '0');
    if (character >= 'a' && character <= 'f') {
        return static_cast<std::uint16_t>(character - 'a' + kDecimalDigitBase);
    }
    if (character >= 'A' && character <= 'F') {
        return static_cast<std::uint16_t>(character - 'A' + kDecimalDigitBase);
    }
    return 0;
}

// 0x-prefixed lower-case hexadecimal, as the tools print addresses.
std::string hexText(std::uint64_t value) {
    std::array<char, kHexTextSize> text{};
    std::snprintf(text.data(), text.size(), "0x%llx", static_cast<unsigned long long>(value));
    return text.data();
}

template <std::size_t N>
void place(Block& block, std::size_t offset, const std::array<std::uint8_t, N>& bytes) {
    std::copy(bytes.begin(), bytes.end(), block.begin() + static_cast<std::ptrdiff_t>(offset));
}

template <std::size_t N>
std::array<std::uint8_t, N> bytesAt(const Block& block, std::size_t offset) {
    std::array<std::uint8_t, N> bytes{};
    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(offset), N, bytes.begin());
    return bytes;
}

std::uint16_t number16At(const Block& block, std::size_t offset) {
    return fromBigEndian16(bytesAt<2>(block, offset));
}

std::uint32_t number32At(const Block& block, std::size_t offset) {
    return fromBigEndian32(bytesAt<4>(block, offset));
}

// The image index of byte 0 of data block k (k >= 1), wide enough that no
// block number wraps it back into the image.
std::uint64_t dataBlockFirstIndex(std::uint16_t k) {
    return std::uint64_t{kFirstBlockIndex} + std::uint64_t{kBlockSize} * (k - 1U);
}

// Copies the image bytes from `first` on into `out`, as many as fit and as the
// image still holds; the rest of `out` is left as it is.
void copyImageBytes(const FirmwareImage& image, std::uint64_t first,
                    std::span<std::uint8_t, kBlockSize> out) {
    if (first >= kImageSize) return;
    const auto count =
        static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), kImageSize - first));
    std::copy_n(image.imageBytes.begin() + static_cast<std::ptrdiff_t>(first), count, out.begin());
}

HeaderBlockFields headerFieldsFor(const FirmwareImage& image, const HeaderIdentity& identity,
                                  std::uint32_t roundedHigh) {
    HeaderBlockFields fields;
    fields.headerNameBytes = headerNameBytes(identity.headerName);
    fields.headerVendorId = headerIdentityValue(identity.usbVendorId);
    fields.headerProductId = headerIdentityValue(identity.usbProductId);
    fields.headerRevision = headerIdentityValue(identity.usbRevision);
    fields.headerProductName = headerProductName(identity.inquiryProduct);
    fields.imageStart = imageStart(image);
    fields.imageLength = imageLength(fields.imageStart, roundedHigh);
    fields.imageChecksum = imageChecksum(image, fields.imageStart, fields.imageLength);
    return fields;
}

}  // namespace

std::uint32_t imageStart(const FirmwareImage& image) {
    return image.imageLowAddress;
}

std::uint32_t roundedImageHighAddress(std::uint32_t imageHighAddress) {
    if ((imageHighAddress & kFlashPageOffsetMask) == 0) return imageHighAddress;
    return (imageHighAddress & ~kFlashPageOffsetMask) + kFlashPageOffsetMask;
}

std::uint32_t imageLength(std::uint32_t start, std::uint32_t roundedHighAddress) {
    // Unsigned wrap-around is intended: it is what makes an empty image 2 long.
    const std::uint32_t length = roundedHighAddress - start + 1U;
    return std::min(length, kMaxImageLength);
}

std::uint32_t sumImageBytes(const FirmwareImage& image, std::uint32_t first, std::uint32_t last) {
    const std::uint32_t clampedLast = std::min(last, kLastImageIndex);
    if (first > clampedLast) return 0;
    std::uint32_t sum = 0;
    for (std::uint32_t index = first; index <= clampedLast; ++index) sum += image.imageBytes[index];
    return sum;
}

std::uint16_t imageChecksum(const FirmwareImage& image, std::uint32_t start, std::uint32_t length) {
    const std::uint32_t last = start + length - 1U;
    return static_cast<std::uint16_t>(sumImageBytes(image, start, last) & kChecksumMask);
}

std::array<std::uint8_t, 2> toBigEndian16(std::uint16_t value) {
    return {static_cast<std::uint8_t>(value >> kBitsPerByte),
            static_cast<std::uint8_t>(value & kByteMask)};
}

std::array<std::uint8_t, 4> toBigEndian32(std::uint32_t value) {
    return {static_cast<std::uint8_t>(value >> (3 * kBitsPerByte)),
            static_cast<std::uint8_t>((value >> (2 * kBitsPerByte)) & kByteMask),
            static_cast<std::uint8_t>((value >> kBitsPerByte) & kByteMask),
            static_cast<std::uint8_t>(value & kByteMask)};
}

std::uint16_t fromBigEndian16(std::span<const std::uint8_t, 2> bytes) {
    return static_cast<std::uint16_t>((bytes[0] << kBitsPerByte) | bytes[1]);
}

std::uint32_t fromBigEndian32(std::span<const std::uint8_t, 4> bytes) {
    std::uint32_t value = 0;
    for (const std::uint8_t byte : bytes) value = (value << kBitsPerByte) | byte;
    return value;
}

std::uint16_t headerIdentityValue(std::string_view identity) {
    std::uint16_t value = 0;
    for (const char character : identity.substr(0, kIdentityHexDigits)) {
        value =
            static_cast<std::uint16_t>((value << kBitsPerHexDigit) | identityDigitValue(character));
    }
    return value;
}

HeaderProductName headerProductName(std::string_view inquiryProduct) {
    HeaderProductName name;
    name.fill(kProductNamePad);
    const std::string_view kept = inquiryProduct.substr(0, name.size());
    std::copy(kept.begin(), kept.end(), name.begin());
    return name;
}

HeaderName headerNameBytes(std::string_view headerName) {
    HeaderName name;
    name.fill(kHeaderNamePad);
    const std::string_view kept = headerName.substr(0, name.size());
    std::copy(kept.begin(), kept.end(), name.begin());
    return name;
}

bool scramblingEnabled(std::string_view headerName) {
    return headerName == kScramblingHeaderName;
}

void scrambleBlock(std::span<std::uint8_t, kBlockSize> block) {
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(block[i] ^ (i & kByteMask));
    }
}

std::uint16_t blockCount(std::uint32_t imageLength) {
    const std::uint32_t described = std::min(imageLength, kMaxImageLength);
    return static_cast<std::uint16_t>((described + kBlockSize - 1) / kBlockSize);
}

Block buildHeaderBlock(const HeaderBlockFields& fields, bool scrambled) {
    Block block;
    block.fill(kUnassignedHeaderByte);
    place(block, kHeaderNameOffset, fields.headerNameBytes);
    place(block, kHeaderVendorIdOffset, toBigEndian16(fields.headerVendorId));
    place(block, kHeaderProductIdOffset, toBigEndian16(fields.headerProductId));
    place(block, kHeaderRevisionOffset, toBigEndian16(fields.headerRevision));
    place(block, kHeaderProductNameOffset, fields.headerProductName);
    place(block, kHeaderImageStartOffset, toBigEndian32(fields.imageStart));
    place(block, kHeaderImageLengthOffset, toBigEndian32(fields.imageLength));
    place(block, kHeaderChecksumOffset, toBigEndian16(fields.imageChecksum));
    if (scrambled) scrambleBlock(block);
    return block;
}

HeaderBlockFields parseHeaderBlock(std::span<const std::uint8_t, kBlockSize> received,
                                   bool scrambled) {
    Block block;
    std::copy(received.begin(), received.end(), block.begin());
    if (scrambled) scrambleBlock(block);
    HeaderBlockFields fields;
    fields.headerNameBytes = bytesAt<kHeaderNameLength>(block, kHeaderNameOffset);
    fields.headerVendorId = number16At(block, kHeaderVendorIdOffset);
    fields.headerProductId = number16At(block, kHeaderProductIdOffset);
    fields.headerRevision = number16At(block, kHeaderRevisionOffset);
    fields.headerProductName = bytesAt<kHeaderProductNameLength>(block, kHeaderProductNameOffset);
    fields.imageStart = number32At(block, kHeaderImageStartOffset);
    fields.imageLength = number32At(block, kHeaderImageLengthOffset);
    fields.imageChecksum = number16At(block, kHeaderChecksumOffset);
    return fields;
}

FlashPlan planFlash(const FirmwareImage& image, const HeaderIdentity& identity) {
    FlashPlan plan;
    plan.imageHighAddress = roundedImageHighAddress(image.imageHighAddress);
    plan.header = headerFieldsFor(image, identity, plan.imageHighAddress);
    plan.scrambled = scramblingEnabled(identity.headerName);
    plan.blockCount = blockCount(plan.header.imageLength);
    plan.headerBlock = buildHeaderBlock(plan.header, plan.scrambled);
    return plan;
}

void copyDataBlock(const FirmwareImage& image, std::uint16_t k, bool scrambled,
                   std::span<std::uint8_t, kBlockSize> out) {
    std::fill(out.begin(), out.end(), kUnsetImageByte);
    if (k != 0) copyImageBytes(image, dataBlockFirstIndex(k), out);
    if (scrambled) scrambleBlock(out);
}

std::vector<std::uint8_t> buildBlockStream(const FirmwareImage& image, const FlashPlan& plan) {
    std::vector<std::uint8_t> stream(plan.headerBlock.begin(), plan.headerBlock.end());
    Block block;
    // A wider counter, so that even a count of 0xFFFF ends.
    for (std::uint32_t k = 1; k <= plan.blockCount; ++k) {
        copyDataBlock(image, static_cast<std::uint16_t>(k), plan.scrambled, block);
        stream.insert(stream.end(), block.begin(), block.end());
    }
    return stream;
}

BlockReach blockReach(const HeaderBlockFields& header, std::size_t dataBlocks) {
    BlockReach reach;
    reach.claimedFirst = header.imageStart;
    reach.claimedEnd = reach.claimedFirst + header.imageLength;
    reach.carriedEnd = reach.carriedFirst + std::uint64_t{dataBlocks} * kBlockSize;
    return reach;
}

std::string describeUncarriedRange(const BlockReach& reach) {
    const auto range = [](std::uint64_t first, std::uint64_t end) {
        if (end <= first) return std::string("nothing");
        return hexText(first) + "-" + hexText(end - 1);
    };
    return "the header claims " + range(reach.claimedFirst, reach.claimedEnd) +
           " but the blocks carry " + range(reach.carriedFirst, reach.carriedEnd);
}

}  // namespace firmware

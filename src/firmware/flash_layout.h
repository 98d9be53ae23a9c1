#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_image.h"

// Everything about flashing that is plain arithmetic on the image and the
// reader's identity: the header block, the block count, the blocks as sent
// and the scrambling. The flash procedure, firmtool and the virtual reader
// all build (or read back) the stream through these functions.
namespace firmware {

inline constexpr std::size_t kBlockSize = 512;
using Block = std::array<std::uint8_t, kBlockSize>;

// Block 1 always starts at this image index, whatever the image's start is.
inline constexpr std::uint32_t kFirstBlockIndex = 0x10000;
// The header never describes more than this many bytes, which is exactly the
// image from kFirstBlockIndex to its end.
inline constexpr std::uint32_t kMaxImageLength = 0x30000;
inline constexpr std::uint16_t kMaxBlockCount = kMaxImageLength / kBlockSize;
// The reader's flash is erased in 16 KiB pages; the image's high end is
// raised to the last address of its page.
inline constexpr std::uint32_t kFlashPageSize = 0x4000;
inline constexpr std::uint32_t kFlashPageOffsetMask = kFlashPageSize - 1;

// Header block layout.
inline constexpr std::size_t kHeaderNameOffset = 0x00;
inline constexpr std::size_t kHeaderNameLength = 28;
inline constexpr std::size_t kHeaderVendorIdOffset = 0x1C;
inline constexpr std::size_t kHeaderProductIdOffset = 0x1E;
inline constexpr std::size_t kHeaderRevisionOffset = 0x20;
inline constexpr std::size_t kHeaderProductNameOffset = 0x22;
inline constexpr std::size_t kHeaderProductNameLength = 16;
inline constexpr std::size_t kHeaderImageStartOffset = 0x34;
inline constexpr std::size_t kHeaderImageLengthOffset = 0x38;
inline constexpr std::size_t kHeaderChecksumOffset = 0x3C;
// The fields follow each other in this order, and the last ends well inside
// the block, so placing a field can never run past it.
static_assert(kHeaderNameOffset + kHeaderNameLength == kHeaderVendorIdOffset);
static_assert(kHeaderVendorIdOffset + 2 == kHeaderProductIdOffset);
static_assert(kHeaderProductIdOffset + 2 == kHeaderRevisionOffset);
static_assert(kHeaderRevisionOffset + 2 == kHeaderProductNameOffset);
static_assert(kHeaderProductNameOffset + kHeaderProductNameLength + 2 == kHeaderImageStartOffset);
static_assert(kHeaderImageStartOffset + 4 == kHeaderImageLengthOffset);
static_assert(kHeaderImageLengthOffset + 4 == kHeaderChecksumOffset);
static_assert(kHeaderChecksumOffset + 2 <= kBlockSize);
// Block 1 to the largest count covers exactly the rest of the image.
static_assert(kFirstBlockIndex + kMaxImageLength == kImageSize);
static_assert(kMaxImageLength % kBlockSize == 0);

// Bytes of the header that carry nothing are sent as zero (before scrambling).
inline constexpr std::uint8_t kUnassignedHeaderByte = 0x00;
inline constexpr std::uint8_t kProductNamePad = ' ';
inline constexpr std::uint8_t kHeaderNamePad = 0x00;

// The one header name that makes the reader expect scrambled blocks.
inline constexpr std::string_view kScramblingHeaderName = "VA-DE-LO Firmware Update R01";

// Only this many leading characters of an identity string count as digits.
inline constexpr std::size_t kIdentityHexDigits = 4;

using HeaderName = std::array<std::uint8_t, kHeaderNameLength>;
using HeaderProductName = std::array<std::uint8_t, kHeaderProductNameLength>;

// The image's first address: its lowest loaded address (0xFFFFFFFF when no
// data record was loaded).
std::uint32_t imageStart(const FirmwareImage& image);

// The highest loaded address raised to the last address of its 16 KiB page;
// an address at the very start of a page stays as it is.
std::uint32_t roundedImageHighAddress(std::uint32_t imageHighAddress);

// high - start + 1 in unsigned 32-bit arithmetic, at most kMaxImageLength. An
// image without data (start 0xFFFFFFFF, high 0) wraps round to 2.
std::uint32_t imageLength(std::uint32_t start, std::uint32_t roundedHighAddress);

// Sum of the image bytes from `first` to `last` inclusive; 0 when first >
// last. Indices past the image's end are not read: `last` is clamped to the
// image's last index, so the sum covers only what the image holds.
std::uint32_t sumImageBytes(const FirmwareImage& image, std::uint32_t first, std::uint32_t last);

// Low 16 bits of the byte sum from `start` over `length` bytes; the last index
// start + length - 1 wraps like the 32-bit value it is.
std::uint16_t imageChecksum(const FirmwareImage& image, std::uint32_t start, std::uint32_t length);

// Numbers go to the reader most significant byte first.
std::array<std::uint8_t, 2> toBigEndian16(std::uint16_t value);
std::array<std::uint8_t, 4> toBigEndian32(std::uint32_t value);
std::uint16_t fromBigEndian16(std::span<const std::uint8_t, 2> bytes);
std::uint32_t fromBigEndian32(std::span<const std::uint8_t, 4> bytes);

// An identity string (vendor id, product id, revision) read as hexadecimal:
// its first four characters, each shifting the value by one digit; a
// character that is no hex digit adds 0. "12" gives 0x0012, "1x" 0x0010.
std::uint16_t headerIdentityValue(std::string_view identity);

// The product name cut to 16 bytes or padded with spaces.
HeaderProductName headerProductName(std::string_view inquiryProduct);

// The header name cut to 28 bytes (no terminator) or padded with zero bytes.
HeaderName headerNameBytes(std::string_view headerName);

// Scrambling is on only for kScramblingHeaderName, compared exactly.
bool scramblingEnabled(std::string_view headerName);

// XORs byte i of the block with i mod 256. Doing it twice gives the block
// back, so the same call descrambles.
void scrambleBlock(std::span<std::uint8_t, kBlockSize> block);

// (length + 511) / 512 as the 16-bit count the block numbers use; a length
// above kMaxImageLength counts as kMaxImageLength.
std::uint16_t blockCount(std::uint32_t imageLength);

// What the header block carries.
struct HeaderBlockFields {
    HeaderName headerNameBytes{};
    std::uint16_t headerVendorId = 0;
    std::uint16_t headerProductId = 0;
    std::uint16_t headerRevision = 0;
    HeaderProductName headerProductName{};
    std::uint32_t imageStart = 0;
    std::uint32_t imageLength = 0;
    std::uint16_t imageChecksum = 0;

    bool operator==(const HeaderBlockFields&) const = default;
};

// The header block as sent: fields in place, numbers big-endian, every other
// byte zero, and the whole block scrambled when `scrambled` is set.
Block buildHeaderBlock(const HeaderBlockFields& fields, bool scrambled);

// The fields of a header block as a reader receives it; `scrambled` says
// whether the sender scrambled it.
HeaderBlockFields parseHeaderBlock(std::span<const std::uint8_t, kBlockSize> received,
                                   bool scrambled);

// The strings the header is built from: the reader's USB identity (with the
// product id and product name the table row gives it) and the row's header
// name.
struct HeaderIdentity {
    std::string usbVendorId;
    std::string usbProductId;
    std::string usbRevision;
    std::string inquiryProduct;
    std::string headerName;
};

// What the header claims against what the data blocks carry. The blocks
// always start at kFirstBlockIndex while the header's range starts at
// imageStart and is imageLength long, so data loaded above kFirstBlockIndex
// shifts the claimed range past the end of what is sent. A reader checks the
// image it received over the claimed range, so a range not carried whole is
// an image it cannot take. Ends are one past the last index, in 64 bits, so
// that no range wraps.
struct BlockReach {
    std::uint64_t claimedFirst = 0;
    std::uint64_t claimedEnd = 0;
    std::uint64_t carriedFirst = kFirstBlockIndex;
    std::uint64_t carriedEnd = kFirstBlockIndex;

    bool claimedRangeCarried() const {
        return claimedFirst >= carriedFirst && claimedEnd <= carriedEnd;
    }
};

// The header's range against `dataBlocks` blocks from block 1 on.
BlockReach blockReach(const HeaderBlockFields& header, std::size_t dataBlocks);

// One line for a range not carried whole: what the header claims and what
// the blocks carry, in hexadecimal.
std::string describeUncarriedRange(const BlockReach& reach);

// Every value the flash procedure derives before it touches the reader.
struct FlashPlan {
    HeaderBlockFields header;            // imageStart, imageLength, imageChecksum, identity
    std::uint32_t imageHighAddress = 0;  // rounded to the end of its page
    bool scrambled = false;
    std::uint16_t blockCount = 0;
    Block headerBlock{};  // scrambled already when `scrambled` is set
};

FlashPlan planFlash(const FirmwareImage& image, const HeaderIdentity& identity);

// Data block k (1 <= k <= blockCount): image indices kFirstBlockIndex +
// 512(k-1) onwards, scrambled on the copy when `scrambled` is set; the image
// itself is left as it is. Bytes that would lie past the image's end, and
// every byte of a block number 0, come out as kUnsetImageByte: no index
// outside the image is ever read.
void copyDataBlock(const FirmwareImage& image, std::uint16_t k, bool scrambled,
                   std::span<std::uint8_t, kBlockSize> out);

// The header block followed by blocks 1 to blockCount, exactly as the reader
// receives them.
std::vector<std::uint8_t> buildBlockStream(const FirmwareImage& image, const FlashPlan& plan);

}  // namespace firmware

#include "firmware/flash_layout.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace firmware {
namespace {

using testing::Each;
using testing::ElementsAre;

// A value for every image index that differs from its neighbours and from
// the unset byte, so a block taken from the wrong place shows.
std::uint8_t patternByte(std::size_t index) {
    return static_cast<std::uint8_t>((index * 7 + (index >> 8) + 3) & 0xFF);
}

// An image on the heap (it is 256 KiB) as a load would leave it: unset bytes
// 0xFF, and the pattern from `low` to `high` when there is data.
std::unique_ptr<FirmwareImage> makeImage(std::uint32_t low, std::uint32_t high) {
    auto image = std::make_unique<FirmwareImage>();
    image->imageBytes.fill(kUnsetImageByte);
    image->imageLowAddress = low;
    image->imageHighAddress = high;
    if (low != kNoLowAddress) {
        for (std::uint32_t index = low; index <= high && index < kImageSize; ++index) {
            image->imageBytes[index] = patternByte(index);
        }
    }
    return image;
}

std::unique_ptr<FirmwareImage> emptyImage() {
    return makeImage(kNoLowAddress, 0);
}

const HeaderIdentity kPlainIdentity{"0A1B", "5678", "0100", "TKW-5 Pro", "Plain header"};
const HeaderIdentity kScrambledIdentity{"0A1B", "5678", "0100", "TKW-5 Pro",
                                        std::string(kScramblingHeaderName)};

std::vector<std::uint8_t> headerBytes(const Block& block, std::size_t offset, std::size_t size) {
    return {block.begin() + static_cast<std::ptrdiff_t>(offset),
            block.begin() + static_cast<std::ptrdiff_t>(offset + size)};
}

std::uint32_t naiveSum(const FirmwareImage& image, std::uint32_t first, std::uint32_t last) {
    std::uint32_t sum = 0;
    for (std::uint32_t index = first; index <= last; ++index) sum += image.imageBytes[index];
    return sum;
}

// --- start, length, checksum, block count ------------------------------------

TEST(RoundedImageHighAddress, RaisesToTheEndOfTheSixteenKiBPage) {
    struct Case {
        std::uint32_t high;
        std::uint32_t rounded;
    };
    const Case cases[] = {
        {0x1FFFF, 0x1FFFF}, {0x10010, 0x13FFF}, {0x14000, 0x14000},       {0x24000, 0x24000},
        {0x23456, 0x23FFF}, {0x00000, 0x00000}, {0x3FFFF, 0x3FFFF},       {0x3C001, 0x3FFFF},
        {0x40000, 0x40000}, {0x10001, 0x13FFF}, {0xFFFFFFFF, 0xFFFFFFFF},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.high);
        EXPECT_EQ(roundedImageHighAddress(c.high), c.rounded);
    }
}

TEST(PlanFlash, DerivesStartLengthAndBlockCount) {
    struct Case {
        const char* name;
        std::uint32_t low;
        std::uint32_t high;
        std::uint32_t roundedHigh;
        std::uint32_t length;
        std::uint16_t blocks;
        std::vector<std::uint8_t> startAndLength;  // header bytes 0x34..0x3B
    };
    const Case cases[] = {
        {"one page-aligned 64 KiB",
         0x10000,
         0x1FFFF,
         0x1FFFF,
         0x10000,
         128,
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00}},
        {"high end raised to its page",
         0x10000,
         0x10010,
         0x13FFF,
         0x4000,
         32,
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x40, 0x00}},
        {"high end at a page start",
         0x10000,
         0x14000,
         0x14000,
         0x4001,
         33,
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x40, 0x01}},
        {"whole image",
         0x10000,
         0x3FFFF,
         0x3FFFF,
         0x30000,
         384,
         {0x00, 0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00}},
        {"span above the cap",
         0x08000,
         0x3FFFF,
         0x3FFFF,
         0x30000,
         384,
         {0x00, 0x00, 0x80, 0x00, 0x00, 0x03, 0x00, 0x00}},
        {"start inside the first page",
         0x12000,
         0x1FFFF,
         0x1FFFF,
         0xE000,
         112,
         {0x00, 0x01, 0x20, 0x00, 0x00, 0x00, 0xE0, 0x00}},
        {"no data wraps round to 2",
         kNoLowAddress,
         0,
         0,
         2,
         1,
         {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x02}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto image = makeImage(c.low, c.high);
        const FlashPlan plan = planFlash(*image, kPlainIdentity);
        EXPECT_EQ(plan.header.imageStart, c.low);
        EXPECT_EQ(plan.imageHighAddress, c.roundedHigh);
        EXPECT_EQ(plan.header.imageLength, c.length);
        EXPECT_EQ(plan.blockCount, c.blocks);
        EXPECT_EQ(headerBytes(plan.headerBlock, kHeaderImageStartOffset, 8), c.startAndLength);
        // The image the plan was made from is left as loaded.
        EXPECT_EQ(image->imageHighAddress, c.high);
    }
}

TEST(ImageLength, WrapsAsUnsigned32BitAndIsCapped) {
    struct Case {
        std::uint32_t start;
        std::uint32_t high;
        std::uint32_t length;
    };
    const Case cases[] = {
        {0x10000, 0x10000, 1}, {0x10000, 0x3FFFF, 0x30000}, {0x00000, 0x3FFFF, 0x30000},
        {0xFFFFFFFF, 0, 2},    {0x20000, 0x1FFFF, 0},       {0x20000, 0x10000, 0x30000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.start << ".." << c.high);
        EXPECT_EQ(imageLength(c.start, c.high), c.length);
    }
}

TEST(BlockCount, RoundsUpToWholeBlocks) {
    struct Case {
        std::uint32_t length;
        std::uint16_t blocks;
    };
    const Case cases[] = {{0, 0},       {1, 1},         {2, 1},         {512, 1},         {513, 2},
                          {0x4001, 33}, {0x10000, 128}, {0x30000, 384}, {0xFFFFFFFF, 384}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        EXPECT_EQ(blockCount(c.length), c.blocks);
    }
}

TEST(SumImageBytes, SumsInclusiveRangesAndNeverReadsOutside) {
    const auto image = makeImage(0x10000, 0x3FFFF);
    const std::uint32_t last = kImageSize - 1;
    struct Case {
        const char* name;
        std::uint32_t first;
        std::uint32_t last;
        std::uint32_t sum;
    };
    const Case cases[] = {
        {"first above last", 0x10001, 0x10000, 0},
        {"one byte", 0x10005, 0x10005, patternByte(0x10005)},
        {"range", 0x10000, 0x101FF, naiveSum(*image, 0x10000, 0x101FF)},
        {"whole image", 0, last, naiveSum(*image, 0, last)},
        {"last beyond the image is clamped", 0x3FFFE, 0xFFFFFFFF, naiveSum(*image, 0x3FFFE, last)},
        {"first beyond the image", kImageSize, kImageSize + 10, 0},
        {"empty image's wrapped range", 0xFFFFFFFF, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sumImageBytes(*image, c.first, c.last), c.sum);
    }
}

TEST(ImageChecksum, KeepsTheLow16BitsOfTheSumFromTheStart) {
    const auto image = makeImage(0x12000, 0x1FFFF);
    // Bytes before the start are outside the sum even though block 1 sends them.
    image->imageBytes[0x11FFF] = 0x77;
    const FlashPlan plan = planFlash(*image, kPlainIdentity);
    const std::uint32_t fullSum = naiveSum(*image, 0x12000, 0x1FFFF);
    ASSERT_GT(fullSum, 0xFFFFU);
    EXPECT_EQ(plan.header.imageChecksum, fullSum & 0xFFFF);
    EXPECT_THAT(headerBytes(plan.headerBlock, kHeaderChecksumOffset, 2),
                ElementsAre((fullSum >> 8) & 0xFF, fullSum & 0xFF));
}

TEST(ImageChecksum, EmptyImageSumsNothing) {
    const auto image = emptyImage();
    EXPECT_EQ(planFlash(*image, kPlainIdentity).header.imageChecksum, 0);
}

TEST(ImageChecksum, LengthRunningPastTheImageCountsOnlyItsBytes) {
    const auto image = makeImage(0x10000, 0x3FFFF);
    EXPECT_EQ(imageChecksum(*image, 0x30000, 0x30000),
              naiveSum(*image, 0x30000, kImageSize - 1) & 0xFFFF);
}

// --- identity fields ----------------------------------------------------------

TEST(HeaderIdentityValue, ReadsUpToFourHexDigits) {
    struct Case {
        std::string_view text;
        std::uint16_t value;
    };
    const Case cases[] = {
        {"0a1B", 0x0A1B}, {"12", 0x0012},   {"12345", 0x1234},  {"1x", 0x0010},
        {"", 0x0000},     {"ffff", 0xFFFF}, {"FFFF", 0xFFFF},   {"g1", 0x0001},
        {"0100", 0x0100}, {" 1 2", 0x0102}, {"abcdef", 0xABCD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text));
        EXPECT_EQ(headerIdentityValue(c.text), c.value);
    }
}

TEST(PlanFlash, PlacesTheIdentityBigEndian) {
    const auto image = makeImage(0x10000, 0x1FFFF);
    struct Case {
        HeaderIdentity identity;
        std::vector<std::uint8_t> bytes;  // header bytes 0x1C..0x21
    };
    const Case cases[] = {
        {{"0a1B", "5678", "0100", "P", "H"}, {0x0A, 0x1B, 0x56, 0x78, 0x01, 0x00}},
        {{"12", "12345", "1x", "P", "H"}, {0x00, 0x12, 0x12, 0x34, 0x00, 0x10}},
        {{"", "", "", "P", "H"}, {0, 0, 0, 0, 0, 0}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identity.usbVendorId);
        const FlashPlan plan = planFlash(*image, c.identity);
        EXPECT_EQ(headerBytes(plan.headerBlock, kHeaderVendorIdOffset, 6), c.bytes);
    }
}

TEST(HeaderProductName, PadsWithSpacesOrCutsToSixteen) {
    struct Case {
        std::string_view name;
        std::string_view bytes;
    };
    const Case cases[] = {
        {"ABC", "ABC             "},
        {"", "                "},
        {"0123456789ABCDEF", "0123456789ABCDEF"},
        {"0123456789ABCDEFGHIJ", "0123456789ABCDEF"},
    };
    const auto image = makeImage(0x10000, 0x1FFFF);
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name));
        const std::vector<std::uint8_t> expected(c.bytes.begin(), c.bytes.end());
        const HeaderProductName name = headerProductName(c.name);
        EXPECT_EQ(std::vector<std::uint8_t>(name.begin(), name.end()), expected);
        HeaderIdentity identity = kPlainIdentity;
        identity.inquiryProduct = std::string(c.name);
        const FlashPlan plan = planFlash(*image, identity);
        EXPECT_EQ(headerBytes(plan.headerBlock, kHeaderProductNameOffset, 16), expected);
    }
}

TEST(HeaderNameBytes, PadsWithZerosOrCutsToTwentyEightWithoutTerminator) {
    struct Case {
        std::string name;
        std::string bytes;
    };
    const Case cases[] = {
        {"Short", std::string("Short") + std::string(23, '\0')},
        {"", std::string(28, '\0')},
        {std::string(kScramblingHeaderName), std::string(kScramblingHeaderName)},
        {"VA-DE-LO Firmware Update R01 and more", "VA-DE-LO Firmware Update R01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(c.bytes.size(), kHeaderNameLength);
        const HeaderName name = headerNameBytes(c.name);
        EXPECT_EQ(std::string(name.begin(), name.end()), c.bytes);
    }
}

TEST(PlanFlash, LongHeaderNameRunsStraightIntoTheVendorId) {
    const auto image = makeImage(0x10000, 0x1FFFF);
    HeaderIdentity identity = kPlainIdentity;
    identity.headerName = std::string(40, 'N');
    const FlashPlan plan = planFlash(*image, identity);
    EXPECT_THAT(headerBytes(plan.headerBlock, 0, kHeaderNameLength), Each('N'));
    EXPECT_THAT(headerBytes(plan.headerBlock, kHeaderVendorIdOffset, 2), ElementsAre(0x0A, 0x1B));
}

// --- header block ------------------------------------------------------------

TEST(HeaderBlock, UnassignedBytesAreZeroBeforeScrambling) {
    const auto image = makeImage(0x10000, 0x1FFFF);
    const FlashPlan plain = planFlash(*image, kPlainIdentity);
    const FlashPlan scrambled = planFlash(*image, kScrambledIdentity);
    ASSERT_FALSE(plain.scrambled);
    ASSERT_TRUE(scrambled.scrambled);
    const std::pair<std::size_t, std::size_t> unassigned[] = {{0x32, 0x34}, {0x3E, kBlockSize}};
    for (const auto& [from, to] : unassigned) {
        for (std::size_t i = from; i < to; ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(plain.headerBlock[i], 0);
            EXPECT_EQ(scrambled.headerBlock[i], i % 256);
        }
    }
}

TEST(HeaderBlock, ScramblingXorsEveryByteWithItsOffset) {
    const auto image = makeImage(0x10000, 0x1FFFF);
    HeaderIdentity identity = kScrambledIdentity;
    identity.usbVendorId = "0511";
    const FlashPlan plan = planFlash(*image, identity);
    EXPECT_EQ(plan.headerBlock[kHeaderVendorIdOffset], 0x05 ^ 0x1C);
    EXPECT_EQ(plan.headerBlock[kHeaderVendorIdOffset], 0x19);

    const Block unscrambled = buildHeaderBlock(plan.header, false);
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        ASSERT_EQ(plan.headerBlock[i], unscrambled[i] ^ (i % 256)) << "offset " << i;
    }
}

TEST(ScramblingEnabled, OnlyForTheExactHeaderName) {
    struct Case {
        std::string name;
        bool on;
    };
    const Case cases[] = {
        {std::string(kScramblingHeaderName), true},
        {"va-de-lo firmware update r01", false},
        {"VA-DE-LO Firmware Update r01", false},
        {"VA-DE-LO Firmware Update R01 ", false},
        {"VA-DE-LO Firmware Update R01\r", false},
        {"VA-DE-LO Firmware Update R0", false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(scramblingEnabled(c.name), c.on);
    }
}

TEST(ParseHeaderBlock, ReadsBackWhatWasBuilt) {
    HeaderBlockFields fields;
    fields.headerNameBytes = headerNameBytes("Round trip name");
    fields.headerVendorId = 0x0A1B;
    fields.headerProductId = 0xC2D3;
    fields.headerRevision = 0x0405;
    fields.headerProductName = headerProductName("Reader name");
    fields.imageStart = 0x00012000;
    fields.imageLength = 0x0002E000;
    fields.imageChecksum = 0xBEEF;
    for (const bool scrambled : {false, true}) {
        SCOPED_TRACE(scrambled);
        const Block block = buildHeaderBlock(fields, scrambled);
        EXPECT_EQ(parseHeaderBlock(block, scrambled), fields);
    }
    // Reading a scrambled header as plain gives other numbers: the reader
    // has to know which way it was sent.
    EXPECT_NE(parseHeaderBlock(buildHeaderBlock(fields, true), false), fields);
}

TEST(BigEndian, MostSignificantByteFirst) {
    EXPECT_THAT(toBigEndian16(0x1234), ElementsAre(0x12, 0x34));
    EXPECT_THAT(toBigEndian32(0x12345678), ElementsAre(0x12, 0x34, 0x56, 0x78));
    EXPECT_THAT(toBigEndian32(0xFFFFFFFF), ElementsAre(0xFF, 0xFF, 0xFF, 0xFF));
    const std::array<std::uint8_t, 4> bytes = toBigEndian32(0x80010203);
    EXPECT_EQ(fromBigEndian32(bytes), 0x80010203U);
    const std::array<std::uint8_t, 2> pair = toBigEndian16(0xFE01);
    EXPECT_EQ(fromBigEndian16(pair), 0xFE01);
}

// --- data blocks -------------------------------------------------------------

TEST(CopyDataBlock, TakesBlockKFromIndex0x10000Onwards) {
    const auto image = makeImage(0x10000, 0x3FFFF);
    struct Case {
        std::uint16_t k;
        std::uint32_t firstIndex;
    };
    const Case cases[] = {{1, 0x10000}, {2, 0x10200}, {128, 0x1FE00}, {384, 0x3FE00}};
    Block block;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.k);
        copyDataBlock(*image, c.k, false, block);
        for (std::size_t i = 0; i < kBlockSize; ++i) {
            ASSERT_EQ(block[i], image->imageBytes[c.firstIndex + i]) << "byte " << i;
        }
    }
}

TEST(CopyDataBlock, BlockOneStartsAt0x10000WhateverTheImageStart) {
    const auto image = makeImage(0x12000, 0x1FFFF);
    Block block;
    copyDataBlock(*image, 1, false, block);
    EXPECT_THAT(block, Each(kUnsetImageByte));  // 0x10000..0x101FF were never loaded
    copyDataBlock(*image, 17, false, block);
    EXPECT_EQ(block[0], patternByte(0x12000));
}

TEST(CopyDataBlock, ScramblesTheCopyAndLeavesTheImage) {
    const auto image = makeImage(0x10000, 0x1FFFF);
    const FirmwareImage before = *image;
    Block plain;
    Block scrambled;
    copyDataBlock(*image, 3, false, plain);
    copyDataBlock(*image, 3, true, scrambled);
    EXPECT_EQ(scrambled[300], plain[300] ^ 44);
    EXPECT_EQ(scrambled[44], plain[44] ^ 44);
    EXPECT_EQ(scrambled[0], plain[0]);
    EXPECT_EQ(scrambled[511], plain[511] ^ 255);
    EXPECT_TRUE(
        std::equal(image->imageBytes.begin(), image->imageBytes.end(), before.imageBytes.begin()));
}

TEST(CopyDataBlock, BlocksOutsideTheImageComeOutUnset) {
    const auto image = makeImage(0x10000, 0x3FFFF);
    const std::uint16_t outside[] = {0, 385, 386, 0x1000, 0xFFFF};
    Block block;
    for (const std::uint16_t k : outside) {
        SCOPED_TRACE(k);
        block.fill(0);
        copyDataBlock(*image, k, false, block);
        EXPECT_THAT(block, Each(kUnsetImageByte));
    }
}

TEST(ScrambleBlock, XorsWithOffsetModulo256AndUndoesItself) {
    Block block;
    for (std::size_t i = 0; i < kBlockSize; ++i) block[i] = patternByte(i);
    const Block original = block;
    scrambleBlock(block);
    for (std::size_t i = 0; i < kBlockSize; ++i) {
        ASSERT_EQ(block[i], original[i] ^ (i & 0xFF)) << "byte " << i;
    }
    scrambleBlock(block);
    EXPECT_EQ(block, original);
}

// --- the stream as sent --------------------------------------------------------

TEST(BuildBlockStream, HeaderThenEveryDataBlockInOrder) {
    for (const HeaderIdentity& identity : {kPlainIdentity, kScrambledIdentity}) {
        SCOPED_TRACE(identity.headerName);
        const auto image = makeImage(0x10000, 0x14000);
        const FlashPlan plan = planFlash(*image, identity);
        const std::vector<std::uint8_t> stream = buildBlockStream(*image, plan);
        ASSERT_EQ(stream.size(), (plan.blockCount + 1U) * kBlockSize);
        EXPECT_TRUE(std::equal(plan.headerBlock.begin(), plan.headerBlock.end(), stream.begin()));
        Block block;
        for (std::uint16_t k = 1; k <= plan.blockCount; ++k) {
            copyDataBlock(*image, k, plan.scrambled, block);
            ASSERT_TRUE(std::equal(block.begin(), block.end(),
                                   stream.begin() + static_cast<std::ptrdiff_t>(k * kBlockSize)))
                << "block " << k;
        }
    }
}

TEST(BuildBlockStream, HeaderNameInOtherCaseSendsEverythingPlain) {
    const auto image = makeImage(0x10000, 0x13FFF);
    HeaderIdentity identity = kScrambledIdentity;
    identity.headerName = "va-de-lo firmware update r01";
    const FlashPlan plan = planFlash(*image, identity);
    EXPECT_FALSE(plan.scrambled);
    const std::vector<std::uint8_t> stream = buildBlockStream(*image, plan);
    EXPECT_TRUE(std::equal(stream.begin() + kBlockSize, stream.end(),
                           image->imageBytes.begin() + kFirstBlockIndex));
    EXPECT_EQ(parseHeaderBlock(std::span<const std::uint8_t, kBlockSize>(stream.data(), kBlockSize),
                               false),
              plan.header);
}

TEST(BuildBlockStream, ImageWithoutDataIsOneBlockOfUnsetBytes) {
    const auto image = emptyImage();
    const FlashPlan plan = planFlash(*image, kPlainIdentity);
    EXPECT_EQ(plan.header.imageStart, kNoLowAddress);
    EXPECT_EQ(plan.imageHighAddress, 0U);
    EXPECT_EQ(plan.header.imageLength, 2U);
    EXPECT_EQ(plan.header.imageChecksum, 0);
    ASSERT_EQ(plan.blockCount, 1);
    const std::vector<std::uint8_t> stream = buildBlockStream(*image, plan);
    ASSERT_EQ(stream.size(), 2 * kBlockSize);
    EXPECT_TRUE(std::all_of(stream.begin() + kBlockSize, stream.end(),
                            [](std::uint8_t byte) { return byte == kUnsetImageByte; }));
}

TEST(BuildBlockStream, HandMadePlanWithTheLargestCountStaysInsideTheImage) {
    const auto image = makeImage(0x10000, 0x3FFFF);
    FlashPlan plan = planFlash(*image, kPlainIdentity);
    plan.blockCount = 0xFFFF;
    const std::vector<std::uint8_t> stream = buildBlockStream(*image, plan);
    ASSERT_EQ(stream.size(), 0x10000U * kBlockSize);
    const auto pastImage = stream.begin() + (kMaxBlockCount + 1) * kBlockSize;
    EXPECT_TRUE(std::all_of(pastImage, stream.end(),
                            [](std::uint8_t byte) { return byte == kUnsetImageByte; }));
}

}  // namespace
}  // namespace firmware

namespace {

struct ReachCase {
    const char* what;
    std::uint32_t start;
    std::uint32_t length;
    std::size_t blocks;
    bool carried;
};

TEST(BlockReach, TheClaimedRangeMustLieInTheBlocksCarried) {
    const ReachCase cases[] = {
        {"from the first block index", 0x10000, 0x4000, 0x20, true},
        {"largest image", 0x10000, 0x30000, 0x180, true},
        {"start inside the padding of the last block", 0x10010, 0x3FF0, 0x20, true},
        {"start above the first block", 0x12000, 0x2000, 0x10, false},
        {"a block short", 0x10000, 0x4000, 0x1F, false},
        {"start below the first block", 0xFFFF, 0x10, 1, false},
        {"no data (start 0xffffffff, length 2)", 0xFFFFFFFF, 2, 1, false},
    };
    for (const ReachCase& c : cases) {
        firmware::HeaderBlockFields header;
        header.imageStart = c.start;
        header.imageLength = c.length;
        EXPECT_EQ(firmware::blockReach(header, c.blocks).claimedRangeCarried(), c.carried)
            << c.what;
    }
}

TEST(BlockReach, DescribesBothRanges) {
    firmware::HeaderBlockFields header;
    header.imageStart = 0x12000;
    header.imageLength = 0x2000;
    EXPECT_EQ(firmware::describeUncarriedRange(firmware::blockReach(header, 0x10)),
              "the header claims 0x12000-0x13fff but the blocks carry 0x10000-0x11fff");
    EXPECT_EQ(firmware::describeUncarriedRange(firmware::blockReach(header, 0)),
              "the header claims 0x12000-0x13fff but the blocks carry nothing");
}

}  // namespace

#include "firmware/srecord_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "firmware/chained_xor.h"
#include "firmware/standard_output.h"
#include "support/case_names.h"
#include "support/srecord_writer.h"

namespace firmware {
namespace {

using testsupport::PrintTo;

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// One S-record line. The count defaults to what the fields need; the checksum
// is right unless `checksumFlip` spoils it.
std::string srec(char type, const std::vector<std::uint8_t>& fields,
                 std::optional<std::uint8_t> count = std::nullopt, std::uint8_t checksumFlip = 0,
                 const std::string& lineEnd = "\r\n") {
    return testsupport::sRecordOfFields(
        type, fields, {.count = count, .checksumFlip = checksumFlip, .lineEnd = lineEnd});
}

std::vector<std::uint8_t> addressField(char type, std::uint32_t address) {
    return testsupport::sRecordAddress(type, address);
}

std::string dataRecord(char type, std::uint32_t address, const std::vector<std::uint8_t>& data) {
    return testsupport::sRecord(type, address, data, {.lineEnd = "\r\n"});
}

// A record with the given count and only its address field, so that the
// count alone decides what the reader makes of it.
std::string countOnlyRecord(char type, std::uint32_t address, std::uint8_t count) {
    return srec(type, addressField(type, address), count);
}

const std::string kHeader = srec('0', {0x00, 0x00, 'H', 'D', 'R'});
const std::string kS9 = srec('9', {0x00, 0x00});

// A source that also counts the reads it refused: a reader that goes on
// reading after the end would be reading past the data.
class CountingSource final : public ByteSource {
  public:
    explicit CountingSource(std::vector<std::uint8_t> bytes) : bytes_(std::move(bytes)) {}
    CountingSource(const CountingSource&) = delete;
    CountingSource& operator=(const CountingSource&) = delete;

    std::size_t refusedReads() const { return refusedReads_; }

  private:
    // The whole file is one window; every request after it is a read that
    // met the end.
    std::span<const std::uint8_t> refill() override {
        if (!handedOut_ && !bytes_.empty()) {
            handedOut_ = true;
            return bytes_;
        }
        ++refusedReads_;
        return {};
    }

    std::vector<std::uint8_t> bytes_;
    bool handedOut_ = false;
    std::size_t refusedReads_ = 0;
};

struct TestLoad {
    std::uint8_t result;
    std::string output;
    std::size_t refusedReads;
};

class SRecordTest : public testing::Test {
  protected:
    void SetUp() override { resetChainedDecoder(); }
    void TearDown() override { resetChainedDecoder(); }

    // Loads `plain` in its encoded form, as the update program meets it.
    TestLoad load(const std::string& plain, std::uint8_t key = 0x5C) {
        return loadRaw(encodeChainedLines(bytesOf(plain), key));
    }

    TestLoad loadRaw(std::vector<std::uint8_t> raw) {
        CountingSource source(std::move(raw));
        testing::internal::CaptureStdout();
        const std::uint8_t result = loadFirmwareImage(source, *image);
        return {result, testing::internal::GetCapturedStdout(), source.refusedReads()};
    }

    std::uint8_t at(std::uint32_t address) const { return image->imageBytes[address ^ 1]; }

    // True when no byte of the image differs from the fill.
    bool imageIsBlank() const {
        for (const std::uint8_t byte : image->imageBytes) {
            if (byte != kUnsetImageByte) return false;
        }
        return true;
    }

    std::unique_ptr<FirmwareImage> image = std::make_unique<FirmwareImage>();
};

TEST(HexDigitValue, GivesTheValueOfHexDigitsAndZeroForEverythingElse) {
    struct Case {
        char character;
        std::uint8_t value;
    };
    const Case cases[] = {
        {'0', 0},  {'5', 5},  {'9', 9}, {'A', 10}, {'C', 12}, {'F', 15},   {'a', 10},
        {'c', 12}, {'f', 15}, {'/', 0}, {':', 0},  {'@', 0},  {'G', 0},    {'`', 0},
        {'g', 0},  {'x', 0},  {' ', 0}, {'\0', 0}, {'S', 0},  {'\xB0', 0}, {'\xFF', 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(hexDigitValue(c.character), c.value)
            << "character " << static_cast<int>(c.character);
    }
}

TEST(HexDigitValue, AgreesWithTheDigitAlphabetsForEveryCharacterCode) {
    const std::string upper = "0123456789ABCDEF";
    const std::string lower = "0123456789abcdef";
    for (int code = 0; code <= 0xFF; ++code) {
        const auto character = static_cast<char>(code);
        std::size_t expected = upper.find(character);
        if (expected == std::string::npos) expected = lower.find(character);
        if (expected == std::string::npos) expected = 0;
        EXPECT_EQ(hexDigitValue(character), expected) << "character code " << code;
    }
}

TEST_F(SRecordTest, ReadHexByteCombinesTwoDigitsAndFlagsAShortFile) {
    struct Case {
        std::string text;
        std::uint8_t value;
        bool endOfFile;
    };
    const Case cases[] = {
        {"00", 0x00, false}, {"FF", 0xFF, false}, {"a5", 0xA5, false},
        {"7f", 0x7F, false}, {"G1", 0x01, false},  // a non-digit counts as 0
        {"1z", 0x10, false}, {"A", 0xA0, true},   {"", 0x00, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        resetChainedDecoder();
        const std::vector<std::uint8_t> raw = encodeChainedLines(bytesOf(c.text), 0x3C);
        CountingSource source(raw);
        bool endOfFile = false;
        EXPECT_EQ(readHexByte(source, endOfFile), c.value);
        EXPECT_EQ(endOfFile, c.endOfFile);
        EXPECT_LE(source.refusedReads(), 1u) << "only one read may meet the end";
    }
}

TEST_F(SRecordTest, ReadHexByteReadsNothingOnceTheEndWasSeen) {
    const std::vector<std::uint8_t> raw = encodeChainedLines(bytesOf("12"), 0x3C);
    CountingSource source(raw);
    bool endOfFile = true;
    EXPECT_EQ(readHexByte(source, endOfFile), 0);
    EXPECT_EQ(source.refusedReads(), 0u);
    endOfFile = false;
    EXPECT_EQ(readHexByte(source, endOfFile), 0x12) << "the bytes must still be there";
}

struct CountCase {
    char type;
    std::uint8_t count;
    std::int16_t result;
};

void PrintTo(const CountCase& c, std::ostream* out) {
    *out << "S" << c.type << " count " << static_cast<int>(c.count);
}

class RecordCounts : public SRecordTest, public testing::WithParamInterface<CountCase> {};

// The data count comes from the count byte alone, even when it is too small
// for the address field; -1 is then indistinguishable from a bad checksum.
TEST_P(RecordCounts, ResultFollowsTheCount) {
    const CountCase c = GetParam();
    const std::vector<std::uint8_t> raw =
        encodeChainedLines(bytesOf(countOnlyRecord(c.type, 0x012345, c.count)), 0x11);
    MemoryByteSource source(raw);
    std::uint32_t address = 0;
    RecordBuffer data{};
    EXPECT_EQ(readSRecord(source, address, data), c.result);
}

INSTANTIATE_TEST_SUITE_P(TooSmallAndEmpty, RecordCounts,
                         testing::Values(CountCase{'1', 3, 0}, CountCase{'2', 4, 0},
                                         CountCase{'3', 5, 0}, CountCase{'1', 2, -1},
                                         CountCase{'2', 3, -1}, CountCase{'3', 4, -1},
                                         CountCase{'1', 0, -3}, CountCase{'2', 2, -2},
                                         CountCase{'2', 0, -4}, CountCase{'3', 3, -2},
                                         CountCase{'3', 0, -5}));

TEST_F(SRecordTest, ReaderDeliversTheLargestRecordWhole) {
    std::vector<std::uint8_t> payload(252);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7 + 1);
    const std::string record = dataRecord('1', 0xBEEF, payload);
    ASSERT_EQ(record.substr(2, 2), "FF");
    const std::vector<std::uint8_t> raw = encodeChainedLines(bytesOf(record));
    MemoryByteSource source(raw);
    std::uint32_t address = 0;
    RecordBuffer data{};
    data.fill(0xEE);
    ASSERT_EQ(readSRecord(source, address, data), 252);
    EXPECT_EQ(address, 0xBEEFu);
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), data.begin()));
    EXPECT_EQ(data[252], 0xEE) << "nothing past the data";
}

TEST_F(SRecordTest, ReaderSkipsRecordsWithoutDataAndTakesTheNextDataRecord) {
    const std::string text = kHeader + srec('5', {0x00, 0x03}) +
                             srec('7', {0x00, 0x01, 0x00, 0x00}) + srec('8', {0x01, 0x00, 0x00}) +
                             dataRecord('2', 0x012345, {0xAB, 0xCD}) +
                             srec('0', {0x12, 0x34, 'x'}) + srec('5', {0x56, 0x78});
    const std::vector<std::uint8_t> raw = encodeChainedLines(bytesOf(text));
    MemoryByteSource source(raw);
    std::uint32_t address = 0;
    RecordBuffer data{};
    ASSERT_EQ(readSRecord(source, address, data), 2);
    EXPECT_EQ(address, 0x012345u);
    EXPECT_EQ(data[0], 0xAB);
    EXPECT_EQ(data[1], 0xCD);
    EXPECT_EQ(readSRecord(source, address, data), 0);
    EXPECT_EQ(address, 0u) << "each call starts from 0, and S0 and S5 keep their fields";
}

TEST_F(SRecordTest, TerminatorDropsExactlyOneCharacterAfterItself) {
    const std::vector<std::uint8_t> raw = encodeChainedLines(bytesOf(kS9 + "Z"));
    MemoryByteSource source(raw);
    std::uint32_t address = 0;
    RecordBuffer data{};
    ASSERT_EQ(readSRecord(source, address, data), 0);
    char next = 0;
    ASSERT_TRUE(readChainedChar(source, next));
    EXPECT_EQ(next, '\n') << "CR dropped, LF left unread";
    ASSERT_TRUE(readChainedChar(source, next));
    EXPECT_EQ(next, 'Z');
}

TEST_F(SRecordTest, SpreadsTheWordsOfARecordSwapped) {
    const TestLoad outcome =
        load(kHeader + dataRecord('2', 0x010000, {0x11, 0x22, 0x33, 0x44}) + kS9);
    EXPECT_EQ(outcome.result, kLoadOk);
    EXPECT_EQ(image->imageBytes[0x10001], 0x11);
    EXPECT_EQ(image->imageBytes[0x10000], 0x22);
    EXPECT_EQ(image->imageBytes[0x10003], 0x33);
    EXPECT_EQ(image->imageBytes[0x10002], 0x44);
    EXPECT_EQ(image->imageBytes[0x0FFFF], kUnsetImageByte);
    EXPECT_EQ(image->imageBytes[0x10004], kUnsetImageByte);
    EXPECT_EQ(image->imageLowAddress, 0x10000u);
    EXPECT_EQ(image->imageHighAddress, 0x10003u);
    EXPECT_EQ(outcome.output, "");
}

TEST_F(SRecordTest, StartsEveryLoadFromABlankImage) {
    image->imageBytes.fill(0x00);
    image->imageLowAddress = 0x12;
    image->imageHighAddress = 0xFFFFFF;
    ASSERT_EQ(load(dataRecord('3', 0x020000, {0x01, 0x02})).result, kLoadOk);
    EXPECT_EQ(image->imageLowAddress, 0x20000u);
    EXPECT_EQ(image->imageHighAddress, 0x20001u);
    image->imageBytes[0x20000] = kUnsetImageByte;
    image->imageBytes[0x20001] = kUnsetImageByte;
    EXPECT_TRUE(imageIsBlank());
}

TEST_F(SRecordTest, LaterRecordsWinAndAnyOrderIsFine) {
    const std::string text = dataRecord('2', 0x030000, {0xA0, 0xA1, 0xA2, 0xA3}) +
                             dataRecord('3', 0x010002, {0xB0}) +
                             dataRecord('2', 0x030001, {0xC1, 0xC2}) + kS9;
    ASSERT_EQ(load(text).result, kLoadOk);
    EXPECT_EQ(at(0x030000), 0xA0);
    EXPECT_EQ(at(0x030001), 0xC1);
    EXPECT_EQ(at(0x030002), 0xC2);
    EXPECT_EQ(at(0x030003), 0xA3);
    EXPECT_EQ(at(0x010002), 0xB0);
    EXPECT_EQ(image->imageLowAddress, 0x010002u);
    EXPECT_EQ(image->imageHighAddress, 0x030003u);
}

struct RangeCase {
    const char* name;
    std::string record;
    std::uint8_t result;
    std::uint32_t low;
    std::uint32_t high;
};

class LoadAddressRange : public SRecordTest, public testing::WithParamInterface<RangeCase> {};

TEST_P(LoadAddressRange, DecidesByTheFirstAddressAndTheImageEnd) {
    const RangeCase& c = GetParam();
    const TestLoad outcome = load(kHeader + c.record + kS9);
    EXPECT_EQ(outcome.result, c.result);
    EXPECT_EQ(image->imageLowAddress, c.low);
    EXPECT_EQ(image->imageHighAddress, c.high);
    if (c.result != kLoadOk) {
        EXPECT_TRUE(imageIsBlank()) << "a refused record stores nothing";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Records, LoadAddressRange,
    testing::Values(
        RangeCase{"S1AtZero", dataRecord('1', 0x0000, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"S1AtTop", dataRecord('1', 0xFFFF, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"S2BelowRange", dataRecord('2', 0x00FFFF, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"S3BelowRange", dataRecord('3', 0x00FFFF, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"S2AboveRange", dataRecord('2', 0x040001, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"S3AboveRange", dataRecord('3', 0x040001, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"S3FarAbove", dataRecord('3', 0xFFFFFFFF, {0x01, 0x02}), 2, kNoLowAddress, 0},
        RangeCase{"S2AtRangeStart", dataRecord('2', 0x010000, {0x01}), 0, 0x10000, 0x10000},
        RangeCase{"S3AtRangeStart", dataRecord('3', 0x010000, {0x01}), 0, 0x10000, 0x10000},
        // Exactly 0x40000 passes the range test; only a record without data
        // can stand there without reaching past the image.
        RangeCase{"S2NoDataAtRangeEnd", countOnlyRecord('2', 0x040000, 2), 0, 0x40000, 0x3FFFF},
        RangeCase{"S3NoDataAtRangeEnd", countOnlyRecord('3', 0x040000, 0), 0, 0x40000, 0x3FFFF},
        RangeCase{"S3FillsTheLastWord", dataRecord('3', 0x03FFFC, {1, 2, 3, 4}), 0, 0x3FFFC,
                  0x3FFFF},
        RangeCase{"S3RunsPastTheImage", dataRecord('3', 0x03FFFE, {1, 2, 3}), 2, kNoLowAddress, 0},
        RangeCase{"S2DataAtRangeEnd", dataRecord('2', 0x040000, {0x01}), 2, kNoLowAddress, 0},
        RangeCase{"NoDataBelowRange", countOnlyRecord('2', 0x00FFFF, 1), 2, kNoLowAddress, 0},
        RangeCase{"NoDataInRange", countOnlyRecord('2', 0x012345, 2), 0, 0x12345, 0x12344}),
    testsupport::NameOfCase{});

TEST_F(SRecordTest, ARefusedRecordKeepsWhatCameBefore) {
    const TestLoad outcome =
        load(dataRecord('2', 0x020000, {0x5A, 0xA5}) + dataRecord('3', 0x03FFFF, {0x01, 0x02}) +
             dataRecord('2', 0x021000, {0x77}));
    EXPECT_EQ(outcome.result, kLoadAddressOutOfRange);
    EXPECT_EQ(at(0x020000), 0x5A);
    EXPECT_EQ(at(0x020001), 0xA5);
    EXPECT_EQ(at(0x03FFFF), kUnsetImageByte);
    EXPECT_EQ(at(0x021000), kUnsetImageByte) << "nothing after the refused record is read";
    EXPECT_EQ(image->imageLowAddress, 0x020000u);
    EXPECT_EQ(image->imageHighAddress, 0x020001u);
}

TEST_F(SRecordTest, ARecordWithoutDataStillMovesTheBounds) {
    const TestLoad outcome =
        load(dataRecord('2', 0x020000, {0x01, 0x02}) + countOnlyRecord('3', 0x011000, 3) +
             countOnlyRecord('2', 0x030000, 1) + kS9);
    EXPECT_EQ(outcome.result, kLoadOk);
    EXPECT_EQ(image->imageLowAddress, 0x011000u);
    EXPECT_EQ(image->imageHighAddress, 0x02FFFFu);
    EXPECT_EQ(at(0x011000), kUnsetImageByte);
    EXPECT_EQ(at(0x030000), kUnsetImageByte);
}

// "Nothing to send" is judged by the bytes stored, not by the bounds: records
// too short for their address field move the bounds without storing anything.
TEST_F(SRecordTest, HoldsDataExactlyWhenADataByteWasStored) {
    struct Case {
        const char* name;
        std::string text;
        std::uint8_t result;
        bool holdsData;
        std::uint32_t low;
        std::uint32_t high;
    };
    const Case cases[] = {
        {"two S3 records too short for their address",
         countOnlyRecord('3', 0x020000, 3) + countOnlyRecord('3', 0x030000, 3) + kS9, kLoadOk,
         false, 0x020000, 0x02FFFF},
        {"no data record", kHeader + kS9, kLoadOk, false, kNoLowAddress, 0},
        {"an empty data record first", countOnlyRecord('2', 0x020000, 4) + kS9, kLoadOk, false,
         kNoLowAddress, 0},
        {"a bad checksum before any byte", srec('2', {0x02, 0x00, 0x00, 0x01}, {}, 1),
         kLoadChecksumError, false, kNoLowAddress, 0},
        {"a normal file",
         kHeader + dataRecord('2', 0x010000, {0x11, 0x22, 0x33, 0x44}) +
             dataRecord('3', 0x010004, {0x55, 0x66}) + kS9,
         kLoadOk, true, 0x010000, 0x010005},
        {"a single byte", dataRecord('2', 0x020000, {0x00}) + kS9, kLoadOk, true, 0x020000,
         0x020000},
        {"a single byte equal to the fill", dataRecord('3', 0x020000, {kUnsetImageByte}) + kS9,
         kLoadOk, true, 0x020000, 0x020000},
        {"a short record, then one byte",
         countOnlyRecord('3', 0x011000, 3) + dataRecord('2', 0x030000, {0x42}) + kS9, kLoadOk, true,
         0x011000, 0x030000},
        {"one byte, then a refused record",
         dataRecord('2', 0x020000, {0x42}) + dataRecord('2', 0x000100, {0x43}),
         kLoadAddressOutOfRange, true, 0x020000, 0x020000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        resetChainedDecoder();
        const TestLoad outcome = load(c.text);
        EXPECT_EQ(outcome.result, c.result);
        EXPECT_EQ(image->holdsData(), c.holdsData);
        EXPECT_EQ(image->imageLowAddress, c.low);
        EXPECT_EQ(image->imageHighAddress, c.high);
    }
}

TEST_F(SRecordTest, AFreshLoadForgetsThatTheLastOneStoredData) {
    ASSERT_EQ(load(dataRecord('2', 0x020000, {0x01}) + kS9).result, kLoadOk);
    ASSERT_TRUE(image->holdsData());
    resetChainedDecoder();
    ASSERT_EQ(load(countOnlyRecord('3', 0x020000, 3) + kS9).result, kLoadOk);
    EXPECT_FALSE(image->holdsData());
}

TEST_F(SRecordTest, AnEmptyDataRecordEndsTheLoad) {
    for (const char type : {'1', '2', '3'}) {
        SCOPED_TRACE(type);
        const std::uint8_t emptyCount =
            static_cast<std::uint8_t>(testsupport::sRecordAddressWidth(type) + 1);
        const TestLoad outcome =
            load(dataRecord('2', 0x020000, {0x42}) + countOnlyRecord(type, 0x010000, emptyCount) +
                 dataRecord('2', 0x030000, {0x43}) + srec('2', {0x03, 0x00, 0x00, 0x44}, {}, 1));
        EXPECT_EQ(outcome.result, kLoadOk) << "the bad record after it must not be read";
        EXPECT_EQ(at(0x020000), 0x42);
        EXPECT_EQ(at(0x030000), kUnsetImageByte);
        EXPECT_EQ(image->imageLowAddress, 0x020000u);
        EXPECT_EQ(image->imageHighAddress, 0x020000u);
    }
}

TEST_F(SRecordTest, ACountOneShortOfTheAddressFailsLikeABadChecksum) {
    const TestLoad outcome = load(countOnlyRecord('2', 0x020000, 3) + kS9);
    EXPECT_EQ(outcome.result, kLoadChecksumError);
    EXPECT_FALSE(image->holdsData());
}

TEST_F(SRecordTest, EveryRecordTypeChecksItsChecksum) {
    const std::vector<std::uint8_t> fieldsByType[] = {
        {0x00, 0x00, 'H'},
        {0x20, 0x00, 0x01},
        {0x02, 0x00, 0x00, 0x01},
        {0x00, 0x02, 0x00, 0x00, 0x01},
        {0x00, 0x01},
        {0x00, 0x01, 0x00, 0x00},
        {0x01, 0x00, 0x00},
        {0x00, 0x00},
    };
    const char types[] = {'0', '1', '2', '3', '5', '7', '8', '9'};
    const std::string before = dataRecord('2', 0x020000, {0x99});
    for (std::size_t i = 0; i < std::size(types); ++i) {
        for (const int flip : {0x01, 0x80, 0xFF}) {
            SCOPED_TRACE(testing::Message() << "S" << types[i] << " flip " << flip);
            const TestLoad outcome =
                load(before + srec(types[i], fieldsByType[i], {}, static_cast<std::uint8_t>(flip)) +
                     dataRecord('2', 0x030000, {0x98}));
            EXPECT_EQ(outcome.result, kLoadChecksumError);
            EXPECT_EQ(at(0x020000), 0x99) << "what came before stays";
            EXPECT_EQ(at(0x030000), kUnsetImageByte);
        }
    }
}

TEST_F(SRecordTest, OnlyTheFinalTerminatorEndsTheLoad) {
    struct Case {
        std::string terminator;
        bool laterDataLoaded;
    };
    const Case cases[] = {
        {srec('7', {0x00, 0x01, 0x00, 0x00}), true},
        {srec('8', {0x01, 0x00, 0x00}), true},
        {srec('9', {0x00, 0x00}), false},
        {srec('9', {0x12, 0x34}, {}, 0, "\n"), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.terminator);
        resetChainedDecoder();
        const TestLoad outcome = load(dataRecord('2', 0x020000, {0x01}) + c.terminator +
                                      dataRecord('2', 0x030000, {0x02}));
        EXPECT_EQ(outcome.result, kLoadOk);
        EXPECT_EQ(at(0x030000), c.laterDataLoaded ? 0x02 : kUnsetImageByte);
        EXPECT_EQ(image->imageHighAddress, c.laterDataLoaded ? 0x030000u : 0x020000u);
    }
}

TEST_F(SRecordTest, FilesWithoutDataLoadEmpty) {
    const std::string texts[] = {"", "\r\n\n", kHeader, kHeader + srec('5', {0x00, 0x00}) + kS9,
                                 kS9 + dataRecord('2', 0x020000, {0x01})};
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        resetChainedDecoder();
        const TestLoad outcome = load(text);
        EXPECT_EQ(outcome.result, kLoadOk);
        EXPECT_EQ(image->imageLowAddress, kNoLowAddress);
        EXPECT_EQ(image->imageHighAddress, 0u);
        EXPECT_TRUE(imageIsBlank());
        EXPECT_EQ(outcome.output, "");
    }
}

TEST_F(SRecordTest, LowerCaseHexDigitsLoadLikeUpperCase) {
    std::string lower = dataRecord('2', 0x01ABCD, {0xAB, 0xCD, 0xEF, 0xFA});
    for (char& character : lower) {
        if (character >= 'A' && character <= 'F')
            character = static_cast<char>(character - 'A' + 'a');
    }
    ASSERT_EQ(lower.substr(0, 2), "S2");
    const TestLoad outcome = load(lower + kS9);
    EXPECT_EQ(outcome.result, kLoadOk);
    EXPECT_EQ(at(0x01ABCD), 0xAB);
    EXPECT_EQ(at(0x01ABD0), 0xFA);
    EXPECT_EQ(outcome.output, "");
}

TEST_F(SRecordTest, StrayCharactersAndUnknownTypesAreReportedAndSkipped) {
    const std::string data = dataRecord('2', 0x020000, {0x31});
    struct Case {
        std::string prefix;
        std::string output;
    };
    const Case cases[] = {
        {"s", "S Error = 0x73\n"},
        {" \t", "S Error = 0x20\nS Error = 0x09\n"},
        {"\x80\xFF", "S Error = 0x80\nS Error = 0xff\n"},
        {"\r\n\r\r\n", ""},
        {"S4", "get_srecord: Error 52\n"},
        {"S6\n", "get_srecord: Error 54\n"},
        {"Sx", "get_srecord: Error 120\n"},
        // The type character is taken whatever it is, so a second S is no record start.
        {"SS", "get_srecord: Error 83\n"},
        {"S4A", "get_srecord: Error 52\nS Error = 0x41\n"},
        {"S\r\n", "get_srecord: Error 13\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.prefix);
        resetChainedDecoder();
        const TestLoad outcome = load(c.prefix + data + kS9);
        EXPECT_EQ(outcome.result, kLoadOk);
        EXPECT_EQ(outcome.output, c.output);
        EXPECT_EQ(at(0x020000), 0x31);
    }
}

// A host running the programs in its own process takes their standard output
// over; a redirect inside another gives the output back when it ends.
TEST_F(SRecordTest, ARedirectTakesTheDiagnosticsAndGivesThemBackWhenItEnds) {
    const std::string stray = "s" + dataRecord('2', 0x020000, {0x31}) + kS9;
    std::string outer;
    std::string inner;
    {
        const StandardOutputRedirect outerRedirect([&](std::string_view text) { outer += text; });
        {
            const StandardOutputRedirect innerRedirect(
                [&](std::string_view text) { inner += text; });
            EXPECT_EQ(load(stray).output, "") << "nothing reaches the process's standard output";
        }
        resetChainedDecoder();
        EXPECT_EQ(load("S4" + stray).output, "");
    }
    EXPECT_EQ(inner, "S Error = 0x73\n");
    EXPECT_EQ(outer, "get_srecord: Error 52\nS Error = 0x73\n");
    resetChainedDecoder();
    EXPECT_EQ(load(stray).output, "S Error = 0x73\n") << "standard output again";
}

TEST_F(SRecordTest, APlainFileDoesNotLoad) {
    const std::string plain = kHeader + dataRecord('2', 0x010000, {0x11, 0x22, 0x33, 0x44}) + kS9;
    const TestLoad outcome = loadRaw(bytesOf(plain));
    EXPECT_FALSE(image->holdsData());
    EXPECT_TRUE(imageIsBlank());
    EXPECT_NE(outcome.output.find("S Error = 0x"), std::string::npos) << outcome.output;
}

// Whatever part of a record the file ends in, the record fails, nothing of it
// is stored, and the reader stops at the first read that finds no byte.
TEST_F(SRecordTest, AFileEndingInsideARecordFailsIt) {
    const std::string before = dataRecord('3', 0x020000, {0x66});
    const std::string cutRecords[] = {
        dataRecord('2', 0x010000, {0x11, 0x22, 0x33, 0x44}),
        // Checksum F0: cut before its last digit, the missing digit would make it right.
        dataRecord('2', 0x010000, {0x09}),
        kHeader,
        srec('9', {0x00, 0x00}),
        srec('8', {0x01, 0x00, 0x00}),
    };
    for (const std::string& full : cutRecords) {
        const std::size_t recordLength = full.size() - 2;  // without CR LF
        // Cut after the type character at the earliest, before the last digit at the latest.
        for (std::size_t kept = 2; kept < recordLength; ++kept) {
            SCOPED_TRACE(full.substr(0, kept));
            resetChainedDecoder();
            const TestLoad outcome = load(before + full.substr(0, kept));
            EXPECT_EQ(outcome.result, kLoadChecksumError);
            EXPECT_EQ(outcome.refusedReads, 1u);
            EXPECT_EQ(at(0x020000), 0x66);
            EXPECT_EQ(at(0x010000), kUnsetImageByte);
            EXPECT_EQ(image->imageHighAddress, 0x020000u);
        }
    }
}

TEST_F(SRecordTest, AFileEndingAtARecordBoundaryLoads) {
    const std::string data = dataRecord('2', 0x020000, {0x66});
    const std::string s9Line = srec('9', {0x00, 0x00}, {}, 0, "");
    const std::string texts[] = {
        data + "S",                       // nothing after the record start
        data.substr(0, data.size() - 2),  // no line end after the last record
        data + s9Line,                    // no character left for the terminator to drop
    };
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        resetChainedDecoder();
        const TestLoad outcome = load(text);
        EXPECT_EQ(outcome.result, kLoadOk);
        EXPECT_EQ(outcome.refusedReads, 1u);
        EXPECT_EQ(at(0x020000), 0x66);
    }
}

// The decoder is not reset between loads: after a terminator whose CR alone
// was dropped, the next file begins mid-line and its key byte decodes as a
// stray character. The data of that file still arrives whole.
TEST_F(SRecordTest, ALoadInheritsTheDecoderStateOfThePreviousOne) {
    const std::string second = dataRecord('2', 0x030000, {0x21, 0x43}) + kS9;
    const std::vector<std::uint8_t> secondRaw = encodeChainedLines(bytesOf(second), 0x5C);
    struct Case {
        std::string lineEnd;
        bool resetBetween;
        bool strayKey;
    };
    const Case cases[] = {
        {.lineEnd = "\r\n", .resetBetween = false, .strayKey = true},
        {.lineEnd = "\n", .resetBetween = false, .strayKey = false},
        {.lineEnd = "\r\n", .resetBetween = true, .strayKey = false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << "CR LF " << (c.lineEnd.size() == 2) << " reset " << c.resetBetween);
        resetChainedDecoder();
        const std::vector<std::uint8_t> firstRaw = encodeChainedLines(
            bytesOf(dataRecord('2', 0x020000, {0x01}) + srec('9', {0x00, 0x00}, {}, 0, c.lineEnd)),
            0x5C);
        ASSERT_EQ(loadRaw(firstRaw).result, kLoadOk);
        if (c.resetBetween) resetChainedDecoder();

        const TestLoad outcome = loadRaw(secondRaw);
        EXPECT_EQ(outcome.result, kLoadOk);
        EXPECT_EQ(at(0x030000), 0x21);
        EXPECT_EQ(at(0x030001), 0x43);
        std::string expected;
        if (c.strayKey) {
            // The last raw byte read was the CR of the first file.
            const auto stray =
                static_cast<std::uint8_t>(secondRaw[0] ^ firstRaw[firstRaw.size() - 2]);
            ASSERT_TRUE(stray != '\r' && stray != '\n' && stray != 'S') << "pick another key";
            char text[32];
            std::snprintf(text, sizeof text, "S Error = 0x%02x\n", stray);
            expected = text;
        }
        EXPECT_EQ(outcome.output, expected);
    }
}

}  // namespace
// The tools' view of a load: the diagnostics go where they are sent, and a
// failed load names its record by line (from the load's first line), type
// and address.
class CollectedDiagnostics final : public LoaderDiagnostics {
  public:
    void report(std::string_view line) override { lines += line; }
    std::string lines;
};

TEST_F(SRecordTest, AFailedLoadNamesTheRecordThatEndedIt) {
    std::vector<std::uint8_t> fields = addressField('3', 0x00012000);
    fields.push_back(0x01);
    const std::string badChecksum = srec('3', fields, std::nullopt, 0x01);
    struct Case {
        std::string text;
        std::uint8_t result;
        std::optional<std::size_t> line;
        char type;
        std::uint32_t address;
    };
    const Case cases[] = {
        {kHeader + dataRecord('2', 0x010000, {1}) + kS9, kLoadOk, std::nullopt, 0, 0},
        {kHeader + "\n" + dataRecord('2', 0x010000, {1}) + badChecksum, kLoadChecksumError, 4, '3',
         0x12000},
        {kHeader + "x\n" + dataRecord('2', 0x00FFFF, {1}), kLoadAddressOutOfRange, 3, '2', 0xFFFF},
        {dataRecord('1', 0x1234, {1}), kLoadAddressOutOfRange, 1, '1', 0x1234},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        // Lines count from the load's start, whatever the decoder saw before.
        resetChainedDecoder();
        CountingSource earlier(encodeChainedLines(bytesOf(kHeader + kHeader)));
        CollectedDiagnostics ignored;
        loadFirmwareImage(earlier, *image, ignored);

        CountingSource source(encodeChainedLines(bytesOf(c.text)));
        CollectedDiagnostics diagnostics;
        testing::internal::CaptureStdout();
        const LoadOutcome outcome = loadFirmwareImage(source, *image, diagnostics);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "sent to the sink instead";
        EXPECT_EQ(outcome.result, c.result);
        ASSERT_EQ(outcome.endingRecord.has_value(), c.line.has_value());
        if (!c.line) continue;
        EXPECT_EQ(outcome.endingRecord->line, *c.line);
        EXPECT_EQ(outcome.endingRecord->type, c.type);
        EXPECT_EQ(outcome.endingRecord->address, c.address);
    }
}

TEST_F(SRecordTest, DiagnosticsGoToTheSinkExactlyAsPrinted) {
    CountingSource source(encodeChainedLines(bytesOf("s" + kHeader + "S4" + kS9)));
    CollectedDiagnostics diagnostics;
    EXPECT_EQ(loadFirmwareImage(source, *image, diagnostics).result, kLoadOk);
    EXPECT_EQ(diagnostics.lines, "S Error = 0x73\nget_srecord: Error 52\n");
}

}  // namespace firmware

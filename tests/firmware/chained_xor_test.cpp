#include "firmware/chained_xor.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace firmware {
namespace {

std::vector<std::uint8_t> bytesOf(const std::string& text) {
    return {text.begin(), text.end()};
}

// Every test starts as the program does, with the decoder at a line start.
class ChainedXorTest : public testing::Test {
  protected:
    void SetUp() override { resetChainedDecoder(); }
    void TearDown() override { resetChainedDecoder(); }
};

// Everything readChainedChar delivers from `source` until it reports the end.
std::string readAll(ByteSource& source) {
    std::string text;
    char character = 0;
    while (readChainedChar(source, character)) text.push_back(character);
    return text;
}

struct KeyPair {
    std::uint8_t lineOneKey;
    std::uint8_t lineTwoKey;
};

void PrintTo(const KeyPair& keys, std::ostream* out) {
    *out << "keys " << static_cast<int>(keys.lineOneKey) << ", "
         << static_cast<int>(keys.lineTwoKey);
}

class InPlaceDecoderKeys : public ChainedXorTest, public testing::WithParamInterface<KeyPair> {};

TEST_P(InPlaceDecoderKeys, DecodesTwoLinesWhateverTheirKeys) {
    const auto [k, m] = GetParam();
    const auto a = static_cast<std::uint8_t>(k ^ 0x41);
    std::vector<std::uint8_t> buffer{k, a, static_cast<std::uint8_t>(a ^ 0x0A), m,
                                     static_cast<std::uint8_t>(m ^ 0x42)};
    const std::size_t decoded =
        decodeChainedLines(buffer, static_cast<std::ptrdiff_t>(buffer.size()));
    EXPECT_EQ(decoded, 3u);
    EXPECT_EQ(buffer[0], 'A');
    EXPECT_EQ(buffer[1], '\n');
    EXPECT_EQ(buffer[2], 'B');
    EXPECT_EQ(buffer[3], 0);
}

INSTANTIATE_TEST_SUITE_P(AnyKeys, InPlaceDecoderKeys,
                         testing::Values(KeyPair{0x00, 0x00}, KeyPair{0x41, 0x42},
                                         KeyPair{0xA5, 0x5A}, KeyPair{0xFF, 0x0A},
                                         KeyPair{0x0A, 0xFF}));

TEST_F(ChainedXorTest, InPlaceDecoderWithNoInputWritesOnlyTheTerminator) {
    for (const std::ptrdiff_t length :
         {std::ptrdiff_t{0}, std::ptrdiff_t{-1}, std::ptrdiff_t{-300}}) {
        SCOPED_TRACE(length);
        std::vector<std::uint8_t> buffer(6, 0x77);
        EXPECT_EQ(decodeChainedLines(buffer, length), 0u);
        EXPECT_EQ(buffer, (std::vector<std::uint8_t>{0x00, 0x77, 0x77, 0x77, 0x77, 0x77}));
    }
}

TEST_F(ChainedXorTest, InPlaceDecoderStopsWhereTheGivenLengthEnds) {
    const std::vector<std::uint8_t> encoded = encodeChainedLines(bytesOf("ABCD\nEF\n"), 0x33);
    struct Case {
        std::ptrdiff_t length;
        std::string expected;
    };
    const Case cases[] = {
        {1, ""},              // only the key byte
        {3, "AB"},            // stops in the middle of the first line
        {6, "ABCD\n"},        // exactly the first line
        {7, "ABCD\n"},        // plus the second line's key
        {8, "ABCD\nE"},       // one byte into the second line
        {100, "ABCD\nEF\n"},  // more than the buffer holds: taken as its size
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<std::uint8_t> buffer = encoded;
        const std::size_t decoded = decodeChainedLines(buffer, c.length);
        ASSERT_EQ(decoded, c.expected.size());
        EXPECT_EQ(
            std::string(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(decoded)),
            c.expected);
        EXPECT_EQ(buffer[decoded], 0);
    }
}

TEST_F(ChainedXorTest, InPlaceDecoderLeavesAnEmptyBufferAlone) {
    std::vector<std::uint8_t> empty;
    EXPECT_EQ(decodeChainedLines(empty, 5), 0u);
}

const std::string kPlainTexts[] = {
    "",
    "\n",
    "\n\n\n",
    "S00600004844521B\r\nS2080100001122334452\r\nS9030000FC\r\n",
    "no line end at all",
    "last line unterminated\nsecond",
    std::string("\0\xff\x0a\x0d\x80 bytes of every kind\n\x0a\x00", 27),
};

const std::optional<std::uint8_t> kKeys[] = {std::nullopt, 0x00, 0x0A, 0x5A, 0xFF};

TEST_F(ChainedXorTest, EncoderRoundTripsThroughEveryDecoder) {
    for (const std::string& text : kPlainTexts) {
        for (const std::optional<std::uint8_t>& key : kKeys) {
            SCOPED_TRACE(testing::Message() << "text of " << text.size() << " bytes, key "
                                            << (key ? static_cast<int>(*key) : -1));
            const std::vector<std::uint8_t> plain = bytesOf(text);
            const std::vector<std::uint8_t> encoded = encodeChainedLines(plain, key);

            EXPECT_EQ(decodeChainedFile(encoded), plain);

            resetChainedDecoder();
            MemoryByteSource source(encoded);
            EXPECT_EQ(readAll(source), text);

            std::vector<std::uint8_t> buffer = encoded;
            buffer.push_back(0xEE);  // room for the terminator of an empty input
            const std::size_t decoded =
                decodeChainedLines(buffer, static_cast<std::ptrdiff_t>(encoded.size()));
            EXPECT_EQ(std::vector<std::uint8_t>(
                          buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(decoded)),
                      plain);
            EXPECT_EQ(buffer[decoded], 0);
        }
    }
}

TEST_F(ChainedXorTest, EncoderPutsOneKeyBytePerLine) {
    const std::string text = "one\ntwo\n\nfour";
    const std::size_t lineStarts[] = {0, 4, 8, 9};
    const std::vector<std::uint8_t> plain = bytesOf(text);
    for (const std::optional<std::uint8_t>& key : kKeys) {
        const std::vector<std::uint8_t> encoded = encodeChainedLines(plain, key);
        ASSERT_EQ(encoded.size(), plain.size() + std::size(lineStarts));
        for (std::size_t line = 0; line < std::size(lineStarts); ++line) {
            // Line n's key sits n bytes after its plain start: one key per earlier line.
            EXPECT_EQ(encoded[lineStarts[line] + line], key.value_or(defaultLineKey(line)))
                << "line " << line;
        }
    }
}

TEST_F(ChainedXorTest, EncoderOutputIsReproducible) {
    const std::vector<std::uint8_t> plain = bytesOf(kPlainTexts[3]);
    EXPECT_EQ(encodeChainedLines(plain), encodeChainedLines(plain));
    EXPECT_EQ(encodeChainedLines(plain, 0x21), encodeChainedLines(plain, 0x21));
    // The default keys are a fixed sequence, not one constant.
    EXPECT_NE(encodeChainedLines(plain), encodeChainedLines(plain, defaultLineKey(0)));
}

TEST_F(ChainedXorTest, StreamingDecoderReportsTheEndOfTheFile) {
    struct Case {
        std::vector<std::uint8_t> raw;
        std::string expected;
    };
    const Case cases[] = {
        {{}, ""},      // nothing at all
        {{0x5A}, ""},  // a key byte alone yields nothing
        {{0x00, 'A', 'A' ^ 'B'}, "AB"},
        {{0x00, 0x0A, 0x7F, 0x7F ^ 'x'}, "\nx"},  // LF ends the line: 0x7F is the next key
    };
    for (const Case& c : cases) {
        resetChainedDecoder();
        MemoryByteSource source(c.raw);
        EXPECT_EQ(readAll(source), c.expected);
        char character = 0;
        EXPECT_FALSE(readChainedChar(source, character)) << "the end must stay the end";
    }
}

// The decoder's state belongs to the process, not to a file: a file left in
// the middle of a line makes the next file start in the middle of a line.
TEST_F(ChainedXorTest, StreamingStateCarriesFromOneFileToTheNext) {
    const std::vector<std::uint8_t> first = encodeChainedLines(bytesOf("AB\n"), 0x10);
    MemoryByteSource firstSource(first);
    char character = 0;
    ASSERT_TRUE(readChainedChar(firstSource, character));
    ASSERT_EQ(character, 'A');
    ASSERT_TRUE(readChainedChar(firstSource, character));
    ASSERT_EQ(character, 'B');

    const std::vector<std::uint8_t> second = encodeChainedLines(bytesOf("CD"), 0x20);
    {
        MemoryByteSource secondSource(second);
        // The second file's key byte is taken as data, against the last raw byte read.
        std::string expected;
        expected.push_back(static_cast<char>(second[0] ^ first[2]));
        expected += "CD";
        EXPECT_EQ(readAll(secondSource), expected);
        EXPECT_FALSE(chainedDecoderState().atLineStart);
    }

    resetChainedDecoder();
    EXPECT_TRUE(chainedDecoderState().atLineStart);
    MemoryByteSource again(second);
    EXPECT_EQ(readAll(again), "CD");
}

TEST_F(ChainedXorTest, StreamingStateAfterAFullLineStartsTheNextFileCleanly) {
    const std::vector<std::uint8_t> first = encodeChainedLines(bytesOf("AB\n"), 0x10);
    MemoryByteSource firstSource(first);
    EXPECT_EQ(readAll(firstSource), "AB\n");
    const std::vector<std::uint8_t> second = encodeChainedLines(bytesOf("CD"), 0x20);
    MemoryByteSource secondSource(second);
    EXPECT_EQ(readAll(secondSource), "CD");
}

}  // namespace
}  // namespace firmware

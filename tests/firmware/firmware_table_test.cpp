#include "firmware/firmware_table.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/chained_xor.h"

namespace firmware {
namespace {

std::vector<std::uint8_t> encode(std::string_view plain,
                                 std::optional<std::uint8_t> key = std::nullopt) {
    const std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
    return encodeChainedLines(bytes, key);
}

const ReaderIdentity kReader{"0A1B", "1234", "0100", "TKW-5 Reader"};
constexpr std::string_view kMatchingRow =
    "0A1B;1234;5678;TKW-5 Reader;TKW-5 Pro;0100;VA-DE-LO Firmware Update R01;0200;fw\\tkw5.mot";
const FirmwareTableRow kMatchingFields{"0A1B",
                                       "1234",
                                       "5678",
                                       "TKW-5 Reader",
                                       "TKW-5 Pro",
                                       "0100",
                                       "VA-DE-LO Firmware Update R01",
                                       "0200",
                                       "fw\\tkw5.mot"};

// --- decoding ---------------------------------------------------------------

TEST(DecodeFirmwareTableText, GivesBackTheEncodedTextWhateverTheLineKeys) {
    const std::string text = std::string(kMatchingRow) + "\n\nsecond line\r\nlast";
    const std::optional<std::uint8_t> keys[] = {std::nullopt, 0x00, 0x0A, 0x5A, 0xFF};
    for (const auto& key : keys) {
        SCOPED_TRACE(key ? *key : -1);
        EXPECT_EQ(decodeFirmwareTableText(encode(text, key)), text);
    }
}

TEST(DecodeFirmwareTableText, EndsAtTheFirstDecodedZeroByte) {
    const std::string text("abc\0def\nghi", 11);
    EXPECT_EQ(decodeFirmwareTableText(encode(text)), "abc");
}

TEST(DecodeFirmwareTableText, EmptyFileGivesEmptyText) {
    EXPECT_EQ(decodeFirmwareTableText({}), "");
}

TEST(DecodeFirmwareTableText, PlainUnencodedTableDoesNotReadBack) {
    const std::string plain(kMatchingRow);
    const std::vector<std::uint8_t> raw(plain.begin(), plain.end());
    EXPECT_EQ(findFirmwareRow(decodeFirmwareTableText(raw), kReader), std::nullopt);
}

// A table of filler lines whose encoded form is exactly `fillerBytes` long,
// followed by the matching row.
std::vector<std::uint8_t> tableWithRowAt(std::size_t fillerBytes) {
    // Each filler line "x...x\n" of n plain bytes takes n + 1 raw bytes.
    constexpr std::size_t kFillerLineRaw = 100;
    std::string plain;
    std::size_t raw = 0;
    while (raw < fillerBytes) {
        const std::size_t lineRaw = std::min(kFillerLineRaw, fillerBytes - raw);
        EXPECT_GE(lineRaw, 2U) << "filler cannot end on a one-byte line";
        plain += std::string(lineRaw - 2, 'x') + "\n";
        raw += lineRaw;
    }
    plain += kMatchingRow;
    const auto encoded = encode(plain);
    EXPECT_EQ(encoded.size(), fillerBytes + 1 + kMatchingRow.size());
    return encoded;
}

TEST(DecodeFirmwareTableText, OnlyTheFirst32KiBOfTheFileAreSeen) {
    const std::size_t rowRaw = kMatchingRow.size() + 1;  // key byte and the row
    struct Case {
        const char* name;
        std::size_t fillerBytes;
        std::optional<std::string> fileName;  // of the matched row; none = no match
    };
    const Case cases[] = {
        {"row ends at the limit", kTableReadLimit - rowRaw, "fw\\tkw5.mot"},
        {"row's last byte beyond the limit", kTableReadLimit - rowRaw + 1, "fw\\tkw5.mo"},
        {"row starts at the limit", kTableReadLimit, std::nullopt},
        {"row starts beyond the limit", kTableReadLimit + 98, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto row =
            findFirmwareRow(decodeFirmwareTableText(tableWithRowAt(c.fillerBytes)), kReader);
        ASSERT_EQ(row.has_value(), c.fileName.has_value());
        if (row) {
            EXPECT_EQ(row->firmwareFileName, *c.fileName);
        }
    }
}

// --- cutting ----------------------------------------------------------------

TEST(CutFirmwareTableRow, CutsFieldsByWidthAndSemicolon) {
    struct Case {
        const char* name;
        std::string_view line;
        FirmwareTableRow expected;
    };
    const Case cases[] = {
        {"full row", kMatchingRow, kMatchingFields},
        {"other separators after fixed fields",
         "0A1B,1234-5678 TKW-5 Reader;TKW-5 Pro;0100\tVA-DE-LO Firmware Update "
         "R01;0200xfw\\tkw5.mot",
         kMatchingFields},
        {"fixed field of five characters loses its fifth",
         "0A1B51234;5678;P;N;01009H;02005f",
         {"0A1B", "1234", "5678", "P", "N", "0100", "H", "0200", "f"}},
        {"semicolon in product name ends the field",
         "0A1B;1234;5678;TKW;5;New;0100;H;0200;f",
         {"0A1B", "1234", "5678", "TKW", "5", "New;", "100", "H;02", "0;f"}},
        {"CR stays in the file name",
         "0A1B;1234;5678;P;N;0100;H;0200;fw.mot\r",
         {"0A1B", "1234", "5678", "P", "N", "0100", "H", "0200", "fw.mot\r"}},
        {"file name keeps semicolons and blanks",
         "0A1B;1234;5678;P;N;0100;H;0200; a;b ",
         {"0A1B", "1234", "5678", "P", "N", "0100", "H", "0200", " a;b "}},
        {"empty variable fields",
         "0A1B;1234;5678;;;0100;;0200;",
         {"0A1B", "1234", "5678", "", "", "0100", "", "0200", ""}},
        {"empty line", "", {}},
        {"vendor id only, no separator", "0A1B", {"0A1B", "", "", "", "", "", "", "", ""}},
        {"short product id", "0A1B;12", {"0A1B", "12", "", "", "", "", "", "", ""}},
        {"cut short after the product name",
         "0A1B;1234;5678;TKW-5 Reader",
         {"0A1B", "1234", "5678", "TKW-5 Reader", "", "", "", "", ""}},
        {"cut short after the header name",
         "0A1B;1234;5678;P;N;0100;H;",
         {"0A1B", "1234", "5678", "P", "N", "0100", "H", "", ""}},
        {"short revision",
         "0A1B;1234;5678;P;N;01",
         {"0A1B", "1234", "5678", "P", "N", "01", "", "", ""}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(cutFirmwareTableRow(c.line), c.expected);
    }
}

TEST(FirmwareTableLines, SplitsAtLineFeedsOnly) {
    struct Case {
        std::string_view text;
        std::vector<std::string_view> lines;
    };
    const Case cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\n", {"a"}},
        {"\n", {""}},
        {"\n\n", {"", ""}},
        {"a\n\nb", {"a", "", "b"}},
        {"a\r\nb\r\n", {"a\r", "b\r"}},
        {"a\rb", {"a\rb"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(std::string(c.text)));
        EXPECT_EQ(firmwareTableLines(c.text), c.lines);
        EXPECT_EQ(firmwareTableRows(c.text).size(), c.lines.size());
    }
}

TEST(FirmwareTableRows, CutsEveryLineInOrder) {
    const std::string text = std::string(kMatchingRow) + "\n\n0A1B;12";
    const std::vector<FirmwareTableRow> expected = {
        kMatchingFields, {}, {"0A1B", "12", "", "", "", "", "", "", ""}};
    EXPECT_EQ(firmwareTableRows(text), expected);
}

// --- matching ---------------------------------------------------------------

TEST(FindFirmwareRow, ComparesTheFourKeysExactly) {
    struct Case {
        const char* name;
        ReaderIdentity reader;
        bool matches;
    };
    const Case cases[] = {
        {"same identity", kReader, true},
        {"vendor id in lower case", {"0a1b", "1234", "0100", "TKW-5 Reader"}, false},
        {"product id differs", {"0A1B", "1235", "0100", "TKW-5 Reader"}, false},
        {"revision differs", {"0A1B", "1234", "0101", "TKW-5 Reader"}, false},
        {"product name case", {"0A1B", "1234", "0100", "TKW-5 READER"}, false},
        {"trailing blank in product name", {"0A1B", "1234", "0100", "TKW-5 Reader "}, false},
        {"product name is a prefix", {"0A1B", "1234", "0100", "TKW-5"}, false},
        {"new product id is not a key", {"0A1B", "5678", "0100", "TKW-5 Reader"}, false},
        {"new product name is not a key", {"0A1B", "1234", "0100", "TKW-5 Pro"}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(rowMatchesReader(kMatchingFields, c.reader), c.matches);
        EXPECT_EQ(findFirmwareRow(kMatchingRow, c.reader).has_value(), c.matches);
    }
}

TEST(FindFirmwareRow, HexDigitCaseInTheTableCounts) {
    const ReaderIdentity upper{"0A1B", "ABCD", "0100", "P"};
    struct Case {
        std::string_view row;
        bool matches;
    };
    const Case cases[] = {
        {"0A1B;ABCD;0000;P;N;0100;H;0200;f", true},
        {"0a1B;ABCD;0000;P;N;0100;H;0200;f", false},
        {"0A1B;ABCd;0000;P;N;0100;H;0200;f", false},
        {"0A1B;ABCD;0000;P;N;010O;H;0200;f", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.row));
        EXPECT_EQ(findFirmwareRow(c.row, upper).has_value(), c.matches);
    }
}

TEST(FindFirmwareRow, FirstMatchingRowWins) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::size_t> line;
        std::string fileName;  // of the match
    };
    const std::string other = "FFFF;FFFF;0000;Other;N;0100;H;0200;other.mot";
    const std::string second = "0A1B;1234;9999;TKW-5 Reader;Second;0100;H2;0300;second.mot";
    const Case cases[] = {
        {"only row", std::string(kMatchingRow), 0, "fw\\tkw5.mot"},
        {"two matching rows", std::string(kMatchingRow) + "\n" + second, 0, "fw\\tkw5.mot"},
        {"later rows after non-matching and empty lines",
         other + "\n\n\n" + second + "\n" + std::string(kMatchingRow) + "\n", 3, "second.mot"},
        {"CR LF line ends keep the CR in the file name",
         other + "\r\n" + std::string(kMatchingRow) + "\r\n", 1, "fw\\tkw5.mot\r"},
        {"no matching row", other + "\n" + other, std::nullopt, ""},
        {"empty table", "", std::nullopt, ""},
        {"only empty lines", "\n\n\n", std::nullopt, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(findFirmwareRowLine(c.text, kReader), c.line);
        const auto row = findFirmwareRow(c.text, kReader);
        ASSERT_EQ(row.has_value(), c.line.has_value());
        if (!row) continue;
        EXPECT_EQ(row->firmwareFileName, c.fileName);
        EXPECT_EQ(*row, cutFirmwareTableRow(firmwareTableLines(c.text)[*c.line]));
    }
}

TEST(FindFirmwareRow, ShortRowMatchesOnlyAReaderWithEmptyRevision) {
    const std::string_view shortRow = "0A1B;1234;5678;TKW-5 Reader";
    ReaderIdentity reader = kReader;
    EXPECT_FALSE(findFirmwareRow(shortRow, reader).has_value());

    reader.usbRevision = "";
    const auto row = findFirmwareRow(shortRow, reader);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(row->newProductId, "5678");
    EXPECT_EQ(row->newProductName, "");
    EXPECT_EQ(row->headerName, "");
    EXPECT_EQ(row->handoffRevision, "");
    EXPECT_EQ(row->firmwareFileName, "");
}

TEST(FindFirmwareRow, EmptyLineMatchesAnAllEmptyIdentity) {
    // A reader whose identification found nothing has empty strings, and a
    // blank line of the table is a row with four empty keys.
    const ReaderIdentity nothing{};
    EXPECT_EQ(findFirmwareRowLine(std::string(kMatchingRow) + "\n\n", nothing), 1U);
    EXPECT_EQ(findFirmwareRowLine(kMatchingRow, nothing), std::nullopt);
}

TEST(FindFirmwareRow, WorksOnTheDecodedFile) {
    const std::string text = "FFFF;FFFF;0000;Other;N;0100;H;0200;o\n" + std::string(kMatchingRow);
    const auto row = findFirmwareRow(decodeFirmwareTableText(encode(text)), kReader);
    ASSERT_TRUE(row.has_value());
    EXPECT_EQ(*row, kMatchingFields);
}

}  // namespace
}  // namespace firmware

// The firmware table reader over arbitrary raw table files. The first input
// byte picks which row's keys the reader presents (and whether one of them is
// spoilt, and whether the file lies across the edge of the read window), so
// that matches actually happen; the rest is the raw file, and then the plain
// text of one.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/chained_xor.h"
#include "firmware/firmware_table.h"

namespace {

using firmware::FirmwareTableRow;
using firmware::ReaderIdentity;

constexpr std::uint8_t kSpoilKeyBit = 0x80;
constexpr std::size_t kKeyCount = 4;
// A selector with all of these bits set puts a filler line before the file,
// so that the file runs over the edge of the read window with only its first
// kBytesInsideWindow inside. Inputs stay short, and only these few pay for
// decoding a whole window: left to grow to a window's length, every input
// would, at a tenth of the speed.
constexpr std::uint8_t kLongFileBits = 0x70;
constexpr std::size_t kBytesInsideWindow = 32;
constexpr std::uint8_t kFillerCharacter = 'x';

void check(bool condition) {
    if (!condition) std::abort();
}

std::array<const std::string*, 9> fieldsOf(const FirmwareTableRow& row) {
    return {&row.keyVendorId,    &row.keyProductId,    &row.newProductId,
            &row.keyProductName, &row.newProductName,  &row.keyRevision,
            &row.headerName,     &row.handoffRevision, &row.firmwareFileName};
}

bool isFixedField(std::size_t field) {
    return field == 0 || field == 1 || field == 2 || field == 5 || field == 7;
}

// Every field lies in the line where the cutting rule puts it, and once one
// runs into the end of the line every later field is empty.
void checkFieldsSitInTheLine(std::string_view line, const FirmwareTableRow& row) {
    const auto fields = fieldsOf(row);
    std::size_t offset = 0;
    for (std::size_t field = 0; field < fields.size(); ++field) {
        const std::string& text = *fields[field];
        check(line.substr(offset, text.size()) == text);
        check(text.find('\n') == std::string::npos);
        if (field == fields.size() - 1) {
            check(offset + text.size() == line.size());
        } else if (isFixedField(field)) {
            check(text.size() <= firmware::kFixedFieldWidth);
            check(text.size() == firmware::kFixedFieldWidth || offset + text.size() == line.size());
            offset = std::min(offset + firmware::kFixedFieldStride, line.size());
        } else {
            check(text.find(';') == std::string::npos);
            offset = std::min(offset + text.size() + 1, line.size());
        }
    }
}

// A row whose fixed fields are all whole reads back the same from its fields
// joined with ';'.
void checkRejoinedRowCutsTheSame(const FirmwareTableRow& row) {
    const auto fields = fieldsOf(row);
    for (std::size_t field = 0; field < fields.size(); ++field) {
        if (isFixedField(field) && fields[field]->size() != firmware::kFixedFieldWidth) return;
    }
    std::string joined;
    for (std::size_t field = 0; field < fields.size(); ++field) {
        if (field != 0) joined += ';';
        joined += *fields[field];
    }
    check(firmware::cutFirmwareTableRow(joined) == row);
}

bool keysEqual(const FirmwareTableRow& row, const ReaderIdentity& reader) {
    return row.keyVendorId == reader.usbVendorId && row.keyProductId == reader.usbProductId &&
           row.keyRevision == reader.usbRevision && row.keyProductName == reader.inquiryProduct;
}

ReaderIdentity identityFor(const std::vector<FirmwareTableRow>& rows, std::uint8_t selector) {
    if (rows.empty()) return {};
    const FirmwareTableRow& row = rows[selector % rows.size()];
    ReaderIdentity reader{row.keyVendorId, row.keyProductId, row.keyRevision, row.keyProductName};
    if ((selector & kSpoilKeyBit) != 0) {
        std::string* keys[kKeyCount] = {&reader.usbVendorId, &reader.usbProductId,
                                        &reader.usbRevision, &reader.inquiryProduct};
        *keys[(selector >> 2) % kKeyCount] += 'x';
    }
    return reader;
}

void checkFirstMatchWins(std::string_view text, const std::vector<FirmwareTableRow>& rows,
                         const ReaderIdentity& reader) {
    const auto firstEqual =
        std::find_if(rows.begin(), rows.end(),
                     [&](const FirmwareTableRow& row) { return keysEqual(row, reader); });
    const auto line = firmware::findFirmwareRowLine(text, reader);
    const auto found = firmware::findFirmwareRow(text, reader);
    check(line.has_value() == found.has_value());
    check(found.has_value() == (firstEqual != rows.end()));
    if (!found) return;
    check(*line == static_cast<std::size_t>(firstEqual - rows.begin()));
    check(*found == *firstEqual);
}

// One encoded line (its key byte, the filler, its LF) that ends
// kBytesInsideWindow bytes before the edge of the window; made once, as it is
// the checker's and not the code under test.
const std::vector<std::uint8_t>& fillerLine() {
    static const std::vector<std::uint8_t> encoded = [] {
        constexpr std::size_t kKeyByte = 1;
        std::vector<std::uint8_t> plain(
            firmware::kTableReadLimit - kBytesInsideWindow - kKeyByte - 1, kFillerCharacter);
        plain.push_back(firmware::kLineEnd);
        return firmware::encodeChainedLines(plain);
    }();
    return encoded;
}

std::vector<std::uint8_t> fileFor(std::uint8_t selector, std::span<const std::uint8_t> file) {
    if ((selector & kLongFileBits) != kLongFileBits) return {file.begin(), file.end()};
    std::vector<std::uint8_t> longFile = fillerLine();
    longFile.insert(longFile.end(), file.begin(), file.end());
    return longFile;
}

void checkTable(std::uint8_t selector, std::span<const std::uint8_t> raw) {
    const std::string text = firmware::decodeFirmwareTableText(raw);
    check(text.size() < std::max<std::size_t>(1, std::min(raw.size(), firmware::kTableReadLimit)));
    check(text.find('\0') == std::string::npos);
    if (raw.size() > firmware::kTableReadLimit) {
        check(text == firmware::decodeFirmwareTableText(raw.first(firmware::kTableReadLimit)));
    }

    const std::vector<std::string_view> lines = firmware::firmwareTableLines(text);
    const std::vector<FirmwareTableRow> rows = firmware::firmwareTableRows(text);
    check(lines.size() == rows.size());
    std::string rejoined;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i != 0) rejoined += '\n';
        rejoined += lines[i];
        checkFieldsSitInTheLine(lines[i], rows[i]);
        checkRejoinedRowCutsTheSame(rows[i]);
    }
    check(rejoined == text || rejoined + '\n' == text);

    checkFirstMatchWins(text, rows, identityFor(rows, selector));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    const std::uint8_t selector = data[0];
    const std::span<const std::uint8_t> rest(data + 1, size - 1);
    checkTable(selector, fileFor(selector, rest));
    // The rest is read a second time as plain table text, encoded first, so
    // that mutations of readable rows reach the cutting and the matching.
    checkTable(selector, firmware::encodeChainedLines(rest));
    return 0;
}

#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The firmware table ".\firmtable.txt": one row per supported reader, naming
// the reader by its USB identity and INQUIRY product and saying what it is to
// become and which firmware file it gets.
namespace firmware {

// Only this many raw bytes of the table file are ever read; rows beyond them
// are not seen.
inline constexpr std::size_t kTableReadLimit = 32768;

// The decoded table text of a raw (encoded) table file: the first
// kTableReadLimit raw bytes, decoded in place, up to the first zero byte.
std::string decodeFirmwareTableText(std::span<const std::uint8_t> raw);

// One decoded line cut into its nine fields. A short line leaves the fields it
// lacks empty.
struct FirmwareTableRow {
    std::string keyVendorId;
    std::string keyProductId;
    std::string newProductId;
    std::string keyProductName;
    std::string newProductName;
    std::string keyRevision;
    std::string headerName;
    std::string handoffRevision;
    std::string firmwareFileName;

    bool operator==(const FirmwareTableRow&) const = default;
};

// Width of the fixed fields, and how much of the line each one consumes: the
// field and the separator after it, whatever that separator is.
inline constexpr std::size_t kFixedFieldWidth = 4;
inline constexpr std::size_t kFixedFieldStride = kFixedFieldWidth + 1;
// Ends the variable-width fields; it cannot occur inside one.
inline constexpr char kVariableFieldEnd = ';';
inline constexpr char kLineEnd = '\n';

// Cuts the fields from the front of one line (without its LF). A CR before
// the LF stays in the last field.
FirmwareTableRow cutFirmwareTableRow(std::string_view line);

// The lines of the text, split at LF; the last line may lack its LF, and a
// final LF does not start another (empty) line. An empty text has no lines.
std::vector<std::string_view> firmwareTableLines(std::string_view text);

// Every line of the text as a row, in order.
std::vector<FirmwareTableRow> firmwareTableRows(std::string_view text);

// What the update program knows of the attached reader when it looks for its
// row: the USB identity as the registry spells it and the INQUIRY product with
// trailing blanks removed.
struct ReaderIdentity {
    std::string usbVendorId;
    std::string usbProductId;
    std::string usbRevision;
    std::string inquiryProduct;
};

// Whether the row names this reader: vendor id, product id, product name and
// revision, compared in that order as exact bytes (case and blanks count).
bool rowMatchesReader(const FirmwareTableRow& row, const ReaderIdentity& reader);

// The first row of the text that names the reader; later rows are not looked
// at. The update program, firmtool and the package checker all match through
// this one function.
std::optional<FirmwareTableRow> findFirmwareRow(std::string_view text,
                                                const ReaderIdentity& reader);

// The same search, giving the zero-based line number of the first matching
// row, for tools that report where a row stands.
std::optional<std::size_t> findFirmwareRowLine(std::string_view text, const ReaderIdentity& reader);

}  // namespace firmware

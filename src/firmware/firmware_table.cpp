#include "firmware/firmware_table.h"

#include <algorithm>
#include <array>
#include <memory>

#include "firmware/chained_xor.h"

namespace firmware {

namespace {

using TableBuffer = std::array<std::uint8_t, kTableReadLimit>;

// Takes up to `width` characters from the front and drops up to `stride`,
// so a field near the end of the line takes and drops only what is there.
std::string takeFixedField(std::string_view& rest) {
    std::string field{rest.substr(0, kFixedFieldWidth)};
    rest.remove_prefix(std::min(kFixedFieldStride, rest.size()));
    return field;
}

std::string takeVariableField(std::string_view& rest) {
    const std::size_t end = rest.find(kVariableFieldEnd);
    if (end == std::string_view::npos) {
        std::string field{rest};
        rest = {};
        return field;
    }
    std::string field{rest.substr(0, end)};
    rest.remove_prefix(end + 1);
    return field;
}

// The next line of `rest`, which loses the line and its LF.
std::string_view takeLine(std::string_view& rest) {
    const std::size_t end = rest.find(kLineEnd);
    if (end == std::string_view::npos) {
        const std::string_view line = rest;
        rest = {};
        return line;
    }
    const std::string_view line = rest.substr(0, end);
    rest.remove_prefix(end + 1);
    return line;
}

}  // namespace

std::string decodeFirmwareTableText(std::span<const std::uint8_t> raw) {
    // The buffer is the table's fixed read window; it lives on the heap only
    // because 32 KiB is a lot of stack for a dialog handler.
    auto buffer = std::make_unique<TableBuffer>();
    const std::size_t kept = std::min(raw.size(), buffer->size());
    std::copy_n(raw.begin(), kept, buffer->begin());
    const std::size_t decoded = decodeChainedLines(*buffer, static_cast<std::ptrdiff_t>(kept));
    // A decoded zero byte ends the text early, as the terminator does.
    const auto end = std::find(
        buffer->begin(), buffer->begin() + static_cast<std::ptrdiff_t>(decoded), std::uint8_t{0});
    return std::string(buffer->begin(), end);
}

FirmwareTableRow cutFirmwareTableRow(std::string_view line) {
    FirmwareTableRow row;
    std::string_view rest = line;
    row.keyVendorId = takeFixedField(rest);
    row.keyProductId = takeFixedField(rest);
    row.newProductId = takeFixedField(rest);
    row.keyProductName = takeVariableField(rest);
    row.newProductName = takeVariableField(rest);
    row.keyRevision = takeFixedField(rest);
    row.headerName = takeVariableField(rest);
    row.handoffRevision = takeFixedField(rest);
    row.firmwareFileName = std::string{rest};
    return row;
}

std::vector<std::string_view> firmwareTableLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (std::string_view rest = text; !rest.empty();) lines.push_back(takeLine(rest));
    return lines;
}

std::vector<FirmwareTableRow> firmwareTableRows(std::string_view text) {
    std::vector<FirmwareTableRow> rows;
    for (const std::string_view line : firmwareTableLines(text)) {
        rows.push_back(cutFirmwareTableRow(line));
    }
    return rows;
}

bool rowMatchesReader(const FirmwareTableRow& row, const ReaderIdentity& reader) {
    return row.keyVendorId == reader.usbVendorId && row.keyProductId == reader.usbProductId &&
           row.keyProductName == reader.inquiryProduct && row.keyRevision == reader.usbRevision;
}

std::optional<std::size_t> findFirmwareRowLine(std::string_view text,
                                               const ReaderIdentity& reader) {
    std::size_t lineNumber = 0;
    for (std::string_view rest = text; !rest.empty(); ++lineNumber) {
        if (rowMatchesReader(cutFirmwareTableRow(takeLine(rest)), reader)) return lineNumber;
    }
    return std::nullopt;
}

std::optional<FirmwareTableRow> findFirmwareRow(std::string_view text,
                                                const ReaderIdentity& reader) {
    for (std::string_view rest = text; !rest.empty();) {
        FirmwareTableRow row = cutFirmwareTableRow(takeLine(rest));
        if (rowMatchesReader(row, reader)) return row;
    }
    return std::nullopt;
}

}  // namespace firmware

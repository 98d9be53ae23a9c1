#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace testsupport {

// Writes S-records for the tests of everything that reads them, with the
// faults a test may want in a line.

// How wide a record type's address field is: S2 and S8 carry three bytes,
// S3 and S7 four, the others two.
inline std::size_t sRecordAddressWidth(char type) {
    constexpr std::size_t kShort = 2;
    constexpr std::size_t kMedium = 3;
    constexpr std::size_t kLong = 4;
    switch (type) {
        case '2':
        case '8':
            return kMedium;
        case '3':
        case '7':
            return kLong;
        default:
            return kShort;
    }
}

inline std::string hexByte(std::uint8_t value) {
    constexpr char kDigits[] = "0123456789ABCDEF";
    constexpr unsigned kNibble = 4;
    constexpr std::uint8_t kLowNibble = 0xF;
    return {kDigits[value >> kNibble], kDigits[value & kLowNibble]};
}

// How a line is written: its count (what the fields need unless set), a
// checksum spoilt by XOR with `checksumFlip`, and its line end.
struct SRecordShape {
    std::optional<std::uint8_t> count = std::nullopt;
    std::uint8_t checksumFlip = 0;
    std::string_view lineEnd = "\n";
};

// One line of the given type from its fields (address and data together).
inline std::string sRecordOfFields(char type, const std::vector<std::uint8_t>& fields,
                                   const SRecordShape& shape = {}) {
    constexpr std::uint8_t kComplement = 0xFF;
    const std::uint8_t count = shape.count.value_or(static_cast<std::uint8_t>(fields.size() + 1));
    std::string line = std::string("S") + type + hexByte(count);
    auto sum = count;
    for (const std::uint8_t byte : fields) {
        line += hexByte(byte);
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    line += hexByte(static_cast<std::uint8_t>(sum ^ kComplement ^ shape.checksumFlip));
    return line + std::string(shape.lineEnd);
}

// The address field of a record type, most significant byte first.
inline std::vector<std::uint8_t> sRecordAddress(char type, std::uint32_t address) {
    constexpr unsigned kBitsPerByte = 8;
    std::vector<std::uint8_t> field;
    for (std::size_t index = sRecordAddressWidth(type); index-- > 0;) {
        field.push_back(static_cast<std::uint8_t>(address >> (kBitsPerByte * index)));
    }
    return field;
}

// One line with its address and data.
inline std::string sRecord(char type, std::uint32_t address,
                           const std::vector<std::uint8_t>& data = {},
                           const SRecordShape& shape = {}) {
    std::vector<std::uint8_t> fields = sRecordAddress(type, address);
    fields.insert(fields.end(), data.begin(), data.end());
    return sRecordOfFields(type, fields, shape);
}

// How a whole firmware file is laid out around its data.
struct FirmwareTextLayout {
    std::size_t bytesPerRecord = 32;
    std::string header = "TKW";  // the S0 record's text
    char endType = '9';
    std::uint32_t endAddress = 0;
};

// A firmware file: an S0 header, the data in S2 records from `start`, and
// the end record.
inline std::string firmwareText(std::uint32_t start, const std::vector<std::uint8_t>& data,
                                const FirmwareTextLayout& layout = {}) {
    std::string text =
        sRecord('0', 0, std::vector<std::uint8_t>(layout.header.begin(), layout.header.end()));
    for (std::size_t offset = 0; offset < data.size(); offset += layout.bytesPerRecord) {
        const std::size_t end = std::min(data.size(), offset + layout.bytesPerRecord);
        text +=
            sRecord('2', start + static_cast<std::uint32_t>(offset),
                    std::vector<std::uint8_t>(data.begin() + static_cast<std::ptrdiff_t>(offset),
                                              data.begin() + static_cast<std::ptrdiff_t>(end)));
    }
    return text + sRecord(layout.endType, layout.endAddress);
}

}  // namespace testsupport

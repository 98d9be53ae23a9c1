#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "firmware/byte_source.h"
#include "firmware/firmware_image.h"

// The Motorola S-record reader and the image loader. Both read the file
// through readChainedChar, so they see the decoded text.
namespace firmware {

inline constexpr std::size_t kRecordBufferSize = 256;
using RecordBuffer = std::array<std::uint8_t, kRecordBufferSize>;

inline constexpr std::int16_t kRecordChecksumError = -1;

// Results of loadFirmwareImage.
inline constexpr std::uint8_t kLoadOk = 0;
inline constexpr std::uint8_t kLoadChecksumError = 1;
inline constexpr std::uint8_t kLoadAddressOutOfRange = 2;

// Lowest and highest load address a data record may start at.
inline constexpr std::uint32_t kLowestLoadAddress = 0x10000;
inline constexpr std::uint32_t kHighestLoadAddress = 0x40000;

// '0'-'9', 'A'-'F', 'a'-'f' give their value; every other character gives 0.
std::uint8_t hexDigitValue(char character);

// Reads two decoded characters as one hex pair: 16 x the first digit's value +
// the second's. Like the format itself it has no notion of a short file, so a
// missing character simply counts as 0; `endOfFile` is set when the data ran
// out, and once it is set no further character is read.
std::uint8_t readHexByte(ByteSource& file, bool& endOfFile);

// Reads on to the next data record or the end of the file. Returns the number
// of data bytes of a data record (placed from the buffer's start, its load
// address in `address`), 0 at the end, kRecordChecksumError (-1) on a bad
// checksum, and also when the file ends inside a record. Unrecognised
// characters and record types are reported on standard output with
// "S Error = 0x%02x\n" and "get_srecord: Error %d\n" (see standard_output.h).
std::int16_t readSRecord(ByteSource& file, std::uint32_t& address, RecordBuffer& data);

// Loads a whole firmware file into `image`, which is filled afresh first.
// Returns kLoadOk, kLoadChecksumError or kLoadAddressOutOfRange. A record
// reaching at or above kImageSize ends the load with kLoadAddressOutOfRange
// before any of its bytes is stored.
std::uint8_t loadFirmwareImage(ByteSource& file, FirmwareImage& image);

}  // namespace firmware

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

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

// Where the reader's two diagnostics go. The programs print them on standard
// output as they come; a tool may count them instead of printing them all.
class LoaderDiagnostics {
  public:
    virtual ~LoaderDiagnostics() = default;
    // One diagnostic line as the programs print it, with its LF.
    virtual void report(std::string_view line) = 0;

  protected:
    LoaderDiagnostics() = default;
    LoaderDiagnostics(const LoaderDiagnostics&) = default;
    LoaderDiagnostics& operator=(const LoaderDiagnostics&) = default;
};

// The programs' destination: standard output, through C stdio.
LoaderDiagnostics& standardOutputDiagnostics();

// A record as a person finds it in the decoded file: its line (from 1, counted
// from the start of the load), its type character and its address field.
struct RecordPosition {
    std::size_t line = 0;
    char type = 0;
    std::uint32_t address = 0;
};

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
// `position`, when given, is set to the last record recognised.
std::int16_t readSRecord(ByteSource& file, std::uint32_t& address, RecordBuffer& data,
                         LoaderDiagnostics& diagnostics = standardOutputDiagnostics(),
                         RecordPosition* position = nullptr);

// Loads a whole firmware file into `image`, which is filled afresh first.
// Returns kLoadOk, kLoadChecksumError or kLoadAddressOutOfRange. A record
// reaching at or above kImageSize ends the load with kLoadAddressOutOfRange
// before any of its bytes is stored.
std::uint8_t loadFirmwareImage(ByteSource& file, FirmwareImage& image);

// What a load gave besides the image, for tools that explain a load.
struct LoadOutcome {
    std::uint8_t result = kLoadOk;
    // The record that ended a load with kLoadChecksumError or
    // kLoadAddressOutOfRange; none after kLoadOk.
    std::optional<RecordPosition> endingRecord;
};

// The same load with the diagnostics sent to `diagnostics`, telling which
// record ended a failed load.
LoadOutcome loadFirmwareImage(ByteSource& file, FirmwareImage& image,
                              LoaderDiagnostics& diagnostics);

}  // namespace firmware

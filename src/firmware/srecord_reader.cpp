#include "firmware/srecord_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <limits>
#include <optional>
#include <span>

#include "firmware/chained_xor.h"
#include "firmware/standard_output.h"

namespace firmware {

namespace {

constexpr char kCarriageReturn = '\r';
constexpr char kLineFeed = '\n';
constexpr char kRecordStart = 'S';

constexpr std::uint8_t kHexRadix = 16;
constexpr std::uint8_t kFirstLetterDigitValue = 10;
constexpr std::uint8_t kChecksumComplement = 0xFF;
constexpr unsigned kBitsPerByte = 8;

// The reader takes 16-bit words with their two bytes swapped against the
// file's order, so address A lives at image index A XOR 1.
constexpr std::uint32_t kWordByteSwap = 1;

constexpr std::size_t kShortAddressBytes = 2;
constexpr std::size_t kMediumAddressBytes = 3;
constexpr std::size_t kLongAddressBytes = 4;

// The count byte covers the address field, the body and the checksum byte.
constexpr std::size_t kChecksumBytes = 1;
constexpr std::size_t kLargestCount = 0xFF;
static_assert(kLargestCount - kChecksumBytes - kShortAddressBytes <= kRecordBufferSize,
              "the largest data record must fit the record buffer");

constexpr std::int16_t kEndOfRecords = 0;

enum class RecordKind {
    header,        // S0: body read and thrown away
    data,          // S1, S2, S3: body delivered to the caller
    recordCount,   // S5: a count of the records before it, not used
    startAddress,  // S7, S8: an entry point, not used; scanning goes on
    termination,   // S9: ends the file
};

struct RecordLayout {
    RecordKind kind;
    std::size_t addressBytes;
    bool keepsAddress;  // whether the address field lands in the caller's address
};

std::optional<RecordLayout> layoutOf(char type) {
    switch (type) {
        case '0':
            return RecordLayout{RecordKind::header, kShortAddressBytes, false};
        case '1':
            return RecordLayout{RecordKind::data, kShortAddressBytes, true};
        case '2':
            return RecordLayout{RecordKind::data, kMediumAddressBytes, true};
        case '3':
            return RecordLayout{RecordKind::data, kLongAddressBytes, true};
        case '5':
            return RecordLayout{RecordKind::recordCount, kShortAddressBytes, false};
        case '7':
            return RecordLayout{RecordKind::startAddress, kLongAddressBytes, true};
        case '8':
            return RecordLayout{RecordKind::startAddress, kMediumAddressBytes, true};
        case '9':
            return RecordLayout{RecordKind::termination, kShortAddressBytes, true};
        default:
            return std::nullopt;
    }
}

bool hasBody(RecordKind kind) {
    return kind == RecordKind::header || kind == RecordKind::data;
}

// Body bytes sit between the address field and the checksum byte. For the
// types without a body the count only enters the sum, and a count too small
// for the address field leaves no body at all.
std::size_t bodyLength(const RecordLayout& layout, std::uint8_t count) {
    const std::size_t overhead = layout.addressBytes + kChecksumBytes;
    if (!hasBody(layout.kind) || count <= overhead) return 0;
    return count - overhead;
}

// A data record's result is computed from its count, whatever is in the file:
// a count too small for the address field gives a negative number.
std::int16_t dataResult(const RecordLayout& layout, std::uint8_t count) {
    return static_cast<std::int16_t>(static_cast<int>(count) -
                                     static_cast<int>(layout.addressBytes + kChecksumBytes));
}

constexpr unsigned characterCode(char character) {
    return static_cast<unsigned>(static_cast<unsigned char>(character));
}

// Every hex digit of a firmware file goes through hexDigitValue, so its value
// is one look-up in a table of every character code rather than a chain of
// range tests.
constexpr std::size_t kCharacterCodes = std::size_t{std::numeric_limits<unsigned char>::max()} + 1;
using HexDigitTable = std::array<std::uint8_t, kCharacterCodes>;

constexpr void setDigitRange(HexDigitTable& table, char first, char last, std::uint8_t firstValue) {
    for (unsigned code = characterCode(first); code <= characterCode(last); ++code) {
        table[code] = static_cast<std::uint8_t>(firstValue + (code - characterCode(first)));
    }
}

constexpr HexDigitTable kHexDigitValues = [] {
    HexDigitTable table{};  // every other character counts as 0
    setDigitRange(table, '0', '9', 0);
    setDigitRange(table, 'A', 'F', kFirstLetterDigitValue);
    setDigitRange(table, 'a', 'f', kFirstLetterDigitValue);
    return table;
}();

// Long enough for either diagnostic with any character code.
constexpr std::size_t kDiagnosticSize = 32;

class StandardOutputDiagnostics final : public LoaderDiagnostics {
  public:
    void report(std::string_view line) override {
        writeStandardOutput(line);
    }
};

void reportStrayCharacter(LoaderDiagnostics& diagnostics, char character) {
    std::array<char, kDiagnosticSize> line{};
    const int length =
        std::snprintf(line.data(), line.size(), "S Error = 0x%02x\n", characterCode(character));
    diagnostics.report(std::string_view(line.data(), static_cast<std::size_t>(length)));
}

void reportUnknownType(LoaderDiagnostics& diagnostics, char type) {
    std::array<char, kDiagnosticSize> line{};
    const int length = std::snprintf(line.data(), line.size(), "get_srecord: Error %d\n",
                                     static_cast<int>(characterCode(type)));
    diagnostics.report(std::string_view(line.data(), static_cast<std::size_t>(length)));
}

// Lines of the decoded text started so far, from the decoder's count.
std::size_t linesStarted() {
    return chainedDecoderState().linesEnded;
}

std::uint8_t readHexDigit(ByteSource& file, bool& endOfFile) {
    if (endOfFile) return 0;
    char character = 0;
    if (!readChainedChar(file, character)) {
        endOfFile = true;
        return 0;
    }
    return hexDigitValue(character);
}

// The hex pairs of one record after its type character, with the running sum
// that the checksum byte must complement.
class RecordScanner {
  public:
    explicit RecordScanner(ByteSource& file) : file_(file) {}

    std::uint8_t nextByte() {
        const std::uint8_t byte = readHexByte(file_, endOfFile_);
        sum_ = static_cast<std::uint8_t>(sum_ + byte);
        return byte;
    }

    std::uint32_t nextAddress(std::size_t width) {
        std::uint32_t value = 0;
        for (std::size_t i = 0; i < width; ++i) value = (value << kBitsPerByte) | nextByte();
        return value;
    }

    // Reads the checksum byte. A record cut short by the end of the file is
    // never good, whatever its missing digits would have been.
    bool checksumMatches() {
        const std::uint8_t checksum = readHexByte(file_, endOfFile_);
        return !endOfFile_ && sum_ == static_cast<std::uint8_t>(checksum ^ kChecksumComplement);
    }

  private:
    ByteSource& file_;
    bool endOfFile_ = false;
    std::uint8_t sum_ = 0;
};

// What one recognised record means for the scan.
struct RecordOutcome {
    bool endsScan;
    std::int16_t result;
};

RecordOutcome readRecord(ByteSource& file, const RecordLayout& layout, std::uint32_t& address,
                         RecordBuffer& data) {
    RecordScanner scanner(file);
    const std::uint8_t count = scanner.nextByte();
    const std::uint32_t fieldAddress = scanner.nextAddress(layout.addressBytes);
    if (layout.keepsAddress) address = fieldAddress;
    const std::size_t length = bodyLength(layout, count);
    for (std::size_t i = 0; i < length; ++i) {
        const std::uint8_t byte = scanner.nextByte();
        if (layout.kind == RecordKind::data) data[i] = byte;
    }
    if (!scanner.checksumMatches()) return {true, kRecordChecksumError};

    switch (layout.kind) {
        case RecordKind::data:
            return {true, dataResult(layout, count)};
        case RecordKind::termination: {
            // The terminator's line end is consumed only as far as its first
            // character; with CR LF the LF stays for whoever reads next.
            char dropped = 0;
            readChainedChar(file, dropped);
            return {true, kEndOfRecords};
        }
        case RecordKind::header:
        case RecordKind::recordCount:
        case RecordKind::startAddress:
            return {false, kEndOfRecords};
    }
    return {false, kEndOfRecords};
}

// The bytes of an accepted record must land inside the image: the format's
// own test looks only at the first address, so a record starting near the end
// is refused as a whole rather than stored past it.
bool fitsImage(std::uint32_t address, std::size_t length) {
    if (address < kLowestLoadAddress || address > kHighestLoadAddress) return false;
    return address + length <= kImageSize;
}

void storeRecord(FirmwareImage& image, std::uint32_t address, std::span<const std::uint8_t> bytes) {
    image.imageLowAddress = std::min(image.imageLowAddress, address);
    for (std::size_t j = 0; j < bytes.size(); ++j) {
        const std::uint32_t target = address + static_cast<std::uint32_t>(j);
        image.imageBytes[target ^ kWordByteSwap] = bytes[j];
    }
    if (!bytes.empty()) image.dataStored = true;
    // A record with no data still offers the address just before it; the
    // address is at least kLowestLoadAddress, so this cannot wrap.
    const std::uint32_t last = address + static_cast<std::uint32_t>(bytes.size()) - 1;
    image.imageHighAddress = std::max(image.imageHighAddress, last);
}

}  // namespace

std::uint8_t hexDigitValue(char character) {
    return kHexDigitValues[characterCode(character)];
}

std::uint8_t readHexByte(ByteSource& file, bool& endOfFile) {
    const std::uint8_t high = readHexDigit(file, endOfFile);
    const std::uint8_t low = readHexDigit(file, endOfFile);
    return static_cast<std::uint8_t>(high * kHexRadix + low);
}

LoaderDiagnostics& standardOutputDiagnostics() {
    static StandardOutputDiagnostics diagnostics;
    return diagnostics;
}

std::int16_t readSRecord(ByteSource& file, std::uint32_t& address, RecordBuffer& data,
                         LoaderDiagnostics& diagnostics, RecordPosition* position) {
    address = 0;
    for (;;) {
        char character = 0;
        if (!readChainedChar(file, character)) return kEndOfRecords;
        if (character == kCarriageReturn || character == kLineFeed) continue;
        if (character != kRecordStart) {
            reportStrayCharacter(diagnostics, character);
            continue;
        }
        const std::size_t line = linesStarted();
        char type = 0;
        if (!readChainedChar(file, type)) return kEndOfRecords;
        const std::optional<RecordLayout> layout = layoutOf(type);
        if (!layout) {
            reportUnknownType(diagnostics, type);
            continue;
        }
        const RecordOutcome outcome = readRecord(file, *layout, address, data);
        if (position != nullptr) *position = RecordPosition{line, type, address};
        if (outcome.endsScan) return outcome.result;
    }
}

std::uint8_t loadFirmwareImage(ByteSource& file, FirmwareImage& image) {
    return loadFirmwareImage(file, image, standardOutputDiagnostics()).result;
}

LoadOutcome loadFirmwareImage(ByteSource& file, FirmwareImage& image,
                              LoaderDiagnostics& diagnostics) {
    image.imageBytes.fill(kUnsetImageByte);
    image.imageLowAddress = kNoLowAddress;
    image.imageHighAddress = 0;
    image.dataStored = false;
    // Lines count from the load's start: the decoder's count runs on across loads.
    const std::size_t firstLine = linesStarted();
    RecordBuffer data{};
    RecordPosition position;
    const auto failed = [&](std::uint8_t result) {
        position.line = position.line - firstLine + 1;
        return LoadOutcome{result, position};
    };
    for (;;) {
        std::uint32_t address = 0;
        const std::int16_t result = readSRecord(file, address, data, diagnostics, &position);
        if (result == kRecordChecksumError) return failed(kLoadChecksumError);
        if (result == kEndOfRecords) return LoadOutcome{};
        // A count too small for the address field makes a record without data
        // that still takes part in the range test and the address bounds.
        const std::size_t length = result < 0 ? 0 : static_cast<std::size_t>(result);
        if (!fitsImage(address, length)) return failed(kLoadAddressOutOfRange);
        storeRecord(image, address, std::span<const std::uint8_t>(data).first(length));
    }
}

}  // namespace firmware

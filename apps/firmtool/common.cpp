#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "firmtool.h"
#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_table.h"
#include "firmware/srecord_reader.h"
#include "firmware/windows_file_name.h"

namespace firmtool {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
constexpr std::size_t kDigitGroup = 3;

// What a text file (S-records, a plain table) is made of: printable ASCII,
// line ends and tabs. An encoded file's bytes are XOR chains that keep the
// high bit of their line's key, or fall below the printable range, so they
// are almost never all of these.
bool isTextByte(std::uint8_t byte) {
    return (byte >= kFirstPrintable && byte < kDelete) || byte == '\n' || byte == '\r' ||
           byte == '\t';
}

bool looksLikeText(std::span<const std::uint8_t> bytes) {
    return !bytes.empty() && std::all_of(bytes.begin(), bytes.end(), isTextByte);
}

// A plain S-record file starts with the letter S and a record type digit.
bool startsWithRecord(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= 2 && bytes[0] == 'S' && bytes[1] >= '0' && bytes[1] <= '9';
}

constexpr std::array<std::uint8_t, 3> kByteOrderMark = {0xEF, 0xBB, 0xBF};

bool startsWithByteOrderMark(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= kByteOrderMark.size() &&
           std::equal(kByteOrderMark.begin(), kByteOrderMark.end(), bytes.begin());
}

std::string loadResultMeaning(std::uint8_t result) {
    switch (result) {
        case firmware::kLoadChecksumError:
            return "a record fails its checksum or is cut short";
        case firmware::kLoadAddressOutOfRange:
            return "a data record lies outside 0x10000-0x3ffff";
        default:
            return "unknown result";
    }
}
}  // namespace

const std::string* Arguments::option(std::string_view name) const {
    const auto found = options.find(name);
    return found == options.end() ? nullptr : &found->second;
}

void CappedDiagnostics::report(std::string_view line) {
    if (shown_.size() < kShown) {
        shown_.emplace_back(line);
    } else {
        ++more_;
    }
}

void CappedDiagnostics::print() const {
    for (const std::string& line : shown_) std::fwrite(line.data(), 1, line.size(), stdout);
    if (more_ != 0) std::printf("and %s more\n", groupedCount(more_).c_str());
}

std::string visible(std::string_view text) {
    std::string out;
    for (const char character : text) {
        const auto code = static_cast<unsigned char>(character);
        if (character == '\r') {
            out += "\\r";
        } else if (character == '\t') {
            out += "\\t";
        } else if (code < kFirstPrintable || code == kDelete) {
            out += "\\x";
            out += kHexDigits[code >> kNibbleBits];
            out += kHexDigits[code & kNibbleMask];
        } else {
            out += character;
        }
    }
    return out;
}

std::string groupedCount(std::size_t count) {
    std::string digits = std::to_string(count);
    for (std::size_t end = digits.size(); end > kDigitGroup; end -= kDigitGroup) {
        digits.insert(end - kDigitGroup, 1, ',');
    }
    return digits;
}

void warn(std::string_view message) {
    std::fflush(stdout);
    std::fprintf(stderr, "firmtool: warning: %.*s\n", static_cast<int>(message.size()),
                 message.data());
}

int fail(int exitCode, std::string_view message) {
    std::fflush(stdout);
    std::fprintf(stderr, "firmtool: %.*s\n", static_cast<int>(message.size()), message.data());
    return exitCode;
}

void printField(std::string_view key, std::string_view value) {
    std::printf("%.*s=%.*s\n", static_cast<int>(key.size()), key.data(),
                static_cast<int>(value.size()), value.data());
}

void printHexField(std::string_view key, std::uint32_t value) {
    printField(key, hex(value));
}

std::string hex(std::uint32_t value) {
    std::string digits;
    do {
        digits.insert(digits.begin(), kHexDigits[value & kNibbleMask]);
        value >>= kNibbleBits;
    } while (value != 0);
    return "0x" + digits;
}

std::string quote(std::string_view text) {
    std::string out = "\"";
    for (const char character : text) {
        const auto code = static_cast<unsigned char>(character);
        if (character == '\r') {
            out += "\\r";
        } else if (character == '\t') {
            out += "\\t";
        } else if (character == '"' || character == '\\') {
            out += '\\';
            out += character;
        } else if (code < kFirstPrintable || code == kDelete) {
            out += "\\x";
            out += kHexDigits[code >> kNibbleBits];
            out += kHexDigits[code & kNibbleMask];
        } else {
            out += character;
        }
    }
    return out + "\"";
}

bool writeWholeFile(const std::string& path, std::span<const std::uint8_t> bytes) {
    // An existing file is rewritten in place rather than truncated first:
    // truncating a file that still has data in flight makes the file system
    // wait for it, which costs more than loading a whole firmware file, and
    // package scripts write the same outputs over and over.
    std::FILE* file = std::fopen(path.c_str(), "r+b");
    const bool existed = file != nullptr;
    if (!existed) file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    if (!written || !closed) return false;
    // A longer old file loses its tail; a device or pipe has no size to cut.
    std::error_code error;
    if (existed && std::filesystem::is_regular_file(path, error) &&
        std::filesystem::file_size(path, error) > bytes.size()) {
        std::filesystem::resize_file(path, bytes.size(), error);
        return !error;
    }
    return true;
}

bool readTableText(const std::string& path, std::string& text, std::string& hint) {
    std::vector<std::uint8_t> raw;
    if (!firmware::readWholeFile(path, raw)) return false;
    text = firmware::decodeFirmwareTableText(raw);
    hint = tableHint(raw);
    return true;
}

bool loadFirmwareFile(const std::string& path, LoadedFirmware& loaded) {
    firmware::FileByteSource file;
    if (!file.open(path)) return false;
    firmware::resetChainedDecoder();
    const firmware::LoadOutcome outcome =
        firmware::loadFirmwareImage(file, *loaded.image, loaded.diagnostics);
    loaded.result = outcome.result;
    loaded.endingRecord = outcome.endingRecord;
    return true;
}

std::string describeLoadFailure(const LoadedFirmware& loaded) {
    std::string text =
        "result=" + std::to_string(loaded.result) + " (" + loadResultMeaning(loaded.result) + ")";
    if (const auto& record = loaded.endingRecord) {
        text += " at line " + std::to_string(record->line) + ", S" + std::string(1, record->type) +
                " record at " + hex(record->address);
    }
    return text;
}

std::optional<std::string> firmwareFilePath(std::string_view folder, std::string_view tableName) {
    const auto found = firmware::findHostFile(std::filesystem::path(folder), tableName);
    if (!found) return std::nullopt;
    return found->string();
}

std::string firmwareFileHint(std::span<const std::uint8_t> raw) {
    if (startsWithRecord(raw) && looksLikeText(raw)) {
        return "it looks like a plain S-record file, not encoded: encode it with firmtool encode";
    }
    return "";
}

std::string encodeInputHint(std::span<const std::uint8_t> raw) {
    if (looksLikeText(raw)) return "";
    const std::vector<std::uint8_t> decoded = firmware::decodeChainedFile(raw);
    if (!looksLikeText(decoded)) return "";
    return "it already looks encoded: it decodes to plain text";
}

std::string tableHint(std::span<const std::uint8_t> raw) {
    if (startsWithByteOrderMark(raw) || startsWithByteOrderMark(firmware::decodeChainedFile(raw))) {
        return "the table starts with a byte-order mark (EF BB BF), which the first row's vendor "
               "id then carries: save the plain table without it";
    }
    if (looksLikeText(raw) && !looksLikeText(firmware::decodeChainedFile(raw))) {
        return "the table looks unencoded (plain text), and the update program decodes it into "
               "other bytes: encode it with firmtool encode";
    }
    return "";
}

}  // namespace firmtool

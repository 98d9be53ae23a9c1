#include <cstdio>
#include <string>

#include "firmtool.h"
#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_table.h"
#include "firmware/srecord_reader.h"

namespace firmtool {

namespace {
constexpr char kHexDigits[] = "0123456789abcdef";
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;
}  // namespace

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
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

bool readTableText(const std::string& path, std::string& text) {
    std::vector<std::uint8_t> raw;
    if (!firmware::readWholeFile(path, raw)) return false;
    text = firmware::decodeFirmwareTableText(raw);
    return true;
}

bool loadFirmwareFile(const std::string& path, LoadedFirmware& loaded) {
    firmware::FileByteSource file;
    if (!file.open(path)) return false;
    firmware::resetChainedDecoder();
    loaded.result = firmware::loadFirmwareImage(file, *loaded.image);
    std::fflush(stdout);
    return true;
}

}  // namespace firmtool

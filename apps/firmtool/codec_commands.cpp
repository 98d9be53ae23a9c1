#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "firmtool.h"
#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"

namespace firmtool {

namespace {

constexpr std::string_view kHexPrefix = "0x";
constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr unsigned kLargestKey = 0xFF;

// "0xNN" in hexadecimal or plain decimal digits, 0 to 255.
std::optional<std::uint8_t> parseKey(std::string_view text) {
    int base = kDecimalBase;
    if (text.starts_with(kHexPrefix) || text.starts_with("0X")) {
        text.remove_prefix(kHexPrefix.size());
        base = kHexBase;
    }
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (text.empty() || error != std::errc{} || stop != end || value > kLargestKey) {
        return std::nullopt;
    }
    return static_cast<std::uint8_t>(value);
}

// Reads `in`, transforms it, writes `out`.
template <typename Transform>
int convertFile(const Arguments& arguments, Transform transform) {
    const std::string& in = arguments.positionals[0];
    const std::string& out = arguments.positionals[1];
    std::vector<std::uint8_t> input;
    if (!firmware::readWholeFile(in, input)) return fail(kExitFileError, "cannot read " + in);
    const std::vector<std::uint8_t> output = transform(input);
    if (!writeWholeFile(out, output)) return fail(kExitFileError, "cannot write " + out);
    return kExitSuccess;
}

}  // namespace

int runDecode(const Arguments& arguments) {
    return convertFile(arguments, [](const std::vector<std::uint8_t>& encoded) {
        return firmware::decodeChainedFile(encoded);
    });
}

int runEncode(const Arguments& arguments) {
    std::optional<std::uint8_t> key;
    if (const std::string* text = arguments.option("key")) {
        key = parseKey(*text);
        if (!key) {
            return fail(kExitUsage, "--key takes a byte such as 0x5a, not " + quote(*text));
        }
    }
    return convertFile(arguments, [key](const std::vector<std::uint8_t>& plain) {
        return firmware::encodeChainedLines(plain, key);
    });
}

}  // namespace firmtool

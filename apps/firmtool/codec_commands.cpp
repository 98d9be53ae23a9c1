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

// Reads `in`, transforms it, writes `out`. `refusal` may look at the input
// first and give a reason not to write anything.
template <typename Refusal, typename Transform>
int convertFile(const Arguments& arguments, Refusal refusal, Transform transform) {
    const std::string& in = arguments.positionals[0];
    const std::string& out = arguments.positionals[1];
    std::vector<std::uint8_t> input;
    if (!firmware::readWholeFile(in, input)) return fail(kExitFileError, "cannot read " + in);
    if (const std::string reason = refusal(input); !reason.empty()) {
        return fail(kExitRefused, "refused: " + in + ": " + reason);
    }
    const std::vector<std::uint8_t> output = transform(input);
    if (!writeWholeFile(out, output)) return fail(kExitFileError, "cannot write " + out);
    return kExitSuccess;
}

std::string noRefusal(const std::vector<std::uint8_t>& /*input*/) {
    return "";
}

}  // namespace

int runDecode(const Arguments& arguments) {
    return convertFile(arguments, noRefusal, [](const std::vector<std::uint8_t>& encoded) {
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
    // Encoding twice gives a file the programs decode into the once-encoded
    // bytes, which no row or record can survive.
    const bool force = arguments.option("force") != nullptr;
    const auto refusal = [force](const std::vector<std::uint8_t>& plain) {
        if (force) return std::string();
        const std::string hint = encodeInputHint(plain);
        return hint.empty() ? hint : hint + " (give --force to encode it again)";
    };
    return convertFile(arguments, refusal, [key](const std::vector<std::uint8_t>& plain) {
        return firmware::encodeChainedLines(plain, key);
    });
}

}  // namespace firmtool

#include "sim/scenario_fields.h"

#include <array>
#include <charconv>

#include "sim/windows_names.h"

namespace sim::scenario_json {

namespace {

constexpr std::size_t kHexIdDigits = 4;
constexpr int kHexBase = 16;
constexpr int kMaxByte = 0xFF;
constexpr std::size_t kSenseBytes = 3;
constexpr std::size_t kSenseByteDigits = 2;
constexpr char kAlways[] = "always";

std::optional<unsigned> hexNumber(std::string_view digits) {
    unsigned value = 0;
    const auto parsed =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, kHexBase);
    if (digits.empty() || parsed.ec != std::errc{} || parsed.ptr != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

}  // namespace

bool JsonReader::fail(const std::string& path, const std::string& what) {
    if (error_.empty()) error_ = (path.empty() ? std::string("scenario") : path) + ": " + what;
    return false;
}

std::string JsonReader::field(const std::string& path, std::string_view key) {
    return path.empty() ? std::string(key) : path + "." + std::string(key);
}

std::string JsonReader::item(const std::string& path, std::size_t index) {
    return path + "[" + std::to_string(index) + "]";
}

bool JsonReader::text(const Json& value, const std::string& path, std::string& out) {
    if (!value.is_string()) return fail(path, "expected a string");
    out = value.get_ref<const std::string&>();
    return true;
}

bool JsonReader::flag(const Json& value, const std::string& path, bool& out) {
    if (!value.is_boolean()) return fail(path, "expected true or false");
    out = value.get<bool>();
    return true;
}

bool JsonReader::integer(const Json& value, const std::string& path, std::int64_t low,
                         std::int64_t high, std::int64_t& out) {
    const std::string range =
        "expected a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    if (value.is_number_unsigned()) {
        const auto unsignedValue = value.get<std::uint64_t>();
        if (unsignedValue > static_cast<std::uint64_t>(high)) return fail(path, range);
        out = static_cast<std::int64_t>(unsignedValue);
    } else if (value.is_number_integer()) {
        out = value.get<std::int64_t>();
    } else {
        return fail(path, range);
    }
    if (out < low || out > high) return fail(path, range);
    return true;
}

bool JsonReader::byte(const Json& value, const std::string& path, std::uint8_t& out) {
    const char* expected = "expected a byte: a number from 0 to 255 or a string such as \"0x80\"";
    if (value.is_string()) {
        const std::string& written = value.get_ref<const std::string&>();
        if (written.size() < 3 || written[0] != '0' || (written[1] != 'x' && written[1] != 'X'))
            return fail(path, expected);
        const std::optional<unsigned> parsed = hexNumber(std::string_view(written).substr(2));
        if (!parsed || *parsed > kMaxByte) return fail(path, expected);
        out = static_cast<std::uint8_t>(*parsed);
        return true;
    }
    if (!value.is_number_integer()) return fail(path, expected);
    const auto read = value.get<std::int64_t>();
    if (read < 0 || read > kMaxByte) return fail(path, expected);
    out = static_cast<std::uint8_t>(read);
    return true;
}

bool JsonReader::hexId(const Json& value, const std::string& path, std::uint16_t& out) {
    const char* expected = "expected a string of 4 hexadecimal digits";
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    const bool allHex = std::all_of(written.begin(), written.end(),
                                    [](unsigned char c) { return std::isxdigit(c) != 0; });
    if (written.size() != kHexIdDigits || !allHex) return fail(path, expected);
    out = static_cast<std::uint16_t>(*hexNumber(written));
    return true;
}

bool JsonReader::letter(const Json& value, const std::string& path, char& out) {
    const char* expected = "expected a drive letter from \"A\" to \"Z\"";
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    constexpr std::size_t kLetterAndColon = 2;
    const std::optional<char> drive =
        written.size() <= kLetterAndColon ? driveLetterOf(written) : std::nullopt;
    if (!drive) return fail(path, expected);
    out = *drive;
    return true;
}

bool JsonReader::texts(const Json& value, const std::string& path, std::vector<std::string>& out) {
    return list(value, path, "expected a list of strings", out,
                [](JsonReader& json, const Json& entry, const std::string& at, std::string& text) {
                    return json.text(entry, at, text);
                });
}

bool JsonReader::folder(const Json& value, const std::string& path, std::filesystem::path& out) {
    std::string written;
    if (!text(value, path, written)) return false;
    if (written.empty()) return fail(path, "expected a folder, not an empty string");
    const std::filesystem::path folderPath(written);
    out = folderPath.is_absolute() ? folderPath : baseFolder_ / folderPath;
    // A machine whose package is missing would run on nothing and say little about why.
    std::error_code error;
    if (!std::filesystem::is_directory(out, error))
        return fail(path, "no folder \"" + out.lexically_normal().string() + "\"");
    return true;
}

bool JsonReader::action(const Json& value, const std::string& path, UserAction& out) {
    const char* expected =
        "expected an answer: \"ok\", \"cancel\", \"button N\", \"enter\", \"escape\", \"close\", "
        "\"about\", \"select N\", \"clear\", \"suspend\", \"minimise\" or \"restore\"";
    if (!value.is_string()) return fail(path, expected);
    const std::optional<UserAction> parsed = parseUserAction(value.get_ref<const std::string&>());
    if (!parsed) return fail(path, expected);
    out = *parsed;
    return true;
}

bool JsonReader::templateKey(const std::string& key, const std::string& path, int& out) {
    int value = 0;
    const auto parsed = std::from_chars(key.data(), key.data() + key.size(), value);
    if (key.empty() || parsed.ec != std::errc{} || parsed.ptr != key.data() + key.size() ||
        value < 1 || value > kMaxTemplateId) {
        return fail(path, "expected a template number from 1 to 65535 as the field name");
    }
    out = value;
    return true;
}

bool JsonReader::times(const Json& value, const std::string& path, int& out) {
    if (value.is_string() && value.get_ref<const std::string&>() == kAlways) {
        out = kForever;
        return true;
    }
    std::int64_t read = 0;
    if (!value.is_number_integer() ||
        !integer(value, path, 1, std::numeric_limits<int>::max(), read))
        return fail(path, "expected a count of at least 1, or \"always\"");
    out = static_cast<int>(read);
    return true;
}

bool JsonReader::sense(const Json& value, const std::string& path, CommandFault& out) {
    const char* expected =
        "expected sense data as three hexadecimal bytes \"KK/AA/QQ\" (sense key, ASC, ASCQ)";
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    std::array<std::uint8_t, kSenseBytes> bytes{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t end = i + 1 < bytes.size() ? written.find('/', start) : written.size();
        if (end == std::string::npos) return fail(path, expected);
        const std::optional<unsigned> parsed =
            hexNumber(std::string_view(written).substr(start, end - start));
        if (!parsed || *parsed > kMaxByte || end - start > kSenseByteDigits)
            return fail(path, expected);
        bytes[i] = static_cast<std::uint8_t>(*parsed);
        start = end + 1;
    }
    out.failCall = false;
    out.senseKey = bytes[0];
    out.asc = bytes[1];
    out.ascq = bytes[2];
    return true;
}

bool JsonReader::deviceCall(const Json& value, const std::string& path, DeviceCall& call) {
    const char* expected =
        "expected a device call: \"open\", \"lock\", \"unlock\", \"testUnitReady\", "
        "\"requestSense\", \"inquiry\", \"modeSense\", \"writeBlock\", \"format\" or \"operation\"";
    if (!value.is_string()) return fail(path, expected);
    const std::optional<DeviceCall> named = deviceCallNamed(value.get_ref<const std::string&>());
    if (!named) return fail(path, expected);
    call = *named;
    return true;
}

}  // namespace sim::scenario_json

#include "sim/scenario_json.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <fstream>
#include <initializer_list>
#include <iterator>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>

namespace sim {

namespace {

using Json = nlohmann::json;

// Token group attributes the scenario can name; the programs look only at
// the enabled and deny-only bits, the others make a realistic token.
constexpr win::DWORD kGroupMandatory = 0x00000001;
constexpr win::DWORD kGroupEnabledByDefault = 0x00000002;
constexpr win::DWORD kGroupOwner = 0x00000008;

constexpr std::size_t kHexIdDigits = 4;
constexpr int kHexBase = 16;
constexpr int kMaxByte = 0xFF;
constexpr int kMaxTemplateId = 0xFFFF;
constexpr char kAlways[] = "always";

struct NamedValue {
    const char* name;
    unsigned value;
};

constexpr NamedValue kDriveTypes[] = {
    {"removable", win::DRIVE_REMOVABLE}, {"fixed", win::DRIVE_FIXED},
    {"remote", win::DRIVE_REMOTE},       {"cdrom", win::DRIVE_CDROM},
    {"ramdisk", win::DRIVE_RAMDISK},
};

constexpr NamedValue kGroupAttributes[] = {
    {"mandatory", kGroupMandatory},
    {"enabledByDefault", kGroupEnabledByDefault},
    {"enabled", win::SE_GROUP_ENABLED},
    {"owner", kGroupOwner},
    {"denyOnly", win::SE_GROUP_USE_FOR_DENY_ONLY},
};

struct NamedCall {
    const char* name;
    RegistryCall call;
};

constexpr NamedCall kRegistryCalls[] = {
    {"open", RegistryCall::Open},
    {"create", RegistryCall::Create},
    {"enumValue", RegistryCall::EnumValue},
    {"enumKey", RegistryCall::EnumKey},
    {"queryValue", RegistryCall::QueryValue},
    {"setValue", RegistryCall::SetValue},
    {"deleteKey", RegistryCall::DeleteKey},
    {"close", RegistryCall::Close},
};

template <typename Table>
std::string namesOf(const Table& table) {
    std::string names;
    for (const auto& entry : table) {
        if (!names.empty()) names += ", ";
        names += entry.name;
    }
    return names;
}

// The largest value of T that a scenario can write.
template <typename T>
constexpr std::int64_t highest() {
    constexpr auto kLargest = static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
    return static_cast<std::uint64_t>(std::numeric_limits<T>::max()) > kLargest
               ? std::numeric_limits<std::int64_t>::max()
               : static_cast<std::int64_t>(std::numeric_limits<T>::max());
}

// Walks the parsed document, keeping the first fault it meets with the path
// of the field that holds it. Every reader returns false once a fault is
// kept, so the callers simply stop.
class ScenarioParser {
  public:
    ScenarioParser(const std::filesystem::path& baseFolder) : baseFolder_(baseFolder) {}

    bool scenario(const Json& root, Scenario& out);
    const std::string& error() const { return error_; }

  private:
    bool fail(const std::string& path, const std::string& what) {
        if (error_.empty()) error_ = (path.empty() ? std::string("scenario") : path) + ": " + what;
        return false;
    }

    static std::string field(const std::string& path, std::string_view key) {
        return path.empty() ? std::string(key) : path + "." + std::string(key);
    }
    static std::string item(const std::string& path, std::size_t index) {
        return path + "[" + std::to_string(index) + "]";
    }

    // An object whose every key is one of `allowed`.
    bool object(const Json& value, const std::string& path,
                std::initializer_list<std::string_view> allowed);
    bool text(const Json& value, const std::string& path, std::string& out);
    bool flag(const Json& value, const std::string& path, bool& out);
    bool integer(const Json& value, const std::string& path, std::int64_t low, std::int64_t high,
                 std::int64_t& out);
    template <typename T>
    bool number(const Json& value, const std::string& path, T& out,
                std::int64_t low = std::numeric_limits<T>::min(), std::int64_t high = highest<T>());
    bool byte(const Json& value, const std::string& path, std::uint8_t& out);
    bool hexId(const Json& value, const std::string& path, std::uint16_t& out);
    bool letter(const Json& value, const std::string& path, char& out);
    bool texts(const Json& value, const std::string& path, std::vector<std::string>& out);
    bool folder(const Json& value, const std::string& path, std::filesystem::path& out);
    bool action(const Json& value, const std::string& path, UserAction& out);
    bool templateKey(const std::string& key, const std::string& path, int& out);
    bool times(const Json& value, const std::string& path, int& out);
    bool sense(const Json& value, const std::string& path, CommandFault& out);
    bool deviceCall(const Json& value, const std::string& path, DeviceCall& call);
    bool operationCode(const Json& value, const std::string& path, std::uint8_t& out);

    bool machine(const Json& value, const std::string& path, ScenarioMachine& out);
    bool drive(const Json& value, const std::string& path, ScenarioDrive& out);
    bool reader(const Json& value, const std::string& path, ScenarioReader& out);
    bool inquiry(const Json& value, const std::string& path, ReaderIdentity& out);
    bool usb(const Json& value, const std::string& path, ScenarioReader& out);
    bool becomes(const Json& value, const std::string& path, ReaderBecomes& out);
    bool version(const Json& value, const std::string& path, ScenarioMachine& out);
    bool administrator(const Json& value, const std::string& path, ScenarioMachine& out);
    bool tokenGroup(const Json& value, const std::string& path, TokenGroup& out);
    bool registry(const Json& value, const std::string& path, ScenarioMachine& out);
    bool user(const Json& value, const std::string& path, ScenarioUser& out);
    bool programAnswers(const Json& value, const std::string& path, ProgramAnswers& out);
    bool faults(const Json& value, const std::string& path, Scenario& out);
    bool commandFault(const Json& value, const std::string& path, CommandFault& out);
    bool registryFault(const Json& value, const std::string& path, RegistryFault& out);
    bool incident(const Json& value, const std::string& path, Incident& out);
    bool trigger(const Json& value, const std::string& path, Trigger& out);
    bool run(const Json& value, const std::string& path, ScenarioRun& out);

    std::filesystem::path baseFolder_;
    std::string error_;
};

bool ScenarioParser::object(const Json& value, const std::string& path,
                            std::initializer_list<std::string_view> allowed) {
    if (!value.is_object()) return fail(path, "expected an object");
    for (const auto& [key, member] : value.items()) {
        if (std::find(allowed.begin(), allowed.end(), key) != allowed.end()) continue;
        std::string names;
        for (const std::string_view name : allowed) {
            if (!names.empty()) names += ", ";
            names += name;
        }
        return fail(field(path, key), "unknown field (expected one of: " + names + ")");
    }
    return true;
}

bool ScenarioParser::text(const Json& value, const std::string& path, std::string& out) {
    if (!value.is_string()) return fail(path, "expected a string");
    out = value.get_ref<const std::string&>();
    return true;
}

bool ScenarioParser::flag(const Json& value, const std::string& path, bool& out) {
    if (!value.is_boolean()) return fail(path, "expected true or false");
    out = value.get<bool>();
    return true;
}

bool ScenarioParser::integer(const Json& value, const std::string& path, std::int64_t low,
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

template <typename T>
bool ScenarioParser::number(const Json& value, const std::string& path, T& out, std::int64_t low,
                            std::int64_t high) {
    std::int64_t read = 0;
    if (!integer(value, path, low, high, read)) return false;
    out = static_cast<T>(read);
    return true;
}

std::optional<unsigned> hexNumber(std::string_view digits) {
    unsigned value = 0;
    const auto parsed =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, kHexBase);
    if (digits.empty() || parsed.ec != std::errc{} || parsed.ptr != digits.data() + digits.size())
        return std::nullopt;
    return value;
}

bool ScenarioParser::byte(const Json& value, const std::string& path, std::uint8_t& out) {
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

bool ScenarioParser::hexId(const Json& value, const std::string& path, std::uint16_t& out) {
    const char* expected = "expected a string of 4 hexadecimal digits";
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    const bool allHex = std::all_of(written.begin(), written.end(),
                                    [](unsigned char c) { return std::isxdigit(c) != 0; });
    if (written.size() != kHexIdDigits || !allHex) return fail(path, expected);
    out = static_cast<std::uint16_t>(*hexNumber(written));
    return true;
}

bool ScenarioParser::letter(const Json& value, const std::string& path, char& out) {
    const char* expected = "expected a drive letter from \"A\" to \"Z\"";
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    const bool withColon = written.size() == 2 && written[1] == ':';
    if ((written.size() != 1 && !withColon) ||
        std::isalpha(static_cast<unsigned char>(written[0])) == 0)
        return fail(path, expected);
    out = static_cast<char>(std::toupper(static_cast<unsigned char>(written[0])));
    return true;
}

bool ScenarioParser::texts(const Json& value, const std::string& path,
                           std::vector<std::string>& out) {
    if (!value.is_array()) return fail(path, "expected a list of strings");
    out.clear();
    for (std::size_t i = 0; i < value.size(); ++i) {
        std::string entry;
        if (!text(value[i], item(path, i), entry)) return false;
        out.push_back(std::move(entry));
    }
    return true;
}

bool ScenarioParser::folder(const Json& value, const std::string& path,
                            std::filesystem::path& out) {
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

bool ScenarioParser::action(const Json& value, const std::string& path, UserAction& out) {
    const char* expected =
        "expected an answer: \"ok\", \"cancel\", \"button N\", \"enter\", \"escape\", \"close\", "
        "\"about\", \"select N\", \"clear\", \"suspend\", \"minimise\" or \"restore\"";
    if (!value.is_string()) return fail(path, expected);
    const std::optional<UserAction> parsed = parseUserAction(value.get_ref<const std::string&>());
    if (!parsed) return fail(path, expected);
    out = *parsed;
    return true;
}

bool ScenarioParser::templateKey(const std::string& key, const std::string& path, int& out) {
    int value = 0;
    const auto parsed = std::from_chars(key.data(), key.data() + key.size(), value);
    if (key.empty() || parsed.ec != std::errc{} || parsed.ptr != key.data() + key.size() ||
        value < 1 || value > kMaxTemplateId) {
        return fail(path, "expected a template number from 1 to 65535 as the field name");
    }
    out = value;
    return true;
}

bool ScenarioParser::times(const Json& value, const std::string& path, int& out) {
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

bool ScenarioParser::sense(const Json& value, const std::string& path, CommandFault& out) {
    const char* expected =
        "expected sense data as three hexadecimal bytes \"KK/AA/QQ\" (sense key, ASC, ASCQ)";
    if (!value.is_string()) return fail(path, expected);
    const std::string& written = value.get_ref<const std::string&>();
    std::array<std::uint8_t, 3> bytes{};
    std::size_t start = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::size_t end = i + 1 < bytes.size() ? written.find('/', start) : written.size();
        if (end == std::string::npos) return fail(path, expected);
        const std::optional<unsigned> parsed =
            hexNumber(std::string_view(written).substr(start, end - start));
        if (!parsed || *parsed > kMaxByte || end - start > 2) return fail(path, expected);
        bytes[i] = static_cast<std::uint8_t>(*parsed);
        start = end + 1;
    }
    out.failCall = false;
    out.senseKey = bytes[0];
    out.asc = bytes[1];
    out.ascq = bytes[2];
    return true;
}

bool ScenarioParser::deviceCall(const Json& value, const std::string& path, DeviceCall& call) {
    const char* expected =
        "expected a device call: \"open\", \"lock\", \"unlock\", \"testUnitReady\", "
        "\"requestSense\", \"inquiry\", \"modeSense\", \"writeBlock\", \"format\" or \"operation\"";
    if (!value.is_string()) return fail(path, expected);
    const std::optional<DeviceCall> named = deviceCallNamed(value.get_ref<const std::string&>());
    if (!named) return fail(path, expected);
    call = *named;
    return true;
}

bool ScenarioParser::operationCode(const Json& value, const std::string& path, std::uint8_t& out) {
    return byte(value, path, out);
}

// --- the machine ------------------------------------------------------------------

bool ScenarioParser::drive(const Json& value, const std::string& path, ScenarioDrive& out) {
    if (!object(value, path, {"letter", "type", "medium", "files"})) return false;
    if (!value.contains("letter")) return fail(field(path, "letter"), "missing");
    if (!letter(value["letter"], field(path, "letter"), out.letter)) return false;
    if (value.contains("type")) {
        const std::string typePath = field(path, "type");
        const std::string expected = "expected one of: " + namesOf(kDriveTypes);
        if (!value["type"].is_string()) return fail(typePath, expected);
        const std::string& written = value["type"].get_ref<const std::string&>();
        const auto found =
            std::find_if(std::begin(kDriveTypes), std::end(kDriveTypes),
                         [&](const NamedValue& entry) { return written == entry.name; });
        if (found == std::end(kDriveTypes)) return fail(typePath, expected);
        out.type = found->value;
    }
    if (value.contains("medium") &&
        !flag(value["medium"], field(path, "medium"), out.mediumPresent))
        return false;
    if (value.contains("files") && !texts(value["files"], field(path, "files"), out.files))
        return false;
    return true;
}

bool ScenarioParser::inquiry(const Json& value, const std::string& path, ReaderIdentity& out) {
    if (!object(value, path, {"vendor", "product", "revision"})) return false;
    if (value.contains("vendor") && !text(value["vendor"], field(path, "vendor"), out.vendor))
        return false;
    if (value.contains("product") && !text(value["product"], field(path, "product"), out.product))
        return false;
    if (value.contains("revision") &&
        !text(value["revision"], field(path, "revision"), out.revision))
        return false;
    return true;
}

bool ScenarioParser::usb(const Json& value, const std::string& path, ScenarioReader& out) {
    if (!object(value, path, {"vid", "pid", "rev", "serial"})) return false;
    if (value.contains("vid") && !hexId(value["vid"], field(path, "vid"), out.vendorId))
        return false;
    if (value.contains("pid") && !hexId(value["pid"], field(path, "pid"), out.productId))
        return false;
    if (value.contains("rev") && !hexId(value["rev"], field(path, "rev"), out.deviceRevision))
        return false;
    if (value.contains("serial") && !text(value["serial"], field(path, "serial"), out.serialNumber))
        return false;
    return true;
}

bool ScenarioParser::becomes(const Json& value, const std::string& path, ReaderBecomes& out) {
    if (!object(value, path, {"pid", "product", "rev", "inquiryRevision"})) return false;
    std::uint16_t id = 0;
    std::string written;
    if (value.contains("pid")) {
        if (!hexId(value["pid"], field(path, "pid"), id)) return false;
        out.productId = id;
    }
    if (value.contains("rev")) {
        if (!hexId(value["rev"], field(path, "rev"), id)) return false;
        out.deviceRevision = id;
    }
    if (value.contains("product")) {
        if (!text(value["product"], field(path, "product"), written)) return false;
        out.productName = written;
    }
    if (value.contains("inquiryRevision")) {
        if (!text(value["inquiryRevision"], field(path, "inquiryRevision"), written)) return false;
        out.inquiryRevision = written;
    }
    return true;
}

bool ScenarioParser::reader(const Json& value, const std::string& path, ScenarioReader& out) {
    if (!object(value, path,
                {"letter", "inquiry", "usb", "writeProtect", "medium", "files", "formatMs",
                 "refuseFormat", "becomes"})) {
        return false;
    }
    if (value.contains("letter") && !letter(value["letter"], field(path, "letter"), out.letter))
        return false;
    if (value.contains("inquiry") &&
        !inquiry(value["inquiry"], field(path, "inquiry"), out.inquiry))
        return false;
    if (value.contains("usb") && !usb(value["usb"], field(path, "usb"), out)) return false;
    if (value.contains("writeProtect") &&
        !byte(value["writeProtect"], field(path, "writeProtect"), out.deviceSpecificParameter))
        return false;
    if (value.contains("medium") &&
        !flag(value["medium"], field(path, "medium"), out.mediumPresent))
        return false;
    if (value.contains("files") && !texts(value["files"], field(path, "files"), out.files))
        return false;
    if (value.contains("formatMs") &&
        !number(value["formatMs"], field(path, "formatMs"), out.formatDurationMs, 0))
        return false;
    if (value.contains("refuseFormat") &&
        !flag(value["refuseFormat"], field(path, "refuseFormat"), out.refuseFormat))
        return false;
    if (value.contains("becomes") &&
        !becomes(value["becomes"], field(path, "becomes"), out.becomes))
        return false;
    return true;
}

bool ScenarioParser::version(const Json& value, const std::string& path, ScenarioMachine& out) {
    if (!object(value, path, {"major", "minor", "build", "platformId"})) return false;
    if (value.contains("major") &&
        !number(value["major"], field(path, "major"), out.majorVersion, 0))
        return false;
    if (value.contains("minor") &&
        !number(value["minor"], field(path, "minor"), out.minorVersion, 0))
        return false;
    if (value.contains("build") &&
        !number(value["build"], field(path, "build"), out.buildNumber, 0))
        return false;
    if (value.contains("platformId") &&
        !number(value["platformId"], field(path, "platformId"), out.platformId, 0))
        return false;
    return true;
}

bool ScenarioParser::tokenGroup(const Json& value, const std::string& path, TokenGroup& out) {
    if (!object(value, path, {"rid", "attributes"})) return false;
    if (!value.contains("rid")) return fail(field(path, "rid"), "missing");
    if (!number(value["rid"], field(path, "rid"), out.rid, 0)) return false;
    out.attributes = 0;
    if (!value.contains("attributes")) return true;
    std::vector<std::string> names;
    const std::string attributesPath = field(path, "attributes");
    if (!texts(value["attributes"], attributesPath, names)) return false;
    for (std::size_t i = 0; i < names.size(); ++i) {
        const auto found =
            std::find_if(std::begin(kGroupAttributes), std::end(kGroupAttributes),
                         [&](const NamedValue& entry) { return names[i] == entry.name; });
        if (found == std::end(kGroupAttributes))
            return fail(item(attributesPath, i), "expected one of: " + namesOf(kGroupAttributes));
        out.attributes |= found->value;
    }
    return true;
}

bool ScenarioParser::administrator(const Json& value, const std::string& path,
                                   ScenarioMachine& out) {
    if (!object(value, path, {"groups", "shutdownPrivilege", "failing"})) return false;
    if (value.contains("groups")) {
        const std::string groupsPath = field(path, "groups");
        if (!value["groups"].is_array()) return fail(groupsPath, "expected a list of groups");
        out.tokenGroups.clear();
        for (std::size_t i = 0; i < value["groups"].size(); ++i) {
            TokenGroup group;
            if (!tokenGroup(value["groups"][i], item(groupsPath, i), group)) return false;
            out.tokenGroups.push_back(group);
        }
    }
    if (value.contains("shutdownPrivilege") &&
        !flag(value["shutdownPrivilege"], field(path, "shutdownPrivilege"), out.shutdownPrivilege))
        return false;
    if (value.contains("failing")) {
        std::string call;
        if (!text(value["failing"], field(path, "failing"), call)) return false;
        if (call == "OpenProcessToken") {
            out.failOpenProcessToken = true;
        } else if (call == "GetTokenInformation") {
            out.failGetTokenInformation = true;
        } else {
            return fail(field(path, "failing"),
                        "expected \"OpenProcessToken\" or \"GetTokenInformation\"");
        }
    }
    return true;
}

bool ScenarioParser::registry(const Json& value, const std::string& path, ScenarioMachine& out) {
    if (!object(value, path, {"runOnceKey", "keys"})) return false;
    if (value.contains("runOnceKey") &&
        !flag(value["runOnceKey"], field(path, "runOnceKey"), out.runOnceKeyPresent))
        return false;
    if (!value.contains("keys")) return true;
    const std::string keysPath = field(path, "keys");
    if (!value["keys"].is_array()) return fail(keysPath, "expected a list of keys");
    for (std::size_t i = 0; i < value["keys"].size(); ++i) {
        const Json& entry = value["keys"][i];
        const std::string entryPath = item(keysPath, i);
        ScenarioRegistryKey key;
        if (!object(entry, entryPath, {"path", "values"})) return false;
        if (!entry.contains("path")) return fail(field(entryPath, "path"), "missing");
        if (!text(entry["path"], field(entryPath, "path"), key.path)) return false;
        if (key.path.empty()) return fail(field(entryPath, "path"), "expected a key path");
        if (entry.contains("values")) {
            const std::string valuesPath = field(entryPath, "values");
            if (!entry["values"].is_object())
                return fail(valuesPath, "expected an object of string values");
            for (const auto& [name, data] : entry["values"].items()) {
                std::string written;
                if (!text(data, field(valuesPath, name), written)) return false;
                key.values.emplace_back(name, written);
            }
        }
        out.registryKeys.push_back(std::move(key));
    }
    return true;
}

bool ScenarioParser::machine(const Json& value, const std::string& path, ScenarioMachine& out) {
    if (!object(value, path,
                {"drives", "readers", "locale", "version", "administrator", "programFolder",
                 "libraryFolder", "currentDirectory", "otherPrograms", "registry"})) {
        return false;
    }
    if (value.contains("drives")) {
        const std::string drivesPath = field(path, "drives");
        if (!value["drives"].is_array()) return fail(drivesPath, "expected a list of drives");
        std::vector<ScenarioDrive> drives;
        for (std::size_t i = 0; i < value["drives"].size(); ++i) {
            ScenarioDrive entry;
            if (!drive(value["drives"][i], item(drivesPath, i), entry)) return false;
            drives.push_back(std::move(entry));
        }
        out.drives = std::move(drives);
    }
    if (value.contains("readers")) {
        const std::string readersPath = field(path, "readers");
        if (!value["readers"].is_array()) return fail(readersPath, "expected a list of readers");
        out.readers.clear();
        for (std::size_t i = 0; i < value["readers"].size(); ++i) {
            ScenarioReader entry;
            if (!reader(value["readers"][i], item(readersPath, i), entry)) return false;
            out.readers.push_back(std::move(entry));
        }
    }
    if (value.contains("locale") && !text(value["locale"], field(path, "locale"), out.locale))
        return false;
    if (value.contains("version") && !version(value["version"], field(path, "version"), out))
        return false;
    if (value.contains("administrator") &&
        !administrator(value["administrator"], field(path, "administrator"), out))
        return false;
    if (value.contains("programFolder") &&
        !folder(value["programFolder"], field(path, "programFolder"), out.programFolder))
        return false;
    if (value.contains("libraryFolder")) {
        if (value["libraryFolder"].is_null()) {
            out.useLibraryFolder = false;
        } else if (!folder(value["libraryFolder"], field(path, "libraryFolder"),
                           out.libraryFolder)) {
            return false;
        }
    }
    if (value.contains("currentDirectory")) {
        const std::string directoryPath = field(path, "currentDirectory");
        if (!text(value["currentDirectory"], directoryPath, out.currentDirectory)) return false;
        const std::string& directory = out.currentDirectory;
        if (directory.size() < 3 || std::isalpha(static_cast<unsigned char>(directory[0])) == 0 ||
            directory[1] != ':' || directory[2] != '\\') {
            return fail(directoryPath,
                        "expected a Windows path that starts with a drive root, "
                        "such as \"C:\\\\Program Files\\\\Kavo\"");
        }
    }
    if (value.contains("otherPrograms") &&
        !texts(value["otherPrograms"], field(path, "otherPrograms"), out.otherPrograms))
        return false;
    if (value.contains("registry") && !registry(value["registry"], field(path, "registry"), out))
        return false;

    // Two devices cannot share a letter.
    std::string letters;
    const std::string drivesPath = field(path, "drives");
    if (out.drives) {
        for (std::size_t i = 0; i < out.drives->size(); ++i) {
            const char taken = (*out.drives)[i].letter;
            if (letters.find(taken) != std::string::npos)
                return fail(field(item(drivesPath, i), "letter"),
                            std::string("drive ") + taken + ": is given twice");
            letters += taken;
        }
    }
    for (std::size_t i = 0; i < out.readers.size(); ++i) {
        const char taken = out.readers[i].letter;
        if (letters.find(taken) != std::string::npos)
            return fail(field(item(field(path, "readers"), i), "letter"),
                        std::string("drive ") + taken + ": is already taken");
        letters += taken;
    }
    return true;
}

// --- the person, the faults, the incidents, the run -------------------------------

bool ScenarioParser::programAnswers(const Json& value, const std::string& path,
                                    ProgramAnswers& out) {
    if (!object(value, path, {"answers", "defaults"})) return false;
    if (value.contains("answers")) {
        const std::string answersPath = field(path, "answers");
        if (!value["answers"].is_object())
            return fail(answersPath, "expected an object: template number -> list of answers");
        for (const auto& [key, answers] : value["answers"].items()) {
            const std::string keyPath = field(answersPath, key);
            int templateId = 0;
            if (!templateKey(key, keyPath, templateId)) return false;
            std::vector<UserAction>& queue = out.queued[templateId];
            if (answers.is_array()) {
                for (std::size_t i = 0; i < answers.size(); ++i) {
                    UserAction answer;
                    if (!action(answers[i], item(keyPath, i), answer)) return false;
                    queue.push_back(answer);
                }
            } else {
                UserAction answer;
                if (!action(answers, keyPath, answer)) return false;
                queue.push_back(answer);
            }
        }
    }
    if (value.contains("defaults")) {
        const std::string defaultsPath = field(path, "defaults");
        if (!value["defaults"].is_object())
            return fail(defaultsPath, "expected an object: template number -> answer");
        for (const auto& [key, answer] : value["defaults"].items()) {
            const std::string keyPath = field(defaultsPath, key);
            int templateId = 0;
            UserAction parsed;
            if (!templateKey(key, keyPath, templateId) || !action(answer, keyPath, parsed))
                return false;
            out.defaults[templateId] = parsed;
        }
    }
    return true;
}

bool ScenarioParser::user(const Json& value, const std::string& path, ScenarioUser& out) {
    if (!object(value, path, {"fallback", "programs"})) return false;
    if (value.contains("fallback") &&
        !action(value["fallback"], field(path, "fallback"), out.fallback))
        return false;
    if (!value.contains("programs")) return true;
    const std::string programsPath = field(path, "programs");
    if (!value["programs"].is_object())
        return fail(programsPath, "expected an object: program file -> its answers");
    for (const auto& [program, answers] : value["programs"].items()) {
        if (!programAnswers(answers, field(programsPath, program), out.programs[program]))
            return false;
    }
    return true;
}

bool ScenarioParser::commandFault(const Json& value, const std::string& path, CommandFault& out) {
    if (!object(value, path,
                {"command", "operation", "drive", "program", "block", "occurrence", "times", "fail",
                 "sense"})) {
        return false;
    }
    if (!deviceCall(value["command"], field(path, "command"), out.call)) return false;
    if (out.call == DeviceCall::Operation) {
        if (!value.contains("operation"))
            return fail(field(path, "operation"), "missing: the operation code to fail");
        if (!operationCode(value["operation"], field(path, "operation"), out.operationCode))
            return false;
    } else if (value.contains("operation")) {
        return fail(field(path, "operation"), "only for \"command\": \"operation\"");
    }
    if (value.contains("drive")) {
        char driveLetter = 0;
        if (!letter(value["drive"], field(path, "drive"), driveLetter)) return false;
        out.drive = driveLetter;
    }
    if (value.contains("program")) {
        std::string program;
        if (!text(value["program"], field(path, "program"), program)) return false;
        out.program = program;
    }
    if (value.contains("block")) {
        if (out.call != DeviceCall::WriteBlock)
            return fail(field(path, "block"), "only for \"command\": \"writeBlock\"");
        std::uint16_t block = 0;
        if (!number(value["block"], field(path, "block"), block, 0)) return false;
        out.block = block;
    }
    if (value.contains("occurrence") &&
        !number(value["occurrence"], field(path, "occurrence"), out.occurrence, 1))
        return false;
    if (value.contains("times") && !times(value["times"], field(path, "times"), out.times))
        return false;

    const bool hasFail = value.contains("fail");
    const bool hasSense = value.contains("sense");
    const bool callOnly = out.call == DeviceCall::Open || out.call == DeviceCall::Lock ||
                          out.call == DeviceCall::Unlock;
    if (hasFail == hasSense)
        return fail(path,
                    "expected exactly one of \"fail\" (the call fails) and \"sense\" (the "
                    "device answers CHECK CONDITION)");
    if (hasSense) {
        if (callOnly)
            return fail(field(path, "sense"), "an open, lock or unlock has no sense data");
        return sense(value["sense"], field(path, "sense"), out);
    }
    const Json& failing = value["fail"];
    out.failCall = true;
    if (failing.is_boolean() && failing.get<bool>()) return true;
    if (!failing.is_number_integer())
        return fail(field(path, "fail"), "expected true or the error code the call gives");
    return number(failing, field(path, "fail"), out.error, 1);
}

bool ScenarioParser::registryFault(const Json& value, const std::string& path, RegistryFault& out) {
    if (!object(value, path, {"registry", "key", "name", "error"})) return false;
    const std::string callPath = field(path, "registry");
    const std::string expected = "expected one of: " + namesOf(kRegistryCalls);
    if (!value["registry"].is_string()) return fail(callPath, expected);
    const std::string& written = value["registry"].get_ref<const std::string&>();
    const auto found = std::find_if(std::begin(kRegistryCalls), std::end(kRegistryCalls),
                                    [&](const NamedCall& entry) { return written == entry.name; });
    if (found == std::end(kRegistryCalls)) return fail(callPath, expected);
    out.call = found->call;
    if (!value.contains("key")) return fail(field(path, "key"), "missing: the key path");
    if (!text(value["key"], field(path, "key"), out.keyPath)) return false;
    if (value.contains("name")) {
        std::string name;
        if (!text(value["name"], field(path, "name"), name)) return false;
        out.name = name;
    }
    if (value.contains("error") && !number(value["error"], field(path, "error"), out.error, 1))
        return false;
    return true;
}

bool ScenarioParser::faults(const Json& value, const std::string& path, Scenario& out) {
    if (!value.is_array()) return fail(path, "expected a list of faults");
    for (std::size_t i = 0; i < value.size(); ++i) {
        const Json& entry = value[i];
        const std::string entryPath = item(path, i);
        if (entry.is_object() && entry.contains("command")) {
            CommandFault fault;
            if (!commandFault(entry, entryPath, fault)) return false;
            out.faults.push_back(std::move(fault));
        } else if (entry.is_object() && entry.contains("registry")) {
            RegistryFault fault;
            if (!registryFault(entry, entryPath, fault)) return false;
            out.registryFaults.push_back(std::move(fault));
        } else {
            return fail(entryPath, "expected a fault with a \"command\" or a \"registry\" field");
        }
    }
    return true;
}

bool ScenarioParser::trigger(const Json& value, const std::string& path, Trigger& out) {
    if (!object(
            value, path,
            {"time", "dialog", "command", "operation", "poll", "program", "drive", "occurrence"})) {
        return false;
    }
    const int kinds =
        static_cast<int>(value.contains("time")) + static_cast<int>(value.contains("dialog")) +
        static_cast<int>(value.contains("command")) + static_cast<int>(value.contains("poll"));
    if (kinds != 1)
        return fail(path, "expected exactly one of \"time\", \"dialog\", \"command\" and \"poll\"");
    if (value.contains("time")) {
        out.kind = TriggerKind::Time;
        if (!number(value["time"], field(path, "time"), out.timeMs, 0)) return false;
    } else if (value.contains("dialog")) {
        out.kind = TriggerKind::Dialog;
        if (!number(value["dialog"], field(path, "dialog"), out.templateId, 1, kMaxTemplateId))
            return false;
    } else if (value.contains("command")) {
        out.kind = TriggerKind::Command;
        if (!deviceCall(value["command"], field(path, "command"), out.call)) return false;
        if (out.call == DeviceCall::Operation) {
            if (!value.contains("operation"))
                return fail(field(path, "operation"), "missing: the operation code to wait for");
            if (!operationCode(value["operation"], field(path, "operation"), out.operationCode))
                return false;
        }
    } else {
        out.kind = TriggerKind::Poll;
        if (!number(value["poll"], field(path, "poll"), out.occurrence, 1)) return false;
    }
    if (value.contains("operation") &&
        (out.kind != TriggerKind::Command || out.call != DeviceCall::Operation))
        return fail(field(path, "operation"), "only with \"command\": \"operation\"");
    if (value.contains("occurrence")) {
        if (out.kind == TriggerKind::Time || out.kind == TriggerKind::Poll)
            return fail(field(path, "occurrence"), "only with \"dialog\" or \"command\"");
        if (!number(value["occurrence"], field(path, "occurrence"), out.occurrence, 1))
            return false;
    }
    if (value.contains("program")) {
        if (out.kind == TriggerKind::Time)
            return fail(field(path, "program"), "time is the machine's, not a program's");
        std::string program;
        if (!text(value["program"], field(path, "program"), program)) return false;
        out.program = program;
    }
    if (value.contains("drive")) {
        if (out.kind != TriggerKind::Command && out.kind != TriggerKind::Poll)
            return fail(field(path, "drive"), "only with \"command\" or \"poll\"");
        char driveLetter = 0;
        if (!letter(value["drive"], field(path, "drive"), driveLetter)) return false;
        out.drive = driveLetter;
    }
    return true;
}

bool ScenarioParser::incident(const Json& value, const std::string& path, Incident& out) {
    if (!object(value, path, {"at", "do", "drive", "bits", "program"})) return false;
    if (!value.contains("at")) return fail(field(path, "at"), "missing: when it happens");
    if (!trigger(value["at"], field(path, "at"), out.at)) return false;
    const std::string doPath = field(path, "do");
    const char* expected =
        "expected one of: pullMedium, insertMedium, writeProtect, querySuspend, quit, start";
    if (!value.contains("do") || !value["do"].is_string()) return fail(doPath, expected);
    const std::optional<IncidentKind> kind =
        incidentNamed(value["do"].get_ref<const std::string&>());
    if (!kind) return fail(doPath, expected);
    out.kind = *kind;

    const bool needsDrive = out.kind == IncidentKind::PullMedium ||
                            out.kind == IncidentKind::InsertMedium ||
                            out.kind == IncidentKind::SetWriteProtect;
    if (value.contains("drive")) {
        if (!needsDrive) return fail(field(path, "drive"), "this incident concerns no drive");
        if (!letter(value["drive"], field(path, "drive"), out.drive)) return false;
    } else if (needsDrive && out.at.drive) {
        out.drive = *out.at.drive;
    }
    if (value.contains("bits")) {
        if (out.kind != IncidentKind::SetWriteProtect)
            return fail(field(path, "bits"), "only with \"do\": \"writeProtect\"");
        if (!byte(value["bits"], field(path, "bits"), out.bits)) return false;
    } else if (out.kind == IncidentKind::SetWriteProtect) {
        return fail(field(path, "bits"), "missing: the new byte 3 (0 removes the protection)");
    }
    if (out.kind == IncidentKind::StartProgram) {
        if (!value.contains("program")) return fail(field(path, "program"), "missing");
        if (!text(value["program"], field(path, "program"), out.program)) return false;
    } else if (value.contains("program")) {
        return fail(field(path, "program"), "only with \"do\": \"start\"");
    }
    return true;
}

bool ScenarioParser::run(const Json& value, const std::string& path, ScenarioRun& out) {
    if (!object(value, path, {"start", "afterPowerOff", "ifNotPoweredOff"})) return false;
    if (value.contains("start") && !texts(value["start"], field(path, "start"), out.start))
        return false;
    std::string choice;
    if (value.contains("afterPowerOff")) {
        if (!text(value["afterPowerOff"], field(path, "afterPowerOff"), choice)) return false;
        if (choice == "powerOn") {
            out.afterPowerOff = AfterPowerOff::PowerOn;
        } else if (choice == "stop") {
            out.afterPowerOff = AfterPowerOff::Stop;
        } else {
            return fail(field(path, "afterPowerOff"), "expected \"powerOn\" or \"stop\"");
        }
    }
    if (value.contains("ifNotPoweredOff")) {
        if (!text(value["ifNotPoweredOff"], field(path, "ifNotPoweredOff"), choice)) return false;
        if (choice == "stop") {
            out.ifNotPoweredOff = IfNotPoweredOff::Stop;
        } else if (choice == "restart") {
            out.ifNotPoweredOff = IfNotPoweredOff::Restart;
        } else {
            return fail(field(path, "ifNotPoweredOff"), "expected \"stop\" or \"restart\"");
        }
    }
    return true;
}

bool ScenarioParser::scenario(const Json& root, Scenario& out) {
    if (!object(root, "", {"description", "machine", "user", "faults", "incidents", "run"}))
        return false;
    if (root.contains("description") && !text(root["description"], "description", out.description))
        return false;
    if (root.contains("machine") && !machine(root["machine"], "machine", out.machine)) return false;
    if (root.contains("user") && !user(root["user"], "user", out.user)) return false;
    if (root.contains("faults") && !faults(root["faults"], "faults", out)) return false;
    if (root.contains("incidents")) {
        const Json& incidents = root["incidents"];
        if (!incidents.is_array()) return fail("incidents", "expected a list of incidents");
        for (std::size_t i = 0; i < incidents.size(); ++i) {
            Incident entry;
            if (!incident(incidents[i], item("incidents", i), entry)) return false;
            out.incidents.push_back(std::move(entry));
        }
    }
    if (root.contains("run") && !run(root["run"], "run", out.run)) return false;
    return true;
}

// Notes where the text stops being JSON, without exceptions.
class SyntaxCheck final : public nlohmann::json_sax<Json> {
  public:
    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool start_object(std::size_t) override { return true; }
    bool key(string_t&) override { return true; }
    bool end_object() override { return true; }
    bool start_array(std::size_t) override { return true; }
    bool end_array() override { return true; }
    bool parse_error(std::size_t, const std::string&,
                     const nlohmann::detail::exception& problem) override {
        // "[json.exception.parse_error.101] parse error at line 2, column 5: ..."
        std::string message = problem.what();
        const std::size_t tag = message.find("] ");
        if (tag != std::string::npos) message.erase(0, tag + 2);
        constexpr std::string_view kLead = "parse error at ";
        if (message.rfind(kLead, 0) == 0) message.erase(0, kLead.size());
        error = "not JSON: " + message;
        return false;
    }

    std::string error;
};

constexpr bool kIgnoreComments = true;

}  // namespace

ScenarioReading readScenarioText(std::string_view text, const std::filesystem::path& baseFolder) {
    ScenarioReading reading;
    SyntaxCheck check;
    Json::sax_parse(text, &check, nlohmann::json::input_format_t::json, true, kIgnoreComments);
    if (!check.error.empty()) {
        reading.error = check.error;
        return reading;
    }
    const Json root = Json::parse(text, nullptr, false, kIgnoreComments);
    ScenarioParser parser(baseFolder);
    if (!parser.scenario(root, reading.scenario)) reading.error = parser.error();
    return reading;
}

ScenarioReading readScenarioFile(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        ScenarioReading reading;
        reading.error = "cannot read " + file.string();
        return reading;
    }
    std::ostringstream content;
    content << in.rdbuf();
    const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
    return readScenarioText(content.str(), folder);
}

}  // namespace sim

#include "sim/scenario_machine_json.h"

#include <cctype>
#include <cstdint>
#include <string>

namespace sim::scenario_json {

namespace {

// Token group attributes the scenario can name; the programs look only at
// the enabled and deny-only bits, the others make a realistic token.
constexpr win::DWORD kGroupMandatory = 0x00000001;
constexpr win::DWORD kGroupEnabledByDefault = 0x00000002;
constexpr win::DWORD kGroupOwner = 0x00000008;

constexpr Named<win::UINT> kDriveTypes[] = {
    {"removable", win::DRIVE_REMOVABLE}, {"fixed", win::DRIVE_FIXED},
    {"remote", win::DRIVE_REMOTE},       {"cdrom", win::DRIVE_CDROM},
    {"ramdisk", win::DRIVE_RAMDISK},
};

constexpr Named<win::DWORD> kGroupAttributes[] = {
    {"mandatory", kGroupMandatory},
    {"enabledByDefault", kGroupEnabledByDefault},
    {"enabled", win::SE_GROUP_ENABLED},
    {"owner", kGroupOwner},
    {"denyOnly", win::SE_GROUP_USE_FOR_DENY_ONLY},
};

// Keys the distinct-letter rule names in its paths.
constexpr std::string_view kDrivesKey = "drives";
constexpr std::string_view kReadersKey = "readers";
constexpr std::string_view kLetterKey = "letter";

// --- drives and readers -----------------------------------------------------------

bool driveType(JsonReader& json, const Json& value, const std::string& path, ScenarioDrive& out) {
    return json.word(value, path, kDriveTypes, "expected one of: " + namesOf(kDriveTypes),
                     out.type);
}

constexpr Field<ScenarioDrive> kDriveFields[] = {
    {kLetterKey, letter<&ScenarioDrive::letter>, kMissing},
    {"type", driveType},
    {"medium", flag<&ScenarioDrive::mediumPresent>},
    {"files", texts<&ScenarioDrive::files>},
};

constexpr Field<ReaderIdentity> kInquiryFields[] = {
    {"vendor", text<&ReaderIdentity::vendor>},
    {"product", text<&ReaderIdentity::product>},
    {"revision", text<&ReaderIdentity::revision>},
};

constexpr Field<ScenarioReader> kUsbFields[] = {
    {"vid", hexId<&ScenarioReader::vendorId>},
    {"pid", hexId<&ScenarioReader::productId>},
    {"rev", hexId<&ScenarioReader::deviceRevision>},
    {"serial", text<&ScenarioReader::serialNumber>},
};

constexpr Field<ReaderBecomes> kBecomesFields[] = {
    {"pid", hexId<&ReaderBecomes::productId>},
    {"product", text<&ReaderBecomes::productName>},
    {"rev", hexId<&ReaderBecomes::deviceRevision>},
    {"inquiryRevision", text<&ReaderBecomes::inquiryRevision>},
};

constexpr Field<ScenarioReader> kReaderFields[] = {
    {kLetterKey, letter<&ScenarioReader::letter>},
    {"inquiry", nested<&ScenarioReader::inquiry, kInquiryFields>},
    {"usb", group<ScenarioReader, kUsbFields>},
    {"writeProtect", byte<&ScenarioReader::deviceSpecificParameter>},
    {"medium", flag<&ScenarioReader::mediumPresent>},
    {"files", texts<&ScenarioReader::files>},
    {"formatMs", number<&ScenarioReader::formatDurationMs, 0>},
    {"refuseFormat", flag<&ScenarioReader::refuseFormat>},
    {"becomes", nested<&ScenarioReader::becomes, kBecomesFields>},
};

bool drives(JsonReader& json, const Json& value, const std::string& path, ScenarioMachine& out) {
    std::vector<ScenarioDrive> read;
    if (!json.objects(value, path, "expected a list of drives", kDriveFields, read)) return false;
    out.drives = std::move(read);
    return true;
}

bool readers(JsonReader& json, const Json& value, const std::string& path, ScenarioMachine& out) {
    return json.objects(value, path, "expected a list of readers", kReaderFields, out.readers);
}

// --- Windows and its administrator ------------------------------------------------

constexpr Field<ScenarioMachine> kVersionFields[] = {
    {"major", number<&ScenarioMachine::majorVersion, 0>},
    {"minor", number<&ScenarioMachine::minorVersion, 0>},
    {"build", number<&ScenarioMachine::buildNumber, 0>},
    {"platformId", number<&ScenarioMachine::platformId, 0>},
};

bool groupAttributes(JsonReader& json, const Json& value, const std::string& path,
                     TokenGroup& out) {
    std::vector<win::DWORD> bits;
    const std::string expected = "expected one of: " + namesOf(kGroupAttributes);
    const auto readBit = [&expected](JsonReader& reader, const Json& entry, const std::string& at,
                                     win::DWORD& bit) {
        // A name that is not a string is refused as a list of strings would refuse it.
        if (!entry.is_string()) return reader.fail(at, "expected a string");
        return reader.word(entry, at, kGroupAttributes, expected, bit);
    };
    if (!json.list(value, path, "expected a list of strings", bits, readBit)) return false;
    out.attributes = 0;
    for (const win::DWORD bit : bits) out.attributes |= bit;
    return true;
}

constexpr Field<TokenGroup> kTokenGroupFields[] = {
    {"rid", number<&TokenGroup::rid, 0>, kMissing},
    {"attributes", groupAttributes},
};

bool tokenGroups(JsonReader& json, const Json& value, const std::string& path,
                 ScenarioMachine& out) {
    return json.objects(value, path, "expected a list of groups", kTokenGroupFields,
                        out.tokenGroups);
}

// The call of the administrator check or the power-off that fails, by what
// it does to the system. "GetTokenInformation" fails the size query, the
// first of its two calls; "readingGroups" the second, which answers as if the
// groups grew between the two.
using FaultSetter = void (*)(SystemFaults&);
constexpr Named<FaultSetter> kFailingCalls[] = {
    {"OpenProcessToken", [](SystemFaults& f) { f.token = TokenFault::OpenToken; }},
    {"GetTokenInformation", [](SystemFaults& f) { f.token = TokenFault::SizeQuery; }},
    {"readingGroups", [](SystemFaults& f) { f.token = TokenFault::ReadGroups; }},
    {"AllocateAndInitializeSid", [](SystemFaults& f) { f.token = TokenFault::AllocateSid; }},
    {"LookupPrivilegeValueA", [](SystemFaults& f) { f.failPrivilegeLookup = true; }},
};

bool failingCall(JsonReader& json, const Json& value, const std::string& path,
                 ScenarioMachine& out) {
    FaultSetter setFault = nullptr;
    if (!json.choice(value, path, kFailingCalls, setFault)) return false;
    setFault(out.faults);
    return true;
}

bool sizeQueryFails(const ScenarioMachine& m) {
    return m.faults.token == TokenFault::SizeQuery;
}

// Error 0 is success; ERROR_INSUFFICIENT_BUFFER is the size query's normal
// answer: as its failure either would fail nothing.
constexpr std::int64_t kLowestError = 1;

bool sizeQueryError(JsonReader& json, const Json& value, const std::string& path,
                    ScenarioMachine& out) {
    win::DWORD error = 0;
    if (!json.number(value, path, error, kLowestError, highest<win::DWORD>())) return false;
    const auto normalAnswer = static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER);
    if (error == normalAnswer) {
        return json.fail(path, std::to_string(normalAnswer) +
                                   " is the size query's normal answer, not a failure");
    }
    out.faults.sizeQueryError = error;
    return true;
}

bool overstatedGroupCount(JsonReader& json, const Json& value, const std::string& path,
                          ScenarioMachine& out) {
    return json.flag(value, path, out.faults.overstateGroupCount);
}

// "failing" comes before the fields that depend on it.
constexpr Field<ScenarioMachine> kAdministratorFields[] = {
    {"groups", tokenGroups},
    {"shutdownPrivilege", flag<&ScenarioMachine::shutdownPrivilege>},
    {"failing", failingCall},
    {"sizeQueryError", sizeQueryError, nullptr, sizeQueryFails,
     "only with \"failing\": \"GetTokenInformation\""},
    {"overstatedGroupCount", overstatedGroupCount},
};

// --- the system's own faults ------------------------------------------------------

constexpr Field<SystemFaults> kSystemFaultFields[] = {
    {"localeLookup", flag<&SystemFaults::failLocaleLookup>},
    {"currentDirectory", flag<&SystemFaults::failCurrentDirectory>},
    {"readsFailAfter", number<&SystemFaults::failReadsAfter, 0>},
};

// --- folders and the registry -----------------------------------------------------

bool libraryFolder(JsonReader& json, const Json& value, const std::string& path,
                   ScenarioMachine& out) {
    if (value.is_null()) {
        out.useLibraryFolder = false;
        return true;
    }
    return json.folder(value, path, out.libraryFolder);
}

bool programFolder(JsonReader& json, const Json& value, const std::string& path,
                   ScenarioMachine& out) {
    return json.folder(value, path, out.programFolder);
}

bool currentDirectory(JsonReader& json, const Json& value, const std::string& path,
                      ScenarioMachine& out) {
    if (!json.text(value, path, out.currentDirectory)) return false;
    const std::string& directory = out.currentDirectory;
    if (directory.size() < 3 || std::isalpha(static_cast<unsigned char>(directory[0])) == 0 ||
        directory[1] != ':' || directory[2] != '\\') {
        return json.fail(path,
                         "expected a Windows path that starts with a drive root, "
                         "such as \"C:\\\\Program Files\\\\Kavo\"");
    }
    return true;
}

bool keyPath(JsonReader& json, const Json& value, const std::string& path,
             ScenarioRegistryKey& out) {
    if (!json.text(value, path, out.path)) return false;
    if (out.path.empty()) return json.fail(path, "expected a key path");
    return true;
}

bool keyValues(JsonReader& json, const Json& value, const std::string& path,
               ScenarioRegistryKey& out) {
    if (!value.is_object()) return json.fail(path, "expected an object of string values");
    for (const auto& [name, data] : value.items()) {
        std::string written;
        if (!json.text(data, JsonReader::field(path, name), written)) return false;
        out.values.emplace_back(name, written);
    }
    return true;
}

constexpr Field<ScenarioRegistryKey> kRegistryKeyFields[] = {
    {"path", keyPath, kMissing},
    {"values", keyValues},
};

bool registryKeys(JsonReader& json, const Json& value, const std::string& path,
                  ScenarioMachine& out) {
    std::vector<ScenarioRegistryKey> keys;
    if (!json.objects(value, path, "expected a list of keys", kRegistryKeyFields, keys))
        return false;
    out.registryKeys.insert(out.registryKeys.end(), keys.begin(), keys.end());
    return true;
}

constexpr Field<ScenarioMachine> kRegistryFields[] = {
    {"runOnceKey", flag<&ScenarioMachine::runOnceKeyPresent>},
    {"keys", registryKeys},
};

constexpr Field<ScenarioMachine> kMachineFields[] = {
    {kDrivesKey, drives},
    {kReadersKey, readers},
    {"locale", text<&ScenarioMachine::locale>},
    {"version", group<ScenarioMachine, kVersionFields>},
    {"administrator", group<ScenarioMachine, kAdministratorFields>},
    {"programFolder", programFolder},
    {"libraryFolder", libraryFolder},
    {"currentDirectory", currentDirectory},
    {"otherPrograms", texts<&ScenarioMachine::otherPrograms>},
    {"registry", group<ScenarioMachine, kRegistryFields>},
    {"faults", nested<&ScenarioMachine::faults, kSystemFaultFields>},
};

// Two devices cannot share a letter.
bool distinctLetters(JsonReader& json, const std::string& path, const ScenarioMachine& out) {
    std::string letters;
    if (out.drives) {
        const std::string drivesPath = JsonReader::field(path, kDrivesKey);
        for (std::size_t i = 0; i < out.drives->size(); ++i) {
            const char taken = (*out.drives)[i].letter;
            if (letters.find(taken) != std::string::npos)
                return json.fail(JsonReader::field(JsonReader::item(drivesPath, i), kLetterKey),
                                 std::string("drive ") + taken + ": is given twice");
            letters += taken;
        }
    }
    const std::string readersPath = JsonReader::field(path, kReadersKey);
    for (std::size_t i = 0; i < out.readers.size(); ++i) {
        const char taken = out.readers[i].letter;
        if (letters.find(taken) != std::string::npos)
            return json.fail(JsonReader::field(JsonReader::item(readersPath, i), kLetterKey),
                             std::string("drive ") + taken + ": is already taken");
        letters += taken;
    }
    return true;
}

}  // namespace

bool machine(JsonReader& json, const Json& value, const std::string& path, ScenarioMachine& out) {
    return json.object(value, path, kMachineFields, out) && distinctLetters(json, path, out);
}

}  // namespace sim::scenario_json

#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_api.h"
#include "platform/win_ui_api.h"
#include "sim/sim_registry.h"
#include "sim/sim_system.h"
#include "sim/sim_volumes.h"
#include "sim/user_script.h"
#include "sim/virtual_reader.h"

namespace sim {

// What one simulated run is made of: the machine as it stands before anyone
// touches it, the person at it, what goes wrong and when, and which programs
// are started. Plain data; scenario_json.h reads it from a file, tests and
// the demonstration build it in code. The defaults are the demonstration's
// machine: one reader on E: with a medium, the example package, an English
// Windows XP and an administrator at the keyboard.

// A drive that is not a reader: the system disk, a CD-ROM drive, a floppy.
struct ScenarioDrive {
    char letter = 'C';
    win::UINT type = win::DRIVE_FIXED;
    bool mediumPresent = true;
    std::vector<std::string> files;  // names in the root directory
};

// What a reader reports after a power cycle once it has taken a whole image.
// Anything left unset comes from the image itself: the product id and the
// product name from the header block it received, the USB revision from the
// hand-off revision of the package's table row for the reader as it was
// (the revision the package promises), and the INQUIRY revision from the new
// USB revision read as binary-coded decimal (0x0200 gives "2.00").
struct ReaderBecomes {
    std::optional<std::uint16_t> productId;
    std::optional<std::string> productName;
    std::optional<std::uint16_t> deviceRevision;
    std::optional<std::string> inquiryRevision;
};

struct ScenarioReader {
    char letter = 'E';
    // INQUIRY text as the reader's firmware holds it; the reader pads each
    // field with blanks (or cuts it) to the field's width.
    ReaderIdentity inquiry{"Kavo", "TKW-5 CardRW", "1.00"};
    std::uint16_t vendorId = 0x0d9f;
    std::uint16_t productId = 0x1001;
    std::uint16_t deviceRevision = 0x0100;
    std::string serialNumber;  // empty: the reader reports none
    // Byte 3 of the MODE SENSE(10) header: bit 7 is the write-protect switch;
    // other bits exist so that the two programs' readings of it can differ.
    std::uint8_t deviceSpecificParameter = 0;
    bool mediumPresent = true;
    std::vector<std::string> files = {"DSC00001.JPG", "DSC00002.JPG", "NOTES.TXT"};
    win::DWORD formatDurationMs = kDefaultFormatDurationMs;
    bool refuseFormat = false;
    ReaderBecomes becomes;
};

// A key laid into the registry before the run, with string values.
struct ScenarioRegistryKey {
    std::string path;  // below HKEY_LOCAL_MACHINE
    std::vector<std::pair<std::string, std::string>> values;
};

struct ScenarioMachine {
    // Drives besides the readers; left unset: the system disk C: and a CD-ROM
    // drive D:, as the registry's base machine has them.
    std::optional<std::vector<ScenarioDrive>> drives;
    std::vector<ScenarioReader> readers = {ScenarioReader{}};

    std::string locale = "ENU";
    win::DWORD majorVersion = 5;
    win::DWORD minorVersion = 1;
    win::DWORD buildNumber = 2600;
    win::DWORD platformId = win::VER_PLATFORM_WIN32_NT;
    std::vector<TokenGroup> tokenGroups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED},
                                           {win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED}};
    bool shutdownPrivilege = true;
    // How the system misbehaves: the administrator's failing calls and the
    // machine's "faults".
    SystemFaults faults;

    // The host folder behind the current directory: the firmware table, the
    // firmware files and, when present, the language libraries. Empty: the
    // example package of this repository.
    std::filesystem::path programFolder;
    // Where a language library or a program's own resources are looked for
    // when the program folder lacks them. Empty: the resources/ folder of
    // this repository; set `useLibraryFolder` to false for a machine that has
    // only what the program folder holds.
    std::filesystem::path libraryFolder;
    bool useLibraryFolder = true;
    // The current directory as Windows names it; the programs are started
    // from it, and it is the program folder.
    std::string currentDirectory = "C:\\Program Files\\Kavo\\Velcrest";
    // Program files elsewhere on the machine that Windows could start by
    // mistake, such as "C:\Program.exe" for an unquoted path with blanks.
    std::vector<std::string> otherPrograms;

    bool runOnceKeyPresent = true;
    std::vector<ScenarioRegistryKey> registryKeys;
};

// What the person at the machine does, per program: answers queued per
// template (taken in order), a default per template once the queue is
// empty, and a fallback for everything else.
struct ProgramAnswers {
    std::map<int, std::vector<UserAction>> queued;
    std::map<int, UserAction> defaults;
};

struct ScenarioUser {
    std::map<std::string, ProgramAnswers> programs;  // by program file, "Velcrest.exe"
    UserAction fallback = UserAction::enter();
};

// Device calls a fault can replace.
enum class DeviceCall {
    Open,
    Lock,
    Unlock,
    TestUnitReady,
    RequestSense,
    Inquiry,
    ModeSense,
    WriteBlock,
    Format,
    Operation,  // any other operation code, named by `operationCode`
};

// The matching calls from `occurrence` (counted from 1 over the whole
// scenario, among calls that pass the filters) fail `times` times in a row.
// A pass-through fails either as a call (DeviceIoControl returns FALSE with
// `error`) or as the device's answer (CHECK CONDITION with the given sense);
// an open, a lock or an unlock can only fail as a call.
struct CommandFault {
    DeviceCall call = DeviceCall::Inquiry;
    std::uint8_t operationCode = 0;      // for DeviceCall::Operation
    std::optional<char> drive;           // any drive when unset
    std::optional<std::string> program;  // any program when unset
    std::optional<std::uint16_t> block;  // WriteBlock: this block number only
    int occurrence = 1;
    int times = 1;  // kForever: from then on
    bool failCall = true;
    win::DWORD error = static_cast<win::DWORD>(win::ERROR_IO_DEVICE);
    std::uint8_t senseKey = 0;
    std::uint8_t asc = 0;
    std::uint8_t ascq = 0;
    // false: CHECK CONDITION with no sense data at all, as a device that
    // reports an error but returns no sense bytes.
    bool withSense = true;
};

// When something happens to the machine.
enum class TriggerKind {
    Time,     // when the virtual clock reaches `timeMs`
    Dialog,   // when template `templateId` comes up the `occurrence`-th time
    Command,  // just before the `occurrence`-th matching device command
    Poll,     // just before the `occurrence`-th REQUEST SENSE after a format command
};

struct Trigger {
    TriggerKind kind = TriggerKind::Time;
    std::uint64_t timeMs = 0;
    int templateId = 0;
    DeviceCall call = DeviceCall::TestUnitReady;
    std::uint8_t operationCode = 0;
    std::optional<std::string> program;
    std::optional<char> drive;
    int occurrence = 1;
};

enum class IncidentKind {
    PullMedium,
    InsertMedium,
    SetWriteProtect,  // byte 3 of the MODE SENSE header becomes `bits`
    QuerySuspend,     // the machine asks the running program whether it may suspend
    PostQuit,         // a quit message arrives in the running program's queue
    StartProgram,     // the user starts `program` while the running one is open
};

struct Incident {
    Trigger at;
    IncidentKind kind = IncidentKind::PullMedium;
    char drive = 'E';
    std::uint8_t bits = 0;
    std::string program;
};

// What Windows does once a program has switched it off (or the programs have
// all ended without that).
enum class AfterPowerOff { PowerOn, Stop };
enum class IfNotPoweredOff { Stop, Restart };

struct ScenarioRun {
    std::vector<std::string> start = {"Velcrest.exe"};
    AfterPowerOff afterPowerOff = AfterPowerOff::PowerOn;
    IfNotPoweredOff ifNotPoweredOff = IfNotPoweredOff::Stop;
};

struct Scenario {
    std::string description;
    ScenarioMachine machine;
    ScenarioUser user;
    std::vector<CommandFault> faults;
    std::vector<RegistryFault> registryFaults;
    std::vector<Incident> incidents;
    ScenarioRun run;
};

// The machine's own words for the calls and incidents, as scenario files,
// transcripts and messages spell them.
const char* deviceCallName(DeviceCall call);
std::optional<DeviceCall> deviceCallNamed(std::string_view name);
const char* incidentName(IncidentKind kind);
std::optional<IncidentKind> incidentNamed(std::string_view name);

}  // namespace sim

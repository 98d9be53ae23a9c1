#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

// The machine's events, as the transcript tells them and the tests read
// them. Every field is named once, below, with the type of value it holds:
// the machine writes through these names, the transcript and the tests read
// through them, and reading a field an event does not carry fails loudly
// instead of reading as empty.
namespace sim {

// What the transcript tells, in the order it happened.
enum class EventKind {
    ProcessStarted,
    ProcessEnded,
    LibraryLoaded,
    LibraryMissing,
    DialogShown,
    DialogAnswered,
    AnswerRefused,
    DialogClosed,
    TemplateMissing,
    WindowCreated,
    WindowDestroyed,
    Progress,
    SuspendQuery,
    QuitPosted,
    LoopGuard,
    RegistryKeyCreated,
    RegistryValueSet,
    RegistryKeyDeleted,
    FaultFired,
    Incident,
    MediumFormatted,
    PowerOff,
    PowerOn,
    ReaderEnumerated,
    LogOn,
    RunOnce,
    ProgramOutput,   // a line the program wrote to its standard output
    FileOpened,      // a file of the program folder opened, or not found
    FirmwareLoaded,  // what the loader makes of the firmware file the program opened
    FirmwareHeader,  // the header block a reader took: what it announces
    VolumeOpened,
    VolumeClosed,
    VolumeLocked,
    VolumeUnlocked,
    PassThrough,  // one SCSI pass-through command and its answer
};

// The event's name in the JSON lines: "dialog", "registry-set", ...
const char* eventName(EventKind kind);

using EventValue = std::variant<std::string, std::int64_t, bool, std::vector<std::string>>;

// The name of a field and the type of its value.
template <typename T>
struct Field {
    std::string_view name;
};
using TextField = Field<std::string>;
using NumberField = Field<std::int64_t>;
using FlagField = Field<bool>;
using TextsField = Field<std::vector<std::string>>;

// What a reader's enumeration says of an image it received since the last
// one: taken, or not taken with the reader's reason after the prefix.
inline constexpr std::string_view kFirmwareTaken = "new";
inline constexpr std::string_view kFirmwareNotTaken = "not taken: ";

namespace field {
inline constexpr TextField kAfterRefusal{"afterRefusal"};
inline constexpr TextField kAnswer{"answer"};
inline constexpr TextField kBefore{"before"};
inline constexpr TextField kButton{"button"};
inline constexpr TextField kCaption{"caption"};
inline constexpr TextField kCdb{"cdb"};
inline constexpr TextField kCommand{"command"};
inline constexpr TextField kDirection{"direction"};
inline constexpr TextField kDirectory{"directory"};
inline constexpr TextField kDo{"do"};
inline constexpr TextField kDrive{"drive"};
inline constexpr TextField kFile{"file"};
inline constexpr TextField kFirmware{"firmware"};
inline constexpr TextField kHeaderName{"headerName"};
inline constexpr TextField kIdentity{"identity"};
inline constexpr TextField kKey{"key"};
inline constexpr TextField kLibrary{"library"};
inline constexpr TextField kName{"name"};
inline constexpr TextField kNote{"note"};
inline constexpr TextField kPath{"path"};
inline constexpr TextField kProblem{"problem"};
inline constexpr TextField kProductName{"productName"};
inline constexpr TextField kProgram{"program"};
inline constexpr TextField kReason{"reason"};
inline constexpr TextField kRecordType{"recordType"};
inline constexpr TextField kRemoved{"removed"};
inline constexpr TextField kScript{"script"};
inline constexpr TextField kSense{"sense"};
inline constexpr TextField kStarts{"starts"};
inline constexpr TextField kStorageKey{"storageKey"};
inline constexpr TextField kText{"text"};
inline constexpr TextField kType{"type"};
inline constexpr TextField kUsbKey{"usbKey"};
inline constexpr NumberField kBits{"bits"};
inline constexpr NumberField kBlock{"block"};
inline constexpr NumberField kBlocks{"blocks"};
inline constexpr NumberField kBytes{"bytes"};
inline constexpr NumberField kControl{"control"};
inline constexpr NumberField kError{"error"};
inline constexpr NumberField kExitCode{"exitCode"};
inline constexpr NumberField kFails{"fails"};
inline constexpr NumberField kFlags{"flags"};
inline constexpr NumberField kFormats{"formats"};
inline constexpr NumberField kHandles{"handles"};
inline constexpr NumberField kHigh{"high"};
inline constexpr NumberField kHighAddress{"highAddress"};
inline constexpr NumberField kImageChecksum{"imageChecksum"};
inline constexpr NumberField kImageLength{"imageLength"};
inline constexpr NumberField kImageStart{"imageStart"};
inline constexpr NumberField kLength{"length"};
inline constexpr NumberField kLibrariesFreed{"librariesFreed"};
inline constexpr NumberField kLine{"line"};
inline constexpr NumberField kLow{"low"};
inline constexpr NumberField kLowAddress{"lowAddress"};
inline constexpr NumberField kOccurrence{"occurrence"};
inline constexpr NumberField kOperation{"operation"};
inline constexpr NumberField kOutputLines{"outputLines"};
inline constexpr NumberField kPercent{"percent"};
inline constexpr NumberField kPosition{"position"};
inline constexpr NumberField kProductId{"productId"};
inline constexpr NumberField kRecordAddress{"recordAddress"};
inline constexpr NumberField kRecordLine{"recordLine"};
inline constexpr NumberField kResult{"result"};
inline constexpr NumberField kRow{"row"};
inline constexpr NumberField kSelected{"selected"};
inline constexpr NumberField kSids{"sids"};
inline constexpr NumberField kStatus{"status"};
inline constexpr NumberField kTemplate{"template"};
inline constexpr FlagField kChanged{"changed"};
inline constexpr FlagField kDelivered{"delivered"};
inline constexpr FlagField kHoldsData{"holdsData"};
inline constexpr FlagField kKilled{"killed"};
inline constexpr FlagField kModal{"modal"};
inline constexpr FlagField kOpened{"opened"};
inline constexpr FlagField kRefused{"refused"};
inline constexpr FlagField kRestart{"restart"};
inline constexpr FlagField kScrambled{"scrambled"};
inline constexpr FlagField kSucceeded{"succeeded"};
inline constexpr FlagField kTerminated{"terminated"};
inline constexpr TextsField kButtons{"buttons"};
inline constexpr TextsField kChoices{"choices"};
inline constexpr TextsField kRowFields{"rowFields"};
inline constexpr TextsField kTexts{"texts"};
// A registry value's data is text, a number or several texts by its type.
inline constexpr TextField kDataText{"data"};
inline constexpr NumberField kDataNumber{"data"};
inline constexpr TextsField kDataTexts{"data"};
}  // namespace field

struct EventField {
    template <typename T>
    EventField(Field<T> field, std::type_identity_t<T> data)
        : name(field.name), value(std::move(data)) {}

    std::string_view name;  // one of the names in `field`
    EventValue value;
};

struct MachineEvent {
    EventKind kind = EventKind::ProcessStarted;
    std::uint64_t timeMs = 0;  // virtual time
    std::string program;       // the program running, empty for the machine's own doings
    std::vector<EventField> fields;

    // Whether the event carries the field with a value of its type.
    template <typename T>
    bool has(Field<T> wanted) const {
        const EventValue* value = find(wanted.name);
        return value != nullptr && std::holds_alternative<T>(*value);
    }
    // The field's value; throws std::logic_error, naming the event and the
    // field, when the event does not carry it with a value of its type.
    template <typename T>
    const T& get(Field<T> wanted) const {
        const EventValue* value = find(wanted.name);
        if (value == nullptr || !std::holds_alternative<T>(*value)) missing(wanted.name);
        return std::get<T>(*value);
    }

  private:
    const EventValue* find(std::string_view name) const;
    [[noreturn]] void missing(std::string_view name) const;
};

}  // namespace sim

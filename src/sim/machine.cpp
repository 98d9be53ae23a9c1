#include "sim/machine.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <utility>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_table.h"
#include "firmware/windows_file_name.h"
#include "firmware/srecord_reader.h"
#include "firmware/standard_output.h"
#include "sim/resource_script.h"
#include "sim/usb_registry_builder.h"

namespace sim {

namespace {

// ExitWindowsEx flags beyond the ones the programs name.
constexpr win::UINT kEwxShutdown = 0x00000001;
constexpr win::UINT kEwxReboot = 0x00000002;

constexpr std::size_t kBlockNumberHighByte = 7;
constexpr std::size_t kBlockNumberLowByte = 8;
constexpr std::uint16_t kHeaderBlockNumber = 0;

// Where the answer lies in fixed-format sense data.
constexpr std::size_t kSenseKeyByte = 2;
constexpr std::uint8_t kSenseKeyMask = 0x0F;
constexpr std::size_t kSenseAscByte = 12;
constexpr std::size_t kSenseAscqByte = 13;
constexpr std::uint8_t kScsiStatusGood = 0;

// \\.\E: names the volume of drive E.
constexpr std::string_view kVolumePathPrefix = "\\\\.\\";
constexpr std::size_t kVolumeLetterIndex = kVolumePathPrefix.size();

constexpr int kProgressMarkStep = 25;
constexpr int kFullPercent = 100;
constexpr int kBitsPerHexDigit = 4;
constexpr int kHexBase = 16;
constexpr unsigned kBcdDigitMask = 0xF;

constexpr std::string_view kLibraryExtension = ".dll";
constexpr std::string_view kScriptExtension = ".rc";
constexpr std::string_view kProgramExtension = ".exe";
constexpr char kFirmwareTableName[] = "firmtable.txt";
constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kRunAfterPrefix = '!';

std::string lowered(std::string_view text) {
    std::string result(text);
    std::transform(result.begin(), result.end(), result.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return result;
}

bool sameName(std::string_view a, std::string_view b) {
    return lowered(a) == lowered(b);
}

bool endsWithName(std::string_view text, std::string_view ending) {
    return text.size() >= ending.size() &&
           sameName(text.substr(text.size() - ending.size()), ending);
}

std::string trimmedRight(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
    return std::string(text.substr(0, end));
}

std::string fourHex(std::uint16_t value) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), "%04x", static_cast<unsigned>(value));
    return text.data();
}

std::optional<std::uint16_t> fourHexValue(std::string_view text) {
    constexpr std::size_t kDigits = 4;
    unsigned value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value, kHexBase);
    if (text.size() != kDigits || parsed.ec != std::errc{} ||
        parsed.ptr != text.data() + text.size())
        return std::nullopt;
    return static_cast<std::uint16_t>(value);
}

// A USB release number as INQUIRY spells it: 0x0200 is "2.00".
std::string bcdRevision(std::uint16_t release) {
    const unsigned major = release >> (2 * kBitsPerHexDigit);
    const unsigned tens = (release >> kBitsPerHexDigit) & kBcdDigitMask;
    const unsigned units = release & kBcdDigitMask;
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%x.%x%x", major, tens, units);
    return text.data();
}

std::string usbText(std::uint16_t vendorId, std::uint16_t productId, std::uint16_t revision) {
    return fourHex(vendorId) + ":" + fourHex(productId) + " rev " + fourHex(revision);
}

std::string driveText(char letter) {
    return std::string(1, letter) + ":";
}

// The components of a Windows path, empty ones (doubled backslashes) dropped.
std::vector<std::string> pathComponents(std::string_view path) {
    std::vector<std::string> parts;
    std::string current;
    for (const char c : path) {
        if (c == '\\' || c == '/') {
            if (!current.empty()) parts.push_back(current);
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.empty()) parts.push_back(current);
    return parts;
}

bool samePath(std::string_view a, std::string_view b) {
    const std::vector<std::string> first = pathComponents(a);
    const std::vector<std::string> second = pathComponents(b);
    return first.size() == second.size() &&
           std::equal(first.begin(), first.end(), second.begin(),
                      [](const std::string& x, const std::string& y) { return sameName(x, y); });
}

std::string textUpToZero(const std::vector<win::BYTE>& data) {
    const auto end = std::find(data.begin(), data.end(), win::BYTE{0});
    return std::string(data.begin(), end);
}

std::vector<std::string> multiStrings(const std::vector<win::BYTE>& data) {
    std::vector<std::string> strings;
    std::string current;
    for (const win::BYTE b : data) {
        if (b != 0) {
            current += static_cast<char>(b);
        } else if (!current.empty()) {
            strings.push_back(current);
            current.clear();
        } else {
            break;
        }
    }
    if (!current.empty()) strings.push_back(current);
    return strings;
}

std::string hexBytes(const std::vector<win::BYTE>& data) {
    std::string text;
    for (const win::BYTE b : data) {
        std::array<char, 4> digits{};
        std::snprintf(digits.data(), digits.size(), "%02x", static_cast<unsigned>(b));
        if (!text.empty()) text += ' ';
        text += digits.data();
    }
    return text;
}

std::string senseText(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%02X/%02X/%02X", unsigned{key}, unsigned{asc},
                  unsigned{ascq});
    return text.data();
}

const char* directionName(std::uint8_t direction) {
    switch (direction) {
        case win::SCSI_IOCTL_DATA_OUT:
            return "out";
        case win::SCSI_IOCTL_DATA_IN:
            return "in";
        default:
            return "none";
    }
}

// A registry value as a person reads it in a transcript.
std::vector<EventField> valueFields(win::DWORD type, const std::vector<win::BYTE>& data) {
    std::vector<EventField> fields{{"type", registryTypeName(type)},
                                   {"bytes", static_cast<std::int64_t>(data.size())}};
    if (type == win::REG_SZ || type == win::REG_EXPAND_SZ) {
        fields.push_back({"data", textUpToZero(data)});
        fields.push_back({"terminated", !data.empty() && data.back() == 0});
    } else if (type == win::REG_MULTI_SZ) {
        fields.push_back({"data", multiStrings(data)});
    } else if (type == win::REG_DWORD && data.size() == sizeof(win::DWORD)) {
        win::DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        fields.push_back({"data", static_cast<std::int64_t>(number)});
    } else {
        fields.push_back({"data", hexBytes(data)});
    }
    return fields;
}

// Built by appending: GCC 12 sees a false overlap in literal + string chains.
std::string quotedText(std::string_view text) {
    std::string quoted(1, '"');
    quoted.append(text);
    quoted += '"';
    return quoted;
}

std::string identityText(const DeviceIdentity& identity) {
    std::string text = quotedText(trimmedRight(identity.inquiry.vendor));
    text += ' ';
    text += quotedText(trimmedRight(identity.inquiry.product));
    text += ' ';
    text += quotedText(trimmedRight(identity.inquiry.revision));
    text += ", USB ";
    text += usbText(identity.vendorId, identity.productId, identity.deviceRevision);
    return text;
}

DeviceIdentity identityOf(const ScenarioReader& reader) {
    return DeviceIdentity{reader.inquiry, reader.vendorId, reader.productId, reader.deviceRevision};
}

// A file of the host folder, named as Windows names files.
std::optional<std::filesystem::path> fileIn(const std::filesystem::path& folder,
                                            std::string_view fileName) {
    if (folder.empty()) return std::nullopt;
    return firmware::findHostFile(folder, std::vector<std::string>{std::string(fileName)});
}

// Which device call a pass-through request is.
struct Classified {
    DeviceCall call = DeviceCall::Operation;
    std::uint8_t operationCode = 0;
    std::optional<std::uint16_t> block;
};

Classified classify(const std::uint8_t* cdb, std::size_t length) {
    Classified result;
    if (length == 0) return result;
    result.operationCode = cdb[0];
    switch (cdb[0]) {
        case kOpTestUnitReady:
            result.call = DeviceCall::TestUnitReady;
            break;
        case kOpRequestSense:
            result.call = DeviceCall::RequestSense;
            break;
        case kOpInquiry:
            result.call = DeviceCall::Inquiry;
            break;
        case kOpModeSense10:
            result.call = DeviceCall::ModeSense;
            break;
        case kOpVendor:
            if (length > kBlockNumberLowByte && cdb[kVendorSubcodeByte] == kVendorBlockWrite) {
                result.call = DeviceCall::WriteBlock;
                result.block = static_cast<std::uint16_t>((cdb[kBlockNumberHighByte] << 8) |
                                                          cdb[kBlockNumberLowByte]);
            } else if (length > kVendorSubcodeByte && cdb[kVendorSubcodeByte] == kVendorFormat) {
                result.call = DeviceCall::Format;
            }
            break;
        default:
            break;
    }
    return result;
}

bool callMatches(DeviceCall wanted, std::uint8_t wantedCode, const Classified& call) {
    if (wanted == DeviceCall::Operation) {
        return call.call != DeviceCall::Open && call.call != DeviceCall::Lock &&
               call.call != DeviceCall::Unlock && call.operationCode == wantedCode;
    }
    return wanted == call.call;
}

}  // namespace

// --- the machine's state ----------------------------------------------------------

namespace {

class MachineClock;
class FaultingVolumes;

// What the volumes hand a reader's commands to: the reader itself, unless a
// fault has put the device's answer for the command on its way in place.
class AnsweringDevice final : public ScsiDevice {
  public:
    explicit AnsweringDevice(ScsiDevice& device) : device_(device) {}

    ScsiReply execute(const ScsiCommand& command) override {
        if (!answer_) return device_.execute(command);
        ScsiReply reply = std::move(*answer_);
        answer_.reset();
        return reply;
    }
    void answerNextWith(ScsiReply reply) { answer_ = std::move(reply); }
    void forgetAnswer() { answer_.reset(); }

  private:
    ScsiDevice& device_;
    std::optional<ScsiReply> answer_;
};

struct ReaderState {
    char letter = 'E';
    unsigned hubPort = 1;
    DeviceIdentity before;
    DeviceIdentity current;
    std::string serialNumber;
    ReaderBecomes becomes;
    std::unique_ptr<VirtualReader> device;
    std::unique_ptr<AnsweringDevice> front;
    int knownFormats = 0;
    std::vector<std::uint8_t> consumedStream;  // the stream its last new identity came from
};

struct IncidentState {
    int seen = 0;
    bool fired = false;
};

// The row of the package's table that names a reader, and where it stands.
struct TableMatch {
    std::size_t line = 0;  // counted from 1
    firmware::FirmwareTableRow row;
};

std::vector<std::string> rowFields(const firmware::FirmwareTableRow& row) {
    return {row.keyVendorId,    row.keyProductId,    row.newProductId,
            row.keyProductName, row.newProductName,  row.keyRevision,
            row.headerName,     row.handoffRevision, row.firmwareFileName};
}

}  // namespace

struct Machine::Impl {
    explicit Impl(Scenario s);

    Scenario scenario;
    SystemSetup setup;
    MutexTable mutexes;
    SimRegistry registry;
    VirtualClock virtualClock;
    std::unique_ptr<MachineClock> clock;
    SimVolumes simVolumes{virtualClock};
    std::unique_ptr<FaultingVolumes> volumes;
    std::vector<ReaderState> readers;
    std::map<char, bool> plainMedium;  // drives that are no readers

    std::map<std::string, QueuedUserScript> scriptedUsers;
    std::map<std::string, UserScript*> users;
    std::vector<ProgramFile> programs;
    std::vector<std::unique_ptr<MachineProcess>> processes;

    std::vector<MachineEvent> events;
    std::function<void(const MachineEvent&)> sink;
    std::function<void(const std::string&)> starter;
    std::function<void()> guardHandler;
    LoopGuardLimits limits;

    std::vector<IncidentState> incidentStates;
    std::vector<int> faultSeen;
    std::map<char, int> pollsSinceFormat;  // only drives that got a format command

    std::map<std::string, std::shared_ptr<const ResourceScript>> scripts;  // by host path
    std::string pendingOutput;              // standard output not yet ended by a line feed
    std::vector<std::int64_t> outputLines;  // lines each running process has written
    // Drives whose held volume was released after a refused block: what was
    // refused, until a command reaches the drive again.
    std::map<char, std::string> releasedAfterRefusal;
    bool poweredOff = false;
    int powerCycles = 0;
    bool markerWritten = false;

    std::string currentProgram() const {
        return processes.empty() ? std::string() : processes.back()->program();
    }
    void record(EventKind kind, std::vector<EventField> fields) {
        MachineEvent event{kind, virtualClock.now(), currentProgram(), std::move(fields)};
        events.push_back(event);
        if (sink) sink(events.back());
    }

    ReaderState* readerOn(char letter) {
        for (ReaderState& reader : readers) {
            if (reader.letter == letter) return &reader;
        }
        return nullptr;
    }
    AnsweringDevice* frontOf(char letter) {
        ReaderState* reader = readerOn(letter);
        return reader != nullptr ? reader->front.get() : nullptr;
    }

    // Incidents.
    bool programMatches(const std::optional<std::string>& wanted) const {
        return !wanted || sameName(*wanted, currentProgram());
    }
    void fire(std::size_t index);
    void fireDueTimeIncidents();
    std::optional<std::uint64_t> nextTimeIncident(std::uint64_t until) const;
    void dialogShown(int templateId);
    void commandComing(char letter, const Classified& call);
    const CommandFault* faultFor(char letter, const Classified& call);

    // Resources.
    std::optional<std::filesystem::path> findFile(const std::string& fileName) const;
    std::shared_ptr<const ResourceScript> script(const std::string& fileName, std::string& problem);
    win::HMODULE loadLibrary(SimUi& ui, std::set<win::HMODULE>& loaded, const std::string& name);

    // What the programs do with the package and the readers.
    void programWrote(std::string_view text);
    void outputLine(std::string text);
    void flushOutput();
    void fileOpened(const std::string& windowsPath, const std::optional<std::string>& hostPath,
                    win::DWORD error);
    void firmwareFileOpened(const std::string& windowsPath, const std::string& hostPath);
    void headerTaken(char letter);
    std::optional<TableMatch> tableRowFor(const DeviceIdentity& identity) const;

    // Power.
    void noteFormats();
    std::optional<std::uint16_t> promisedRevision(const DeviceIdentity& identity) const;
    void enumerate(ReaderState& reader);
    void layRegistry();
    UsbStorageDevice usbDevice(const ReaderState& reader) const;
    UsbIdSpelling usbIdSpelling() const { return usbIdSpellingOf(scenario.machine.majorVersion); }
    UsbRegistryBuilder usbRecords() { return UsbRegistryBuilder(registry, usbIdSpelling()); }
};

namespace {

// Sleep advances virtual time, and whatever the scenario set for a moment on
// the way happens at that moment.
class MachineClock final : public platform::Clock {
  public:
    MachineClock(Machine::Impl& machine, VirtualClock& clock) : machine_(machine), clock_(clock) {}

    void Sleep(win::DWORD milliseconds) override {
        const std::uint64_t target = clock_.now() + milliseconds;
        while (const std::optional<std::uint64_t> next = machine_.nextTimeIncident(target)) {
            if (*next > clock_.now()) clock_.advance(*next - clock_.now());
            machine_.fireDueTimeIncidents();
        }
        clock_.Sleep(static_cast<win::DWORD>(target > clock_.now() ? target - clock_.now() : 0));
        machine_.fireDueTimeIncidents();
    }
    win::DWORD GetTickCount() override { return clock_.GetTickCount(); }

  private:
    Machine::Impl& machine_;
    VirtualClock& clock_;
};

// The volumes as the programs reach them: the machine's volumes, with the
// scenario's command faults and command-bound incidents in front.
class FaultingVolumes final : public platform::Volumes {
  public:
    FaultingVolumes(Machine::Impl& machine, SimVolumes& volumes)
        : machine_(machine), volumes_(volumes) {}

    win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                            win::DWORD creationDisposition,
                            win::DWORD flagsAndAttributes) override {
        const char letter = letterOf(path);
        const Classified call{DeviceCall::Open, 0, std::nullopt};
        machine_.commandComing(letter, call);
        ownError_ = false;
        win::HANDLE handle = win::invalidHandleValue();
        if (const CommandFault* fault = machine_.faultFor(letter, call)) {
            failWith(fault->error);
        } else {
            handle = volumes_.CreateFileA(path, desiredAccess, shareMode, creationDisposition,
                                          flagsAndAttributes);
        }
        std::vector<EventField> fields{{"drive", volumeText(letter)},
                                       {"path", std::string(path != nullptr ? path : "")}};
        if (handle != win::invalidHandleValue()) {
            letters_[handle] = letter;
            machine_.releasedAfterRefusal.erase(letter);
            fields.push_back({"opened", true});
        } else {
            fields.push_back({"opened", false});
            fields.push_back({"error", static_cast<std::int64_t>(GetLastError())});
        }
        machine_.record(EventKind::VolumeOpened, std::move(fields));
        return handle;
    }

    win::BOOL DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                              win::DWORD inBufferSize, void* outBuffer, win::DWORD outBufferSize,
                              win::DWORD* bytesReturned) override {
        const auto known = letters_.find(device);
        const char letter = known != letters_.end() ? known->second : kAnyVolume;
        const std::optional<Classified> call = classifyControl(controlCode, inBuffer, inBufferSize);
        ownError_ = false;
        AnsweringDevice* front = nullptr;
        win::BOOL result = win::FALSE;
        bool faulted = false;
        // The request as the program made it: the driver writes its answer over it.
        win::SCSI_PASS_THROUGH_DIRECT asked{};
        if (call && inBuffer != nullptr && inBufferSize >= sizeof asked)
            std::memcpy(&asked, inBuffer, sizeof asked);
        if (call) {
            machine_.commandComing(letter, *call);
            if (const CommandFault* fault = machine_.faultFor(letter, *call)) {
                if (fault->failCall) {
                    failWith(fault->error);
                    faulted = true;
                } else {
                    front = machine_.frontOf(letter);
                    if (front != nullptr) {
                        ScsiReply reply = checkCondition(fault->senseKey, fault->asc, fault->ascq);
                        if (!fault->withSense) reply.sense.clear();
                        front->answerNextWith(std::move(reply));
                    }
                }
            }
        }
        if (!faulted) {
            result = volumes_.DeviceIoControl(device, controlCode, inBuffer, inBufferSize,
                                              outBuffer, outBufferSize, bytesReturned);
        }
        // An answer that never reached the device (the driver refused the
        // request first) is not kept for the next command.
        if (front != nullptr) front->forgetAnswer();
        if (call) {
            const bool answerOut =
                outBuffer != nullptr && outBufferSize >= sizeof(win::SCSI_PASS_THROUGH_DIRECT);
            tell(device, letter, *call, result, asked, answerOut ? outBuffer : inBuffer,
                 answerOut ? outBufferSize : inBufferSize);
        }
        return result;
    }

    win::BOOL CloseHandle(win::HANDLE handle) override {
        const auto known = letters_.find(handle);
        if (known != letters_.end()) {
            std::vector<EventField> fields{{"drive", driveText(known->second)}};
            const auto refused = refusedOn_.find(handle);
            if (refused != refusedOn_.end()) {
                fields.push_back({"afterRefusal", refused->second});
                machine_.releasedAfterRefusal[known->second] = refused->second;
                refusedOn_.erase(refused);
            }
            machine_.record(EventKind::VolumeClosed, std::move(fields));
            letters_.erase(known);
        }
        ownError_ = false;
        return volumes_.CloseHandle(handle);
    }

    win::DWORD GetLastError() override { return ownError_ ? error_ : volumes_.GetLastError(); }

  private:
    // A volume path or handle that names no drive letter shows as "?".
    static std::string volumeText(char letter) {
        return letter == kAnyVolume ? std::string("?") : driveText(letter);
    }

    static char letterOf(const char* path) {
        if (path == nullptr) return kAnyVolume;
        const std::string_view text(path);
        if (text.size() <= kVolumeLetterIndex ||
            text.substr(0, kVolumeLetterIndex) != kVolumePathPrefix)
            return kAnyVolume;
        return static_cast<char>(
            std::toupper(static_cast<unsigned char>(text[kVolumeLetterIndex])));
    }

    static std::optional<Classified> classifyControl(win::DWORD controlCode, const void* inBuffer,
                                                     win::DWORD inBufferSize) {
        if (controlCode == win::FSCTL_LOCK_VOLUME) return Classified{DeviceCall::Lock, 0, {}};
        if (controlCode == win::FSCTL_UNLOCK_VOLUME) return Classified{DeviceCall::Unlock, 0, {}};
        if (controlCode != win::IOCTL_SCSI_PASS_THROUGH_DIRECT || inBuffer == nullptr ||
            inBufferSize < sizeof(win::SCSI_PASS_THROUGH_DIRECT)) {
            return std::nullopt;
        }
        win::SCSI_PASS_THROUGH_DIRECT request;
        std::memcpy(&request, inBuffer, sizeof request);
        const std::size_t length = std::min<std::size_t>(request.CdbLength, sizeof request.Cdb);
        return classify(request.Cdb, length);
    }

    win::BOOL failWith(win::DWORD error) {
        ownError_ = true;
        error_ = error;
        return win::FALSE;
    }

    // The call as the transcript tells it, once its answer is known.
    void tell(win::HANDLE device, char letter, const Classified& call, win::BOOL result,
              const win::SCSI_PASS_THROUGH_DIRECT& asked, const void* answer,
              win::DWORD answerSize) {
        const bool delivered = result != win::FALSE;
        if (call.call == DeviceCall::Lock || call.call == DeviceCall::Unlock) {
            std::vector<EventField> fields{{"drive", volumeText(letter)}, {"succeeded", delivered}};
            if (!delivered) fields.push_back({"error", static_cast<std::int64_t>(GetLastError())});
            machine_.record(
                call.call == DeviceCall::Lock ? EventKind::VolumeLocked : EventKind::VolumeUnlocked,
                std::move(fields));
            return;
        }
        const std::size_t cdbLength = std::min<std::size_t>(asked.CdbLength, sizeof asked.Cdb);
        std::vector<EventField> fields{
            {"drive", volumeText(letter)},
            {"command", std::string(deviceCallName(call.call))},
            {"cdb", hexBytes(std::vector<win::BYTE>(asked.Cdb, asked.Cdb + cdbLength))},
            {"direction", std::string(directionName(asked.DataIn))},
            {"length", static_cast<std::int64_t>(asked.DataTransferLength)}};
        if (call.block) fields.push_back({"block", std::int64_t{*call.block}});
        bool accepted = false;
        if (!delivered) {
            fields.push_back({"delivered", false});
            fields.push_back({"error", static_cast<std::int64_t>(GetLastError())});
        } else {
            win::SCSI_PASS_THROUGH_DIRECT sptd;
            std::memcpy(&sptd, answer, sizeof sptd);
            fields.push_back({"delivered", true});
            fields.push_back({"status", std::int64_t{sptd.ScsiStatus}});
            accepted = sptd.ScsiStatus == kScsiStatusGood;
            const std::size_t senseEnd = std::size_t{sptd.SenseInfoOffset} + kSenseAscqByte + 1;
            if (!accepted && sptd.SenseInfoLength > kSenseAscqByte && senseEnd <= answerSize) {
                const auto* sense = static_cast<const std::uint8_t*>(answer) + sptd.SenseInfoOffset;
                fields.push_back({"sense", senseText(sense[kSenseKeyByte] & kSenseKeyMask,
                                                     sense[kSenseAscByte], sense[kSenseAscqByte])});
            }
        }
        machine_.record(EventKind::PassThrough, std::move(fields));
        if (call.call != DeviceCall::WriteBlock || !call.block) return;
        if (!accepted) {
            refusedOn_[device] = "block " + std::to_string(*call.block) + " was refused";
        } else if (*call.block == kHeaderBlockNumber) {
            machine_.headerTaken(letter);
        }
    }

    Machine::Impl& machine_;
    SimVolumes& volumes_;
    std::map<win::HANDLE, char> letters_;
    std::map<win::HANDLE, std::string> refusedOn_;  // the refused block a handle saw last
    bool ownError_ = false;
    win::DWORD error_ = 0;
};

// What one process's windows do, told to the machine as transcript events.
class ProcessObserver final : public UiObserver {
  public:
    explicit ProcessObserver(Machine::Impl& machine) : machine_(machine) {}

    void dialogShown(const DialogView& dialog) override {
        shown_[dialog.templateId] = dialog;
        std::vector<EventField> fields = viewFields(dialog);
        // A notice about a block that never reached the reader: say why.
        std::string note;
        for (const auto& [letter, refusal] : machine_.releasedAfterRefusal) {
            if (!note.empty()) note += "; ";
            note += "no command has reached " + driveText(letter) + " since " + refusal +
                    " and its volume was released";
        }
        if (!note.empty()) fields.push_back({"note", note});
        machine_.record(EventKind::DialogShown, std::move(fields));
        machine_.dialogShown(dialog.templateId);
        machine_.fireDueTimeIncidents();
    }
    void dialogAnswered(int templateId, const UserAction& action) override {
        std::vector<EventField> fields{{"template", std::int64_t{templateId}},
                                       {"answer", action.describe()}};
        if (const std::optional<std::string> label = buttonLabel(templateId, action))
            fields.push_back({"button", *label});
        machine_.record(EventKind::DialogAnswered, std::move(fields));
    }
    void answerRefused(int templateId, const UserAction& action,
                       const std::string& reason) override {
        machine_.record(EventKind::AnswerRefused, {{"template", std::int64_t{templateId}},
                                                   {"answer", action.describe()},
                                                   {"reason", reason}});
    }
    void dialogClosed(int templateId, win::INT_PTR result) override {
        machine_.record(EventKind::DialogClosed, {{"template", std::int64_t{templateId}},
                                                  {"result", static_cast<std::int64_t>(result)}});
    }
    void templateMissing(int templateId, bool modal) override {
        machine_.record(EventKind::TemplateMissing,
                        {{"template", std::int64_t{templateId}}, {"modal", modal}});
    }
    void modelessCreated(const DialogView& dialog) override {
        nextMark_[dialog.templateId] = 0;
        machine_.record(EventKind::WindowCreated, viewFields(dialog));
    }
    void modelessDestroyed(int templateId) override {
        machine_.record(EventKind::WindowDestroyed, {{"template", std::int64_t{templateId}}});
    }
    // Only the moments the bar passes 0, 25, 50, 75 and 100 % are told: a
    // flash moves it hundreds of times.
    void progressChanged(int templateId, int controlId, const ProgressBarState& bar) override {
        const int range = bar.high - bar.low;
        if (range <= 0) return;
        const long long offset = std::clamp(bar.position, bar.low, bar.high) - bar.low;
        const int percent = static_cast<int>(offset * kFullPercent / range);
        int& mark = nextMark_[templateId];
        if (mark > kFullPercent || percent < mark) return;
        mark = (percent / kProgressMarkStep + 1) * kProgressMarkStep;
        machine_.record(EventKind::Progress, {{"template", std::int64_t{templateId}},
                                              {"control", std::int64_t{controlId}},
                                              {"position", std::int64_t{bar.position}},
                                              {"low", std::int64_t{bar.low}},
                                              {"high", std::int64_t{bar.high}},
                                              {"percent", std::int64_t{percent}}});
    }
    void suspendQuery(bool refused) override {
        machine_.record(EventKind::SuspendQuery, {{"refused", refused}});
    }
    void quitPosted(int exitCode) override {
        machine_.record(EventKind::QuitPosted, {{"exitCode", std::int64_t{exitCode}}});
    }
    void loopGuardStopped(const std::string& reason) override {
        machine_.record(EventKind::LoopGuard, {{"reason", reason}});
    }

  private:
    // The text of the button an answer presses, as the person saw it.
    std::optional<std::string> buttonLabel(int templateId, const UserAction& action) const {
        const auto shown = shown_.find(templateId);
        if (shown == shown_.end()) return std::nullopt;
        for (const ButtonView& button : shown->second.buttons) {
            const bool pressed =
                (action.kind == UserActionKind::PressButton && button.id == action.buttonId) ||
                (action.kind == UserActionKind::PressEnter && button.isDefault);
            if (pressed) return withoutMnemonics(button.text);
        }
        return std::nullopt;
    }

    static std::vector<EventField> viewFields(const DialogView& dialog) {
        std::vector<std::string> buttons;
        for (const ButtonView& button : dialog.buttons) {
            buttons.push_back(std::to_string(button.id) + " " + withoutMnemonics(button.text) +
                              (button.isDefault ? " (default)" : ""));
        }
        std::vector<EventField> fields{{"template", std::int64_t{dialog.templateId}},
                                       {"caption", withoutMnemonics(dialog.caption)},
                                       {"texts", dialog.texts},
                                       {"buttons", buttons},
                                       {"modal", dialog.modal}};
        if (!dialog.comboItems.empty()) {
            fields.push_back({"choices", dialog.comboItems});
            fields.push_back({"selected", std::int64_t{dialog.comboSelection}});
        }
        return fields;
    }

    Machine::Impl& machine_;
    std::map<int, int> nextMark_;
    std::map<int, DialogView> shown_;
};

}  // namespace

// --- building the machine ---------------------------------------------------------

Machine::Impl::Impl(Scenario s) : scenario(std::move(s)) {
    clock = std::make_unique<MachineClock>(*this, virtualClock);
    volumes = std::make_unique<FaultingVolumes>(*this, simVolumes);
    const ScenarioMachine& m = scenario.machine;

    setup.majorVersion = m.majorVersion;
    setup.minorVersion = m.minorVersion;
    setup.buildNumber = m.buildNumber;
    setup.platformId = m.platformId;
    setup.tokenGroups = m.tokenGroups;
    setup.shutdownPrivilegeGrantable = m.shutdownPrivilege;
    setup.localeAbbreviation = m.locale;
    setup.currentDirectory = m.currentDirectory;
    setup.hostProgramFolder = m.programFolder.string();

    const std::vector<ScenarioDrive> drives =
        m.drives ? *m.drives
                 : std::vector<ScenarioDrive>{
                       {'C', win::DRIVE_FIXED, true, {"AUTOEXEC.BAT", "boot.ini"}},
                       {'D', win::DRIVE_CDROM, false, {}}};
    for (const ScenarioDrive& drive : drives) {
        plainMedium[drive.letter] = drive.mediumPresent;
        SimDrive simDrive;
        simDrive.type = drive.type;
        simDrive.files = drive.files;
        const char letter = drive.letter;
        simDrive.mediumPresent = [this, letter] { return plainMedium[letter]; };
        setup.drives[letter] = std::move(simDrive);
    }

    unsigned port = 1;
    for (const ScenarioReader& described : m.readers) {
        ReaderState reader;
        reader.letter = described.letter;
        reader.hubPort = port++;
        reader.before = identityOf(described);
        reader.current = reader.before;
        reader.serialNumber = described.serialNumber;
        reader.becomes = described.becomes;
        reader.device = std::make_unique<VirtualReader>(virtualClock, described.inquiry);
        reader.device->setDeviceSpecificParameter(described.deviceSpecificParameter);
        reader.device->setFormatDuration(described.formatDurationMs);
        reader.device->refuseFormat(described.refuseFormat);
        if (!described.mediumPresent) reader.device->removeMedium();
        reader.front = std::make_unique<AnsweringDevice>(*reader.device);
        simVolumes.attach(reader.letter, *reader.front);

        SimDrive simDrive;
        simDrive.type = win::DRIVE_REMOVABLE;
        simDrive.files = described.files;
        VirtualReader* device = reader.device.get();
        simDrive.mediumPresent = [device] { return device->mediumPresent(); };
        setup.drives[reader.letter] = std::move(simDrive);
        readers.push_back(std::move(reader));
    }
    // Every drive letter has a volume that opens, a floppy drive without a
    // disk too; only the readers answer pass-through commands.
    for (const ScenarioDrive& drive : drives) simVolumes.attachPlainDisk(drive.letter);

    layRegistry();
    for (const RegistryFault& fault : scenario.registryFaults) registry.injectFault(fault);
    registry.setObserver([this](const RegistryEvent& change) {
        std::vector<EventField> fields{{"key", change.keyPath}};
        EventKind kind = EventKind::RegistryKeyCreated;
        if (change.kind == RegistryEvent::Kind::ValueSet) {
            kind = EventKind::RegistryValueSet;
            fields.push_back({"name", change.valueName});
            for (EventField& field : valueFields(change.type, change.data)) fields.push_back(field);
        } else if (change.kind == RegistryEvent::Kind::KeyDeleted) {
            kind = EventKind::RegistryKeyDeleted;
        }
        if (kind != EventKind::RegistryKeyDeleted && samePath(change.keyPath, kMarkerKeyPath))
            markerWritten = true;
        record(kind, std::move(fields));
    });

    for (const auto& [program, answers] : scenario.user.programs) {
        QueuedUserScript& user = scriptedUsers[lowered(program)];
        for (const auto& [templateId, queue] : answers.queued) {
            for (const UserAction& action : queue) user.queueAnswer(templateId, action);
        }
        for (const auto& [templateId, action] : answers.defaults)
            user.setDefaultAnswer(templateId, action);
    }
    incidentStates.resize(scenario.incidents.size());
    faultSeen.resize(scenario.faults.size());
}

UsbStorageDevice Machine::Impl::usbDevice(const ReaderState& reader) const {
    UsbStorageDevice device;
    device.driveLetter = reader.letter;
    device.vendor = reader.current.inquiry.vendor;
    device.product = reader.current.inquiry.product;
    device.revision = reader.current.inquiry.revision;
    device.vendorId = reader.current.vendorId;
    device.productId = reader.current.productId;
    device.deviceRevision = reader.current.deviceRevision;
    device.hubPort = reader.hubPort;
    device.serialNumber = reader.serialNumber;
    return device;
}

// The records of a machine that has been in use for a while: the base
// machine's disks and hubs, what Windows keeps for start-up, then each
// reader as it was plugged in.
void Machine::Impl::layRegistry() {
    UsbRegistryBuilder builder = usbRecords();
    builder.layBaseMachine();
    registry.setString(kRunKeyPath, "SoundTray", "C:\\Program Files\\Audio\\tray.exe");
    if (scenario.machine.runOnceKeyPresent) registry.createKey(kRunOnceKeyPath);
    for (const ReaderState& reader : readers) builder.attach(usbDevice(reader));
    for (const ScenarioRegistryKey& key : scenario.machine.registryKeys) {
        registry.createKey(key.path);
        for (const auto& [name, data] : key.values) registry.setString(key.path, name, data);
    }
}

// --- incidents and faults ---------------------------------------------------------

void Machine::Impl::fire(std::size_t index) {
    IncidentState& state = incidentStates[index];
    if (state.fired) return;
    state.fired = true;
    const Incident& incident = scenario.incidents[index];
    std::vector<EventField> fields{{"do", std::string(incidentName(incident.kind))}};
    ReaderState* reader = readerOn(incident.drive);
    switch (incident.kind) {
        case IncidentKind::PullMedium:
        case IncidentKind::InsertMedium: {
            const bool present = incident.kind == IncidentKind::InsertMedium;
            fields.push_back({"drive", driveText(incident.drive)});
            if (reader != nullptr) {
                if (present) {
                    reader->device->insertMedium();
                } else {
                    reader->device->removeMedium();
                }
            } else {
                plainMedium[incident.drive] = present;
            }
            record(EventKind::Incident, std::move(fields));
            break;
        }
        case IncidentKind::SetWriteProtect:
            fields.push_back({"drive", driveText(incident.drive)});
            fields.push_back({"bits", std::int64_t{incident.bits}});
            if (reader != nullptr) {
                reader->device->setDeviceSpecificParameter(incident.bits);
            } else {
                fields.push_back({"problem", std::string("no reader on this drive")});
            }
            record(EventKind::Incident, std::move(fields));
            break;
        case IncidentKind::QuerySuspend:
            record(EventKind::Incident, std::move(fields));
            if (!processes.empty()) processes.back()->ui().querySuspend();
            break;
        case IncidentKind::PostQuit:
            record(EventKind::Incident, std::move(fields));
            if (!processes.empty()) processes.back()->ui().postMessage(nullptr, win::WM_QUIT, 0, 0);
            break;
        case IncidentKind::StartProgram:
            fields.push_back({"program", incident.program});
            record(EventKind::Incident, std::move(fields));
            if (starter) starter(incident.program);
            break;
    }
}

void Machine::Impl::fireDueTimeIncidents() {
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind == TriggerKind::Time && at.timeMs <= virtualClock.now()) fire(i);
    }
}

std::optional<std::uint64_t> Machine::Impl::nextTimeIncident(std::uint64_t until) const {
    std::optional<std::uint64_t> next;
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind != TriggerKind::Time || incidentStates[i].fired || at.timeMs > until) continue;
        if (!next || at.timeMs < *next) next = at.timeMs;
    }
    return next;
}

void Machine::Impl::dialogShown(int templateId) {
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind != TriggerKind::Dialog || at.templateId != templateId ||
            !programMatches(at.program))
            continue;
        if (++incidentStates[i].seen == at.occurrence) fire(i);
    }
}

void Machine::Impl::commandComing(char letter, const Classified& call) {
    fireDueTimeIncidents();
    const bool isPoll =
        call.call == DeviceCall::RequestSense && pollsSinceFormat.count(letter) != 0;
    if (call.call == DeviceCall::Format) pollsSinceFormat[letter] = 0;
    if (isPoll) ++pollsSinceFormat[letter];
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        const bool driveMatches = !at.drive || *at.drive == letter;
        if (at.kind == TriggerKind::Poll && isPoll && driveMatches &&
            pollsSinceFormat[letter] == at.occurrence) {
            fire(i);
        } else if (at.kind == TriggerKind::Command && driveMatches && programMatches(at.program) &&
                   callMatches(at.call, at.operationCode, call)) {
            if (++incidentStates[i].seen == at.occurrence) fire(i);
        }
    }
}

const CommandFault* Machine::Impl::faultFor(char letter, const Classified& call) {
    for (std::size_t i = 0; i < scenario.faults.size(); ++i) {
        const CommandFault& fault = scenario.faults[i];
        if (!callMatches(fault.call, fault.operationCode, call)) continue;
        if ((fault.drive && *fault.drive != letter) || !programMatches(fault.program)) continue;
        if (fault.block && (!call.block || *call.block != *fault.block)) continue;
        const int seen = ++faultSeen[i];
        const bool due = seen >= fault.occurrence &&
                         (fault.times == kForever || seen < fault.occurrence + fault.times);
        if (!due) continue;
        std::vector<EventField> fields{{"command", std::string(deviceCallName(call.call))},
                                       {"drive", driveText(letter)},
                                       {"occurrence", std::int64_t{seen}}};
        if (call.block) fields.push_back({"block", std::int64_t{*call.block}});
        if (call.call == DeviceCall::Operation)
            fields.push_back({"operation", std::int64_t{call.operationCode}});
        if (fault.failCall) {
            fields.push_back({"fails", static_cast<std::int64_t>(fault.error)});
        } else if (!fault.withSense) {
            fields.push_back({"sense", std::string("none")});
        } else {
            fields.push_back({"sense", senseText(fault.senseKey, fault.asc, fault.ascq)});
        }
        record(EventKind::FaultFired, std::move(fields));
        return &fault;
    }
    return nullptr;
}

// --- language libraries and the programs' own resources ---------------------------

std::optional<std::filesystem::path> Machine::Impl::findFile(const std::string& fileName) const {
    if (auto found = fileIn(scenario.machine.programFolder, fileName)) return found;
    if (!scenario.machine.useLibraryFolder) return std::nullopt;
    return fileIn(scenario.machine.libraryFolder, fileName);
}

std::shared_ptr<const ResourceScript> Machine::Impl::script(const std::string& fileName,
                                                            std::string& problem) {
    const std::optional<std::filesystem::path> path = findFile(fileName);
    if (!path) {
        problem = "no " + fileName + " in the program folder";
        return nullptr;
    }
    const std::string key = path->string();
    const auto cached = scripts.find(key);
    if (cached != scripts.end()) return cached->second;
    ScriptReading reading = readResourceScriptFile(*path);
    if (!reading.ok()) {
        problem = reading.error->describe();
        return nullptr;
    }
    auto loaded = std::make_shared<const ResourceScript>(std::move(reading.script));
    scripts[key] = loaded;
    return loaded;
}

// A library stands for its resource script of the same name: "KELDRA_ENG.dll"
// is KELDRA_ENG.rc, found where Windows would look first, beside the program.
win::HMODULE Machine::Impl::loadLibrary(SimUi& ui, std::set<win::HMODULE>& loaded,
                                        const std::string& name) {
    const std::size_t folderEnd = name.find_last_of("\\/");
    std::string fileName = folderEnd == std::string::npos ? name : name.substr(folderEnd + 1);
    if (endsWithName(fileName, kLibraryExtension))
        fileName.resize(fileName.size() - kLibraryExtension.size());
    fileName += kScriptExtension;
    std::string problem;
    const std::shared_ptr<const ResourceScript> resources = script(fileName, problem);
    if (resources == nullptr) {
        record(EventKind::LibraryMissing, {{"library", name}, {"reason", problem}});
        return nullptr;
    }
    const win::HMODULE module = ui.addModule(resources);
    loaded.insert(module);
    record(EventKind::LibraryLoaded, {{"library", name}, {"script", resources->sourceName}});
    return module;
}

// --- what the programs do with the package and the readers ----------------------

void Machine::Impl::programWrote(std::string_view text) {
    pendingOutput.append(text);
    for (std::size_t end = pendingOutput.find('\n'); end != std::string::npos;
         end = pendingOutput.find('\n')) {
        outputLine(pendingOutput.substr(0, end));
        pendingOutput.erase(0, end + 1);
    }
}

// Each line counted within its process, so that a transcript can show the
// first few and say how many more there were.
void Machine::Impl::outputLine(std::string text) {
    std::vector<EventField> fields{{"text", std::move(text)}};
    if (!outputLines.empty()) fields.push_back({"line", ++outputLines.back()});
    record(EventKind::ProgramOutput, std::move(fields));
}

// A process that ends takes its unfinished last line with it into the transcript.
void Machine::Impl::flushOutput() {
    if (pendingOutput.empty()) return;
    outputLine(pendingOutput);
    pendingOutput.clear();
}

void Machine::Impl::fileOpened(const std::string& windowsPath,
                               const std::optional<std::string>& hostPath, win::DWORD error) {
    std::vector<EventField> fields{{"path", windowsPath}};
    if (hostPath) {
        fields.push_back({"file", std::filesystem::path(*hostPath).filename().string()});
    } else {
        fields.push_back({"error", static_cast<std::int64_t>(error)});
    }
    record(EventKind::FileOpened, std::move(fields));
    if (hostPath &&
        !sameName(std::filesystem::path(*hostPath).filename().string(), kFirmwareTableName)) {
        firmwareFileOpened(windowsPath, *hostPath);
    }
}

// Any other file the program opens is the firmware file of its row. The
// machine loads it as the program is about to, from the decoder state the
// program has reached, with its own diagnostics silenced (the program prints
// its own), and gives the decoder back as it found it.
void Machine::Impl::firmwareFileOpened(const std::string& windowsPath,
                                       const std::string& hostPath) {
    std::vector<std::uint8_t> bytes;
    if (!firmware::readWholeFile(hostPath, bytes)) return;
    const firmware::ChainedDecoderState programDecoder = firmware::chainedDecoderState();
    auto image = std::make_unique<firmware::FirmwareImage>();
    firmware::MemoryByteSource source(bytes);
    // The program has printed the diagnostics already; this second look only
    // learns what the load gave.
    class Silent final : public firmware::LoaderDiagnostics {
        void report(std::string_view /*line*/) override {}
    } silent;
    const firmware::LoadOutcome outcome = firmware::loadFirmwareImage(source, *image, silent);
    firmware::chainedDecoderState() = programDecoder;

    std::vector<EventField> fields{{"path", windowsPath},
                                   {"file", std::filesystem::path(hostPath).filename().string()},
                                   {"result", std::int64_t{outcome.result}},
                                   {"holdsData", image->holdsData()}};
    if (outcome.endingRecord) {
        fields.push_back({"recordLine", static_cast<std::int64_t>(outcome.endingRecord->line)});
        fields.push_back({"recordType", std::string("S") + outcome.endingRecord->type});
        fields.push_back({"recordAddress", std::int64_t{outcome.endingRecord->address}});
    }
    if (image->holdsData()) {
        fields.push_back({"lowAddress", std::int64_t{image->imageLowAddress}});
        fields.push_back({"highAddress", std::int64_t{image->imageHighAddress}});
    }
    // The row that led the program here: the first reader whose row names this file.
    for (const ReaderState& reader : readers) {
        const std::optional<TableMatch> match = tableRowFor(reader.current);
        if (!match || processes.empty()) continue;
        const std::optional<std::string> named =
            processes.back()->system().hostPathFor(match->row.firmwareFileName);
        if (named != hostPath) continue;
        fields.push_back({"drive", driveText(reader.letter)});
        fields.push_back({"row", static_cast<std::int64_t>(match->line)});
        fields.push_back({"rowFields", rowFields(match->row)});
        break;
    }
    record(EventKind::FirmwareLoaded, std::move(fields));
}

void Machine::Impl::headerTaken(char letter) {
    ReaderState* reader = readerOn(letter);
    if (reader == nullptr) return;
    const FirmwareReception reception = receptionOf(reader->device->receivedBlocks());
    if (!reception.headerReceived) return;
    const firmware::HeaderBlockFields& header = reception.header;
    const auto& nameBytes = header.headerNameBytes;
    const firmware::HeaderProductName& product = header.headerProductName;
    record(EventKind::FirmwareHeader,
           {{"drive", driveText(letter)},
            {"headerName", trimmedRight(std::string(
                               nameBytes.begin(),
                               std::find(nameBytes.begin(), nameBytes.end(), std::uint8_t{0})))},
            {"scrambled", reception.scrambled},
            {"productId", std::int64_t{header.headerProductId}},
            {"productName", trimmedRight(std::string(product.begin(), product.end()))},
            {"imageStart", std::int64_t{header.imageStart}},
            {"imageLength", std::int64_t{header.imageLength}},
            {"imageChecksum", std::int64_t{header.imageChecksum}},
            {"blocks", std::int64_t{reception.blocksExpected}}});
}

// The row of the package's table for a reader of this identity, as the
// update program finds it: by the USB ids as the machine's Windows spells them.
std::optional<TableMatch> Machine::Impl::tableRowFor(const DeviceIdentity& identity) const {
    const std::optional<std::filesystem::path> path =
        fileIn(scenario.machine.programFolder, kFirmwareTableName);
    if (!path) return std::nullopt;
    std::vector<std::uint8_t> raw;
    if (!firmware::readWholeFile(path->string(), raw)) return std::nullopt;
    const std::string text = firmware::decodeFirmwareTableText(raw);
    const UsbIdSpelling spelling = usbIdSpelling();
    const firmware::ReaderIdentity reader{
        usbIdDigits(identity.vendorId, spelling), usbIdDigits(identity.productId, spelling),
        usbIdDigits(identity.deviceRevision, spelling), trimmedRight(identity.inquiry.product)};
    const std::optional<std::size_t> line = firmware::findFirmwareRowLine(text, reader);
    if (!line) return std::nullopt;
    return TableMatch{*line + 1,
                      firmware::cutFirmwareTableRow(firmware::firmwareTableLines(text)[*line])};
}

// --- power ------------------------------------------------------------------------

void Machine::Impl::noteFormats() {
    for (ReaderState& reader : readers) {
        const int completed = reader.device->completedFormats();
        if (completed <= reader.knownFormats) continue;
        reader.knownFormats = completed;
        setup.drives[reader.letter].files.clear();
        record(EventKind::MediumFormatted,
               {{"drive", driveText(reader.letter)}, {"formats", std::int64_t{completed}}});
    }
}

// The revision the package's table promises for a reader of this identity:
// the hand-off revision of its row.
std::optional<std::uint16_t> Machine::Impl::promisedRevision(const DeviceIdentity& identity) const {
    const std::optional<TableMatch> match = tableRowFor(identity);
    if (!match) return std::nullopt;
    return fourHexValue(match->row.handoffRevision);
}

void Machine::Impl::enumerate(ReaderState& reader) {
    const FirmwareReception firmwareIn = reader.device->firmwareReception();
    const std::vector<std::uint8_t> stream = reader.device->getReceivedStream();
    std::vector<EventField> fields{{"drive", driveText(reader.letter)}};
    const bool fresh = firmwareIn.headerReceived && stream != reader.consumedStream;
    if (fresh && !firmwareIn.written()) {
        // The reader did not take the image: its boot code keeps the old firmware.
        fields.push_back({"firmware", "not taken: " + firmwareIn.failureReason});
    }
    DeviceIdentity next = reader.current;
    if (fresh && firmwareIn.written()) {
        reader.consumedStream = stream;
        const ReaderBecomes& becomes = reader.becomes;
        const firmware::HeaderProductName& name = firmwareIn.header.headerProductName;
        next.productId = becomes.productId.value_or(firmwareIn.header.headerProductId);
        next.inquiry.product =
            becomes.productName.value_or(trimmedRight(std::string(name.begin(), name.end())));
        next.deviceRevision = becomes.deviceRevision.value_or(
            promisedRevision(reader.current).value_or(reader.current.deviceRevision));
        next.inquiry.revision = becomes.inquiryRevision.value_or(
            next.deviceRevision != reader.current.deviceRevision ? bcdRevision(next.deviceRevision)
                                                                 : reader.current.inquiry.revision);
        fields.push_back({"firmware", std::string("new")});
    }
    const bool changed = next != reader.current;
    fields.push_back({"changed", changed});
    fields.push_back({"before", identityText(reader.current)});
    if (changed) {
        reader.current = next;
        reader.device->setIdentity(next.inquiry);
        const UsbStorageRecords laid = usbRecords().attach(usbDevice(reader));
        fields.push_back({"storageKey", laid.storageKeyPath + "\\" + laid.storageInstanceName});
        fields.push_back({"usbKey", laid.usbKeyPath + "\\" + laid.usbInstanceName});
    }
    fields.push_back({"identity", identityText(reader.current)});
    record(EventKind::ReaderEnumerated, std::move(fields));
}

// --- Machine ----------------------------------------------------------------------

MachineProcess::MachineProcess(std::string program, std::unique_ptr<SimSystem> system,
                               std::unique_ptr<SimUi> ui, std::unique_ptr<UiObserver> observer,
                               platform::Registry& registry, platform::Volumes& volumes,
                               platform::Clock& clock, firmware::OutputWriter output)
    : program_(std::move(program)),
      outerDecoder_(firmware::chainedDecoderState()),
      system_(std::move(system)),
      observer_(std::move(observer)),
      ui_(std::move(ui)),
      services_{*ui_, *system_, registry, volumes, clock},
      output_(std::move(output)) {
    firmware::resetChainedDecoder();
}

MachineProcess::~MachineProcess() {
    firmware::chainedDecoderState() = outerDecoder_;
}

Machine::Machine(Scenario scenario) : impl_(std::make_unique<Impl>(std::move(scenario))) {}

Machine::~Machine() {
    while (!impl_->processes.empty()) impl_->processes.pop_back();
}

void Machine::setProgramFiles(std::vector<ProgramFile> programs) {
    impl_->programs = std::move(programs);
}
void Machine::setProgramStarter(std::function<void(const std::string&)> starter) {
    impl_->starter = std::move(starter);
}
void Machine::setGuardHandler(std::function<void()> handler) {
    impl_->guardHandler = std::move(handler);
}
void Machine::setLoopGuard(LoopGuardLimits limits) {
    impl_->limits = limits;
}
void Machine::setEventSink(std::function<void(const MachineEvent&)> sink) {
    impl_->sink = std::move(sink);
}
void Machine::setUser(const std::string& programFile, UserScript& user) {
    impl_->users[lowered(programFile)] = &user;
}

UserScript& Machine::scriptedUser(const std::string& programFile) {
    QueuedUserScript& user = impl_->scriptedUsers[lowered(programFile)];
    user.setFallbackAnswer(impl_->scenario.user.fallback);
    return user;
}

MachineProcess& Machine::startProcess(const std::string& programFile) {
    Impl& m = *impl_;
    const auto chosen = m.users.find(lowered(programFile));
    UserScript& user = chosen != m.users.end() ? *chosen->second : scriptedUser(programFile);

    auto system = std::make_unique<SimSystem>(m.setup, m.mutexes);
    system->failOpenProcessToken(m.scenario.machine.failOpenProcessToken);
    system->failGetTokenInformation(m.scenario.machine.failGetTokenInformation);
    auto observer = std::make_unique<ProcessObserver>(m);
    auto ui = std::make_unique<SimUi>(user);
    ui->setObserver(observer.get());
    ui->setLoopGuard(m.limits);
    ui->setGuardHandler([&m] {
        if (m.guardHandler) m.guardHandler();
    });
    SimUi* uiOfProcess = ui.get();
    auto loaded = std::make_shared<std::set<win::HMODULE>>();
    system->setLibraryLoader(
        [&m, uiOfProcess, loaded](const std::string& name) {
            return m.loadLibrary(*uiOfProcess, *loaded, name);
        },
        [uiOfProcess, loaded](win::HMODULE module) {
            if (loaded->erase(module) == 0) return false;
            uiOfProcess->removeModule(module);
            return true;
        });

    system->setFileWatcher([&m](const std::string& windowsPath,
                                const std::optional<std::string>& hostPath,
                                win::DWORD error) { m.fileOpened(windowsPath, hostPath, error); });
    m.processes.push_back(std::unique_ptr<MachineProcess>(new MachineProcess(
        programFile, std::move(system), std::move(ui), std::move(observer), m.registry, *m.volumes,
        *m.clock, [&m](std::string_view text) { m.programWrote(text); })));
    m.outputLines.push_back(0);
    m.record(EventKind::ProcessStarted, {{"directory", m.setup.currentDirectory}});

    const auto program =
        std::find_if(m.programs.begin(), m.programs.end(),
                     [&](const ProgramFile& p) { return sameName(p.fileName, programFile); });
    if (program != m.programs.end() && !program->resourceScript.empty()) {
        std::string problem;
        const std::shared_ptr<const ResourceScript> own =
            m.script(program->resourceScript, problem);
        if (own != nullptr) {
            uiOfProcess->setProgramResources(own);
        } else {
            m.record(EventKind::LibraryMissing,
                     {{"library", program->resourceScript}, {"reason", problem}});
        }
    }
    m.fireDueTimeIncidents();
    return *m.processes.back();
}

void Machine::endProcess(bool killed) {
    Impl& m = *impl_;
    if (m.processes.empty()) return;
    MachineProcess& process = *m.processes.back();
    const bool switchOff = process.system().powerOffRequested();
    const win::UINT flags = process.system().powerOffFlags();
    m.flushOutput();
    m.record(EventKind::ProcessEnded,
             {{"killed", killed},
              {"outputLines", m.outputLines.empty() ? std::int64_t{0} : m.outputLines.back()},
              {"handles", static_cast<std::int64_t>(process.system().openHandleCount())},
              {"sids", static_cast<std::int64_t>(process.system().liveSidCount())},
              {"librariesFreed", static_cast<std::int64_t>(process.system().librariesFreed())}});
    m.processes.pop_back();
    if (!m.outputLines.empty()) m.outputLines.pop_back();
    m.noteFormats();
    if (switchOff && (flags & (win::EWX_POWEROFF | kEwxShutdown | kEwxReboot)) != 0) {
        const bool reboot = (flags & kEwxReboot) != 0;
        m.record(EventKind::PowerOff,
                 {{"flags", static_cast<std::int64_t>(flags)}, {"restart", reboot}});
        m.poweredOff = true;
    }
}

MachineProcess* Machine::currentProcess() {
    return impl_->processes.empty() ? nullptr : impl_->processes.back().get();
}

bool Machine::poweredOff() const {
    return impl_->poweredOff;
}

void Machine::powerOn() {
    Impl& m = *impl_;
    m.noteFormats();
    m.poweredOff = false;
    ++m.powerCycles;
    m.record(EventKind::PowerOn, {});
    for (ReaderState& reader : m.readers) m.enumerate(reader);
}

void Machine::restart() {
    Impl& m = *impl_;
    m.record(EventKind::PowerOff, {{"flags", std::int64_t{0}}, {"restart", true}});
    m.poweredOff = true;
    powerOn();
}

void Machine::logOn(const std::function<void(const std::string&)>& start) {
    Impl& m = *impl_;
    m.record(EventKind::LogOn, {});
    for (const std::string& name : m.registry.valueNames(kRunOnceKeyPath)) {
        const std::optional<RegistryValue> value = m.registry.value(kRunOnceKeyPath, name);
        if (!value) continue;
        const std::string command = textUpToZero(value->data);
        const bool removeAfter = !name.empty() && name.front() == kRunAfterPrefix;
        if (!removeAfter) m.registry.deleteValue(kRunOnceKeyPath, name);
        const ResolvedCommand resolved = resolveCommandLine(command);
        std::vector<EventField> fields{{"name", name},
                                       {"command", command},
                                       {"removed", std::string(removeAfter ? "after" : "before")},
                                       {"starts", resolved.windowsPath}};
        if (resolved.programFile) fields.push_back({"program", *resolved.programFile});
        m.record(EventKind::RunOnce, std::move(fields));
        if (resolved.programFile) start(*resolved.programFile);
        if (removeAfter) m.registry.deleteValue(kRunOnceKeyPath, name);
    }
}

ResolvedCommand Machine::resolveCommandLine(std::string_view commandLine) const {
    const Impl& m = *impl_;
    std::string_view line = commandLine;
    while (!line.empty() && line.front() == ' ') line.remove_prefix(1);

    std::vector<std::string> candidates;
    if (!line.empty() && line.front() == '"') {
        const std::size_t close = line.find('"', 1);
        candidates.emplace_back(
            line.substr(1, close == std::string_view::npos ? line.npos : close - 1));
    } else {
        for (std::size_t blank = line.find(' '); blank != std::string_view::npos;
             blank = line.find(' ', blank + 1)) {
            candidates.emplace_back(line.substr(0, blank));
        }
        candidates.emplace_back(line);
    }

    for (std::string candidate : candidates) {
        const std::vector<std::string> parts = pathComponents(candidate);
        if (parts.empty()) continue;
        if (parts.back().find('.') == std::string::npos) candidate += kProgramExtension;
        const std::string fileName = pathComponents(candidate).back();
        const std::string folder = candidate.substr(0, candidate.size() - fileName.size());
        if (samePath(folder, m.setup.currentDirectory)) {
            for (const ProgramFile& program : m.programs) {
                if (sameName(program.fileName, fileName)) return {candidate, program.fileName};
            }
        }
        for (const std::string& other : m.scenario.machine.otherPrograms) {
            if (samePath(other, candidate)) return {candidate, std::nullopt};
        }
    }
    return {};
}

const Scenario& Machine::scenario() const {
    return impl_->scenario;
}
const std::vector<MachineEvent>& Machine::events() const {
    return impl_->events;
}
void Machine::record(EventKind kind, std::vector<EventField> fields) {
    impl_->record(kind, std::move(fields));
}
SimRegistry& Machine::registry() {
    return impl_->registry;
}
SimVolumes& Machine::volumes() {
    return impl_->simVolumes;
}
VirtualClock& Machine::clock() {
    return impl_->virtualClock;
}
std::size_t Machine::readerCount() const {
    return impl_->readers.size();
}
VirtualReader& Machine::reader(std::size_t index) {
    return *impl_->readers.at(index).device;
}

MachineSummary Machine::summary() const {
    const Impl& m = *impl_;
    MachineSummary summary;
    for (const ReaderState& reader : m.readers) {
        summary.readers.push_back(
            ReaderSummary{reader.letter, reader.before, reader.current,
                          reader.device->firmwareReception(), reader.device->completedFormats(),
                          reader.device->abortedFormats(), reader.device->getReceivedStream()});
        if (m.simVolumes.isLocked(reader.letter)) summary.lockedVolumes.push_back(reader.letter);
    }
    summary.markerWritten = m.markerWritten;
    summary.markerPresent = m.registry.keyExists(kMarkerKeyPath);
    for (const std::string& name : m.registry.valueNames(kMarkerKeyPath)) {
        if (const auto value = m.registry.value(kMarkerKeyPath, name))
            summary.markerValues.emplace_back(name, textUpToZero(value->data));
    }
    for (const std::string& name : m.registry.valueNames(kRunOnceKeyPath)) {
        if (const auto value = m.registry.value(kRunOnceKeyPath, name))
            summary.runOnceValues.emplace_back(name, textUpToZero(value->data));
    }
    summary.powerCycles = m.powerCycles;
    summary.poweredOff = m.poweredOff;
    summary.openRegistryKeys = m.registry.openKeyCount();
    summary.openVolumeHandles = m.simVolumes.openHandleCount();
    return summary;
}

}  // namespace sim

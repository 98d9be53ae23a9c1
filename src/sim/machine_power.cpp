#include <array>
#include <charconv>
#include <cstdio>

#include "sim/machine_impl.h"
#include "sim/windows_names.h"

// Power: the switch-off a program asks for, the power-on that enumerates the
// readers again (one that took a whole image comes up as its header says),
// and the log-on that runs the run-once values.
namespace sim {

namespace {

// ExitWindowsEx flags beyond the ones the programs name.
constexpr win::UINT kEwxShutdown = 0x00000001;
constexpr win::UINT kEwxReboot = 0x00000002;

constexpr int kBitsPerHexDigit = 4;
constexpr int kHexBase = 16;
constexpr unsigned kBcdDigitMask = 0xF;
constexpr std::string_view kProgramExtension = ".exe";
constexpr char kRunAfterPrefix = '!';

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

}  // namespace

UsbStorageDevice Machine::Impl::usbDevice(const ReaderState& reader) const {
    UsbStorageDevice device = usbStorageDeviceOf(reader.letter, reader.current);
    device.hubPort = reader.hubPort;
    device.serialNumber = reader.serialNumber;
    return device;
}

// ExitWindowsEx that logs off only leaves the machine on.
void Machine::Impl::switchOff(win::UINT flags) {
    if ((flags & (win::EWX_POWEROFF | kEwxShutdown | kEwxReboot)) == 0) return;
    const bool reboot = (flags & kEwxReboot) != 0;
    record(EventKind::PowerOff,
           {{field::kFlags, static_cast<std::int64_t>(flags)}, {field::kRestart, reboot}});
    poweredOff = true;
}

void Machine::Impl::noteFormats() {
    for (ReaderState& reader : readers) {
        const int completed = reader.device->completedFormats();
        if (completed <= reader.knownFormats) continue;
        reader.knownFormats = completed;
        setup.drives[reader.letter].files.clear();
        record(EventKind::MediumFormatted, {{field::kDrive, driveText(reader.letter)},
                                            {field::kFormats, std::int64_t{completed}}});
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
    std::vector<EventField> fields{{field::kDrive, driveText(reader.letter)}};
    const bool fresh = firmwareIn.headerReceived && stream != reader.consumedStream;
    if (fresh && !firmwareIn.written()) {
        // The reader did not take the image: its boot code keeps the old firmware.
        fields.push_back(
            {field::kFirmware, std::string(kFirmwareNotTaken) + firmwareIn.failureReason});
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
        fields.push_back({field::kFirmware, std::string(kFirmwareTaken)});
    }
    const bool changed = next != reader.current;
    fields.push_back({field::kChanged, changed});
    fields.push_back({field::kBefore, identityText(reader.current)});
    if (changed) {
        reader.current = next;
        reader.device->setIdentity(next.inquiry);
        const UsbStorageRecords laid = usbRecords().attach(usbDevice(reader));
        fields.push_back(
            {field::kStorageKey, laid.storageKeyPath + "\\" + laid.storageInstanceName});
        fields.push_back({field::kUsbKey, laid.usbKeyPath + "\\" + laid.usbInstanceName});
    }
    fields.push_back({field::kIdentity, identityText(reader.current)});
    record(EventKind::ReaderEnumerated, std::move(fields));
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
    m.record(EventKind::PowerOff, {{field::kFlags, std::int64_t{0}}, {field::kRestart, true}});
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
        std::vector<EventField> fields{
            {field::kName, name},
            {field::kCommand, command},
            {field::kRemoved, std::string(removeAfter ? "after" : "before")},
            {field::kStarts, resolved.windowsPath}};
        if (resolved.programFile) fields.push_back({field::kProgram, *resolved.programFile});
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

    std::vector<std::string> programFolder = pathComponents(m.setup.currentDirectory);
    for (std::string candidate : candidates) {
        std::vector<std::string> parts = pathComponents(candidate);
        if (parts.empty()) continue;
        if (parts.back().find('.') == std::string::npos) {
            candidate += kProgramExtension;
            parts = pathComponents(candidate);
        }
        for (const ProgramFile& program : m.programs) {
            programFolder.push_back(program.fileName);
            const bool here = sameComponents(parts, programFolder);
            programFolder.pop_back();
            if (here) return {candidate, program.fileName};
        }
        for (const std::string& other : m.scenario.machine.otherPrograms) {
            if (samePath(other, candidate)) return {candidate, std::nullopt};
        }
    }
    return {};
}

}  // namespace sim

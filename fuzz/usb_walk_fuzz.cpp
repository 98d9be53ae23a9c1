// Runs the drive-to-USB registry walk over registries built from the input:
// it must not crash, read out of bounds or leave a key open, and walking the
// same registry twice must give the same answer.
//
// The input is a small program:
//   byte 0  drive root: letter (b % 6 of "EFCDGe"), trailing backslashes ((b / 6) % 3)
//   byte 1  INQUIRY strings: two bits each for vendor, product, revision
//           (a preset, or 3 for a text from the input)
//   byte 2  machine: bit 0 base machine, bit 1 reader on E:, bit 2 serial
//           stick on F:, bit 3 the reader's earlier instance, bits 4-6 its port
//   then    operations, one opcode byte each (see runOperation); a key path's
//           selector picks the disk key as Windows writes it ('_' for a
//           blank) when its bit 7 is set, else as the INQUIRY strings name it
// Texts are a length byte and that many bytes; names and data choose between
// a dictionary of the walk's interesting words and texts from the input,
// long ones included, so the 255-byte bounds are crossed both ways.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "device/usb_identification.h"
#include "platform/device_id.h"
#include "sim/sim_registry.h"
#include "sim/usb_registry_builder.h"

namespace {

constexpr std::size_t kMaxOperations = 128;
constexpr std::size_t kShortTextMask = 0x1F;
constexpr std::uint8_t kDictionaryLimit = 0x80;
constexpr std::size_t kLongTextStep = 256;
constexpr std::size_t kMaxDataLength = 600;
constexpr std::size_t kDriveChoices = 6;
constexpr std::size_t kBackslashChoices = 3;
constexpr std::size_t kStringChoiceBits = 2;
constexpr std::uint8_t kStringChoiceMask = 0x3;
constexpr unsigned kPortShift = 4;
constexpr std::uint8_t kPortMask = 0x7;
constexpr std::size_t kKeyPathChoices = 6;
// In a key path's selector: the disk key as Windows writes it rather than as
// the INQUIRY strings name it.
constexpr std::uint8_t kWindowsSpellingBit = 0x80;

class ProgramReader {
  public:
    ProgramReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool done() const { return at_ >= size_; }
    std::uint8_t byte() { return done() ? 0 : data_[at_++]; }
    std::uint16_t word() {
        const std::uint8_t high = byte();
        return static_cast<std::uint16_t>((high << 8) | byte());
    }
    // `count` bytes; once the input is used up the rest is a fixed pattern,
    // so a short input can still ask for a long name.
    std::string bytes(std::size_t count) {
        std::string out;
        out.reserve(count);
        for (std::size_t i = 0; i < count; ++i) {
            out += done() ? static_cast<char>('A' + i % 26) : static_cast<char>(byte());
        }
        return out;
    }
    std::string shortText() { return bytes(byte() & kShortTextMask); }
    // A dictionary word, or a text of up to 511 bytes from the input.
    std::string choose(const std::vector<std::string>& dictionary) {
        const std::uint8_t selector = byte();
        if (selector < kDictionaryLimit) return dictionary[selector % dictionary.size()];
        const std::size_t length = byte() + ((selector & 1) != 0 ? kLongTextStep : 0);
        return bytes(length);
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

const std::vector<std::string> kInstanceNames = {"6&2f3e4d5c&0&0",
                                                 "5&3a1b2c3d&0&1",
                                                 "Vid_1234&Pid_5678",
                                                 "ROOT_HUB",
                                                 "0&ghost",
                                                 "A1B2C3D4E5&0",
                                                 std::string(sim::kMaxKeyNameLength, '0')};
const std::vector<std::string> kValueNames = {
    "ParentIdPrefix", "HardwareID", "\\DosDevices\\E:", "\\DosDevices\\F:", "E:", "", "Service"};
const std::vector<std::string> kTexts = {
    "7&1a2b3c4d&0", "6&2f3e4d5c&0",   "", "USB\\Vid_1234&Pid_5678&Rev_0100",
    "USB\\",        "7&1a2b3c4d&0&RM"};
const std::array<win::DWORD, 5> kTypes = {win::REG_SZ, win::REG_BINARY, win::REG_MULTI_SZ,
                                          win::REG_DWORD, win::REG_NONE};
const std::array<win::LONG, 6> kErrors = {win::ERROR_ACCESS_DENIED,  win::ERROR_FILE_NOT_FOUND,
                                          win::ERROR_INVALID_HANDLE, win::ERROR_MORE_DATA,
                                          win::ERROR_KEY_DELETED,    win::ERROR_INVALID_PARAMETER};
constexpr std::size_t kCalls = 8;

std::string pickString(ProgramReader& in, std::uint8_t choice, const char* first,
                       const char* second, const char* third) {
    switch (choice) {
        case 0:
            return first;
        case 1:
            return second;
        case 2:
            return third;
        default:
            return in.shortText();
    }
}

device::InquiryStrings readInquiry(ProgramReader& in) {
    const std::uint8_t selector = in.byte();
    const auto part = [&](unsigned index) {
        return static_cast<std::uint8_t>((selector >> (index * kStringChoiceBits)) &
                                         kStringChoiceMask);
    };
    device::InquiryStrings inquiry;
    inquiry.vendor = pickString(in, part(0), "Kavo", "Generic", "");
    inquiry.product = pickString(in, part(1), "TKW-5 Reader", "Flash Disk", "TKW-5_Reader");
    inquiry.revision = pickString(in, part(2), "1.00", "8.07", "");
    return inquiry;
}

std::string readDriveRoot(ProgramReader& in) {
    static constexpr char kLetters[] = "EFCDGe";
    const std::uint8_t selector = in.byte();
    std::string root(1, kLetters[selector % kDriveChoices]);
    root += ':';
    root.append((selector / kDriveChoices) % kBackslashChoices, '\\');
    return root;
}

sim::UsbStorageDevice presetReader(unsigned port) {
    sim::UsbStorageDevice device;
    device.vendor = "Kavo";
    device.product = "TKW-5 Reader";
    device.revision = "1.00";
    device.vendorId = 0x1234;
    device.productId = 0x5678;
    device.deviceRevision = 0x0100;
    device.hubPort = port;
    return device;
}

void layMachine(ProgramReader& in, sim::SimRegistry& registry) {
    const std::uint8_t flags = in.byte();
    sim::UsbRegistryBuilder builder(registry);
    if ((flags & 0x1) != 0) builder.layBaseMachine();
    if ((flags & 0x4) != 0) {
        sim::UsbStorageDevice stick = presetReader(2);
        stick.driveLetter = 'F';
        stick.vendor = "Generic";
        stick.product = "Flash Disk";
        stick.revision = "8.07";
        stick.vendorId = 0x058f;
        stick.serialNumber = "A1B2C3D4E5";
        builder.attach(stick);
    }
    if ((flags & 0x8) != 0) builder.attach(presetReader(1));
    if ((flags & 0x2) != 0) builder.attach(presetReader(2 + ((flags >> kPortShift) & kPortMask)));
}

// The disk key's name as the INQUIRY strings give it and as Windows writes it.
struct StorageKeys {
    std::string named;
    std::string written;
};

StorageKeys storageKeysOf(const device::InquiryStrings& inquiry) {
    const auto key = [](std::string_view vendor, std::string_view product,
                        std::string_view revision) {
        return "Disk&Ven_" + std::string(vendor) + "&Prod_" + std::string(product) + "&Rev_" +
               std::string(revision);
    };
    // The registry reads names up to their first zero.
    const auto cut = [](const std::string& text) {
        return std::string_view(text).substr(0, text.find('\0'));
    };
    return {key(cut(inquiry.vendor), cut(inquiry.product), cut(inquiry.revision)),
            key(win::deviceIdText(cut(inquiry.vendor)), win::deviceIdText(cut(inquiry.product)),
                win::deviceIdText(cut(inquiry.revision)))};
}

std::string pickKeyPath(ProgramReader& in, const StorageKeys& storageKeys) {
    const std::uint8_t selector = in.byte();
    const std::string& storageKey =
        (selector & kWindowsSpellingBit) != 0 ? storageKeys.written : storageKeys.named;
    const std::string usbstor = std::string(sim::kUsbStorageEnumPath) + "\\" + storageKey;
    const std::string usb = sim::kUsbEnumPath;
    switch (selector % kKeyPathChoices) {
        case 0:
            return sim::kMountedDevicesPath;
        case 1:
            return usbstor;
        case 2:
            return usbstor + "\\" + in.choose(kInstanceNames);
        case 3:
            return usb;
        case 4:
            return usb + "\\" + in.choose(kInstanceNames);
        default: {
            const std::string device = in.choose(kInstanceNames);
            return usb + "\\" + device + "\\" + in.choose(kInstanceNames);
        }
    }
}

std::vector<win::BYTE> readData(ProgramReader& in) {
    const std::uint8_t selector = in.byte();
    std::string text;
    if (selector < kDictionaryLimit) {
        text = kTexts[selector % kTexts.size()];
        if ((selector & 1) != 0) text += '\0';
    } else {
        text = in.bytes(in.word() % kMaxDataLength);
    }
    return std::vector<win::BYTE>(text.begin(), text.end());
}

// Writes go through the calls a program would use, so they exercise the
// simulated registry as well; a write a fault refuses is simply missing.
void setThroughCalls(sim::SimRegistry& registry, const std::string& keyPath,
                     const std::string& name, win::DWORD type, const std::vector<win::BYTE>& data) {
    win::HKEY key = nullptr;
    if (registry.RegCreateKeyExA(win::hkeyLocalMachine(), keyPath.c_str(),
                                 win::REG_OPTION_NON_VOLATILE, win::KEY_SET_VALUE, &key,
                                 nullptr) != win::ERROR_SUCCESS) {
        return;
    }
    registry.RegSetValueExA(key, name.c_str(), type, data.data(),
                            static_cast<win::DWORD>(data.size()));
    registry.RegCloseKey(key);
}

void runOperation(ProgramReader& in, sim::SimRegistry& registry, const StorageKeys& storageKeys) {
    switch (in.byte() % 6) {
        case 0:
            registry.createKey(pickKeyPath(in, storageKeys));
            break;
        case 1: {
            const std::string keyPath = pickKeyPath(in, storageKeys);
            const std::string name = in.choose(kValueNames);
            const win::DWORD type = kTypes[in.byte() % kTypes.size()];
            setThroughCalls(registry, keyPath, name, type, readData(in));
            break;
        }
        case 2: {
            std::string name = "\\DosDevices\\";
            name += static_cast<char>('C' + in.byte() % kDriveChoices);
            name += ':';
            registry.setBinary(sim::kMountedDevicesPath, name,
                               sim::removableMediaMountRecord(in.shortText()));
            break;
        }
        case 3: {
            sim::RegistryFault fault;
            fault.call = static_cast<sim::RegistryCall>(in.byte() % kCalls);
            fault.keyPath = pickKeyPath(in, storageKeys);
            if ((in.byte() & 1) != 0) fault.name = in.choose(kValueNames);
            fault.error = kErrors[in.byte() % kErrors.size()];
            registry.injectFault(fault);
            break;
        }
        case 4: {
            const std::string path = pickKeyPath(in, storageKeys);
            registry.RegDeleteKeyA(win::hkeyLocalMachine(), path.c_str());
            break;
        }
        default:
            registry.createKey(pickKeyPath(in, storageKeys) + "\\" + in.bytes(in.byte()));
            break;
    }
}

// The three strings come out of one 255-byte buffer.
constexpr std::size_t kLongestIdentity = 255;

std::string outcomeOf(const std::optional<device::UsbIdentity>& identity) {
    if (!identity) return "stopped";
    if (identity->vendorId.size() + identity->productId.size() + identity->revision.size() >
        kLongestIdentity) {
        std::fprintf(stderr, "usb_walk: identity longer than its buffer\n");
        std::abort();
    }
    return identity->vendorId + "/" + identity->productId + "/" + identity->revision;
}

[[noreturn]] void failWith(const char* what, const sim::SimRegistry& registry) {
    std::fprintf(stderr, "usb_walk: %s\n", what);
    for (const std::string& path : registry.openKeyPaths()) {
        std::fprintf(stderr, "  open: %s\n", path.c_str());
    }
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ProgramReader in(data, size);
    const std::string driveRoot = readDriveRoot(in);
    const device::InquiryStrings inquiry = readInquiry(in);
    const StorageKeys storageKeys = storageKeysOf(inquiry);

    sim::SimRegistry registry;
    layMachine(in, registry);
    for (std::size_t i = 0; i < kMaxOperations && !in.done(); ++i) {
        runOperation(in, registry, storageKeys);
    }
    if (registry.openKeyCount() != 0) failWith("the program left keys open", registry);

    const std::string first = outcomeOf(device::walkToUsbParent(registry, driveRoot, inquiry));
    if (registry.openKeyCount() != 0) failWith("the walk left keys open", registry);
    const std::string second = outcomeOf(device::walkToUsbParent(registry, driveRoot, inquiry));
    if (first != second) failWith("two walks over one registry disagree", registry);
    return 0;
}

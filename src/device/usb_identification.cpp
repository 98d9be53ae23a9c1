#include "device/usb_identification.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "platform/device_id.h"

namespace device {

namespace {

// Every name and value of the walk goes through a buffer of this size, and
// the size is what the registry is told: characters for names (the
// terminator included, so the longest readable name has 254 characters),
// bytes for data (a value of exactly 255 bytes fits, with no room for a
// terminator).
constexpr win::DWORD kRegistryBufferSize = 255;
using NameBuffer = std::array<char, kRegistryBufferSize>;
using DataBuffer = std::array<win::BYTE, kRegistryBufferSize>;

constexpr win::DWORD kNoOptions = 0;
constexpr char kKeySeparator[] = "\\";
constexpr char kMountedDevicesKey[] = "SYSTEM\\MountedDevices";
constexpr char kUsbStorageKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
constexpr char kUsbKey[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";
constexpr char kParentIdPrefix[] = "ParentIdPrefix";
constexpr char kHardwareId[] = "HardwareID";

// The mount record is UTF-16LE text "\??\STORAGE#RemovableMedia#<instance>#{...}";
// the instance id is read from the low bytes of its characters 27 to 41.
constexpr std::size_t kMediaInstanceOffset = 54;
constexpr std::size_t kMediaInstanceLength = 15;
constexpr std::size_t kUtf16CodeUnitSize = 2;
static_assert(kMediaInstanceOffset + (kMediaInstanceLength - 1) * kUtf16CodeUnitSize <
                  kRegistryBufferSize,
              "the instance id lies inside the data buffer");

// "USB\" before the identifiers, and "Vid_", "Pid_", "Rev_" before each one.
constexpr std::size_t kBusPrefixLength = 4;
constexpr std::size_t kLabelLength = 4;
constexpr char kPieceSeparator = '&';

// The text of a buffer as the runtime's string functions see it: up to the
// first zero, and never past the buffer's end even when the registry filled
// it completely.
template <typename Byte>
std::string boundedText(std::span<const Byte> buffer) {
    std::string text;
    for (const Byte b : buffer) {
        if (b == 0) break;
        text += static_cast<char>(b);
    }
    return text;
}

// Strings handed to the registry end at their first zero; cutting them there
// first keeps the paths built from them what the registry will see.
std::string_view untilZero(std::string_view text) {
    return text.substr(0, text.find('\0'));
}

// The walk's substring tests, with strstr's semantics (an empty needle is
// found everywhere).
bool contains(std::string_view haystack, std::string_view needle) {
    return haystack.find(needle) != std::string_view::npos;
}

// Errors that concern the handle rather than the entry at one index: every
// later index would fail the same way, so the list has ended for us.
bool endsValueList(win::LONG status) {
    return status == win::ERROR_NO_MORE_ITEMS || status == win::ERROR_INVALID_HANDLE ||
           status == win::ERROR_KEY_DELETED || status == win::ERROR_ACCESS_DENIED;
}

// A key of HKEY_LOCAL_MACHINE that is closed exactly once: explicitly where
// the walk must know whether closing worked, otherwise when it goes out of
// scope on a path that stops anyway.
class OpenKey {
  public:
    explicit OpenKey(platform::Registry& registry) : registry_(registry) {}
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;
    ~OpenKey() {
        if (open_) static_cast<void>(registry_.RegCloseKey(key_));
    }

    bool open(const std::string& path, win::REGSAM access) {
        return openWithStatus(path, access) == win::ERROR_SUCCESS;
    }

    // The registry's answer, so that a key that does not exist can be told
    // from one that cannot be opened.
    win::LONG openWithStatus(const std::string& path, win::REGSAM access) {
        win::HKEY key = nullptr;
        const win::LONG status = registry_.RegOpenKeyExA(win::hkeyLocalMachine(), path.c_str(),
                                                         kNoOptions, access, &key);
        if (status != win::ERROR_SUCCESS) return status;
        key_ = key;
        open_ = true;
        return status;
    }

    [[nodiscard]] bool close() {
        open_ = false;
        return registry_.RegCloseKey(key_) == win::ERROR_SUCCESS;
    }

    win::LONG enumValueName(win::DWORD index, NameBuffer& name) {
        name.fill(0);
        win::DWORD length = kRegistryBufferSize;
        return registry_.RegEnumValueA(key_, index, name.data(), &length, nullptr, nullptr,
                                       nullptr);
    }

    win::LONG enumSubkeyName(win::DWORD index, NameBuffer& name) {
        name.fill(0);
        win::DWORD length = kRegistryBufferSize;
        return registry_.RegEnumKeyExA(key_, index, name.data(), &length);
    }

    // False also when the value does not fit the buffer.
    bool queryValue(const std::string& valueName, DataBuffer& data) {
        data.fill(0);
        win::DWORD length = kRegistryBufferSize;
        return registry_.RegQueryValueExA(key_, valueName.c_str(), nullptr, data.data(), &length) ==
               win::ERROR_SUCCESS;
    }

  private:
    platform::Registry& registry_;
    win::HKEY key_ = nullptr;
    bool open_ = false;
};

std::string driveNameOf(std::string_view driveRoot) {
    std::string_view name = untilZero(driveRoot);
    while (!name.empty() && name.back() == '\\') name.remove_suffix(1);
    return std::string(name);
}

std::string storageDeviceKeyOf(const InquiryStrings& inquiry) {
    std::string key = "Disk&Ven_";
    key += untilZero(inquiry.vendor);
    key += "&Prod_";
    key += untilZero(inquiry.product);
    key += "&Rev_";
    key += untilZero(inquiry.revision);
    return key;
}

// The INQUIRY strings as Windows writes them into a device id; each ends
// at its first zero first, as the registry would read it.
InquiryStrings asWindowsWritesThem(const InquiryStrings& inquiry) {
    return {win::deviceIdText(untilZero(inquiry.vendor)),
            win::deviceIdText(untilZero(inquiry.product)),
            win::deviceIdText(untilZero(inquiry.revision))};
}

std::string below(std::string_view parent, const std::string& name) {
    std::string path(parent);
    path += kKeySeparator;
    path += name;
    return path;
}

// The data of the first mount record whose name contains the drive name;
// all zero when none does. No value when the walk has to stop.
std::optional<DataBuffer> readMountRecord(platform::Registry& registry,
                                          std::string_view driveName) {
    OpenKey mounts(registry);
    if (!mounts.open(kMountedDevicesKey, win::KEY_QUERY_VALUE)) return std::nullopt;
    DataBuffer record{};
    NameBuffer name{};
    for (win::DWORD index = 0;; ++index) {
        record.fill(0);
        const win::LONG status = mounts.enumValueName(index, name);
        if (endsValueList(status)) break;
        if (status != win::ERROR_SUCCESS) continue;  // this entry only is unreadable
        const std::string valueName = boundedText(std::span<const char>(name));
        if (!contains(valueName, driveName)) continue;
        if (!mounts.queryValue(valueName, record)) return std::nullopt;
        break;
    }
    if (!mounts.close()) return std::nullopt;
    return record;
}

std::string mediaInstanceIdOf(const DataBuffer& record) {
    std::string id;
    for (std::size_t i = 0; i < kMediaInstanceLength; ++i) {
        const win::BYTE lowByte = record[kMediaInstanceOffset + i * kUtf16CodeUnitSize];
        if (lowByte == 0) break;
        id += static_cast<char>(lowByte);
    }
    return id;
}

// Opens the storage device key named by the INQUIRY strings as they are.
// Windows names the key with '_' for every character a device id may not
// hold ("TKW-5 CardRW" is recorded as "TKW-5_CardRW"), so where the key as
// named does not exist, the key as Windows writes it is opened instead; a
// key of the first name is always the one used. The path opened, or no
// value when neither opens.
std::optional<std::string> openStorageDeviceKey(OpenKey& disk, const InquiryStrings& inquiry) {
    const std::string named = below(kUsbStorageKey, storageDeviceKeyOf(inquiry));
    const win::LONG status = disk.openWithStatus(named, win::KEY_ENUMERATE_SUB_KEYS);
    if (status == win::ERROR_SUCCESS) return named;
    if (status != win::ERROR_FILE_NOT_FOUND) return std::nullopt;
    const std::string written =
        below(kUsbStorageKey, storageDeviceKeyOf(asWindowsWritesThem(inquiry)));
    if (written == named) return std::nullopt;  // it would be missing all the same
    if (!disk.open(written, win::KEY_ENUMERATE_SUB_KEYS)) return std::nullopt;
    return written;
}

// The name of the first disk instance whose ParentIdPrefix occurs in the
// volume's instance id; empty when none does.
std::optional<std::string> findStorageInstance(platform::Registry& registry,
                                               const InquiryStrings& inquiry,
                                               std::string_view mediaInstanceId) {
    OpenKey disk(registry);
    const std::optional<std::string> opened = openStorageDeviceKey(disk, inquiry);
    if (!opened) return std::nullopt;
    const std::string& storageKeyPath = *opened;
    std::string matched;
    NameBuffer name{};
    DataBuffer prefix{};
    for (win::DWORD index = 0; disk.enumSubkeyName(index, name) == win::ERROR_SUCCESS; ++index) {
        const std::string instanceName = boundedText(std::span<const char>(name));
        OpenKey instance(registry);
        if (!instance.open(below(storageKeyPath, instanceName), win::KEY_QUERY_VALUE)) {
            return std::nullopt;
        }
        const bool matches =
            instance.queryValue(kParentIdPrefix, prefix) &&
            contains(mediaInstanceId, boundedText(std::span<const win::BYTE>(prefix)));
        if (!instance.close()) return std::nullopt;
        if (matches) {
            matched = instanceName;
            break;
        }
    }
    if (!disk.close()) return std::nullopt;
    return matched;
}

struct InstanceMatch {
    bool matched = false;
    std::string hardwareId;  // empty when "HardwareID" could not be read
};

std::optional<InstanceMatch> matchUsbInstance(platform::Registry& registry,
                                              const std::string& instancePath,
                                              std::string_view storageInstanceName) {
    OpenKey instance(registry);
    if (!instance.open(instancePath, win::KEY_QUERY_VALUE)) return std::nullopt;
    InstanceMatch result;
    DataBuffer data{};
    if (instance.queryValue(kParentIdPrefix, data) &&
        contains(storageInstanceName, boundedText(std::span<const win::BYTE>(data)))) {
        result.matched = true;
        // The first string of the REG_MULTI_SZ list ends at its zero.
        if (instance.queryValue(kHardwareId, data)) {
            result.hardwareId = boundedText(std::span<const win::BYTE>(data));
        }
    }
    if (!instance.close()) return std::nullopt;
    return result;
}

std::optional<InstanceMatch> searchUsbDevice(platform::Registry& registry,
                                             const std::string& devicePath,
                                             std::string_view storageInstanceName) {
    OpenKey device(registry);
    if (!device.open(devicePath, win::KEY_ENUMERATE_SUB_KEYS)) return std::nullopt;
    InstanceMatch found;
    NameBuffer name{};
    for (win::DWORD index = 0; device.enumSubkeyName(index, name) == win::ERROR_SUCCESS; ++index) {
        const std::optional<InstanceMatch> match =
            matchUsbInstance(registry, below(devicePath, boundedText(std::span<const char>(name))),
                             storageInstanceName);
        if (!match) return std::nullopt;
        if (match->matched) {
            found = *match;
            break;
        }
    }
    if (!device.close()) return std::nullopt;
    return found;
}

// The hardware id of the first USB device instance whose ParentIdPrefix
// occurs in the disk instance's name; empty when none does.
std::optional<std::string> findHardwareId(platform::Registry& registry,
                                          std::string_view storageInstanceName) {
    OpenKey usb(registry);
    if (!usb.open(kUsbKey, win::KEY_ENUMERATE_SUB_KEYS)) return std::nullopt;
    std::string hardwareId;
    NameBuffer name{};
    for (win::DWORD index = 0; usb.enumSubkeyName(index, name) == win::ERROR_SUCCESS; ++index) {
        const std::optional<InstanceMatch> match =
            searchUsbDevice(registry, below(kUsbKey, boundedText(std::span<const char>(name))),
                            storageInstanceName);
        if (!match) return std::nullopt;
        if (match->matched) {
            hardwareId = match->hardwareId;
            break;
        }
    }
    if (!usb.close()) return std::nullopt;
    return hardwareId;
}

std::string_view dropFront(std::string_view text, std::size_t count) {
    text.remove_prefix(std::min(count, text.size()));
    return text;
}

// The text before the next '&' (all of it when there is none); `rest` keeps
// what follows the '&'.
std::string_view takePiece(std::string_view& rest) {
    const std::size_t end = rest.find(kPieceSeparator);
    const std::string_view piece = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    return piece;
}

}  // namespace

UsbIdentity cutHardwareId(std::string_view hardwareId) {
    std::string_view rest = dropFront(hardwareId, kBusPrefixLength);
    const std::string_view vendor = takePiece(rest);
    const std::string_view product = takePiece(rest);
    return UsbIdentity{std::string(dropFront(vendor, kLabelLength)),
                       std::string(dropFront(product, kLabelLength)),
                       std::string(dropFront(rest, kLabelLength))};
}

std::optional<UsbIdentity> walkToUsbParent(platform::Registry& registry, std::string_view driveRoot,
                                           const InquiryStrings& inquiry) {
    const std::optional<DataBuffer> record = readMountRecord(registry, driveNameOf(driveRoot));
    if (!record) return std::nullopt;
    const std::string mediaInstanceId = mediaInstanceIdOf(*record);

    const std::optional<std::string> storageInstanceName =
        findStorageInstance(registry, inquiry, mediaInstanceId);
    if (!storageInstanceName) return std::nullopt;

    const std::optional<std::string> hardwareId = findHardwareId(registry, *storageInstanceName);
    if (!hardwareId) return std::nullopt;
    return cutHardwareId(*hardwareId);
}

void DeviceLink::identifyUsbParent(std::string_view driveRoot) {
    std::optional<UsbIdentity> identity =
        walkToUsbParent(registry_, driveRoot, {inquiryVendor, inquiryProduct, inquiryRevision});
    if (!identity) return;
    usbVendorId = std::move(identity->vendorId);
    usbProductId = std::move(identity->productId);
    usbRevision = std::move(identity->revision);
}

}  // namespace device

#include "sim/usb_registry_builder.h"

#include <array>
#include <cstdio>

#include "platform/device_id.h"

namespace sim {

namespace {

constexpr char kRemovableMediaPrefix[] = "\\??\\STORAGE#RemovableMedia#";
// Mount records name a device by its interface: a volume's for removable
// media, the CD-ROM interface for an optical drive.
constexpr char kVolumeInterfaceSuffix[] = "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kCdRomInterfaceSuffix[] = "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr char kDosDevicesPrefix[] = "\\DosDevices\\";
constexpr char kParentIdPrefixValue[] = "ParentIdPrefix";
constexpr char kHardwareIdValue[] = "HardwareID";
constexpr char kCompatibleIdsValue[] = "CompatibleIDs";
constexpr char kServiceValue[] = "Service";
constexpr char kRootHubKey[] = "ROOT_HUB";
constexpr char kRemovableMediaSuffix[] = "&RM";
constexpr char kFirstLunSuffix[] = "&0";

// Instance levels as Windows numbers them on a typical machine: root hubs
// sit at level 4 below the PCI controllers, so the prefixes they hand to
// their ports are level 5, the devices' prefixes level 6 and the disks'
// prefixes level 7.
constexpr unsigned kRootHubLevel = 4;
constexpr unsigned kHubPrefixLevel = kRootHubLevel + 1;
constexpr unsigned kDevicePrefixLevel = kHubPrefixLevel + 1;
constexpr unsigned kDiskPrefixLevel = kDevicePrefixLevel + 1;

// The parts of a disk's hardware id are padded to the INQUIRY field widths.
constexpr std::size_t kInquiryVendorWidth = 8;
constexpr std::size_t kInquiryProductWidth = 16;
constexpr std::size_t kInquiryRevisionWidth = 4;

// The system disk's record: its MBR signature and the partition's byte
// offset (the first partition of a disk of that generation starts at
// sector 63).
constexpr std::uint64_t kFirstPartitionOffset = 63 * 512;
constexpr std::size_t kSignatureBytes = 4;
constexpr std::size_t kOffsetBytes = 8;
constexpr unsigned kBitsPerByte = 8;

constexpr std::uint32_t kFnvOffsetBasis = 2166136261u;
constexpr std::uint32_t kFnvPrime = 16777619u;

std::uint32_t hashOf(std::string_view text) {
    std::uint32_t hash = kFnvOffsetBasis;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= kFnvPrime;
    }
    return hash;
}

// Windows prints these numbers without leading zeros, so ids differ in length.
std::string hexOf(std::uint32_t value) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%x", value);
    return text.data();
}

std::string below(std::string_view parent, std::string_view name) {
    std::string path(parent);
    path += '\\';
    path += name;
    return path;
}

std::string volumeGuidOf(std::string_view seed) {
    const std::uint32_t a = hashOf(seed);
    const std::uint32_t b = hashOf(std::string(seed) + "#volume");
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "\\??\\Volume{%08x-%04x-11d9-%04x-806d6172696f}", a,
                  static_cast<unsigned>(b >> 16), static_cast<unsigned>(b & 0xFFFFu));
    return text.data();
}

std::string mountValueNameOf(char driveLetter) {
    std::string name = kDosDevicesPrefix;
    name += driveLetter;
    name += ':';
    return name;
}

std::string rootHubInstance(unsigned rootHub) {
    return std::to_string(kRootHubLevel) + "&" +
           hexOf(hashOf("root hub " + std::to_string(rootHub))) + "&0";
}

std::string rootHubPrefix(unsigned rootHub) {
    return parentIdPrefixFor(below(below(kUsbEnumPath, kRootHubKey), rootHubInstance(rootHub)),
                             kHubPrefixLevel);
}

std::string portInstance(unsigned rootHub, unsigned port) {
    return rootHubPrefix(rootHub) + "&" + std::to_string(port);
}

// Windows sees no more of an INQUIRY field than its width.
std::string_view cutToWidth(std::string_view text, std::size_t width) {
    return text.substr(0, width);
}

std::string_view withoutTrailingBlanks(std::string_view text) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// An INQUIRY field as the disk's hardware id spells it: the whole field, its
// padding blanks included, as a device id may hold it.
std::string paddedField(std::string_view text, std::size_t width) {
    std::string field = win::deviceIdText(cutToWidth(text, width));
    if (field.size() < width) field.append(width - field.size(), win::kDeviceIdReplacement);
    return field;
}

// An INQUIRY field as the disk key's name spells it.
std::string keyField(std::string_view text, std::size_t width) {
    return win::deviceIdText(withoutTrailingBlanks(cutToWidth(text, width)));
}

void layRootHubs(RegistryRecords& registry) {
    for (const unsigned hub : {0u, 1u}) {
        const std::string key = below(below(kUsbEnumPath, kRootHubKey), rootHubInstance(hub));
        registry.setMultiString(key, kHardwareIdValue,
                                {"USB\\ROOT_HUB&VID8086&PID24C2&REV0002",
                                 "USB\\ROOT_HUB&VID8086&PID24C2", "USB\\ROOT_HUB"});
        registry.setString(key, kServiceValue, "usbhub");
        registry.setString(key, kParentIdPrefixValue, rootHubPrefix(hub));
    }
}

void laySystemDisk(RegistryRecords& registry) {
    std::vector<win::BYTE> record;
    const std::uint32_t signature = hashOf("system disk");
    for (std::size_t i = 0; i < kSignatureBytes; ++i) {
        record.push_back(static_cast<win::BYTE>(signature >> (kBitsPerByte * i)));
    }
    for (std::size_t i = 0; i < kOffsetBytes; ++i) {
        record.push_back(static_cast<win::BYTE>(kFirstPartitionOffset >> (kBitsPerByte * i)));
    }
    registry.setBinary(kMountedDevicesPath, volumeGuidOf("system disk"), record);
    registry.setBinary(kMountedDevicesPath, mountValueNameOf('C'), record);
}

void layCdRom(RegistryRecords& registry) {
    const std::string text =
        std::string("\\??\\IDE#CdRomHL-DT-ST_DVDRAM_GSA-H42N_____RL00____#") +
        parentIdPrefixFor("PCIIDE\\IDECHANNEL\\4&1b2c3d4e&0&1", kHubPrefixLevel) + "&0&1.0.0" +
        kCdRomInterfaceSuffix;
    const std::vector<win::BYTE> record = toUtf16Le(text);
    registry.setBinary(kMountedDevicesPath, volumeGuidOf("cd-rom"), record);
    registry.setBinary(kMountedDevicesPath, mountValueNameOf('D'), record);
}

}  // namespace

std::vector<win::BYTE> toUtf16Le(std::string_view text) {
    std::vector<win::BYTE> bytes;
    bytes.reserve(text.size() * 2);
    for (const char c : text) {
        bytes.push_back(static_cast<win::BYTE>(c));
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<win::BYTE> removableMediaMountRecord(std::string_view mediaInstanceId) {
    std::string text = kRemovableMediaPrefix;
    text += mediaInstanceId;
    text += kVolumeInterfaceSuffix;
    return toUtf16Le(text);
}

std::string parentIdPrefixFor(std::string_view instancePath, unsigned level) {
    return std::to_string(level) + "&" + hexOf(hashOf(instancePath)) + "&0";
}

std::string usbIdDigits(std::uint16_t value, UsbIdSpelling spelling) {
    std::array<char, 8> text{};
    std::snprintf(text.data(), text.size(), spelling == UsbIdSpelling::UpperCase ? "%04X" : "%04x",
                  static_cast<unsigned>(value));
    return text.data();
}

std::string diskKeyName(std::string_view vendor, std::string_view product,
                        std::string_view revision) {
    return "Disk&Ven_" + keyField(vendor, kInquiryVendorWidth) + "&Prod_" +
           keyField(product, kInquiryProductWidth) + "&Rev_" +
           keyField(revision, kInquiryRevisionWidth);
}

std::string UsbRegistryBuilder::deviceId(std::uint16_t vendorId, std::uint16_t productId) const {
    const bool upper = spelling_ == UsbIdSpelling::UpperCase;
    return std::string(upper ? "VID_" : "Vid_") + usbIdDigits(vendorId, spelling_) +
           (upper ? "&PID_" : "&Pid_") + usbIdDigits(productId, spelling_);
}

std::string UsbRegistryBuilder::revisionLabel() const {
    return spelling_ == UsbIdSpelling::UpperCase ? "&REV_" : "&Rev_";
}

void UsbRegistryBuilder::layMouse() {
    constexpr std::uint16_t kMouseVendorId = 0x046d;
    constexpr std::uint16_t kMouseProductId = 0xc00e;
    constexpr std::uint16_t kMouseRevision = 0x1110;
    const std::string id = deviceId(kMouseVendorId, kMouseProductId);
    const std::string key = below(below(kUsbEnumPath, id), portInstance(1, 1));
    registry_.setMultiString(
        key, kHardwareIdValue,
        {"USB\\" + id + revisionLabel() + usbIdDigits(kMouseRevision, spelling_), "USB\\" + id});
    registry_.setMultiString(
        key, kCompatibleIdsValue,
        {"USB\\Class_03&SubClass_01&Prot_02", "USB\\Class_03&SubClass_01", "USB\\Class_03"});
    registry_.setString(key, kServiceValue, "HidUsb");
    registry_.setString(key, kParentIdPrefixValue, parentIdPrefixFor(key, kDevicePrefixLevel));
}

void UsbRegistryBuilder::layBaseMachine() {
    laySystemDisk(registry_);
    layCdRom(registry_);
    layRootHubs(registry_);
    layMouse();
}

UsbStorageRecords UsbRegistryBuilder::attach(const UsbStorageDevice& device) {
    UsbStorageRecords laid;
    const std::string id = deviceId(device.vendorId, device.productId);
    laid.usbKeyPath = below(kUsbEnumPath, id);
    laid.hardwareIds = {
        "USB\\" + id + revisionLabel() + usbIdDigits(device.deviceRevision, spelling_),
        "USB\\" + id};
    const bool hasSerial = !device.serialNumber.empty();
    laid.usbInstanceName =
        hasSerial ? device.serialNumber : portInstance(device.rootHub, device.hubPort);
    const std::string usbInstancePath = below(laid.usbKeyPath, laid.usbInstanceName);
    registry_.setMultiString(usbInstancePath, kHardwareIdValue, laid.hardwareIds);
    registry_.setMultiString(
        usbInstancePath, kCompatibleIdsValue,
        {"USB\\Class_08&SubClass_06&Prot_50", "USB\\Class_08&SubClass_06", "USB\\Class_08"});
    registry_.setString(usbInstancePath, kServiceValue, "USBSTOR");
    if (!hasSerial) {
        laid.usbParentIdPrefix = parentIdPrefixFor(usbInstancePath, kDevicePrefixLevel);
        registry_.setString(usbInstancePath, kParentIdPrefixValue, laid.usbParentIdPrefix);
    }

    // A disk with a serial number is named after it; one without is named
    // after its parent's prefix. Either way the name ends in its LUN.
    laid.storageKeyPath =
        below(kUsbStorageEnumPath, diskKeyName(device.vendor, device.product, device.revision));
    laid.storageInstanceName =
        (hasSerial ? device.serialNumber : laid.usbParentIdPrefix) + kFirstLunSuffix;
    const std::string storageInstancePath = below(laid.storageKeyPath, laid.storageInstanceName);
    const std::string vendor = paddedField(device.vendor, kInquiryVendorWidth);
    const std::string product = paddedField(device.product, kInquiryProductWidth);
    const std::string revision = paddedField(device.revision, kInquiryRevisionWidth);
    registry_.setMultiString(storageInstancePath, kHardwareIdValue,
                             {"USBSTOR\\Disk" + vendor + product + revision,
                              "USBSTOR\\Disk" + vendor + product, "USBSTOR\\Disk" + vendor,
                              "USBSTOR\\" + vendor + product + revision.substr(0, 1), "GenDisk"});
    registry_.setString(storageInstancePath, kServiceValue, "disk");
    laid.storageParentIdPrefix = parentIdPrefixFor(storageInstancePath, kDiskPrefixLevel);
    registry_.setString(storageInstancePath, kParentIdPrefixValue, laid.storageParentIdPrefix);

    laid.mediaInstanceId = laid.storageParentIdPrefix + kRemovableMediaSuffix;
    laid.mountRecord = removableMediaMountRecord(laid.mediaInstanceId);
    laid.volumeValueName = volumeGuidOf(laid.mediaInstanceId);
    laid.mountValueName = mountValueNameOf(device.driveLetter);
    registry_.setBinary(kMountedDevicesPath, laid.volumeValueName, laid.mountRecord);
    registry_.setBinary(kMountedDevicesPath, laid.mountValueName, laid.mountRecord);
    return laid;
}

UsbStorageDevice usbStorageDeviceOf(char driveLetter, const DeviceIdentity& identity) {
    UsbStorageDevice device;
    device.driveLetter = driveLetter;
    device.vendor = identity.inquiry.vendor;
    device.product = identity.inquiry.product;
    device.revision = identity.inquiry.revision;
    device.vendorId = identity.vendorId;
    device.productId = identity.productId;
    device.deviceRevision = identity.deviceRevision;
    return device;
}

}  // namespace sim

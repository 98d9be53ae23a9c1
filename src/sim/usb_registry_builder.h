#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win_api.h"
#include "sim/registry_records.h"
#include "sim/virtual_reader.h"

namespace sim {

inline constexpr char kMountedDevicesPath[] = "SYSTEM\\MountedDevices";
inline constexpr char kUsbStorageEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR";
inline constexpr char kUsbEnumPath[] = "SYSTEM\\CurrentControlSet\\Enum\\USB";

// A USB mass-storage device as it arrives on the bus.
struct UsbStorageDevice {
    char driveLetter = 'E';
    // The INQUIRY strings as the device reports them; Windows names the disk
    // key after them, cut to their field widths, trailing blanks removed and
    // every character a device id may not hold written as '_'.
    std::string vendor;
    std::string product;
    std::string revision;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t deviceRevision = 0;  // the USB device release, shown as Rev_xxxx
    unsigned rootHub = 0;              // which of the machine's root hubs
    unsigned hubPort = 1;
    // Empty for a device that reports no serial number: Windows then names
    // its children after the ParentIdPrefix it gives the device, which is
    // what links the records from the volume back to the USB device. A
    // device with one is told apart by it: its instance keys are named after
    // the serial and it gets no ParentIdPrefix.
    std::string serialNumber;
};

// The device a reader of this identity is on the bus, on the first port of
// the first hub and without a serial number.
UsbStorageDevice usbStorageDeviceOf(char driveLetter, const DeviceIdentity& identity);

// How the machine's Windows writes USB device ids: Windows 2000 and XP with
// mixed-case labels and lower-case hexadecimal (Vid_0d9f&Pid_1001), Vista and
// later all in upper case (VID_0D9F&PID_1001).
enum class UsbIdSpelling { MixedCase, UpperCase };

inline constexpr win::DWORD kFirstUpperCaseIdsMajorVersion = 6;  // Vista

constexpr UsbIdSpelling usbIdSpellingOf(win::DWORD windowsMajorVersion) {
    return windowsMajorVersion >= kFirstUpperCaseIdsMajorVersion ? UsbIdSpelling::UpperCase
                                                                 : UsbIdSpelling::MixedCase;
}

// What was laid for one device, every name as it appears in the registry.
struct UsbStorageRecords {
    std::string mountValueName;   // \DosDevices\E:
    std::string volumeValueName;  // \??\Volume{...}
    std::vector<win::BYTE> mountRecord;
    std::string mediaInstanceId;  // 7&1a2b3c4d&0&RM
    std::string storageKeyPath;   // ...\Enum\USBSTOR\Disk&Ven_..&Prod_..&Rev_..
    std::string storageInstanceName;
    std::string storageParentIdPrefix;
    std::string usbKeyPath;  // ...\Enum\USB\Vid_xxxx&Pid_xxxx or VID_XXXX&PID_XXXX
    std::string usbInstanceName;
    std::string usbParentIdPrefix;  // empty for a device with a serial number
    std::vector<std::string> hardwareIds;
};

// The four hexadecimal digits of a USB id as the spelling writes them.
std::string usbIdDigits(std::uint16_t value, UsbIdSpelling spelling);

// Lays into a registry what Windows records for the machine's drives and USB
// devices, spelt as the machine's Windows spells them. Instance ids are
// derived from the inputs, so the same machine gives the same records every
// time.
class UsbRegistryBuilder {
  public:
    explicit UsbRegistryBuilder(RegistryRecords& registry,
                                UsbIdSpelling spelling = UsbIdSpelling::MixedCase)
        : registry_(registry), spelling_(spelling) {}

    // What a machine holds before any reader arrives: the system disk C:, a
    // CD-ROM drive D: with their volume records, two root hubs and a mouse.
    void layBaseMachine();

    // The records of `device` arriving at its drive letter. Laying a device
    // again on the same hub port with a new product id or revision is its
    // re-enumeration after a firmware update: the new device's records are
    // added, the old ones stay behind as Windows keeps them, and the drive
    // letter's mount record is rewritten for the new volume.
    UsbStorageRecords attach(const UsbStorageDevice& device);

  private:
    std::string deviceId(std::uint16_t vendorId, std::uint16_t productId) const;
    std::string revisionLabel() const;
    void layMouse();

    RegistryRecords& registry_;
    UsbIdSpelling spelling_;
};

// The name Windows gives a USB disk's key below USBSTOR: each INQUIRY field
// cut to its width, trailing blanks removed and every character a device id
// may not hold written as '_' ("Kavo", "TKW-5 CardRW", "1.00" give
// "Disk&Ven_Kavo&Prod_TKW-5_CardRW&Rev_1.00").
std::string diskKeyName(std::string_view vendor, std::string_view product,
                        std::string_view revision);

// The mount record of a removable USB volume: UTF-16LE text
// "\??\STORAGE#RemovableMedia#<instance>#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}".
std::vector<win::BYTE> removableMediaMountRecord(std::string_view mediaInstanceId);

// Plain text as UTF-16LE, without a terminator, as the mount manager stores it.
std::vector<win::BYTE> toUtf16Le(std::string_view text);

// The ParentIdPrefix Windows gives the device at `instancePath`, one level
// deeper than the device: "<level>&<hash>&0".
std::string parentIdPrefixFor(std::string_view instancePath, unsigned level);

}  // namespace sim

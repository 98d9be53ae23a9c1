#include "sim/usb_registry_builder.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "sim/sim_registry.h"

namespace {

using sim::SimRegistry;
using sim::UsbRegistryBuilder;
using sim::UsbStorageDevice;
using sim::UsbStorageRecords;

UsbStorageDevice reader() {
    return {.driveLetter = 'E',
            .vendor = "Kavo",
            .product = "TKW-5 Reader",
            .revision = "1.00",
            .vendorId = 0x1234,
            .productId = 0x5678,
            .deviceRevision = 0x0100,
            .hubPort = 2,
            .serialNumber = ""};
}

std::string stringValue(const SimRegistry& registry, const std::string& key, const char* name) {
    const auto value = registry.value(key, name);
    if (!value || value->data.empty()) return {};
    return std::string(value->data.begin(), value->data.end() - 1);  // without its zero
}

// The first string of a REG_MULTI_SZ list.
std::string firstString(const SimRegistry& registry, const std::string& key, const char* name) {
    const auto value = registry.value(key, name);
    if (!value) return {};
    return std::string(reinterpret_cast<const char*>(value->data.data()));
}

std::string asciiOfUtf16(const std::vector<win::BYTE>& record) {
    std::string text;
    for (std::size_t i = 0; i + 1 < record.size(); i += 2) text += static_cast<char>(record[i]);
    return text;
}

// The links a walk from the drive letter follows must hold in what was laid:
// the mount record names the volume, the disk's prefix is in the volume's
// id, the USB device's prefix is in the disk's name.
TEST(UsbRegistryBuilderTest, LaysALinkedChainFromTheDriveLetterToTheUsbDevice) {
    SimRegistry registry;
    UsbRegistryBuilder builder(registry);
    builder.layBaseMachine();
    const UsbStorageRecords laid = builder.attach(reader());

    const auto mount = registry.value(sim::kMountedDevicesPath, "\\DosDevices\\E:");
    ASSERT_TRUE(mount.has_value());
    EXPECT_EQ(mount->type, win::REG_BINARY);
    const std::string record = asciiOfUtf16(mount->data);
    EXPECT_EQ(record, "\\??\\STORAGE#RemovableMedia#" + laid.mediaInstanceId +
                          "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}");
    EXPECT_TRUE(std::regex_match(laid.mediaInstanceId, std::regex("7&[0-9a-f]{1,8}&0&RM")))
        << laid.mediaInstanceId;

    EXPECT_EQ(laid.storageKeyPath,
              "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Kavo&Prod_TKW-5_Reader&Rev_1.00");
    EXPECT_EQ(registry.subkeyNames(laid.storageKeyPath),
              std::vector<std::string>{laid.storageInstanceName});
    const std::string storagePrefix = stringValue(
        registry, laid.storageKeyPath + "\\" + laid.storageInstanceName, "ParentIdPrefix");
    EXPECT_EQ(laid.mediaInstanceId.rfind(storagePrefix, 0), 0u) << storagePrefix;

    EXPECT_EQ(laid.usbKeyPath, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1234&Pid_5678");
    const std::string usbInstance = laid.usbKeyPath + "\\" + laid.usbInstanceName;
    const std::string usbPrefix = stringValue(registry, usbInstance, "ParentIdPrefix");
    EXPECT_TRUE(std::regex_match(usbPrefix, std::regex("6&[0-9a-f]{1,8}&0"))) << usbPrefix;
    EXPECT_EQ(laid.storageInstanceName, usbPrefix + "&0");
    EXPECT_TRUE(std::regex_match(laid.usbInstanceName, std::regex("5&[0-9a-f]{1,8}&0&2")))
        << laid.usbInstanceName;
    EXPECT_EQ(firstString(registry, usbInstance, "HardwareID"), "USB\\Vid_1234&Pid_5678&Rev_0100");
    const auto ids = registry.value(usbInstance, "HardwareID");
    ASSERT_TRUE(ids.has_value());
    EXPECT_EQ(ids->type, win::REG_MULTI_SZ);
    const std::string list(ids->data.begin(), ids->data.end());
    constexpr char kExpected[] = "USB\\Vid_1234&Pid_5678&Rev_0100\0USB\\Vid_1234&Pid_5678\0";
    EXPECT_EQ(list, std::string(kExpected, sizeof kExpected));  // the closing zero too
}

// Windows names the disk key after the INQUIRY fields as the device sent
// them: cut to their widths, trailing blanks dropped, and '_' for every
// character a device id may not hold.
TEST(UsbRegistryBuilderTest, TheDiskKeyIsNamedAsWindowsWritesIt) {
    struct Case {
        const char* name;
        std::string vendor;
        std::string product;
        std::string revision;
        std::string key;
    };
    const Case cases[] = {
        {"InnerBlank", "Kavo", "TKW-5 CardRW", "1.00", "Disk&Ven_Kavo&Prod_TKW-5_CardRW&Rev_1.00"},
        {"NoBlank", "Kavo", "TKW-5", "1.00", "Disk&Ven_Kavo&Prod_TKW-5&Rev_1.00"},
        {"PaddedFields", "Kavo    ", "TKW-5 CardRW    ", "1.0 ",
         "Disk&Ven_Kavo&Prod_TKW-5_CardRW&Rev_1.0"},
        {"LeadingBlankStays", " Kavo", "TKW-5", "1.00", "Disk&Ven__Kavo&Prod_TKW-5&Rev_1.00"},
        {"CommaAndControl", "Ka,vo", "TKW\t5\x01", "1.00", "Disk&Ven_Ka_vo&Prod_TKW_5_&Rev_1.00"},
        {"HighBytesButNotDelete", "Kavo", "TKW\x7f\x80\xff", "1.00",
         "Disk&Ven_Kavo&Prod_TKW\x7f__&Rev_1.00"},
        {"LongerThanTheFields", "Kavo Corp", "TKW-5 CardRW Plus", "1.00a",
         "Disk&Ven_Kavo_Cor&Prod_TKW-5_CardRW_Plu&Rev_1.00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(sim::diskKeyName(c.vendor, c.product, c.revision), c.key);
        SimRegistry registry;
        UsbStorageDevice device = reader();
        device.vendor = c.vendor;
        device.product = c.product;
        device.revision = c.revision;
        const UsbStorageRecords laid = UsbRegistryBuilder(registry).attach(device);
        EXPECT_EQ(laid.storageKeyPath, std::string(sim::kUsbStorageEnumPath) + "\\" + c.key);
        EXPECT_TRUE(registry.keyExists(laid.storageKeyPath + "\\" + laid.storageInstanceName));
    }
}

// Windows 2000 and XP spell USB ids with mixed-case labels and lower-case
// hexadecimal, Vista and later all in upper case; the instance ids Windows
// makes up stay lower case on both.
TEST(UsbRegistryBuilderTest, UsbIdsAreSpeltAsTheMachinesWindowsSpellsThem) {
    struct Case {
        win::DWORD majorVersion;
        const char* deviceKey;
        const char* hardwareId;
        const char* mouseKey;
    };
    const Case cases[] = {
        {5, "Vid_0d9f&Pid_100a", "USB\\Vid_0d9f&Pid_100a&Rev_010b", "Vid_046d&Pid_c00e"},
        {6, "VID_0D9F&PID_100A", "USB\\VID_0D9F&PID_100A&REV_010B", "VID_046D&PID_C00E"},
        {10, "VID_0D9F&PID_100A", "USB\\VID_0D9F&PID_100A&REV_010B", "VID_046D&PID_C00E"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.majorVersion);
        SimRegistry registry;
        UsbRegistryBuilder builder(registry, sim::usbIdSpellingOf(c.majorVersion));
        builder.layBaseMachine();
        UsbStorageDevice device = reader();
        device.vendorId = 0x0d9f;
        device.productId = 0x100a;
        device.deviceRevision = 0x010b;
        const UsbStorageRecords laid = builder.attach(device);
        EXPECT_EQ(laid.usbKeyPath, std::string(sim::kUsbEnumPath) + "\\" + c.deviceKey);
        EXPECT_EQ(
            firstString(registry, laid.usbKeyPath + "\\" + laid.usbInstanceName, "HardwareID"),
            c.hardwareId);
        EXPECT_EQ(laid.hardwareIds.back(), std::string("USB\\") + c.deviceKey);
        EXPECT_EQ(registry.subkeyNames(sim::kUsbEnumPath),
                  (std::vector<std::string>{"ROOT_HUB", c.mouseKey, c.deviceKey}));
        EXPECT_TRUE(std::regex_match(laid.usbInstanceName, std::regex("5&[0-9a-f]{1,8}&0&2")))
            << laid.usbInstanceName;
        EXPECT_TRUE(std::regex_match(laid.storageInstanceName, std::regex("6&[0-9a-f]{1,8}&0&0")))
            << laid.storageInstanceName;
    }
}

// The hub the reader sits on is one the machine has.
TEST(UsbRegistryBuilderTest, TheReaderSitsOnAPortOfARootHub) {
    SimRegistry registry;
    UsbRegistryBuilder builder(registry);
    builder.layBaseMachine();
    const UsbStorageRecords laid = builder.attach(reader());
    const std::string hubs = std::string(sim::kUsbEnumPath) + "\\ROOT_HUB";
    std::vector<std::string> hubPrefixes;
    for (const std::string& hub : registry.subkeyNames(hubs)) {
        hubPrefixes.push_back(stringValue(registry, hubs + "\\" + hub, "ParentIdPrefix"));
    }
    ASSERT_EQ(hubPrefixes.size(), 2u);
    EXPECT_NE(hubPrefixes[0], hubPrefixes[1]);
    const bool onAHub = laid.usbInstanceName == hubPrefixes[0] + "&2" ||
                        laid.usbInstanceName == hubPrefixes[1] + "&2";
    EXPECT_TRUE(onAHub) << laid.usbInstanceName;
}

TEST(UsbRegistryBuilderTest, TheBaseMachineHasItsOwnDrivesAndDevices) {
    SimRegistry registry;
    UsbRegistryBuilder(registry).layBaseMachine();
    const std::vector<std::string> mounts = registry.valueNames(sim::kMountedDevicesPath);
    ASSERT_EQ(mounts.size(), 4u);
    EXPECT_TRUE(std::regex_match(mounts[0], std::regex(R"(\\\?\?\\Volume\{[0-9a-f-]{36}\})")))
        << mounts[0];
    EXPECT_EQ(mounts[1], "\\DosDevices\\C:");
    EXPECT_EQ(mounts[3], "\\DosDevices\\D:");
    EXPECT_EQ(registry.value(sim::kMountedDevicesPath, "\\DosDevices\\C:")->data.size(), 12u);
    EXPECT_EQ(registry.subkeyNames(sim::kUsbEnumPath),
              (std::vector<std::string>{"ROOT_HUB", "Vid_046d&Pid_c00e"}));
}

TEST(UsbRegistryBuilderTest, TheSameMachineGivesTheSameRecordsAndOtherInputsOtherIds) {
    SimRegistry first;
    SimRegistry second;
    UsbRegistryBuilder(first).layBaseMachine();
    UsbRegistryBuilder(second).layBaseMachine();
    const UsbStorageRecords a = UsbRegistryBuilder(first).attach(reader());
    const UsbStorageRecords b = UsbRegistryBuilder(second).attach(reader());
    EXPECT_EQ(first.dump(), second.dump());
    EXPECT_EQ(a.mediaInstanceId, b.mediaInstanceId);

    UsbStorageDevice elsewhere = reader();
    elsewhere.hubPort = 3;
    SimRegistry third;
    const UsbStorageRecords c = UsbRegistryBuilder(third).attach(elsewhere);
    EXPECT_NE(c.usbParentIdPrefix, a.usbParentIdPrefix);
    EXPECT_NE(c.storageParentIdPrefix, a.storageParentIdPrefix);
    EXPECT_NE(c.volumeValueName, a.volumeValueName);
}

// A device with a serial number names its instances after the serial and
// needs no prefix of its own.
TEST(UsbRegistryBuilderTest, ADeviceWithASerialNumberIsNamedAfterIt) {
    SimRegistry registry;
    const UsbStorageDevice stick{.driveLetter = 'F',
                                 .vendor = "Generic",
                                 .product = "Flash Disk",
                                 .revision = "8.07",
                                 .vendorId = 0x058f,
                                 .productId = 0x6387,
                                 .deviceRevision = reader().deviceRevision,
                                 .hubPort = reader().hubPort,
                                 .serialNumber = "A1B2C3D4E5"};
    const UsbStorageRecords laid = UsbRegistryBuilder(registry).attach(stick);
    EXPECT_EQ(laid.usbInstanceName, "A1B2C3D4E5");
    EXPECT_EQ(laid.storageInstanceName, "A1B2C3D4E5&0");
    EXPECT_FALSE(registry.value(laid.usbKeyPath + "\\A1B2C3D4E5", "ParentIdPrefix").has_value());
    EXPECT_TRUE(laid.usbParentIdPrefix.empty());
    EXPECT_EQ(laid.mountValueName, "\\DosDevices\\F:");
    EXPECT_EQ(laid.mediaInstanceId, laid.storageParentIdPrefix + "&RM");
}

// After a firmware update the reader comes back with a new product id and
// revision: new records join the old ones, and E: now names the new volume.
TEST(UsbRegistryBuilderTest, ReEnumerationAddsTheNewDeviceAndMovesTheDriveLetter) {
    SimRegistry registry;
    UsbRegistryBuilder builder(registry);
    builder.layBaseMachine();
    const UsbStorageRecords before = builder.attach(reader());
    UsbStorageDevice updated = reader();
    updated.productId = 0x5679;
    updated.deviceRevision = 0x0200;
    updated.revision = "2.00";
    const UsbStorageRecords after = builder.attach(updated);

    EXPECT_TRUE(registry.keyExists(before.usbKeyPath + "\\" + before.usbInstanceName));
    EXPECT_TRUE(registry.keyExists(before.storageKeyPath + "\\" + before.storageInstanceName));
    EXPECT_EQ(after.usbKeyPath, "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_1234&Pid_5679");
    EXPECT_EQ(after.usbInstanceName, before.usbInstanceName) << "same hub port";
    EXPECT_NE(after.usbParentIdPrefix, before.usbParentIdPrefix);
    EXPECT_NE(after.mediaInstanceId, before.mediaInstanceId);
    EXPECT_EQ(after.hardwareIds.front(), "USB\\Vid_1234&Pid_5679&Rev_0200");

    EXPECT_EQ(registry.value(sim::kMountedDevicesPath, "\\DosDevices\\E:")->data,
              after.mountRecord);
    const std::vector<std::string> mounts = registry.valueNames(sim::kMountedDevicesPath);
    // The letter keeps its place among the values; the new volume is added.
    EXPECT_EQ(mounts.size(), 7u);
    EXPECT_EQ(mounts[5], "\\DosDevices\\E:");
    EXPECT_EQ(mounts[6], after.volumeValueName);

    // Only the revision changing keeps the device's key and prefix.
    UsbStorageDevice revisedOnly = updated;
    revisedOnly.deviceRevision = 0x0201;
    const UsbStorageRecords again = builder.attach(revisedOnly);
    EXPECT_EQ(again.usbParentIdPrefix, after.usbParentIdPrefix);
    EXPECT_EQ(firstString(registry, again.usbKeyPath + "\\" + again.usbInstanceName, "HardwareID"),
              "USB\\Vid_1234&Pid_5679&Rev_0201");
}

}  // namespace

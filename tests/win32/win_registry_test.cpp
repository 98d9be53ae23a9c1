#include "win32/win_registry.h"

#include <gtest/gtest.h>

#include <array>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "win32/platform_agreement.h"
#include "win32/win_clock.h"
#include "win32/win_volumes.h"
#include "win32/windows_api.h"
#include "windows_test_support.h"

namespace {

using win32_test::ScratchRecords;

// What portable code takes for granted of the registry, asked of the real
// one through the seam: the results and lengths the walk and the hand-off
// act on.
class WinRegistryTest : public testing::Test {
  protected:
    void SetUp() override {
        records.createKey(kScratch + "\\Child");
        records.setString(kScratch, "Name", "0123456789");
    }

    win::HKEY open(const std::string& path, win::REGSAM access) {
        win::HKEY key = nullptr;
        EXPECT_EQ(registry.RegOpenKeyExA(win::hkeyLocalMachine(), path.c_str(), 0, access, &key),
                  ERROR_SUCCESS);
        return key;
    }

    const std::string kScratch =
        "SOFTWARE\\Kavo Corporation\\BackendTest" + std::to_string(GetCurrentProcessId());
    ScratchRecords records;
    win32::WinRegistry registry;
};

TEST_F(WinRegistryTest, PortableCodeNamesThePlatformsOwnPredefinedValues) {
    EXPECT_TRUE(win32::predefinedValuesAgree());
}

TEST_F(WinRegistryTest, NamesAreFoundWhateverTheirLetterCase) {
    std::string shouted = kScratch;
    for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const win::HKEY key = open(shouted, KEY_QUERY_VALUE);
    EXPECT_EQ(registry.RegQueryValueExA(key, "NAME", nullptr, nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_EQ(registry.RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(WinRegistryTest, MissingKeysAndValuesAreNotFound) {
    win::HKEY key = nullptr;
    EXPECT_EQ(registry.RegOpenKeyExA(win::hkeyLocalMachine(), (kScratch + "\\Absent").c_str(), 0,
                                     KEY_QUERY_VALUE, &key),
              ERROR_FILE_NOT_FOUND);
    key = open(kScratch, KEY_QUERY_VALUE);
    std::array<win::BYTE, 16> data{};
    win::DWORD length = static_cast<win::DWORD>(data.size());
    EXPECT_EQ(registry.RegQueryValueExA(key, "Absent", nullptr, data.data(), &length),
              ERROR_FILE_NOT_FOUND);
    registry.RegCloseKey(key);
}

struct QueryCase {
    const char* name;
    win::DWORD bufferSize;
    win::LONG status;
    win::DWORD lengthAfter;  // written, or needed when the buffer is short
};
void PrintTo(const QueryCase& c, std::ostream* out) {
    *out << c.name;
}

class WinRegistryQueryTest : public WinRegistryTest,
                             public testing::WithParamInterface<QueryCase> {};

TEST_P(WinRegistryQueryTest, DataLengthTellsWhatWasWrittenOrIsNeeded) {
    const QueryCase& c = GetParam();
    const win::HKEY key = open(kScratch, KEY_QUERY_VALUE);
    std::vector<win::BYTE> data(c.bufferSize + 1, 0xEE);
    win::DWORD type = REG_NONE;
    win::DWORD length = c.bufferSize;
    EXPECT_EQ(registry.RegQueryValueExA(key, "Name", &type, data.data(), &length), c.status);
    EXPECT_EQ(length, c.lengthAfter);
    EXPECT_EQ(type, static_cast<win::DWORD>(REG_SZ));
    if (c.status == ERROR_SUCCESS) {
        EXPECT_EQ(std::string(reinterpret_cast<char*>(data.data())), "0123456789");
    }
    registry.RegCloseKey(key);
}

// "0123456789" is stored with its terminator: 11 bytes.
INSTANTIATE_TEST_SUITE_P(Lengths, WinRegistryQueryTest,
                         testing::Values(QueryCase{"roomy", 255, ERROR_SUCCESS, 11},
                                         QueryCase{"exact", 11, ERROR_SUCCESS, 11},
                                         QueryCase{"one short", 10, ERROR_MORE_DATA, 11}),
                         win32_test::CaseName());

TEST_F(WinRegistryTest, EnumerationEndsWithNoMoreItemsAndCountsCharactersWithoutTerminator) {
    const win::HKEY key = open(kScratch, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE);
    std::array<char, 255> name{};
    win::DWORD length = static_cast<win::DWORD>(name.size());
    EXPECT_EQ(registry.RegEnumKeyExA(key, 0, name.data(), &length), ERROR_SUCCESS);
    EXPECT_EQ(std::string(name.data()), "Child");
    EXPECT_EQ(length, 5u);
    length = static_cast<win::DWORD>(name.size());
    EXPECT_EQ(registry.RegEnumKeyExA(key, 1, name.data(), &length), ERROR_NO_MORE_ITEMS);

    length = static_cast<win::DWORD>(name.size());
    EXPECT_EQ(registry.RegEnumValueA(key, 0, name.data(), &length, nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(std::string(name.data()), "Name");
    EXPECT_EQ(length, 4u);
    length = static_cast<win::DWORD>(name.size());
    EXPECT_EQ(registry.RegEnumValueA(key, 1, name.data(), &length, nullptr, nullptr, nullptr),
              ERROR_NO_MORE_ITEMS);
    registry.RegCloseKey(key);
}

TEST_F(WinRegistryTest, ANameLongerThanTheBufferIsMoreData) {
    const win::HKEY key = open(kScratch, KEY_ENUMERATE_SUB_KEYS);
    std::array<char, 5> name{};  // "Child" needs 6 with its terminator
    win::DWORD length = static_cast<win::DWORD>(name.size());
    EXPECT_EQ(registry.RegEnumKeyExA(key, 0, name.data(), &length), ERROR_MORE_DATA);
    registry.RegCloseKey(key);
}

TEST_F(WinRegistryTest, CreatingTellsNewFromExistingAndValuesAreWrittenAsGiven) {
    const std::string path = kScratch + "\\Marker";
    for (const win::DWORD expected :
         {win::DWORD{REG_CREATED_NEW_KEY}, win::DWORD{REG_OPENED_EXISTING_KEY}}) {
        win::HKEY key = nullptr;
        win::DWORD disposition = 0;
        ASSERT_EQ(
            registry.RegCreateKeyExA(win::hkeyLocalMachine(), path.c_str(), REG_OPTION_NON_VOLATILE,
                                     KEY_SET_VALUE, &key, &disposition),
            ERROR_SUCCESS);
        EXPECT_EQ(disposition, expected);
        const std::string rev = "0200";
        EXPECT_EQ(registry.RegSetValueExA(key, "rev", REG_SZ,
                                          reinterpret_cast<const win::BYTE*>(rev.c_str()),
                                          static_cast<win::DWORD>(rev.size() + 1)),
                  ERROR_SUCCESS);
        registry.RegCloseKey(key);
    }
    const win::HKEY key = open(path, KEY_QUERY_VALUE);
    std::array<win::BYTE, 16> data{};
    win::DWORD length = static_cast<win::DWORD>(data.size());
    EXPECT_EQ(registry.RegQueryValueExA(key, "rev", nullptr, data.data(), &length), ERROR_SUCCESS);
    EXPECT_EQ(length, 5u);
    registry.RegCloseKey(key);
    EXPECT_EQ(registry.RegDeleteKeyA(win::hkeyLocalMachine(), path.c_str()), ERROR_SUCCESS);
    EXPECT_FALSE(win32_test::keyExists(path));
}

// The walk from a drive letter to the USB device, over records laid into the
// real registry for a letter no drive uses.
constexpr const char* kMountedDevices = "SYSTEM\\MountedDevices";
constexpr const char* kStorageKey =
    "SYSTEM\\CurrentControlSet\\Enum\\USBSTOR\\Disk&Ven_Kavo&Prod_TKW-5 WineTest&Rev_1.00";
constexpr const char* kStorageInstance = "9&7e1ab35c&0&0";
constexpr const char* kUsbKey = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0d9f&Pid_1001";
constexpr const char* kUsbInstance = "8&3b2a1c0d&0&1";

struct WalkCase {
    const char* name;
    bool mountRecord;
    bool hardwareId;
    const char* inquiryProduct;
    // Expected usbVendorId, usbProductId, usbRevision.
    std::array<const char*, 3> identity;
};
void PrintTo(const WalkCase& c, std::ostream* out) {
    *out << c.name;
}

constexpr std::array<const char*, 3> kUnchanged = {"old vid", "old pid", "old rev"};

class UsbWalkTest : public testing::TestWithParam<WalkCase> {
  protected:
    void lay(ScratchRecords& records, const WalkCase& c) {
        if (c.mountRecord) {
            records.setValue(kMountedDevices, mountValueName(), REG_BINARY,
                             win32_test::utf16le("\\??\\STORAGE#RemovableMedia#7&2f3e4d5c&0&RM"
                                                 "#{53f5630d-b6bf-11d0-94f2-00a0c91efb8b}"));
        }
        const std::string storage = std::string(kStorageKey) + "\\" + kStorageInstance;
        records.createKey(storage);
        records.setString(storage, "ParentIdPrefix", "7&2f3e4d5c&0");
        const std::string usb = std::string(kUsbKey) + "\\" + kUsbInstance;
        records.createKey(usb);
        records.setString(usb, "ParentIdPrefix", "9&7e1ab35c&0");
        if (c.hardwareId) {
            records.setMultiString(usb, "HardwareID",
                                   {"USB\\Vid_0d9f&Pid_1001&Rev_0100", "USB\\Vid_0d9f&Pid_1001"});
        }
    }

    std::string mountValueName() const { return std::string("\\DosDevices\\") + letter + ":"; }

    char letter = '\0';
};

TEST_P(UsbWalkTest, FollowsTheRecordsOfTheRealRegistry) {
    const WalkCase& c = GetParam();
    {
        ScratchRecords records;
        letter = win32_test::unusedDriveLetter();
        lay(records, c);
        win32::WinVolumes volumes;
        win32::WinRegistry registry;
        win32::WinClock clock;
        device::DeviceLink link(volumes, registry, clock, device::WriteProtectRule::AnyBitProtects);
        link.inquiryVendor = "Kavo";
        link.inquiryProduct = c.inquiryProduct;
        link.inquiryRevision = "1.00";
        link.usbVendorId = kUnchanged[0];
        link.usbProductId = kUnchanged[1];
        link.usbRevision = kUnchanged[2];

        link.identifyUsbParent(std::string{letter} + ":\\");

        EXPECT_EQ(link.usbVendorId, c.identity[0]);
        EXPECT_EQ(link.usbProductId, c.identity[1]);
        EXPECT_EQ(link.usbRevision, c.identity[2]);
    }
    // Gone with the records: the next run, and wine's prefix, start clean.
    EXPECT_FALSE(win32_test::valueExists(kMountedDevices, mountValueName()));
    EXPECT_FALSE(win32_test::keyExists(kStorageKey));
    EXPECT_FALSE(win32_test::keyExists(kUsbKey));
}

INSTANTIATE_TEST_SUITE_P(
    Records, UsbWalkTest,
    testing::Values(WalkCase{"WholeChain", true, true, "TKW-5 WineTest", {"0d9f", "1001", "0100"}},
                    WalkCase{"NoMountRecord", false, true, "TKW-5 WineTest", {"", "", ""}},
                    WalkCase{"NoHardwareId", true, false, "TKW-5 WineTest", {"", "", ""}},
                    WalkCase{"NoStorageKeyForTheInquiry", true, true, "TKW-5 Other", kUnchanged}),
    win32_test::CaseName());

}  // namespace

#include "device/usb_identification.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "sim/sim_registry.h"
#include "sim/usb_registry_builder.h"
#include "support/case_names.h"

namespace {

using device::InquiryStrings;
using device::UsbIdentity;
using sim::RegistryCall;
using sim::RegistryFault;
using sim::SimRegistry;
using sim::UsbRegistryBuilder;
using sim::UsbStorageDevice;
using sim::UsbStorageRecords;
using testsupport::NameOfCase;
using testsupport::PrintTo;

const std::string kStopped = "stopped";
const std::string kEmpty = "//";
const std::string kReaderIdentity = "1234/5678/0100";

// The walk's outcome in one comparable line: "stopped" when it left the
// caller's strings alone, else vendor/product/revision.
std::string outcomeOf(const std::optional<UsbIdentity>& identity) {
    if (!identity) return kStopped;
    return identity->vendorId + "/" + identity->productId + "/" + identity->revision;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& part : parts) out += "[" + part + "]";
    return out;
}

std::string below(const std::string& parent, const std::string& name) {
    return parent + "\\" + name;
}

// A product with a blank, whose disk key Windows names with '_' in its place,
// and one without, whose key the INQUIRY strings name as they are.
constexpr char kProductWithBlank[] = "TKW-5 Reader";
constexpr char kProductWithoutBlank[] = "TKW-5";

UsbStorageDevice readerOnPort(unsigned port, const std::string& product = kProductWithBlank) {
    return {.driveLetter = 'E',
            .vendor = "Kavo",
            .product = product,
            .revision = "1.00",
            .vendorId = 0x1234,
            .productId = 0x5678,
            .deviceRevision = 0x0100,
            .hubPort = port,
            .serialNumber = ""};
}

UsbStorageDevice serialStick() {
    return {.driveLetter = 'F',
            .vendor = "Generic",
            .product = "Flash Disk",
            .revision = "8.07",
            .vendorId = 0x058f,
            .productId = 0x6387,
            .deviceRevision = 0x0103,
            .rootHub = 1,
            .hubPort = 2,
            .serialNumber = "A1B2C3D4E5"};
}

InquiryStrings inquiryOf(const UsbStorageDevice& device) {
    return {device.vendor, device.product, device.revision};
}

std::vector<win::BYTE> padded(std::vector<win::BYTE> bytes, std::size_t size, win::BYTE fill) {
    bytes.resize(size, fill);
    return bytes;
}

void fail(SimRegistry& registry, RegistryCall call, const std::string& path,
          std::optional<std::string> name = std::nullopt) {
    registry.injectFault(RegistryFault{call, path, std::move(name), win::ERROR_ACCESS_DENIED});
}

// Every walk must give back every key it opened, whichever way it ended.
class WalkTest : public ::testing::Test {
  protected:
    void TearDown() override {
        EXPECT_EQ(registry_.openKeyCount(), 0u) << joined(registry_.openKeyPaths());
    }

    SimRegistry registry_;
};

// The records of the walk's worked example, laid by hand.
TEST_F(WalkTest, FollowsTheChainFromTheDriveLetterToTheHardwareId) {
    registry_.setBinary(sim::kMountedDevicesPath,
                        "\\DosDevices\\E:", sim::removableMediaMountRecord("7&1a2b3c4d&0&RM"));
    const std::string disk =
        std::string(sim::kUsbStorageEnumPath) + "\\Disk&Ven_Kavo&Prod_TKW-5&Rev_1.00";
    registry_.setString(below(disk, "6&2f3e4d5c&0&0"), "ParentIdPrefix", "7&1a2b3c4d&0");
    const std::string usb = std::string(sim::kUsbEnumPath) + "\\Vid_1234&Pid_5678\\5&3a1b2c3d&0&1";
    registry_.setString(usb, "ParentIdPrefix", "6&2f3e4d5c&0");
    registry_.setMultiString(usb, "HardwareID",
                             {"USB\\Vid_1234&Pid_5678&Rev_0100", "USB\\Vid_1234&Pid_5678"});

    EXPECT_EQ(outcomeOf(device::walkToUsbParent(registry_, "E:\\", {"Kavo", "TKW-5", "1.00"})),
              kReaderIdentity);
}

// A machine as Windows leaves it: its own drives and hubs, a serial-numbered
// stick on F:, and the reader on E: after it had been plugged into another
// port before (its old instances stay behind).
class MachineWalkTest : public WalkTest {
  protected:
    void SetUp() override {
        builder_.layBaseMachine();
        stick_ = builder_.attach(serialStick());
        earlierReader_ = builder_.attach(readerOnPort(1, readerProduct()));
        reader_ = builder_.attach(readerOnPort(2, readerProduct()));
    }

    virtual std::string readerProduct() const { return kProductWithBlank; }

    std::string walk(std::string_view driveRoot = "E:\\") {
        return outcomeOf(device::walkToUsbParent(registry_, driveRoot,
                                                 inquiryOf(readerOnPort(2, readerProduct()))));
    }

    UsbRegistryBuilder builder_{registry_};
    UsbStorageRecords stick_;
    UsbStorageRecords earlierReader_;
    UsbStorageRecords reader_;
};

TEST_F(MachineWalkTest, FindsTheReaderAmongTheMachinesOtherRecords) {
    ASSERT_EQ(registry_.subkeyNames(reader_.usbKeyPath).size(), 2u);
    ASSERT_EQ(registry_.subkeyNames(reader_.usbKeyPath).front(), earlierReader_.usbInstanceName)
        << "the earlier instance is listed first and must not match";
    EXPECT_EQ(walk(), kReaderIdentity);
}

// The drive name is the root without its trailing backslashes, searched
// case-sensitively inside the value names.
TEST_F(MachineWalkTest, DriveRoots) {
    struct Case {
        const char* root;
        std::string expected;
    };
    const Case cases[] = {
        {"E:\\", kReaderIdentity},
        {"E:\\\\", kReaderIdentity},
        {"E:", kReaderIdentity},
        {"e:\\", kEmpty},  // no value name contains "e:"
        {"G:\\", kEmpty},  // no such drive: the walk goes on with an empty record
        {"F:\\", kEmpty},  // another device's volume: no disk of the reader matches it
        // An empty drive name is found in the first value name, the system
        // disk's volume, whose record holds no instance id.
        {"\\", kEmpty},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.root);
        EXPECT_EQ(walk(c.root), c.expected);
        EXPECT_EQ(registry_.openKeyCount(), 0u) << joined(registry_.openKeyPaths());
    }
}

// Strings handed to the registry end at their first zero byte, and so do
// the names the walk builds from them.
TEST_F(MachineWalkTest, StringsEndAtTheirFirstZero) {
    const InquiryStrings inquiry{"Kavo", std::string("TKW-5 Reader\0junk", 17), "1.00"};
    EXPECT_EQ(
        outcomeOf(device::walkToUsbParent(registry_, std::string_view("E:\\\0F:", 6), inquiry)),
        kReaderIdentity);
}

TEST_F(MachineWalkTest, ADeviceWithASerialNumberCannotBeFollowedToItsUsbParent) {
    EXPECT_EQ(outcomeOf(device::walkToUsbParent(registry_, "F:\\", inquiryOf(serialStick()))),
              kEmpty);
}

TEST_F(MachineWalkTest, AfterReEnumerationTheNewIdentityIsFound) {
    UsbStorageDevice updated = readerOnPort(2);
    updated.productId = 0x5679;
    updated.deviceRevision = 0x0200;
    updated.revision = "2.00";
    builder_.attach(updated);
    EXPECT_EQ(outcomeOf(device::walkToUsbParent(registry_, "E:\\", inquiryOf(updated))),
              "1234/5679/0200");
    // The old INQUIRY strings still name the old disk, which no longer
    // carries E:'s volume.
    EXPECT_EQ(walk(), kEmpty);
}

// Windows names the disk key with '_' for every character a device id may
// not hold. The key the INQUIRY strings name as they are is the one the walk
// uses whenever it exists; only where it does not is the key as Windows
// writes it tried, and only a key that does not exist leads there.
struct SpellingCase {
    const char* name;
    InquiryStrings inquiry;
    // Disk keys laid below USBSTOR, each with the instance of the worked
    // example, whose prefix matches the volume or not.
    std::vector<std::pair<std::string, bool>> diskKeys;
    std::function<void(SimRegistry&)> faults;
    std::string expected;
};

class StorageKeySpellingTest : public WalkTest,
                               public ::testing::WithParamInterface<SpellingCase> {};

std::string diskKeyPath(const std::string& name) {
    return below(sim::kUsbStorageEnumPath, name);
}

TEST_P(StorageKeySpellingTest, Outcome) {
    registry_.setBinary(sim::kMountedDevicesPath,
                        "\\DosDevices\\E:", sim::removableMediaMountRecord("7&1a2b3c4d&0&RM"));
    for (const auto& [name, matches] : GetParam().diskKeys) {
        registry_.setString(below(diskKeyPath(name), "6&2f3e4d5c&0&0"), "ParentIdPrefix",
                            matches ? "7&1a2b3c4d&0" : "7&ffffffff&0");
    }
    const std::string usb = std::string(sim::kUsbEnumPath) + "\\Vid_1234&Pid_5678\\5&3a1b2c3d&0&1";
    registry_.setString(usb, "ParentIdPrefix", "6&2f3e4d5c&0");
    registry_.setMultiString(usb, "HardwareID", {"USB\\Vid_1234&Pid_5678&Rev_0100"});
    if (GetParam().faults) GetParam().faults(registry_);
    EXPECT_EQ(outcomeOf(device::walkToUsbParent(registry_, "E:\\", GetParam().inquiry)),
              GetParam().expected);
}

const std::string kAsReported = "Disk&Ven_Kavo&Prod_TKW-5 CardRW&Rev_1.00";
const std::string kAsWindowsWrites = "Disk&Ven_Kavo&Prod_TKW-5_CardRW&Rev_1.00";
const InquiryStrings kCardRw{"Kavo", "TKW-5 CardRW", "1.00"};

const SpellingCase kSpellings[] = {
    {"KeyAsWindowsWritesIt", kCardRw, {{kAsWindowsWrites, true}}, nullptr, kReaderIdentity},
    {"KeyAsTheInquiryNamesIt", kCardRw, {{kAsReported, true}}, nullptr, kReaderIdentity},
    // The first key is used even though none of its instances matches.
    {"BothKeysTheOneTheInquiryNamesWins",
     kCardRw,
     {{kAsWindowsWrites, true}, {kAsReported, false}},
     nullptr,
     kEmpty},
    {"NeitherKey", kCardRw, {}, nullptr, kStopped},
    {"NoCharacterToReplaceAndNoKey",
     {"Kavo", "TKW-5", "1.00"},
     {{kAsWindowsWrites, true}},
     nullptr,
     kStopped},
    // Only the replacement Windows makes is undone, not its reverse.
    {"UnderscoreInTheInquiryFindsNoBlank",
     {"Kavo", "TKW-5_CardRW", "1.00"},
     {{kAsReported, true}},
     nullptr,
     kStopped},
    {"EveryCharacterAnIdMayNotHold",
     {"Ka,vo", "TKW\t5 \x01\x7f\x80\xff", "1.0\x1f"},
     {{"Disk&Ven_Ka_vo&Prod_TKW_5__\x7f__&Rev_1.0_", true}},
     nullptr,
     kReaderIdentity},
    // Any other failure to open the first key stops the walk, as before.
    {"KeyAsTheInquiryNamesItCannotBeOpened",
     kCardRw,
     {{kAsWindowsWrites, true}, {kAsReported, true}},
     [](SimRegistry& r) { fail(r, RegistryCall::Open, diskKeyPath(kAsReported)); },
     kStopped},
    {"KeyAsWindowsWritesItCannotBeOpened",
     kCardRw,
     {{kAsWindowsWrites, true}},
     [](SimRegistry& r) { fail(r, RegistryCall::Open, diskKeyPath(kAsWindowsWrites)); },
     kStopped},
    {"KeyAsWindowsWritesItCannotBeClosed",
     kCardRw,
     {{kAsWindowsWrites, true}},
     [](SimRegistry& r) { fail(r, RegistryCall::Close, diskKeyPath(kAsWindowsWrites)); },
     kStopped},
    {"InstanceBelowKeyAsWindowsWritesItCannotBeOpened",
     kCardRw,
     {{kAsWindowsWrites, true}},
     [](SimRegistry& r) {
         fail(r, RegistryCall::Open, below(diskKeyPath(kAsWindowsWrites), "6&2f3e4d5c&0&0"));
     },
     kStopped},
};

INSTANTIATE_TEST_SUITE_P(Rows, StorageKeySpellingTest, ::testing::ValuesIn(kSpellings),
                         NameOfCase{});

// Moves a new value to the front of the mount records, the place a record
// written before all others would have.
void putMountValueFirst(SimRegistry& registry, const std::string& name,
                        const std::vector<win::BYTE>& data) {
    std::vector<sim::RegistryValue> values;
    for (const std::string& existing : registry.valueNames(sim::kMountedDevicesPath)) {
        values.push_back(*registry.value(sim::kMountedDevicesPath, existing));
    }
    ASSERT_EQ(registry.RegDeleteKeyA(win::hkeyLocalMachine(), sim::kMountedDevicesPath),
              win::ERROR_SUCCESS);
    registry.setBinary(sim::kMountedDevicesPath, name, data);
    for (const sim::RegistryValue& v : values) {
        registry.setValue(sim::kMountedDevicesPath, v.name, v.type, v.data);
    }
}

struct RegistryChange {
    const char* name;
    std::function<void(SimRegistry&, const UsbStorageRecords& reader)> apply;
    std::string expected;
};

// Every row runs on a reader whose disk key the INQUIRY strings name as they
// are and on one whose key Windows writes with '_' for a blank. The product is a
// string, not a pointer, so that it prints as its text in the tests' names.
using ChangeOnReader = std::tuple<RegistryChange, std::string>;

std::string caseName(const ::testing::TestParamInfo<ChangeOnReader>& info) {
    const std::string product = std::get<1>(info.param);
    return std::string(std::get<0>(info.param).name) +
           (product == kProductWithBlank ? "_BlankInProduct" : "_NoBlankInProduct");
}

const auto kBothProducts = ::testing::Values(kProductWithBlank, kProductWithoutBlank);

class ChangedMachineWalkTest : public MachineWalkTest,
                               public ::testing::WithParamInterface<ChangeOnReader> {
  protected:
    std::string readerProduct() const override { return std::get<1>(GetParam()); }
    const RegistryChange& change() const { return std::get<0>(GetParam()); }
};

std::string firstSubkey(const SimRegistry& registry, const std::string& path) {
    const std::vector<std::string> names = registry.subkeyNames(path);
    return names.empty() ? std::string() : below(path, names.front());
}

const std::string kRootHubs = std::string(sim::kUsbEnumPath) + "\\ROOT_HUB";

std::string storageInstance(const UsbStorageRecords& r) {
    return below(r.storageKeyPath, r.storageInstanceName);
}
std::string usbInstance(const UsbStorageRecords& r) {
    return below(r.usbKeyPath, r.usbInstanceName);
}

class FailureHandlingTest : public ChangedMachineWalkTest {};

// A stop leaves the caller's strings as they were; the other failures run
// the walk to its end with three empty strings.
TEST_P(FailureHandlingTest, Outcome) {
    change().apply(registry_, reader_);
    EXPECT_EQ(walk(), change().expected);
}

const RegistryChange kFailures[] = {
    // ---- stop: the strings stay as they were
    {"MountedDevicesCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords&) {
         fail(r, RegistryCall::Open, sim::kMountedDevicesPath);
     },
     kStopped},
    {"MountedDevicesMissing",
     [](SimRegistry& r, const UsbStorageRecords&) {
         ASSERT_EQ(r.RegDeleteKeyA(win::hkeyLocalMachine(), sim::kMountedDevicesPath),
                   win::ERROR_SUCCESS);
     },
     kStopped},
    {"MountRecordCannotBeRead",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::QueryValue, sim::kMountedDevicesPath, reader.mountValueName);
     },
     kStopped},
    {"MountRecordLongerThan255Bytes",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setBinary(sim::kMountedDevicesPath, reader.mountValueName,
                     padded(reader.mountRecord, 256, 'x'));
     },
     kStopped},
    {"StorageDeviceKeyMissing",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         for (const std::string& instance : r.subkeyNames(reader.storageKeyPath)) {
             ASSERT_EQ(r.RegDeleteKeyA(win::hkeyLocalMachine(),
                                       below(reader.storageKeyPath, instance).c_str()),
                       win::ERROR_SUCCESS);
         }
         ASSERT_EQ(r.RegDeleteKeyA(win::hkeyLocalMachine(), reader.storageKeyPath.c_str()),
                   win::ERROR_SUCCESS);
     },
     kStopped},
    {"StorageDeviceKeyCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Open, reader.storageKeyPath);
     },
     kStopped},
    {"StorageInstanceKeyCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Open, firstSubkey(r, reader.storageKeyPath));
     },
     kStopped},
    {"UsbKeyCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords&) {
         fail(r, RegistryCall::Open, sim::kUsbEnumPath);
     },
     kStopped},
    {"DeviceIdKeyBeforeTheReaderCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords&) { fail(r, RegistryCall::Open, kRootHubs); },
     kStopped},
    {"ReadersDeviceIdKeyCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Open, reader.usbKeyPath);
     },
     kStopped},
    {"DeviceInstanceKeyBeforeTheReaderCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords&) {
         fail(r, RegistryCall::Open, firstSubkey(r, kRootHubs));
     },
     kStopped},
    {"ReadersDeviceInstanceKeyCannotBeOpened",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Open, usbInstance(reader));
     },
     kStopped},
    {"MountedDevicesCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords&) {
         fail(r, RegistryCall::Close, sim::kMountedDevicesPath);
     },
     kStopped},
    {"StorageDeviceKeyCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Close, reader.storageKeyPath);
     },
     kStopped},
    {"StorageInstanceKeyCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Close, storageInstance(reader));
     },
     kStopped},
    {"UsbKeyCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords&) {
         fail(r, RegistryCall::Close, sim::kUsbEnumPath);
     },
     kStopped},
    {"DeviceIdKeyBeforeTheReaderCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords&) { fail(r, RegistryCall::Close, kRootHubs); },
     kStopped},
    {"ReadersDeviceIdKeyCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Close, reader.usbKeyPath);
     },
     kStopped},
    {"DeviceInstanceKeyBeforeTheReaderCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords&) {
         fail(r, RegistryCall::Close, firstSubkey(r, kRootHubs));
     },
     kStopped},
    {"ReadersDeviceInstanceKeyCannotBeClosed",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::Close, usbInstance(reader));
     },
     kStopped},

    // ---- go on: the walk runs to its end
    {"NoStorageInstanceMatches",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(storageInstance(reader), "ParentIdPrefix", "7&ffffffff&0");
     },
     kEmpty},
    {"NoUsbDeviceInstanceMatches",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(usbInstance(reader), "ParentIdPrefix", "6&ffffffff&0");
     },
     kEmpty},
    {"HardwareIdCannotBeRead",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         fail(r, RegistryCall::QueryValue, usbInstance(reader), "HardwareID");
     },
     kEmpty},
    {"HardwareIdMissing",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         // Rebuild the instance without the value.
         const std::string instance = usbInstance(reader);
         ASSERT_EQ(r.RegDeleteKeyA(win::hkeyLocalMachine(), instance.c_str()), win::ERROR_SUCCESS);
         r.setString(instance, "ParentIdPrefix", reader.usbParentIdPrefix);
     },
     kEmpty},
    {"HardwareIdLongerThan255Bytes",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setMultiString(usbInstance(reader), "HardwareID",
                          {"USB\\Vid_1234&Pid_5678&Rev_0100" + std::string(250, 'x')});
     },
     kEmpty},
    // The only disk instance whose prefix could match cannot be read.
    {"StorageParentIdPrefixLongerThan255Bytes",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(storageInstance(reader), "ParentIdPrefix",
                     reader.storageParentIdPrefix + std::string(250, '0'));
     },
     kEmpty},
    // A subkey name that does not fit ends that list: the reader's disk
    // instance behind it is never reached.
    {"StorageInstanceNameTooLongEndsTheList",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.createKey(below(reader.storageKeyPath, std::string(sim::kMaxKeyNameLength, '0')));
     },
     kEmpty},
    // A value name that does not fit is skipped, and the next one is read;
    // one that just fits is read.
    {"MountValueNameTooLongIsSkipped",
     [](SimRegistry& r, const UsbStorageRecords&) {
         putMountValueFirst(r, "\\DosDevices\\E:" + std::string(255 - 14, '_'),
                            sim::removableMediaMountRecord("7&ffffffff&0&RM"));
     },
     kReaderIdentity},
    {"MountValueNameOf254CharactersIsRead",
     [](SimRegistry& r, const UsbStorageRecords&) {
         putMountValueFirst(r, "\\DosDevices\\E:" + std::string(254 - 14, '_'),
                            sim::removableMediaMountRecord("7&ffffffff&0&RM"));
     },
     kEmpty},
    {"StorageInstanceWithoutParentIdPrefixIsSkipped",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(below(reader.storageKeyPath, "0&ghost&0"), "Service", "disk");
     },
     kReaderIdentity},
    // strstr finds an empty prefix in every name, so such an instance
    // matches; its name then leads to no USB device.
    {"StorageInstanceWithAnEmptyParentIdPrefixMatches",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(below(reader.storageKeyPath, "0&ghost&0"), "ParentIdPrefix", "");
     },
     kEmpty},
    // Buffers the registry fills to the last byte, with no terminator left.
    {"MountRecordOfExactly255Bytes",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setBinary(sim::kMountedDevicesPath, reader.mountValueName,
                     padded(reader.mountRecord, 255, 'x'));
     },
     kReaderIdentity},
    {"HardwareIdOfExactly255BytesWithoutTerminator",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         const std::string id = "USB\\Vid_1234&Pid_5678&Rev_" + std::string(255 - 26, 'A');
         r.setValue(usbInstance(reader), "HardwareID", win::REG_MULTI_SZ,
                    std::vector<win::BYTE>(id.begin(), id.end()));
     },
     "1234/5678/" + std::string(255 - 26, 'A')},
};

INSTANTIATE_TEST_SUITE_P(Rows, FailureHandlingTest,
                         ::testing::Combine(::testing::ValuesIn(kFailures), kBothProducts),
                         caseName);

class FirstMatchTest : public ChangedMachineWalkTest {};

// At every stage the first candidate in the registry's order wins, even
// when a later one fits better.
TEST_P(FirstMatchTest, Outcome) {
    change().apply(registry_, reader_);
    EXPECT_EQ(walk(), change().expected);
}

const RegistryChange kFirstMatches[] = {
    // A name that merely contains E: and comes first is taken, though
    // \DosDevices\E: itself now names the stick's volume.
    {"MountRecordWhoseNameMerelyContainsTheDrive",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         putMountValueFirst(r, "\\??\\Backup of E: mapping", reader.mountRecord);
         r.setBinary(sim::kMountedDevicesPath, reader.mountValueName,
                     r.value(sim::kMountedDevicesPath, "\\DosDevices\\F:")->data);
     },
     kReaderIdentity},
    {"StorageInstance",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(below(reader.storageKeyPath, "1&decoy&0&0"), "ParentIdPrefix",
                     reader.storageParentIdPrefix);
         const std::string decoy =
             std::string(sim::kUsbEnumPath) + "\\Vid_aaaa&Pid_bbbb\\1&hub&0&9";
         r.setString(decoy, "ParentIdPrefix", "1&decoy&0");
         r.setMultiString(decoy, "HardwareID", {"USB\\Vid_aaaa&Pid_bbbb&Rev_cccc"});
     },
     "aaaa/bbbb/cccc"},
    {"UsbDeviceId",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         const std::string earlier =
             std::string(sim::kUsbEnumPath) + "\\Vid_0001&Pid_0001\\5&1&0&7";
         r.setString(earlier, "ParentIdPrefix", reader.usbParentIdPrefix);
         r.setMultiString(earlier, "HardwareID", {"USB\\Vid_0001&Pid_0001&Rev_0001"});
     },
     "0001/0001/0001"},
    {"UsbDeviceInstance",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         const std::string earlier = below(reader.usbKeyPath, "0&ghost");
         r.setString(earlier, "ParentIdPrefix", reader.usbParentIdPrefix);
         r.setMultiString(earlier, "HardwareID", {"USB\\Vid_1234&Pid_5678&Rev_0099"});
     },
     "1234/5678/0099"},
    // A match ends the search even when its hardware id cannot be read.
    {"UsbDeviceInstanceWithoutHardwareId",
     [](SimRegistry& r, const UsbStorageRecords& reader) {
         r.setString(below(reader.usbKeyPath, "0&ghost"), "ParentIdPrefix",
                     reader.usbParentIdPrefix);
     },
     kEmpty},
};

INSTANTIATE_TEST_SUITE_P(Stages, FirstMatchTest,
                         ::testing::Combine(::testing::ValuesIn(kFirstMatches), kBothProducts),
                         caseName);

// Forwards every call to a SimRegistry; the tests below change one call to
// behave as no well-kept registry does.
class ForwardingRegistry : public platform::Registry {
  public:
    explicit ForwardingRegistry(SimRegistry& inner) : inner_(inner) {}

    win::LONG RegOpenKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                            win::REGSAM access, win::HKEY* result) override {
        return inner_.RegOpenKeyExA(key, subKey, options, access, result);
    }
    win::LONG RegCreateKeyExA(win::HKEY key, const char* subKey, win::DWORD options,
                              win::REGSAM access, win::HKEY* result,
                              win::DWORD* disposition) override {
        return inner_.RegCreateKeyExA(key, subKey, options, access, result, disposition);
    }
    win::LONG RegEnumValueA(win::HKEY key, win::DWORD index, char* name, win::DWORD* nameLength,
                            win::DWORD* type, win::BYTE* data, win::DWORD* dataLength) override {
        return inner_.RegEnumValueA(key, index, name, nameLength, type, data, dataLength);
    }
    win::LONG RegEnumKeyExA(win::HKEY key, win::DWORD index, char* name,
                            win::DWORD* nameLength) override {
        return inner_.RegEnumKeyExA(key, index, name, nameLength);
    }
    win::LONG RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                               win::BYTE* data, win::DWORD* dataLength) override {
        return inner_.RegQueryValueExA(key, valueName, type, data, dataLength);
    }
    win::LONG RegSetValueExA(win::HKEY key, const char* valueName, win::DWORD type,
                             const win::BYTE* data, win::DWORD dataLength) override {
        return inner_.RegSetValueExA(key, valueName, type, data, dataLength);
    }
    win::LONG RegDeleteKeyA(win::HKEY key, const char* subKey) override {
        return inner_.RegDeleteKeyA(key, subKey);
    }
    win::LONG RegCloseKey(win::HKEY key) override { return inner_.RegCloseKey(key); }

  private:
    SimRegistry& inner_;
};

// Listing values fails at every index with one error, as a stale or
// deleted handle does.
class ValueListFailsEverywhere final : public ForwardingRegistry {
  public:
    ValueListFailsEverywhere(SimRegistry& inner, win::LONG error)
        : ForwardingRegistry(inner), error_(error) {}

    win::LONG RegEnumValueA(win::HKEY, win::DWORD, char*, win::DWORD*, win::DWORD*, win::BYTE*,
                            win::DWORD*) override {
        // Gives up after a while, so a walk that keeps asking fails the test
        // instead of hanging it.
        return ++enumCalls_ > kGiveUpAfter ? win::ERROR_NO_MORE_ITEMS : error_;
    }
    int enumCalls() const { return enumCalls_; }

  private:
    static constexpr int kGiveUpAfter = 1000;
    win::LONG error_;
    int enumCalls_ = 0;
};

// Errors of the handle itself will not go away at a later index: they end
// the list at once instead of being skipped index after index.
TEST_F(MachineWalkTest, HandleErrorsEndTheValueList) {
    for (const win::LONG error :
         {win::ERROR_INVALID_HANDLE, win::ERROR_KEY_DELETED, win::ERROR_ACCESS_DENIED}) {
        SCOPED_TRACE(error);
        ValueListFailsEverywhere registry(registry_, error);
        EXPECT_EQ(outcomeOf(device::walkToUsbParent(registry, "E:\\", inquiryOf(readerOnPort(2)))),
                  kEmpty);
        EXPECT_EQ(registry.enumCalls(), 1);
    }
}

// The first value name fills the whole 255-character buffer and reports
// success without a terminator; the name the walk asks for next must be
// exactly those 255 characters, read no further than the buffer.
class UnterminatedValueName final : public ForwardingRegistry {
  public:
    using ForwardingRegistry::ForwardingRegistry;

    win::LONG RegEnumValueA(win::HKEY key, win::DWORD index, char* name, win::DWORD* nameLength,
                            win::DWORD* type, win::BYTE* data, win::DWORD* dataLength) override {
        if (index != 0) {
            return ForwardingRegistry::RegEnumValueA(key, index, name, nameLength, type, data,
                                                     dataLength);
        }
        const std::string filling = fullName();
        std::memcpy(name, filling.data(), std::min<std::size_t>(*nameLength, filling.size()));
        return win::ERROR_SUCCESS;
    }
    win::LONG RegQueryValueExA(win::HKEY key, const char* valueName, win::DWORD* type,
                               win::BYTE* data, win::DWORD* dataLength) override {
        queried.push_back(valueName);
        return ForwardingRegistry::RegQueryValueExA(key, valueName, type, data, dataLength);
    }

    static std::string fullName() { return "\\DosDevices\\E:" + std::string(255 - 14, '_'); }
    std::vector<std::string> queried;
};

TEST_F(MachineWalkTest, ANameThatFillsTheBufferIsReadNoFurther) {
    UnterminatedValueName registry(registry_);
    EXPECT_EQ(outcomeOf(device::walkToUsbParent(registry, "E:\\", inquiryOf(readerOnPort(2)))),
              kStopped);  // no value of that name: its data cannot be read
    ASSERT_FALSE(registry.queried.empty());
    EXPECT_EQ(registry.queried.front(), UnterminatedValueName::fullName());
}

TEST(CutHardwareIdTest, TakesTheThreePiecesAndDropsTheirLabels) {
    struct Case {
        const char* hardwareId;
        const char* vendor;
        const char* product;
        const char* revision;
    };
    const Case cases[] = {
        {"USB\\Vid_1234&Pid_5678&Rev_0100", "1234", "5678", "0100"},
        {"USB\\Vid_1234&Pid_5678", "1234", "5678", ""},
        {"USB\\Vid_1234", "1234", "", ""},  // no '&': the vendor takes it all
        {"USB\\Vid_12&Pid_5&Rev_01&MI_00", "12", "5", "01&MI_00"},
        {"USB\\V&P&R", "", "", ""},  // pieces shorter than their labels
        {"USB", "", "", ""},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.hardwareId);
        const UsbIdentity identity = device::cutHardwareId(c.hardwareId);
        EXPECT_EQ(identity.vendorId, c.vendor);
        EXPECT_EQ(identity.productId, c.product);
        EXPECT_EQ(identity.revision, c.revision);
    }
}

}  // namespace

#include "update_machine.h"

#include <gtest/gtest.h>

#include "firmware/chained_xor.h"
#include "support/srecord_writer.h"
#include "update/update_dialog.h"

namespace updatetest {

namespace {

constexpr char kCurrentDirectory[] = "C:\\Velcrest";

sim::SimDrive drive(win::UINT type, std::vector<std::string> files = {}) {
    sim::SimDrive made;
    made.type = type;
    made.files = std::move(files);
    return made;
}

}  // namespace

std::string firmwareText(std::uint32_t start, std::size_t length) {
    constexpr unsigned kStride = 7;
    constexpr unsigned kOffset = 3;
    std::vector<std::uint8_t> data(length);
    for (std::size_t i = 0; i < length; ++i)
        data[i] = static_cast<std::uint8_t>(i * kStride + kOffset);
    return testsupport::firmwareText(start, data);
}

std::vector<std::uint8_t> encoded(const std::string& plain) {
    const std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
    return firmware::encodeChainedLines(bytes);
}

UpdateMachine::UpdateMachine() : reader(attachReader('E', kVendor, kProduct)) {
    firmware::resetChainedDecoder();  // a fresh process
    process.simUi.setProgramResources(testsupport::repositoryScript("velcrest.rc"));
    process.offerLibrary(kLibraryFile, testsupport::repositoryScript("KELDRA_ENG.rc"));
    setup.currentDirectory = kCurrentDirectory;
    setup.drives = {{'A', drive(win::DRIVE_REMOVABLE)},
                    {'C', drive(win::DRIVE_FIXED)},
                    {'D', drive(win::DRIVE_CDROM)},
                    {'E', drive(win::DRIVE_REMOVABLE, {"PHOTO001.JPG"})}};
    // A floppy drive without a reader behind it: it opens, but refuses
    // pass-through commands.
    volumes.attachPlainDisk('A');
    usb.layBaseMachine();
    registry.createKey(update::kRunOnceKey);
    usb.attach(sim::UsbStorageDevice{'E', kVendor, kProduct, kRevision, kVendorId, kProductId,
                                     kDeviceRevision, 0, 1, ""});
    setTable(std::string(kMatchingRow) + "\n");
    setFirmware(firmwareText(0x10000, 0x1000));
}

sim::VirtualReader& UpdateMachine::attachReader(char letter, const std::string& vendor,
                                                const std::string& product) {
    readers.push_back(std::make_unique<sim::VirtualReader>(
        clock, sim::ReaderIdentity{vendor, product, kRevision}));
    volumes.attach(letter, *readers.back());
    return *readers.back();
}

sim::VirtualReader& UpdateMachine::addReader(char letter, const std::string& vendor,
                                             const std::string& product) {
    sim::VirtualReader& added = attachReader(letter, vendor, product);
    setup.drives[letter] = drive(win::DRIVE_REMOVABLE, {"README.TXT"});
    usb.attach(sim::UsbStorageDevice{letter, vendor, product, kRevision, kVendorId, kProductId,
                                     kDeviceRevision, 0, static_cast<unsigned>(letter - 'A' + 1),
                                     ""});
    return added;
}

void UpdateMachine::setTable(const std::string& plainText) {
    setup.programFiles[kTableFile] = encoded(plainText);
}

void UpdateMachine::setFirmware(const std::string& plainText) {
    setup.programFiles[kFirmwareFile] = encoded(plainText);
}

void UpdateMachine::useLibrary() {
    const win::HMODULE module = process.simSystem.LoadLibraryA(kLibraryFile);
    ASSERT_NE(module, nullptr);
    process.simUi.setResourceModule(module);
}

std::vector<std::string> UpdateMachine::powerCalls() const {
    return system.callsNamed(
        {"OpenProcessToken", "LookupPrivilegeValueA", "AdjustTokenPrivileges", "ExitWindowsEx"});
}

void UpdateMachine::expectEverythingReleased() const {
    using Kind = sim::SimSystem::HandleKind;
    EXPECT_EQ(volumes.openHandleCount(), 0u);
    for (const char letter : {'A', 'E', 'F', 'G'}) EXPECT_FALSE(volumes.isLocked(letter));
    EXPECT_EQ(registry.openKeyCount(), 0u);
    EXPECT_EQ(process.simSystem.openHandleCount(Kind::File), 0u);
    EXPECT_EQ(process.simSystem.openHandleCount(Kind::Search), 0u);
    EXPECT_EQ(process.simSystem.openHandleCount(Kind::Token), 0u);
    EXPECT_EQ(process.simSystem.liveSidCount(), 0u);
}

}  // namespace updatetest

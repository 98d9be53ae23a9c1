#include "update_machine.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "firmware/chained_xor.h"
#include "shell/main_dialog.h"
#include "update/update_dialog.h"

namespace updatetest {

namespace {

constexpr std::size_t kBytesPerRecord = 32;
constexpr std::uint8_t kChecksumComplement = 0xFF;

std::size_t addressLength(char type) {
    switch (type) {
        case '2':
        case '8':
            return 3;
        case '3':
        case '7':
            return 4;
        default:
            return 2;
    }
}

std::string hexByte(std::uint8_t value) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", value);
    return text;
}

}  // namespace

std::string sRecord(char type, std::uint32_t address, const std::vector<std::uint8_t>& data) {
    const std::size_t addressBytes = addressLength(type);
    std::vector<std::uint8_t> body;
    body.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
    for (std::size_t shift = addressBytes; shift-- > 0;) {
        body.push_back(static_cast<std::uint8_t>(address >> (8 * shift)));
    }
    body.insert(body.end(), data.begin(), data.end());
    unsigned sum = 0;
    std::string line = std::string("S") + type;
    for (const std::uint8_t byte : body) {
        sum += byte;
        line += hexByte(byte);
    }
    line += hexByte(static_cast<std::uint8_t>(kChecksumComplement - (sum & 0xFF)));
    return line + "\n";
}

std::string firmwareText(std::uint32_t start, std::size_t length) {
    std::string text = sRecord('0', 0, {'T', 'K', 'W'});
    for (std::size_t offset = 0; offset < length; offset += kBytesPerRecord) {
        std::vector<std::uint8_t> data;
        for (std::size_t i = offset; i < std::min(length, offset + kBytesPerRecord); ++i) {
            data.push_back(static_cast<std::uint8_t>(i * 7 + 3));
        }
        text += sRecord('2', start + static_cast<std::uint32_t>(offset), data);
    }
    return text + sRecord('9', 0, {});
}

std::vector<std::uint8_t> encoded(const std::string& plain) {
    const std::vector<std::uint8_t> bytes(plain.begin(), plain.end());
    return firmware::encodeChainedLines(bytes);
}

testsupport::FakeResources updateLibraryResources() {
    testsupport::FakeResources resources;
    for (const update::UpdateTemplate id :
         {update::UpdateTemplate::AboutBox, update::UpdateTemplate::MainDialog,
          update::UpdateTemplate::Progress, update::UpdateTemplate::VersionNotSupported,
          update::UpdateTemplate::NotAdministrator, update::UpdateTemplate::NoReader,
          update::UpdateTemplate::ReaderNotReady, update::UpdateTemplate::UpdateComplete,
          update::UpdateTemplate::PowerOffPrompt, update::UpdateTemplate::SeveralReaders,
          update::UpdateTemplate::WriteProtected, update::UpdateTemplate::StartNotice,
          update::UpdateTemplate::UpdateStart, update::UpdateTemplate::DeviceAccessFailure,
          update::UpdateTemplate::NoTableRow, update::UpdateTemplate::FlashFailure,
          update::UpdateTemplate::FileCannotOpen}) {
        resources.templates.insert(update::templateNumber(id));
    }
    resources.strings[shell::kAboutMenuString] = "&About Velcrest...";
    resources.icons.insert(shell::kAppIconGroup);
    return resources;
}

UpdateMachine::UpdateMachine() : UpdateMachine(ui) {}

UpdateMachine::UpdateMachine(platform::Ui& otherScreen)
    : reader(attachReader('E', kVendor, kProduct)), screen(otherScreen) {
    firmware::resetChainedDecoder();  // a fresh process
    library = ui.addModule(updateLibraryResources());
    system.libraries["KELDRA_ENG.dll"] = library;
    system.driveTypes = {{'A', win::DRIVE_REMOVABLE},
                         {'C', win::DRIVE_FIXED},
                         {'D', win::DRIVE_CDROM},
                         {'E', win::DRIVE_REMOVABLE}};
    system.driveFiles['E'] = {"PHOTO001.JPG"};
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
    system.driveTypes[letter] = win::DRIVE_REMOVABLE;
    system.driveFiles[letter] = {"README.TXT"};
    usb.attach(sim::UsbStorageDevice{letter, vendor, product, kRevision, kVendorId, kProductId,
                                     kDeviceRevision, 0, static_cast<unsigned>(letter - 'A' + 1),
                                     ""});
    return added;
}

void UpdateMachine::setTable(const std::string& plainText) {
    system.files["firmtable.txt"] = encoded(plainText);
}

void UpdateMachine::setFirmware(const std::string& plainText) {
    system.files[kFirmwareFile] = encoded(plainText);
}

void UpdateMachine::expectEverythingReleased() const {
    EXPECT_EQ(volumes.openHandleCount(), 0u);
    for (const char letter : {'A', 'E', 'F', 'G'}) EXPECT_FALSE(volumes.isLocked(letter));
    EXPECT_EQ(registry.openKeyCount(), 0u);
    EXPECT_EQ(system.openFileCount(), 0);
    EXPECT_EQ(system.openSearchCount(), 0);
    EXPECT_EQ(system.openTokenCount(), 0);
    EXPECT_EQ(system.liveSidCount(), 0);
}

}  // namespace updatetest

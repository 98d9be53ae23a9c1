#include "update/update_dialog.h"

#include <array>
#include <cstdlib>
#include <string_view>

#include "shell/about_box.h"
#include "shell/removable_drives.h"
#include "update/update_templates.h"

namespace update {

namespace {

static_assert(templateNumber(UpdateTemplate::MainDialog) == shell::kMainDialogTemplate);
static_assert(templateNumber(UpdateTemplate::AboutBox) == shell::kAboutBoxTemplate);

constexpr char kDriveListSeparator = ',';
constexpr const char* kAllFilesPattern = "*.*";

// The text before the first separator, taken off the front of the list
// together with the separator.
std::string takeFirstEntry(std::string& list) {
    const std::size_t separator = list.find(kDriveListSeparator);
    std::string entry = list.substr(0, separator);
    list.erase(0, separator == std::string::npos ? list.size() : separator + 1);
    return entry;
}

}  // namespace

UpdateDialog::UpdateDialog(const platform::Services& services, shell::Application& application)
    : MainDialog(services.ui),
      noReader_(services.ui, templateNumber(UpdateTemplate::NoReader)),
      progress_(services.ui, templateNumber(UpdateTemplate::Progress), kProgressBarControl),
      readerNotReady_(services.ui, templateNumber(UpdateTemplate::ReaderNotReady)),
      updateComplete_(services.ui, templateNumber(UpdateTemplate::UpdateComplete)),
      powerOffPrompt_(services.ui, templateNumber(UpdateTemplate::PowerOffPrompt)),
      severalReaders_(services.ui, templateNumber(UpdateTemplate::SeveralReaders)),
      writeProtected_(services.ui, templateNumber(UpdateTemplate::WriteProtected)),
      updateStart_(services.ui, templateNumber(UpdateTemplate::UpdateStart)),
      deviceAccessFailure_(services.ui, templateNumber(UpdateTemplate::DeviceAccessFailure)),
      noTableRow_(services.ui, templateNumber(UpdateTemplate::NoTableRow)),
      flashFailure_(services.ui, templateNumber(UpdateTemplate::FlashFailure)),
      fileCannotOpen_(services.ui, templateNumber(UpdateTemplate::FileCannotOpen)),
      deviceLink(services.volumes, services.registry, services.clock,
                 device::WriteProtectRule::AnyBitProtects),
      system_(services.system),
      registry_(services.registry),
      application_(application) {
    deviceLink.setOpenFailureAction([this] { deviceAccessFailure_.doModal(); });
}

bool UpdateDialog::preTranslateMessage(const win::MSG& message) {
    if (shell::isEscapeKeyDown(message)) return true;
    return MainDialog::preTranslateMessage(message);
}

bool UpdateDialog::onInitDialog() {
    MainDialog::onInitDialog();
    scanRemovableDrives();
    if (removableDriveCount == 0 && noReader_.doModal() == win::IDOK) onCancel();
    return true;
}

void UpdateDialog::scanRemovableDrives() {
    shell::forEachRemovableDrive(system_, [&](int number, const std::string& /*root*/) {
        removableDriveList += std::to_string(number);
        removableDriveList += kDriveListSeparator;
        ++removableDriveCount;
    });
}

void UpdateDialog::quit() {
    ui().PostQuitMessage(0);
}

void UpdateDialog::onOK() {
    if (updateStart_.doModal() == win::IDCANCEL) {
        quit();
        return;
    }
    if (!findReader()) return;
    switch (probeMedium()) {
        case MediumState::Ready:
            break;
        case MediumState::PoweredOff:
            endDialog(win::IDOK);
            return;
        case MediumState::NotReady:
            return;
    }
    waitUntilWritable();
    deviceLink.identifyUsbParent(selectedDriveRoot);
    if (lookUpFirmwareRow() == 0) {
        quit();
        return;
    }
    // The main window goes; the command goes on with the flash.
    endDialog(win::IDCANCEL);
    if (flashFirmware(selectedDriveRoot) == 0) {
        quit();
        return;
    }
    completeHandOff();
}

// The table is read, then every removable drive asked; false when the
// command ends here (the user was told why).
bool UpdateDialog::findReader() {
    std::string tableText;
    SystemFile table(system_);
    if (!table.open(kFirmwareTablePath) || !readFirmwareTableText(table, tableText)) {
        if (fileCannotOpen_.doModal() == win::IDOK) quit();
        return false;
    }
    const int matches = searchReaders(tableText);
    table.close();
    if (matches == 0) {
        if (noReader_.doModal() == win::IDOK) quit();
        return false;
    }
    // Only the first reader is updated; the user learns that there are
    // others before anything is written.
    if (matches > 1) severalReaders_.doModal();
    return true;
}

// Every removable drive gets an INQUIRY; the first one from the reader's
// vendor whose product the table names is the reader. Later drives are still
// asked, and counted when they match too.
int UpdateDialog::searchReaders(const std::string& tableText) {
    const std::int32_t drivesToTry = removableDriveCount;
    std::string remaining = removableDriveList;
    int matches = 0;
    for (std::int32_t pass = 0; pass < drivesToTry; ++pass) {
        const std::string root = shell::driveRoot(std::atoi(takeFirstEntry(remaining).c_str()));
        std::array<std::uint8_t, device::kInquiryLength> reply{};
        deviceLink.inquiry(root, reply);
        const device::InquiryStrings found = device::parseInquiryReply(reply);
        if (tableText.find(found.product) == std::string::npos || found.vendor != kReaderVendor) {
            continue;
        }
        if (matches++ == 0) {
            deviceLink.storeInquiry(reply);
            selectedDriveRoot = root;
        }
    }
    return matches;
}

// A medium with files is there and readable; an empty or missing one is
// accepted when the reader says it is ready.
UpdateDialog::MediumState UpdateDialog::probeMedium() {
    win::WIN32_FIND_DATAA found{};
    const std::string pattern = selectedDriveRoot + kAllFilesPattern;
    const win::HANDLE search = system_.FindFirstFileA(pattern.c_str(), &found);
    if (search != win::invalidHandleValue()) {
        system_.FindClose(search);
        return MediumState::Ready;
    }
    if (deviceLink.testUnitReady(selectedDriveRoot) == 1) return MediumState::Ready;
    if (readerNotReady_.doModal() != win::IDOK) return MediumState::NotReady;
    powerOff();
    return MediumState::PoweredOff;
}

// The user has to remove the protection; there is no other way on.
void UpdateDialog::waitUntilWritable() {
    deviceLink.checkWriteProtect(selectedDriveRoot);
    while (deviceLink.mediaWritable == 0) {
        writeProtected_.doModal();
        deviceLink.checkWriteProtect(selectedDriveRoot);
    }
}

}  // namespace update

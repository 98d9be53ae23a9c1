#include "format/drive_select_dialog.h"

#include <vector>

#include "format/format_templates.h"
#include "format/reader_search.h"
#include "shell/removable_drives.h"

namespace format {

namespace {
constexpr win::WPARAM kFirstEntry = 0;
}

bool isListedReader(const device::InquiryStrings& identity) {
    return identity.vendor == kReaderVendor &&
           identity.product.find(kReaderProductFamily) != std::string::npos;
}

DriveSelectDialog::DriveSelectDialog(platform::Ui& ui, platform::System& system,
                                     device::DeviceLink& link)
    : shell::Dialog(ui, templateNumber(FormatTemplate::DriveSelect)),
      nothingSelectedNotice_(ui, templateNumber(FormatTemplate::NothingSelected)),
      noReaderNotice_(ui, templateNumber(FormatTemplate::NoReader)),
      system_(system),
      link_(link) {}

bool DriveSelectDialog::windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                                   win::LPARAM lParam, win::LRESULT& result) {
    if (shell::refuseSuspend(message, wParam, result)) return true;
    return shell::Dialog::windowProc(dialog, message, wParam, lParam, result);
}

bool DriveSelectDialog::onInitDialog() {
    shell::Dialog::onInitDialog();
    const int listed = fillDriveList();
    sendToCombo(win::CB_SETCURSEL, kFirstEntry, 0);
    if (listed == 0) {
        noReaderNotice_.doModal();
        endDialog(win::IDCANCEL);
    }
    return true;
}

// Each run lists the drives from scratch: a reader may have been plugged in
// or out since the last one.
int DriveSelectDialog::fillDriveList() {
    int listed = 0;
    shell::forEachRemovableDrive(system_, [&](int /*number*/, const std::string& root) {
        if (!isListedReader(inquireDrive(link_, root))) return;
        sendToCombo(win::CB_ADDSTRING, 0, reinterpret_cast<win::LPARAM>(root.c_str()));
        ++listed;
    });
    return listed;
}

void DriveSelectDialog::onOK() {
    const win::LRESULT selection = sendToCombo(win::CB_GETCURSEL, 0, 0);
    const win::LRESULT length =
        selection == win::CB_ERR
            ? win::CB_ERR
            : sendToCombo(win::CB_GETLBTEXTLEN, static_cast<win::WPARAM>(selection), 0);
    if (length == win::CB_ERR) {
        nothingSelectedNotice_.doModal();
        return;
    }
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    sendToCombo(win::CB_GETLBTEXT, static_cast<win::WPARAM>(selection),
                reinterpret_cast<win::LPARAM>(text.data()));
    selectedDrive = text.data();
    endDialog(win::IDOK);
}

win::LRESULT DriveSelectDialog::sendToCombo(win::UINT message, win::WPARAM wParam,
                                            win::LPARAM lParam) {
    return ui().SendDlgItemMessageA(window(), kDriveComboControl, message, wParam, lParam);
}

}  // namespace format

#pragma once

#include <string>

#include "device/device_link.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "shell/dialog.h"
#include "shell/notice_dialog.h"

namespace format {

// The reader's identity as the drive list wants it: the maker's vendor name,
// whole, and a product name that contains the reader's family name.
inline constexpr const char* kReaderVendor = "Kavo";
inline constexpr const char* kReaderProductFamily = "TKW-5";

// Stand-alone mode's drive choice: lists the removable drives holding the
// maker's reader and returns the root the user picks in `selectedDrive`.
// Ends with Cancel at once when there is no reader to pick.
class DriveSelectDialog : public shell::Dialog {
  public:
    // The inquiries go through `link`, the main dialog's device link, so the
    // drive list sees the readers exactly as the format procedure will.
    DriveSelectDialog(platform::Ui& ui, platform::System& system, device::DeviceLink& link);

    bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                    win::LRESULT& result) override;

    // The last pick; kept across runs of the dialog.
    std::string selectedDrive;

  protected:
    bool onInitDialog() override;
    void onOK() override;

  private:
    int fillDriveList();
    win::LRESULT sendToCombo(win::UINT message, win::WPARAM wParam, win::LPARAM lParam);

    shell::NoticeDialog nothingSelectedNotice_;
    shell::NoticeDialog noReaderNotice_;
    platform::System& system_;
    device::DeviceLink& link_;
};

// True for a reader the drive list offers.
bool isListedReader(const device::InquiryStrings& identity);

}  // namespace format

#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/device_link.h"
#include "format/drive_select_dialog.h"
#include "platform/services.h"
#include "shell/application.h"
#include "shell/main_dialog.h"
#include "shell/notice_dialog.h"
#include "shell/progress_dialog.h"

namespace format {

// After-update mode: the update program left a complete marker and start-up
// found the drive. Stand-alone mode: the user picks the drive.
enum class StartMode : int { AfterUpdate = 0, StandAlone = 1 };

// The format program's main dialog and controller: its OK button runs the
// format procedure, and it holds the marker strings, the drive and the device
// link for the whole run.
class FormatDialog : public shell::MainDialog {
  public:
    FormatDialog(const platform::Services& services, shell::Application& application);

    // The format procedure, run by OK. It ends the dialog with OK when it
    // reaches its closing notice; a quit leaves the dialog to end without OK.
    void runFormatProcedure();

  protected:
    void onOK() override { runFormatProcedure(); }

  private:
    using SenseBuffer = std::array<std::uint8_t, device::kRequestSenseLength>;

    bool chooseDrive();
    bool waitForMedium();
    void waitUntilWritable();
    bool formatMedium();
    bool followProgress();
    bool pollUntilOver();
    void openProgressWindow();
    bool poll(SenseBuffer& sense);
    bool mediumGoneAndUserStops();
    void finish(bool formatSeenToFinish);
    void quit();

    // The dialogs of the format procedure come first and the device link
    // last, the order in which the dialog builds its parts.
    shell::NoticeDialog writeProtectedNotice_;
    shell::NoticeDialog notReadyNotice_;
    DriveSelectDialog driveSelectDialog_;
    shell::NoticeDialog confirmNotice_;
    shell::NoticeDialog revisionDiffersNotice_;
    shell::NoticeDialog revisionMatchesNotice_;
    shell::NoticeDialog standAloneDoneNotice_;
    shell::NoticeDialog mediumAbsentNotice_;
    shell::ProgressDialog progressDialog_;
    shell::NoticeDialog notFormattedNotice_;

  public:
    std::string selectedDriveRoot;
    std::string markerRevision;
    StartMode startMode = StartMode::StandAlone;
    device::DeviceLink deviceLink;

  private:
    platform::Services services_;
    shell::Application& application_;
    bool quitDuringFormat_ = false;
};

}  // namespace format

#pragma once

#include <cstdint>
#include <string>

#include "device/device_link.h"
#include "firmware/firmware_image.h"
#include "firmware/flash_layout.h"
#include "platform/services.h"
#include "shell/application.h"
#include "shell/main_dialog.h"
#include "shell/notice_dialog.h"
#include "shell/progress_dialog.h"
#include "update/system_file.h"

namespace update {

// The firmware table beside the program, relative to the current directory.
inline constexpr const char* kFirmwareTablePath = ".\\firmtable.txt";
// The one vendor whose readers the program updates; compared exactly.
inline constexpr const char* kReaderVendor = "Kavo";

// Where the hand-off to the format program is left in HKEY_LOCAL_MACHINE.
inline constexpr const char* kRunOnceKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr const char* kRunOnceValue = "pendrel";
inline constexpr const char* kFormatProgramFile = "\\Ardlow.exe";
inline constexpr const char* kMarkerKey = "SOFTWARE\\Kavo Corporation\\Pendrel";
inline constexpr const char* kMarkerRevisionValue = "rev";
inline constexpr const char* kMarkerVendorValue = "vender";
inline constexpr const char* kMarkerProductValue = "product";
// The marker's values are staged in zero-filled buffers of these sizes; a
// longer text is cut so that its terminator still fits.
inline constexpr std::size_t kMarkerRevisionBufferSize = 10;
inline constexpr std::size_t kMarkerVendorBufferSize = 50;
inline constexpr std::size_t kMarkerProductBufferSize = 50;

// The main dialog of the update program and, at the same time, the update
// controller: it owns the notices, the drive list, the device link, the
// matched table row and the firmware image for the whole run, and its OK
// command is the update.
class UpdateDialog final : public shell::MainDialog {
  public:
    UpdateDialog(const platform::Services& services, shell::Application& application);

    bool preTranslateMessage(const win::MSG& message) override;

    // 1 when a row of the firmware table names the reader; its values are
    // then stored.
    int lookUpFirmwareRow();
    // Writes the firmware to the reader at `driveRoot`; 1 only when the
    // header and every block were accepted.
    int flashFirmware(std::string driveRoot);
    // Leaves the run-once entry and the marker for the format program, offers
    // the power-off and ends the dialog.
    void completeHandOff();
    // Enables the shutdown privilege and asks the system to switch off.
    void powerOff();

    // The run-once data for a current directory: the directory and the
    // format program's file, quoted when the path holds a blank.
    static std::string runOnceCommand(const std::string& currentDirectory);

  private:
    // The dialogs the controller runs, then the state of the run, in the
    // order the program builds them.
    shell::NoticeDialog noReader_;
    shell::ProgressDialog progress_;
    shell::NoticeDialog readerNotReady_;
    shell::NoticeDialog updateComplete_;
    shell::NoticeDialog powerOffPrompt_;
    shell::NoticeDialog severalReaders_;
    shell::NoticeDialog writeProtected_;
    shell::NoticeDialog updateStart_;
    shell::NoticeDialog deviceAccessFailure_;
    shell::NoticeDialog noTableRow_;
    shell::NoticeDialog flashFailure_;
    shell::NoticeDialog fileCannotOpen_;

  public:
    std::string removableDriveList;  // "4,5," for E: and F:
    std::int32_t removableDriveCount = 0;
    std::string selectedDriveRoot;
    device::DeviceLink deviceLink;
    std::string firmwareFileName;
    std::string headerName;
    std::string matchedProductName;
    std::string handoffRevision;
    firmware::FirmwareImage firmwareImage;
    // imageStart, imageLength, imageChecksum, the header's identity values,
    // the block count and the header block as sent.
    firmware::FlashPlan flashPlan;

  protected:
    bool onInitDialog() override;
    // The update command; the dialog ends only where the command says so.
    void onOK() override;

  private:
    enum class MediumState { Ready, PoweredOff, NotReady };

    void scanRemovableDrives();
    bool findReader();
    int searchReaders(const std::string& tableText);
    MediumState probeMedium();
    void waitUntilWritable();
    bool loadImage();
    bool sendBlocks();
    void quit();
    void writeRunOnceEntry();
    void writeHandOffMarker();

    platform::System& system_;
    platform::Registry& registry_;
    shell::Application& application_;
};

// The decoded text of the firmware table through an open file; false when the
// file cannot be read.
bool readFirmwareTableText(SystemFile& file, std::string& tableText);

}  // namespace update

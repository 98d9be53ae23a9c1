#pragma once

#include <deque>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "format/format_templates.h"
#include "platform/services.h"
#include "sim/reader_commands.h"
#include "sim/sim_registry.h"
#include "sim/sim_volumes.h"
#include "sim/usb_registry_builder.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"
#include "support/case_names.h"
#include "support/recording_clock.h"
#include "support/sim_process.h"

namespace formattest {

using testsupport::NameOfCase;

// One thing the program did to a window, at the moment it did it.
struct TimedEvent {
    std::string what;  // "modal", "create", "range", "position", "show", "redraw", "destroy"
    long long value = 0;
    win::DWORD tick = 0;

    bool operator==(const TimedEvent&) const = default;
};

// What one combo box held when it last changed.
struct ComboBox {
    std::vector<std::string> entries;
    win::LRESULT selection = win::CB_ERR;
};

// The templates as the language library numbers them.
constexpr int templateOf(format::FormatTemplate id) {
    return static_cast<int>(id);
}
inline constexpr int kAboutBox = templateOf(format::FormatTemplate::AboutBox);
inline constexpr int kMainDialog = templateOf(format::FormatTemplate::MainDialog);
inline constexpr int kWriteProtected = templateOf(format::FormatTemplate::WriteProtected);
inline constexpr int kNotReady = templateOf(format::FormatTemplate::NotReady);
inline constexpr int kRevisionDiffers = templateOf(format::FormatTemplate::RevisionDiffers);
inline constexpr int kRevisionMatches = templateOf(format::FormatTemplate::RevisionMatches);
inline constexpr int kVersionNotice = templateOf(format::FormatTemplate::VersionNotice);
inline constexpr int kAdministratorNotice = templateOf(format::FormatTemplate::AdministratorNotice);
inline constexpr int kDriveSelect = templateOf(format::FormatTemplate::DriveSelect);
inline constexpr int kNothingSelected = templateOf(format::FormatTemplate::NothingSelected);
inline constexpr int kConfirmFormat = templateOf(format::FormatTemplate::ConfirmFormat);
inline constexpr int kNoReader = templateOf(format::FormatTemplate::NoReader);
inline constexpr int kStandAloneDone = templateOf(format::FormatTemplate::StandAloneDone);
inline constexpr int kMediumAbsent = templateOf(format::FormatTemplate::MediumAbsent);
inline constexpr int kProgress = templateOf(format::FormatTemplate::Progress);
inline constexpr int kNotFormatted = templateOf(format::FormatTemplate::NotFormatted);
inline constexpr int kDriveCombo = format::kDriveComboControl;
inline constexpr int kProgressBar = format::kProgressBarControl;

inline constexpr const char* kEnglishLibrary = "FORMAT_ENG.dll";
// The reader's USB identity after its update.
inline constexpr std::uint16_t kUsbVendorId = 0x0d9f;
inline constexpr std::uint16_t kUpdatedUsbProductId = 0x1002;
inline constexpr std::uint16_t kUpdatedUsbRevision = 0x0200;
inline constexpr const char* kReaderVendor = "Kavo";
inline constexpr const char* kReaderProduct = "TKW-5 CardRW";
inline constexpr const char* kReaderRevision = "1.00";

// A machine for the format program: the process on the simulated system and
// dialogs (the program's own resources and, once installed, the English
// library that ships with it, a scripted user), the registry, the volumes
// with their readers and the virtual clock, handed to the program as its
// services. Every Ui call is stamped with the clock's time, and every wait the
// program asks for is written down. A test sets what happens at a moment on
// the clock's timetable (`clock.at`) and what happens just before a command
// reaches a reader with `volumes.before`.
class FormatMachine {
  public:
    FormatMachine();
    FormatMachine(const FormatMachine&) = delete;
    FormatMachine& operator=(const FormatMachine&) = delete;

    platform::Services services() { return {ui, system, registry, volumes, programClock}; }

    // A removable drive with a reader behind it, and the records Windows
    // keeps of it as a USB device with that revision (none for nullopt).
    sim::VirtualReader& addReader(char letter,
                                  sim::ReaderIdentity identity = {kReaderVendor, kReaderProduct,
                                                                  kReaderRevision},
                                  std::optional<std::uint16_t> usbRevision = kUpdatedUsbRevision);
    // A drive with no reader: only its type is known.
    void addDrive(char letter, win::UINT type);

    // The language library with every template the program needs but
    // `missing`, found under its name for the system's English locale.
    void installEnglishLibrary(const std::set<int>& missing = {});
    // The same library, already made the resource module, for tests that
    // run the dialogs without the start-up that would load it (the calls it
    // takes are not recorded).
    void useEnglishLibrary(const std::set<int>& missing = {});
    win::HMODULE englishLibrary() const { return process.loadedModule(kEnglishLibrary); }

    // The hand-off marker as the update program writes it; a value given as
    // nullopt is left out.
    void writeMarker(std::optional<std::string> vendor, std::optional<std::string> product,
                     std::optional<std::string> revision);
    void setMarkerValue(const std::string& name, win::DWORD type,
                        const std::vector<win::BYTE>& data);
    bool markerExists() const;

    // The commands the program sent to a drive, in order, as the reader reads them.
    std::vector<sim::ReaderCommand> commandsSentTo(char letter) const;
    std::vector<sim::ReaderCommand> allCommands() const;

    // What the program did to its windows and when, from the Ui calls.
    std::vector<TimedEvent> events() const;
    std::vector<TimedEvent> eventsNamed(const std::string& what) const;
    // The templates of the modal dialogs in the order they were opened.
    std::vector<int> shownTemplates() const;
    // Every combo box the program filled, in the order they were first used.
    std::vector<ComboBox> comboBoxes() const;
    // The person picks an item of the open dialog's list (CB_ERR clears it).
    void selectInCombo(win::HWND dialog, win::LRESULT index);
    // Hands a message to an open window's own procedure, as the platform
    // would; true when the procedure handled it.
    bool deliver(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                 win::LRESULT& result);

    testsupport::SimProcess process;
    sim::SystemSetup& setup = process.setup;
    testsupport::RecordingUi& ui = process.ui;
    testsupport::RecordingSystem& system = process.system;
    sim::VirtualClock clock;
    testsupport::RecordingClock programClock{clock};
    sim::SimRegistry registry;
    sim::SimVolumes volumes{clock};
    sim::UsbRegistryBuilder usbRecords{registry};

  private:
    std::deque<sim::VirtualReader> readers_;
};

}  // namespace formattest

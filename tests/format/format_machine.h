#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "format/format_templates.h"
#include "platform/services.h"
#include "sim/sim_registry.h"
#include "sim/sim_volumes.h"
#include "sim/usb_registry_builder.h"
#include "sim/virtual_reader.h"
#include "support/case_names.h"
#include "support/sim_process.h"

namespace formattest {

using testsupport::NameOfCase;

// Virtual time with a timetable: an action set for a moment runs as soon as a
// wait reaches it, which is how a test pulls a medium or asks to quit in the
// middle of the format.
class ScheduledClock final : public platform::Clock {
  public:
    void Sleep(win::DWORD milliseconds) override;
    win::DWORD GetTickCount() override { return now_; }

    void at(win::DWORD tick, std::function<void()> action);
    win::DWORD now() const { return now_; }
    std::vector<win::DWORD> sleeps() const { return sleeps_; }

  private:
    static constexpr win::DWORD kTimeLimitMs = 60 * 60 * 1000;

    win::DWORD now_ = 0;
    std::vector<win::DWORD> sleeps_;
    std::multimap<win::DWORD, std::function<void()>> timetable_;
};

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

// A reader with a hand on its plug: actions set for the n-th command of a
// kind run just before the reader sees that command.
class HookedReader final : public sim::ScsiDevice {
  public:
    HookedReader(platform::Clock& clock, sim::ReaderIdentity identity)
        : reader(clock, std::move(identity)) {}

    sim::ScsiReply execute(const sim::ScsiCommand& command) override;
    // `occurrence` counts from 1.
    void before(std::uint8_t operationCode, int occurrence, std::function<void()> action);

    sim::VirtualReader reader;

  private:
    std::map<std::uint8_t, int> seen_;
    std::multimap<std::pair<std::uint8_t, int>, std::function<void()>> hooks_;
};

inline constexpr std::uint8_t kTestUnitReady = 0x00;
inline constexpr std::uint8_t kRequestSense = 0x03;
inline constexpr std::uint8_t kInquiry = 0x12;
inline constexpr std::uint8_t kModeSense10 = 0x5A;
inline constexpr std::uint8_t kVendorCommand = 0xFA;

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
// with their readers and the clock, handed to the program as its services.
// Every Ui call is stamped with the clock's time.
class FormatMachine {
  public:
    FormatMachine();
    FormatMachine(const FormatMachine&) = delete;
    FormatMachine& operator=(const FormatMachine&) = delete;

    platform::Services services() { return {ui, system, registry, volumes, clock}; }

    // A removable drive with a reader behind it, and the records Windows
    // keeps of it as a USB device with that revision (none for nullopt).
    HookedReader& addReader(char letter,
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

    // The operation codes the program sent to a drive, in order.
    std::vector<std::uint8_t> operationsSentTo(char letter) const;
    std::vector<std::uint8_t> allOperations() const;

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
    ScheduledClock clock;
    sim::SimRegistry registry;
    sim::SimVolumes volumes{clock};
    sim::UsbRegistryBuilder usbRecords{registry};

  private:
    std::deque<HookedReader> readers_;
};

}  // namespace formattest

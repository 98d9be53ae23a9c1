#pragma once

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/services.h"
#include "sim/sim_registry.h"
#include "sim/sim_volumes.h"
#include "sim/usb_registry_builder.h"
#include "sim/virtual_reader.h"
#include "fake_system.h"
#include "fake_ui.h"

namespace formattest {

// Names a parameterised case after its `name` field.
struct CaseName {
    template <typename Info>
    std::string operator()(const Info& testInfo) const {
        return testInfo.param.name;
    }
};

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

// What one combo box held when its dialog was last asked about it.
struct ComboBox {
    std::vector<std::string> entries;
    win::LRESULT selection = win::CB_ERR;
};

// The shared recording dialogs, with the two controls the format program
// drives made real: combo boxes keep their entries and selection, and every
// dialog and progress-bar step is stamped with the virtual time.
class FormatUi final : public platform::Ui {
  public:
    FormatUi(testsupport::FakeUi& inner, platform::Clock& clock) : inner_(inner), clock_(clock) {}

    // Every combo box the program filled, in the order they were first used.
    const std::vector<ComboBox>& comboBoxes() const { return combos_; }
    // Lets a scripted user change the selection of an open dialog's combo.
    void selectInCombo(win::HWND dialog, int controlId, win::LRESULT index);
    const std::vector<TimedEvent>& events() const { return events_; }
    // The templates of the modal dialogs in the order they were opened.
    std::vector<int> shownTemplates() const;
    std::vector<TimedEvent> eventsNamed(const std::string& what) const;

    void setResourceModule(win::HMODULE module) override { inner_.setResourceModule(module); }
    platform::DialogProcedure* dialogProcedure(win::HWND window) override {
        return inner_.dialogProcedure(window);
    }
    win::INT_PTR DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) override;
    win::HWND CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) override;
    win::BOOL EndDialog(win::HWND dialog, win::INT_PTR result) override {
        return inner_.EndDialog(dialog, result);
    }
    win::BOOL DestroyWindow(win::HWND window) override;
    win::BOOL ShowWindow(win::HWND window, int command) override;
    win::BOOL RedrawWindow(win::HWND window, win::UINT flags) override;
    win::BOOL CenterWindow(win::HWND window) override;
    win::BOOL IsIconic(win::HWND window) override { return inner_.IsIconic(window); }
    win::HWND GetAncestor(win::HWND window, win::UINT flags) override {
        return inner_.GetAncestor(window, flags);
    }
    win::LRESULT SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) override {
        return inner_.SendMessageA(window, message, wParam, lParam);
    }
    win::LRESULT SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                     win::WPARAM wParam, win::LPARAM lParam) override;
    win::HMENU GetSystemMenu(win::HWND window, win::BOOL revert) override {
        return inner_.GetSystemMenu(window, revert);
    }
    win::BOOL AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id,
                          const char* text) override {
        return inner_.AppendMenuA(menu, flags, id, text);
    }
    int LoadStringA(win::UINT id, char* buffer, int bufferMax) override {
        return inner_.LoadStringA(id, buffer, bufferMax);
    }
    win::HICON LoadIconA(int id) override { return inner_.LoadIconA(id); }
    win::HDC BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) override {
        return inner_.BeginPaint(window, paint);
    }
    win::BOOL EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) override {
        return inner_.EndPaint(window, paint);
    }
    win::BOOL GetClientRect(win::HWND window, win::RECT* rect) override {
        return inner_.GetClientRect(window, rect);
    }
    int GetSystemMetrics(int index) override { return inner_.GetSystemMetrics(index); }
    win::BOOL DrawIcon(win::HDC dc, int x, int y, win::HICON icon) override {
        return inner_.DrawIcon(dc, x, y, icon);
    }
    win::LRESULT DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                win::LPARAM lParam) override {
        return inner_.DefWindowProcA(window, message, wParam, lParam);
    }
    win::BOOL PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                           win::UINT filterMax, win::UINT removeFlags) override {
        return inner_.PeekMessageA(message, window, filterMin, filterMax, removeFlags);
    }
    win::BOOL GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                          win::UINT filterMax) override {
        return inner_.GetMessageA(message, window, filterMin, filterMax);
    }
    win::BOOL TranslateMessage(const win::MSG* message) override {
        return inner_.TranslateMessage(message);
    }
    win::LRESULT DispatchMessageA(const win::MSG* message) override {
        return inner_.DispatchMessageA(message);
    }
    win::BOOL IsDialogMessageA(win::HWND dialog, win::MSG* message) override {
        return inner_.IsDialogMessageA(dialog, message);
    }
    void PostQuitMessage(int exitCode) override { inner_.PostQuitMessage(exitCode); }

  private:
    ComboBox& combo(win::HWND dialog, int controlId);
    win::LRESULT comboMessage(ComboBox& box, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam);
    void stamp(std::string what, long long value);

    static constexpr int kModalRunLimit = 200;

    testsupport::FakeUi& inner_;
    platform::Clock& clock_;
    int modalRuns_ = 0;
    std::vector<ComboBox> combos_;
    std::map<std::pair<win::HWND, int>, std::size_t> comboIndex_;
    std::vector<TimedEvent> events_;
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
inline constexpr int kAboutBox = 100;
inline constexpr int kMainDialog = 102;
inline constexpr int kWriteProtected = 137;
inline constexpr int kNotReady = 138;
inline constexpr int kRevisionDiffers = 139;
inline constexpr int kRevisionMatches = 140;
inline constexpr int kVersionNotice = 142;
inline constexpr int kAdministratorNotice = 143;
inline constexpr int kDriveSelect = 144;
inline constexpr int kNothingSelected = 145;
inline constexpr int kConfirmFormat = 149;
inline constexpr int kNoReader = 150;
inline constexpr int kStandAloneDone = 150;
inline constexpr int kMediumAbsent = 152;
inline constexpr int kProgress = 153;
inline constexpr int kNotFormatted = 154;
inline constexpr int kDriveCombo = 1000;
inline constexpr int kProgressBar = 1003;

inline constexpr const char* kEnglishLibrary = "FORMAT_ENG.dll";
// The reader's USB identity after its update.
inline constexpr std::uint16_t kUsbVendorId = 0x0d9f;
inline constexpr std::uint16_t kUpdatedUsbProductId = 0x1002;
inline constexpr std::uint16_t kUpdatedUsbRevision = 0x0200;
inline constexpr const char* kReaderVendor = "Kavo";
inline constexpr const char* kReaderProduct = "TKW-5 CardRW";
inline constexpr const char* kReaderRevision = "1.00";

// A machine for the format program: a system with drives, the dialogs with
// a scripted user, the registry, the volumes with their readers and the
// clock, handed to the program as its services.
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
    // run the dialogs without the start-up that would load it.
    void useEnglishLibrary(const std::set<int>& missing = {});

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

    testsupport::FakeUi fakeUi;
    ScheduledClock clock;
    FormatUi ui{fakeUi, clock};
    testsupport::FakeSystem system;
    sim::SimRegistry registry;
    sim::SimVolumes volumes{clock};
    sim::UsbRegistryBuilder usbRecords{registry};

  private:
    std::deque<HookedReader> readers_;
};

}  // namespace formattest

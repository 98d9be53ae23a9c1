#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/services.h"
#include "shell/application.h"
#include "sim/sim_registry.h"
#include "sim/sim_volumes.h"
#include "sim/usb_registry_builder.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"
#include "support/sim_process.h"
#include "update/update_templates.h"

namespace updatetest {

// The demonstration reader and the row of the table that fits it.
inline constexpr char kVendor[] = "Kavo";
inline constexpr char kProduct[] = "TKW-5 CardRW";
inline constexpr char kRevision[] = "1.00";
inline constexpr std::uint16_t kVendorId = 0x0d9f;
inline constexpr std::uint16_t kProductId = 0x1001;
inline constexpr std::uint16_t kDeviceRevision = 0x0100;
inline constexpr char kNewProductName[] = "TKW-5 CardRW II";
inline constexpr char kHeaderName[] = "VA-DE-LO Firmware Update R01";
inline constexpr char kFirmwareFile[] = "tkw5.s19";
inline constexpr char kTableFile[] = "firmtable.txt";
inline constexpr char kLibraryFile[] = "KELDRA_ENG.dll";
inline constexpr char kMatchingRow[] =
    "0d9f,1001,1002,TKW-5 CardRW;TKW-5 CardRW II;0100,VA-DE-LO Firmware Update R01;0200,tkw5.s19";

// A firmware file of `length` bytes from `start` in S2 records, ending with S9.
std::string firmwareText(std::uint32_t start, std::size_t length);
// The text as the program reads it: line-chained XOR encoded.
std::vector<std::uint8_t> encoded(const std::string& plain);

constexpr int templateOf(update::UpdateTemplate id) {
    return update::templateNumber(id);
}

// A machine for one run of the update program: the process on the
// simulated system and dialogs (with the English library that ships with
// the program and a scripted user), the in-memory registry with the USB
// records of the attached readers, the simulated volumes and virtual time.
// By default: an English system, Windows XP, an administrator, a removable
// drive E: holding a reader "Kavo" "TKW-5 CardRW" with a medium that has a
// file on it, and the table and firmware file in the current directory.
class UpdateMachine {
  public:
    UpdateMachine();
    UpdateMachine(const UpdateMachine&) = delete;
    UpdateMachine& operator=(const UpdateMachine&) = delete;

    // Another reader on `letter`, with its own USB records.
    sim::VirtualReader& addReader(char letter, const std::string& vendor,
                                  const std::string& product);
    void setTable(const std::string& plainText);
    void setFirmware(const std::string& plainText);
    // The English library loaded and made the resource module, for tests
    // that run the dialogs without the start-up that would load it (the
    // calls it takes are not recorded).
    void useLibrary();
    // The library's module; null until it is loaded.
    win::HMODULE library() const { return process.loadedModule(kLibraryFile); }

    template <typename Id>
    int shown(Id id) const {
        return ui.modalCount(static_cast<int>(id));
    }
    std::vector<int> shownTemplates() const { return ui.modalTemplates(); }
    void answer(update::UpdateTemplate id, win::INT_PTR button) {
        process.user.answer(templateOf(id), button);
    }
    void answerAlways(update::UpdateTemplate id, win::INT_PTR button) {
        process.user.answerAlways(templateOf(id), button);
    }
    // The system calls that take part in switching off, in order.
    std::vector<std::string> powerCalls() const;
    bool poweredOff() const { return system.count("ExitWindowsEx") != 0; }

    // Nothing acquired is left behind: no volume handle or lock, no registry
    // key, no file or search, no token, no SID (the single-instance mutex
    // stays).
    void expectEverythingReleased() const;

    testsupport::SimProcess process;
    sim::SystemSetup& setup = process.setup;
    testsupport::RecordingUi& ui = process.ui;
    testsupport::RecordingSystem& system = process.system;
    sim::VirtualClock clock;
    sim::SimRegistry registry;
    sim::SimVolumes volumes{clock};
    sim::UsbRegistryBuilder usb{registry};
    std::vector<std::unique_ptr<sim::VirtualReader>> readers;
    sim::VirtualReader& reader;
    platform::Services services{ui, system, registry, volumes, clock};
    shell::Application application{ui};

  private:
    sim::VirtualReader& attachReader(char letter, const std::string& vendor,
                                     const std::string& product);
};

}  // namespace updatetest

// The machine around the road programs under wine, as a console tool the
// road's script runs between them:
//
//   road_machine lay STATE           lays the reader's records (mount record,
//                                    USBSTOR and USB keys) into the registry
//   road_machine power-cycle STATE   the reader comes up again: with a whole
//                                    firmware taken, under its new identity,
//                                    whose records are laid as for a device
//                                    Windows meets for the first time
//   road_machine stream STATE FILE   the header and blocks the reader took,
//                                    in order, into FILE
//   road_machine read-back           the run-once entry and the marker
//   road_machine version             the Windows version this program is told
//
// road_machine_manifested is the same tool with the programs' manifest, so
// the two show what the manifest's supported-OS entries change.
//
// The records go into wine's registry through the registry seam, laid by the
// builder the simulated machine uses.
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "road_reader.h"
#include "sim/registry_records.h"
#include "sim/usb_registry_builder.h"
#include "sim/virtual_reader.h"
#include "win32/win_clock.h"
#include "win32/win_registry.h"
#include "win32/win_system.h"

namespace {

constexpr int kUsage = 2;
constexpr int kFailed = 1;
constexpr char kRunOncePath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
constexpr char kRunOnceValue[] = "pendrel";
constexpr char kMarkerPath[] = "SOFTWARE\\Kavo Corporation\\Pendrel";
constexpr const char* kMarkerValues[] = {"rev", "vender", "product"};
constexpr win::DWORD kValueBufferSize = 1024;
// Wine's mount manager writes its own mount record for each drive when a
// session starts; the reader's record must come after it, not be
// overwritten by it.
constexpr win::DWORD kMountWaitMs = 10000;
constexpr win::DWORD kMountPollMs = 100;

bool load(const char* path, road::ReaderState& state) {
    std::string error;
    if (road::loadState(path, state, error)) return true;
    std::fprintf(stderr, "road_machine: %s\n", error.c_str());
    return false;
}

bool mountRecordPresent(win32::WinRegistry& registry, const std::string& name) {
    win::HKEY key = nullptr;
    if (registry.RegOpenKeyExA(win::hkeyLocalMachine(), sim::kMountedDevicesPath, 0,
                               win::KEY_QUERY_VALUE, &key) != win::ERROR_SUCCESS) {
        return false;
    }
    win::DWORD length = 0;
    const win::LONG status =
        registry.RegQueryValueExA(key, name.c_str(), nullptr, nullptr, &length);
    registry.RegCloseKey(key);
    return status == win::ERROR_SUCCESS;
}

void awaitWinesMountRecord(win32::WinRegistry& registry, char letter) {
    const std::string name = std::string("\\DosDevices\\") + letter + ':';
    win32::WinClock clock;
    for (win::DWORD waited = 0; waited < kMountWaitMs; waited += kMountPollMs) {
        if (mountRecordPresent(registry, name)) return;
        clock.Sleep(kMountPollMs);
    }
    std::printf("wine wrote no mount record for %c: within %lu ms\n", letter,
                static_cast<unsigned long>(kMountWaitMs));
}

// The USB ids as the Windows wine gives spells them: lower-case digits on XP,
// upper case from Vista on.
bool machinesSpelling(sim::UsbIdSpelling& spelling) {
    win32::WinSystem system;
    win::OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (system.GetVersionExA(&info) == 0) return false;
    spelling = sim::usbIdSpellingOf(info.dwMajorVersion);
    return true;
}

int lay(const road::ReaderState& state) {
    sim::UsbIdSpelling spelling{};
    if (!machinesSpelling(spelling)) {
        std::fprintf(stderr, "road_machine: no Windows version to spell the USB ids by\n");
        return kFailed;
    }
    win32::WinRegistry registry;
    awaitWinesMountRecord(registry, state.letter);
    sim::SeamRecords records(registry);
    const sim::UsbStorageRecords laid =
        sim::UsbRegistryBuilder(records, spelling)
            .attach(sim::usbStorageDeviceOf(state.letter, state.identity));
    std::printf("mount %s\nstorage %s\\%s\nusb %s\\%s\n", laid.mountValueName.c_str(),
                laid.storageKeyPath.c_str(), laid.storageInstanceName.c_str(),
                laid.usbKeyPath.c_str(), laid.usbInstanceName.c_str());
    return 0;
}

int powerCycle(const char* path) {
    road::ReaderState state;
    if (!load(path, state)) return kFailed;
    const bool changed = road::powerCycle(state);
    std::printf("identity %s\n", changed ? "new" : "unchanged");
    if (!road::saveState(path, state)) return kFailed;
    return changed ? lay(state) : 0;
}

int writeStream(const char* statePath, const char* outPath) {
    road::ReaderState state;
    if (!load(statePath, state)) return kFailed;
    win32::WinClock clock;
    sim::VirtualReader reader(clock, state.identity.inquiry);
    reader.restoreReceivedBlocks(state.received);
    const std::vector<std::uint8_t> stream = reader.getReceivedStream();
    std::ofstream out(outPath, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stream.data()),
              static_cast<std::streamsize>(stream.size()));
    std::printf("stream %zu bytes, %zu blocks\n", stream.size(), state.received.size());
    return out ? 0 : kFailed;
}

// One value as text, or "missing".
std::string valueText(win32::WinRegistry& registry, const char* keyPath, const char* name) {
    win::HKEY key = nullptr;
    if (registry.RegOpenKeyExA(win::hkeyLocalMachine(), keyPath, 0, win::KEY_QUERY_VALUE, &key) !=
        win::ERROR_SUCCESS) {
        return "missing (no key)";
    }
    std::vector<win::BYTE> data(kValueBufferSize);
    win::DWORD length = kValueBufferSize;
    win::DWORD type = 0;
    const win::LONG status = registry.RegQueryValueExA(key, name, &type, data.data(), &length);
    registry.RegCloseKey(key);
    if (status != win::ERROR_SUCCESS) return "missing";
    std::string text(reinterpret_cast<const char*>(data.data()), length);
    const std::string shown = text.substr(0, text.find('\0'));
    return "type " + std::to_string(type) + " length " + std::to_string(length) + " \"" + shown +
           "\"";
}

int readBack() {
    win32::WinRegistry registry;
    std::printf("runonce %s = %s\n", kRunOnceValue,
                valueText(registry, kRunOncePath, kRunOnceValue).c_str());
    for (const char* name : kMarkerValues)
        std::printf("marker %s = %s\n", name, valueText(registry, kMarkerPath, name).c_str());
    return 0;
}

int version() {
    win32::WinSystem system;
    win::OSVERSIONINFOA info{};
    info.dwOSVersionInfoSize = sizeof info;
    if (system.GetVersionExA(&info) == 0) return kFailed;
    std::printf("version %u.%u build %u\n", static_cast<unsigned>(info.dwMajorVersion),
                static_cast<unsigned>(info.dwMinorVersion),
                static_cast<unsigned>(info.dwBuildNumber));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string_view command = argc > 1 ? argv[1] : "";
    road::ReaderState state;
    if (command == "lay" && argc == 3) return load(argv[2], state) ? lay(state) : kFailed;
    if (command == "power-cycle" && argc == 3) return powerCycle(argv[2]);
    if (command == "stream" && argc == 4) return writeStream(argv[2], argv[3]);
    if (command == "read-back" && argc == 2) return readBack();
    if (command == "version" && argc == 2) return version();
    std::fprintf(stderr,
                 "usage: road_machine lay STATE | power-cycle STATE | stream STATE FILE | "
                 "read-back | version\n");
    return kUsage;
}

#pragma once

// The machine's insides, shared by the files that make up sim::Machine: the
// machine and its public face (machine.cpp), the command faults and the
// answering device (machine_commands.cpp), time and dialog incidents
// (machine_incidents.cpp), the process observer and what the programs do
// with the package (machine_observer.cpp), and the power (machine_power.cpp).
// Nothing outside these files includes it.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/firmware_table.h"
#include "sim/command_hooks.h"
#include "sim/machine.h"
#include "sim/reader_commands.h"
#include "sim/resource_script.h"
#include "sim/usb_registry_builder.h"

namespace sim {

// Which device call a volume call is, as the faults and incidents name them.
struct Classified {
    DeviceCall call = DeviceCall::Operation;
    std::uint8_t operationCode = 0;
    std::optional<std::uint16_t> block;
};

// A pass-through CDB as the reader decodes it.
Classified classifyCdb(std::span<const std::uint8_t> cdb);
bool callMatches(DeviceCall wanted, std::uint8_t wantedCode, const Classified& call);

// What the volumes hand a reader's commands to: the reader itself, unless a
// fault has put the device's answer for the command on its way in place.
class AnsweringDevice final : public ScsiDevice {
  public:
    explicit AnsweringDevice(ScsiDevice& device) : device_(device) {}

    ScsiReply execute(const ScsiCommand& command) override;
    void answerNextWith(ScsiReply reply) { answer_ = std::move(reply); }
    void forgetAnswer() { answer_.reset(); }

  private:
    ScsiDevice& device_;
    std::optional<ScsiReply> answer_;
};

struct ReaderState {
    char letter = 'E';
    unsigned hubPort = 1;
    DeviceIdentity before;
    DeviceIdentity current;
    std::string serialNumber;
    ReaderBecomes becomes;
    std::unique_ptr<VirtualReader> device;
    std::unique_ptr<AnsweringDevice> front;
    int knownFormats = 0;
    std::vector<std::uint8_t> consumedStream;  // the stream its last new identity came from
};

struct IncidentState {
    int seen = 0;
    bool fired = false;
};

// The row of the package's table that names a reader, and where it stands.
struct TableMatch {
    std::size_t line = 0;  // counted from 1
    firmware::FirmwareTableRow row;
};

struct Machine::Impl {
    explicit Impl(Scenario s);
    ~Impl();

    Scenario scenario;
    SystemSetup setup;
    MutexTable mutexes;
    SimRegistry registry;
    VirtualClock virtualClock;  // the time incidents are on its timetable
    SimVolumes simVolumes{virtualClock};
    std::unique_ptr<platform::Volumes> volumes;  // the volumes with the faults in front
    std::vector<ReaderState> readers;
    std::map<char, bool> plainMedium;  // drives that are no readers

    std::map<std::string, QueuedUserScript> scriptedUsers;  // by nameKey of the program
    std::map<std::string, UserScript*> users;
    std::vector<ProgramFile> programs;
    std::vector<std::unique_ptr<MachineProcess>> processes;

    std::vector<MachineEvent> events;
    std::function<void(const MachineEvent&)> sink;
    std::function<void(const std::string&)> starter;
    std::function<void()> guardHandler;
    LoopGuardLimits limits;

    std::vector<IncidentState> incidentStates;
    // The command and poll incidents, run before the command faults are looked at.
    CommandHooks<Classified> commandHooks;
    std::vector<int> faultSeen;
    std::map<char, int> pollsSinceFormat;  // only drives that got a format command

    std::map<std::string, std::shared_ptr<const ResourceScript>> scripts;  // by host path
    std::string pendingOutput;              // standard output not yet ended by a line feed
    std::vector<std::int64_t> outputLines;  // lines each running process has written
    // Drives whose held volume was released after a refused block: what was
    // refused, until a command reaches the drive again.
    std::map<char, std::string> releasedAfterRefusal;
    bool poweredOff = false;
    int powerCycles = 0;
    bool markerWritten = false;

    std::string currentProgram() const;
    void record(EventKind kind, std::vector<EventField> fields);
    ReaderState* readerOn(char letter);
    AnsweringDevice* frontOf(char letter);

    // Incidents (machine_incidents.cpp).
    bool programMatches(const std::optional<std::string>& wanted) const;
    void scheduleIncidents();
    void fire(std::size_t index);
    bool isPoll(char letter, const Classified& call) const;
    void dialogShown(int templateId);
    void commandComing(char letter, const Classified& call);

    // Command faults (machine_commands.cpp).
    const CommandFault* faultFor(char letter, const Classified& call);

    // Resources (machine.cpp).
    std::optional<std::filesystem::path> findFile(const std::string& fileName) const;
    std::shared_ptr<const ResourceScript> script(const std::string& fileName, std::string& problem);
    win::HMODULE loadLibrary(SimUi& ui, std::set<win::HMODULE>& loaded, const std::string& name);

    // What the programs do with the package and the readers (machine_observer.cpp).
    void programWrote(std::string_view text);
    void outputLine(std::string text);
    void flushOutput();
    void fileOpened(const std::string& windowsPath, const std::optional<std::string>& hostPath,
                    win::DWORD error, std::span<const std::uint8_t> content);
    void firmwareFileOpened(const std::string& windowsPath, const std::string& hostPath,
                            std::span<const std::uint8_t> content);
    void headerTaken(char letter);
    std::optional<TableMatch> tableRowFor(const DeviceIdentity& identity) const;

    // Power (machine_power.cpp).
    void switchOff(win::UINT flags);
    void noteFormats();
    std::optional<std::uint16_t> promisedRevision(const DeviceIdentity& identity) const;
    void enumerate(ReaderState& reader);
    void layRegistry();
    UsbStorageDevice usbDevice(const ReaderState& reader) const;
    UsbIdSpelling usbIdSpelling() const { return usbIdSpellingOf(scenario.machine.majorVersion); }
    UsbRegistryBuilder usbRecords() { return UsbRegistryBuilder(registry, usbIdSpelling()); }
};

// The seams in front of the machine's own, each in the file of its concern.
std::unique_ptr<platform::Volumes> makeFaultingVolumes(Machine::Impl& machine, SimVolumes& volumes);
std::unique_ptr<UiObserver> makeProcessObserver(Machine::Impl& machine);

// Texts the events share.
std::string driveText(char letter);
std::string trimmedRight(std::string_view text);
std::string textUpToZero(const std::vector<win::BYTE>& data);
std::string hexBytes(const std::vector<win::BYTE>& data);
std::string senseText(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq);

}  // namespace sim

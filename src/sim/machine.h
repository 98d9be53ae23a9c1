#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "firmware/chained_xor.h"
#include "firmware/flash_layout.h"
#include "firmware/standard_output.h"
#include "platform/services.h"
#include "sim/machine_events.h"
#include "sim/scenario.h"
#include "sim/sim_registry.h"
#include "sim/sim_system.h"
#include "sim/sim_ui.h"
#include "sim/sim_volumes.h"
#include "sim/user_script.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"

namespace sim {

// Registry places the machine itself looks at.
inline constexpr char kRunOnceKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce";
inline constexpr char kMarkerKeyPath[] = "SOFTWARE\\Kavo Corporation\\Pendrel";

// A program file the machine can start, and the resource script that stands
// for the resources the program carries itself.
struct ProgramFile {
    std::string fileName;  // "Velcrest.exe"
    std::string resourceScript;
};

// Where a command line leads, as Windows reads it: a quoted path is taken
// whole; an unquoted one is tried at each blank, shortest first, with ".exe"
// added to a name without extension, and the first that exists is started.
struct ResolvedCommand {
    std::string windowsPath;                 // what Windows starts; empty when nothing exists
    std::optional<std::string> programFile;  // the program of the folder it names, if any
};

struct ReaderSummary {
    char letter = 'E';
    DeviceIdentity before;
    DeviceIdentity after;
    FirmwareReception firmware;
    int formatsCompleted = 0;
    int formatsAborted = 0;
    // The header and every block the reader took, in order, as it took them.
    std::vector<std::uint8_t> receivedStream;
};

struct MachineSummary {
    std::vector<ReaderSummary> readers;
    bool markerWritten = false;  // by a program, at any time
    bool markerPresent = false;  // at the end
    std::vector<std::pair<std::string, std::string>> markerValues;
    std::vector<std::pair<std::string, std::string>> runOnceValues;  // left at the end
    int powerCycles = 0;
    bool poweredOff = false;  // the machine is off at the end
    std::size_t openRegistryKeys = 0;
    std::size_t openVolumeHandles = 0;
    std::vector<char> lockedVolumes;
};

// The chained decoder's state is a process's own: a program starts with it
// fresh, and a run it interrupted gets its own state back when it ends.
class ProcessDecoderState {
  public:
    ProcessDecoderState() : outer_(std::exchange(firmware::chainedDecoderState(), {})) {}
    ~ProcessDecoderState() { firmware::chainedDecoderState() = outer_; }
    ProcessDecoderState(const ProcessDecoderState&) = delete;
    ProcessDecoderState& operator=(const ProcessDecoderState&) = delete;

  private:
    firmware::ChainedDecoderState outer_;
};

// One program run: a process with its own system state, decoder state,
// windows and message queue, on the machine's registry, volumes and clock.
class MachineProcess {
  public:
    ~MachineProcess();
    MachineProcess(const MachineProcess&) = delete;
    MachineProcess& operator=(const MachineProcess&) = delete;

    const std::string& program() const { return program_; }
    const platform::Services& services() const { return services_; }
    SimSystem& system() { return *system_; }
    SimUi& ui() { return *ui_; }

  private:
    friend class Machine;
    MachineProcess(std::string program, std::unique_ptr<SimSystem> system,
                   std::unique_ptr<SimUi> ui, std::unique_ptr<UiObserver> observer,
                   platform::Registry& registry, platform::Volumes& volumes, platform::Clock& clock,
                   firmware::OutputWriter output);

    ProcessDecoderState decoder_;
    std::string program_;
    std::unique_ptr<SimSystem> system_;
    std::unique_ptr<UiObserver> observer_;
    std::unique_ptr<SimUi> ui_;
    platform::Services services_;
    // What the program writes to its standard output goes to the transcript.
    firmware::StandardOutputRedirect output_;
};

// The whole simulated machine of a scenario: registry, drives and readers,
// the clock, the person at it, the faults and incidents, and the power. It
// starts programs as processes but does not know what they are: the caller
// runs the application object on the process's services (velcrest-sim's
// program table, or a test).
class Machine {
  public:
    // The scenario's folders must be filled in (see scenario.h).
    explicit Machine(Scenario scenario);
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // --- set-up by the runner ---------------------------------------------------

    void setProgramFiles(std::vector<ProgramFile> programs);
    // Runs a program when an incident starts one (a second instance, say).
    void setProgramStarter(std::function<void(const std::string& programFile)> starter);
    // Told when a program's loop guard trips; only the runner can end the
    // program where it stands.
    void setGuardHandler(std::function<void()> handler);
    void setLoopGuard(LoopGuardLimits limits);
    // Every event as it happens, besides keeping it.
    void setEventSink(std::function<void(const MachineEvent&)> sink);
    // The person answering one program's dialogs instead of the scenario's
    // answers (a person at the terminal); scriptedUser gives those answers.
    void setUser(const std::string& programFile, UserScript& user);
    UserScript& scriptedUser(const std::string& programFile);

    // --- processes --------------------------------------------------------------

    // Starts the program as a new process; runs may nest (a second instance
    // started while the first is open).
    MachineProcess& startProcess(const std::string& programFile);
    // Ends the innermost process, as process exit does: its windows, handles
    // and mutexes go; `killed` when it was ended from outside.
    void endProcess(bool killed = false);
    MachineProcess* currentProcess();

    // --- power ------------------------------------------------------------------

    // A program has asked Windows to switch off (ExitWindowsEx) and its run
    // has ended.
    bool poweredOff() const;
    // The next power-on: every reader is enumerated again; one that took a
    // whole image comes up with its new identity, and the registry records
    // follow as Windows writes them.
    void powerOn();
    // Windows restarts without a program asking (the user does it).
    void restart();
    // The log-on after a power-on: each run-once value is removed and its
    // command run (values named with a leading '!' are removed after); a
    // command that leads to one of the program files is handed to `start`.
    void logOn(const std::function<void(const std::string& programFile)>& start);
    ResolvedCommand resolveCommandLine(std::string_view commandLine) const;

    // --- inspection -------------------------------------------------------------

    const Scenario& scenario() const;
    const std::vector<MachineEvent>& events() const;
    void record(EventKind kind, std::vector<EventField> fields);
    SimRegistry& registry();
    SimVolumes& volumes();
    VirtualClock& clock();
    VirtualReader& reader(std::size_t index);
    MachineSummary summary() const;

    // The machine's insides, defined beside the machine.
    struct Impl;

  private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace sim

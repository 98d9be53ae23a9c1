#include "sim/machine.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "sim/machine_impl.h"
#include "sim/windows_names.h"

namespace sim {

namespace {

constexpr std::string_view kLibraryExtension = ".dll";
constexpr std::string_view kScriptExtension = ".rc";
constexpr const char* kFolderSeparators = "\\/";
constexpr char kRunKeyPath[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

std::vector<std::string> multiStrings(const std::vector<win::BYTE>& data) {
    std::vector<std::string> strings;
    std::string current;
    for (const win::BYTE b : data) {
        if (b != 0) {
            current += static_cast<char>(b);
        } else if (!current.empty()) {
            strings.push_back(current);
            current.clear();
        } else {
            break;
        }
    }
    if (!current.empty()) strings.push_back(current);
    return strings;
}

// A registry value as a person reads it in a transcript.
std::vector<EventField> valueFields(win::DWORD type, const std::vector<win::BYTE>& data) {
    std::vector<EventField> fields{{field::kType, registryTypeName(type)},
                                   {field::kBytes, static_cast<std::int64_t>(data.size())}};
    if (type == win::REG_SZ || type == win::REG_EXPAND_SZ) {
        fields.push_back({field::kDataText, textUpToZero(data)});
        fields.push_back({field::kTerminated, !data.empty() && data.back() == 0});
    } else if (type == win::REG_MULTI_SZ) {
        fields.push_back({field::kDataTexts, multiStrings(data)});
    } else if (type == win::REG_DWORD && data.size() == sizeof(win::DWORD)) {
        win::DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        fields.push_back({field::kDataNumber, static_cast<std::int64_t>(number)});
    } else {
        fields.push_back({field::kDataText, hexBytes(data)});
    }
    return fields;
}

DeviceIdentity identityOf(const ScenarioReader& reader) {
    return DeviceIdentity{reader.inquiry, reader.vendorId, reader.productId, reader.deviceRevision};
}

}  // namespace

std::string driveText(char letter) {
    return std::string(1, letter) + ":";
}

std::string trimmedRight(std::string_view text) {
    std::size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1])) != 0) --end;
    return std::string(text.substr(0, end));
}

std::string textUpToZero(const std::vector<win::BYTE>& data) {
    const auto end = std::find(data.begin(), data.end(), win::BYTE{0});
    return std::string(data.begin(), end);
}

// --- building the machine ---------------------------------------------------------

Machine::Impl::Impl(Scenario s) : scenario(std::move(s)) {
    volumes = makeFaultingVolumes(*this, simVolumes);
    const ScenarioMachine& m = scenario.machine;

    setup.majorVersion = m.majorVersion;
    setup.minorVersion = m.minorVersion;
    setup.buildNumber = m.buildNumber;
    setup.platformId = m.platformId;
    setup.tokenGroups = m.tokenGroups;
    setup.shutdownPrivilegeGrantable = m.shutdownPrivilege;
    setup.localeAbbreviation = m.locale;
    setup.faults = m.faults;
    setup.currentDirectory = m.currentDirectory;
    setup.hostProgramFolder = m.programFolder.string();

    const std::vector<ScenarioDrive> drives =
        m.drives ? *m.drives
                 : std::vector<ScenarioDrive>{
                       {'C', win::DRIVE_FIXED, true, {"AUTOEXEC.BAT", "boot.ini"}},
                       {'D', win::DRIVE_CDROM, false, {}}};
    for (const ScenarioDrive& drive : drives) {
        plainMedium[drive.letter] = drive.mediumPresent;
        SimDrive simDrive;
        simDrive.type = drive.type;
        simDrive.files = drive.files;
        const char letter = drive.letter;
        simDrive.mediumPresent = [this, letter] { return plainMedium[letter]; };
        setup.drives[letter] = std::move(simDrive);
    }

    unsigned port = 1;
    for (const ScenarioReader& described : m.readers) {
        ReaderState reader;
        reader.letter = described.letter;
        reader.hubPort = port++;
        reader.before = identityOf(described);
        reader.current = reader.before;
        reader.serialNumber = described.serialNumber;
        reader.becomes = described.becomes;
        reader.device = std::make_unique<VirtualReader>(virtualClock, described.inquiry);
        reader.device->setDeviceSpecificParameter(described.deviceSpecificParameter);
        reader.device->setFormatDuration(described.formatDurationMs);
        reader.device->refuseFormat(described.refuseFormat);
        if (!described.mediumPresent) reader.device->removeMedium();
        reader.front = std::make_unique<AnsweringDevice>(*reader.device);
        simVolumes.attach(reader.letter, *reader.front);

        SimDrive simDrive;
        simDrive.type = win::DRIVE_REMOVABLE;
        simDrive.files = described.files;
        VirtualReader* device = reader.device.get();
        simDrive.mediumPresent = [device] { return device->mediumPresent(); };
        setup.drives[reader.letter] = std::move(simDrive);
        readers.push_back(std::move(reader));
    }
    // Every drive letter has a volume that opens, a floppy drive without a
    // disk too; only the readers answer pass-through commands.
    for (const ScenarioDrive& drive : drives) simVolumes.attachPlainDisk(drive.letter);

    layRegistry();
    for (const RegistryFault& fault : scenario.registryFaults) registry.injectFault(fault);
    registry.setObserver([this](const RegistryEvent& change) {
        std::vector<EventField> fields{{field::kKey, change.keyPath}};
        EventKind kind = EventKind::RegistryKeyCreated;
        if (change.kind == RegistryEvent::Kind::ValueSet) {
            kind = EventKind::RegistryValueSet;
            fields.push_back({field::kName, change.valueName});
            for (EventField& field : valueFields(change.type, change.data)) fields.push_back(field);
        } else if (change.kind == RegistryEvent::Kind::KeyDeleted) {
            kind = EventKind::RegistryKeyDeleted;
        }
        if (kind != EventKind::RegistryKeyDeleted && sameName(change.keyPath, kMarkerKeyPath))
            markerWritten = true;
        record(kind, std::move(fields));
    });

    for (const auto& [program, answers] : scenario.user.programs) {
        QueuedUserScript& user = scriptedUsers[nameKey(program)];
        for (const auto& [templateId, queue] : answers.queued) {
            for (const UserAction& action : queue) user.queueAnswer(templateId, action);
        }
        for (const auto& [templateId, action] : answers.defaults)
            user.setDefaultAnswer(templateId, action);
    }
    incidentStates.resize(scenario.incidents.size());
    faultSeen.resize(scenario.faults.size());
    scheduleIncidents();
}

// The records of a machine that has been in use for a while: the base
// machine's disks and hubs, what Windows keeps for start-up, then each
// reader as it was plugged in.
void Machine::Impl::layRegistry() {
    UsbRegistryBuilder builder = usbRecords();
    builder.layBaseMachine();
    registry.setString(kRunKeyPath, "SoundTray", "C:\\Program Files\\Audio\\tray.exe");
    if (scenario.machine.runOnceKeyPresent) registry.createKey(kRunOnceKeyPath);
    for (const ReaderState& reader : readers) builder.attach(usbDevice(reader));
    for (const ScenarioRegistryKey& key : scenario.machine.registryKeys) {
        registry.createKey(key.path);
        for (const auto& [name, data] : key.values) registry.setString(key.path, name, data);
    }
}

Machine::Impl::~Impl() = default;

std::string Machine::Impl::currentProgram() const {
    return processes.empty() ? std::string() : processes.back()->program();
}

void Machine::Impl::record(EventKind kind, std::vector<EventField> fields) {
    MachineEvent event{kind, virtualClock.now(), currentProgram(), std::move(fields)};
    events.push_back(event);
    if (sink) sink(events.back());
}

ReaderState* Machine::Impl::readerOn(char letter) {
    for (ReaderState& reader : readers) {
        if (reader.letter == letter) return &reader;
    }
    return nullptr;
}

AnsweringDevice* Machine::Impl::frontOf(char letter) {
    ReaderState* reader = readerOn(letter);
    return reader != nullptr ? reader->front.get() : nullptr;
}

// --- language libraries and the programs' own resources ---------------------------

// A bare name is looked for beside the program, then among the libraries
// every machine has; a name with a folder only where it leads.
std::optional<std::filesystem::path> Machine::Impl::findFile(const std::string& fileName) const {
    const std::string& here = setup.currentDirectory;
    if (auto found = hostFileFor({here, scenario.machine.programFolder}, fileName, here))
        return found;
    const bool bareName = fileName.find_first_of(kFolderSeparators) == std::string::npos;
    if (!scenario.machine.useLibraryFolder || !bareName) return std::nullopt;
    return hostFileFor({here, scenario.machine.libraryFolder}, fileName, here);
}

std::shared_ptr<const ResourceScript> Machine::Impl::script(const std::string& fileName,
                                                            std::string& problem) {
    const std::optional<std::filesystem::path> path = findFile(fileName);
    if (!path) {
        problem = "no " + fileName + " in the program folder";
        return nullptr;
    }
    const std::string key = path->string();
    const auto cached = scripts.find(key);
    if (cached != scripts.end()) return cached->second;
    ScriptReading reading = readResourceScriptFile(*path);
    if (!reading.ok()) {
        problem = reading.error->describe();
        return nullptr;
    }
    auto loaded = std::make_shared<const ResourceScript>(std::move(reading.script));
    scripts[key] = loaded;
    return loaded;
}

// A library stands for its resource script of the same name: "KELDRA_ENG.dll"
// is KELDRA_ENG.rc, found where Windows would look first, beside the program.
win::HMODULE Machine::Impl::loadLibrary(SimUi& ui, std::set<win::HMODULE>& loaded,
                                        const std::string& name) {
    std::string fileName = name;
    if (nameEndsWith(fileName, kLibraryExtension))
        fileName.resize(fileName.size() - kLibraryExtension.size());
    fileName += kScriptExtension;
    std::string problem;
    const std::shared_ptr<const ResourceScript> resources = script(fileName, problem);
    if (resources == nullptr) {
        record(EventKind::LibraryMissing, {{field::kLibrary, name}, {field::kReason, problem}});
        return nullptr;
    }
    const win::HMODULE module = ui.addModule(resources);
    loaded.insert(module);
    record(EventKind::LibraryLoaded,
           {{field::kLibrary, name}, {field::kScript, resources->sourceName}});
    return module;
}

// --- Machine ----------------------------------------------------------------------

MachineProcess::MachineProcess(std::string program, std::unique_ptr<SimSystem> system,
                               std::unique_ptr<SimUi> ui, std::unique_ptr<UiObserver> observer,
                               platform::Registry& registry, platform::Volumes& volumes,
                               platform::Clock& clock, firmware::OutputWriter output)
    : program_(std::move(program)),
      system_(std::move(system)),
      observer_(std::move(observer)),
      ui_(std::move(ui)),
      services_{*ui_, *system_, registry, volumes, clock},
      output_(std::move(output)) {}

MachineProcess::~MachineProcess() = default;

Machine::Machine(Scenario scenario) : impl_(std::make_unique<Impl>(std::move(scenario))) {}

Machine::~Machine() {
    while (!impl_->processes.empty()) impl_->processes.pop_back();
}

void Machine::setProgramFiles(std::vector<ProgramFile> programs) {
    impl_->programs = std::move(programs);
}
void Machine::setProgramStarter(std::function<void(const std::string&)> starter) {
    impl_->starter = std::move(starter);
}
void Machine::setGuardHandler(std::function<void()> handler) {
    impl_->guardHandler = std::move(handler);
}
void Machine::setLoopGuard(LoopGuardLimits limits) {
    impl_->limits = limits;
}
void Machine::setEventSink(std::function<void(const MachineEvent&)> sink) {
    impl_->sink = std::move(sink);
}
void Machine::setUser(const std::string& programFile, UserScript& user) {
    impl_->users[nameKey(programFile)] = &user;
}

UserScript& Machine::scriptedUser(const std::string& programFile) {
    QueuedUserScript& user = impl_->scriptedUsers[nameKey(programFile)];
    user.setFallbackAnswer(impl_->scenario.user.fallback);
    return user;
}

MachineProcess& Machine::startProcess(const std::string& programFile) {
    Impl& m = *impl_;
    const auto chosen = m.users.find(nameKey(programFile));
    UserScript& user = chosen != m.users.end() ? *chosen->second : scriptedUser(programFile);

    auto system = std::make_unique<SimSystem>(m.setup, m.mutexes);
    std::unique_ptr<UiObserver> observer = makeProcessObserver(m);
    auto ui = std::make_unique<SimUi>(user);
    ui->setObserver(observer.get());
    ui->setLoopGuard(m.limits);
    ui->setGuardHandler([&m] {
        if (m.guardHandler) m.guardHandler();
    });
    SimUi* uiOfProcess = ui.get();
    auto loaded = std::make_shared<std::set<win::HMODULE>>();
    system->setLibraryLoader(
        [&m, uiOfProcess, loaded](const std::string& name) {
            return m.loadLibrary(*uiOfProcess, *loaded, name);
        },
        [uiOfProcess, loaded](win::HMODULE module) {
            if (loaded->erase(module) == 0) return false;
            uiOfProcess->removeModule(module);
            return true;
        });

    system->setFileWatcher([&m](const std::string& windowsPath,
                                const std::optional<std::string>& hostPath, win::DWORD error,
                                std::span<const std::uint8_t> content) {
        m.fileOpened(windowsPath, hostPath, error, content);
    });
    m.processes.push_back(std::unique_ptr<MachineProcess>(new MachineProcess(
        programFile, std::move(system), std::move(ui), std::move(observer), m.registry, *m.volumes,
        m.virtualClock, [&m](std::string_view text) { m.programWrote(text); })));
    m.outputLines.push_back(0);
    m.record(EventKind::ProcessStarted, {{field::kDirectory, m.setup.currentDirectory}});

    const auto program =
        std::find_if(m.programs.begin(), m.programs.end(),
                     [&](const ProgramFile& p) { return sameName(p.fileName, programFile); });
    if (program != m.programs.end() && !program->resourceScript.empty()) {
        std::string problem;
        const std::shared_ptr<const ResourceScript> own =
            m.script(program->resourceScript, problem);
        if (own != nullptr) {
            uiOfProcess->setProgramResources(own);
        } else {
            m.record(EventKind::LibraryMissing,
                     {{field::kLibrary, program->resourceScript}, {field::kReason, problem}});
        }
    }
    m.virtualClock.runDue();
    return *m.processes.back();
}

void Machine::endProcess(bool killed) {
    Impl& m = *impl_;
    if (m.processes.empty()) return;
    MachineProcess& process = *m.processes.back();
    const bool switchOff = process.system().powerOffRequested();
    const win::UINT flags = process.system().powerOffFlags();
    m.flushOutput();
    m.record(
        EventKind::ProcessEnded,
        {{field::kKilled, killed},
         {field::kOutputLines, m.outputLines.empty() ? std::int64_t{0} : m.outputLines.back()},
         {field::kHandles, static_cast<std::int64_t>(process.system().openHandleCount())},
         {field::kSids, static_cast<std::int64_t>(process.system().liveSidCount())},
         {field::kLibrariesFreed, static_cast<std::int64_t>(process.system().librariesFreed())}});
    m.processes.pop_back();
    if (!m.outputLines.empty()) m.outputLines.pop_back();
    m.noteFormats();
    if (switchOff) m.switchOff(flags);
}

MachineProcess* Machine::currentProcess() {
    return impl_->processes.empty() ? nullptr : impl_->processes.back().get();
}

const Scenario& Machine::scenario() const {
    return impl_->scenario;
}
const std::vector<MachineEvent>& Machine::events() const {
    return impl_->events;
}
void Machine::record(EventKind kind, std::vector<EventField> fields) {
    impl_->record(kind, std::move(fields));
}
SimRegistry& Machine::registry() {
    return impl_->registry;
}
SimVolumes& Machine::volumes() {
    return impl_->simVolumes;
}
VirtualClock& Machine::clock() {
    return impl_->virtualClock;
}
VirtualReader& Machine::reader(std::size_t index) {
    return *impl_->readers.at(index).device;
}

MachineSummary Machine::summary() const {
    const Impl& m = *impl_;
    MachineSummary summary;
    for (const ReaderState& reader : m.readers) {
        summary.readers.push_back(
            ReaderSummary{reader.letter, reader.before, reader.current,
                          reader.device->firmwareReception(), reader.device->completedFormats(),
                          reader.device->abortedFormats(), reader.device->getReceivedStream()});
        if (m.simVolumes.isLocked(reader.letter)) summary.lockedVolumes.push_back(reader.letter);
    }
    summary.markerWritten = m.markerWritten;
    summary.markerPresent = m.registry.keyExists(kMarkerKeyPath);
    for (const std::string& name : m.registry.valueNames(kMarkerKeyPath)) {
        if (const auto value = m.registry.value(kMarkerKeyPath, name))
            summary.markerValues.emplace_back(name, textUpToZero(value->data));
    }
    for (const std::string& name : m.registry.valueNames(kRunOnceKeyPath)) {
        if (const auto value = m.registry.value(kRunOnceKeyPath, name))
            summary.runOnceValues.emplace_back(name, textUpToZero(value->data));
    }
    summary.powerCycles = m.powerCycles;
    summary.poweredOff = m.poweredOff;
    summary.openRegistryKeys = m.registry.openKeyCount();
    summary.openVolumeHandles = m.simVolumes.openHandleCount();
    return summary;
}

}  // namespace sim

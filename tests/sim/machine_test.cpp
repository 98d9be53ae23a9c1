#include "sim/machine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_link.h"
#include "firmware/flash_layout.h"
#include "support/case_names.h"
#include "support/scratch_folder.h"

namespace {

using device::DeviceLink;
using device::WriteProtectRule;

constexpr char kRoot[] = "E:\\";
constexpr char kProgramFolder[] = "C:\\Program Files\\Kavo\\Velcrest";
constexpr char kUsbKeyOf1001[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0d9f&Pid_1001";
constexpr char kUsbKeyOf1002[] = "SYSTEM\\CurrentControlSet\\Enum\\USB\\Vid_0d9f&Pid_1002";

using testsupport::NameOfCase;
using testsupport::PrintTo;

// The demonstration's machine: the demo reader on E: and the example package.
sim::Scenario demoMachine() {
    sim::Scenario scenario;
    scenario.machine.programFolder =
        std::filesystem::path(VELCREST_SOURCE_DIR) / "examples" / "package";
    scenario.machine.libraryFolder = std::filesystem::path(VELCREST_SOURCE_DIR) / "resources";
    return scenario;
}

std::vector<sim::ProgramFile> programs() {
    return {{"Velcrest.exe", "velcrest.rc"}, {"Ardlow.exe", "ardlow.rc"}};
}

// A small image with a byte pattern, and the demo row's identity: what the
// update program sends the demo reader.
firmware::FirmwareImage patternImage(std::uint32_t kLow = 0x10000, std::uint32_t kHigh = 0x12FFF) {
    firmware::FirmwareImage image;
    image.imageBytes.fill(firmware::kUnsetImageByte);
    for (std::uint32_t i = kLow; i <= kHigh; ++i)
        image.imageBytes[i] = static_cast<std::uint8_t>(i * 7);
    image.imageLowAddress = kLow;
    image.imageHighAddress = kHigh;
    return image;
}

std::vector<sim::ReceivedBlock> demoStream(
    std::string_view headerName = firmware::kScramblingHeaderName,
    const firmware::FirmwareImage& image = patternImage()) {
    const firmware::FlashPlan plan = firmware::planFlash(
        image, {"0d9f", "1002", "0100", "TKW-5 CardRW", std::string(headerName)});
    const std::vector<std::uint8_t> stream = firmware::buildBlockStream(image, plan);
    std::vector<sim::ReceivedBlock> blocks;
    for (std::size_t offset = 0; offset < stream.size(); offset += firmware::kBlockSize) {
        blocks.push_back(sim::ReceivedBlock{
            static_cast<std::uint16_t>(offset / firmware::kBlockSize),
            std::vector<std::uint8_t>(
                stream.begin() + static_cast<std::ptrdiff_t>(offset),
                stream.begin() + static_cast<std::ptrdiff_t>(offset + firmware::kBlockSize))});
    }
    return blocks;
}

// Sends the blocks over a held, locked volume as the flash procedure does.
void flash(DeviceLink& link, const std::vector<sim::ReceivedBlock>& blocks) {
    ASSERT_EQ(link.lockVolume(kRoot), 1);
    for (const sim::ReceivedBlock& block : blocks) {
        std::array<std::uint8_t, device::kFirmwareBlockSize> buffer{};
        std::copy(block.bytes.begin(), block.bytes.end(), buffer.begin());
        ASSERT_EQ(link.writeFirmwareBlock(buffer, block.number), 1) << "block " << block.number;
    }
    link.unlockVolume();
}

void setRunOnce(platform::Registry& registry, const std::string& name, const std::string& command) {
    win::HKEY key = nullptr;
    ASSERT_EQ(registry.RegOpenKeyExA(win::hkeyLocalMachine(), sim::kRunOnceKeyPath, 0,
                                     win::KEY_SET_VALUE, &key),
              win::ERROR_SUCCESS);
    registry.RegSetValueExA(key, name.c_str(), win::REG_SZ,
                            reinterpret_cast<const win::BYTE*>(command.c_str()),
                            static_cast<win::DWORD>(command.size() + 1));
    registry.RegCloseKey(key);
}

// The steps of the update program's power-off.
void switchOff(platform::System& system) {
    win::HANDLE token = nullptr;
    system.OpenProcessToken(0x28, &token);
    win::TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    system.LookupPrivilegeValueA("SeShutdownPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = win::SE_PRIVILEGE_ENABLED;
    system.AdjustTokenPrivileges(token, win::FALSE, &privileges, sizeof privileges);
    system.ExitWindowsEx(win::EWX_POWEROFF | win::EWX_FORCE, 0);
    system.CloseHandle(token);
}

std::array<std::uint8_t, device::kInquiryLength> inquiryOf(DeviceLink& link) {
    std::array<std::uint8_t, device::kInquiryLength> reply{};
    link.inquiry(kRoot, reply);
    return reply;
}

std::vector<const sim::MachineEvent*> eventsOf(const sim::Machine& machine, sim::EventKind kind) {
    std::vector<const sim::MachineEvent*> found;
    for (const sim::MachineEvent& event : machine.events()) {
        if (event.kind == kind) found.push_back(&event);
    }
    return found;
}

enum class RunOnce { Leave, None };

// The update program's run that matters to a power cycle: it sends `stream`,
// leaves the run-once entry if asked, and switches the machine off.
void flashAndSwitchOff(sim::Machine& machine, const std::vector<sim::ReceivedBlock>& stream,
                       RunOnce runOnce) {
    sim::MachineProcess& update = machine.startProcess("Velcrest.exe");
    const platform::Services& services = update.services();
    DeviceLink link(services.volumes, services.registry, services.clock,
                    WriteProtectRule::AnyBitProtects);
    flash(link, stream);
    if (runOnce == RunOnce::Leave) {
        setRunOnce(services.registry, "pendrel",
                   std::string("\"") + kProgramFolder + "\\Ardlow.exe\"");
    }
    switchOff(services.system);
    machine.endProcess();
}

// --- power cycle, re-enumeration, run-once ---------------------------------------

TEST(MachinePowerCycle, AReaderThatTookAWholeImageComesUpNewAndTheRegistryFollows) {
    sim::Machine machine(demoMachine());
    machine.setProgramFiles(programs());
    flashAndSwitchOff(machine, demoStream(), RunOnce::Leave);
    ASSERT_TRUE(machine.poweredOff());
    EXPECT_EQ(machine.reader(0).identity().revision, "1.00") << "nothing changes before power-on";

    machine.powerOn();
    EXPECT_EQ(machine.reader(0).identity().product, "TKW-5 CardRW");
    EXPECT_EQ(machine.reader(0).identity().revision, "2.00");
    EXPECT_TRUE(machine.registry().keyExists(kUsbKeyOf1002));
    EXPECT_TRUE(machine.registry().keyExists(kUsbKeyOf1001))
        << "Windows keeps the old device's key";

    // The drive-to-USB walk of the programs finds the new identity.
    sim::MachineProcess& format = machine.startProcess("Ardlow.exe");
    DeviceLink link(format.services().volumes, format.services().registry, format.services().clock,
                    WriteProtectRule::WpBitOnly);
    link.storeInquiry(inquiryOf(link));
    link.identifyUsbParent(kRoot);
    EXPECT_EQ(link.usbVendorId, "0d9f");
    EXPECT_EQ(link.usbProductId, "1002");
    EXPECT_EQ(link.usbRevision, "0200") << "the hand-off revision of the package's row";
    machine.endProcess();
    EXPECT_EQ(machine.registry().openKeyCount(), 0u);
}

TEST(MachinePowerCycle, AnIncompleteImageLeavesTheReaderAsItWas) {
    sim::Machine machine(demoMachine());
    std::vector<sim::ReceivedBlock> blocks = demoStream();
    blocks.pop_back();
    {
        sim::MachineProcess& update = machine.startProcess("Velcrest.exe");
        DeviceLink link(update.services().volumes, update.services().registry,
                        update.services().clock, WriteProtectRule::AnyBitProtects);
        flash(link, blocks);
    }
    machine.endProcess();
    machine.restart();

    EXPECT_EQ(machine.reader(0).identity().revision, "1.00");
    EXPECT_FALSE(machine.registry().keyExists(kUsbKeyOf1002));
    const auto enumerated = eventsOf(machine, sim::EventKind::ReaderEnumerated);
    ASSERT_EQ(enumerated.size(), 1u);
    EXPECT_FALSE(enumerated[0]->get(sim::field::kChanged));
    EXPECT_EQ(enumerated[0]->get(sim::field::kFirmware).rfind("not taken: only ", 0), 0u)
        << enumerated[0]->get(sim::field::kFirmware);
}

TEST(MachinePowerCycle, ASecondPowerCycleWithoutANewFlashChangesNothing) {
    sim::Machine machine(demoMachine());
    {
        sim::MachineProcess& update = machine.startProcess("Velcrest.exe");
        DeviceLink link(update.services().volumes, update.services().registry,
                        update.services().clock, WriteProtectRule::AnyBitProtects);
        flash(link, demoStream());
    }
    machine.endProcess();
    machine.restart();
    const sim::DeviceIdentity afterFirst = machine.summary().readers[0].after;
    machine.restart();
    EXPECT_EQ(machine.summary().readers[0].after, afterFirst);
    const auto enumerated = eventsOf(machine, sim::EventKind::ReaderEnumerated);
    ASSERT_EQ(enumerated.size(), 2u);
    EXPECT_TRUE(enumerated[0]->get(sim::field::kChanged));
    EXPECT_FALSE(enumerated[1]->get(sim::field::kChanged));
}

TEST(MachineLogOn, RunOnceValuesAreRemovedBeforeTheirProgramStartsUnlessNamedWithBang) {
    sim::Machine machine(demoMachine());
    machine.setProgramFiles(programs());
    {
        sim::MachineProcess& update = machine.startProcess("Velcrest.exe");
        setRunOnce(update.services().registry, "pendrel",
                   std::string(kProgramFolder) + "\\Ardlow.exe");
        setRunOnce(update.services().registry, "!later",
                   std::string("\"") + kProgramFolder + "\\ardlow.exe\"");
    }
    machine.endProcess();
    machine.restart();

    struct Start {
        std::string program;
        bool pendrelLeft;
        bool laterLeft;
    };
    std::vector<Start> starts;
    machine.logOn([&](const std::string& program) {
        starts.push_back({program,
                          machine.registry().value(sim::kRunOnceKeyPath, "pendrel").has_value(),
                          machine.registry().value(sim::kRunOnceKeyPath, "!later").has_value()});
    });
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[0].program, "Ardlow.exe");
    EXPECT_FALSE(starts[0].pendrelLeft) << "removed before the program starts";
    EXPECT_EQ(starts[1].program, "Ardlow.exe");
    EXPECT_TRUE(starts[1].laterLeft) << "a '!' value is removed after its program";
    EXPECT_TRUE(machine.registry().valueNames(sim::kRunOnceKeyPath).empty());
}

// --- command lines as Windows reads them ------------------------------------------

struct CommandLineCase {
    const char* name;
    const char* currentDirectory;
    std::vector<std::string> otherPrograms;
    const char* commandLine;
    const char* starts;  // empty: nothing
    std::optional<std::string> program;
};

class MachineCommandLine : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(MachineCommandLine, LeadsWhereWindowsWouldGo) {
    const CommandLineCase& c = GetParam();
    sim::Scenario scenario = demoMachine();
    scenario.machine.currentDirectory = c.currentDirectory;
    scenario.machine.otherPrograms = c.otherPrograms;
    sim::Machine machine(scenario);
    machine.setProgramFiles(programs());
    const sim::ResolvedCommand resolved = machine.resolveCommandLine(c.commandLine);
    EXPECT_EQ(resolved.windowsPath, c.starts);
    EXPECT_EQ(resolved.programFile, c.program);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineCommandLine,
    ::testing::Values(CommandLineCase{"QuotedPathWithBlanks",
                                      kProgramFolder,
                                      {},
                                      "\"C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe\"",
                                      "C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"UnquotedPathFoundAfterTryingEachBlank",
                                      kProgramFolder,
                                      {},
                                      "C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"UnquotedPathStartsAnotherProgramThatExists",
                                      kProgramFolder,
                                      {"C:\\Program.exe"},
                                      "C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "C:\\Program.exe",
                                      std::nullopt},
                      CommandLineCase{"QuotedPathIsNotFooledByAnotherProgram",
                                      kProgramFolder,
                                      {"C:\\Program.exe"},
                                      "\"C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe\"",
                                      "C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"DoubleBackslashFromADriveRoot",
                                      "C:\\",
                                      {},
                                      "C:\\\\Ardlow.exe",
                                      "C:\\\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"LetterCaseDoesNotMatter",
                                      kProgramFolder,
                                      {},
                                      "\"c:\\PROGRAM FILES\\kavo\\velcrest\\ARDLOW.EXE\"",
                                      "c:\\PROGRAM FILES\\kavo\\velcrest\\ARDLOW.EXE",
                                      "Ardlow.exe"},
                      CommandLineCase{"NameWithoutExtensionGetsExe",
                                      kProgramFolder,
                                      {},
                                      "\"C:\\Program Files\\Kavo\\Velcrest\\Ardlow\"",
                                      "C:\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"AnotherFolderHoldsNoProgram",
                                      kProgramFolder,
                                      {},
                                      "\"C:\\Elsewhere\\Ardlow.exe\"",
                                      "",
                                      std::nullopt},
                      CommandLineCase{"ACutPathFindsNothing",
                                      kProgramFolder,
                                      {},
                                      "C:\\Program Files\\Kavo\\Velcr",
                                      "",
                                      std::nullopt},
                      CommandLineCase{"DotAndDotDotReadAsTheFileSystemReadsThem",
                                      kProgramFolder,
                                      {},
                                      "\"C:\\Program Files\\.\\Kavo\\x\\..\\Velcrest\\Ardlow.exe\"",
                                      "C:\\Program Files\\.\\Kavo\\x\\..\\Velcrest\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"DotDotStopsAtTheDrivesRoot",
                                      kProgramFolder,
                                      {},
                                      "\"C:\\..\\..\\Program Files\\Kavo\\Velcrest\\Ardlow.exe\"",
                                      "C:\\..\\..\\Program Files\\Kavo\\Velcrest\\Ardlow.exe",
                                      "Ardlow.exe"},
                      CommandLineCase{"DotDotLeavesTheProgramFolder",
                                      kProgramFolder,
                                      {},
                                      "\"C:\\Program Files\\Kavo\\Velcrest\\..\\Ardlow.exe\"",
                                      "",
                                      std::nullopt}),
    NameOfCase{});

// --- what a reader makes of the blocks --------------------------------------------

struct ReceptionCase {
    const char* name;
    std::function<void(std::vector<sim::ReceivedBlock>&)> change;
    bool whole;
    bool written;
    std::string reason;  // the failure reason the reader records
};

class FirmwareReceptionTest : public ::testing::TestWithParam<ReceptionCase> {};

TEST_P(FirmwareReceptionTest, JudgesTheStream) {
    std::vector<sim::ReceivedBlock> blocks = demoStream();
    GetParam().change(blocks);
    const sim::FirmwareReception reception = sim::receptionOf(blocks);
    EXPECT_EQ(reception.whole, GetParam().whole);
    EXPECT_EQ(reception.written(), GetParam().written);
    EXPECT_EQ(reception.failureReason, GetParam().reason);
}

// Data from 0x12000: the blocks carry 0x10000 onwards for the header's
// length, so the top of the claimed range never arrives.
std::vector<sim::ReceivedBlock> streamOfDataAboveTheFirstBlock() {
    return demoStream(firmware::kScramblingHeaderName, patternImage(0x12000, 0x13FFF));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FirmwareReceptionTest,
    ::testing::Values(
        ReceptionCase{"WholeImage", [](auto&) {}, true, true, ""},
        ReceptionCase{"LastBlockMissing", [](auto& b) { b.pop_back(); }, false, false,
                      "only 31 of 32 blocks arrived"},
        ReceptionCase{"HeaderOnly", [](auto& b) { b.resize(1); }, false, false,
                      "only 0 of 32 blocks arrived"},
        ReceptionCase{"OneBlockMore", [](auto& b) { b.push_back(b.back()); }, false, false,
                      "after block 32 came block 32"},
        ReceptionCase{"BlocksOutOfOrder", [](auto& b) { std::swap(b[2], b[3]); }, false, false,
                      "after block 1 came block 3"},
        ReceptionCase{"ACorruptedByte", [](auto& b) { b[5].bytes[17] ^= 0x01; }, true, false,
                      "the checksum of the bytes is 0xd7ff, the header says 0xd800"},
        ReceptionCase{"DataAboveTheFirstBlock",
                      [](auto& b) { b = streamOfDataAboveTheFirstBlock(); }, true, false,
                      "the header claims 0x12000-0x13fff but the blocks carry 0x10000-0x11fff"},
        ReceptionCase{"OneBlockBeyondTheHeadersCount",
                      [](auto& b) {
                          b.push_back(b.back());
                          b.back().number = static_cast<std::uint16_t>(b.size() - 1);
                      },
                      false, false, "33 blocks arrived, the header announced 32"},
        ReceptionCase{"NoHeader", [](auto& b) { b.erase(b.begin()); }, false, false, ""}),
    NameOfCase{});

TEST(FirmwareReception, ReadsTheHeaderScrambledOnlyForTheScramblingName) {
    const sim::FirmwareReception scrambled = sim::receptionOf(demoStream());
    EXPECT_TRUE(scrambled.scrambled);
    EXPECT_EQ(scrambled.header.headerProductId, 0x1002);
    const sim::FirmwareReception plain = sim::receptionOf(demoStream("TKW-5 Combo Firmware R01"));
    EXPECT_FALSE(plain.scrambled);
    EXPECT_EQ(plain.header.headerProductId, 0x1002);
    EXPECT_TRUE(plain.written());
    EXPECT_EQ(plain.blocksExpected, scrambled.blocksExpected);
}

TEST(MachinePowerCycle, AReaderKeepsItsFirmwareWhenTheClaimedRangeNeverArrived) {
    sim::Machine machine(demoMachine());
    machine.setProgramFiles(programs());
    flashAndSwitchOff(machine, streamOfDataAboveTheFirstBlock(), RunOnce::None);
    EXPECT_FALSE(machine.reader(0).firmwareReception().written());
    machine.powerOn();
    EXPECT_EQ(machine.reader(0).identity().revision, "1.00");
    const auto enumerated = eventsOf(machine, sim::EventKind::ReaderEnumerated);
    ASSERT_FALSE(enumerated.empty());
    EXPECT_EQ(enumerated.back()->get(sim::field::kFirmware),
              "not taken: the header claims 0x12000-0x13fff but the blocks carry 0x10000-0x11fff");
}

// --- command faults ---------------------------------------------------------------

struct FaultCase {
    const char* name;
    sim::CommandFault fault;
    std::vector<int> results;  // of successive INQUIRYs on E:
};

sim::CommandFault inquiryFault(int occurrence, int times) {
    sim::CommandFault fault;
    fault.call = sim::DeviceCall::Inquiry;
    fault.occurrence = occurrence;
    fault.times = times;
    return fault;
}

sim::CommandFault withDrive(sim::CommandFault fault, char drive) {
    fault.drive = drive;
    return fault;
}

sim::CommandFault withProgram(sim::CommandFault fault, std::string program) {
    fault.program = std::move(program);
    return fault;
}

sim::CommandFault openFault() {
    sim::CommandFault fault;
    fault.call = sim::DeviceCall::Open;
    fault.error = static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND);
    return fault;
}

sim::CommandFault byOperationCode(std::uint8_t code) {
    sim::CommandFault fault;
    fault.call = sim::DeviceCall::Operation;
    fault.operationCode = code;
    return fault;
}

class MachineCommandFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(MachineCommandFault, FailsTheMatchingCallsOnly) {
    sim::Scenario scenario = demoMachine();
    scenario.faults = {GetParam().fault};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Velcrest.exe");
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::AnyBitProtects);
    std::vector<int> results;
    for (std::size_t i = 0; i < GetParam().results.size(); ++i) {
        std::array<std::uint8_t, device::kInquiryLength> reply{};
        results.push_back(link.inquiry(kRoot, reply));
    }
    EXPECT_EQ(results, GetParam().results);
    const auto failures = std::count(results.begin(), results.end(), 0);
    EXPECT_EQ(eventsOf(machine, sim::EventKind::FaultFired).size(),
              static_cast<std::size_t>(failures));
    machine.endProcess();
    EXPECT_EQ(machine.volumes().openHandleCount(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, MachineCommandFault,
    ::testing::Values(
        FaultCase{"SecondOnly", inquiryFault(2, 1), {1, 0, 1, 1}},
        FaultCase{"FromTheThirdOn", inquiryFault(3, sim::kForever), {1, 1, 0, 0}},
        FaultCase{"TwoInARow", inquiryFault(1, 2), {0, 0, 1}},
        FaultCase{"OtherDrive", withDrive(inquiryFault(1, 1), 'G'), {1, 1}},
        FaultCase{"OtherProgram", withProgram(inquiryFault(1, 1), "Ardlow.exe"), {1, 1}},
        FaultCase{"ThisProgram", withProgram(inquiryFault(1, 1), "velcrest.exe"), {0, 1}},
        FaultCase{"OpenFails", openFault(), {0, 1}},
        FaultCase{"ByOperationCode", byOperationCode(0x12), {0, 1}},
        FaultCase{"OtherOperationCode", byOperationCode(0x28), {1, 1}}),
    NameOfCase{});

TEST(MachineCommandFault, ASenseFaultComesBackAsTheDevicesAnswer) {
    sim::Scenario scenario = demoMachine();
    sim::CommandFault fault;
    fault.call = sim::DeviceCall::TestUnitReady;
    fault.failCall = false;
    fault.senseKey = 0x02;
    fault.asc = 0x3A;
    scenario.faults = {fault};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Ardlow.exe");
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::WpBitOnly);
    EXPECT_EQ(link.testUnitReady(kRoot), 0);
    EXPECT_EQ(link.lastSenseCode, device::kCommandFailed | device::kMediumNotPresent);
    EXPECT_EQ(link.testUnitReady(kRoot), 1) << "the medium is there all along";
}

TEST(MachineCommandFault, ARefusedBlockIsNamedByItsNumber) {
    sim::Scenario scenario = demoMachine();
    sim::CommandFault fault;
    fault.call = sim::DeviceCall::WriteBlock;
    fault.block = 3;
    fault.failCall = false;
    fault.senseKey = 0x03;
    fault.asc = 0x0C;
    scenario.faults = {fault};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Velcrest.exe");
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::AnyBitProtects);
    const std::vector<sim::ReceivedBlock> blocks = demoStream();
    ASSERT_EQ(link.lockVolume(kRoot), 1);
    std::vector<int> results;
    for (std::size_t k = 0; k < 5; ++k) {
        std::array<std::uint8_t, device::kFirmwareBlockSize> buffer{};
        std::copy(blocks[k].bytes.begin(), blocks[k].bytes.end(), buffer.begin());
        results.push_back(link.writeFirmwareBlock(buffer, blocks[k].number));
        if (results.back() == 0) break;
    }
    EXPECT_EQ(results, (std::vector<int>{1, 1, 1, 0}));
    EXPECT_EQ(machine.reader(0).receivedBlocks().size(), 3u);
}

// --- incidents --------------------------------------------------------------------

sim::Incident incident(sim::TriggerKind kind, sim::IncidentKind what) {
    sim::Incident entry;
    entry.at.kind = kind;
    entry.kind = what;
    return entry;
}

TEST(MachineIncident, TimeIncidentsHappenAtTheirMomentDuringASleep) {
    sim::Scenario scenario = demoMachine();
    sim::Incident pull = incident(sim::TriggerKind::Time, sim::IncidentKind::PullMedium);
    pull.at.timeMs = 3000;
    scenario.incidents = {pull};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Ardlow.exe");
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::WpBitOnly);
    process.services().clock.Sleep(2000);
    EXPECT_EQ(link.testUnitReady(kRoot), 1);
    process.services().clock.Sleep(2000);
    EXPECT_EQ(link.testUnitReady(kRoot), 0);
    EXPECT_EQ(link.lastSenseCode & device::kSenseBitsMask, device::kMediumNotPresent);
    win::WIN32_FIND_DATAA found{};
    EXPECT_EQ(process.system().FindFirstFileA("E:\\*.*", &found), win::invalidHandleValue());
    const auto fired = eventsOf(machine, sim::EventKind::Incident);
    ASSERT_EQ(fired.size(), 1u);
    EXPECT_EQ(fired[0]->timeMs, 3000u);
    EXPECT_EQ(machine.clock().now(), 4000u);
}

TEST(MachineIncident, APollIncidentCountsRequestSenseAfterTheFormatCommand) {
    sim::Scenario scenario = demoMachine();
    sim::Incident pull = incident(sim::TriggerKind::Poll, sim::IncidentKind::PullMedium);
    pull.at.occurrence = 2;
    scenario.incidents = {pull};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Ardlow.exe");
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::WpBitOnly);
    std::array<std::uint8_t, device::kRequestSenseLength> sense{};
    link.requestSense(kRoot, sense);  // before the format: no poll
    link.formatMedia(kRoot);
    link.requestSense(kRoot, sense);
    EXPECT_TRUE(machine.reader(0).mediumPresent());
    link.requestSense(kRoot, sense);
    EXPECT_FALSE(machine.reader(0).mediumPresent());
    EXPECT_EQ(machine.reader(0).abortedFormats(), 1);
}

TEST(MachineIncident, ACommandIncidentComesJustBeforeItsCommand) {
    sim::Scenario scenario = demoMachine();
    scenario.machine.readers[0].mediumPresent = false;
    sim::Incident insert = incident(sim::TriggerKind::Command, sim::IncidentKind::InsertMedium);
    insert.at.call = sim::DeviceCall::TestUnitReady;
    insert.at.occurrence = 3;
    scenario.incidents = {insert};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Ardlow.exe");
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::WpBitOnly);
    std::vector<int> results;
    for (int i = 0; i < 4; ++i) results.push_back(link.testUnitReady(kRoot));
    EXPECT_EQ(results, (std::vector<int>{0, 0, 1, 1}));
}

TEST(MachineIncident, ADialogIncidentComesWhenTheDialogHasComeUpOftenEnough) {
    sim::Scenario scenario = demoMachine();
    scenario.machine.readers[0].deviceSpecificParameter = 0x80;
    sim::Incident unprotect =
        incident(sim::TriggerKind::Dialog, sim::IncidentKind::SetWriteProtect);
    unprotect.at.templateId = 147;
    unprotect.at.occurrence = 2;
    unprotect.at.program = "Velcrest.exe";
    unprotect.bits = 0;
    scenario.incidents = {unprotect};
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Velcrest.exe");
    process.ui().setResourceModule(process.system().LoadLibraryA("KELDRA_ENG.dll"));
    DeviceLink link(process.services().volumes, process.services().registry,
                    process.services().clock, WriteProtectRule::AnyBitProtects);

    int shown = 0;
    for (link.checkWriteProtect(kRoot); link.mediaWritable == 0 && shown < 5; ++shown) {
        EXPECT_EQ(process.ui().DialogBoxParamA(147, nullptr), 1);
        link.checkWriteProtect(kRoot);
    }
    EXPECT_EQ(shown, 2);
}

TEST(MachineIncident, AStartIncidentRunsTheProgramThroughTheStarter) {
    sim::Scenario scenario = demoMachine();
    sim::Incident start = incident(sim::TriggerKind::Time, sim::IncidentKind::StartProgram);
    start.at.timeMs = 100;
    start.program = "Velcrest.exe";
    scenario.incidents = {start};
    sim::Machine machine(scenario);
    std::vector<std::string> started;
    bool secondFoundTheName = false;
    machine.setProgramStarter([&](const std::string& program) {
        started.push_back(program);
        sim::MachineProcess& second = machine.startProcess(program);
        second.system().CreateMutexA("Velcrest");
        secondFoundTheName =
            second.system().GetLastError() == static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS);
        machine.endProcess();
    });
    sim::MachineProcess& first = machine.startProcess("Velcrest.exe");
    first.system().CreateMutexA("Velcrest");
    first.services().clock.Sleep(1000);
    EXPECT_EQ(started, std::vector<std::string>{"Velcrest.exe"});
    EXPECT_TRUE(secondFoundTheName) << "the mutexes belong to the machine";
    EXPECT_EQ(machine.currentProcess(), &first);
}

// --- the medium, the libraries ----------------------------------------------------

TEST(MachineMedium, AFinishedFormatLeavesTheMediumEmpty) {
    sim::Scenario scenario = demoMachine();
    scenario.machine.readers[0].formatDurationMs = 1000;
    sim::Machine machine(scenario);
    win::WIN32_FIND_DATAA found{};
    {
        sim::MachineProcess& process = machine.startProcess("Ardlow.exe");
        const win::HANDLE search = process.system().FindFirstFileA("E:\\*.*", &found);
        ASSERT_NE(search, win::invalidHandleValue());
        process.system().FindClose(search);
        DeviceLink link(process.services().volumes, process.services().registry,
                        process.services().clock, WriteProtectRule::WpBitOnly);
        link.formatMedia(kRoot);
        process.services().clock.Sleep(2000);
    }
    machine.endProcess();
    EXPECT_EQ(eventsOf(machine, sim::EventKind::MediumFormatted).size(), 1u);
    sim::MachineProcess& later = machine.startProcess("Velcrest.exe");
    EXPECT_EQ(later.system().FindFirstFileA("E:\\*.*", &found), win::invalidHandleValue());
    EXPECT_EQ(later.system().GetLastError(), static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
}

class MachineLibraries : public ::testing::Test {
  protected:
    void writeLibrary(const std::string& name, const std::string& text) {
        std::ofstream(folder_ / name) << text;
    }

    testsupport::ScratchFolder scratch_{"machine_libraries"};
    std::filesystem::path folder_ = scratch_.path();
};

TEST_F(MachineLibraries, TheProgramFolderComesFirstThenTheLibraryFolder) {
    writeLibrary("keldra_eng.rc",
                 "147 DIALOGEX 0, 0, 100, 40\nCAPTION \"Own\"\nBEGIN\n"
                 "    DEFPUSHBUTTON \"OK\", 1, 10, 10, 40, 14\nEND\n");
    sim::Scenario scenario = demoMachine();
    scenario.machine.programFolder = folder_;
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Velcrest.exe");

    const win::HMODULE own = process.system().LoadLibraryA("KELDRA_ENG.dll");
    ASSERT_NE(own, nullptr);
    process.ui().setResourceModule(own);
    EXPECT_EQ(process.ui().DialogBoxParamA(147, nullptr), 1);
    EXPECT_EQ(process.ui().DialogBoxParamA(151, nullptr), -1) << "the folder's library lacks it";

    const win::HMODULE shared = process.system().LoadLibraryA("FORMAT_ENG.dll");
    EXPECT_NE(shared, nullptr) << "found in the library folder";
    EXPECT_EQ(process.system().FreeLibrary(own), win::TRUE);
    EXPECT_EQ(process.system().FreeLibrary(own), win::FALSE) << "freed once only";
}

// A library name is read as CreateFileA reads a path; only a bare name is
// also looked for among the libraries every machine has.
TEST_F(MachineLibraries, ALibraryPathLeadsWhereTheFileSystemLeads) {
    writeLibrary("keldra_eng.rc",
                 "147 DIALOGEX 0, 0, 100, 40\nCAPTION \"Own\"\nBEGIN\n"
                 "    DEFPUSHBUTTON \"OK\", 1, 10, 10, 40, 14\nEND\n");
    sim::Scenario scenario = demoMachine();
    scenario.machine.programFolder = folder_;
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Velcrest.exe");
    struct Case {
        const char* name;
        bool loads;
    };
    const Case cases[] = {
        {"KELDRA_ENG.dll", true},
        {".\\lang\\..\\keldra_eng.DLL", true},
        {"c:\\program files\\KAVO\\Velcrest\\KELDRA_ENG.dll", true},
        {"C:\\Elsewhere\\KELDRA_ENG.dll", false},
        {"..\\KELDRA_ENG.dll", false},
        {"FORMAT_ENG.dll", true},
        {"C:\\Elsewhere\\FORMAT_ENG.dll", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const win::HMODULE module = process.system().LoadLibraryA(c.name);
        EXPECT_EQ(module != nullptr, c.loads);
        if (module != nullptr) {
            EXPECT_EQ(process.system().FreeLibrary(module), win::TRUE);
        }
    }
}

TEST_F(MachineLibraries, AMissingOrUnreadableLibraryLoadsNothing) {
    writeLibrary("KELDRA_ENG.rc", "147 DIALOGEX 0, 0, 100, 40\nBEGIN\n    BOGUS\nEND\n");
    sim::Scenario scenario = demoMachine();
    scenario.machine.programFolder = folder_;
    scenario.machine.useLibraryFolder = false;
    sim::Machine machine(scenario);
    sim::MachineProcess& process = machine.startProcess("Velcrest.exe");
    EXPECT_EQ(process.system().LoadLibraryA("KELDRA_ENG.dll"), nullptr);
    EXPECT_EQ(process.system().LoadLibraryA("FORMAT_ENG.dll"), nullptr);
    const auto missing = eventsOf(machine, sim::EventKind::LibraryMissing);
    ASSERT_EQ(missing.size(), 2u);
    EXPECT_NE(missing[0]->get(sim::field::kReason).find("KELDRA_ENG.rc:3"), std::string::npos)
        << missing[0]->get(sim::field::kReason);
    EXPECT_NE(missing[1]->get(sim::field::kReason).find("no FORMAT_ENG.rc"), std::string::npos);
}

}  // namespace

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "firmware/chained_xor.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"
#include "support/srecord_writer.h"
#include "update/update_app.h"
#include "update/update_dialog.h"
#include "update_machine.h"

namespace {

using update::UpdateTemplate;
using updatetest::UpdateMachine;

constexpr int kMainDialog = updatetest::templateOf(UpdateTemplate::MainDialog);
constexpr int kNoReader = updatetest::templateOf(UpdateTemplate::NoReader);
constexpr int kReaderNotReady = updatetest::templateOf(UpdateTemplate::ReaderNotReady);
constexpr int kUpdateComplete = updatetest::templateOf(UpdateTemplate::UpdateComplete);
constexpr int kPowerOffPrompt = updatetest::templateOf(UpdateTemplate::PowerOffPrompt);
constexpr int kSeveralReaders = updatetest::templateOf(UpdateTemplate::SeveralReaders);
constexpr int kWriteProtected = updatetest::templateOf(UpdateTemplate::WriteProtected);
constexpr int kStartNotice = updatetest::templateOf(UpdateTemplate::StartNotice);
constexpr int kUpdateStart = updatetest::templateOf(UpdateTemplate::UpdateStart);
constexpr int kNoTableRow = updatetest::templateOf(UpdateTemplate::NoTableRow);
constexpr int kFlashFailure = updatetest::templateOf(UpdateTemplate::FlashFailure);
constexpr int kFileCannotOpen = updatetest::templateOf(UpdateTemplate::FileCannotOpen);

// The demonstration firmware: 0x1000 bytes from 0x10000, described as one
// 16 KiB page.
constexpr std::size_t kDemoBlockCount = 0x4000 / 512;
// The header and every data block.
constexpr std::size_t kFlashed = kDemoBlockCount + 1;

std::string stringValue(const sim::SimRegistry& registry, const char* key, const char* name) {
    const std::optional<sim::RegistryValue> value = registry.value(key, name);
    if (!value) return "<missing>";
    return std::string(value->data.begin(), value->data.end());
}

// Runs the program as Windows would: start-up, then exit.
void runProgram(UpdateMachine& machine) {
    update::UpdateApp app(machine.services);
    EXPECT_EQ(app.InitInstance(), 0);
    app.ExitInstance();
}

struct CommandCase {
    const char* description;
    std::function<void(UpdateMachine&)> arrange;
    std::vector<int> expectedShown;
    std::size_t expectedBlocks;
    bool expectHandOff;
    bool expectPowerOff;
    bool expectQuit;
};

void PrintTo(const CommandCase& c, std::ostream* out) {
    *out << c.description;
}

// In each case the user presses OK on the main dialog once; where the command
// leaves the dialog open, Cancel closes it afterwards.
const CommandCase kCommandCases[] = {
    {.description = "update with power-off",
     .arrange = [](UpdateMachine&) {},
     .expectedShown = {kStartNotice, kUpdateStart, kUpdateComplete, kPowerOffPrompt, kMainDialog},
     .expectedBlocks = kFlashed,
     .expectHandOff = true,
     .expectPowerOff = true,
     .expectQuit = false},
    {.description = "power-off declined keeps the entries",
     .arrange = [](UpdateMachine& m) { m.answer(UpdateTemplate::PowerOffPrompt, win::IDCANCEL); },
     .expectedShown = {kStartNotice, kUpdateStart, kUpdateComplete, kPowerOffPrompt, kMainDialog},
     .expectedBlocks = kFlashed,
     .expectHandOff = true,
     .expectPowerOff = false,
     .expectQuit = false},
    {.description = "Cancel on the update notice ends before the table is read",
     .arrange = [](UpdateMachine& m) { m.answer(UpdateTemplate::UpdateStart, win::IDCANCEL); },
     .expectedShown = {kStartNotice, kUpdateStart, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "no table, OK ends",
     .arrange = [](UpdateMachine& m) { m.setup.programFiles.erase(updatetest::kTableFile); },
     .expectedShown = {kStartNotice, kUpdateStart, kFileCannotOpen, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "no table, Cancel leaves the dialog open",
     .arrange =
         [](UpdateMachine& m) {
             m.setup.programFiles.erase(updatetest::kTableFile);
             m.answer(UpdateTemplate::FileCannotOpen, win::IDCANCEL);
         },
     .expectedShown = {kStartNotice, kUpdateStart, kFileCannotOpen, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = false},
    {.description = "vendor in other letter case is no reader",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.setIdentity({"KAVO", "TKW-5 CardRW", "1.00"});
         },
     .expectedShown = {kStartNotice, kUpdateStart, kNoReader, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "product the table does not name is no reader",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.setIdentity({"Kavo", "TKW-9 Other", "1.00"});
         },
     .expectedShown = {kStartNotice, kUpdateStart, kNoReader, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "no reader, Cancel leaves the dialog open",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.setIdentity({"Acme", "TKW-5 CardRW", "1.00"});
             m.answer(UpdateTemplate::NoReader, win::IDCANCEL);
         },
     .expectedShown = {kStartNotice, kUpdateStart, kNoReader, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = false},
    {.description = "a second matching reader is reported, the first is updated",
     .arrange = [](UpdateMachine& m) { m.addReader('F', "Kavo", "TKW-5 CardRW"); },
     .expectedShown = {kStartNotice, kUpdateStart, kSeveralReaders, kUpdateComplete,
                       kPowerOffPrompt, kMainDialog},
     .expectedBlocks = kFlashed,
     .expectHandOff = true,
     .expectPowerOff = true,
     .expectQuit = false},
    {.description = "write protection keeps its notice coming back until removed",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.setDeviceSpecificParameter(0x10);  // any bit protects here
             m.answer(UpdateTemplate::WriteProtected, win::IDCANCEL);
             m.process.user.whileOpen(kWriteProtected, [&m, shown = 0](win::HWND) mutable {
                 if (++shown == 2) m.reader.setDeviceSpecificParameter(0);
             });
         },
     .expectedShown = {kStartNotice, kUpdateStart, kWriteProtected, kWriteProtected,
                       kUpdateComplete, kPowerOffPrompt, kMainDialog},
     .expectedBlocks = kFlashed,
     .expectHandOff = true,
     .expectPowerOff = true,
     .expectQuit = false},
    {.description = "empty medium in a ready reader goes on as with files",
     .arrange = [](UpdateMachine& m) { m.setup.drives['E'].files.clear(); },
     .expectedShown = {kStartNotice, kUpdateStart, kUpdateComplete, kPowerOffPrompt, kMainDialog},
     .expectedBlocks = kFlashed,
     .expectHandOff = true,
     .expectPowerOff = true,
     .expectQuit = false},
    {.description = "reader not ready, OK switches off without entries",
     .arrange =
         [](UpdateMachine& m) {
             m.setup.drives['E'].files.clear();
             m.reader.removeMedium();
         },
     .expectedShown = {kStartNotice, kUpdateStart, kReaderNotReady, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = true,
     .expectQuit = false},
    {.description = "reader not ready, Cancel leaves the dialog open",
     .arrange =
         [](UpdateMachine& m) {
             m.setup.drives['E'].files.clear();
             m.reader.removeMedium();
             m.answer(UpdateTemplate::ReaderNotReady, win::IDCANCEL);
         },
     .expectedShown = {kStartNotice, kUpdateStart, kReaderNotReady, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = false},
    {.description = "no row for the reader's revision",
     .arrange =
         [](UpdateMachine& m) {
             m.setTable(
                 "0d9f,1001,1002,TKW-5 CardRW;TKW-5 CardRW II;0101,VA-DE-LO Firmware Update "
                 "R01;0200,tkw5.s19\n");
         },
     .expectedShown = {kStartNotice, kUpdateStart, kNoTableRow, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "CR LF table names a file that cannot be opened",
     .arrange =
         [](UpdateMachine& m) { m.setTable(std::string(updatetest::kMatchingRow) + "\r\n"); },
     .expectedShown = {kStartNotice, kUpdateStart, kFileCannotOpen, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "a refused block the user lets pass is no success",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.refuseBlock(3);
             m.answerAlways(UpdateTemplate::FlashFailure, win::IDCANCEL);
         },
     // Once a block is refused the held volume is gone, so every later block
     // is refused too and reported.
     .expectedShown =
         [] {
             std::vector<int> shown{kStartNotice, kUpdateStart};
             shown.insert(shown.end(), kDemoBlockCount - 2, kFlashFailure);
             shown.push_back(kMainDialog);
             return shown;
         }(),
     .expectedBlocks = 3,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
    {.description = "an image without data is not flashed",
     .arrange =
         [](UpdateMachine& m) {
             m.setFirmware(testsupport::sRecord('0', 0, {'X'}) + testsupport::sRecord('9', 0, {}));
         },
     .expectedShown = {kStartNotice, kUpdateStart, kMainDialog},
     .expectedBlocks = 0,
     .expectHandOff = false,
     .expectPowerOff = false,
     .expectQuit = true},
};

class UpdateCommandTest : public testing::TestWithParam<CommandCase> {};

TEST_P(UpdateCommandTest, FollowsItsRoadToTheEnd) {
    const CommandCase& c = GetParam();
    UpdateMachine machine;
    machine.answer(UpdateTemplate::MainDialog, win::IDOK);
    machine.answerAlways(UpdateTemplate::MainDialog, win::IDCANCEL);
    c.arrange(machine);

    runProgram(machine);

    EXPECT_EQ(machine.shownTemplates(), c.expectedShown) << c.description;
    EXPECT_EQ(machine.reader.receivedBlocks().size(), c.expectedBlocks) << c.description;
    EXPECT_EQ(machine.registry.keyExists(update::kMarkerKey), c.expectHandOff) << c.description;
    EXPECT_EQ(machine.registry.value(update::kRunOnceKey, update::kRunOnceValue).has_value(),
              c.expectHandOff)
        << c.description;
    EXPECT_EQ(machine.poweredOff(), c.expectPowerOff) << c.description;
    EXPECT_EQ(!machine.ui.callsNamed("PostQuitMessage").empty(), c.expectQuit) << c.description;
    EXPECT_FALSE(machine.process.simUi.stoppedByLoopGuard()) << c.description;
    machine.expectEverythingReleased();
}

INSTANTIATE_TEST_SUITE_P(Cases, UpdateCommandTest, testing::ValuesIn(kCommandCases));

TEST(UpdateCommand, TheReaderReceivesTheFirmwareTheRowNames) {
    UpdateMachine machine;
    machine.answer(UpdateTemplate::MainDialog, win::IDOK);
    runProgram(machine);

    // The stream the reader should have: the file loaded on its own, and the
    // header built from the row's new identity.
    firmware::resetChainedDecoder();
    const std::vector<std::uint8_t> file = machine.setup.programFiles.at(updatetest::kFirmwareFile);
    firmware::MemoryByteSource source(file);
    firmware::FirmwareImage image;
    ASSERT_EQ(firmware::loadFirmwareImage(source, image), firmware::kLoadOk);
    const firmware::FlashPlan plan = firmware::planFlash(
        image, firmware::HeaderIdentity{"0d9f", "1002", "0100", updatetest::kNewProductName,
                                        updatetest::kHeaderName});
    EXPECT_EQ(machine.reader.getReceivedStream(), firmware::buildBlockStream(image, plan));
}

TEST(UpdateCommand, HandOffValuesAreTheRowsAndTheReaders) {
    for (const bool emptyMedium : {false, true}) {
        UpdateMachine machine;
        if (emptyMedium) machine.setup.drives['E'].files.clear();
        machine.answer(UpdateTemplate::MainDialog, win::IDOK);
        runProgram(machine);
        using std::string_literals::operator""s;
        EXPECT_EQ(stringValue(machine.registry, update::kRunOnceKey, update::kRunOnceValue),
                  "C:\\Velcrest\\Ardlow.exe\0"s);
        EXPECT_EQ(stringValue(machine.registry, update::kMarkerKey, "rev"), "0200\0"s);
        EXPECT_EQ(stringValue(machine.registry, update::kMarkerKey, "vender"), "Kavo\0"s);
        EXPECT_EQ(stringValue(machine.registry, update::kMarkerKey, "product"), "TKW-5 CardRW\0"s);
        const std::vector<std::string> order = machine.registry.valueNames(update::kMarkerKey);
        EXPECT_EQ(order, (std::vector<std::string>{"rev", "vender", "product"}));
    }
}

TEST(UpdateCommand, PowerOffEnablesTheShutdownPrivilegeFirst) {
    UpdateMachine machine;
    machine.answer(UpdateTemplate::MainDialog, win::IDOK);
    runProgram(machine);
    // One privilege, enabled, in a record of 16 bytes.
    const std::string adjusted =
        "AdjustTokenPrivileges(0,1," + std::to_string(win::SE_PRIVILEGE_ENABLED) + ",16)";
    const std::vector<std::string> expected = {
        "OpenProcessToken(8)",  // the administrator test at start-up
        "OpenProcessToken(40)", "LookupPrivilegeValueA(SeShutdownPrivilege)", adjusted,
        "ExitWindowsEx(12,0)",
    };
    EXPECT_EQ(machine.powerCalls(), expected);
    EXPECT_TRUE(machine.process.simSystem.powerOffRequested());
}

TEST(UpdateCommand, TwoReadersTheLowerLetterIsUpdated) {
    UpdateMachine machine;
    sim::VirtualReader& second = machine.addReader('F', "Kavo", "TKW-5 CardRW");
    machine.answer(UpdateTemplate::MainDialog, win::IDOK);
    runProgram(machine);
    EXPECT_EQ(machine.reader.receivedBlocks().size(), kFlashed);
    EXPECT_TRUE(second.receivedBlocks().empty());
}

TEST(UpdateCommand, EscapeNeverClosesTheMainDialog) {
    UpdateMachine machine;
    auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
    win::MSG escape{};
    escape.message = win::WM_KEYDOWN;
    escape.wParam = win::VK_ESCAPE;
    win::MSG enter = escape;
    enter.wParam = win::VK_RETURN;
    EXPECT_TRUE(dialog->preTranslateMessage(escape));
    EXPECT_FALSE(dialog->preTranslateMessage(enter));
}

// ---- initialisation --------------------------------------------------------

TEST(UpdateDialogInit, ListsTheRemovableDrivesInLetterOrder) {
    UpdateMachine machine;
    machine.setup.drives['F'].type = win::DRIVE_REMOVABLE;
    machine.setup.drives['Z'].type = win::DRIVE_REMOVABLE;
    machine.setup.drives['G'].type = win::DRIVE_REMOTE;
    auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
    machine.useLibrary();
    machine.answer(UpdateTemplate::MainDialog, win::IDCANCEL);
    dialog->doModal();
    EXPECT_EQ(dialog->removableDriveList, "0,4,5,25,");
    EXPECT_EQ(dialog->removableDriveCount, 4);
}

TEST(UpdateDialogInit, NoRemovableDriveShowsItsNotice) {
    for (const win::INT_PTR answer : {win::IDOK, win::IDCANCEL}) {
        UpdateMachine machine;
        machine.setup.drives = {{'C', sim::SimDrive{}}};
        machine.useLibrary();
        machine.answer(UpdateTemplate::NoReader, answer);
        machine.answerAlways(UpdateTemplate::MainDialog, win::IDCANCEL);
        int reachedUser = 0;
        machine.process.user.whileOpen(kMainDialog, [&](win::HWND) { ++reachedUser; });
        auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
        EXPECT_EQ(dialog->doModal(), win::IDCANCEL);
        EXPECT_EQ(dialog->removableDriveCount, 0);
        // OK closes the dialog at once, as Cancel does; any other answer
        // leaves it open for the user.
        EXPECT_EQ(reachedUser, answer == win::IDOK ? 0 : 1) << "answer " << answer;
        EXPECT_EQ(machine.shownTemplates(), (std::vector<int>{kNoReader, kMainDialog}));
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "firmware/chained_xor.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"
#include "update/update_app.h"
#include "update/update_dialog.h"
#include "update_machine.h"

namespace {

using update::UpdateTemplate;
using updatetest::UpdateMachine;

constexpr int k102 = 102;
constexpr int k136 = 136;
constexpr int k137 = 137;
constexpr int k140 = 140;
constexpr int k142 = 142;
constexpr int k146 = 146;
constexpr int k147 = 147;
constexpr int k150 = 150;
constexpr int k151 = 151;
constexpr int k153 = 153;
constexpr int k154 = 154;
constexpr int k155 = 155;

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

bool poweredOff(const UpdateMachine& machine) {
    return machine.system.exitWindowsFlags.has_value();
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
    {"update with power-off",
     [](UpdateMachine&) {},
     {k150, k151, k140, k142, k102},
     kFlashed,
     true,
     true,
     false},
    {"power-off declined keeps the entries",
     [](UpdateMachine& m) { m.answer(UpdateTemplate::PowerOffPrompt, win::IDCANCEL); },
     {k150, k151, k140, k142, k102},
     kFlashed,
     true,
     false,
     false},
    {"Cancel on the update notice ends before the table is read",
     [](UpdateMachine& m) { m.answer(UpdateTemplate::UpdateStart, win::IDCANCEL); },
     {k150, k151, k102},
     0,
     false,
     false,
     true},
    {"no table, OK ends",
     [](UpdateMachine& m) { m.system.files.erase("firmtable.txt"); },
     {k150, k151, k155, k102},
     0,
     false,
     false,
     true},
    {"no table, Cancel leaves the dialog open",
     [](UpdateMachine& m) {
         m.system.files.erase("firmtable.txt");
         m.answer(UpdateTemplate::FileCannotOpen, win::IDCANCEL);
     },
     {k150, k151, k155, k102},
     0,
     false,
     false,
     false},
    {"vendor in other letter case is no reader",
     [](UpdateMachine& m) {
         m.reader.setIdentity({"KAVO", "TKW-5 CardRW", "1.00"});
     },
     {k150, k151, k136, k102},
     0,
     false,
     false,
     true},
    {"product the table does not name is no reader",
     [](UpdateMachine& m) {
         m.reader.setIdentity({"Kavo", "TKW-9 Other", "1.00"});
     },
     {k150, k151, k136, k102},
     0,
     false,
     false,
     true},
    {"no reader, Cancel leaves the dialog open",
     [](UpdateMachine& m) {
         m.reader.setIdentity({"Acme", "TKW-5 CardRW", "1.00"});
         m.answer(UpdateTemplate::NoReader, win::IDCANCEL);
     },
     {k150, k151, k136, k102},
     0,
     false,
     false,
     false},
    {"a second matching reader is reported, the first is updated",
     [](UpdateMachine& m) { m.addReader('F', "Kavo", "TKW-5 CardRW"); },
     {k150, k151, k146, k140, k142, k102},
     kFlashed,
     true,
     true,
     false},
    {"write protection keeps its notice coming back until removed",
     [](UpdateMachine& m) {
         m.reader.setDeviceSpecificParameter(0x10);  // any bit protects here
         m.answer(UpdateTemplate::WriteProtected, win::IDCANCEL);
         m.ui.whileOpen(k147, [&m, shown = 0](win::HWND) mutable {
             if (++shown == 2) m.reader.setDeviceSpecificParameter(0);
         });
     },
     {k150, k151, k147, k147, k140, k142, k102},
     kFlashed,
     true,
     true,
     false},
    {"empty medium in a ready reader goes on as with files",
     [](UpdateMachine& m) { m.system.driveFiles['E'].clear(); },
     {k150, k151, k140, k142, k102},
     kFlashed,
     true,
     true,
     false},
    {"reader not ready, OK switches off without entries",
     [](UpdateMachine& m) {
         m.system.driveFiles['E'].clear();
         m.reader.removeMedium();
     },
     {k150, k151, k137, k102},
     0,
     false,
     true,
     false},
    {"reader not ready, Cancel leaves the dialog open",
     [](UpdateMachine& m) {
         m.system.driveFiles['E'].clear();
         m.reader.removeMedium();
         m.answer(UpdateTemplate::ReaderNotReady, win::IDCANCEL);
     },
     {k150, k151, k137, k102},
     0,
     false,
     false,
     false},
    {"no row for the reader's revision",
     [](UpdateMachine& m) {
         m.setTable(
             "0d9f,1001,1002,TKW-5 CardRW;TKW-5 CardRW II;0101,VA-DE-LO Firmware Update "
             "R01;0200,tkw5.s19\n");
     },
     {k150, k151, k153, k102},
     0,
     false,
     false,
     true},
    {"CR LF table names a file that cannot be opened",
     [](UpdateMachine& m) { m.setTable(std::string(updatetest::kMatchingRow) + "\r\n"); },
     {k150, k151, k155, k102},
     0,
     false,
     false,
     true},
    {"a refused block the user lets pass is no success",
     [](UpdateMachine& m) {
         m.reader.refuseBlock(3);
         m.answerAlways(UpdateTemplate::FlashFailure, win::IDCANCEL);
     },
     // Once a block is refused the held volume is gone, so every later block
     // is refused too and reported.
     [] {
         std::vector<int> shown{k150, k151};
         shown.insert(shown.end(), kDemoBlockCount - 2, k154);
         shown.push_back(k102);
         return shown;
     }(),
     3, false, false, true},
    {"an image without data is not flashed",
     [](UpdateMachine& m) {
         m.setFirmware(updatetest::sRecord('0', 0, {'X'}) + updatetest::sRecord('9', 0, {}));
     },
     {k150, k151, k102},
     0,
     false,
     false,
     true},
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
    EXPECT_EQ(poweredOff(machine), c.expectPowerOff) << c.description;
    EXPECT_EQ(machine.ui.quitCount() != 0, c.expectQuit) << c.description;
    EXPECT_FALSE(machine.ui.loopGuardTripped()) << c.description;
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
    const std::vector<std::uint8_t> file = machine.system.files.at(updatetest::kFirmwareFile);
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
        if (emptyMedium) machine.system.driveFiles['E'].clear();
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
    const std::vector<std::string> expected = {
        "OpenProcessToken(8)",  // the administrator test at start-up
        "OpenProcessToken(40)",  "LookupPrivilegeValueA(SeShutdownPrivilege)",
        "AdjustTokenPrivileges", "ExitWindowsEx(12,0)",
    };
    EXPECT_EQ(machine.system.powerCalls, expected);
    EXPECT_EQ(machine.system.adjustedPrivilegeCount, 1u);
    EXPECT_EQ(machine.system.adjustedAttributes, win::SE_PRIVILEGE_ENABLED);
    EXPECT_EQ(machine.system.adjustBufferLength, 16u);
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
    machine.system.driveTypes['F'] = win::DRIVE_REMOVABLE;
    machine.system.driveTypes['Z'] = win::DRIVE_REMOVABLE;
    machine.system.driveTypes['G'] = win::DRIVE_REMOTE;
    auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
    machine.ui.setResourceModule(machine.library);
    machine.answer(UpdateTemplate::MainDialog, win::IDCANCEL);
    dialog->doModal();
    EXPECT_EQ(dialog->removableDriveList, "0,4,5,25,");
    EXPECT_EQ(dialog->removableDriveCount, 4);
}

TEST(UpdateDialogInit, NoRemovableDriveShowsItsNotice) {
    for (const win::INT_PTR answer : {win::IDOK, win::IDCANCEL}) {
        UpdateMachine machine;
        machine.system.driveTypes = {{'C', win::DRIVE_FIXED}};
        machine.ui.setResourceModule(machine.library);
        machine.answer(UpdateTemplate::NoReader, answer);
        machine.answerAlways(UpdateTemplate::MainDialog, win::IDCANCEL);
        int reachedUser = 0;
        machine.ui.whileOpen(k102, [&](win::HWND) { ++reachedUser; });
        auto dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
        EXPECT_EQ(dialog->doModal(), win::IDCANCEL);
        EXPECT_EQ(dialog->removableDriveCount, 0);
        // OK closes the dialog at once, as Cancel does; any other answer
        // leaves it open for the user.
        EXPECT_EQ(reachedUser, answer == win::IDOK ? 0 : 1) << "answer " << answer;
        EXPECT_EQ(machine.shownTemplates(), (std::vector<int>{k136, k102}));
    }
}

}  // namespace

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "firmware/flash_layout.h"
#include "support/srecord_writer.h"
#include "update/update_dialog.h"
#include "update_machine.h"

namespace {

using testsupport::UiCall;
using update::UpdateTemplate;
using updatetest::UpdateMachine;

constexpr int kDeviceAccessFailure = updatetest::templateOf(UpdateTemplate::DeviceAccessFailure);
constexpr int kFlashFailure = updatetest::templateOf(UpdateTemplate::FlashFailure);
constexpr int kFileCannotOpen = updatetest::templateOf(UpdateTemplate::FileCannotOpen);
constexpr std::uint16_t kDemoBlocks = 32;  // 0x1000 bytes, one 16 KiB page

// The update controller as the update command leaves it just before the
// flash: the table row looked up, the main dialog ended.
class FlashFirmwareTest : public testing::Test {
  protected:
    FlashFirmwareTest() {
        machine.useLibrary();
        dialog = std::make_unique<update::UpdateDialog>(machine.services, machine.application);
        dialog->firmwareFileName = updatetest::kFirmwareFile;
        dialog->headerName = updatetest::kHeaderName;
        dialog->deviceLink.usbVendorId = "0d9f";
        dialog->deviceLink.usbProductId = "1002";
        dialog->deviceLink.usbRevision = "0100";
        dialog->deviceLink.inquiryProduct = updatetest::kNewProductName;
    }

    int flash() { return dialog->flashFirmware("E:\\"); }

    std::vector<win::UINT> barMessages() const {
        std::vector<win::UINT> messages;
        for (const UiCall& call : machine.ui.callsNamed("SendDlgItemMessageA")) {
            messages.push_back(call.message);
        }
        return messages;
    }

    bool progressShown() const { return !machine.ui.callsNamed("CreateDialogParamA").empty(); }

    UpdateMachine machine;
    std::unique_ptr<update::UpdateDialog> dialog;
};

TEST_F(FlashFirmwareTest, SendsHeaderAndEveryBlockAndSucceeds) {
    EXPECT_EQ(flash(), 1);
    const auto& received = machine.reader.receivedBlocks();
    ASSERT_EQ(received.size(), kDemoBlocks + 1u);
    for (std::size_t k = 0; k < received.size(); ++k) EXPECT_EQ(received[k].number, k);
    EXPECT_TRUE(machine.shownTemplates().empty());
    machine.expectEverythingReleased();
}

TEST_F(FlashFirmwareTest, KeepsTheDerivedValuesInTheController) {
    ASSERT_EQ(flash(), 1);
    EXPECT_EQ(dialog->flashPlan.header.imageStart, 0x10000u);
    EXPECT_EQ(dialog->flashPlan.header.imageLength, 0x4000u);
    EXPECT_EQ(dialog->firmwareImage.imageHighAddress, 0x13FFFu) << "stored back rounded";
    EXPECT_EQ(dialog->flashPlan.header.headerProductId, 0x1002);
    EXPECT_TRUE(dialog->flashPlan.scrambled);
    const firmware::HeaderBlockFields received = firmware::parseHeaderBlock(
        std::span<const std::uint8_t, firmware::kBlockSize>(
            machine.reader.receivedBlocks().front().bytes.data(), firmware::kBlockSize),
        true);
    EXPECT_EQ(received, dialog->flashPlan.header);
}

TEST_F(FlashFirmwareTest, DrivesTheProgressBarBlockByBlock) {
    ASSERT_EQ(flash(), 1);
    const std::vector<UiCall> bar = machine.ui.callsNamed("SendDlgItemMessageA");
    ASSERT_GE(bar.size(), 3u);
    EXPECT_EQ(bar[0].id, update::kProgressBarControl);
    EXPECT_EQ(bar[0].message, win::PBM_SETRANGE);
    EXPECT_EQ(bar[0].lParam, win::LPARAM{kDemoBlocks} << 16);
    EXPECT_EQ(bar[1].message, win::PBM_SETSTEP);
    EXPECT_EQ(bar[1].wParam, 1u);
    EXPECT_EQ(bar[2].message, win::PBM_SETPOS);
    EXPECT_EQ(bar[2].wParam, 0u);
    std::vector<win::UINT> expected = {win::PBM_SETRANGE, win::PBM_SETSTEP, win::PBM_SETPOS};
    expected.insert(expected.end(), kDemoBlocks, win::PBM_STEPIT);
    EXPECT_EQ(barMessages(), expected);
    EXPECT_EQ(machine.ui.callsNamed("ShowWindow").size(), 1u);
    EXPECT_EQ(machine.ui.callsNamed("RedrawWindow").size(), 1u);
    EXPECT_EQ(machine.ui.callsNamed("DestroyWindow").size(), 1u);
    EXPECT_EQ(machine.process.simUi.openWindows().size(), 0u);
}

struct StopCase {
    const char* description;
    std::function<void(UpdateMachine&)> arrange;
    std::vector<int> expectedShown;
    bool expectProgress;
    std::size_t expectedBlocks;
};

void PrintTo(const StopCase& c, std::ostream* out) {
    *out << c.description;
}

// Every way the flash ends without success; in none of them is anything left
// locked or open.
const StopCase kStopCases[] = {
    {.description = "firmware file missing",
     .arrange = [](UpdateMachine& m) { m.setup.programFiles.erase(updatetest::kFirmwareFile); },
     .expectedShown = {kFileCannotOpen},
     .expectProgress = false,
     .expectedBlocks = 0},
    {.description = "checksum error in the file",
     .arrange = [](UpdateMachine& m) { m.setFirmware("S2081000001122334455\n"); },
     .expectedShown = {},
     .expectProgress = false,
     .expectedBlocks = 0},
    {.description = "load address below the image",
     .arrange =
         [](UpdateMachine& m) {
             m.setFirmware(testsupport::sRecord('1', 0x1000, {1, 2}));
         },
     .expectedShown = {},
     .expectProgress = false,
     .expectedBlocks = 0},
    {.description = "file holding no data record",
     .arrange =
         [](UpdateMachine& m) {
             m.setFirmware(testsupport::sRecord('0', 0, {'X'}) + testsupport::sRecord('9', 0, {}));
         },
     .expectedShown = {},
     .expectProgress = false,
     .expectedBlocks = 0},
    // A count too small for its address: accepted, but no byte is stored.
    {.description = "a record that carries no bytes",
     .arrange = [](UpdateMachine& m) { m.setFirmware("S30300012000DB\n"); },
     .expectedShown = {},
     .expectProgress = false,
     .expectedBlocks = 0},
    // Two such records far apart leave bounds 0x20000 to 0x2FFFF behind, yet
    // not one byte was stored: there is nothing to send.
    {.description = "two records that carry no bytes, far apart",
     .arrange = [](UpdateMachine& m) { m.setFirmware("S30300020000FA\nS30300030000F9\n"); },
     .expectedShown = {},
     .expectProgress = false,
     .expectedBlocks = 0},
    // The loader sees the error as the end of the file at a record boundary
    // and would report a complete load of the first records.
    {.description = "read error between two records",
     .arrange =
         [](UpdateMachine& m) {
             const std::string text = updatetest::firmwareText(0x10000, 0x1000);
             std::size_t boundary = 0;
             for (int line = 0; line < 3; ++line) boundary = text.find('\n', boundary) + 1;
             // One key byte per line precedes the line's bytes in the file.
             m.setup.faults.failReadsAfter = boundary + 3;
         },
     .expectedShown = {},
     .expectProgress = false,
     .expectedBlocks = 0},
    {.description = "header refused, OK stops",
     .arrange = [](UpdateMachine& m) { m.reader.refuseBlock(0); },
     .expectedShown = {kFlashFailure},
     .expectProgress = true,
     .expectedBlocks = 0},
    {.description = "block refused, OK stops",
     .arrange = [](UpdateMachine& m) { m.reader.refuseBlock(5); },
     .expectedShown = {kFlashFailure},
     .expectProgress = true,
     .expectedBlocks = 5},
    {.description = "header refused, going on sends nothing more",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.refuseBlock(0);
             m.answerAlways(UpdateTemplate::FlashFailure, win::IDCANCEL);
         },
     .expectedShown = std::vector<int>(kDemoBlocks + 1u, kFlashFailure),
     .expectProgress = true,
     .expectedBlocks = 0},
    {.description = "last block refused, going on",
     .arrange =
         [](UpdateMachine& m) {
             m.reader.refuseBlock(kDemoBlocks);
             m.answerAlways(UpdateTemplate::FlashFailure, win::IDCANCEL);
         },
     .expectedShown = {kFlashFailure},
     .expectProgress = true,
     .expectedBlocks = kDemoBlocks},
};

class FlashStopTest : public FlashFirmwareTest, public testing::WithParamInterface<StopCase> {};

TEST_P(FlashStopTest, EndsWithoutSuccessAndReleasesEverything) {
    const StopCase& c = GetParam();
    c.arrange(machine);
    EXPECT_EQ(flash(), 0) << c.description;
    EXPECT_EQ(machine.shownTemplates(), c.expectedShown) << c.description;
    EXPECT_EQ(progressShown(), c.expectProgress) << c.description;
    EXPECT_EQ(machine.reader.receivedBlocks().size(), c.expectedBlocks) << c.description;
    EXPECT_EQ(machine.process.simUi.openWindows().size(), 0u) << c.description;
    machine.expectEverythingReleased();
}

INSTANTIATE_TEST_SUITE_P(Cases, FlashStopTest, testing::ValuesIn(kStopCases));

TEST_F(FlashFirmwareTest, LockRetriedUntilItHolds) {
    struct LockCase {
        win::INT_PTR answer;
        std::size_t unlocksBeforeSuccess;
    };
    for (const LockCase c : {LockCase{win::IDOK, 1}, LockCase{win::IDCANCEL, 0}}) {
        UpdateMachine local;
        local.useLibrary();
        auto controller = std::make_unique<update::UpdateDialog>(local.services, local.application);
        controller->firmwareFileName = updatetest::kFirmwareFile;
        controller->headerName = updatetest::kHeaderName;
        // Busy for the six attempts of one lock, then free.
        local.volumes.holdLockBusy('E', 6);
        local.answer(UpdateTemplate::DeviceAccessFailure, c.answer);

        EXPECT_EQ(controller->flashFirmware("E:\\"), 1) << "answer " << c.answer;
        EXPECT_EQ(local.shownTemplates(), std::vector<int>{kDeviceAccessFailure});
        std::size_t unlocksBeforeSuccess = 0;
        for (const sim::ControlRecord& control : local.volumes.controls()) {
            if (control.controlCode == win::FSCTL_LOCK_VOLUME && control.succeeded) break;
            if (control.controlCode == win::FSCTL_UNLOCK_VOLUME) ++unlocksBeforeSuccess;
        }
        EXPECT_EQ(unlocksBeforeSuccess, c.unlocksBeforeSuccess) << "answer " << c.answer;
        EXPECT_EQ(local.reader.receivedBlocks().size(), kDemoBlocks + 1u);
        local.expectEverythingReleased();
    }
}

// A volume that cannot even be opened shows the notice twice per round: once
// from the device link's open failure, once from the lock loop.
TEST_F(FlashFirmwareTest, OpenFailureShowsTheNoticeFromBothPlaces) {
    machine.volumes.failOpens(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED), 1);
    EXPECT_EQ(flash(), 1);
    EXPECT_EQ(machine.shownTemplates(),
              (std::vector<int>{kDeviceAccessFailure, kDeviceAccessFailure}));
    machine.expectEverythingReleased();
}

// A quit arriving while the blocks go out does not stop the flash; it is
// kept so that the program ends when the update command is over.
TEST_F(FlashFirmwareTest, QuitDuringTheBlocksIsKeptForLater) {
    machine.process.simUi.PostQuitMessage(0);
    EXPECT_EQ(flash(), 1);
    EXPECT_EQ(machine.reader.receivedBlocks().size(), kDemoBlocks + 1u);
    EXPECT_TRUE(machine.process.simUi.quitPending());
}

TEST_F(FlashFirmwareTest, PendingMessagesArePumpedBeforeEachBlock) {
    for (int i = 0; i < 3; ++i) machine.process.simUi.postMessage(nullptr, win::WM_PAINT, 0, 0);
    EXPECT_EQ(flash(), 1);
    EXPECT_EQ(machine.ui.callsNamed("DispatchMessageA").size(), 3u);
}

struct ScrambleCase {
    const char* headerName;
    bool scrambled;
};

TEST_F(FlashFirmwareTest, ScramblesOnlyForTheOneHeaderName) {
    const ScrambleCase cases[] = {{updatetest::kHeaderName, true},
                                  {"va-de-lo firmware update r01", false},
                                  {"Other Update", false}};
    for (const ScrambleCase& c : cases) {
        UpdateMachine local;
        local.useLibrary();
        auto controller = std::make_unique<update::UpdateDialog>(local.services, local.application);
        controller->firmwareFileName = updatetest::kFirmwareFile;
        controller->headerName = c.headerName;
        ASSERT_EQ(controller->flashFirmware("E:\\"), 1) << c.headerName;
        EXPECT_EQ(controller->flashPlan.scrambled, c.scrambled) << c.headerName;
        EXPECT_EQ(local.reader.getReceivedStream(),
                  firmware::buildBlockStream(controller->firmwareImage, controller->flashPlan))
            << c.headerName;
    }
}

}  // namespace

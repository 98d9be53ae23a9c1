#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "device/device_link.h"
#include "format/drive_select_dialog.h"
#include "format_machine.h"

namespace formattest {
namespace {

using testsupport::PrintTo;

// What sits behind one drive letter.
struct DriveEntry {
    char letter;
    win::UINT type;
    std::optional<sim::ReaderIdentity> reader;  // none: nothing answers
    bool inquiryFails = false;
};

class DriveSelectTest : public ::testing::Test {
  protected:
    void SetUp() override { machine.useEnglishLibrary(); }

    void build(const std::vector<DriveEntry>& drives) {
        for (const DriveEntry& drive : drives) {
            if (drive.reader) {
                machine.addReader(drive.letter, *drive.reader);
            }
            machine.addDrive(drive.letter, drive.type);
            if (drive.inquiryFails) {
                machine.volumes.injectForCommand(sim::ReaderCommand::Inquiry,
                                                 sim::InjectedFault::callFails(), sim::kForever,
                                                 drive.letter);
            }
        }
    }

    win::INT_PTR run() { return select.doModal(); }

    FormatMachine machine;
    device::DeviceLink link{machine.volumes, machine.registry, machine.clock,
                            device::WriteProtectRule::WpBitOnly};
    format::DriveSelectDialog select{machine.ui, machine.system, link};
};

const sim::ReaderIdentity kReader{"Kavo", "TKW-5 CardRW", "1.00"};

struct ListCase {
    const char* name;
    std::vector<DriveEntry> drives;
    std::vector<std::string> expectedEntries;
};

class DriveListTest : public DriveSelectTest, public ::testing::WithParamInterface<ListCase> {};

TEST_P(DriveListTest, ListsTheMakersReadersInDriveLetterOrder) {
    build(GetParam().drives);
    machine.process.user.answer(kDriveSelect, win::IDCANCEL);

    run();

    ASSERT_EQ(machine.comboBoxes().size(), 1u);
    const ComboBox combo = machine.comboBoxes()[0];
    EXPECT_EQ(combo.entries, GetParam().expectedEntries);
    if (!combo.entries.empty()) {
        EXPECT_EQ(combo.selection, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Readers, DriveListTest,
    ::testing::Values(
        // The reader pads its vendor with blanks and adds words to its
        // product; both are still the maker's reader.
        ListCase{"PaddedVendorAndLongerProduct", {{'E', win::DRIVE_REMOVABLE, kReader}}, {"E:\\"}},
        ListCase{"ProductContainsTheFamilyName",
                 {{'E', win::DRIVE_REMOVABLE, sim::ReaderIdentity{"Kavo", "XTKW-5", "1.00"}}},
                 {"E:\\"}},
        ListCase{"VendorInOtherLetterCase",
                 {{'E', win::DRIVE_REMOVABLE, sim::ReaderIdentity{"KAVO", "TKW-5", "1.00"}}},
                 {}},
        ListCase{"VendorWithAFurtherCharacter",
                 {{'E', win::DRIVE_REMOVABLE, sim::ReaderIdentity{"Kavox", "TKW-5", "1.00"}}},
                 {}},
        ListCase{"OtherProduct",
                 {{'E', win::DRIVE_REMOVABLE, sim::ReaderIdentity{"Kavo", "TKW-4 CardRW", "1"}}},
                 {}},
        ListCase{"ProductFamilyInOtherLetterCase",
                 {{'E', win::DRIVE_REMOVABLE, sim::ReaderIdentity{"Kavo", "tkw-5", "1.00"}}},
                 {}},
        ListCase{"TwoReadersLowerLetterFirst",
                 {{'G', win::DRIVE_REMOVABLE, kReader}, {'E', win::DRIVE_REMOVABLE, kReader}},
                 {"E:\\", "G:\\"}},
        ListCase{"FailingInquiryAfterAListedReader",
                 {{'E', win::DRIVE_REMOVABLE, kReader}, {'F', win::DRIVE_REMOVABLE, kReader, true}},
                 {"E:\\"}},
        ListCase{"RemovableDriveWithoutADevice",
                 {{'D', win::DRIVE_REMOVABLE, std::nullopt}, {'E', win::DRIVE_REMOVABLE, kReader}},
                 {"E:\\"}}),
    NameOfCase());

// A reader behind a drive of another type is never even asked.
TEST_F(DriveSelectTest, OnlyRemovableDrivesAreSentAnInquiry) {
    build({{'C', win::DRIVE_FIXED, kReader},
           {'D', win::DRIVE_CDROM, kReader},
           {'H', win::DRIVE_REMOTE, kReader},
           {'R', win::DRIVE_RAMDISK, kReader},
           {'F', win::DRIVE_REMOVABLE, kReader}});
    machine.process.user.answer(kDriveSelect, win::IDCANCEL);

    run();

    EXPECT_EQ(machine.comboBoxes()[0].entries, (std::vector<std::string>{"F:\\"}));
    for (const char letter : {'C', 'D', 'H', 'R'}) {
        EXPECT_TRUE(machine.commandsSentTo(letter).empty()) << letter;
    }
    EXPECT_EQ(machine.commandsSentTo('F'),
              (std::vector<sim::ReaderCommand>{sim::ReaderCommand::Inquiry}));
}

TEST_F(DriveSelectTest, OkTakesThePreselectedFirstEntry) {
    build({{'E', win::DRIVE_REMOVABLE, kReader}, {'G', win::DRIVE_REMOVABLE, kReader}});

    EXPECT_EQ(run(), win::IDOK);

    EXPECT_EQ(select.selectedDrive, "E:\\");
}

TEST_F(DriveSelectTest, OkTakesTheEntryTheUserPicked) {
    build({{'E', win::DRIVE_REMOVABLE, kReader}, {'G', win::DRIVE_REMOVABLE, kReader}});
    machine.process.user.whileOpen(kDriveSelect,
                                   [&](win::HWND window) { machine.selectInCombo(window, 1); });

    EXPECT_EQ(run(), win::IDOK);

    EXPECT_EQ(select.selectedDrive, "G:\\");
}

TEST_F(DriveSelectTest, OkWithoutASelectionShowsTheNoticeAndStaysOpen) {
    build({{'E', win::DRIVE_REMOVABLE, kReader}});
    machine.process.user.whileOpen(
        kDriveSelect, [&](win::HWND window) { machine.selectInCombo(window, win::CB_ERR); });
    machine.process.user.answer(kDriveSelect, win::IDOK);
    machine.process.user.answer(kDriveSelect, win::IDCANCEL);

    EXPECT_EQ(run(), win::IDCANCEL);

    EXPECT_EQ(machine.shownTemplates(), (std::vector<int>{kDriveSelect, kNothingSelected}));
    EXPECT_EQ(select.selectedDrive, "");
}

TEST_F(DriveSelectTest, NoReaderShowsTheNoticeAndCancels) {
    build({{'E', win::DRIVE_REMOVABLE, sim::ReaderIdentity{"Other", "Card", "1.00"}}});

    EXPECT_EQ(run(), win::IDCANCEL);

    EXPECT_EQ(machine.shownTemplates(), (std::vector<int>{kDriveSelect, kNoReader}));
    EXPECT_EQ(machine.ui.modalCount(kDriveSelect), 1);
}

// Each run builds its list afresh and keeps the last pick until a new one.
TEST_F(DriveSelectTest, EveryRunRebuildsTheList) {
    build({{'E', win::DRIVE_REMOVABLE, kReader}});
    EXPECT_EQ(run(), win::IDOK);
    machine.addReader('G', kReader);
    machine.process.user.answer(kDriveSelect, win::IDCANCEL);

    EXPECT_EQ(run(), win::IDCANCEL);

    ASSERT_EQ(machine.comboBoxes().size(), 2u);
    EXPECT_EQ(machine.comboBoxes()[1].entries, (std::vector<std::string>{"E:\\", "G:\\"}));
    EXPECT_EQ(select.selectedDrive, "E:\\");
}

TEST_F(DriveSelectTest, RefusesToLetTheMachineSuspend) {
    build({{'E', win::DRIVE_REMOVABLE, kReader}});
    win::LRESULT answer = 0;
    bool handled = false;
    machine.process.user.whileOpen(kDriveSelect, [&](win::HWND window) {
        handled =
            machine.deliver(window, win::WM_POWERBROADCAST, win::PBT_APMQUERYSUSPEND, 0, answer);
    });

    run();

    EXPECT_TRUE(handled);
    EXPECT_EQ(answer, win::BROADCAST_QUERY_DENY);
}

}  // namespace
}  // namespace formattest

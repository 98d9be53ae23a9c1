#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/format_app.h"
#include "format_machine.h"
#include "sim/sim_ui.h"
#include "sim/user_script.h"

namespace formattest {
namespace {

using sim::UserAction;

// The format program on the simulated screen with the English library that
// ships with it, in front of a person who presses Enter on every dialog.
class FormatLibraryRunTest : public ::testing::Test {
  protected:
    FormatLibraryRunTest() {
        machine.process.user.setFallbackAnswer(UserAction::enter());
        machine.installEnglishLibrary();
        reader.setFormatDuration(6000);
    }

    void run() {
        format::FormatApp app(machine.services());
        EXPECT_FALSE(app.InitInstance());
        app.ExitInstance();
        EXPECT_TRUE(screen.missing.empty());
        EXPECT_TRUE(simUi.openWindows().empty());
        EXPECT_FALSE(simUi.stoppedByLoopGuard());
        EXPECT_EQ(machine.volumes.openHandleCount(), 0u);
        EXPECT_EQ(machine.registry.openKeyCount(), 0u);
    }

    void queue(int templateId, UserAction action) {
        machine.process.user.answer(templateId, action);
    }
    // The drive list as it stood when it last changed.
    sim::ComboBoxState lastCombo() const {
        for (auto combo = screen.combos.rbegin(); combo != screen.combos.rend(); ++combo) {
            if (combo->controlId == kDriveCombo) return combo->state;
        }
        ADD_FAILURE() << "no drive list was filled";
        return {};
    }

    FormatMachine machine;
    sim::SimUi& simUi = machine.process.simUi;
    const testsupport::DialogLog& screen = machine.process.screen;
    sim::VirtualReader& reader = machine.addReader('E');
};

TEST_F(FormatLibraryRunTest, AfterAnUpdateEnterFormatsAndConfirmsTheRevision) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");

    run();

    EXPECT_EQ(screen.shown, (std::vector<int>{kMainDialog, kRevisionMatches}));
    EXPECT_EQ(reader.completedFormats(), 1);
    ASSERT_EQ(screen.lastBar.count(kProgressBar), 1u);
    EXPECT_EQ(screen.lastBar.at(kProgressBar).high, 0xFFFF);
    EXPECT_EQ(screen.lastBar.at(kProgressBar).position,
              0xD555);  // the last poll, five sixths through
    EXPECT_FALSE(machine.markerExists());
}

TEST_F(FormatLibraryRunTest, StandAloneListsTheReaderAndFormatsIt) {
    run();

    EXPECT_EQ(screen.shown,
              (std::vector<int>{kMainDialog, kDriveSelect, kConfirmFormat, kStandAloneDone}));
    EXPECT_EQ(lastCombo().items, (std::vector<std::string>{"E:\\"}));
    EXPECT_EQ(lastCombo().selection, 0);
    EXPECT_EQ(reader.completedFormats(), 1);
}

// The format program's main dialog has no Escape rule of its own: Escape
// is Cancel there, which ends the program before anything is formatted.
TEST_F(FormatLibraryRunTest, EscapeOnTheMainDialogEndsWithoutFormatting) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");
    queue(kMainDialog, UserAction::escape());

    run();

    EXPECT_EQ(screen.shown, (std::vector<int>{kMainDialog}));
    EXPECT_EQ(reader.completedFormats(), 0);
    EXPECT_TRUE(machine.markerExists());
}

TEST_F(FormatLibraryRunTest, SuspendIsRefusedWhileTheProgramsWindowsAreOpen) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");
    for (const int id : {kMainDialog, kRevisionMatches}) {
        queue(id, UserAction::querySuspend());
        queue(id, UserAction::enter());
    }
    // While the format runs only the progress window is open.
    bool refusedDuringFormat = false;
    machine.clock.at(5000 + 3000, [&] { refusedDuringFormat = simUi.querySuspend(); });

    run();

    EXPECT_TRUE(refusedDuringFormat);
    EXPECT_EQ(screen.suspendQueries, std::vector<bool>(3, true));
}

TEST_F(FormatLibraryRunTest, AboutEntryShowsTheAboutBox) {
    queue(kMainDialog, UserAction::about());
    queue(kMainDialog, UserAction::cancel());

    run();

    EXPECT_EQ(screen.shown, (std::vector<int>{kMainDialog, kAboutBox}));
}

}  // namespace
}  // namespace formattest

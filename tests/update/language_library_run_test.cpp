#include <gtest/gtest.h>

#include <vector>

#include "sim/user_script.h"
#include "update/update_app.h"
#include "update/update_dialog.h"
#include "update_machine.h"

namespace {

using sim::UserAction;
using update::UpdateTemplate;
using updatetest::templateOf;

constexpr int kAboutBox = templateOf(UpdateTemplate::AboutBox);
constexpr int kMainDialog = templateOf(UpdateTemplate::MainDialog);
constexpr int kStartNotice = templateOf(UpdateTemplate::StartNotice);
constexpr int kUpdateStart = templateOf(UpdateTemplate::UpdateStart);
constexpr int kUpdateComplete = templateOf(UpdateTemplate::UpdateComplete);
constexpr int kPowerOffPrompt = templateOf(UpdateTemplate::PowerOffPrompt);

// The program on the simulated screen with the English library that ships
// with it, answered by a person who presses Enter on every dialog: the whole
// update runs and the machine is switched off.
class LanguageLibraryRunTest : public testing::Test {
  protected:
    LanguageLibraryRunTest() { machine.process.user.setFallbackAnswer(UserAction::enter()); }

    void run() {
        update::UpdateApp app(machine.services);
        EXPECT_EQ(app.InitInstance(), 0);
        app.ExitInstance();
    }

    void queue(int templateId, UserAction action) {
        machine.process.user.answer(templateId, action);
    }
    const testsupport::DialogLog& screen() const { return machine.process.screen; }

    updatetest::UpdateMachine machine;
};

TEST_F(LanguageLibraryRunTest, EnterOnEveryDialogUpdatesAndSwitchesOff) {
    run();
    EXPECT_EQ(screen().shown, (std::vector<int>{kStartNotice, kMainDialog, kUpdateStart,
                                                kUpdateComplete, kPowerOffPrompt}));
    EXPECT_TRUE(screen().missing.empty());
    EXPECT_EQ(machine.reader.receivedBlocks().size(), 33u);
    const sim::ProgressBarState bar = screen().lastBar.at(update::kProgressBarControl);
    EXPECT_EQ(bar.high, 32);
    EXPECT_EQ(bar.position, 32);
    EXPECT_TRUE(machine.registry.keyExists(update::kMarkerKey));
    EXPECT_TRUE(machine.poweredOff());
    EXPECT_TRUE(machine.process.simUi.openWindows().empty());
    EXPECT_FALSE(machine.process.simUi.stoppedByLoopGuard());
    machine.expectEverythingReleased();
}

TEST_F(LanguageLibraryRunTest, EscapeOnTheMainDialogDoesNothingAndEnterStartsTheUpdate) {
    queue(kMainDialog, UserAction::escape());
    queue(kMainDialog, UserAction::enter());
    run();
    EXPECT_EQ(machine.reader.receivedBlocks().size(), 33u);
}

TEST_F(LanguageLibraryRunTest, SuspendIsRefusedWhileTheProgramsDialogsAreOpen) {
    for (const int id :
         {kStartNotice, kMainDialog, kUpdateStart, kUpdateComplete, kPowerOffPrompt}) {
        queue(id, UserAction::querySuspend());
        queue(id, UserAction::enter());
    }
    run();
    EXPECT_EQ(screen().suspendQueries, std::vector<bool>(5, true));
}

TEST_F(LanguageLibraryRunTest, AboutEntryOfTheMainDialogShowsTheAboutBox) {
    queue(kMainDialog, UserAction::about());
    queue(kMainDialog, UserAction::cancel());
    run();
    EXPECT_EQ(screen().shown, (std::vector<int>{kStartNotice, kMainDialog, kAboutBox}));
}

}  // namespace

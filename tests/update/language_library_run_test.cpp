#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "sim/resource_script.h"
#include "sim/sim_ui.h"
#include "sim/user_script.h"
#include "update/update_app.h"
#include "update/update_dialog.h"
#include "update_machine.h"

namespace {

using sim::UserAction;

std::shared_ptr<const sim::ResourceScript> script(const char* fileName) {
    const sim::ScriptReading reading = sim::readResourceScriptFile(
        std::filesystem::path(VELCREST_SOURCE_DIR) / "resources" / fileName);
    EXPECT_TRUE(reading.ok()) << (reading.error ? reading.error->describe() : "");
    return std::make_shared<const sim::ResourceScript>(reading.script);
}

class Screen final : public sim::UiObserver {
  public:
    void dialogShown(const sim::DialogView& dialog) override { shown.push_back(dialog.templateId); }
    void templateMissing(int templateId, bool /*modal*/) override { missing.push_back(templateId); }
    void suspendQuery(bool refused) override { suspendAnswers.push_back(refused); }
    void progressChanged(int /*templateId*/, int controlId,
                         const sim::ProgressBarState& bar) override {
        if (controlId == update::kProgressBarControl) lastBar = bar;
    }

    std::vector<int> shown;
    std::vector<int> missing;
    std::vector<bool> suspendAnswers;
    sim::ProgressBarState lastBar;
};

// The program on the simulated screen with the English library that ships
// with it, answered by a person who presses Enter on every dialog: the whole
// update runs and the machine is switched off.
class LanguageLibraryRunTest : public testing::Test {
  protected:
    LanguageLibraryRunTest() {
        simUi.setObserver(&screen);
        simUi.setProgramResources(script("velcrest.rc"));
        machine.system.libraries["KELDRA_ENG.dll"] = simUi.addModule(script("KELDRA_ENG.rc"));
    }

    void run() {
        update::UpdateApp app(machine.services);
        EXPECT_EQ(app.InitInstance(), 0);
        app.ExitInstance();
    }

    sim::QueuedUserScript user;
    sim::SimUi simUi{user};
    Screen screen;
    updatetest::UpdateMachine machine{simUi};
};

TEST_F(LanguageLibraryRunTest, EnterOnEveryDialogUpdatesAndSwitchesOff) {
    run();
    EXPECT_EQ(screen.shown, (std::vector<int>{150, 102, 151, 140, 142}));
    EXPECT_TRUE(screen.missing.empty());
    EXPECT_EQ(machine.reader.receivedBlocks().size(), 33u);
    EXPECT_EQ(screen.lastBar.high, 32);
    EXPECT_EQ(screen.lastBar.position, 32);
    EXPECT_TRUE(machine.registry.keyExists(update::kMarkerKey));
    EXPECT_TRUE(machine.system.exitWindowsFlags.has_value());
    EXPECT_TRUE(simUi.openWindows().empty());
    EXPECT_FALSE(simUi.stoppedByLoopGuard());
    machine.expectEverythingReleased();
}

TEST_F(LanguageLibraryRunTest, EscapeOnTheMainDialogDoesNothingAndEnterStartsTheUpdate) {
    user.queueAnswer(102, UserAction::escape());
    user.queueAnswer(102, UserAction::enter());
    run();
    EXPECT_EQ(machine.reader.receivedBlocks().size(), 33u);
}

TEST_F(LanguageLibraryRunTest, SuspendIsRefusedWhileTheProgramsDialogsAreOpen) {
    for (const int id : {150, 102, 151, 140, 142}) {
        user.queueAnswer(id, UserAction::querySuspend());
        user.queueAnswer(id, UserAction::enter());
    }
    run();
    EXPECT_EQ(screen.suspendAnswers, std::vector<bool>(5, true));
}

TEST_F(LanguageLibraryRunTest, AboutEntryOfTheMainDialogShowsTheAboutBox) {
    user.queueAnswer(102, UserAction::about());
    user.queueAnswer(102, UserAction::cancel());
    run();
    EXPECT_EQ(screen.shown, (std::vector<int>{150, 102, 100}));
}

}  // namespace

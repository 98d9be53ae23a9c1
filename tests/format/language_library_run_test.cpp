#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "format/format_app.h"
#include "format_machine.h"
#include "sim/resource_script.h"
#include "sim/sim_ui.h"
#include "sim/user_script.h"

namespace formattest {
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
        if (controlId == kProgressBar) bars.push_back(bar);
    }
    void comboChanged(int /*templateId*/, int controlId, const sim::ComboBoxState& combo) override {
        if (controlId == kDriveCombo) lastCombo = combo;
    }

    std::vector<int> shown;
    std::vector<int> missing;
    std::vector<bool> suspendAnswers;
    std::vector<sim::ProgressBarState> bars;
    sim::ComboBoxState lastCombo;
};

// The format program on the simulated screen with the English library that
// ships with it, in front of a person who presses Enter on every dialog.
class FormatLibraryRunTest : public ::testing::Test {
  protected:
    FormatLibraryRunTest() {
        simUi.setObserver(&screen);
        simUi.setProgramResources(script("ardlow.rc"));
        machine.system.libraries[kEnglishLibrary] = simUi.addModule(script("FORMAT_ENG.rc"));
        reader.reader.setFormatDuration(6000);
    }

    void run() {
        format::FormatApp app(
            {simUi, machine.system, machine.registry, machine.volumes, machine.clock});
        EXPECT_FALSE(app.InitInstance());
        app.ExitInstance();
        EXPECT_TRUE(screen.missing.empty());
        EXPECT_TRUE(simUi.openWindows().empty());
        EXPECT_FALSE(simUi.stoppedByLoopGuard());
        EXPECT_EQ(machine.volumes.openHandleCount(), 0u);
        EXPECT_EQ(machine.registry.openKeyCount(), 0u);
    }

    sim::QueuedUserScript user;
    sim::SimUi simUi{user};
    Screen screen;
    FormatMachine machine;
    HookedReader& reader = machine.addReader('E');
};

TEST_F(FormatLibraryRunTest, AfterAnUpdateEnterFormatsAndConfirmsTheRevision) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");

    run();

    EXPECT_EQ(screen.shown, (std::vector<int>{kMainDialog, kRevisionMatches}));
    EXPECT_EQ(reader.reader.completedFormats(), 1);
    ASSERT_FALSE(screen.bars.empty());
    EXPECT_EQ(screen.bars.back().high, 0xFFFF);
    EXPECT_EQ(screen.bars.back().position, 0xD555);  // the last poll, five sixths through
    EXPECT_FALSE(machine.markerExists());
}

TEST_F(FormatLibraryRunTest, StandAloneListsTheReaderAndFormatsIt) {
    run();

    EXPECT_EQ(screen.shown,
              (std::vector<int>{kMainDialog, kDriveSelect, kConfirmFormat, kStandAloneDone}));
    EXPECT_EQ(screen.lastCombo.items, (std::vector<std::string>{"E:\\"}));
    EXPECT_EQ(screen.lastCombo.selection, 0);
    EXPECT_EQ(reader.reader.completedFormats(), 1);
}

// The format program's main dialog has no Escape rule of its own: Escape
// is Cancel there, which ends the program before anything is formatted.
TEST_F(FormatLibraryRunTest, EscapeOnTheMainDialogEndsWithoutFormatting) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");
    user.queueAnswer(kMainDialog, UserAction::escape());

    run();

    EXPECT_EQ(screen.shown, (std::vector<int>{kMainDialog}));
    EXPECT_EQ(reader.reader.completedFormats(), 0);
    EXPECT_TRUE(machine.markerExists());
}

TEST_F(FormatLibraryRunTest, SuspendIsRefusedWhileTheProgramsWindowsAreOpen) {
    machine.writeMarker("Kavo", "TKW-5 CardRW", "0200");
    for (const int id : {kMainDialog, kRevisionMatches}) {
        user.queueAnswer(id, UserAction::querySuspend());
        user.queueAnswer(id, UserAction::enter());
    }
    // While the format runs only the progress window is open.
    bool refusedDuringFormat = false;
    machine.clock.at(5000 + 3000, [&] { refusedDuringFormat = simUi.querySuspend(); });

    run();

    EXPECT_TRUE(refusedDuringFormat);
    EXPECT_EQ(screen.suspendAnswers, std::vector<bool>(3, true));
}

TEST_F(FormatLibraryRunTest, AboutEntryShowsTheAboutBox) {
    user.queueAnswer(kMainDialog, UserAction::about());
    user.queueAnswer(kMainDialog, UserAction::cancel());

    run();

    EXPECT_EQ(screen.shown, (std::vector<int>{kMainDialog, kAboutBox}));
}

}  // namespace
}  // namespace formattest

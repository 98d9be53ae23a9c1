// A program's dialogs belong to its own process: a second program started
// while the first is open numbers its windows from the same base, and must
// not take the first one's dialogs away from it when it ends.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "demo_scenario.h"
#include "e2e_support.h"
#include "program_table.h"
#include "shell/application.h"
#include "shell/dialog.h"
#include "shell/main_dialog.h"
#include "shell/progress_dialog.h"

namespace e2e {
namespace {

constexpr char kLanguageLibrary[] = "KELDRA_ENG.dll";
constexpr std::uint64_t kSecondProgramStartsMs = 100;
constexpr win::DWORD kPastTheSecondStart = 1000;

// The progress dialog, counting the Escape presses its key hook swallowed.
class WatchedProgress : public shell::ProgressDialog {
  public:
    explicit WatchedProgress(platform::Ui& ui)
        : ProgressDialog(ui, id(UT::Progress), update::kProgressBarControl) {}

    bool preTranslateMessage(const win::MSG& message) override {
        const bool swallowed = ProgressDialog::preTranslateMessage(message);
        if (swallowed && shell::isEscapeKeyDown(message)) ++escapesSwallowed;
        return swallowed;
    }

    int escapesSwallowed = 0;
};

// The main dialog, counting the OK commands the dialog manager gave it.
class WatchedMain : public shell::MainDialog {
  public:
    using MainDialog::MainDialog;

    int okCommands = 0;

  protected:
    void onOK() override { ++okCommands; }
};

// Both kinds of the programs' dialogs, open modeless in one process, as the
// update program has them while it flashes.
struct OpenDialogs {
    explicit OpenDialogs(sim::MachineProcess& process)
        : main(process.services().ui), progress(process.services().ui) {
        process.ui().setResourceModule(process.system().LoadLibraryA(kLanguageLibrary));
        main.createModeless();
        progress.open();
    }

    WatchedMain main;
    WatchedProgress progress;
};

std::size_t aboutBoxesShown(const sim::Machine& machine) {
    return static_cast<std::size_t>(std::count_if(
        machine.events().begin(), machine.events().end(), [](const sim::MachineEvent& e) {
            return e.kind == sim::EventKind::DialogShown && e.program == kUpdate &&
                   e.get(sim::field::kTemplate) == id(UT::AboutBox);
        }));
}

TEST(ProcessDialogs, TheFirstProgramKeepsItsKeyHandlingAfterASecondOneStartedAndEnded) {
    sim::Scenario scenario = simrun::demoScenario();
    simrun::fillDefaultFolders(scenario);
    sim::Incident start;
    start.at.kind = sim::TriggerKind::Time;
    start.at.timeMs = kSecondProgramStartsMs;
    start.kind = sim::IncidentKind::StartProgram;
    start.program = kUpdate;
    scenario.incidents = {start};
    sim::Machine machine(scenario);
    machine.setProgramFiles(simrun::programFiles());

    sim::MachineProcess& first = machine.startProcess(kUpdate);
    shell::Application application(first.services().ui);
    OpenDialogs firsts(first);
    ASSERT_NE(firsts.main.window(), nullptr);
    ASSERT_NE(firsts.progress.window(), nullptr);

    bool secondCollided = false;
    machine.setProgramStarter([&](const std::string& program) {
        sim::MachineProcess& second = machine.startProcess(program);
        {
            OpenDialogs seconds(second);
            secondCollided = seconds.main.window() == firsts.main.window() &&
                             seconds.progress.window() == firsts.progress.window();
            seconds.progress.close();
            seconds.main.destroyWindow();
        }
        machine.endProcess();
    });
    first.services().clock.Sleep(kPastTheSecondStart);
    ASSERT_EQ(machine.currentProcess(), &first);
    ASSERT_TRUE(secondCollided) << "the second program's windows carry the first's handles";

    first.ui().act(firsts.progress.window(), sim::UserAction::escape());
    first.ui().act(firsts.main.window(), sim::UserAction::enter());
    application.pumpPendingMessages();
    EXPECT_EQ(firsts.progress.escapesSwallowed, 1) << "the Escape rule";
    EXPECT_EQ(firsts.main.okCommands, 1) << "Enter reaches the dialog manager";
    const std::vector<win::HWND> open = first.ui().openWindows();
    EXPECT_NE(std::find(open.begin(), open.end(), firsts.progress.window()), open.end());

    const std::size_t aboutBefore = aboutBoxesShown(machine);
    ASSERT_TRUE(first.ui().act(firsts.main.window(), sim::UserAction::about()));
    EXPECT_EQ(aboutBoxesShown(machine), aboutBefore + 1) << "the About entry";
}

}  // namespace
}  // namespace e2e

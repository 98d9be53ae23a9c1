#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_ui.h"
#include "support/case_names.h"
#include "support/dialog_log.h"

namespace sim {
namespace {

constexpr int kNotice = 150;         // OK and Cancel, close box
constexpr int kOkOnly = 151;         // OK only, no close box
constexpr int kCancelDefault = 152;  // Cancel is the default button
constexpr int kProgress = 153;
constexpr int kProgressBar = 1003;
constexpr int kDrives = 144;
constexpr int kDriveCombo = 1000;
constexpr int kSortedCombo = 1001;
constexpr int kMissing = 199;
constexpr win::UINT kMenuText = 101;

constexpr const char* kScript = R"rc(
150 DIALOGEX 0, 0, 200, 80
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Notice"
BEGIN
    LTEXT "Do the &thing?", -1, 7, 7, 180, 20
    DEFPUSHBUTTON "&OK", IDOK, 40, 50, 50, 14
    PUSHBUTTON "Cancel", IDCANCEL, 100, 50, 50, 14
END
151 DIALOGEX 0, 0, 200, 80
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION
CAPTION "Only OK"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 40, 50, 50, 14
END
152 DIALOGEX 0, 0, 200, 80
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Careful"
BEGIN
    PUSHBUTTON "Stop", IDOK, 40, 50, 50, 14
    DEFPUSHBUTTON "Go on", IDCANCEL, 100, 50, 50, 14
END
153 DIALOGEX 0, 0, 200, 40
STYLE WS_POPUP | WS_CAPTION
CAPTION "Working"
BEGIN
    CONTROL "", 1003, "msctls_progress32", WS_BORDER, 7, 7, 180, 14
END
144 DIALOGEX 0, 0, 200, 80
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Pick"
BEGIN
    COMBOBOX 1000, 7, 7, 100, 60, CBS_DROPDOWNLIST | WS_VSCROLL
    COMBOBOX 1001, 7, 27, 100, 60, CBS_DROPDOWNLIST | CBS_SORT
    DEFPUSHBUTTON "OK", IDOK, 40, 50, 50, 14
    PUSHBUTTON "Cancel", IDCANCEL, 100, 50, 50, 14
END
STRINGTABLE
BEGIN
    101 "&About..."
END
156 ICON "app.ico"
)rc";

using testsupport::NameOfCase;
using testsupport::PrintTo;

std::shared_ptr<const ResourceScript> parsed(const char* text) {
    ScriptReading reading = readResourceScript(text, "test.rc");
    EXPECT_TRUE(reading.ok()) << (reading.error ? reading.error->describe() : "");
    return std::make_shared<const ResourceScript>(std::move(reading.script));
}

// A dialog as the programs' dialog classes behave: OK and Cancel end it with
// their ids, and the hooks the test sets decide the rest.
class TestDialog final : public platform::DialogProcedure {
  public:
    explicit TestDialog(platform::Ui& ui) : ui_(ui) {}

    std::function<void(win::HWND)> onInit;
    std::function<bool(win::UINT id)> onCommand;  // true when handled
    bool swallowEscape = false;
    bool refuseSuspend = false;
    std::vector<win::MSG> preTranslated;
    std::vector<std::pair<win::UINT, win::WPARAM>> received;
    win::HWND window = nullptr;
    int paintsWhileIconic = 0;

    bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam, win::LPARAM,
                    win::LRESULT& result) override {
        received.emplace_back(message, wParam);
        window = dialog;
        switch (message) {
            case win::WM_INITDIALOG:
                if (onInit) onInit(dialog);
                result = win::TRUE;
                return true;
            case win::WM_COMMAND: {
                const auto id = static_cast<win::UINT>(wParam & 0xFFFF);
                if (onCommand && onCommand(id)) return true;
                if (id == win::IDOK || id == win::IDCANCEL) {
                    ui_.EndDialog(dialog, id);
                    return true;
                }
                return false;
            }
            case win::WM_POWERBROADCAST:
                if (!refuseSuspend) return false;
                result = win::BROADCAST_QUERY_DENY;
                return true;
            case win::WM_PAINT:
                if (ui_.IsIconic(dialog) != win::FALSE) ++paintsWhileIconic;
                return false;
            default:
                return false;
        }
    }

    bool preTranslateMessage(const win::MSG& message) override {
        preTranslated.push_back(message);
        return swallowEscape && message.message == win::WM_KEYDOWN &&
               message.wParam == win::VK_ESCAPE;
    }

  private:
    platform::Ui& ui_;
};

class SimUiTest : public ::testing::Test {
  protected:
    SimUiTest() : ui(user) {
        ui.setProgramResources(parsed(kScript));
        ui.setObserver(&recorder);
    }

    QueuedUserScript user;
    SimUi ui;
    testsupport::DialogLog recorder;
};

struct ModalCase {
    const char* name;
    int templateId;
    UserAction action;
    win::INT_PTR expected;
};

class ModalResultTest : public SimUiTest, public ::testing::WithParamInterface<ModalCase> {};

TEST_P(ModalResultTest, EndsWithTheResultOfTheAnswer) {
    const ModalCase& test = GetParam();
    user.queueAnswer(test.templateId, test.action);
    TestDialog dialog(ui);
    EXPECT_EQ(ui.DialogBoxParamA(test.templateId, &dialog), test.expected);
    EXPECT_EQ(recorder.shown, std::vector<int>{test.templateId});
    EXPECT_EQ(ui.answersGiven(), 1u);
    EXPECT_TRUE(ui.openWindows().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ModalResultTest,
    ::testing::Values(ModalCase{"Ok", kNotice, UserAction::ok(), win::IDOK},
                      ModalCase{"Cancel", kNotice, UserAction::cancel(), win::IDCANCEL},
                      ModalCase{"CloseBox", kNotice, UserAction::closeBox(), win::IDCANCEL},
                      ModalCase{"Enter", kNotice, UserAction::enter(), win::IDOK},
                      ModalCase{"Escape", kNotice, UserAction::escape(), win::IDCANCEL},
                      ModalCase{"EnterPressesTheDefaultButton", kCancelDefault, UserAction::enter(),
                                win::IDCANCEL},
                      ModalCase{"EscapeWithoutCancelButton", kOkOnly, UserAction::escape(),
                                win::IDCANCEL}),
    NameOfCase{});

// The person, and the transcript, see the dialog as it is shown: texts
// without their mnemonic marks, the buttons and which one Enter presses.
TEST_F(SimUiTest, ThePersonSeesTheDialogAsShown) {
    struct Looking final : UserScript {
        std::vector<DialogView> seen;
        UserAction answer(const DialogView& dialog) override {
            seen.push_back(dialog);
            return UserAction::cancel();
        }
    } looking;
    ui.setUserScript(looking);
    TestDialog dialog(ui);
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDCANCEL);
    ASSERT_EQ(looking.seen.size(), 1u);
    const DialogView& view = looking.seen[0];
    EXPECT_EQ(view.templateId, kNotice);
    EXPECT_EQ(view.caption, "Notice");
    EXPECT_EQ(view.texts, std::vector<std::string>{"Do the thing?"});
    ASSERT_EQ(view.buttons.size(), 2u);
    EXPECT_EQ(view.buttons[0].id, 1);
    EXPECT_EQ(view.buttons[0].text, "OK");
    EXPECT_TRUE(view.buttons[0].isDefault);
    EXPECT_EQ(view.buttons[1].text, "Cancel");
    EXPECT_FALSE(view.buttons[1].isDefault);
    EXPECT_TRUE(view.modal);
    EXPECT_TRUE(view.hasCloseBox);
    EXPECT_EQ(recorder.closed,
              (std::vector<std::pair<int, win::INT_PTR>>{{kNotice, win::IDCANCEL}}));
}

TEST_F(SimUiTest, MissingTemplateGivesMinusOneWithoutAsking) {
    TestDialog dialog(ui);
    EXPECT_EQ(ui.DialogBoxParamA(kMissing, &dialog), -1);
    EXPECT_EQ(ui.CreateDialogParamA(kMissing, &dialog), nullptr);
    EXPECT_EQ(recorder.missing, (std::vector<int>{kMissing, kMissing}));
    EXPECT_TRUE(dialog.received.empty());
    EXPECT_EQ(ui.answersGiven(), 0u);
}

TEST_F(SimUiTest, TemplatesComeFromTheResourceModuleOnly) {
    const char* library = R"(160 DIALOGEX 0, 0, 10, 10
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 0, 0, 5, 5
END
STRINGTABLE
BEGIN
    101 "From the library"
END)";
    const win::HMODULE module = ui.addModule(parsed(library));
    ui.setResourceModule(module);
    TestDialog dialog(ui);
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), -1) << "the program's template is not used";
    user.queueAnswer(160, UserAction::ok());
    EXPECT_EQ(ui.DialogBoxParamA(160, &dialog), win::IDOK);
    char text[64];
    EXPECT_EQ(ui.LoadStringA(kMenuText, text, sizeof text), 16);
    EXPECT_STREQ(text, "From the library");
    EXPECT_EQ(ui.LoadIconA(156), nullptr);

    ui.removeModule(module);
    EXPECT_EQ(ui.LoadStringA(kMenuText, text, sizeof text), 0);
    ui.setResourceModule(nullptr);
    EXPECT_EQ(ui.LoadStringA(kMenuText, text, sizeof text), 9);
    EXPECT_NE(ui.LoadIconA(156), nullptr);
    EXPECT_EQ(ui.LoadIconA(156), ui.LoadIconA(156));
}

TEST_F(SimUiTest, EscapeSwallowedByTheKeyHookLeavesTheDialogOpen) {
    user.queueAnswer(kNotice, UserAction::escape());
    user.queueAnswer(kNotice, UserAction::ok());
    TestDialog dialog(ui);
    dialog.swallowEscape = true;
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK);
    ASSERT_EQ(dialog.preTranslated.size(), 1u);
    EXPECT_EQ(dialog.preTranslated[0].wParam, win::VK_ESCAPE);
    EXPECT_EQ(ui.answersGiven(), 2u);
}

TEST_F(SimUiTest, EnterIsOfferedToTheKeyHookBeforeItBecomesOk) {
    user.queueAnswer(kNotice, UserAction::enter());
    TestDialog dialog(ui);
    std::vector<win::UINT> commands;
    dialog.onCommand = [&](win::UINT id) {
        commands.push_back(id);
        return false;
    };
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK);
    ASSERT_EQ(dialog.preTranslated.size(), 1u);
    EXPECT_EQ(dialog.preTranslated[0].message, win::WM_KEYDOWN);
    EXPECT_EQ(dialog.preTranslated[0].wParam, win::VK_RETURN);
    EXPECT_EQ(commands, std::vector<win::UINT>{win::IDOK});
}

TEST_F(SimUiTest, QuitEndsTheModalLoopWithMinusOneAndIsPostedAgain) {
    user.queueAnswer(kNotice, UserAction::ok());
    TestDialog dialog(ui);
    dialog.onCommand = [&](win::UINT id) {
        if (id != win::IDOK) return false;
        ui.PostQuitMessage(0);  // the update command's "quit and return"
        return true;
    };
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), -1);
    EXPECT_EQ(ui.answersGiven(), 1u);
    EXPECT_TRUE(ui.quitPending());

    // The next modal loop ends at once too, before the person is asked.
    TestDialog next(ui);
    EXPECT_EQ(ui.DialogBoxParamA(kOkOnly, &next), -1);
    EXPECT_EQ(ui.answersGiven(), 1u);

    win::MSG message{};
    EXPECT_EQ(ui.PeekMessageA(&message, nullptr, 0, 0, win::PM_REMOVE), win::TRUE);
    EXPECT_EQ(message.message, win::WM_QUIT);
    EXPECT_FALSE(ui.quitPending());
    EXPECT_EQ(ui.PeekMessageA(&message, nullptr, 0, 0, win::PM_REMOVE), win::FALSE);
}

TEST_F(SimUiTest, QuitWaitsBehindPendingMessages) {
    TestDialog dialog(ui);
    dialog.onInit = [&](win::HWND window) {
        ui.PostQuitMessage(3);
        ui.postMessage(window, win::WM_KEYDOWN, win::VK_RETURN, 0);
    };
    // The Enter posted after the quit still comes first and ends the dialog.
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK);
    win::MSG message{};
    EXPECT_EQ(ui.GetMessageA(&message, nullptr, 0, 0), win::FALSE);
    EXPECT_EQ(message.message, win::WM_QUIT);
    EXPECT_EQ(message.wParam, 3u);
}

TEST_F(SimUiTest, DialogEndedDuringInitialisationIsNeverShown) {
    TestDialog dialog(ui);
    dialog.onInit = [&](win::HWND window) { ui.EndDialog(window, win::IDCANCEL); };
    EXPECT_EQ(ui.DialogBoxParamA(kDrives, &dialog), win::IDCANCEL);
    EXPECT_TRUE(recorder.shown.empty());
    EXPECT_EQ(ui.answersGiven(), 0u);
}

TEST_F(SimUiTest, SecondEndDialogReplacesTheResult) {
    user.queueAnswer(kNotice, UserAction::ok());
    TestDialog dialog(ui);
    dialog.onCommand = [&](win::UINT id) {
        if (id != win::IDOK) return false;
        ui.EndDialog(dialog.window, win::IDCANCEL);  // provisional
        ui.EndDialog(dialog.window, win::IDOK);
        return true;
    };
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK);
}

struct RefusalCase {
    const char* name;
    int templateId;
    UserAction refused;
};

class RefusedAnswerTest : public SimUiTest, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusedAnswerTest, IsReportedAndTheNextAnswerIsTaken) {
    user.queueAnswer(GetParam().templateId, GetParam().refused);
    user.queueAnswer(GetParam().templateId, UserAction::ok());
    TestDialog dialog(ui);
    EXPECT_EQ(ui.DialogBoxParamA(GetParam().templateId, &dialog), win::IDOK);
    EXPECT_EQ(recorder.refusals.size(), 1u);
    EXPECT_EQ(recorder.answers, std::vector<std::string>{"ok"});
}

INSTANTIATE_TEST_SUITE_P(
    Answers, RefusedAnswerTest,
    ::testing::Values(RefusalCase{"ButtonNotThere", kOkOnly, UserAction::cancel()},
                      RefusalCase{"TextIsNoButton", kNotice, UserAction::button(-1)},
                      RefusalCase{"NoCloseBox", kOkOnly, UserAction::closeBox()},
                      RefusalCase{"NoAboutEntry", kNotice, UserAction::about()},
                      RefusalCase{"NoList", kNotice, UserAction::select(0)},
                      RefusalCase{"ItemNotInList", kDrives, UserAction::select(0)}),
    NameOfCase{});

TEST_F(SimUiTest, AboutEntryOfTheSystemMenuSendsItsCommand) {
    user.queueAnswer(kNotice, UserAction::about());
    user.queueAnswer(kNotice, UserAction::ok());
    TestDialog dialog(ui);
    dialog.onInit = [&](win::HWND window) {
        const win::HMENU menu = ui.GetSystemMenu(window, win::FALSE);
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(ui.AppendMenuA(menu, win::MF_SEPARATOR, 0, nullptr), win::TRUE);
        EXPECT_EQ(ui.AppendMenuA(menu, win::MF_STRING, kAboutMenuCommand, "About..."), win::TRUE);
        EXPECT_EQ(ui.systemMenu(window).size(), 2u);
    };
    // Left to default processing, the command must not close the dialog.
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK);
    EXPECT_EQ(recorder.answers, (std::vector<std::string>{"about", "ok"}));
    const std::pair<win::UINT, win::WPARAM> about{win::WM_SYSCOMMAND, kAboutMenuCommand};
    EXPECT_EQ(std::count(dialog.received.begin(), dialog.received.end(), about), 1);

    TestDialog plain(ui);
    EXPECT_EQ(ui.GetSystemMenu(ui.CreateDialogParamA(kOkOnly, &plain), win::FALSE), nullptr)
        << "a window without WS_SYSMENU has no system menu";
}

TEST_F(SimUiTest, ModelessDialogLivesUntilDestroyed) {
    TestDialog dialog(ui);
    const win::HWND window = ui.CreateDialogParamA(kProgress, &dialog);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(dialog.received.front().first, win::WM_INITDIALOG);
    EXPECT_FALSE(ui.isVisible(window));
    EXPECT_EQ(ui.CenterWindow(window), win::TRUE);
    EXPECT_EQ(ui.ShowWindow(window, win::SW_SHOW), win::FALSE);
    EXPECT_EQ(ui.RedrawWindow(window, win::RDW_INVALIDATE | win::RDW_ERASE | win::RDW_UPDATENOW),
              win::TRUE);
    EXPECT_TRUE(ui.isVisible(window));
    EXPECT_TRUE(ui.isCentred(window));
    EXPECT_EQ(ui.redrawCount(window), 1);
    EXPECT_EQ(ui.GetAncestor(window, win::GA_ROOT), window);

    EXPECT_EQ(ui.DestroyWindow(window), win::TRUE);
    EXPECT_TRUE(ui.openWindows().empty());
    EXPECT_EQ(ui.DestroyWindow(window), win::FALSE);
    EXPECT_EQ(ui.ShowWindow(window, win::SW_SHOW), win::FALSE);
    EXPECT_EQ(ui.SendDlgItemMessageA(window, kProgressBar, win::PBM_SETPOS, 5, 0), 0);
    EXPECT_EQ(ui.GetAncestor(window, win::GA_ROOT), nullptr);
}

TEST_F(SimUiTest, KeysForAModelessDialogGoThroughTheProgramsPump) {
    TestDialog dialog(ui);
    dialog.swallowEscape = true;
    const win::HWND window = ui.CreateDialogParamA(kNotice, &dialog);
    ui.ShowWindow(window, win::SW_SHOW);
    ASSERT_TRUE(ui.act(window, UserAction::escape()));
    ASSERT_TRUE(ui.act(window, UserAction::enter()));
    std::vector<bool> swallowed;
    win::MSG message{};
    // As the application's pump step does it: the hook first, then the dialog manager.
    while (ui.PeekMessageA(&message, nullptr, 0, 0, win::PM_NOREMOVE) != win::FALSE) {
        ASSERT_EQ(ui.GetMessageA(&message, nullptr, 0, 0), win::TRUE);
        EXPECT_EQ(ui.GetAncestor(message.hwnd, win::GA_ROOT), window);
        swallowed.push_back(dialog.preTranslateMessage(message));
        if (!swallowed.back()) {
            EXPECT_EQ(ui.IsDialogMessageA(window, &message), win::TRUE);
        }
    }
    EXPECT_EQ(swallowed, (std::vector<bool>{true, false}));
    EXPECT_FALSE(ui.isVisible(window)) << "Enter pressed OK, which ended the dialog";
}

struct BarStep {
    win::UINT message;
    win::WPARAM wParam;
    win::LPARAM lParam;
    win::LRESULT returned;
    ProgressBarState after;
};

struct BarCase {
    const char* name;
    std::vector<BarStep> steps;
};

class ProgressBarTest : public SimUiTest, public ::testing::WithParamInterface<BarCase> {};

TEST_P(ProgressBarTest, FollowsThePlatformsRules) {
    TestDialog dialog(ui);
    const win::HWND window = ui.CreateDialogParamA(kProgress, &dialog);
    EXPECT_EQ(ui.progressBar(window, kProgressBar)->high, 100) << "the platform's default range";
    int stepNumber = 0;
    for (const BarStep& step : GetParam().steps) {
        SCOPED_TRACE("step " + std::to_string(++stepNumber));
        EXPECT_EQ(
            ui.SendDlgItemMessageA(window, kProgressBar, step.message, step.wParam, step.lParam),
            step.returned);
        const ProgressBarState bar = *ui.progressBar(window, kProgressBar);
        EXPECT_EQ(bar.low, step.after.low);
        EXPECT_EQ(bar.high, step.after.high);
        EXPECT_EQ(bar.position, step.after.position);
        EXPECT_EQ(bar.step, step.after.step);
    }
}

constexpr win::LPARAM range16(int low, int high) {
    return (high << 16) | low;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, ProgressBarTest,
    ::testing::Values(
        // The flash: a 16-bit range of N blocks, step 1, one step per block.
        BarCase{"FlashCountsBlocks",
                {{win::PBM_SETRANGE, 0, range16(0, 3), range16(0, 100), {0, 3, 0, 10}},
                 {win::PBM_SETSTEP, 1, 0, 10, {0, 3, 0, 1}},
                 {win::PBM_SETPOS, 0, 0, 0, {0, 3, 0, 1}},
                 {win::PBM_STEPIT, 0, 0, 0, {0, 3, 1, 1}},
                 {win::PBM_STEPIT, 0, 0, 1, {0, 3, 2, 1}},
                 {win::PBM_STEPIT, 0, 0, 2, {0, 3, 3, 1}}}},
        // The format: a 32-bit range of the 16-bit progress indication.
        BarCase{"FormatFollowsSenseProgress",
                {{win::PBM_SETRANGE32, 0, 0xFFFF, range16(0, 100), {0, 0xFFFF, 0, 10}},
                 {win::PBM_SETPOS, 0x8000, 0, 0, {0, 0xFFFF, 0x8000, 10}},
                 {win::PBM_SETPOS, 0xFFFF, 0, 0x8000, {0, 0xFFFF, 0xFFFF, 10}}}},
        BarCase{"PositionIsClampedToTheRange",
                {{win::PBM_SETPOS, 250, 0, 0, {0, 100, 100, 10}},
                 {win::PBM_SETPOS, static_cast<win::WPARAM>(-5), 0, 100, {0, 100, 0, 10}},
                 {win::PBM_SETRANGE32, 10, 20, range16(0, 100), {10, 20, 10, 10}},
                 {win::PBM_SETPOS, 15, 0, 10, {10, 20, 15, 10}},
                 {win::PBM_SETRANGE, 0, range16(0, 12), range16(10, 20), {0, 12, 12, 10}}}},
        BarCase{"SteppingPastTheEndStartsOver",
                {{win::PBM_SETPOS, 95, 0, 0, {0, 100, 95, 10}},
                 {win::PBM_STEPIT, 0, 0, 95, {0, 100, 5, 10}}}},
        BarCase{"SixteenBitRangeIsUnsigned",
                {{win::PBM_SETRANGE, 0, range16(0, 0xFFFF), range16(0, 100), {0, 0xFFFF, 0, 10}},
                 {win::PBM_SETPOS, 40000, 0, 0, {0, 0xFFFF, 40000, 10}}}}),
    NameOfCase{});

TEST_F(SimUiTest, ProgressChangesAreReported) {
    TestDialog dialog(ui);
    const win::HWND window = ui.CreateDialogParamA(kProgress, &dialog);
    ui.SendDlgItemMessageA(window, kProgressBar, win::PBM_SETRANGE32, 0, 0xFFFF);
    ui.SendDlgItemMessageA(window, kProgressBar, win::PBM_SETPOS, 0x8000, 0);
    ASSERT_EQ(recorder.progress.size(), 2u);
    EXPECT_EQ(recorder.progress.back().position, 0x8000);
    EXPECT_EQ(ui.SendDlgItemMessageA(window, 4242, win::PBM_SETPOS, 1, 0), 0)
        << "a control the template does not have";
}

TEST_F(SimUiTest, ComboBoxKeepsItsItemsAndSelection) {
    TestDialog dialog(ui);
    const win::HWND window = ui.CreateDialogParamA(kDrives, &dialog);
    const auto send = [&](int control, win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
        return ui.SendDlgItemMessageA(window, control, message, wParam, lParam);
    };
    const auto text = [](const char* value) { return reinterpret_cast<win::LPARAM>(value); };

    EXPECT_EQ(send(kDriveCombo, win::CB_GETCURSEL, 0, 0), win::CB_ERR);
    EXPECT_EQ(send(kDriveCombo, win::CB_SETCURSEL, 0, 0), win::CB_ERR) << "nothing to select yet";
    EXPECT_EQ(send(kDriveCombo, win::CB_ADDSTRING, 0, text("G:\\")), 0);
    EXPECT_EQ(send(kDriveCombo, win::CB_ADDSTRING, 0, text("E:\\")), 1)
        << "unsorted: in the order added";
    EXPECT_EQ(send(kDriveCombo, win::CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(send(kDriveCombo, win::CB_SETCURSEL, 1, 0), 1);
    EXPECT_EQ(send(kDriveCombo, win::CB_GETCURSEL, 0, 0), 1);
    EXPECT_EQ(send(kDriveCombo, win::CB_GETLBTEXTLEN, 1, 0), 3);
    char item[8] = "xxxxxxx";
    EXPECT_EQ(send(kDriveCombo, win::CB_GETLBTEXT, 1, reinterpret_cast<win::LPARAM>(item)), 3);
    EXPECT_STREQ(item, "E:\\");
    EXPECT_EQ(send(kDriveCombo, win::CB_GETLBTEXTLEN, 2, 0), win::CB_ERR);
    EXPECT_EQ(send(kDriveCombo, win::CB_GETLBTEXT, 2, reinterpret_cast<win::LPARAM>(item)),
              win::CB_ERR);
    EXPECT_EQ(send(kDriveCombo, win::CB_SETCURSEL, static_cast<win::WPARAM>(-1), 0), win::CB_ERR);
    EXPECT_EQ(send(kDriveCombo, win::CB_GETCURSEL, 0, 0), win::CB_ERR) << "-1 clears the selection";

    EXPECT_EQ(send(kSortedCombo, win::CB_ADDSTRING, 0, text("g:\\")), 0);
    EXPECT_EQ(send(kSortedCombo, win::CB_SETCURSEL, 0, 0), 0);
    EXPECT_EQ(send(kSortedCombo, win::CB_ADDSTRING, 0, text("E:\\")), 0) << "sorted, case ignored";
    EXPECT_EQ(send(kSortedCombo, win::CB_GETCURSEL, 0, 0), 1) << "the chosen item stays chosen";
}

TEST_F(SimUiTest, UserPicksAndClearsComboItems) {
    TestDialog dialog(ui);
    std::vector<win::LRESULT> selections;
    dialog.onInit = [&](win::HWND window) {
        for (const char* root : {"E:\\", "G:\\"})
            ui.SendDlgItemMessageA(window, kDriveCombo, win::CB_ADDSTRING, 0,
                                   reinterpret_cast<win::LPARAM>(root));
        ui.SendDlgItemMessageA(window, kDriveCombo, win::CB_SETCURSEL, 0, 0);
    };
    dialog.onCommand = [&](win::UINT id) {
        if (id != win::IDOK) return false;
        selections.push_back(
            ui.SendDlgItemMessageA(dialog.window, kDriveCombo, win::CB_GETCURSEL, 0, 0));
        if (selections.back() != win::CB_ERR) ui.EndDialog(dialog.window, win::IDOK);
        return true;
    };
    for (const UserAction& action :
         {UserAction::select(-1), UserAction::ok(), UserAction::select(1), UserAction::ok()})
        user.queueAnswer(kDrives, action);
    EXPECT_EQ(ui.DialogBoxParamA(kDrives, &dialog), win::IDOK);
    EXPECT_EQ(selections, (std::vector<win::LRESULT>{win::CB_ERR, 1}));
}

TEST_F(SimUiTest, SuspendQueryIsRefusedOnlyByAWindowThatRefuses) {
    TestDialog allowing(ui);
    const win::HWND first = ui.CreateDialogParamA(kProgress, &allowing);
    EXPECT_FALSE(ui.querySuspend());

    TestDialog refusing(ui);
    refusing.refuseSuspend = true;
    const win::HWND second = ui.CreateDialogParamA(kNotice, &refusing);
    EXPECT_TRUE(ui.querySuspend());
    EXPECT_EQ(ui.messageResult(second), win::BROADCAST_QUERY_DENY);
    EXPECT_NE(ui.messageResult(first), win::BROADCAST_QUERY_DENY);

    ui.DestroyWindow(second);
    EXPECT_FALSE(ui.querySuspend());
    EXPECT_EQ(recorder.suspendQueries, (std::vector<bool>{false, true, false}));
}

TEST_F(SimUiTest, SuspendQueryWhileAModalDialogWaits) {
    user.queueAnswer(kNotice, UserAction::querySuspend());
    user.queueAnswer(kNotice, UserAction::ok());
    TestDialog dialog(ui);
    dialog.refuseSuspend = true;
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK) << "the query does not close it";
    EXPECT_EQ(recorder.suspendQueries, std::vector<bool>{true});
}

TEST_F(SimUiTest, MinimisedWindowPaintsWhileIconic) {
    user.queueAnswer(kNotice, UserAction::minimise());
    user.queueAnswer(kNotice, UserAction::restore());
    user.queueAnswer(kNotice, UserAction::ok());
    TestDialog dialog(ui);
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), win::IDOK);
    EXPECT_EQ(dialog.paintsWhileIconic, 1);
    const std::pair<win::UINT, win::WPARAM> paint{win::WM_PAINT, 0};
    EXPECT_EQ(std::count(dialog.received.begin(), dialog.received.end(), paint), 2);
}

TEST_F(SimUiTest, LoopGuardStopsAUserWhoWouldGoRoundForever) {
    user.setDefaultAnswer(kNotice, UserAction::cancel());
    ui.setLoopGuard({5, 1000});
    int handlerCalls = 0;
    ui.setGuardHandler([&] { ++handlerCalls; });
    int shown = 0;
    TestDialog dialog(ui);
    // A program that insists on OK.
    while (ui.DialogBoxParamA(kNotice, &dialog) == win::IDCANCEL) ++shown;
    EXPECT_EQ(shown, 5);
    EXPECT_TRUE(ui.stoppedByLoopGuard());
    EXPECT_EQ(handlerCalls, 1);
    EXPECT_EQ(recorder.guardStops.size(), 1u);
    EXPECT_NE(ui.loopGuardReason().find("5"), std::string::npos);
    EXPECT_TRUE(ui.quitPending());
    EXPECT_EQ(ui.DialogBoxParamA(kNotice, &dialog), -1) << "nothing more is shown";
    EXPECT_EQ(ui.answersGiven(), 5u);
}

TEST_F(SimUiTest, LoopGuardBoundsThePassesOverTheQueue) {
    ui.setLoopGuard({1000, 50});
    win::MSG message{};
    int passes = 0;
    while (ui.PeekMessageA(&message, nullptr, 0, 0, win::PM_NOREMOVE) == win::FALSE) ++passes;
    EXPECT_EQ(passes, 50);
    EXPECT_EQ(message.message, win::WM_QUIT);
    EXPECT_TRUE(ui.stoppedByLoopGuard());
}

struct StringCase {
    const char* name;
    win::UINT id;
    int bufferMax;
    int length;
    std::string text;
};

class LoadStringTest : public SimUiTest, public ::testing::WithParamInterface<StringCase> {};

TEST_P(LoadStringTest, CopiesAtMostOneLessThanTheBufferAndTerminates) {
    std::vector<char> buffer(16, '#');
    EXPECT_EQ(ui.LoadStringA(GetParam().id, buffer.data(), GetParam().bufferMax),
              GetParam().length);
    if (GetParam().bufferMax > 0) {
        EXPECT_EQ(std::string(buffer.data()), GetParam().text);
    }
    EXPECT_EQ(buffer[static_cast<std::size_t>(std::max(GetParam().bufferMax, 0))], '#')
        << "nothing written past the buffer";
}

INSTANTIATE_TEST_SUITE_P(Strings, LoadStringTest,
                         ::testing::Values(StringCase{"Whole", kMenuText, 15, 9, "&About..."},
                                           StringCase{"JustFits", kMenuText, 10, 9, "&About..."},
                                           StringCase{"Cut", kMenuText, 4, 3, "&Ab"},
                                           StringCase{"OnlyTheTerminator", kMenuText, 1, 0, ""},
                                           StringCase{"NoBuffer", kMenuText, 0, 0, ""},
                                           StringCase{"Missing", 999, 15, 0, ""}),
                         NameOfCase{});

TEST_F(SimUiTest, WindowIconsAreKeptPerSize) {
    TestDialog dialog(ui);
    const win::HWND window = ui.CreateDialogParamA(kNotice, &dialog);
    const win::HICON icon = ui.LoadIconA(156);
    ASSERT_NE(icon, nullptr);
    EXPECT_EQ(ui.SendMessageA(window, win::WM_SETICON, win::ICON_BIG,
                              reinterpret_cast<win::LPARAM>(icon)),
              0);
    EXPECT_EQ(ui.windowIcon(window, win::ICON_BIG), icon);
    EXPECT_EQ(ui.windowIcon(window, win::ICON_SMALL), nullptr);
}

}  // namespace
}  // namespace sim

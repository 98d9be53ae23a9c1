#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "shell/about_box.h"
#include "shell/application.h"
#include "shell/main_dialog.h"
#include "shell/notice_dialog.h"
#include "shell/progress_dialog.h"
#include "support/sim_process.h"

namespace {

using testsupport::SimProcess;
using testsupport::UiCall;

constexpr int kNoticeTemplate = 150;
constexpr int kMissingNotice = 151;
constexpr int kProgressTemplate = 132;
constexpr int kProgressBar = 1002;
constexpr win::WPARAM kPowerSuspend = 0x0004;  // PBT_APMSUSPEND: not a query
constexpr win::WPARAM kQueryWithHighBits = 0x00010000;
constexpr win::UINT kRedrawAtOnce = 0x0105;
// The main dialog's client area; the icon is drawn in its middle.
constexpr int kClientWidth = 201;
constexpr int kClientHeight = 100;
constexpr int kIconSize = 32;

// The shell's dialogs as a program's resources would hold them: a notice
// with OK and Cancel, a progress dialog with its bar, the About box and the
// main dialog with a system menu.
constexpr const char* kProgramScript = R"rc(
150 DIALOGEX 0, 0, 200, 80
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Notice"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 40, 50, 50, 14
    PUSHBUTTON "Cancel", IDCANCEL, 100, 50, 50, 14
END
132 DIALOGEX 0, 0, 200, 40
STYLE WS_POPUP | WS_CAPTION
CAPTION "Working"
BEGIN
    CONTROL "", 1002, "msctls_progress32", WS_BORDER, 7, 7, 180, 14
END
)rc";

constexpr const char* kLibraryScript = R"rc(
100 DIALOGEX 0, 0, 200, 60
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "About"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 70, 40, 50, 14
END
102 DIALOGEX 0, 0, 201, 100
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Main"
BEGIN
    DEFPUSHBUTTON "OK", IDOK, 40, 80, 50, 14
    PUSHBUTTON "Cancel", IDCANCEL, 100, 80, 50, 14
END
156 ICON "app.ico"
)rc";

std::shared_ptr<const sim::ResourceScript> libraryWithMenuText(std::optional<std::string> text) {
    std::string script = kLibraryScript;
    if (text) script += "STRINGTABLE\nBEGIN\n    101 \"" + *text + "\"\nEND\n";
    return testsupport::parsedScript(script);
}

win::MSG keyDown(win::HWND window, win::WPARAM key) {
    return win::MSG{window, win::WM_KEYDOWN, key, 0, 0, {}};
}

std::string handlePair(const void* first, const void* second) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(first)) + "/" +
           std::to_string(reinterpret_cast<std::uintptr_t>(second));
}

// ---- the suspend rule ------------------------------------------------------

struct SuspendCase {
    const char* dialog;
    std::function<std::unique_ptr<shell::Dialog>(platform::Ui&)> make;
    bool refuses;
};

void PrintTo(const SuspendCase& c, std::ostream* out) {
    *out << c.dialog;
}

const SuspendCase kSuspendCases[] = {
    {"notice",
     [](platform::Ui& ui) { return std::make_unique<shell::NoticeDialog>(ui, kMissingNotice); },
     true},
    {"progress",
     [](platform::Ui& ui) {
         return std::make_unique<shell::ProgressDialog>(ui, kProgressTemplate, kProgressBar);
     },
     true},
    {"main", [](platform::Ui& ui) { return std::make_unique<shell::MainDialog>(ui); }, true},
    {"about box", [](platform::Ui& ui) { return std::make_unique<shell::AboutBox>(ui); }, false},
};

class SuspendRuleTest : public testing::TestWithParam<SuspendCase> {};

TEST_P(SuspendRuleTest, QueryToSuspendIsDeniedOnlyWhereTheRuleApplies) {
    SimProcess process;
    auto dialog = GetParam().make(process.ui);
    const auto window = reinterpret_cast<win::HWND>(std::uintptr_t{0x40});
    for (const win::WPARAM query : {win::PBT_APMQUERYSUSPEND, kQueryWithHighBits}) {
        win::LRESULT result = 0;
        const bool handled = dialog->windowProc(window, win::WM_POWERBROADCAST, query, 0, result);
        EXPECT_EQ(handled, GetParam().refuses) << GetParam().dialog << " query " << query;
        EXPECT_EQ(result, GetParam().refuses ? win::BROADCAST_QUERY_DENY : 0) << GetParam().dialog;
    }
    win::LRESULT result = 0;
    EXPECT_FALSE(dialog->windowProc(window, win::WM_POWERBROADCAST, kPowerSuspend, 0, result))
        << GetParam().dialog << ": other power events take the default path";
}

INSTANTIATE_TEST_SUITE_P(Dialogs, SuspendRuleTest, testing::ValuesIn(kSuspendCases));

// ---- the progress dialog ---------------------------------------------------

class ProgressDialogTest : public testing::Test {
  protected:
    ProgressDialogTest() {
        process.simUi.setProgramResources(testsupport::parsedScript(kProgramScript));
    }

    std::vector<UiCall> barMessages() const { return process.ui.callsNamed("SendDlgItemMessageA"); }

    SimProcess process;
    shell::ProgressDialog progress{process.ui, kProgressTemplate, kProgressBar};
};

TEST_F(ProgressDialogTest, OpensModelessCentredAndShowsAtOnce) {
    ASSERT_TRUE(progress.open());
    progress.showNow();
    const win::HWND window = progress.window();
    ASSERT_NE(window, nullptr);
    const std::vector<UiCall> expected = {
        {"CreateDialogParamA", window, kProgressTemplate},
        {"CenterWindow", window},
        {"ShowWindow", window, win::SW_SHOW},
        {"RedrawWindow", window, kRedrawAtOnce},
    };
    EXPECT_EQ(process.ui.calls(), expected);
    EXPECT_TRUE(process.simUi.isCentred(window));
    EXPECT_TRUE(process.simUi.isVisible(window));
}

TEST_F(ProgressDialogTest, DrivesItsBarWithTheProgressMessages) {
    ASSERT_TRUE(progress.open());
    const win::HWND window = progress.window();
    progress.setRange16(384);
    progress.setRange32(0x12345678);
    progress.setStep(1);
    progress.setPosition(0);
    progress.stepIt();
    const std::vector<UiCall> expected = {
        {"SendDlgItemMessageA", window, kProgressBar, win::PBM_SETRANGE, 0, 384 << 16},
        {"SendDlgItemMessageA", window, kProgressBar, win::PBM_SETRANGE32, 0, 0x12345678},
        {"SendDlgItemMessageA", window, kProgressBar, win::PBM_SETSTEP, 1, 0},
        {"SendDlgItemMessageA", window, kProgressBar, win::PBM_SETPOS, 0, 0},
        {"SendDlgItemMessageA", window, kProgressBar, win::PBM_STEPIT, 0, 0},
    };
    EXPECT_EQ(barMessages(), expected);
    const std::optional<sim::ProgressBarState> bar =
        process.simUi.progressBar(window, kProgressBar);
    ASSERT_TRUE(bar.has_value());
    EXPECT_EQ(bar->high, 0x12345678);
    EXPECT_EQ(bar->position, 1);
}

TEST_F(ProgressDialogTest, RangeUpperBoundFillsTheWholeHighWord) {
    ASSERT_TRUE(progress.open());
    progress.setRange16(0xFFFF);
    ASSERT_EQ(barMessages().size(), 1u);
    // The same 32 bits whatever the width of LPARAM (negative on 32-bit Windows).
    EXPECT_EQ(barMessages()[0].lParam, static_cast<win::LPARAM>(std::uint32_t{0xFFFF0000}));
    EXPECT_EQ(process.simUi.progressBar(progress.window(), kProgressBar)->high, 0xFFFF);
}

TEST_F(ProgressDialogTest, MissingTemplateSendsNothingToAWindowThatDoesNotExist) {
    process.simUi.setProgramResources(testsupport::withoutTemplates(
        testsupport::parsedScript(kProgramScript), {kProgressTemplate}));
    EXPECT_FALSE(progress.open());
    progress.setRange16(10);
    progress.stepIt();
    progress.showNow();
    progress.close();
    EXPECT_TRUE(barMessages().empty());
    EXPECT_TRUE(process.ui.callsNamed("ShowWindow").empty());
    EXPECT_TRUE(process.ui.callsNamed("DestroyWindow").empty());
}

TEST_F(ProgressDialogTest, CloseDestroysTheWindowOnce) {
    ASSERT_TRUE(progress.open());
    progress.close();
    progress.close();
    EXPECT_EQ(process.ui.callsNamed("DestroyWindow").size(), 1u);
    EXPECT_TRUE(process.simUi.openWindows().empty());
}

struct KeyCase {
    win::MSG message;
    bool swallowed;
};

TEST_F(ProgressDialogTest, SwallowsOnlyTheEscapeKeyPress) {
    const auto window = reinterpret_cast<win::HWND>(std::uintptr_t{0x40});
    const KeyCase cases[] = {
        {keyDown(window, win::VK_ESCAPE), true},
        {keyDown(window, win::VK_RETURN), false},
        {win::MSG{window, win::WM_KEYDOWN + 1, win::VK_ESCAPE, 0, 0, {}}, false},  // key up
        {win::MSG{window, win::WM_COMMAND, win::VK_ESCAPE, 0, 0, {}}, false},
    };
    for (const KeyCase& c : cases) {
        EXPECT_EQ(progress.preTranslateMessage(c.message), c.swallowed)
            << "message " << c.message.message << " key " << c.message.wParam;
    }
}

// Through the message pump the dialog manager would turn Escape into Cancel
// and close the bar; the rule keeps it open.
TEST_F(ProgressDialogTest, EscapeThroughThePumpDoesNotCloseIt) {
    ASSERT_TRUE(progress.open());
    shell::Application application(process.ui);
    process.simUi.postMessage(progress.window(), win::WM_KEYDOWN, win::VK_ESCAPE, 0);
    application.pumpPendingMessages();
    EXPECT_TRUE(process.ui.callsNamed("EndDialog").empty());
    EXPECT_FALSE(process.simUi.quitPending());
    EXPECT_EQ(process.simUi.openWindows().size(), 1u);
}

// A notice has no Escape rule: the same key press cancels it, which shows the
// pump test above can tell the difference.
TEST_F(ProgressDialogTest, WithoutTheRuleEscapeCancels) {
    shell::NoticeDialog notice(process.ui, kNoticeTemplate);
    ASSERT_TRUE(notice.createModeless());
    shell::Application application(process.ui);
    process.simUi.postMessage(notice.window(), win::WM_KEYDOWN, win::VK_ESCAPE, 0);
    application.pumpPendingMessages();
    const std::vector<UiCall> ended = process.ui.callsNamed("EndDialog");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].id, win::IDCANCEL);
}

// ---- notices -----------------------------------------------------------------

TEST(NoticeDialog, ReturnsTheButtonOrMinusOneForAMissingTemplate) {
    SimProcess process;
    process.simUi.setProgramResources(testsupport::parsedScript(kProgramScript));
    process.user.answer(kNoticeTemplate, win::IDCANCEL);
    process.user.answer(kNoticeTemplate, win::IDOK);
    shell::NoticeDialog notice(process.ui, kNoticeTemplate);
    shell::NoticeDialog missing(process.ui, kMissingNotice);
    EXPECT_EQ(notice.doModal(), win::IDCANCEL);
    EXPECT_EQ(notice.doModal(), win::IDOK);
    EXPECT_EQ(missing.doModal(), -1);
}

// ---- the main dialog's shared part -------------------------------------------

class MainDialogTest : public testing::Test {
  protected:
    MainDialogTest() {
        library = process.simUi.addModule(libraryWithMenuText("About..."));
        process.ui.setResourceModule(library);
        icon = process.simUi.LoadIconA(shell::kAppIconGroup);
    }

    // Opens the dialog modally and runs `whileOpen` with it open; the
    // scripted user then cancels it.
    void runOpen(shell::MainDialog& dialog, const std::function<void(win::HWND)>& whileOpen) {
        process.user.whileOpen(shell::kMainDialogTemplate, [&](win::HWND window) {
            whileOpen(window);
            process.ui.EndDialog(window, win::IDCANCEL);
        });
        EXPECT_EQ(dialog.doModal(), win::IDCANCEL);
    }

    // Hands a message to the dialog's own procedure, as the platform would.
    win::LRESULT send(win::HWND window, win::UINT message, win::WPARAM wParam = 0) {
        win::LRESULT result = 0;
        platform::DialogProcedure* procedure = process.simUi.dialogProcedure(window);
        handled = procedure != nullptr && procedure->windowProc(window, message, wParam, 0, result);
        return result;
    }

    SimProcess process;
    win::HMODULE library = nullptr;
    win::HICON icon = nullptr;
    bool handled = false;
};

TEST_F(MainDialogTest, InitialisationAddsTheAboutEntryAndBothIcons) {
    shell::MainDialog dialog(process.ui);
    win::HWND window = nullptr;
    win::HMENU systemMenu = nullptr;
    std::vector<sim::MenuItem> entries;
    runOpen(dialog, [&](win::HWND open) {
        window = open;
        systemMenu = process.simUi.GetSystemMenu(open, win::FALSE);
        entries = process.simUi.systemMenu(open);
        EXPECT_EQ(process.simUi.windowIcon(open, win::ICON_BIG), icon);
        EXPECT_EQ(process.simUi.windowIcon(open, win::ICON_SMALL), icon);
    });
    ASSERT_NE(systemMenu, nullptr);
    const auto menu = reinterpret_cast<win::LPARAM>(systemMenu);
    const std::vector<UiCall> expectedMenu = {
        {"AppendMenuA", nullptr, 0, win::MF_SEPARATOR, 0, menu},
        {"AppendMenuA", nullptr, 16, win::MF_STRING, 0, menu, "About..."}};
    EXPECT_EQ(process.ui.callsNamed("AppendMenuA"), expectedMenu);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].text, "About...");
    const auto iconParam = reinterpret_cast<win::LPARAM>(icon);
    const std::vector<UiCall> expectedIcons = {
        {"SendMessageA", window, 0, win::WM_SETICON, win::ICON_BIG, iconParam},
        {"SendMessageA", window, 0, win::WM_SETICON, win::ICON_SMALL, iconParam}};
    EXPECT_EQ(process.ui.callsNamed("SendMessageA"), expectedIcons);
}

struct MenuTextCase {
    const char* description;
    std::optional<std::string> text;
    std::size_t appended;
};

TEST_F(MainDialogTest, EmptyOrMissingMenuTextAddsNeitherSeparatorNorEntry) {
    const MenuTextCase cases[] = {{"empty", std::string(), 0},
                                  {"missing", std::nullopt, 0},
                                  {"longer than a first buffer", std::string(600, 'x'), 2}};
    for (const MenuTextCase& c : cases) {
        SimProcess local;
        local.ui.setResourceModule(local.simUi.addModule(libraryWithMenuText(c.text)));
        local.user.answer(shell::kMainDialogTemplate, win::IDCANCEL);
        shell::MainDialog dialog(local.ui);
        dialog.doModal();
        const std::vector<UiCall> appended = local.ui.callsNamed("AppendMenuA");
        ASSERT_EQ(appended.size(), c.appended) << c.description;
        if (c.appended != 0) {
            EXPECT_EQ(appended[1].text, *c.text) << c.description;
        }
    }
}

TEST_F(MainDialogTest, AboutCommandRunsTheAboutBoxWhateverTheLowBits) {
    shell::MainDialog dialog(process.ui);
    runOpen(dialog, [&](win::HWND window) {
        send(window, win::WM_SYSCOMMAND, shell::kAboutCommandId | 0x3);
        EXPECT_TRUE(handled);
        send(window, win::WM_SYSCOMMAND, win::SC_CLOSE);
        EXPECT_FALSE(handled) << "other system commands take default processing";
    });
    EXPECT_EQ(process.ui.modalCount(shell::kAboutBoxTemplate), 1);
}

TEST_F(MainDialogTest, MinimisedPaintDrawsTheIconCentred) {
    shell::MainDialog dialog(process.ui);
    win::HWND window = nullptr;
    runOpen(dialog, [&](win::HWND open) {
        window = open;
        process.simUi.setIconic(open, true);
        send(open, win::WM_PAINT);
        EXPECT_TRUE(handled);
    });
    const std::vector<UiCall> ended = process.ui.callsNamed("EndPaint");
    ASSERT_EQ(ended.size(), 1u);
    const auto dc = reinterpret_cast<win::HDC>(ended[0].wParam);
    ASSERT_NE(dc, nullptr);
    const std::vector<UiCall> erase = process.ui.callsNamed("SendMessageA");
    ASSERT_EQ(erase.size(), 3u);  // the two icons, then the erase
    EXPECT_EQ(erase[2], (UiCall{"SendMessageA", window, 0, win::WM_ICONERASEBKGND,
                                reinterpret_cast<win::WPARAM>(dc), 0}));
    const std::vector<UiCall> drawn = process.ui.callsNamed("DrawIcon");
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].wParam, win::WPARAM{(kClientWidth - kIconSize + 1) / 2});
    EXPECT_EQ(drawn[0].lParam, win::LPARAM{(kClientHeight - kIconSize + 1) / 2});
    EXPECT_EQ(drawn[0].text, handlePair(dc, icon));
}

TEST_F(MainDialogTest, NormalPaintIsLeftToTheDefault) {
    shell::MainDialog dialog(process.ui);
    runOpen(dialog, [&](win::HWND window) {
        send(window, win::WM_PAINT);
        EXPECT_FALSE(handled);
    });
    EXPECT_TRUE(process.ui.callsNamed("BeginPaint").empty());
    EXPECT_TRUE(process.ui.callsNamed("DrawIcon").empty());
}

TEST_F(MainDialogTest, DragIconIsTheIconLoadedAtConstruction) {
    shell::MainDialog dialog(process.ui);
    // A later change of resource module does not change the icon.
    process.ui.setResourceModule(process.simUi.addModule(libraryWithMenuText(std::nullopt)));
    ASSERT_NE(process.simUi.LoadIconA(shell::kAppIconGroup), icon);
    runOpen(dialog, [&](win::HWND window) {
        EXPECT_EQ(send(window, win::WM_QUERYDRAGICON), reinterpret_cast<win::LRESULT>(icon));
        EXPECT_TRUE(handled);
    });
}

}  // namespace

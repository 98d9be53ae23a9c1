// The Windows user interface with the programs' own dialog classes on real
// windows: the modal loop's rules for keys, quit messages and results, the
// suspend rule's answer where the platform reads it, and the controls.

// clang-format off
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "shell/about_box.h"
#include "shell/dialog.h"
#include "shell/main_dialog.h"
#include "shell/notice_dialog.h"
#include "shell/progress_dialog.h"
#include "ui_test_support.h"
// clang-format on

namespace win32::testing {
namespace {

// Velcrest's templates in the English library: a start notice with OK as
// its default button, the main dialog, the not-ready prompt whose default
// button is Cancel, the progress window with its bar.
constexpr int kStartNotice = 150;
constexpr int kMainDialog = 102;
constexpr int kNotReadyPrompt = 137;
constexpr int kFlashProgress = 132;
constexpr int kFlashProgressBar = 1002;
constexpr int kNoSuchTemplate = 999;
constexpr UINT kAboutMenuString = 101;
constexpr int kAppIcon = 156;
constexpr UINT_PTR kAboutCommand = 16;

// Runs the given work once the dialog is up, from its initialisation: the
// messages it posts then wait in the queue for the modal loop.
template <typename Base>
class OnOpen : public Base {
  public:
    template <typename... Arguments>
    explicit OnOpen(std::function<void(OnOpen&)> work, Arguments&&... arguments)
        : Base(std::forward<Arguments>(arguments)...), work_(std::move(work)) {}

    using Base::ui;

  protected:
    bool onInitDialog() override {
        const bool focus = Base::onInitDialog();
        work_(*this);
        return focus;
    }

  private:
    std::function<void(OnOpen&)> work_;
};

// --- the modal loop -----------------------------------------------------------------

TEST_F(WinUiTest, AMissingTemplateGivesMinusOneModalAndNoWindowModeless) {
    EXPECT_EQ(ui.DialogBoxParamA(kNoSuchTemplate, nullptr), -1);
    EXPECT_EQ(ui.CreateDialogParamA(kNoSuchTemplate, nullptr), nullptr);
    // Without a library the program's own resources are all there is, and
    // the test program carries none.
    ui.setResourceModule(nullptr);
    shell::NoticeDialog notice(ui, kStartNotice);
    EXPECT_EQ(notice.doModal(), -1);
}

enum class KeyTarget { Dialog, DefaultButton };

struct KeyCase {
    const char* name;
    int templateId;
    bool escapeRule;  // the dialog's class swallows Escape
    std::vector<WPARAM> keys;
    KeyTarget target;
    INT_PTR expected;
};

void PrintTo(const KeyCase& each, std::ostream* out) {
    *out << each.name;
}

class ModalKeys : public WinUiTest, public ::testing::WithParamInterface<KeyCase> {};

// A key press goes to the window with the focus, usually a button; the
// dialog whose control it is gets its say first either way.
TEST_P(ModalKeys, EndTheLoopAsTheDialogsRulesSay) {
    const KeyCase& key = GetParam();
    const auto pressKeys = [&key](shell::Dialog& dialog) {
        HWND target = toNative(dialog.window());
        if (key.target == KeyTarget::DefaultButton) {
            const LRESULT defaultId = ::SendMessageA(target, DM_GETDEFID, 0, 0);
            ASSERT_EQ(HIWORD(defaultId), DC_HASDEFID);
            target = ::GetDlgItem(target, LOWORD(defaultId));
            ASSERT_NE(target, nullptr);
        }
        for (const WPARAM each : key.keys) ::PostMessageA(target, WM_KEYDOWN, each, 0);
    };
    INT_PTR result = 0;
    if (key.escapeRule) {
        // The progress window's class has the Escape rule of the main dialogs.
        OnOpen<shell::ProgressDialog> dialog(pressKeys, ui, key.templateId, kFlashProgressBar);
        result = dialog.doModal();
    } else {
        OnOpen<shell::NoticeDialog> dialog(pressKeys, ui, key.templateId);
        result = dialog.doModal();
    }
    EXPECT_EQ(result, key.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Keys, ModalKeys,
    ::testing::Values(
        KeyCase{"EscapeIsCancelInANotice",
                kStartNotice,
                false,
                {VK_ESCAPE},
                KeyTarget::Dialog,
                IDCANCEL},
        KeyCase{"EscapeOnAButtonIsCancelToo",
                kStartNotice,
                false,
                {VK_ESCAPE},
                KeyTarget::DefaultButton,
                IDCANCEL},
        KeyCase{"EnterIsOk", kStartNotice, false, {VK_RETURN}, KeyTarget::DefaultButton, IDOK},
        KeyCase{"EnterPressesTheDefaultButtonEvenWhenThatIsCancel",
                kNotReadyPrompt,
                false,
                {VK_RETURN},
                KeyTarget::Dialog,
                IDCANCEL},
        KeyCase{"EscapeSwallowedThenEnterIsOk",
                kMainDialog,
                true,
                {VK_ESCAPE, VK_RETURN},
                KeyTarget::Dialog,
                IDOK},
        KeyCase{"EscapeOnAButtonSwallowedToo",
                kMainDialog,
                true,
                {VK_ESCAPE, VK_RETURN},
                KeyTarget::DefaultButton,
                IDOK}),
    [](const ::testing::TestParamInfo<KeyCase>& each) { return std::string(each.param.name); });

struct QuitCase {
    const char* name;
    int nesting;  // modal dialogs open, one inside the other, when the quit comes
};

void PrintTo(const QuitCase& each, std::ostream* out) {
    *out << each.name;
}

class ModalQuit : public WinUiTest, public ::testing::WithParamInterface<QuitCase> {};

// The quit message ends every modal loop it meets with -1, and is still in
// the queue afterwards for whatever loop comes next.
TEST_P(ModalQuit, EndsEveryOpenLoopAndStaysQueued) {
    constexpr int kExitCode = 7;
    std::vector<INT_PTR> results;
    std::function<void(int)> open = [&](int depth) {
        OnOpen<shell::NoticeDialog> dialog(
            [&, depth](auto& self) {
                if (depth + 1 < GetParam().nesting)
                    open(depth + 1);
                else
                    self.ui().PostQuitMessage(kExitCode);
            },
            ui, kStartNotice);
        results.push_back(dialog.doModal());
    };
    open(0);
    EXPECT_EQ(results, std::vector<INT_PTR>(static_cast<std::size_t>(GetParam().nesting), -1));
    MSG quit{};
    ASSERT_NE(::PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE), FALSE);
    EXPECT_EQ(quit.wParam, static_cast<WPARAM>(kExitCode));
}

INSTANTIATE_TEST_SUITE_P(Quit, ModalQuit,
                         ::testing::Values(QuitCase{"OneDialog", 1},
                                           QuitCase{"ANoticeOverTheMainDialog", 2}),
                         [](const ::testing::TestParamInfo<QuitCase>& each) {
                             return std::string(each.param.name);
                         });

TEST_F(WinUiTest, EndedDuringInitialisationTheDialogReturnsAtOnceUnseen) {
    bool wasVisible = true;
    OnOpen<shell::NoticeDialog> dialog(
        [&](auto& self) {
            self.endDialog(IDCANCEL);
            wasVisible = ::IsWindowVisible(toNative(self.window())) != FALSE;
        },
        ui, kStartNotice);
    EXPECT_EQ(dialog.doModal(), IDCANCEL);
    EXPECT_FALSE(wasVisible);
}

// The format procedure dismisses its main dialog with Cancel first and ends
// it with OK when done: the later result is the one the loop returns.
TEST_F(WinUiTest, ASecondEndDialogReplacesTheFirstResult) {
    OnOpen<shell::NoticeDialog> dialog(
        [](auto& self) {
            self.endDialog(IDCANCEL);
            self.endDialog(IDOK);
        },
        ui, kStartNotice);
    EXPECT_EQ(dialog.doModal(), IDOK);
}

// Records whether its window could be seen when OK reached it.
class WatchedNotice : public shell::NoticeDialog {
  public:
    using NoticeDialog::NoticeDialog;
    bool visibleAtOk = false;

  protected:
    void onOK() override {
        visibleAtOk = ::IsWindowVisible(toNative(window())) != FALSE;
        NoticeDialog::onOK();
    }
};

TEST_F(WinUiTest, TheModalWindowIsShownWhileItsLoopRunsAndGoneAfter) {
    HWND seen = nullptr;
    OnOpen<WatchedNotice> dialog(
        [&seen](auto& self) {
            seen = toNative(self.window());
            ::PostMessageA(seen, WM_KEYDOWN, VK_RETURN, 0);
        },
        ui, kStartNotice);
    EXPECT_EQ(dialog.doModal(), IDOK);
    EXPECT_TRUE(dialog.visibleAtOk) << "the loop took messages before it showed the dialog";
    ASSERT_NE(seen, nullptr);
    EXPECT_FALSE(::IsWindow(seen)) << "the modal dialog's window outlived its loop";
}

// --- the suspend rule -------------------------------------------------------------------

enum class DialogKind { Notice, Progress, Main, About };

struct SuspendCase {
    const char* name;
    DialogKind kind;
    WPARAM event;
    bool refused;
};

void PrintTo(const SuspendCase& each, std::ostream* out) {
    *out << each.name;
}

class SuspendRule : public WinUiTest, public ::testing::WithParamInterface<SuspendCase> {};

// The platform reads a dialog's answer from DWLP_MSGRESULT; SendMessage
// hands it back to the one who asked.
TEST_P(SuspendRule, AnswersWhereThePlatformLooks) {
    const SuspendCase& suspend = GetParam();
    std::unique_ptr<shell::Dialog> dialog;
    switch (suspend.kind) {
        case DialogKind::Notice:
            dialog = std::make_unique<shell::NoticeDialog>(ui, kStartNotice);
            break;
        case DialogKind::Progress:
            dialog = std::make_unique<shell::ProgressDialog>(ui, kFlashProgress, kFlashProgressBar);
            break;
        case DialogKind::Main:
            dialog = std::make_unique<shell::MainDialog>(ui);
            break;
        case DialogKind::About:
            dialog = std::make_unique<shell::AboutBox>(ui);
            break;
    }
    ASSERT_TRUE(dialog->createModeless());
    const HWND window = toNative(dialog->window());
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, 0);
    const LRESULT answer = ::SendMessageA(window, WM_POWERBROADCAST, suspend.event, 0);
    if (suspend.refused) {
        EXPECT_EQ(answer, BROADCAST_QUERY_DENY);
        EXPECT_EQ(::GetWindowLongPtrA(window, DWLP_MSGRESULT), BROADCAST_QUERY_DENY);
    } else {
        EXPECT_NE(answer, BROADCAST_QUERY_DENY);
    }
    dialog->destroyWindow();
}

constexpr WPARAM kQueryWithHighBitsSet = 0x00010000 | PBT_APMQUERYSUSPEND;

INSTANTIATE_TEST_SUITE_P(
    Suspend, SuspendRule,
    ::testing::Values(
        SuspendCase{"NoticeRefuses", DialogKind::Notice, PBT_APMQUERYSUSPEND, true},
        SuspendCase{"ProgressRefuses", DialogKind::Progress, PBT_APMQUERYSUSPEND, true},
        SuspendCase{"MainDialogRefuses", DialogKind::Main, PBT_APMQUERYSUSPEND, true},
        SuspendCase{"OnlyTheLowWordCounts", DialogKind::Notice, kQueryWithHighBitsSet, true},
        SuspendCase{"AboutBoxLetsItSuspend", DialogKind::About, PBT_APMQUERYSUSPEND, false},
        SuspendCase{"OtherPowerEventsPassOn", DialogKind::Notice, PBT_APMRESUMESUSPEND, false}),
    [](const ::testing::TestParamInfo<SuspendCase>& each) { return std::string(each.param.name); });

// --- controls, menu, icons ------------------------------------------------------------------

TEST_F(WinUiTest, TheProgressBarCountsBlocksAndTakesTheFullSixteenBitRange) {
    shell::ProgressDialog progress(ui, kFlashProgress, kFlashProgressBar);
    ASSERT_TRUE(progress.open()) << "the progress class is not registered";
    const HWND bar = ::GetDlgItem(toNative(progress.window()), kFlashProgressBar);
    ASSERT_NE(bar, nullptr);

    constexpr std::uint16_t kBlocks = 384;
    progress.setRange16(kBlocks);
    progress.setStep(1);
    progress.setPosition(0);
    for (int block = 0; block < 3; ++block) progress.stepIt();
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 3);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), kBlocks);

    constexpr std::uint32_t kFormatRange = 0xFFFF;
    progress.setRange32(kFormatRange);
    progress.setPosition(0x8000);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETPOS, 0, 0), 0x8000);
    EXPECT_EQ(::SendMessageA(bar, PBM_GETRANGE, FALSE, 0), static_cast<LRESULT>(kFormatRange));
    progress.close();
    EXPECT_EQ(progress.window(), nullptr);
}

TEST_F(WinUiTest, CentresAWindowOverTheDesktop) {
    shell::ProgressDialog progress(ui, kFlashProgress, kFlashProgressBar);
    ASSERT_TRUE(progress.open());
    RECT desktop{};
    RECT placed{};
    ASSERT_TRUE(::GetWindowRect(::GetDesktopWindow(), &desktop));
    ASSERT_TRUE(::GetWindowRect(toNative(progress.window()), &placed));
    EXPECT_NEAR((placed.left + placed.right) / 2.0, (desktop.left + desktop.right) / 2.0, 1.0);
    EXPECT_NEAR((placed.top + placed.bottom) / 2.0, (desktop.top + desktop.bottom) / 2.0, 1.0);
    progress.close();
}

class FormatLibraryTest : public WinUiTest {
  protected:
    FormatLibraryTest() : WinUiTest("FORMAT_ENG.dll") {}
};

TEST_F(FormatLibraryTest, TheDriveListTakesRootsInTheOrderAdded) {
    constexpr int kDriveSelection = 144;
    constexpr int kDriveCombo = 1000;
    shell::Dialog selection(ui, kDriveSelection);
    ASSERT_TRUE(selection.createModeless());
    const win::HWND dialog = selection.window();
    for (const char* root : {"G:\\", "E:\\"})
        ui.SendDlgItemMessageA(dialog, kDriveCombo, CB_ADDSTRING, 0,
                               reinterpret_cast<LPARAM>(root));
    ui.SendDlgItemMessageA(dialog, kDriveCombo, CB_SETCURSEL, 0, 0);
    EXPECT_EQ(ui.SendDlgItemMessageA(dialog, kDriveCombo, CB_GETCOUNT, 0, 0), 2);
    EXPECT_EQ(ui.SendDlgItemMessageA(dialog, kDriveCombo, CB_GETCURSEL, 0, 0), 0);
    char text[8] = {};
    ASSERT_EQ(ui.SendDlgItemMessageA(dialog, kDriveCombo, CB_GETLBTEXTLEN, 0, 0), 3);
    ui.SendDlgItemMessageA(dialog, kDriveCombo, CB_GETLBTEXT, 0, reinterpret_cast<LPARAM>(text));
    EXPECT_STREQ(text, "G:\\") << "the list sorted its entries: the drive order is lost";
    selection.destroyWindow();
}

// The main dialog's initialisation through the backend: the About entry at
// the end of the system menu, after a separator, and the program's icon in
// the caption, handed back when the platform asks for the drag icon.
TEST_F(WinUiTest, TheMainDialogGetsItsMenuEntryAndIcons) {
    shell::MainDialog dialog(ui);
    ASSERT_TRUE(dialog.createModeless());
    const HWND window = toNative(dialog.window());

    const HMENU menu = ::GetSystemMenu(window, FALSE);
    ASSERT_NE(menu, nullptr);
    const int count = ::GetMenuItemCount(menu);
    ASSERT_GE(count, 2);
    EXPECT_EQ(::GetMenuItemID(menu, count - 1), kAboutCommand);
    char entry[64] = {};
    ::GetMenuStringA(menu, static_cast<UINT>(count - 1), entry, static_cast<int>(sizeof entry),
                     MF_BYPOSITION);
    EXPECT_STREQ(entry, "&About Velcrest...");
    EXPECT_NE(::GetMenuState(menu, static_cast<UINT>(count - 2), MF_BYPOSITION) & MF_SEPARATOR, 0u);

    const win::HICON icon = ui.LoadIconA(kAppIcon);
    ASSERT_NE(icon, nullptr);
    const auto iconValue = reinterpret_cast<LRESULT>(icon);
    EXPECT_EQ(::SendMessageA(window, WM_GETICON, ICON_BIG, 0), iconValue);
    EXPECT_EQ(::SendMessageA(window, WM_GETICON, ICON_SMALL, 0), iconValue);
    // Answered by the procedure's return value, not through DWLP_MSGRESULT.
    EXPECT_EQ(::SendMessageA(window, WM_QUERYDRAGICON, 0, 0), iconValue);
    dialog.destroyWindow();
}

TEST_F(WinUiTest, StringsAndIconsComeFromTheResourceModuleOnly) {
    char text[64] = "untouched";
    EXPECT_GT(ui.LoadStringA(kAboutMenuString, text, static_cast<int>(sizeof text)), 0);
    EXPECT_STREQ(text, "&About Velcrest...");
    EXPECT_NE(ui.LoadIconA(kAppIcon), nullptr);

    ui.setResourceModule(nullptr);
    EXPECT_EQ(ui.LoadStringA(kAboutMenuString, text, static_cast<int>(sizeof text)), 0);
    EXPECT_EQ(ui.LoadIconA(kAppIcon), nullptr);
    shell::AboutBox about(ui);
    EXPECT_EQ(about.doModal(), -1);
}

}  // namespace
}  // namespace win32::testing

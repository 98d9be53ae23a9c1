#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>

#include "shell/about_box.h"
#include "shell/application.h"
#include "shell/main_dialog.h"
#include "shell/notice_dialog.h"
#include "shell/progress_dialog.h"
#include "support/fake_ui.h"

namespace {

using testsupport::FakeResources;
using testsupport::FakeUi;
using testsupport::UiCall;

constexpr int kNoticeTemplate = 150;
constexpr int kProgressTemplate = 132;
constexpr int kProgressBar = 1002;
constexpr win::WPARAM kPowerSuspend = 0x0004;  // PBT_APMSUSPEND: not a query
constexpr win::WPARAM kQueryWithHighBits = 0x00010000;

win::MSG keyDown(win::HWND window, win::WPARAM key) {
    return win::MSG{window, win::WM_KEYDOWN, key, 0, 0, {}};
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
    {"notice", [](platform::Ui& ui) { return std::make_unique<shell::NoticeDialog>(ui, 151); },
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
    FakeUi ui;
    auto dialog = GetParam().make(ui);
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
    ProgressDialogTest() { ui.programResources().templates.insert(kProgressTemplate); }

    std::vector<UiCall> barMessages() const { return ui.callsNamed("SendDlgItemMessageA"); }

    FakeUi ui;
    shell::ProgressDialog progress{ui, kProgressTemplate, kProgressBar};
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
        {"RedrawWindow", window, 0x0105},
    };
    EXPECT_EQ(ui.calls(), expected);
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
}

TEST_F(ProgressDialogTest, RangeUpperBoundFillsTheWholeHighWord) {
    ASSERT_TRUE(progress.open());
    progress.setRange16(0xFFFF);
    ASSERT_EQ(barMessages().size(), 1u);
    // The same 32 bits whatever the width of LPARAM (negative on 32-bit Windows).
    EXPECT_EQ(barMessages()[0].lParam, static_cast<win::LPARAM>(std::uint32_t{0xFFFF0000}));
}

TEST_F(ProgressDialogTest, MissingTemplateSendsNothingToAWindowThatDoesNotExist) {
    ui.programResources().templates.erase(kProgressTemplate);
    EXPECT_FALSE(progress.open());
    progress.setRange16(10);
    progress.stepIt();
    progress.showNow();
    progress.close();
    EXPECT_TRUE(barMessages().empty());
    EXPECT_TRUE(ui.callsNamed("ShowWindow").empty());
    EXPECT_TRUE(ui.callsNamed("DestroyWindow").empty());
}

TEST_F(ProgressDialogTest, CloseDestroysTheWindowOnce) {
    ASSERT_TRUE(progress.open());
    progress.close();
    progress.close();
    EXPECT_EQ(ui.callsNamed("DestroyWindow").size(), 1u);
    EXPECT_EQ(ui.openWindowCount(), 0u);
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
    shell::Application application(ui);
    ui.post(keyDown(progress.window(), win::VK_ESCAPE));
    application.pumpPendingMessages();
    EXPECT_TRUE(ui.callsNamed("EndDialog").empty());
    EXPECT_FALSE(ui.quitPending());
}

// A notice has no Escape rule: the same key press cancels it, which shows the
// pump test above can tell the difference.
TEST_F(ProgressDialogTest, WithoutTheRuleEscapeCancels) {
    ui.programResources().templates.insert(kNoticeTemplate);
    shell::NoticeDialog notice(ui, kNoticeTemplate);
    ASSERT_TRUE(notice.createModeless());
    shell::Application application(ui);
    ui.post(keyDown(notice.window(), win::VK_ESCAPE));
    application.pumpPendingMessages();
    const std::vector<UiCall> ended = ui.callsNamed("EndDialog");
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].id, win::IDCANCEL);
}

// ---- notices -----------------------------------------------------------------

TEST(NoticeDialog, ReturnsTheButtonOrMinusOneForAMissingTemplate) {
    FakeUi ui;
    ui.programResources().templates.insert(kNoticeTemplate);
    ui.answer(kNoticeTemplate, win::IDCANCEL);
    ui.answer(kNoticeTemplate, win::IDOK);
    shell::NoticeDialog notice(ui, kNoticeTemplate);
    shell::NoticeDialog missing(ui, 151);
    EXPECT_EQ(notice.doModal(), win::IDCANCEL);
    EXPECT_EQ(notice.doModal(), win::IDOK);
    EXPECT_EQ(missing.doModal(), -1);
}

// ---- the main dialog's shared part -------------------------------------------

class MainDialogTest : public testing::Test {
  protected:
    MainDialogTest() {
        library = ui.addModule(FakeResources{{100, shell::kMainDialogTemplate},
                                             {{shell::kAboutMenuString, "About..."}},
                                             {shell::kAppIconGroup}});
        ui.setResourceModule(library);
    }

    // Opens the dialog modally and runs `whileOpen` with it open; the
    // scripted user then cancels it.
    void runOpen(shell::MainDialog& dialog, const std::function<void(win::HWND)>& whileOpen) {
        ui.whileOpen(shell::kMainDialogTemplate, [&](win::HWND window) {
            whileOpen(window);
            ui.EndDialog(window, win::IDCANCEL);
        });
        EXPECT_EQ(dialog.doModal(), win::IDCANCEL);
    }

    win::LRESULT send(win::HWND window, win::UINT message, win::WPARAM wParam = 0) {
        win::LRESULT result = 0;
        handled = ui.deliver(window, message, wParam, 0, result);
        return result;
    }

    FakeUi ui;
    win::HMODULE library = nullptr;
    bool handled = false;
};

TEST_F(MainDialogTest, InitialisationAddsTheAboutEntryAndBothIcons) {
    shell::MainDialog dialog(ui);
    const win::HICON icon = FakeUi::iconHandle(library, shell::kAppIconGroup);
    win::HWND window = nullptr;
    runOpen(dialog, [&](win::HWND open) { window = open; });
    const auto menu = reinterpret_cast<win::LPARAM>(FakeUi::systemMenuOf(window));
    std::vector<UiCall> expectedMenu = {{"AppendMenuA", nullptr, 0, win::MF_SEPARATOR, 0, menu},
                                        {"AppendMenuA", nullptr, 16, win::MF_STRING, 0, menu}};
    expectedMenu[1].text = "About...";
    EXPECT_EQ(ui.callsNamed("AppendMenuA"), expectedMenu);
    const auto iconParam = reinterpret_cast<win::LPARAM>(icon);
    const std::vector<UiCall> expectedIcons = {
        {"SendMessageA", window, 0, win::WM_SETICON, win::ICON_BIG, iconParam},
        {"SendMessageA", window, 0, win::WM_SETICON, win::ICON_SMALL, iconParam}};
    EXPECT_EQ(ui.callsNamed("SendMessageA"), expectedIcons);
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
        FakeUi local;
        FakeResources resources{{shell::kMainDialogTemplate}, {}, {shell::kAppIconGroup}};
        if (c.text) resources.strings[shell::kAboutMenuString] = *c.text;
        local.setResourceModule(local.addModule(resources));
        local.answer(shell::kMainDialogTemplate, win::IDCANCEL);
        shell::MainDialog dialog(local);
        dialog.doModal();
        const std::vector<UiCall> appended = local.callsNamed("AppendMenuA");
        ASSERT_EQ(appended.size(), c.appended) << c.description;
        if (c.appended != 0) {
            EXPECT_EQ(appended[1].text, *c.text) << c.description;
        }
    }
}

TEST_F(MainDialogTest, AboutCommandRunsTheAboutBoxWhateverTheLowBits) {
    shell::MainDialog dialog(ui);
    runOpen(dialog, [&](win::HWND window) {
        send(window, win::WM_SYSCOMMAND, shell::kAboutCommandId | 0x3);
        EXPECT_TRUE(handled);
        send(window, win::WM_SYSCOMMAND, win::SC_CLOSE);
        EXPECT_FALSE(handled) << "other system commands take default processing";
    });
    EXPECT_EQ(ui.modalCount(shell::kAboutBoxTemplate), 1);
}

TEST_F(MainDialogTest, MinimisedPaintDrawsTheIconCentred) {
    ui.setIconic(true);
    ui.setClientRect(win::RECT{0, 0, 201, 100});
    shell::MainDialog dialog(ui);
    win::HWND window = nullptr;
    runOpen(dialog, [&](win::HWND open) {
        window = open;
        send(open, win::WM_PAINT);
        EXPECT_TRUE(handled);
    });
    const win::HDC dc = FakeUi::paintDcOf(window);
    const win::HICON icon = FakeUi::iconHandle(library, shell::kAppIconGroup);
    const std::vector<UiCall> erase = ui.callsNamed("SendMessageA");
    ASSERT_EQ(erase.size(), 3u);  // the two icons, then the erase
    EXPECT_EQ(erase[2], (UiCall{"SendMessageA", window, 0, win::WM_ICONERASEBKGND,
                                reinterpret_cast<win::WPARAM>(dc), 0}));
    const std::vector<UiCall> drawn = ui.callsNamed("DrawIcon");
    ASSERT_EQ(drawn.size(), 1u);
    EXPECT_EQ(drawn[0].wParam, win::WPARAM{(201 - 32 + 1) / 2});
    EXPECT_EQ(drawn[0].lParam, win::LPARAM{(100 - 32 + 1) / 2});
    EXPECT_EQ(drawn[0].text, std::to_string(reinterpret_cast<std::uintptr_t>(dc)) + "/" +
                                 std::to_string(reinterpret_cast<std::uintptr_t>(icon)));
    EXPECT_EQ(ui.callsNamed("EndPaint").size(), 1u);
}

TEST_F(MainDialogTest, NormalPaintIsLeftToTheDefault) {
    shell::MainDialog dialog(ui);
    runOpen(dialog, [&](win::HWND window) {
        send(window, win::WM_PAINT);
        EXPECT_FALSE(handled);
    });
    EXPECT_TRUE(ui.callsNamed("BeginPaint").empty());
    EXPECT_TRUE(ui.callsNamed("DrawIcon").empty());
}

TEST_F(MainDialogTest, DragIconIsTheIconLoadedAtConstruction) {
    shell::MainDialog dialog(ui);
    // A later change of resource module does not change the icon.
    ui.setResourceModule(
        ui.addModule(FakeResources{{shell::kMainDialogTemplate}, {}, {shell::kAppIconGroup}}));
    runOpen(dialog, [&](win::HWND window) {
        EXPECT_EQ(send(window, win::WM_QUERYDRAGICON),
                  reinterpret_cast<win::LRESULT>(FakeUi::iconHandle(library, 156)));
        EXPECT_TRUE(handled);
    });
}

}  // namespace

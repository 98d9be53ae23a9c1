#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace testsupport {

// What one resource module holds.
struct FakeResources {
    std::set<int> templates;
    std::map<win::UINT, std::string> strings;
    std::set<int> icons;
};

// One call of the program into the Ui seam that a test may want to look at.
struct UiCall {
    UiCall(std::string callName, win::HWND callWindow = nullptr, int callId = 0,
           win::UINT callMessage = 0, win::WPARAM callWParam = 0, win::LPARAM callLParam = 0,
           std::string callText = {})
        : name(std::move(callName)),
          window(callWindow),
          id(callId),
          message(callMessage),
          wParam(callWParam),
          lParam(callLParam),
          text(std::move(callText)) {}

    std::string name;  // "SendDlgItemMessageA", "ShowWindow", "AppendMenuA", ...
    win::HWND window = nullptr;
    int id = 0;  // control id, template id, command id
    win::UINT message = 0;
    win::WPARAM wParam = 0;
    win::LPARAM lParam = 0;
    std::string text;

    bool operator==(const UiCall&) const = default;
};

// One modal run: the template and what it returned.
struct ModalRun {
    int templateId = 0;
    win::INT_PTR result = 0;

    bool operator==(const ModalRun&) const = default;
};

// A recording stand-in for the platform's dialogs, with a scripted user who
// answers each modal dialog with the button scripted for its template (in
// order, then the template's default, then the overall default). It keeps the
// platform's rules that the programs rely on: a missing template gives -1, a
// pending quit ends a modal loop with -1 and stays pending, Escape and Enter
// in a dialog become Cancel and OK through the dialog manager.
class FakeUi final : public platform::Ui {
  public:
    FakeUi();

    // Resources.
    win::HMODULE addModule(FakeResources resources);
    FakeResources& programResources() { return modules_[nullptr]; }
    win::HMODULE resourceModule() const { return resourceModule_; }

    // The scripted user.
    void answer(int templateId, win::INT_PTR button) { answers_[templateId].push_back(button); }
    void answerAlways(int templateId, win::INT_PTR button) { defaults_[templateId] = button; }
    void setDefaultAnswer(win::INT_PTR button) { defaultAnswer_ = button; }
    // Runs while a modal dialog of the template is open, before each answer;
    // may end the dialog itself.
    void whileOpen(int templateId, std::function<void(win::HWND)> action);

    // Messages for the message pump.
    void post(const win::MSG& message) { queue_.push_back(message); }
    bool quitPending() const { return quitPending_; }
    int quitCount() const { return quitCount_; }

    void setIconic(bool iconic) { iconic_ = iconic; }
    void setClientRect(win::RECT rect) { clientRect_ = rect; }

    const std::vector<UiCall>& calls() const { return calls_; }
    std::vector<UiCall> callsNamed(const std::string& name) const;
    const std::vector<ModalRun>& modalRuns() const { return modalRuns_; }
    std::vector<int> modalTemplates() const;
    int modalCount(int templateId) const;
    // Windows created and not yet destroyed (modal ones close when their run
    // ends).
    std::size_t openWindowCount() const { return procedures_.size(); }
    // A modal run stopped because the scripted user would have gone on for
    // ever.
    bool loopGuardTripped() const { return loopGuardTripped_; }
    // Delivers a message to an open window's procedure, as the platform would.
    bool deliver(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                 win::LRESULT& result);

    static constexpr int kIconWidth = 32;
    static constexpr int kIconHeight = 32;

    // platform::Ui
    void setResourceModule(win::HMODULE module) override;
    platform::DialogProcedure* dialogProcedure(win::HWND window) override;
    win::INT_PTR DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) override;
    win::HWND CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) override;
    win::BOOL EndDialog(win::HWND dialog, win::INT_PTR result) override;
    win::BOOL DestroyWindow(win::HWND window) override;
    win::BOOL ShowWindow(win::HWND window, int command) override;
    win::BOOL RedrawWindow(win::HWND window, win::UINT flags) override;
    win::BOOL CenterWindow(win::HWND window) override;
    win::BOOL IsIconic(win::HWND window) override;
    win::HWND GetAncestor(win::HWND window, win::UINT flags) override;
    win::LRESULT SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam) override;
    win::LRESULT SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                     win::WPARAM wParam, win::LPARAM lParam) override;
    win::HMENU GetSystemMenu(win::HWND window, win::BOOL revert) override;
    win::BOOL AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id,
                          const char* text) override;
    int LoadStringA(win::UINT id, char* buffer, int bufferMax) override;
    win::HICON LoadIconA(int id) override;
    win::HDC BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) override;
    win::BOOL EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) override;
    win::BOOL GetClientRect(win::HWND window, win::RECT* rect) override;
    int GetSystemMetrics(int index) override;
    win::BOOL DrawIcon(win::HDC dc, int x, int y, win::HICON icon) override;
    win::LRESULT DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                win::LPARAM lParam) override;
    win::BOOL PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                           win::UINT filterMax, win::UINT removeFlags) override;
    win::BOOL GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                          win::UINT filterMax) override;
    win::BOOL TranslateMessage(const win::MSG* message) override;
    win::LRESULT DispatchMessageA(const win::MSG* message) override;
    win::BOOL IsDialogMessageA(win::HWND dialog, win::MSG* message) override;
    void PostQuitMessage(int exitCode) override;

    // Handles the fake hands out; a test may compare against them.
    static win::HICON iconHandle(win::HMODULE module, int id);
    static win::HMENU systemMenuOf(win::HWND window);
    static win::HDC paintDcOf(win::HWND window);

  private:
    static constexpr int kLoopGuard = 1000;

    const FakeResources& current() const;
    win::HWND createWindow(int templateId, platform::DialogProcedure* procedure);
    void closeWindow(win::HWND window);
    win::INT_PTR nextAnswer(int templateId);
    void record(UiCall call) { calls_.push_back(std::move(call)); }
    template <typename... Args>
    void record(Args&&... args) {
        calls_.emplace_back(std::forward<Args>(args)...);
    }

    std::map<win::HMODULE, FakeResources> modules_;
    win::HMODULE resourceModule_ = nullptr;
    std::uintptr_t nextModule_ = 0x1000;
    std::uintptr_t nextWindow_ = 0x10;

    std::map<int, std::deque<win::INT_PTR>> answers_;
    std::map<int, win::INT_PTR> defaults_;
    win::INT_PTR defaultAnswer_ = win::IDOK;
    std::map<int, std::function<void(win::HWND)>> whileOpen_;

    std::map<win::HWND, platform::DialogProcedure*> procedures_;
    std::map<win::HWND, int> templates_;
    std::map<win::HWND, win::INT_PTR> ended_;

    std::deque<win::MSG> queue_;
    bool quitPending_ = false;
    int quitCount_ = 0;
    bool iconic_ = false;
    win::RECT clientRect_{0, 0, 200, 100};
    bool loopGuardTripped_ = false;

    std::vector<UiCall> calls_;
    std::vector<ModalRun> modalRuns_;
};

}  // namespace testsupport

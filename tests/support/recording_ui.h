#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/ui.h"

namespace testsupport {

// One call of the program into the Ui seam: the call's name and the
// arguments that tell it apart ("AppendMenuA" keeps its menu in lParam and
// its text, "DrawIcon" its position in wParam and lParam and "dc/icon" as
// text).
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

    std::string name;
    win::HWND window = nullptr;
    int id = 0;  // control id, template id, command id, EndDialog's result
    win::UINT message = 0;
    win::WPARAM wParam = 0;
    win::LPARAM lParam = 0;
    std::string text;
    // When it was made, on the clock the recorder stamps with (0 without one).
    win::DWORD tick = 0;

    bool operator==(const UiCall&) const = default;
};

// One modal run: the template and what it returned.
struct ModalRun {
    int templateId = 0;
    win::INT_PTR result = 0;

    bool operator==(const ModalRun&) const = default;
};

// Stands between a program and any Ui, passes every call on unchanged and
// writes it down, for the tests that must see an exact call sequence. What
// the calls do (the scripted user, missing templates, quit handling) is the
// wrapped Ui's own business.
class RecordingUi final : public platform::Ui {
  public:
    explicit RecordingUi(platform::Ui& target) : target_(target) {}
    // Stamps every call with this clock's time from now on.
    void stampWith(platform::Clock& clock) { clock_ = &clock; }

    const std::vector<UiCall>& calls() const { return calls_; }
    std::vector<UiCall> callsNamed(const std::string& name) const;
    // Modal runs in the order they ended (an About box run from the main
    // dialog ends before it).
    const std::vector<ModalRun>& modalRuns() const { return modalRuns_; }
    std::vector<int> modalTemplates() const;
    int modalCount(int templateId) const;

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

  private:
    void record(UiCall call) {
        if (clock_ != nullptr) call.tick = clock_->GetTickCount();
        calls_.push_back(std::move(call));
    }

    platform::Ui& target_;
    platform::Clock* clock_ = nullptr;
    std::vector<UiCall> calls_;
    std::vector<ModalRun> modalRuns_;
};

}  // namespace testsupport

#pragma once

#include <list>

#include "platform/ui.h"

namespace win32 {

// The user interface on Windows: dialogs from the resource module's
// templates, their controls, resources and the message queue, each call a
// pass-through to the platform's. The modal loop is our own rather than the
// dialog manager's, because the programs' dialogs need their say on every
// message before the dialog manager sees it (the Escape rule) and must end
// the loop with a quit message as the dialog framework does.
class WinUi final : public platform::Ui {
  public:
    // Registers the common-control classes the templates use (the progress
    // bar), which the dialog manager cannot create otherwise.
    WinUi();
    ~WinUi() override;
    WinUi(const WinUi&) = delete;
    WinUi& operator=(const WinUi&) = delete;

    void setResourceModule(win::HMODULE module) override { resourceModule_ = module; }
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

    // What ties a window of ours to its procedure and its modal state; the
    // window keeps a pointer to it in its dialog data (DWLP_USER).
    struct Binding {
        WinUi* ui = nullptr;
        platform::DialogProcedure* procedure = nullptr;
        win::HWND window = nullptr;
        bool modal = false;
        bool ended = false;
        win::INT_PTR result = 0;
    };

  private:
    Binding& bind(platform::DialogProcedure* procedure);
    void unbind(const Binding& binding);
    // Null for a window that is not one of our dialogs (or no longer is).
    Binding* bindingOf(win::HWND window) const;
    win::HWND createDialog(int templateId, Binding& binding);
    bool hasTemplate(int templateId) const;
    // The language library, or the program itself when none is set.
    win::HMODULE resourceInstance() const;
    win::INT_PTR runModalLoop(Binding& binding);
    void destroyDialog(Binding& binding);

    win::HMODULE resourceModule_ = nullptr;
    // A list, so a binding stays where it is while others come and go: the
    // windows point at theirs.
    std::list<Binding> bindings_;
};

}  // namespace win32

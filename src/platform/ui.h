#pragma once

#include "platform/win_ui_api.h"

namespace platform {

// What a dialog object of the programs gives the platform: its window
// procedure and its hook before the dialog manager sees a message. The
// backends deliver messages exactly as the platform would (WM_INITDIALOG on
// creation, WM_COMMAND with IDOK/IDCANCEL for the buttons, Enter and the
// close box; WM_SYSCOMMAND, WM_PAINT, WM_POWERBROADCAST, ...), so every
// decision about them lives in the portable dialog classes.
class DialogProcedure {
  public:
    virtual ~DialogProcedure() = default;

    // The dialog's window procedure. Returns true when the message was
    // handled, with its result in `result` (the backend stores it where the
    // platform expects a dialog's result, DWLP_MSGRESULT); false passes the
    // message on to the default processing.
    virtual bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                            win::LPARAM lParam, win::LRESULT& result) = 0;

    // Called for every message meant for the dialog or its controls before
    // the dialog manager translates it; true swallows the message.
    virtual bool preTranslateMessage(const win::MSG& message) = 0;
};

// Dialogs, controls, resources and the message queue, one call per platform
// call. Templates, strings and icons come from the resource module set with
// setResourceModule (the language library), or from the program itself.
class Ui {
  public:
    virtual ~Ui() = default;

    // The module that resources are looked up in from now on; null goes back
    // to the program's own resources.
    virtual void setResourceModule(win::HMODULE module) = 0;
    // The procedure a dialog of this process was created with, while its
    // window is open; null for any other window. The backend keeps this
    // binding anyway to deliver messages, so the message pump asks it rather
    // than keeping a second map that two processes could share.
    virtual DialogProcedure* dialogProcedure(win::HWND window) = 0;

    // Runs the template modally with no parent. The result of EndDialog, or
    // -1 when the template is missing; also -1 when a quit message ends the
    // modal loop (the quit message is then posted again).
    virtual win::INT_PTR DialogBoxParamA(int templateId, DialogProcedure* procedure) = 0;
    // Creates the template as a modeless dialog with no parent; null when the
    // template is missing.
    virtual win::HWND CreateDialogParamA(int templateId, DialogProcedure* procedure) = 0;
    virtual win::BOOL EndDialog(win::HWND dialog, win::INT_PTR result) = 0;
    virtual win::BOOL DestroyWindow(win::HWND window) = 0;
    virtual win::BOOL ShowWindow(win::HWND window, int command) = 0;
    virtual win::BOOL RedrawWindow(win::HWND window, win::UINT flags) = 0;
    // Centres the window over the desktop window.
    virtual win::BOOL CenterWindow(win::HWND window) = 0;
    virtual win::BOOL IsIconic(win::HWND window) = 0;
    // GA_ROOT: the top-level window (the dialog) that holds a control.
    virtual win::HWND GetAncestor(win::HWND window, win::UINT flags) = 0;

    virtual win::LRESULT SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                      win::LPARAM lParam) = 0;
    virtual win::LRESULT SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                             win::WPARAM wParam, win::LPARAM lParam) = 0;

    virtual win::HMENU GetSystemMenu(win::HWND window, win::BOOL revert) = 0;
    virtual win::BOOL AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id,
                                  const char* text) = 0;

    // Resources of the current resource module.
    virtual int LoadStringA(win::UINT id, char* buffer, int bufferMax) = 0;
    virtual win::HICON LoadIconA(int id) = 0;

    // The minimised paint.
    virtual win::HDC BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) = 0;
    virtual win::BOOL EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) = 0;
    virtual win::BOOL GetClientRect(win::HWND window, win::RECT* rect) = 0;
    virtual int GetSystemMetrics(int index) = 0;
    virtual win::BOOL DrawIcon(win::HDC dc, int x, int y, win::HICON icon) = 0;
    // Default processing of a message the dialog did not handle.
    virtual win::LRESULT DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                        win::LPARAM lParam) = 0;

    // The message queue.
    virtual win::BOOL PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                                   win::UINT filterMax, win::UINT removeFlags) = 0;
    // 0 when the message taken is WM_QUIT.
    virtual win::BOOL GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                                  win::UINT filterMax) = 0;
    virtual win::BOOL TranslateMessage(const win::MSG* message) = 0;
    virtual win::LRESULT DispatchMessageA(const win::MSG* message) = 0;
    // True when the message was for the dialog (or its controls) and was
    // processed by the dialog manager.
    virtual win::BOOL IsDialogMessageA(win::HWND dialog, win::MSG* message) = 0;
    virtual void PostQuitMessage(int exitCode) = 0;
};

}  // namespace platform

#pragma once

#include "platform/ui.h"

namespace shell {

// A dialog of the programs, dispatching the platform's messages to small
// handlers the way the dialog framework of the platform does: WM_INITDIALOG
// to onInitDialog, the OK and Cancel commands to onOK and onCancel, and so on.
// Subclasses override only what they change.
class Dialog : public platform::DialogProcedure {
  public:
    Dialog(platform::Ui& ui, int templateId) : ui_(ui), templateId_(templateId) {}
    ~Dialog() override;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // 1 (OK), 2 (Cancel, also the caption's close box) or -1 when the
    // template is missing.
    win::INT_PTR doModal();
    // Creates the dialog modeless with no parent; false when the template is
    // missing.
    bool createModeless();
    void endDialog(win::INT_PTR result);
    void destroyWindow();

    win::HWND window() const { return window_; }
    int templateId() const { return templateId_; }

    bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                    win::LRESULT& result) override;
    bool preTranslateMessage(const win::MSG& message) override;

  protected:
    platform::Ui& ui() { return ui_; }

    virtual bool onInitDialog() { return true; }
    virtual void onOK() { endDialog(win::IDOK); }
    virtual void onCancel() { endDialog(win::IDCANCEL); }
    // True when handled; false gives the command its default processing.
    virtual bool onSysCommand(win::WPARAM /*command*/) { return false; }
    virtual bool onPaint() { return false; }
    virtual bool onQueryDragIcon(win::LRESULT& /*icon*/) { return false; }

  private:
    platform::Ui& ui_;
    int templateId_;
    win::HWND window_ = nullptr;
};

// The suspend rule: a query to suspend is answered with a refusal and not
// passed on, so the machine cannot sleep in the middle of a flash or format.
// True when the message was such a query.
bool refuseSuspend(win::UINT message, win::WPARAM wParam, win::LRESULT& result);

// The Escape rule: Escape never closes the programs' main and progress
// dialogs. True for the key press to swallow.
bool isEscapeKeyDown(const win::MSG& message);

}  // namespace shell

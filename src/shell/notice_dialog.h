#pragma once

#include "shell/dialog.h"

namespace shell {

// A plain modal notice or prompt from the language library: it shows its
// template and returns the button that closed it. It refuses suspend
// requests while open.
class NoticeDialog : public Dialog {
  public:
    NoticeDialog(platform::Ui& ui, int templateId) : Dialog(ui, templateId) {}

    bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                    win::LRESULT& result) override;
};

}  // namespace shell

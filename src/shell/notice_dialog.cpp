#include "shell/notice_dialog.h"

namespace shell {

bool NoticeDialog::windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam, win::LRESULT& result) {
    if (refuseSuspend(message, wParam, result)) return true;
    return Dialog::windowProc(dialog, message, wParam, lParam, result);
}

}  // namespace shell

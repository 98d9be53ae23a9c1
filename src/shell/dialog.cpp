#include "shell/dialog.h"

namespace shell {

namespace {

constexpr win::WPARAM kCommandIdMask = 0xFFFF;
constexpr win::WPARAM kPowerEventMask = 0xFFFF;

}  // namespace

// A modeless window must not outlive the object its procedure belongs to.
Dialog::~Dialog() {
    destroyWindow();
}

win::INT_PTR Dialog::doModal() {
    const win::INT_PTR result = ui_.DialogBoxParamA(templateId_, this);
    window_ = nullptr;
    return result;
}

bool Dialog::createModeless() {
    const win::HWND created = ui_.CreateDialogParamA(templateId_, this);
    if (created == nullptr) return false;
    window_ = created;
    return true;
}

void Dialog::endDialog(win::INT_PTR result) {
    if (window_ != nullptr) ui_.EndDialog(window_, result);
}

void Dialog::destroyWindow() {
    if (window_ == nullptr) return;
    const win::HWND closing = window_;
    window_ = nullptr;
    ui_.DestroyWindow(closing);
}

bool Dialog::windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                        win::LPARAM /*lParam*/, win::LRESULT& result) {
    switch (message) {
        case win::WM_INITDIALOG:
            window_ = dialog;
            result = onInitDialog() ? win::TRUE : win::FALSE;
            return true;
        case win::WM_COMMAND:
            switch (static_cast<win::INT_PTR>(wParam & kCommandIdMask)) {
                case win::IDOK:
                    onOK();
                    result = 0;
                    return true;
                case win::IDCANCEL:
                    onCancel();
                    result = 0;
                    return true;
                default:
                    return false;
            }
        case win::WM_SYSCOMMAND:
            result = 0;
            return onSysCommand(wParam);
        case win::WM_PAINT:
            result = 0;
            return onPaint();
        case win::WM_QUERYDRAGICON:
            return onQueryDragIcon(result);
        default:
            return false;
    }
}

bool Dialog::preTranslateMessage(const win::MSG& /*message*/) {
    return false;
}

bool refuseSuspend(win::UINT message, win::WPARAM wParam, win::LRESULT& result) {
    if (message != win::WM_POWERBROADCAST) return false;
    if ((wParam & kPowerEventMask) != win::PBT_APMQUERYSUSPEND) return false;
    result = win::BROADCAST_QUERY_DENY;
    return true;
}

bool isEscapeKeyDown(const win::MSG& message) {
    return message.message == win::WM_KEYDOWN && message.wParam == win::VK_ESCAPE;
}

}  // namespace shell

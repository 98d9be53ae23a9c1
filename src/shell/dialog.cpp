#include "shell/dialog.h"

#include <map>

namespace shell {

namespace {

constexpr win::WPARAM kCommandIdMask = 0xFFFF;
constexpr win::WPARAM kPowerEventMask = 0xFFFF;

// Open dialogs by window, so the application's message pump can give a
// dialog its say before the dialog manager sees a message.
std::map<win::HWND, Dialog*>& openDialogs() {
    static std::map<win::HWND, Dialog*> dialogs;
    return dialogs;
}

}  // namespace

Dialog::~Dialog() {
    detach();
}

win::INT_PTR Dialog::doModal() {
    const win::INT_PTR result = ui_.DialogBoxParamA(templateId_, this);
    detach();
    return result;
}

bool Dialog::createModeless() {
    const win::HWND created = ui_.CreateDialogParamA(templateId_, this);
    if (created == nullptr) return false;
    attach(created);
    return true;
}

void Dialog::endDialog(win::INT_PTR result) {
    if (window_ != nullptr) ui_.EndDialog(window_, result);
}

void Dialog::destroyWindow() {
    if (window_ == nullptr) return;
    const win::HWND closing = window_;
    detach();
    ui_.DestroyWindow(closing);
}

Dialog* Dialog::fromWindow(win::HWND window) {
    const auto found = openDialogs().find(window);
    return found == openDialogs().end() ? nullptr : found->second;
}

void Dialog::attach(win::HWND window) {
    window_ = window;
    openDialogs()[window] = this;
}

void Dialog::detach() {
    if (window_ == nullptr) return;
    const auto found = openDialogs().find(window_);
    if (found != openDialogs().end() && found->second == this) openDialogs().erase(found);
    window_ = nullptr;
}

bool Dialog::windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                        win::LPARAM /*lParam*/, win::LRESULT& result) {
    switch (message) {
        case win::WM_INITDIALOG:
            attach(dialog);
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

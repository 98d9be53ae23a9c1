#include "shell/progress_dialog.h"

namespace shell {

namespace {
// PBM_SETRANGE carries the lower bound in the low word and the upper bound in
// the high word of lParam.
constexpr unsigned kRangeUpperShift = 16;
constexpr win::UINT kRedrawAtOnce = win::RDW_INVALIDATE | win::RDW_ERASE | win::RDW_UPDATENOW;
}  // namespace

bool ProgressDialog::open() {
    if (!createModeless()) return false;
    ui().CenterWindow(window());
    return true;
}

void ProgressDialog::showNow() {
    if (window() == nullptr) return;
    ui().ShowWindow(window(), win::SW_SHOW);
    ui().RedrawWindow(window(), kRedrawAtOnce);
}

void ProgressDialog::setRange16(std::uint16_t upper) {
    const auto range =
        static_cast<win::LPARAM>(static_cast<std::uint32_t>(upper) << kRangeUpperShift);
    sendToBar(win::PBM_SETRANGE, 0, range);
}

void ProgressDialog::setRange32(std::uint32_t upper) {
    sendToBar(win::PBM_SETRANGE32, 0, static_cast<win::LPARAM>(upper));
}

void ProgressDialog::setStep(int step) {
    sendToBar(win::PBM_SETSTEP, static_cast<win::WPARAM>(step), 0);
}

void ProgressDialog::setPosition(int position) {
    sendToBar(win::PBM_SETPOS, static_cast<win::WPARAM>(position), 0);
}

void ProgressDialog::stepIt() {
    sendToBar(win::PBM_STEPIT, 0, 0);
}

bool ProgressDialog::windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                                win::LPARAM lParam, win::LRESULT& result) {
    if (refuseSuspend(message, wParam, result)) return true;
    return Dialog::windowProc(dialog, message, wParam, lParam, result);
}

bool ProgressDialog::preTranslateMessage(const win::MSG& message) {
    if (isEscapeKeyDown(message)) return true;
    return Dialog::preTranslateMessage(message);
}

// A progress dialog whose template could not be created has no bar: the
// procedure goes on without one rather than sending to a window that does
// not exist.
win::LRESULT ProgressDialog::sendToBar(win::UINT message, win::WPARAM wParam, win::LPARAM lParam) {
    if (window() == nullptr) return 0;
    return ui().SendDlgItemMessageA(window(), progressBarId_, message, wParam, lParam);
}

}  // namespace shell

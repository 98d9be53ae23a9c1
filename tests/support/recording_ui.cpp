#include "support/recording_ui.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

namespace testsupport {

namespace {
std::string handlePair(const void* first, const void* second) {
    return std::to_string(reinterpret_cast<std::uintptr_t>(first)) + "/" +
           std::to_string(reinterpret_cast<std::uintptr_t>(second));
}
}  // namespace

std::vector<UiCall> RecordingUi::callsNamed(const std::string& name) const {
    std::vector<UiCall> found;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(found),
                 [&](const UiCall& call) { return call.name == name; });
    return found;
}

std::vector<int> RecordingUi::modalTemplates() const {
    std::vector<int> ids;
    for (const ModalRun& run : modalRuns_) ids.push_back(run.templateId);
    return ids;
}

int RecordingUi::modalCount(int templateId) const {
    return static_cast<int>(
        std::count_if(modalRuns_.begin(), modalRuns_.end(),
                      [&](const ModalRun& run) { return run.templateId == templateId; }));
}

void RecordingUi::setResourceModule(win::HMODULE module) {
    UiCall call{"setResourceModule"};
    call.lParam = reinterpret_cast<win::LPARAM>(module);
    record(std::move(call));
    target_.setResourceModule(module);
}

platform::DialogProcedure* RecordingUi::dialogProcedure(win::HWND window) {
    record({"dialogProcedure", window});
    return target_.dialogProcedure(window);
}

win::INT_PTR RecordingUi::DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) {
    record({"DialogBoxParamA", nullptr, templateId});
    const win::INT_PTR result = target_.DialogBoxParamA(templateId, procedure);
    modalRuns_.push_back({templateId, result});
    return result;
}

win::HWND RecordingUi::CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) {
    const std::size_t at = calls_.size();
    record({"CreateDialogParamA", nullptr, templateId});
    const win::HWND window = target_.CreateDialogParamA(templateId, procedure);
    // The window is known only once it is made; its initialisation comes after.
    calls_[at].window = window;
    return window;
}

win::BOOL RecordingUi::EndDialog(win::HWND dialog, win::INT_PTR result) {
    record({"EndDialog", dialog, static_cast<int>(result)});
    return target_.EndDialog(dialog, result);
}

win::BOOL RecordingUi::DestroyWindow(win::HWND window) {
    record({"DestroyWindow", window});
    return target_.DestroyWindow(window);
}

win::BOOL RecordingUi::ShowWindow(win::HWND window, int command) {
    record({"ShowWindow", window, command});
    return target_.ShowWindow(window, command);
}

win::BOOL RecordingUi::RedrawWindow(win::HWND window, win::UINT flags) {
    record({"RedrawWindow", window, static_cast<int>(flags)});
    return target_.RedrawWindow(window, flags);
}

win::BOOL RecordingUi::CenterWindow(win::HWND window) {
    record({"CenterWindow", window});
    return target_.CenterWindow(window);
}

win::BOOL RecordingUi::IsIconic(win::HWND window) {
    record({"IsIconic", window});
    return target_.IsIconic(window);
}

win::HWND RecordingUi::GetAncestor(win::HWND window, win::UINT flags) {
    record({"GetAncestor", window, static_cast<int>(flags)});
    return target_.GetAncestor(window, flags);
}

win::LRESULT RecordingUi::SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                       win::LPARAM lParam) {
    record({"SendMessageA", window, 0, message, wParam, lParam});
    return target_.SendMessageA(window, message, wParam, lParam);
}

win::LRESULT RecordingUi::SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                              win::WPARAM wParam, win::LPARAM lParam) {
    record({"SendDlgItemMessageA", dialog, controlId, message, wParam, lParam});
    return target_.SendDlgItemMessageA(dialog, controlId, message, wParam, lParam);
}

win::HMENU RecordingUi::GetSystemMenu(win::HWND window, win::BOOL revert) {
    record({"GetSystemMenu", window, revert});
    return target_.GetSystemMenu(window, revert);
}

win::BOOL RecordingUi::AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id,
                                   const char* text) {
    record({"AppendMenuA", nullptr, static_cast<int>(id), flags, 0,
            reinterpret_cast<win::LPARAM>(menu), text == nullptr ? std::string() : text});
    return target_.AppendMenuA(menu, flags, id, text);
}

int RecordingUi::LoadStringA(win::UINT id, char* buffer, int bufferMax) {
    record({"LoadStringA", nullptr, static_cast<int>(id)});
    return target_.LoadStringA(id, buffer, bufferMax);
}

win::HICON RecordingUi::LoadIconA(int id) {
    record({"LoadIconA", nullptr, id});
    return target_.LoadIconA(id);
}

win::HDC RecordingUi::BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) {
    record({"BeginPaint", window});
    return target_.BeginPaint(window, paint);
}

win::BOOL RecordingUi::EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) {
    UiCall call{"EndPaint", window};
    if (paint != nullptr) call.wParam = reinterpret_cast<win::WPARAM>(paint->hdc);
    record(std::move(call));
    return target_.EndPaint(window, paint);
}

win::BOOL RecordingUi::GetClientRect(win::HWND window, win::RECT* rect) {
    record({"GetClientRect", window});
    return target_.GetClientRect(window, rect);
}

int RecordingUi::GetSystemMetrics(int index) {
    record({"GetSystemMetrics", nullptr, index});
    return target_.GetSystemMetrics(index);
}

win::BOOL RecordingUi::DrawIcon(win::HDC dc, int x, int y, win::HICON icon) {
    record({"DrawIcon", nullptr, 0, 0, static_cast<win::WPARAM>(x), y, handlePair(dc, icon)});
    return target_.DrawIcon(dc, x, y, icon);
}

win::LRESULT RecordingUi::DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                         win::LPARAM lParam) {
    record({"DefWindowProcA", window, 0, message, wParam, lParam});
    return target_.DefWindowProcA(window, message, wParam, lParam);
}

win::BOOL RecordingUi::PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                                    win::UINT filterMax, win::UINT removeFlags) {
    const win::BOOL found =
        target_.PeekMessageA(message, window, filterMin, filterMax, removeFlags);
    // What it handed out, so a test sees which messages the pump took.
    record({"PeekMessageA", found != win::FALSE ? message->hwnd : nullptr, 0,
            found != win::FALSE ? message->message : 0, removeFlags});
    return found;
}

win::BOOL RecordingUi::GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                                   win::UINT filterMax) {
    const win::BOOL result = target_.GetMessageA(message, window, filterMin, filterMax);
    record({"GetMessageA", message != nullptr ? message->hwnd : nullptr, 0,
            message != nullptr ? message->message : 0});
    return result;
}

win::BOOL RecordingUi::TranslateMessage(const win::MSG* message) {
    record({"TranslateMessage", message->hwnd, 0, message->message, message->wParam});
    return target_.TranslateMessage(message);
}

win::LRESULT RecordingUi::DispatchMessageA(const win::MSG* message) {
    record({"DispatchMessageA", message->hwnd, 0, message->message, message->wParam});
    return target_.DispatchMessageA(message);
}

win::BOOL RecordingUi::IsDialogMessageA(win::HWND dialog, win::MSG* message) {
    record({"IsDialogMessageA", dialog, 0, message->message, message->wParam});
    return target_.IsDialogMessageA(dialog, message);
}

void RecordingUi::PostQuitMessage(int exitCode) {
    record({"PostQuitMessage", nullptr, exitCode});
    target_.PostQuitMessage(exitCode);
}

}  // namespace testsupport

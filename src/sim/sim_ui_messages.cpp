#include <algorithm>
#include <cstring>

#include "sim/sim_ui.h"
#include "sim/sim_ui_window.h"

// SimUi's menus and painting, its message queue, the suspend queries and the
// loop guard, and what a test inspects.
namespace sim {

using namespace ui_detail;

// --- menus and painting --------------------------------------------------------

win::HMENU SimUi::GetSystemMenu(win::HWND handle, win::BOOL revert) {
    const WindowPtr window = find(handle);
    if (window == nullptr || !window->hasSystemMenu()) return nullptr;
    if (revert != win::FALSE) {
        window->menu.clear();
        return nullptr;
    }
    return window->menuHandle();
}

win::BOOL SimUi::AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id, const char* text) {
    for (const auto& [handle, window] : windows_) {
        if (window->menuHandle() != menu || !window->hasSystemMenu()) continue;
        MenuItem item{flags, id, text == nullptr ? std::string{} : std::string(text)};
        window->menu.push_back(item);
        return win::TRUE;
    }
    return win::FALSE;
}

win::HDC SimUi::BeginPaint(win::HWND handle, win::PAINTSTRUCT* paint) {
    const WindowPtr window = find(handle);
    if (window == nullptr || paint == nullptr) return nullptr;
    *paint = win::PAINTSTRUCT{};
    paint->hdc = makeHandle<win::HDC>(kDcHandleBase, window->number, kHandleStride);
    return paint->hdc;
}

win::BOOL SimUi::EndPaint(win::HWND handle, const win::PAINTSTRUCT* /*paint*/) {
    return find(handle) != nullptr ? win::TRUE : win::FALSE;
}

win::BOOL SimUi::GetClientRect(win::HWND handle, win::RECT* rect) {
    const WindowPtr window = find(handle);
    if (window == nullptr || rect == nullptr) return win::FALSE;
    *rect = win::RECT{0, 0, window->dialog->rect.width, window->dialog->rect.height};
    return win::TRUE;
}

int SimUi::GetSystemMetrics(int index) {
    return index == win::SM_CXICON || index == win::SM_CYICON ? kIconSize : 0;
}

win::BOOL SimUi::DrawIcon(win::HDC dc, int /*x*/, int /*y*/, win::HICON icon) {
    if (icon == nullptr) return win::FALSE;
    for (const auto& [handle, window] : windows_) {
        if (makeHandle<win::HDC>(kDcHandleBase, window->number, kHandleStride) == dc)
            return win::TRUE;
    }
    return win::FALSE;
}

// --- the message queue -----------------------------------------------------------

void SimUi::postMessage(win::HWND window, win::UINT message, win::WPARAM wParam,
                        win::LPARAM lParam) {
    queue_.push_back(win::MSG{window, message, wParam, lParam, 0, {0, 0}});
}

bool SimUi::takeMessage(win::MSG& message, win::HWND window, win::UINT filterMin,
                        win::UINT filterMax, bool remove) {
    const bool anyMessage = filterMin == 0 && filterMax == 0;
    const auto wanted = [&](const win::MSG& each) {
        return (window == nullptr || each.hwnd == window) &&
               (anyMessage || (each.message >= filterMin && each.message <= filterMax));
    };
    const auto found = std::find_if(queue_.begin(), queue_.end(), wanted);
    if (found != queue_.end()) {
        message = *found;
        if (remove) queue_.erase(found);
        return true;
    }
    // The quit message comes only when nothing else is waiting.
    const win::MSG quit{nullptr, win::WM_QUIT, static_cast<win::WPARAM>(quitCode_), 0, 0, {0, 0}};
    if (quitPending_ && wanted(quit)) {
        message = quit;
        if (remove) quitPending_ = false;
        return true;
    }
    return false;
}

win::BOOL SimUi::PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                              win::UINT filterMax, win::UINT removeFlags) {
    if (message == nullptr) return win::FALSE;
    countPass();
    const bool remove = (removeFlags & win::PM_REMOVE) != 0;
    return takeMessage(*message, window, filterMin, filterMax, remove) ? win::TRUE : win::FALSE;
}

win::BOOL SimUi::GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                             win::UINT filterMax) {
    if (message == nullptr) return win::FALSE;
    countPass();
    if (!takeMessage(*message, window, filterMin, filterMax, true)) {
        // Nothing else runs on this machine to post a message, so waiting
        // would never end: hand back an empty one instead.
        *message = win::MSG{nullptr, kWmNull, 0, 0, 0, {0, 0}};
        return win::TRUE;
    }
    return message->message == win::WM_QUIT ? win::FALSE : win::TRUE;
}

win::BOOL SimUi::TranslateMessage(const win::MSG* message) {
    return message != nullptr && message->message == win::WM_KEYDOWN ? win::TRUE : win::FALSE;
}

win::LRESULT SimUi::DispatchMessageA(const win::MSG* message) {
    if (message == nullptr) return 0;
    const WindowPtr window = find(message->hwnd);
    return window == nullptr ? 0 : send(window, message->message, message->wParam, message->lParam);
}

win::BOOL SimUi::IsDialogMessageA(win::HWND dialog, win::MSG* message) {
    const WindowPtr window = find(dialog);
    if (window == nullptr || message == nullptr || message->hwnd != dialog) return win::FALSE;
    if (message->message == win::WM_KEYDOWN && message->wParam == win::VK_RETURN) {
        send(window, win::WM_COMMAND, commandWParam(window->dialog->defaultButtonId(), kBnClicked),
             0);
    } else if (message->message == win::WM_KEYDOWN && message->wParam == win::VK_ESCAPE) {
        send(window, win::WM_COMMAND, commandWParam(kIdCancel, kBnClicked), 0);
    } else {
        send(window, message->message, message->wParam, message->lParam);
    }
    return win::TRUE;
}

void SimUi::route(const win::MSG& message) {
    const WindowPtr window = find(message.hwnd);
    if (window == nullptr) return;  // for a window that is gone, or for no window
    if (window->procedure != nullptr && window->procedure->preTranslateMessage(message)) return;
    win::MSG copy = message;
    IsDialogMessageA(window->handle, &copy);
}

void SimUi::PostQuitMessage(int exitCode) {
    postQuit(exitCode);
    observer().quitPosted(exitCode);
}

void SimUi::postQuit(int exitCode) {
    quitPending_ = true;
    quitCode_ = exitCode;
}

// --- suspend queries and the loop guard -------------------------------------------

bool SimUi::querySuspend() {
    // Asked from a copy: a window may close while it answers.
    std::vector<WindowPtr> open;
    for (const auto& [handle, window] : windows_) open.push_back(window);
    bool refused = false;
    for (const WindowPtr& window : open) {
        const win::LRESULT answer =
            send(window, win::WM_POWERBROADCAST, win::PBT_APMQUERYSUSPEND, 0);
        if (answer == win::BROADCAST_QUERY_DENY) refused = true;
    }
    observer().suspendQuery(refused);
    return refused;
}

bool SimUi::countPass() {
    if (stopped_) return false;
    if (++passes_ > limits_.maxPasses) {
        stop("the programs went round the message queue " + std::to_string(limits_.maxPasses) +
             " times without ending");
        return false;
    }
    return true;
}

bool SimUi::countAnswer() {
    if (stopped_) return false;
    if (answers_ >= limits_.maxAnswers) {
        stop("the scripted user answered " + std::to_string(limits_.maxAnswers) +
             " times and the programs still asked for more");
        return false;
    }
    ++answers_;
    return true;
}

void SimUi::stop(const std::string& reason) {
    stopped_ = true;
    guardReason_ = reason;
    postQuit(0);
    observer().loopGuardStopped(reason);
    if (guardHandler_) guardHandler_();
}

// --- inspection -------------------------------------------------------------------

DialogView SimUi::makeView(const Window& window) const {
    DialogView view;
    view.templateId = window.templateId();
    view.caption = window.dialog->caption;
    view.modal = window.modal;
    view.hasCloseBox = window.hasSystemMenu();
    for (const DialogControl& control : window.dialog->controls) {
        if (control.kind == ControlKind::Text) {
            view.texts.push_back(control.hasStyle("SS_NOPREFIX") ? control.text
                                                                 : withoutMnemonics(control.text));
        } else if (control.isButton()) {
            view.buttons.push_back({control.id, withoutMnemonics(control.text),
                                    control.kind == ControlKind::DefaultButton});
        }
    }
    if (!window.combos.empty()) {
        view.comboItems = window.combos.begin()->second.items;
        view.comboSelection = window.combos.begin()->second.selection;
    }
    return view;
}

std::vector<win::HWND> SimUi::openWindows() const {
    std::vector<win::HWND> open;
    for (const auto& [handle, window] : windows_) open.push_back(handle);
    return open;
}

std::optional<DialogView> SimUi::view(win::HWND handle) const {
    const WindowPtr window = find(handle);
    if (window == nullptr) return std::nullopt;
    return makeView(*window);
}

bool SimUi::isVisible(win::HWND handle) const {
    const WindowPtr window = find(handle);
    return window != nullptr && window->visible;
}

bool SimUi::isCentred(win::HWND handle) const {
    const WindowPtr window = find(handle);
    return window != nullptr && window->centred;
}

int SimUi::redrawCount(win::HWND handle) const {
    const WindowPtr window = find(handle);
    return window == nullptr ? 0 : window->redraws;
}

std::optional<ProgressBarState> SimUi::progressBar(win::HWND dialog, int controlId) const {
    const WindowPtr window = find(dialog);
    if (window == nullptr) return std::nullopt;
    const auto bar = window->bars.find(controlId);
    if (bar == window->bars.end()) return std::nullopt;
    return bar->second;
}

std::vector<MenuItem> SimUi::systemMenu(win::HWND handle) const {
    const WindowPtr window = find(handle);
    return window == nullptr ? std::vector<MenuItem>{} : window->menu;
}

win::HICON SimUi::windowIcon(win::HWND handle, win::WPARAM which) const {
    const WindowPtr window = find(handle);
    if (window == nullptr) return nullptr;
    return which == win::ICON_BIG ? window->bigIcon : window->smallIcon;
}

win::LRESULT SimUi::messageResult(win::HWND handle) const {
    const WindowPtr window = find(handle);
    return window == nullptr ? 0 : window->messageResult;
}

}  // namespace sim

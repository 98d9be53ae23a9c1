#include "sim/sim_ui.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

#include "sim/sim_ui_window.h"

namespace sim {

using namespace ui_detail;

SimUi::SimUi(UserScript& user) : user_(&user) {}
SimUi::~SimUi() = default;

// --- resources ---------------------------------------------------------------

win::HMODULE SimUi::addModule(std::shared_ptr<const ResourceScript> resources) {
    const auto module = makeHandle<win::HMODULE>(kModuleHandleBase, ++nextModule_, kModuleStride);
    modules_[module] = std::move(resources);
    return module;
}

void SimUi::removeModule(win::HMODULE module) {
    modules_.erase(module);
}

void SimUi::setProgramResources(std::shared_ptr<const ResourceScript> resources) {
    programResources_ = std::move(resources);
}

std::shared_ptr<const ResourceScript> SimUi::currentResourcesShared() const {
    if (resourceModule_ == nullptr) return programResources_;
    const auto found = modules_.find(resourceModule_);
    return found == modules_.end() ? nullptr : found->second;
}

const ResourceScript* SimUi::currentResources() const {
    return currentResourcesShared().get();
}

int SimUi::LoadStringA(win::UINT id, char* buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax <= 0) return 0;
    buffer[0] = '\0';
    const ResourceScript* resources = currentResources();
    const std::string* text =
        resources == nullptr ? nullptr : resources->string(static_cast<int>(id));
    if (text == nullptr) return 0;
    const std::size_t copied = std::min(text->size(), static_cast<std::size_t>(bufferMax - 1));
    std::memcpy(buffer, text->data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied);
}

win::HICON SimUi::LoadIconA(int id) {
    const ResourceScript* resources = currentResources();
    if (resources == nullptr || !resources->hasIcon(id)) return nullptr;
    const auto key = std::make_pair(resources, id);
    const auto found = icons_.find(key);
    if (found != icons_.end()) return found->second;
    const auto icon = makeHandle<win::HICON>(kIconHandleBase, icons_.size() + 1, kHandleStride);
    icons_[key] = icon;
    return icon;
}

// --- windows -----------------------------------------------------------------

SimUi::WindowPtr SimUi::find(win::HWND window) const {
    const auto found = windows_.find(window);
    return found == windows_.end() ? nullptr : found->second;
}

platform::DialogProcedure* SimUi::dialogProcedure(win::HWND window) {
    const WindowPtr found = find(window);
    return found == nullptr ? nullptr : found->procedure;
}

SimUi::WindowPtr SimUi::createWindow(int templateId, platform::DialogProcedure* procedure,
                                     bool modal) {
    auto resources = currentResourcesShared();
    const DialogTemplate* dialog = resources == nullptr ? nullptr : resources->dialog(templateId);
    if (dialog == nullptr) {
        observer().templateMissing(templateId, modal);
        return nullptr;
    }
    auto window = std::make_shared<Window>();
    window->number = ++nextWindow_;
    window->handle = makeHandle<win::HWND>(kWindowHandleBase, window->number, kHandleStride);
    window->resources = std::move(resources);
    window->dialog = dialog;
    window->procedure = procedure;
    window->modal = modal;
    for (const DialogControl& control : dialog->controls) {
        const ControlModel model = controlModelOf(control.className);
        if (model == ControlModel::ProgressBar) {
            window->bars[control.id] = ProgressBarState{};
        } else if (model == ControlModel::ComboBox) {
            window->combos[control.id] = ComboBoxState{{}, -1, control.hasStyle("CBS_SORT")};
        }
    }
    windows_[window->handle] = window;
    send(window, win::WM_INITDIALOG, 0, 0);
    return window;
}

void SimUi::removeWindow(const WindowPtr& window) {
    // No WM_DESTROY goes to the procedure: the programs' dialogs do nothing
    // of their own on it, and the object behind a window may already be gone.
    if (window->destroyed) return;
    window->destroyed = true;
    window->visible = false;
    windows_.erase(window->handle);
    std::erase_if(queue_, [&](const win::MSG& each) { return each.hwnd == window->handle; });
}

win::INT_PTR SimUi::DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) {
    if (stopped_) return -1;
    const WindowPtr window = createWindow(templateId, procedure, true);
    if (window == nullptr) return -1;
    if (!window->ended && !window->destroyed) {
        window->visible = true;
        observer().dialogShown(makeView(*window));
    }
    const win::INT_PTR result = runModalLoop(window);
    removeWindow(window);
    observer().dialogClosed(templateId, result);
    return result;
}

win::INT_PTR SimUi::runModalLoop(const WindowPtr& window) {
    constexpr win::INT_PTR kLoopEndedWithoutResult = -1;
    while (!window->ended && !window->destroyed) {
        win::MSG message{};
        if (takeMessage(message, nullptr, 0, 0, true)) {
            if (message.message == win::WM_QUIT) {
                postQuit(asInt(message.wParam));  // the program's own loop must see it too
                return kLoopEndedWithoutResult;
            }
            route(message);
            continue;
        }
        if (stopped_) return kLoopEndedWithoutResult;
        answerOnce(window);
    }
    return window->ended ? window->endResult : kLoopEndedWithoutResult;
}

void SimUi::answerOnce(const WindowPtr& window) {
    if (!countAnswer()) return;
    const UserAction action = user_->answer(makeView(*window));
    const std::string refusal = refusalOf(*window, action);
    if (!refusal.empty()) {
        observer().answerRefused(window->templateId(), action, refusal);
        return;
    }
    observer().dialogAnswered(window->templateId(), action);
    deliver(window, action);
}

bool SimUi::act(win::HWND handle, const UserAction& action) {
    const WindowPtr window = find(handle);
    if (window == nullptr) return false;
    const std::string refusal = refusalOf(*window, action);
    if (!refusal.empty()) {
        observer().answerRefused(window->templateId(), action, refusal);
        return false;
    }
    observer().dialogAnswered(window->templateId(), action);
    deliver(window, action);
    return true;
}

std::string SimUi::refusalOf(const Window& window, const UserAction& action) const {
    const std::string dialog = "dialog " + std::to_string(window.templateId());
    switch (action.kind) {
        case UserActionKind::PressButton: {
            const DialogControl* control = window.dialog->control(action.buttonId);
            if (control == nullptr || !control->isButton())
                return dialog + " has no button " + std::to_string(action.buttonId);
            return {};
        }
        case UserActionKind::CloseBox:
            return window.hasSystemMenu() ? std::string{} : dialog + " has no close box";
        case UserActionKind::MenuCommand: {
            const bool present =
                std::any_of(window.menu.begin(), window.menu.end(), [&](const MenuItem& item) {
                    return (item.flags & win::MF_SEPARATOR) == 0 &&
                           item.id == static_cast<win::UINT_PTR>(action.menuId);
                });
            return present ? std::string{}
                           : "the system menu of " + dialog + " has no entry " +
                                 std::to_string(action.menuId);
        }
        case UserActionKind::SelectItem: {
            if (window.combos.empty()) return dialog + " has no list to choose from";
            const ComboBoxState& combo = window.combos.begin()->second;
            if (action.itemIndex >= static_cast<int>(combo.items.size()))
                return dialog + "'s list has no item " + std::to_string(action.itemIndex + 1);
            return {};
        }
        default:
            return {};
    }
}

void SimUi::deliver(const WindowPtr& window, const UserAction& action) {
    switch (action.kind) {
        case UserActionKind::PressButton:
            send(window, win::WM_COMMAND, commandWParam(action.buttonId, kBnClicked), 0);
            break;
        case UserActionKind::PressEnter:
            postMessage(window->handle, win::WM_KEYDOWN, win::VK_RETURN, 0);
            break;
        case UserActionKind::PressEscape:
            postMessage(window->handle, win::WM_KEYDOWN, win::VK_ESCAPE, 0);
            break;
        case UserActionKind::CloseBox:
            send(window, win::WM_SYSCOMMAND, win::SC_CLOSE, 0);
            break;
        case UserActionKind::MenuCommand:
            send(window, win::WM_SYSCOMMAND, static_cast<win::WPARAM>(action.menuId), 0);
            break;
        case UserActionKind::SelectItem: {
            auto& [controlId, combo] = *window->combos.begin();
            combo.selection = action.itemIndex;
            observer().comboChanged(window->templateId(), controlId, combo);
            send(window, win::WM_COMMAND, commandWParam(controlId, kCbnSelChange), 0);
            break;
        }
        case UserActionKind::QuerySuspend:
            querySuspend();
            break;
        case UserActionKind::Minimise:
        case UserActionKind::Restore:
            window->iconic = action.kind == UserActionKind::Minimise;
            send(window, win::WM_PAINT, 0, 0);
            break;
    }
}

win::LRESULT SimUi::send(const WindowPtr& window, win::UINT message, win::WPARAM wParam,
                         win::LPARAM lParam) {
    if (window->destroyed) return 0;
    if (window->procedure != nullptr) {
        win::LRESULT result = 0;
        if (window->procedure->windowProc(window->handle, message, wParam, lParam, result)) {
            window->messageResult = result;
            return result;
        }
    }
    return defaultProcessing(window, message, wParam, lParam);
}

win::LRESULT SimUi::defaultProcessing(const WindowPtr& window, win::UINT message,
                                      win::WPARAM wParam, win::LPARAM lParam) {
    switch (message) {
        case win::WM_SYSCOMMAND:
            if ((wParam & kSysCommandMask) == win::SC_CLOSE) send(window, win::WM_CLOSE, 0, 0);
            return 0;
        case win::WM_CLOSE:
            // The dialog manager turns closing into the Cancel command.
            send(window, win::WM_COMMAND, commandWParam(kIdCancel, kBnClicked), 0);
            return 0;
        case win::WM_COMMAND: {
            // A dialog run without a procedure of its own ends with the
            // button pressed, so a plain template can be shown.
            const int id = static_cast<int>(wParam & kLowWord);
            if (window->procedure == nullptr && (wParam >> kWordBits) == kBnClicked &&
                (id == kIdCancel || (window->dialog->control(id) != nullptr &&
                                     window->dialog->control(id)->isButton())))
                EndDialog(window->handle, id);
            return 0;
        }
        case win::WM_SETICON: {
            win::HICON& slot = wParam == win::ICON_BIG ? window->bigIcon : window->smallIcon;
            const win::HICON previous = slot;
            slot = reinterpret_cast<win::HICON>(lParam);
            return reinterpret_cast<win::LRESULT>(previous);
        }
        case win::WM_INITDIALOG:
            return win::TRUE;
        case win::WM_POWERBROADCAST:
            return kPowerQueryGranted;
        default:
            return 0;
    }
}

win::HWND SimUi::CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) {
    const WindowPtr window = createWindow(templateId, procedure, false);
    if (window == nullptr) return nullptr;
    if (window->destroyed) return nullptr;
    window->visible = window->dialog->hasStyle("WS_VISIBLE");
    observer().modelessCreated(makeView(*window));
    return window->handle;
}

win::BOOL SimUi::EndDialog(win::HWND dialog, win::INT_PTR result) {
    const WindowPtr window = find(dialog);
    if (window == nullptr) return win::FALSE;
    // A second EndDialog replaces the result of the first.
    window->ended = true;
    window->endResult = result;
    window->visible = false;
    return win::TRUE;
}

win::BOOL SimUi::DestroyWindow(win::HWND handle) {
    const WindowPtr window = find(handle);
    if (window == nullptr) return win::FALSE;
    removeWindow(window);
    if (!window->modal) observer().modelessDestroyed(window->templateId());
    return win::TRUE;
}

win::BOOL SimUi::ShowWindow(win::HWND handle, int command) {
    const WindowPtr window = find(handle);
    if (window == nullptr) return win::FALSE;
    const bool wasVisible = window->visible;
    window->visible = command != win::SW_HIDE;
    return wasVisible ? win::TRUE : win::FALSE;
}

win::BOOL SimUi::RedrawWindow(win::HWND handle, win::UINT /*flags*/) {
    const WindowPtr window = find(handle);
    if (window == nullptr) return win::FALSE;
    ++window->redraws;
    return win::TRUE;
}

win::BOOL SimUi::CenterWindow(win::HWND handle) {
    const WindowPtr window = find(handle);
    if (window == nullptr) return win::FALSE;
    window->centred = true;
    return win::TRUE;
}

win::BOOL SimUi::IsIconic(win::HWND handle) {
    const WindowPtr window = find(handle);
    return window != nullptr && window->iconic ? win::TRUE : win::FALSE;
}

void SimUi::setIconic(win::HWND handle, bool iconic) {
    if (const WindowPtr window = find(handle)) window->iconic = iconic;
}

win::HWND SimUi::GetAncestor(win::HWND handle, win::UINT /*flags*/) {
    // Controls have no windows of their own here: every window is a top-level dialog.
    return find(handle) != nullptr ? handle : nullptr;
}

win::LRESULT SimUi::SendMessageA(win::HWND handle, win::UINT message, win::WPARAM wParam,
                                 win::LPARAM lParam) {
    const WindowPtr window = find(handle);
    return window == nullptr ? 0 : send(window, message, wParam, lParam);
}

win::LRESULT SimUi::DefWindowProcA(win::HWND handle, win::UINT message, win::WPARAM wParam,
                                   win::LPARAM lParam) {
    const WindowPtr window = find(handle);
    return window == nullptr ? 0 : defaultProcessing(window, message, wParam, lParam);
}

// --- controls ----------------------------------------------------------------

win::LRESULT SimUi::SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                        win::WPARAM wParam, win::LPARAM lParam) {
    const WindowPtr window = find(dialog);
    if (window == nullptr) return 0;
    if (auto bar = window->bars.find(controlId); bar != window->bars.end()) {
        const ControlAnswer answer = progressBarMessage(bar->second, message, wParam, lParam);
        if (answer.changed)
            observer().progressChanged(window->templateId(), controlId, bar->second);
        return answer.result;
    }
    if (auto combo = window->combos.find(controlId); combo != window->combos.end()) {
        const ControlAnswer answer = comboBoxMessage(combo->second, message, wParam, lParam);
        if (answer.changed) observer().comboChanged(window->templateId(), controlId, combo->second);
        return answer.result;
    }
    return 0;
}

}  // namespace sim

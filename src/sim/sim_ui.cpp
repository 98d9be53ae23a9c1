#include "sim/sim_ui.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string_view>

namespace sim {

namespace {

// Messages and notifications only the backend needs.
constexpr win::UINT kWmNull = 0x0000;
constexpr win::WPARAM kBnClicked = 0;
constexpr win::WPARAM kCbnSelChange = 1;
constexpr win::WPARAM kSysCommandMask = 0xFFF0;
constexpr win::LRESULT kPowerQueryGranted = win::TRUE;

// Handle values as the platform hands them out: distinct, never null, never
// reused within a run.
constexpr std::uintptr_t kWindowHandleBase = 0x00010000;
constexpr std::uintptr_t kMenuHandleBase = 0x00200000;
constexpr std::uintptr_t kIconHandleBase = 0x00300000;
constexpr std::uintptr_t kDcHandleBase = 0x00400000;
constexpr std::uintptr_t kModuleHandleBase = 0x10000000;
constexpr std::uintptr_t kHandleStride = 0x10;
constexpr std::uintptr_t kModuleStride = 0x00010000;

constexpr int kIconSize = 32;
constexpr unsigned kWordBits = 16;
constexpr std::uint32_t kLowWord = 0xFFFF;

template <typename Handle>
Handle makeHandle(std::uintptr_t base, std::uintptr_t number, std::uintptr_t stride) {
    return reinterpret_cast<Handle>(base + number * stride);
}

win::WPARAM commandWParam(int id, win::WPARAM notification) {
    return (notification << kWordBits) | (static_cast<win::WPARAM>(id) & kLowWord);
}

int asInt(win::WPARAM value) {
    return static_cast<int>(static_cast<std::intptr_t>(value));
}

}  // namespace

struct SimUi::Window {
    win::HWND handle = nullptr;
    std::uintptr_t number = 0;
    std::shared_ptr<const ResourceScript> resources;  // keeps the template alive
    const DialogTemplate* dialog = nullptr;
    platform::DialogProcedure* procedure = nullptr;
    bool modal = false;
    bool visible = false;
    bool ended = false;
    bool destroyed = false;
    bool iconic = false;
    bool centred = false;
    int redraws = 0;
    win::INT_PTR endResult = 0;
    win::LRESULT messageResult = 0;
    win::HICON bigIcon = nullptr;
    win::HICON smallIcon = nullptr;
    std::vector<MenuItem> menu;
    std::map<int, ProgressBarState> bars;
    std::map<int, ComboBoxState> combos;

    int templateId() const { return dialog->id; }
    bool hasSystemMenu() const { return dialog->hasStyle("WS_SYSMENU"); }
    win::HMENU menuHandle() const {
        return makeHandle<win::HMENU>(kMenuHandleBase, number, kHandleStride);
    }
};

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

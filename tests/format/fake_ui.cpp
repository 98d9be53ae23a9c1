#include "fake_ui.h"

#include <algorithm>
#include <cstring>

namespace testsupport {

namespace {
constexpr std::uintptr_t kIconTagShift = 16;
constexpr std::uintptr_t kMenuTag = 0x5000000;
constexpr std::uintptr_t kDcTag = 0x6000000;

win::MSG quitMessage() {
    win::MSG message{};
    message.message = win::WM_QUIT;
    return message;
}

template <typename Handle>
Handle handleFrom(std::uintptr_t value) {
    return reinterpret_cast<Handle>(value);
}
}  // namespace

FakeUi::FakeUi() {
    // The program's own resources: the About box, its menu text and the icon.
    programResources() = FakeResources{{100}, {{101, "&About Velcrest..."}}, {156}};
}

win::HMODULE FakeUi::addModule(FakeResources resources) {
    const auto module = handleFrom<win::HMODULE>(nextModule_);
    nextModule_ += 0x1000;
    modules_[module] = std::move(resources);
    return module;
}

void FakeUi::whileOpen(int templateId, std::function<void(win::HWND)> action) {
    whileOpen_[templateId] = std::move(action);
}

std::vector<UiCall> FakeUi::callsNamed(const std::string& name) const {
    std::vector<UiCall> found;
    std::copy_if(calls_.begin(), calls_.end(), std::back_inserter(found),
                 [&](const UiCall& call) { return call.name == name; });
    return found;
}

std::vector<int> FakeUi::modalTemplates() const {
    std::vector<int> ids;
    for (const ModalRun& run : modalRuns_) ids.push_back(run.templateId);
    return ids;
}

int FakeUi::modalCount(int templateId) const {
    return static_cast<int>(
        std::count_if(modalRuns_.begin(), modalRuns_.end(),
                      [&](const ModalRun& run) { return run.templateId == templateId; }));
}

bool FakeUi::deliver(win::HWND window, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                     win::LRESULT& result) {
    const auto found = procedures_.find(window);
    if (found == procedures_.end()) return false;
    result = 0;
    if (found->second->windowProc(window, message, wParam, lParam, result)) return true;
    result = DefWindowProcA(window, message, wParam, lParam);
    return false;
}

win::HICON FakeUi::iconHandle(win::HMODULE module, int id) {
    return handleFrom<win::HICON>((reinterpret_cast<std::uintptr_t>(module) << kIconTagShift) +
                                  static_cast<std::uintptr_t>(id));
}

win::HMENU FakeUi::systemMenuOf(win::HWND window) {
    return handleFrom<win::HMENU>(kMenuTag + reinterpret_cast<std::uintptr_t>(window));
}

win::HDC FakeUi::paintDcOf(win::HWND window) {
    return handleFrom<win::HDC>(kDcTag + reinterpret_cast<std::uintptr_t>(window));
}

const FakeResources& FakeUi::current() const {
    const auto found = modules_.find(resourceModule_);
    return found == modules_.end() ? modules_.at(nullptr) : found->second;
}

win::HWND FakeUi::createWindow(int templateId, platform::DialogProcedure* procedure) {
    const auto window = handleFrom<win::HWND>(nextWindow_);
    nextWindow_ += 0x10;
    procedures_[window] = procedure;
    templates_[window] = templateId;
    return window;
}

void FakeUi::closeWindow(win::HWND window) {
    procedures_.erase(window);
    templates_.erase(window);
    ended_.erase(window);
}

win::INT_PTR FakeUi::nextAnswer(int templateId) {
    auto& scripted = answers_[templateId];
    if (!scripted.empty()) {
        const win::INT_PTR button = scripted.front();
        scripted.pop_front();
        return button;
    }
    const auto fallback = defaults_.find(templateId);
    return fallback == defaults_.end() ? defaultAnswer_ : fallback->second;
}

void FakeUi::setResourceModule(win::HMODULE module) {
    resourceModule_ = module;
    record("setResourceModule");
}

platform::DialogProcedure* FakeUi::dialogProcedure(win::HWND window) {
    const auto found = procedures_.find(window);
    return found == procedures_.end() ? nullptr : found->second;
}

win::INT_PTR FakeUi::DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) {
    if (current().templates.count(templateId) == 0) {
        modalRuns_.push_back({templateId, -1});
        return -1;
    }
    const win::HWND window = createWindow(templateId, procedure);
    win::LRESULT ignored = 0;
    deliver(window, win::WM_INITDIALOG, 0, 0, ignored);
    win::INT_PTR result = -1;
    for (int round = 0;; ++round) {
        if (const auto ended = ended_.find(window); ended != ended_.end()) {
            result = ended->second;
            break;
        }
        // The modal loop takes the quit message, posts it again and ends.
        if (quitPending_) break;
        if (round == kLoopGuard) {
            loopGuardTripped_ = true;
            break;
        }
        if (const auto action = whileOpen_.find(templateId); action != whileOpen_.end()) {
            action->second(window);
            if (ended_.count(window) != 0 || quitPending_) continue;
        }
        const win::INT_PTR button = nextAnswer(templateId);
        deliver(window, win::WM_COMMAND, static_cast<win::WPARAM>(button), 0, ignored);
    }
    closeWindow(window);
    modalRuns_.push_back({templateId, result});
    return result;
}

win::HWND FakeUi::CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) {
    if (current().templates.count(templateId) == 0) {
        record("CreateDialogParamA", nullptr, templateId);
        return nullptr;
    }
    const win::HWND window = createWindow(templateId, procedure);
    record("CreateDialogParamA", window, templateId);
    win::LRESULT ignored = 0;
    deliver(window, win::WM_INITDIALOG, 0, 0, ignored);
    return window;
}

win::BOOL FakeUi::EndDialog(win::HWND dialog, win::INT_PTR result) {
    record("EndDialog", dialog, static_cast<int>(result));
    if (procedures_.count(dialog) == 0) return win::FALSE;
    ended_[dialog] = result;
    return win::TRUE;
}

win::BOOL FakeUi::DestroyWindow(win::HWND window) {
    record("DestroyWindow", window);
    if (procedures_.count(window) == 0) return win::FALSE;
    closeWindow(window);
    return win::TRUE;
}

win::BOOL FakeUi::ShowWindow(win::HWND window, int command) {
    record("ShowWindow", window, command);
    return win::TRUE;
}

win::BOOL FakeUi::RedrawWindow(win::HWND window, win::UINT flags) {
    record("RedrawWindow", window, static_cast<int>(flags));
    return win::TRUE;
}

win::BOOL FakeUi::CenterWindow(win::HWND window) {
    record("CenterWindow", window);
    return win::TRUE;
}

win::BOOL FakeUi::IsIconic(win::HWND /*window*/) {
    return iconic_ ? win::TRUE : win::FALSE;
}

win::HWND FakeUi::GetAncestor(win::HWND window, win::UINT /*flags*/) {
    return window;
}

win::LRESULT FakeUi::SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                  win::LPARAM lParam) {
    record("SendMessageA", window, 0, message, wParam, lParam);
    return 0;
}

win::LRESULT FakeUi::SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                         win::WPARAM wParam, win::LPARAM lParam) {
    record("SendDlgItemMessageA", dialog, controlId, message, wParam, lParam);
    return 0;
}

win::HMENU FakeUi::GetSystemMenu(win::HWND window, win::BOOL /*revert*/) {
    return systemMenuOf(window);
}

win::BOOL FakeUi::AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id,
                              const char* text) {
    UiCall call("AppendMenuA", nullptr, static_cast<int>(id), flags);
    call.lParam = reinterpret_cast<win::LPARAM>(menu);
    if (text != nullptr) call.text = text;
    record(std::move(call));
    return win::TRUE;
}

int FakeUi::LoadStringA(win::UINT id, char* buffer, int bufferMax) {
    if (bufferMax <= 0) return 0;
    const auto& strings = current().strings;
    const auto found = strings.find(id);
    if (found == strings.end()) {
        buffer[0] = '\0';
        return 0;
    }
    const std::size_t length =
        std::min(found->second.size(), static_cast<std::size_t>(bufferMax - 1));
    std::memcpy(buffer, found->second.data(), length);
    buffer[length] = '\0';
    return static_cast<int>(length);
}

win::HICON FakeUi::LoadIconA(int id) {
    if (current().icons.count(id) == 0) return nullptr;
    return iconHandle(resourceModule_, id);
}

win::HDC FakeUi::BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) {
    record("BeginPaint", window);
    paint->hdc = paintDcOf(window);
    return paint->hdc;
}

win::BOOL FakeUi::EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) {
    UiCall call("EndPaint", window);
    call.wParam = reinterpret_cast<win::WPARAM>(paint->hdc);
    record(std::move(call));
    return win::TRUE;
}

win::BOOL FakeUi::GetClientRect(win::HWND /*window*/, win::RECT* rect) {
    *rect = clientRect_;
    return win::TRUE;
}

int FakeUi::GetSystemMetrics(int index) {
    if (index == win::SM_CXICON) return kIconWidth;
    if (index == win::SM_CYICON) return kIconHeight;
    return 0;
}

win::BOOL FakeUi::DrawIcon(win::HDC dc, int x, int y, win::HICON icon) {
    UiCall call("DrawIcon", nullptr, 0, 0, static_cast<win::WPARAM>(x), y);
    call.text = std::to_string(reinterpret_cast<std::uintptr_t>(dc)) + "/" +
                std::to_string(reinterpret_cast<std::uintptr_t>(icon));
    record(std::move(call));
    return win::TRUE;
}

win::LRESULT FakeUi::DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                    win::LPARAM lParam) {
    record("DefWindowProcA", window, 0, message, wParam, lParam);
    return 0;
}

win::BOOL FakeUi::PeekMessageA(win::MSG* message, win::HWND /*window*/, win::UINT /*filterMin*/,
                               win::UINT /*filterMax*/, win::UINT removeFlags) {
    if (queue_.empty() && !quitPending_) return win::FALSE;
    if (queue_.empty()) {
        *message = quitMessage();
        if ((removeFlags & win::PM_REMOVE) != 0) quitPending_ = false;
        return win::TRUE;
    }
    *message = queue_.front();
    if ((removeFlags & win::PM_REMOVE) != 0) queue_.pop_front();
    return win::TRUE;
}

win::BOOL FakeUi::GetMessageA(win::MSG* message, win::HWND /*window*/, win::UINT /*filterMin*/,
                              win::UINT /*filterMax*/) {
    if (!queue_.empty()) {
        *message = queue_.front();
        queue_.pop_front();
        return win::TRUE;
    }
    *message = quitMessage();
    quitPending_ = false;
    return win::FALSE;
}

win::BOOL FakeUi::TranslateMessage(const win::MSG* message) {
    record("TranslateMessage", message->hwnd, 0, message->message, message->wParam);
    return win::FALSE;
}

win::LRESULT FakeUi::DispatchMessageA(const win::MSG* message) {
    record("DispatchMessageA", message->hwnd, 0, message->message, message->wParam);
    win::LRESULT result = 0;
    deliver(message->hwnd, message->message, message->wParam, message->lParam, result);
    return result;
}

// The dialog manager's part that matters here: Escape asks the dialog to
// cancel, Enter to do its OK command.
win::BOOL FakeUi::IsDialogMessageA(win::HWND dialog, win::MSG* message) {
    if (procedures_.count(dialog) == 0) return win::FALSE;
    win::LRESULT ignored = 0;
    if (message->message == win::WM_KEYDOWN && message->wParam == win::VK_ESCAPE) {
        deliver(dialog, win::WM_COMMAND, static_cast<win::WPARAM>(win::IDCANCEL), 0, ignored);
        return win::TRUE;
    }
    if (message->message == win::WM_KEYDOWN && message->wParam == win::VK_RETURN) {
        deliver(dialog, win::WM_COMMAND, static_cast<win::WPARAM>(win::IDOK), 0, ignored);
        return win::TRUE;
    }
    deliver(dialog, message->message, message->wParam, message->lParam, ignored);
    return win::TRUE;
}

void FakeUi::PostQuitMessage(int /*exitCode*/) {
    quitPending_ = true;
    ++quitCount_;
    record("PostQuitMessage");
}

}  // namespace testsupport

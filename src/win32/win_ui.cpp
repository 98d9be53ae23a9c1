#include "win32/win_ui.h"

// clang-format off
#include "win32/windows_api.h"
#include <commctrl.h>
// clang-format on

#include <algorithm>
#include <cstring>

namespace win32 {

namespace {

// A modal loop that ends without EndDialog (a quit message, or its window
// destroyed under it) reports this, as the platform's does.
constexpr INT_PTR kModalLoopBroken = -1;
constexpr WORD kDialogResourceType = 5;  // RT_DIALOG
constexpr UINT kAllMessages = 0;

// MAKEINTRESOURCEA, without the macro's casts.
LPCSTR resourceName(int id) {
    return reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(id)));
}

::MSG nativeMessage(const win::MSG& message) {
    return ::MSG{toNative(message.hwnd), message.message, message.wParam,
                 message.lParam,         message.time,    {message.pt.x, message.pt.y}};
}
win::MSG portableMessage(const ::MSG& message) {
    return win::MSG{toPortable(message.hwnd), message.message, message.wParam,
                    message.lParam,           message.time,    {message.pt.x, message.pt.y}};
}
::RECT nativeRect(const win::RECT& rect) {
    return ::RECT{rect.left, rect.top, rect.right, rect.bottom};
}
win::RECT portableRect(const ::RECT& rect) {
    return win::RECT{rect.left, rect.top, rect.right, rect.bottom};
}
::PAINTSTRUCT nativePaint(const win::PAINTSTRUCT& paint) {
    ::PAINTSTRUCT converted{};
    converted.hdc = toNative(paint.hdc);
    converted.fErase = paint.fErase;
    converted.rcPaint = nativeRect(paint.rcPaint);
    converted.fRestore = paint.fRestore;
    converted.fIncUpdate = paint.fIncUpdate;
    static_assert(sizeof(converted.rgbReserved) == sizeof(paint.rgbReserved));
    std::memcpy(converted.rgbReserved, paint.rgbReserved, sizeof(converted.rgbReserved));
    return converted;
}
win::PAINTSTRUCT portablePaint(const ::PAINTSTRUCT& paint) {
    win::PAINTSTRUCT converted{};
    converted.hdc = toPortable(paint.hdc);
    converted.fErase = paint.fErase;
    converted.rcPaint = portableRect(paint.rcPaint);
    converted.fRestore = paint.fRestore;
    converted.fIncUpdate = paint.fIncUpdate;
    std::memcpy(converted.rgbReserved, paint.rgbReserved, sizeof(converted.rgbReserved));
    return converted;
}

// The messages whose result a dialog procedure returns itself instead of
// leaving it in DWLP_MSGRESULT.
bool answeredDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_QUERYDRAGICON:
        case WM_CHARTOITEM:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
            return true;
        default:
            return false;
    }
}

WinUi::Binding* bindingInWindow(HWND window) {
    return reinterpret_cast<WinUi::Binding*>(::GetWindowLongPtrA(window, DWLP_USER));
}

// A dialog shown without a procedure of its own ends with the button that
// was pressed, so a bare template can still be shown.
INT_PTR plainDialogMessage(WinUi::Binding& binding, UINT message, WPARAM wParam) {
    if (message == WM_INITDIALOG) return TRUE;
    if (message != WM_COMMAND || HIWORD(wParam) != BN_CLICKED) return FALSE;
    binding.ui->EndDialog(binding.window, LOWORD(wParam));
    return TRUE;
}

// The one dialog procedure of every dialog we create: it hands each message
// to the procedure the window was created for and puts the answer where the
// dialog manager looks for it.
INT_PTR CALLBACK routeDialogMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* binding = reinterpret_cast<WinUi::Binding*>(lParam);
        binding->window = toPortable(window);
        ::SetWindowLongPtrA(window, DWLP_USER, lParam);
    }
    WinUi::Binding* binding = bindingInWindow(window);
    if (binding == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        // Gone without our DestroyWindow: nothing may reach the procedure now.
        ::SetWindowLongPtrA(window, DWLP_USER, 0);
        binding->window = nullptr;
        return FALSE;
    }
    if (binding->procedure == nullptr) return plainDialogMessage(*binding, message, wParam);
    win::LRESULT result = 0;
    if (!binding->procedure->windowProc(toPortable(window), message, wParam, lParam, result))
        return FALSE;
    if (answeredDirectly(message)) return static_cast<INT_PTR>(result);
    ::SetWindowLongPtrA(window, DWLP_MSGRESULT, static_cast<LONG_PTR>(result));
    return TRUE;
}

}  // namespace

WinUi::WinUi() {
    INITCOMMONCONTROLSEX classes{};
    classes.dwSize = sizeof(classes);
    classes.dwICC = ICC_PROGRESS_CLASS;
    ::InitCommonControlsEx(&classes);
}

WinUi::~WinUi() {
    // A window that outlives the backend must not reach a binding that is gone.
    for (Binding& binding : bindings_) {
        if (binding.window != nullptr && ::IsWindow(toNative(binding.window)) != FALSE)
            ::SetWindowLongPtrA(toNative(binding.window), DWLP_USER, 0);
    }
}

// --- dialogs ---------------------------------------------------------------------

WinUi::Binding& WinUi::bind(platform::DialogProcedure* procedure) {
    bindings_.push_back(Binding{this, procedure, nullptr, false, false, 0});
    return bindings_.back();
}

void WinUi::unbind(const Binding& binding) {
    bindings_.remove_if([&](const Binding& each) { return &each == &binding; });
}

// Looked up among our own bindings rather than read from the window's data,
// so a window this backend did not create never yields a procedure.
platform::DialogProcedure* WinUi::dialogProcedure(win::HWND window) {
    const Binding* binding = bindingOf(window);
    return binding == nullptr ? nullptr : binding->procedure;
}

WinUi::Binding* WinUi::bindingOf(win::HWND window) const {
    if (window == nullptr) return nullptr;
    const auto found = std::find_if(bindings_.begin(), bindings_.end(),
                                    [&](const Binding& each) { return each.window == window; });
    return found == bindings_.end() ? nullptr : const_cast<Binding*>(&*found);
}

win::HMODULE WinUi::resourceInstance() const {
    if (resourceModule_ != nullptr) return resourceModule_;
    return toPortable(::GetModuleHandleA(nullptr));
}

bool WinUi::hasTemplate(int templateId) const {
    return ::FindResourceA(toNative(resourceInstance()), resourceName(templateId),
                           resourceName(kDialogResourceType)) != nullptr;
}

win::HWND WinUi::createDialog(int templateId, Binding& binding) {
    // The dialog's instance is also where its ICON controls find their icons.
    const HWND window =
        ::CreateDialogParamA(toNative(resourceInstance()), resourceName(templateId), nullptr,
                             routeDialogMessage, reinterpret_cast<LPARAM>(&binding));
    return toPortable(window);
}

void WinUi::destroyDialog(Binding& binding) {
    // The procedure hears nothing of the destruction: its object may be on
    // its way out already, and the programs' dialogs do nothing on it.
    const HWND window = toNative(binding.window);
    binding.window = nullptr;
    if (window == nullptr || ::IsWindow(window) == FALSE) return;
    ::SetWindowLongPtrA(window, DWLP_USER, 0);
    ::DestroyWindow(window);
}

win::INT_PTR WinUi::DialogBoxParamA(int templateId, platform::DialogProcedure* procedure) {
    if (!hasTemplate(templateId)) return kModalLoopBroken;
    Binding& binding = bind(procedure);
    binding.modal = true;
    const win::HWND window = createDialog(templateId, binding);
    if (window == nullptr) {
        unbind(binding);
        return kModalLoopBroken;
    }
    const win::INT_PTR result = runModalLoop(binding);
    destroyDialog(binding);
    unbind(binding);
    return result;
}

// The loop of the dialog framework: every message first goes to the dialog
// it is meant for (its window or one of its controls), which may swallow it;
// then the dialog manager gets its turn (Enter presses the default button,
// Escape is Cancel); everything else is dispatched as usual.
win::INT_PTR WinUi::runModalLoop(Binding& binding) {
    const HWND dialog = toNative(binding.window);
    if (!binding.ended && dialog != nullptr) {
        ::ShowWindow(dialog, SW_SHOWNORMAL);
        ::UpdateWindow(dialog);
    }
    while (!binding.ended) {
        if (binding.window == nullptr || ::IsWindow(dialog) == FALSE) return kModalLoopBroken;
        ::MSG message{};
        const BOOL got = ::GetMessageA(&message, nullptr, kAllMessages, kAllMessages);
        if (got == 0) {
            // The quit message ends this loop and must still end the
            // program's: post it again for the loops outside.
            ::PostQuitMessage(static_cast<int>(message.wParam));
            return kModalLoopBroken;
        }
        if (got == -1) return kModalLoopBroken;
        const HWND root = message.hwnd == nullptr ? nullptr : ::GetAncestor(message.hwnd, GA_ROOT);
        Binding* target = bindingOf(toPortable(root));
        if (target != nullptr) {
            if (target->procedure != nullptr &&
                target->procedure->preTranslateMessage(portableMessage(message)))
                continue;
            if (::IsDialogMessageA(root, &message) != FALSE) continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
    return binding.result;
}

win::HWND WinUi::CreateDialogParamA(int templateId, platform::DialogProcedure* procedure) {
    if (!hasTemplate(templateId)) return nullptr;
    Binding& binding = bind(procedure);
    const win::HWND window = createDialog(templateId, binding);
    if (window == nullptr) unbind(binding);
    return window;
}

win::BOOL WinUi::EndDialog(win::HWND dialog, win::INT_PTR result) {
    Binding* binding = bindingOf(dialog);
    if (binding == nullptr) return ::EndDialog(toNative(dialog), result);
    // A second EndDialog replaces the result of the first.
    binding->ended = true;
    binding->result = result;
    // Hides the window; the modal loop ends once the handler that ended it returns.
    ::EndDialog(toNative(dialog), result);
    ::PostMessageA(toNative(dialog), WM_NULL, 0, 0);
    return TRUE;
}

win::BOOL WinUi::DestroyWindow(win::HWND window) {
    Binding* binding = bindingOf(window);
    if (binding == nullptr) return ::DestroyWindow(toNative(window));
    destroyDialog(*binding);
    // A modal dialog's loop still refers to its binding; it lets go of it.
    if (!binding->modal) unbind(*binding);
    return TRUE;
}

// --- windows -----------------------------------------------------------------------

win::BOOL WinUi::ShowWindow(win::HWND window, int command) {
    return ::ShowWindow(toNative(window), command);
}

win::BOOL WinUi::RedrawWindow(win::HWND window, win::UINT flags) {
    return ::RedrawWindow(toNative(window), nullptr, nullptr, flags);
}

win::BOOL WinUi::CenterWindow(win::HWND window) {
    ::RECT desktop{};
    ::RECT placed{};
    if (::GetWindowRect(::GetDesktopWindow(), &desktop) == FALSE) return FALSE;
    if (::GetWindowRect(toNative(window), &placed) == FALSE) return FALSE;
    const LONG width = placed.right - placed.left;
    const LONG height = placed.bottom - placed.top;
    const LONG x = desktop.left + (desktop.right - desktop.left - width) / 2;
    const LONG y = desktop.top + (desktop.bottom - desktop.top - height) / 2;
    return ::SetWindowPos(toNative(window), nullptr, x, y, 0, 0,
                          SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

win::BOOL WinUi::IsIconic(win::HWND window) {
    return ::IsIconic(toNative(window));
}

win::HWND WinUi::GetAncestor(win::HWND window, win::UINT flags) {
    return toPortable(::GetAncestor(toNative(window), flags));
}

win::LRESULT WinUi::SendMessageA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                 win::LPARAM lParam) {
    return ::SendMessageA(toNative(window), message, wParam, lParam);
}

win::LRESULT WinUi::SendDlgItemMessageA(win::HWND dialog, int controlId, win::UINT message,
                                        win::WPARAM wParam, win::LPARAM lParam) {
    return ::SendDlgItemMessageA(toNative(dialog), controlId, message, wParam, lParam);
}

win::HMENU WinUi::GetSystemMenu(win::HWND window, win::BOOL revert) {
    return toPortable(::GetSystemMenu(toNative(window), revert));
}

win::BOOL WinUi::AppendMenuA(win::HMENU menu, win::UINT flags, win::UINT_PTR id, const char* text) {
    return ::AppendMenuA(toNative(menu), flags, id, text);
}

// --- resources ---------------------------------------------------------------------

int WinUi::LoadStringA(win::UINT id, char* buffer, int bufferMax) {
    if (buffer == nullptr || bufferMax <= 0) return 0;
    return ::LoadStringA(toNative(resourceInstance()), id, buffer, bufferMax);
}

win::HICON WinUi::LoadIconA(int id) {
    return toPortable(::LoadIconA(toNative(resourceInstance()), resourceName(id)));
}

// --- painting ----------------------------------------------------------------------

win::HDC WinUi::BeginPaint(win::HWND window, win::PAINTSTRUCT* paint) {
    if (paint == nullptr) return nullptr;
    ::PAINTSTRUCT platformPaint{};
    const HDC dc = ::BeginPaint(toNative(window), &platformPaint);
    *paint = portablePaint(platformPaint);
    return toPortable(dc);
}

win::BOOL WinUi::EndPaint(win::HWND window, const win::PAINTSTRUCT* paint) {
    if (paint == nullptr) return FALSE;
    const ::PAINTSTRUCT platformPaint = nativePaint(*paint);
    return ::EndPaint(toNative(window), &platformPaint);
}

win::BOOL WinUi::GetClientRect(win::HWND window, win::RECT* rect) {
    if (rect == nullptr) return FALSE;
    ::RECT client{};
    const BOOL got = ::GetClientRect(toNative(window), &client);
    *rect = portableRect(client);
    return got;
}

int WinUi::GetSystemMetrics(int index) {
    return ::GetSystemMetrics(index);
}

win::BOOL WinUi::DrawIcon(win::HDC dc, int x, int y, win::HICON icon) {
    return ::DrawIcon(toNative(dc), x, y, toNative(icon));
}

win::LRESULT WinUi::DefWindowProcA(win::HWND window, win::UINT message, win::WPARAM wParam,
                                   win::LPARAM lParam) {
    return ::DefWindowProcA(toNative(window), message, wParam, lParam);
}

// --- the message queue ---------------------------------------------------------------

win::BOOL WinUi::PeekMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                              win::UINT filterMax, win::UINT removeFlags) {
    if (message == nullptr) return FALSE;
    ::MSG taken{};
    const BOOL got = ::PeekMessageA(&taken, toNative(window), filterMin, filterMax, removeFlags);
    if (got != FALSE) *message = portableMessage(taken);
    return got;
}

win::BOOL WinUi::GetMessageA(win::MSG* message, win::HWND window, win::UINT filterMin,
                             win::UINT filterMax) {
    if (message == nullptr) return FALSE;
    ::MSG taken{};
    const BOOL got = ::GetMessageA(&taken, toNative(window), filterMin, filterMax);
    *message = portableMessage(taken);
    return got;
}

win::BOOL WinUi::TranslateMessage(const win::MSG* message) {
    if (message == nullptr) return FALSE;
    const ::MSG platformMessage = nativeMessage(*message);
    return ::TranslateMessage(&platformMessage);
}

win::LRESULT WinUi::DispatchMessageA(const win::MSG* message) {
    if (message == nullptr) return 0;
    const ::MSG platformMessage = nativeMessage(*message);
    return ::DispatchMessageA(&platformMessage);
}

win::BOOL WinUi::IsDialogMessageA(win::HWND dialog, win::MSG* message) {
    if (message == nullptr) return FALSE;
    ::MSG platformMessage = nativeMessage(*message);
    const BOOL handled = ::IsDialogMessageA(toNative(dialog), &platformMessage);
    *message = portableMessage(platformMessage);
    return handled;
}

void WinUi::PostQuitMessage(int exitCode) {
    ::PostQuitMessage(exitCode);
}

}  // namespace win32

#include "shell/application.h"

namespace shell {

namespace {
constexpr win::UINT kAllMessages = 0;
}

bool Application::pumpMessage() {
    win::MSG message{};
    if (ui_.GetMessageA(&message, nullptr, kAllMessages, kAllMessages) == win::FALSE) return false;
    const win::HWND root =
        message.hwnd == nullptr ? nullptr : ui_.GetAncestor(message.hwnd, win::GA_ROOT);
    if (platform::DialogProcedure* dialog = ui_.dialogProcedure(root)) {
        if (dialog->preTranslateMessage(message)) return true;
        if (ui_.IsDialogMessageA(root, &message) != win::FALSE) return true;
    }
    ui_.TranslateMessage(&message);
    ui_.DispatchMessageA(&message);
    return true;
}

bool Application::onIdle(long /*count*/) {
    return false;
}

bool Application::pumpPendingMessages() {
    bool quitMet = false;
    win::MSG message{};
    while (ui_.PeekMessageA(&message, nullptr, kAllMessages, kAllMessages, win::PM_NOREMOVE) !=
           win::FALSE) {
        if (!pumpMessage()) {
            ui_.PostQuitMessage(0);
            quitMet = true;
            break;
        }
    }
    for (long count = 0; onIdle(count); ++count) {
    }
    return quitMet;
}

}  // namespace shell

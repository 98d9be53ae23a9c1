#include "shell/main_dialog.h"

#include <string>

#include "shell/about_box.h"

namespace shell {

namespace {

// A string resource is loaded into a buffer that grows until the text fits:
// LoadStringA cuts a longer text to the buffer and says so only by filling it.
constexpr int kFirstStringBufferSize = 256;
// A string resource holds at most this many characters (its length is a
// 16-bit count), so the buffer never needs to grow past it.
constexpr int kLongestResourceString = 0xFFFF;

std::string loadResourceString(platform::Ui& ui, win::UINT id) {
    std::string buffer;
    for (int size = kFirstStringBufferSize;; size *= 2) {
        buffer.assign(static_cast<std::size_t>(size), '\0');
        const int length = ui.LoadStringA(id, buffer.data(), size);
        if (length <= 0) return {};
        if (length < size - 1 || size > kLongestResourceString) {
            buffer.resize(static_cast<std::size_t>(length));
            return buffer;
        }
    }
}

}  // namespace

MainDialog::MainDialog(platform::Ui& ui)
    : Dialog(ui, kMainDialogTemplate), appIcon_(ui.LoadIconA(kAppIconGroup)) {}

bool MainDialog::windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam,
                            win::LPARAM lParam, win::LRESULT& result) {
    if (refuseSuspend(message, wParam, result)) return true;
    return Dialog::windowProc(dialog, message, wParam, lParam, result);
}

bool MainDialog::onInitDialog() {
    Dialog::onInitDialog();
    const std::string aboutText = loadResourceString(ui(), kAboutMenuString);
    if (!aboutText.empty()) {
        if (const win::HMENU systemMenu = ui().GetSystemMenu(window(), win::FALSE)) {
            ui().AppendMenuA(systemMenu, win::MF_SEPARATOR, 0, nullptr);
            ui().AppendMenuA(systemMenu, win::MF_STRING, kAboutCommandId, aboutText.c_str());
        }
    }
    const auto icon = reinterpret_cast<win::LPARAM>(appIcon_);
    ui().SendMessageA(window(), win::WM_SETICON, win::ICON_BIG, icon);
    ui().SendMessageA(window(), win::WM_SETICON, win::ICON_SMALL, icon);
    return true;
}

bool MainDialog::onSysCommand(win::WPARAM command) {
    if ((command & kSysCommandMask) != kAboutCommandId) return false;
    AboutBox about(ui());
    about.doModal();
    return true;
}

// Minimised, the dialog draws its own icon centred in the client area; the
// "+ 1" rounds the centre the same way for odd and even sizes.
bool MainDialog::onPaint() {
    if (ui().IsIconic(window()) == win::FALSE) return false;
    win::PAINTSTRUCT paint{};
    const win::HDC dc = ui().BeginPaint(window(), &paint);
    ui().SendMessageA(window(), win::WM_ICONERASEBKGND, reinterpret_cast<win::WPARAM>(dc), 0);
    win::RECT client{};
    ui().GetClientRect(window(), &client);
    const int iconWidth = ui().GetSystemMetrics(win::SM_CXICON);
    const int iconHeight = ui().GetSystemMetrics(win::SM_CYICON);
    const int x = (client.right - client.left - iconWidth + 1) / 2;
    const int y = (client.bottom - client.top - iconHeight + 1) / 2;
    ui().DrawIcon(dc, x, y, appIcon_);
    ui().EndPaint(window(), &paint);
    return true;
}

bool MainDialog::onQueryDragIcon(win::LRESULT& icon) {
    icon = reinterpret_cast<win::LRESULT>(appIcon_);
    return true;
}

}  // namespace shell

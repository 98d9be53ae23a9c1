#pragma once

#include "shell/dialog.h"

namespace shell {

inline constexpr int kMainDialogTemplate = 102;
inline constexpr win::UINT kAboutMenuString = 101;
inline constexpr int kAppIconGroup = 156;
inline constexpr win::WPARAM kAboutCommandId = 16;
inline constexpr win::WPARAM kSysCommandMask = 0xFFF0;

// What the two programs' main dialogs share: the About entry of the system
// menu, the caption and minimised icon, the drag icon and the suspend rule.
// Each program's dialog adds its own OK action (and the update program its
// Escape rule).
class MainDialog : public Dialog {
  public:
    explicit MainDialog(platform::Ui& ui);

    bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                    win::LRESULT& result) override;

  protected:
    // Base initialisation: About entry (when string 101 is not empty) and icons.
    bool onInitDialog() override;
    bool onSysCommand(win::WPARAM command) override;
    bool onPaint() override;
    bool onQueryDragIcon(win::LRESULT& icon) override;

  private:
    win::HICON appIcon_;
};

}  // namespace shell

#pragma once

#include <cstdint>

#include "shell/dialog.h"

namespace shell {

// The modeless progress window of the flash and the format: one progress bar
// bound to a control of its template. Escape does not close it and it
// refuses suspend requests.
class ProgressDialog : public Dialog {
  public:
    ProgressDialog(platform::Ui& ui, int templateId, int progressBarId)
        : Dialog(ui, templateId), progressBarId_(progressBarId) {}

    // Creates it modeless with no parent and centres it over the desktop;
    // false when the template is missing.
    bool open();
    // Shows it and redraws it at once, erasing the background.
    void showNow();
    void close() { destroyWindow(); }

    // The bar, as the platform's progress-bar messages.
    void setRange16(std::uint16_t upper);  // PBM_SETRANGE, 0 to upper
    void setRange32(std::uint32_t upper);  // PBM_SETRANGE32, 0 to upper
    void setStep(int step);                // PBM_SETSTEP
    void setPosition(int position);        // PBM_SETPOS
    void stepIt();                         // PBM_STEPIT

    bool windowProc(win::HWND dialog, win::UINT message, win::WPARAM wParam, win::LPARAM lParam,
                    win::LRESULT& result) override;
    bool preTranslateMessage(const win::MSG& message) override;

  private:
    win::LRESULT sendToBar(win::UINT message, win::WPARAM wParam, win::LPARAM lParam);

    int progressBarId_;
};

}  // namespace shell

#pragma once

#include "shell/dialog.h"

namespace shell {

inline constexpr int kAboutBoxTemplate = 100;

// The About box: a plain dialog, built when needed, without the suspend rule.
class AboutBox : public Dialog {
  public:
    explicit AboutBox(platform::Ui& ui) : Dialog(ui, kAboutBoxTemplate) {}
};

}  // namespace shell

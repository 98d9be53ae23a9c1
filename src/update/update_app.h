#pragma once

#include <memory>

#include "platform/services.h"
#include "shell/application.h"
#include "shell/dialog.h"
#include "shell/notice_dialog.h"

namespace update {

inline constexpr const char* kInstanceMutexName = "Velcrest";

class UpdateDialog;

// The application object of the update program: start-up runs the whole
// program (language library, single instance, system checks, main dialog)
// and always reports failure, so the program ends with its main dialog.
class UpdateApp final : public shell::Application {
  public:
    explicit UpdateApp(const platform::Services& services);
    ~UpdateApp() override;

    // Always 0 (false): there is no message loop after the main dialog.
    int InitInstance();
    // Frees the language library, once; the process exit code.
    int ExitInstance();

    win::HMODULE languageLibrary = nullptr;

    // The main window while the main dialog runs; null otherwise.
    shell::Dialog* mainWindow() const { return mainWindow_; }

  private:
    static constexpr int kExitCode = 0;

    bool versionAccepted();
    bool administratorAccepted();

    platform::Services services_;
    shell::NoticeDialog versionNotice_;
    shell::NoticeDialog administratorNotice_;
    shell::NoticeDialog startNotice_;
    win::HANDLE instanceMutex_ = nullptr;
    shell::Dialog* mainWindow_ = nullptr;
};

}  // namespace update

#pragma once

#include <string>

#include "platform/services.h"
#include "shell/application.h"
#include "shell/notice_dialog.h"

namespace format {

class FormatDialog;

inline constexpr const char* kFormatMutexName = "Ardlow";
inline constexpr win::DWORD kSupportedMajorVersion = 5;
// How long the reader gets after the log-on before the format dialog shows.
inline constexpr win::DWORD kAfterUpdateWaitMs = 5000;

// The format program's application object: start-up does the whole run and
// then reports that the program is to end.
class FormatApp : public shell::Application {
  public:
    explicit FormatApp(const platform::Services& services);

    // Always false: the program ends when the main dialog is gone.
    bool InitInstance();
    // Frees the language library; the process exit code.
    int ExitInstance();

    win::HMODULE languageLibrary = nullptr;

  private:
    bool isSecondInstance();
    // False when the user chose to end at the version or administrator notice.
    bool passSystemChecks();
    // True when the marker's vendor and product were both read.
    bool readMarkerAndFindReader(FormatDialog& dialog);
    void findReader(FormatDialog& dialog);
    bool readMarkerRevision(std::string& revision);

    shell::NoticeDialog versionNotice_;
    shell::NoticeDialog administratorNotice_;
    platform::Services services_;
};

}  // namespace format

#include "update/update_app.h"

#include "shell/administrator.h"
#include "shell/language_library.h"
#include "update/update_dialog.h"
#include "update/update_templates.h"

namespace update {

namespace {
constexpr win::DWORD kSupportedMajorVersion = 5;
}

UpdateApp::UpdateApp(const platform::Services& services)
    : Application(services.ui),
      services_(services),
      versionNotice_(services.ui, templateNumber(UpdateTemplate::VersionNotSupported)),
      administratorNotice_(services.ui, templateNumber(UpdateTemplate::NotAdministrator)),
      startNotice_(services.ui, templateNumber(UpdateTemplate::StartNotice)) {}

UpdateApp::~UpdateApp() = default;

// Control containers and the 3-D dialog look are switched on here by the
// platform's dialog framework; the seams have nothing that corresponds to
// either, so those two steps have no code.
int UpdateApp::InitInstance() {
    languageLibrary =
        shell::loadLanguageLibrary(services_.system, services_.ui, shell::kUpdateLibraryPrefix);

    // Held for the life of the process and never closed: while it is held,
    // a second start ends at once without a word.
    instanceMutex_ = services_.system.CreateMutexA(kInstanceMutexName);
    if (services_.system.GetLastError() == static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS)) {
        return 0;
    }

    // The controller embeds the whole firmware image, so it lives on the heap.
    auto mainDialog = std::make_unique<UpdateDialog>(services_, *this);
    if (versionAccepted() && administratorAccepted() && startNotice_.doModal() != win::IDCANCEL) {
        mainWindow_ = mainDialog.get();
        mainDialog->doModal();
        mainWindow_ = nullptr;
    }
    return 0;
}

int UpdateApp::ExitInstance() {
    if (languageLibrary != nullptr) services_.system.FreeLibrary(languageLibrary);
    languageLibrary = nullptr;
    return kExitCode;
}

// OK on the notice ends the program; any other answer goes on regardless.
bool UpdateApp::versionAccepted() {
    win::OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    services_.system.GetVersionExA(&version);
    if (version.dwMajorVersion == kSupportedMajorVersion) return true;
    return versionNotice_.doModal() != win::IDOK;
}

bool UpdateApp::administratorAccepted() {
    int isMember = 0;
    shell::isAdministrator(services_.system, &isMember);
    if (isMember == 1) return true;
    return administratorNotice_.doModal() != win::IDOK;
}

}  // namespace update

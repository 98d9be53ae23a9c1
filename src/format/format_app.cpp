#include "format/format_app.h"

#include "format/format_dialog.h"
#include "format/format_templates.h"
#include "format/marker.h"
#include "format/reader_search.h"
#include "shell/administrator.h"
#include "shell/language_library.h"
#include "shell/removable_drives.h"

namespace format {

namespace {

constexpr int kExitCode = 0;

// Opens the marker key for reading; null when it does not open.
win::HKEY openMarkerKey(platform::Registry& registry) {
    win::HKEY key = nullptr;
    if (registry.RegOpenKeyExA(win::hkeyLocalMachine(), kMarkerKeyPath, 0, win::KEY_READ, &key) !=
        win::ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

}  // namespace

FormatApp::FormatApp(const platform::Services& services)
    : shell::Application(services.ui),
      versionNotice_(services.ui, templateNumber(FormatTemplate::VersionNotice)),
      administratorNotice_(services.ui, templateNumber(FormatTemplate::AdministratorNotice)),
      services_(services) {}

// The framework's control-container hosting and 3-D control look have no
// counterpart on these seams; the steps are simply not there.
bool FormatApp::InitInstance() {
    languageLibrary =
        shell::loadLanguageLibrary(services_.system, services_.ui, shell::kFormatLibraryPrefix);
    if (isSecondInstance()) return false;
    if (!passSystemChecks()) return false;

    FormatDialog dialog(services_, *this);
    const bool markerComplete = readMarkerAndFindReader(dialog);
    std::string revision;
    const bool revisionRead = readMarkerRevision(revision);
    const StartMode mode =
        revisionRead && markerComplete ? StartMode::AfterUpdate : StartMode::StandAlone;
    if (mode == StartMode::AfterUpdate) {
        services_.clock.Sleep(kAfterUpdateWaitMs);
        dialog.markerRevision = revision;
    }

    dialog.startMode = mode;
    const win::INT_PTR result = dialog.doModal();
    // Only a format that ran to its closing notice uses the marker up; after
    // a stand-alone format it belongs to an update still to be finished.
    if (result == win::IDOK && mode == StartMode::AfterUpdate) deleteMarkerKey(services_.registry);
    return false;
}

int FormatApp::ExitInstance() {
    if (languageLibrary != nullptr) {
        services_.system.FreeLibrary(languageLibrary);
        languageLibrary = nullptr;
    }
    return kExitCode;
}

// The mutex is never closed: it keeps its name taken for the life of the
// process.
bool FormatApp::isSecondInstance() {
    services_.system.CreateMutexA(kFormatMutexName);
    return services_.system.GetLastError() == win::ERROR_ALREADY_EXISTS;
}

bool FormatApp::passSystemChecks() {
    win::OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    services_.system.GetVersionExA(&version);
    if (version.dwMajorVersion != kSupportedMajorVersion && versionNotice_.doModal() == win::IDOK) {
        deleteMarkerKey(services_.registry);
        return false;
    }
    int isMember = 0;
    shell::isAdministrator(services_.system, &isMember);
    if (isMember == 0 && administratorNotice_.doModal() == win::IDOK) {
        deleteMarkerKey(services_.registry);
        return false;
    }
    return true;
}

// The marker's vendor and product become the link's identity, which the
// registry walk needs; the drive search runs only when both were read.
bool FormatApp::readMarkerAndFindReader(FormatDialog& dialog) {
    const win::HKEY key = openMarkerKey(services_.registry);
    if (key == nullptr) return false;
    std::string vendor;
    std::string product;
    const bool vendorRead = readMarkerValue(services_.registry, key, kMarkerVendorValue, vendor);
    const bool productRead = readMarkerValue(services_.registry, key, kMarkerProductValue, product);
    services_.registry.RegCloseKey(key);
    dialog.deviceLink.inquiryProduct = product;
    dialog.deviceLink.inquiryVendor = vendor;
    if (!vendorRead || !productRead) return false;
    findReader(dialog);
    return true;
}

// Every removable drive is asked, so the last matching drive letter wins.
void FormatApp::findReader(FormatDialog& dialog) {
    device::DeviceLink& link = dialog.deviceLink;
    shell::forEachRemovableDrive(services_.system, [&](int /*number*/, const std::string& root) {
        const device::InquiryStrings identity = inquireDrive(link, root);
        if (identity.product.find(link.inquiryProduct) == std::string::npos) return;
        if (identity.vendor != link.inquiryVendor) return;
        link.inquiryRevision = identity.revision;
        dialog.selectedDriveRoot = root;
    });
    link.identifyUsbParent(dialog.selectedDriveRoot);
}

bool FormatApp::readMarkerRevision(std::string& revision) {
    const win::HKEY key = openMarkerKey(services_.registry);
    if (key == nullptr) return false;
    const bool read = readMarkerValue(services_.registry, key, kMarkerRevisionValue, revision);
    services_.registry.RegCloseKey(key);
    return read;
}

}  // namespace format

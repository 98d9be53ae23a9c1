// The two programs as built for Windows, read as files: what each carries of
// its own (the About box, its menu text and icons, for a machine without a
// language library), its manifest and version record, and that it starts
// as a window program, without a console.

// clang-format off
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "required_resources.h"
#include "shell/dialog.h"
#include "ui_test_support.h"
// clang-format on

namespace win32::testing {
namespace {

struct Program {
    const char* file;
    const resources::RequiredResources* own;
};

void PrintTo(const Program& program, std::ostream* out) {
    *out << program.file;
}

// The folder of this test, which is the programs' folder.
std::string programFolder() {
    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of('\\') + 1);
}

std::string resourceText(HMODULE module, LPCSTR type, int id) {
    const HRSRC found =
        ::FindResourceA(module, reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(id)), type);
    if (found == nullptr) return {};
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* bytes = loaded == nullptr ? nullptr : ::LockResource(loaded);
    if (bytes == nullptr) return {};
    return std::string(static_cast<const char*>(bytes), ::SizeofResource(module, found));
}

BOOL CALLBACK collectChildText(HWND control, LPARAM texts) {
    reinterpret_cast<std::vector<std::string>*>(texts)->push_back(windowText(control));
    return TRUE;
}

class BuiltProgram : public ::testing::TestWithParam<Program> {
  protected:
    void SetUp() override {
        path_ = programFolder() + GetParam().file;
        // Loaded for its resources only: nothing of it runs.
        module_ = ::LoadLibraryExA(path_.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module_, nullptr) << path_ << " (error " << ::GetLastError() << ")";
    }
    void TearDown() override {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }

    std::string path_;
    HMODULE module_ = nullptr;
};

TEST_P(BuiltProgram, CarriesItsOwnAboutBoxMenuTextAndIcons) {
    ASSERT_TRUE(displayAvailable()) << "no display to make windows on: run under xvfb-run";
    const resources::RequiredResources& own = *GetParam().own;
    WinUi ui;
    ui.setResourceModule(toPortable(module_));
    for (const resources::RequiredDialog& required : own.dialogs) {
        SCOPED_TRACE("dialog " + std::to_string(required.id));
        shell::Dialog dialog(ui, required.id);
        ASSERT_TRUE(dialog.createModeless());
        const HWND window = toNative(dialog.window());
        EXPECT_EQ(windowText(window), required.caption);
        std::vector<std::string> texts;
        ::EnumChildWindows(window, collectChildText, reinterpret_cast<LPARAM>(&texts));
        EXPECT_NE(std::find(texts.begin(), texts.end(), required.text), texts.end())
            << "no line \"" << required.text << "\"";
        for (const int button : required.buttons)
            EXPECT_NE(::GetDlgItem(window, button), nullptr) << "no button " << button;
        dialog.destroyWindow();
    }
    for (const int id : own.strings) {
        char text[128] = {};
        EXPECT_GT(ui.LoadStringA(static_cast<win::UINT>(id), text, static_cast<int>(sizeof text)),
                  0)
            << "string " << id;
    }
    for (const int id : own.icons) EXPECT_NE(ui.LoadIconA(id), nullptr) << "icon " << id;
}

// The manifest asks for an administrator's token, the themed controls, and
// names every later Windows, so none of them runs the program in a
// compatibility mode of its own.
TEST_P(BuiltProgram, HasTheManifestThatAsksForWhatTheProgramNeeds) {
    constexpr int kProcessManifest = 1;  // CREATEPROCESS_MANIFEST_RESOURCE_ID
    const std::string manifest = resourceText(module_, RT_MANIFEST, kProcessManifest);
    ASSERT_FALSE(manifest.empty()) << "no manifest";
    for (const char* wanted : {
             "level=\"requireAdministrator\"",
             "name=\"Microsoft.Windows.Common-Controls\" version=\"6.0.0.0\"",
             "{e2011457-1546-43c5-a5fe-008deee3d3f0}",  // Vista
             "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",  // 7
             "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",  // 8
             "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",  // 8.1
             "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",  // 10 and 11
         })
        EXPECT_NE(manifest.find(wanted), std::string::npos) << "the manifest lacks " << wanted;
}

TEST_P(BuiltProgram, NamesItselfInItsVersionRecord) {
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path_.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version record";
    std::vector<char> record(size);
    ASSERT_TRUE(::GetFileVersionInfoA(path_.c_str(), 0, size, record.data()));

    void* value = nullptr;
    UINT length = 0;
    ASSERT_TRUE(::VerQueryValueA(record.data(), "\\", &value, &length));
    const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
    EXPECT_EQ(HIWORD(fixed->dwFileVersionMS), 1u);
    EXPECT_EQ(LOWORD(fixed->dwFileVersionMS), 0u);

    ASSERT_TRUE(::VerQueryValueA(record.data(), "\\StringFileInfo\\040904B0\\OriginalFilename",
                                 &value, &length));
    EXPECT_STREQ(static_cast<const char*>(value), GetParam().file);
}

// -mwindows: started from a folder window, the program opens no console
// beside its dialogs.
TEST_P(BuiltProgram, IsAWindowProgram) {
    std::ifstream file(path_, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(file),
                                  std::istreambuf_iterator<char>()};
    IMAGE_DOS_HEADER dos{};
    ASSERT_GE(bytes.size(), sizeof dos);
    std::memcpy(&dos, bytes.data(), sizeof dos);
    IMAGE_NT_HEADERS nt{};
    const auto at = static_cast<std::size_t>(dos.e_lfanew);
    ASSERT_GE(bytes.size(), at + sizeof nt);
    std::memcpy(&nt, bytes.data() + at, sizeof nt);
    ASSERT_EQ(nt.Signature, static_cast<DWORD>(IMAGE_NT_SIGNATURE));
    EXPECT_EQ(nt.OptionalHeader.Subsystem, IMAGE_SUBSYSTEM_WINDOWS_GUI);
}

INSTANTIATE_TEST_SUITE_P(Programs, BuiltProgram,
                         ::testing::Values(Program{"Velcrest.exe", &resources::kUpdateProgram},
                                           Program{"Ardlow.exe", &resources::kFormatProgram}),
                         [](const ::testing::TestParamInfo<Program>& each) {
                             std::string name = each.param.file;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
}  // namespace win32::testing

#pragma once

// What the user-interface tests under Windows share: the backend with the
// English libraries loaded as the programs load them, and a few questions
// asked of the platform's windows.

// clang-format off
#include <gtest/gtest.h>

#include <string>

#include "win32/win_ui.h"

// Last: its macros would rewrite the win:: names of the headers above.
#include "win32/windows_api.h"
#include <commctrl.h>
// clang-format on

namespace win32::testing {

inline std::string windowText(HWND window) {
    const int length = ::GetWindowTextLengthA(window);
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    const int copied = ::GetWindowTextA(window, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
    return text;
}

inline std::string className(HWND window) {
    char name[256] = {};
    const int length = ::GetClassNameA(window, name, static_cast<int>(sizeof name));
    return std::string(name, static_cast<std::size_t>(length < 0 ? 0 : length));
}

// Whether windows can be made at all: under wine without an X display they
// cannot, and every test of a window would fail for that one reason.
inline bool displayAvailable() {
    const HWND probe = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                         nullptr, nullptr);
    if (probe == nullptr) return false;
    ::DestroyWindow(probe);
    return true;
}

// A language library loaded by its bare name, as the programs load theirs:
// the tests sit beside the libraries in the programs' folder, which Windows
// searches first.
class LoadedLibrary {
  public:
    explicit LoadedLibrary(const std::string& fileName)
        : module_(::LoadLibraryA(fileName.c_str())) {}
    ~LoadedLibrary() {
        if (module_ != nullptr) ::FreeLibrary(module_);
    }
    LoadedLibrary(const LoadedLibrary&) = delete;
    LoadedLibrary& operator=(const LoadedLibrary&) = delete;

    HMODULE get() const { return module_; }

  private:
    HMODULE module_;
};

// The backend with a library as its resource module. Windows need a
// display: under wine that is the X server xvfb-run provides.
class WinUiTest : public ::testing::Test {
  protected:
    explicit WinUiTest(const std::string& library = "KELDRA_ENG.dll") : library_(library) {}

    void SetUp() override {
        ASSERT_NE(library_.get(), nullptr)
            << "cannot load the library beside the test (error " << ::GetLastError() << ")";
        ASSERT_TRUE(displayAvailable()) << "no display to make windows on: run under xvfb-run";
        ui.setResourceModule(toPortable(library_.get()));
    }

    WinUi ui;

  private:
    LoadedLibrary library_;
};

}  // namespace win32::testing

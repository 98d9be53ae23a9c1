// Every language library the build makes, loaded as the programs load it:
// each template the programs need opens on Windows with its buttons and
// controls, and every text fits the control that shows it.

// clang-format off
#include <algorithm>
#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include "required_resources.h"
#include "shell/dialog.h"
#include "ui_test_support.h"
// clang-format on

namespace win32::testing {
namespace {

// The programs' folder holds the libraries; the build names them here.
std::vector<std::string> builtLibraries() {
    std::vector<std::string> names;
    std::istringstream list(VELCREST_LANGUAGE_LIBRARIES);
    for (std::string name; std::getline(list, name, ',');)
        if (!name.empty()) names.push_back(name);
    return names;
}

const resources::RequiredResources* requirementsOf(const std::string& library) {
    if (library.rfind("KELDRA_", 0) == 0) return &resources::kUpdateLibrary;
    if (library.rfind("FORMAT_", 0) == 0) return &resources::kFormatLibrary;
    return nullptr;
}

bool sameClass(const std::string& left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

TEST(LanguageLibraries, BothEnglishLibrariesAreAmongThoseBuilt) {
    const std::vector<std::string> built = builtLibraries();
    for (const char* english : {"KELDRA_ENG", "FORMAT_ENG"})
        EXPECT_NE(std::find(built.begin(), built.end(), english), built.end()) << english;
    for (const std::string& library : built)
        EXPECT_NE(requirementsOf(library), nullptr) << library << " is a library of no program";
}

// A button's text needs a little room beside it for the button's edge.
constexpr LONG kButtonTextMargin = 3;
constexpr LONG kStaticTypeMask = 0x1F;  // SS_TYPEMASK

struct TextNeed {
    LONG width;   // of the widest line
    LONG height;  // of all lines
};

// Full-width characters (CJK ideographs, kana, hangul, full-width forms):
// Windows may break a line next to any of them, as it does at a space.
bool isFullWidth(wchar_t c) {
    return (c >= 0x1100 && c <= 0x11FF) || (c >= 0x2E80 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFFEF);
}

// The text as shown: "&" marks the mnemonic and is not drawn, "&&" is one "&".
std::wstring withoutPrefix(const std::wstring& text) {
    std::wstring shown;
    for (std::size_t index = 0; index < text.size(); ++index) {
        if (text[index] == L'&' && index + 1 < text.size()) ++index;
        shown += text[index];
    }
    return shown;
}

std::wstring wideText(HWND control) {
    const int length = ::GetWindowTextLengthW(control);
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    const int copied = ::GetWindowTextW(control, text.data(), length + 1);
    text.resize(static_cast<std::size_t>(copied < 0 ? 0 : copied));
    return text;
}

// The room a text takes in the control's own font when broken into lines
// at the control's width as Windows breaks a static control's text: at
// spaces, next to full-width characters and at line ends. (Wine's own
// line breaking knows only the spaces, so it cannot be asked.)
TextNeed textNeed(HWND control, const std::wstring& text, bool wrap) {
    const HDC dc = ::GetDC(control);
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
    const HGDIOBJ previous = ::SelectObject(dc, font);
    TEXTMETRICW metrics{};
    ::GetTextMetricsW(dc, &metrics);
    RECT client{};
    ::GetClientRect(control, &client);
    const auto widthOf = [dc](const std::wstring& piece) {
        SIZE size{};
        ::GetTextExtentPoint32W(dc, piece.c_str(), static_cast<int>(piece.size()), &size);
        return size.cx;
    };

    TextNeed need{0, metrics.tmHeight};
    std::wstring line;
    const auto endLine = [&] {
        need.width = std::max(need.width, widthOf(line));
        line.clear();
    };
    // Pieces no line break may fall inside: a word, a run of spaces, one
    // full-width character, a line end.
    for (std::size_t start = 0; start < text.size();) {
        std::size_t end = start + 1;
        const wchar_t first = text[start];
        if (first != L'\n' && first != L'\r' && !isFullWidth(first)) {
            const bool spaces = first == L' ';
            while (end < text.size() && text[end] != L'\n' && text[end] != L'\r' &&
                   !isFullWidth(text[end]) && (text[end] == L' ') == spaces)
                ++end;
        }
        const std::wstring piece = text.substr(start, end - start);
        start = end;
        if (piece == L"\r") continue;
        if (piece == L"\n") {
            endLine();
            need.height += metrics.tmHeight;
            continue;
        }
        if (wrap && !line.empty() && piece[0] != L' ' && widthOf(line + piece) > client.right) {
            // Spaces at the end of a broken line take no room.
            while (!line.empty() && line.back() == L' ') line.pop_back();
            endLine();
            need.height += metrics.tmHeight;
        }
        if (line.empty() && piece[0] == L' ' && need.height > metrics.tmHeight) continue;
        line += piece;
    }
    endLine();
    ::SelectObject(dc, previous);
    ::ReleaseDC(control, dc);
    return need;
}

std::string utf8(const std::wstring& text) {
    const int size =
        ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string converted(static_cast<std::size_t>(size > 0 ? size : 1), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, converted.data(), size, nullptr, nullptr);
    converted.resize(converted.size() - 1);
    return converted;
}

void expectTextFits(HWND control) {
    const std::wstring text = wideText(control);
    if (text.empty()) return;
    const std::string kind = className(control);
    const auto style = static_cast<LONG>(::GetWindowLongPtrW(control, GWL_STYLE));
    RECT client{};
    ::GetClientRect(control, &client);
    SCOPED_TRACE(kind + " \"" + utf8(text) + "\"");
    if (sameClass(kind, "Static")) {
        const LONG type = style & kStaticTypeMask;
        if (type != SS_LEFT && type != SS_CENTER && type != SS_RIGHT) return;  // an icon, a frame
        const std::wstring shown = (style & SS_NOPREFIX) != 0 ? text : withoutPrefix(text);
        const TextNeed need = textNeed(control, shown, true);
        EXPECT_LE(need.height, client.bottom) << "the text needs more lines than it has";
        EXPECT_LE(need.width, client.right) << "a word is wider than its line";
    } else if (sameClass(kind, "Button")) {
        const TextNeed need = textNeed(control, withoutPrefix(text), false);
        EXPECT_LE(need.width + 2 * kButtonTextMargin, client.right) << "the button is too narrow";
    }
}

void expectInsideDialog(HWND dialog, HWND control) {
    RECT area{};
    RECT placed{};
    ::GetClientRect(dialog, &area);
    ::GetWindowRect(control, &placed);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&placed), 2);
    EXPECT_GE(placed.left, area.left);
    EXPECT_GE(placed.top, area.top);
    EXPECT_LE(placed.right, area.right) << "the control reaches past the dialog's right edge";
    EXPECT_LE(placed.bottom, area.bottom) << "the control reaches past the dialog's bottom";
}

BOOL CALLBACK checkChild(HWND control, LPARAM dialog) {
    SCOPED_TRACE("control " + std::to_string(::GetDlgCtrlID(control)));
    expectInsideDialog(reinterpret_cast<HWND>(dialog), control);
    expectTextFits(control);
    return TRUE;
}

class LanguageLibrary : public ::testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        ASSERT_NE(requirementsOf(GetParam()), nullptr);
        library_ = std::make_unique<LoadedLibrary>(GetParam() + ".dll");
        ASSERT_NE(library_->get(), nullptr)
            << GetParam() << ".dll does not load (error " << ::GetLastError() << ")";
        ASSERT_TRUE(displayAvailable()) << "no display to make windows on: run under xvfb-run";
        ui.setResourceModule(toPortable(library_->get()));
    }

    WinUi ui;
    std::unique_ptr<LoadedLibrary> library_;
};

TEST_P(LanguageLibrary, OpensEveryTemplateWithItsButtonsAndControls) {
    for (const resources::RequiredDialog& required : requirementsOf(GetParam())->dialogs) {
        SCOPED_TRACE("dialog " + std::to_string(required.id) + ", " + std::string(required.role));
        shell::Dialog dialog(ui, required.id);
        ASSERT_TRUE(dialog.createModeless()) << "the template is missing or does not open";
        const HWND window = toNative(dialog.window());
        for (const int button : required.buttons) {
            const HWND control = ::GetDlgItem(window, button);
            ASSERT_NE(control, nullptr) << "no button " << button;
            EXPECT_TRUE(sameClass(className(control), "Button")) << className(control);
        }
        for (const resources::RequiredControl& required_control : required.controls) {
            const HWND control = ::GetDlgItem(window, required_control.id);
            ASSERT_NE(control, nullptr) << "no control " << required_control.id;
            EXPECT_TRUE(sameClass(className(control), required_control.className))
                << "control " << required_control.id << " is a " << className(control);
        }
        const auto style = static_cast<DWORD>(::GetWindowLongPtrA(window, GWL_STYLE));
        if (required.systemMenu == resources::SystemMenu::Required) {
            EXPECT_NE(style & WS_SYSMENU, 0u) << "no system menu for the About entry";
        }
        if (required.systemMenu == resources::SystemMenu::Forbidden) {
            EXPECT_EQ(style & WS_SYSMENU, 0u) << "a close box on a progress window";
        }
        dialog.destroyWindow();
    }
}

TEST_P(LanguageLibrary, EveryTextFitsItsControlAndEveryControlItsDialog) {
    for (const resources::RequiredDialog& required : requirementsOf(GetParam())->dialogs) {
        SCOPED_TRACE("dialog " + std::to_string(required.id));
        shell::Dialog dialog(ui, required.id);
        ASSERT_TRUE(dialog.createModeless());
        const HWND window = toNative(dialog.window());
        ::EnumChildWindows(window, checkChild, reinterpret_cast<LPARAM>(window));
        dialog.destroyWindow();
    }
}

TEST_P(LanguageLibrary, HoldsTheMenuTextAndTheIcon) {
    const resources::RequiredResources& required = *requirementsOf(GetParam());
    for (const int id : required.strings) {
        char text[256] = {};
        EXPECT_GT(ui.LoadStringA(static_cast<win::UINT>(id), text, static_cast<int>(sizeof text)),
                  0)
            << "string " << id;
    }
    for (const int id : required.icons) EXPECT_NE(ui.LoadIconA(id), nullptr) << "icon " << id;
}

INSTANTIATE_TEST_SUITE_P(Built, LanguageLibrary, ::testing::ValuesIn(builtLibraries()),
                         [](const ::testing::TestParamInfo<std::string>& each) {
                             return each.param;
                         });

}  // namespace
}  // namespace win32::testing

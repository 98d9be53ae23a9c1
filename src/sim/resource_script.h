#pragma once

#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

// The language libraries and the programs' own resources are resource
// scripts, the same files windres compiles for Windows. The simulated machine
// reads them with this reader, which knows the small part of the resource
// language the project writes: dialogs (DIALOG, DIALOGEX with STYLE, EXSTYLE,
// CAPTION, FONT and the LTEXT, CTEXT, RTEXT, PUSHBUTTON, DEFPUSHBUTTON,
// CONTROL, COMBOBOX and ICON statements), string tables, icon resources,
// LANGUAGE, #include and #pragma code_page. Anything else is refused with its
// line, so a library that Windows would read differently never passes quietly.

inline constexpr int kIdOk = 1;
inline constexpr int kIdCancel = 2;
inline constexpr int kIdStatic = -1;

struct DialogRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

enum class ControlKind {
    Text,           // LTEXT, CTEXT, RTEXT
    Button,         // PUSHBUTTON
    DefaultButton,  // DEFPUSHBUTTON
    Icon,           // ICON
    ComboBox,       // COMBOBOX
    Custom,         // CONTROL with a window class
};

struct DialogControl {
    std::string statement;  // as written: "LTEXT", "CONTROL", ...
    ControlKind kind = ControlKind::Text;
    int id = kIdStatic;
    std::string className;  // "Static", "Button", "ComboBox" or the CONTROL's class
    std::string text;       // for ICON: the icon it names, as written
    DialogRect rect;
    std::vector<std::string> styles;  // style words, "NOT WS_TABSTOP" kept whole
    std::vector<std::string> extendedStyles;
    int line = 0;

    bool isButton() const {
        return kind == ControlKind::Button || kind == ControlKind::DefaultButton;
    }
    bool hasStyle(std::string_view word) const;
    // The icon resource an ICON control names, when it names one by number.
    std::optional<int> iconId() const;
};

struct DialogFont {
    int pointSize = 0;
    std::string face;
};

struct DialogTemplate {
    int id = 0;
    bool extended = false;  // DIALOGEX
    DialogRect rect;
    std::string caption;
    std::vector<std::string> styles;
    std::vector<std::string> extendedStyles;
    std::optional<DialogFont> font;
    std::vector<DialogControl> controls;
    int line = 0;

    bool hasStyle(std::string_view word) const;
    const DialogControl* control(int controlId) const;
    std::vector<const DialogControl*> buttons() const;
    // The button Enter presses: the first DEFPUSHBUTTON, else IDOK, as the
    // dialog manager answers DM_GETDEFID.
    int defaultButtonId() const;
};

struct IconResource {
    int id = 0;
    std::string fileName;  // as written, relative to the script
    int line = 0;
};

struct ResourceScript {
    std::string sourceName;
    std::map<int, DialogTemplate> dialogs;
    std::map<int, std::string> strings;
    std::map<int, IconResource> icons;
    std::vector<std::string> includes;
    std::vector<std::string> languages;  // "LANG_ENGLISH, SUBLANG_ENGLISH_US"
    std::optional<int> codePage;

    const DialogTemplate* dialog(int id) const;
    const std::string* string(int id) const;
    bool hasIcon(int id) const { return icons.count(id) != 0; }
};

struct ScriptError {
    std::string sourceName;
    int line = 0;
    std::string message;

    // "KELDRA_ENG.rc:12: expected ..."
    std::string describe() const;
};

struct ScriptReading {
    ResourceScript script;
    std::optional<ScriptError> error;

    bool ok() const { return !error.has_value(); }
};

ScriptReading readResourceScript(std::string_view text, std::string sourceName);
ScriptReading readResourceScriptFile(const std::filesystem::path& path);

// A control's or caption's text as a person sees it: a single '&' marks the
// mnemonic and disappears, "&&" shows one '&'.
std::string withoutMnemonics(std::string_view text);

}  // namespace sim

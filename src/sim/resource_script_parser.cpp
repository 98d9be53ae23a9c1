#include <charconv>
#include <sstream>
#include <utility>

#include "firmware/byte_source.h"
#include "sim/resource_script.h"
#include "sim/resource_script_lexer.h"
#include "sim/windows_names.h"

// The parser of resource statements: dialogs and their controls, string
// tables, icons, LANGUAGE and the directives. One class, as every statement
// reads from the one current token; its parts follow the script's grammar.

namespace sim {

namespace {

using script_tokens::Lexer;
using script_tokens::quoted;
using script_tokens::Token;
using script_tokens::TokenKind;

// Named control ids the scripts may use; the platform's values.
struct NamedId {
    std::string_view name;
    int value;
};
constexpr NamedId kNamedIds[] = {
    {"IDOK", kIdOk}, {"IDCANCEL", kIdCancel}, {"IDC_STATIC", kIdStatic}};

constexpr int kMaxNumber = 0x7FFFFFFF;

class Parser {
  public:
    Parser(std::string_view text, std::string sourceName) : lexer_(text) {
        reading_.script.sourceName = std::move(sourceName);
    }

    ScriptReading run() {
        if (advance()) readScript();
        if (reading_.error) {
            std::string sourceName = std::move(reading_.script.sourceName);
            reading_.script = ResourceScript{};
            reading_.script.sourceName = std::move(sourceName);
        }
        return std::move(reading_);
    }

  private:
    // --- tokens -----------------------------------------------------------

    bool advance() {
        std::string message;
        if (!lexer_.next(token_, message)) return fail(message);
        return true;
    }

    bool fail(const std::string& message) { return failAt(token_.line, message); }
    bool failAt(int line, const std::string& message) {
        if (!reading_.error)
            reading_.error = ScriptError{reading_.script.sourceName, line, message};
        return false;
    }

    bool isWord(std::string_view word) const {
        return token_.kind == TokenKind::Word && sameName(token_.text, word);
    }
    bool isPunct(char c) const {
        return token_.kind == TokenKind::Punct && token_.text.size() == 1 && token_.text[0] == c;
    }
    bool isBegin() const { return isWord("BEGIN") || isPunct('{'); }
    bool isEnd() const { return isWord("END") || isPunct('}'); }

    bool expectPunct(char c, std::string_view what) {
        if (!isPunct(c)) return fail("expected " + std::string(what) + ", found " + quoted(token_));
        return advance();
    }
    bool expectComma(std::string_view after) {
        return expectPunct(',', "',' after " + std::string(after));
    }

    bool readNumber(int& value, std::string_view what) {
        bool negative = false;
        if (isPunct('-')) {
            negative = true;
            if (!advance()) return false;
        }
        if (token_.kind != TokenKind::Number)
            return fail("expected a number for " + std::string(what) + ", found " + quoted(token_));
        if (token_.number > kMaxNumber)
            return fail("the number " + token_.text + " for " + std::string(what) +
                        " is too large");
        value = static_cast<int>(negative ? -token_.number : token_.number);
        return advance();
    }

    bool readControlId(int& value) {
        if (token_.kind == TokenKind::Word) {
            for (const NamedId& named : kNamedIds) {
                if (token_.text == named.name) {
                    value = named.value;
                    return advance();
                }
            }
            return fail("unknown control id '" + token_.text +
                        "' (use a number, IDOK, IDCANCEL or IDC_STATIC)");
        }
        return readNumber(value, "the control id");
    }

    bool readString(std::string& value, std::string_view what) {
        if (token_.kind != TokenKind::String)
            return fail("expected a quoted string for " + std::string(what) + ", found " +
                        quoted(token_));
        value = token_.text;
        return advance();
    }

    // A style: words and numbers joined by '|', each perhaps after NOT.
    bool readStyle(std::vector<std::string>& words, std::string_view what) {
        while (true) {
            std::string word;
            if (isWord("NOT")) {
                word = "NOT ";
                if (!advance()) return false;
            }
            if ((token_.kind != TokenKind::Word && token_.kind != TokenKind::Number) || isBegin() ||
                isEnd())
                return fail("expected a style word for " + std::string(what) + ", found " +
                            quoted(token_));
            word += token_.text;
            words.push_back(std::move(word));
            if (!advance()) return false;
            if (!isPunct('|')) return true;
            if (!advance()) return false;
        }
    }

    bool readRect(DialogRect& rect, std::string_view owner) {
        return readNumber(rect.x, "the x of " + std::string(owner)) && expectComma("x") &&
               readNumber(rect.y, "the y of " + std::string(owner)) && expectComma("y") &&
               readNumber(rect.width, "the width of " + std::string(owner)) &&
               expectComma("the width") &&
               readNumber(rect.height, "the height of " + std::string(owner));
    }

    // --- statements ---------------------------------------------------------

    void readScript() {
        while (token_.kind != TokenKind::End && !reading_.error) {
            if (token_.kind == TokenKind::Directive) {
                readDirective();
            } else if (isWord("LANGUAGE")) {
                std::string language;
                if (readLanguage(language)) reading_.script.languages.push_back(language);
            } else if (isWord("STRINGTABLE")) {
                readStringTable();
            } else if (token_.kind == TokenKind::Number) {
                readNumberedResource();
            } else {
                fail("unsupported statement " + quoted(token_) +
                     " (resources are numbered DIALOG, DIALOGEX or ICON, or a STRINGTABLE)");
            }
        }
    }

    void readDirective() {
        const std::string directive = token_.text;
        std::istringstream words(directive.substr(1));
        std::string name;
        words >> name;
        if (name == "include") {
            std::string target;
            std::getline(words >> std::ws, target);
            const bool quotedName =
                target.size() >= 2 && ((target.front() == '"' && target.back() == '"') ||
                                       (target.front() == '<' && target.back() == '>'));
            if (!quotedName) {
                fail("#include needs a \"file\" or <file>");
                return;
            }
            reading_.script.includes.push_back(target.substr(1, target.size() - 2));
        } else if (name.rfind("pragma", 0) == 0) {
            readPragma(directive);
            if (reading_.error) return;
        } else {
            fail("unsupported preprocessor directive '#" + name +
                 "' (only #include and #pragma code_page)");
            return;
        }
        advance();
    }

    void readPragma(const std::string& directive) {
        const std::string prefix = "code_page(";
        const std::size_t open = directive.find(prefix);
        const std::size_t close = directive.find(')', open);
        if (open == std::string::npos || close == std::string::npos) {
            fail("unsupported pragma '" + directive + "' (only #pragma code_page(N))");
            return;
        }
        const std::string number =
            directive.substr(open + prefix.size(), close - open - prefix.size());
        int codePage = 0;
        const auto parsed = std::from_chars(number.data(), number.data() + number.size(), codePage);
        if (parsed.ec != std::errc{} || parsed.ptr != number.data() + number.size()) {
            fail("code page '" + number + "' is not a number");
            return;
        }
        reading_.script.codePage = codePage;
    }

    bool readLanguage(std::string& language) {
        if (!advance()) return false;
        for (int part = 0; part < 2; ++part) {
            if (token_.kind != TokenKind::Word && token_.kind != TokenKind::Number)
                return fail("expected a language name after LANGUAGE, found " + quoted(token_));
            language += (part == 0 ? "" : ", ") + token_.text;
            if (!advance()) return false;
            if (part == 0 && !expectComma("the primary language")) return false;
        }
        return true;
    }

    void readNumberedResource() {
        const int line = token_.line;
        int id = 0;
        if (!readNumber(id, "the resource id")) return;
        if (isWord("DIALOG") || isWord("DIALOGEX")) {
            readDialog(id, line);
        } else if (isWord("ICON")) {
            readIconResource(id, line);
        } else {
            fail("unsupported resource type " + quoted(token_) + " for resource " +
                 std::to_string(id) + " (DIALOG, DIALOGEX or ICON)");
        }
    }

    void readIconResource(int id, int line) {
        if (!advance()) return;
        IconResource icon{id, {}, line};
        if (!readString(icon.fileName, "the icon file of icon " + std::to_string(id))) return;
        if (!reading_.script.icons.emplace(id, icon).second)
            failAt(line, "icon " + std::to_string(id) + " is defined twice");
    }

    void readStringTable() {
        const int line = token_.line;
        if (!advance()) return;
        while (isWord("LANGUAGE")) {
            std::string language;
            if (!readLanguage(language)) return;
        }
        if (!isBegin()) {
            fail("expected BEGIN after STRINGTABLE, found " + quoted(token_));
            return;
        }
        if (!advance()) return;
        while (!isEnd()) {
            if (token_.kind == TokenKind::End) {
                failAt(line, "STRINGTABLE has no END");
                return;
            }
            const int entryLine = token_.line;
            int id = 0;
            if (!readNumber(id, "a string id")) return;
            if (isPunct(',') && !advance()) return;
            std::string text;
            if (!readString(text, "string " + std::to_string(id))) return;
            if (!reading_.script.strings.emplace(id, text).second) {
                failAt(entryLine, "string " + std::to_string(id) + " is defined twice");
                return;
            }
        }
        advance();
    }

    void readDialog(int id, int line) {
        DialogTemplate dialog;
        dialog.id = id;
        dialog.line = line;
        dialog.extended = isWord("DIALOGEX");
        const std::string owner = "dialog " + std::to_string(id);
        if (!advance() || !readRect(dialog.rect, owner)) return;
        if (isPunct(',')) {  // DIALOGEX's optional help id
            int helpId = 0;
            if (!advance() || !readNumber(helpId, "the help id of " + owner)) return;
        }
        if (!readDialogOptions(dialog, owner)) return;
        if (!advance()) return;
        while (!isEnd()) {
            if (token_.kind == TokenKind::End) {
                failAt(line, owner + " has no END");
                return;
            }
            DialogControl control;
            if (!readControl(control, dialog.extended)) return;
            dialog.controls.push_back(std::move(control));
        }
        if (!advance()) return;
        if (!reading_.script.dialogs.emplace(id, std::move(dialog)).second)
            failAt(line, owner + " is defined twice");
    }

    bool readDialogOptions(DialogTemplate& dialog, const std::string& owner) {
        while (!isBegin()) {
            if (isWord("STYLE")) {
                if (!advance() || !readStyle(dialog.styles, "the STYLE of " + owner)) return false;
            } else if (isWord("EXSTYLE")) {
                if (!advance() || !readStyle(dialog.extendedStyles, "the EXSTYLE of " + owner))
                    return false;
            } else if (isWord("CAPTION")) {
                if (!advance() || !readString(dialog.caption, "the CAPTION of " + owner))
                    return false;
            } else if (isWord("FONT")) {
                if (!advance() || !readFont(dialog, owner)) return false;
            } else if (isWord("LANGUAGE")) {
                std::string language;
                if (!readLanguage(language)) return false;
            } else {
                return fail("unsupported option " + quoted(token_) + " in " + owner +
                            " (STYLE, EXSTYLE, CAPTION, FONT, LANGUAGE, then BEGIN)");
            }
        }
        return true;
    }

    bool readFont(DialogTemplate& dialog, const std::string& owner) {
        DialogFont font;
        if (!readNumber(font.pointSize, "the FONT size of " + owner) ||
            !expectComma("the font size") || !readString(font.face, "the FONT face of " + owner))
            return false;
        // DIALOGEX: weight, italic, character set.
        for (int extra = 0; dialog.extended && extra < 3 && isPunct(','); ++extra) {
            int ignored = 0;
            if (!advance() || !readNumber(ignored, "the FONT of " + owner)) return false;
        }
        dialog.font = font;
        return true;
    }

    bool readControl(DialogControl& control, bool extended) {
        control.line = token_.line;
        control.statement = token_.text;
        if (isWord("LTEXT") || isWord("CTEXT") || isWord("RTEXT")) {
            control.kind = ControlKind::Text;
            control.className = "Static";
            return advance() && readStandardControl(control, extended);
        }
        if (isWord("PUSHBUTTON") || isWord("DEFPUSHBUTTON")) {
            control.kind =
                isWord("DEFPUSHBUTTON") ? ControlKind::DefaultButton : ControlKind::Button;
            control.className = "Button";
            return advance() && readStandardControl(control, extended);
        }
        if (isWord("ICON")) return advance() && readIconControl(control, extended);
        if (isWord("COMBOBOX")) return advance() && readComboBox(control, extended);
        if (isWord("CONTROL")) return advance() && readCustomControl(control, extended);
        return fail("unsupported control statement " + quoted(token_) +
                    " (LTEXT, CTEXT, RTEXT, PUSHBUTTON, DEFPUSHBUTTON, ICON, COMBOBOX, CONTROL)");
    }

    std::string describeControl(const DialogControl& control) const {
        return control.statement + " control";
    }

    // [, style [, extended style]] after a control's rectangle.
    bool readTrailingStyles(DialogControl& control, bool extended) {
        if (!isPunct(',')) return true;
        if (!advance() ||
            !readStyle(control.styles, "the style of the " + describeControl(control)))
            return false;
        if (!isPunct(',')) return true;
        if (!advance() || !readStyle(control.extendedStyles,
                                     "the extended style of the " + describeControl(control)))
            return false;
        if (extended && isPunct(',')) {  // DIALOGEX controls may end with a help id
            int helpId = 0;
            return advance() &&
                   readNumber(helpId, "the help id of the " + describeControl(control));
        }
        return true;
    }

    bool readStandardControl(DialogControl& control, bool extended) {
        const std::string owner = describeControl(control);
        return readString(control.text, "the text of the " + owner) && expectComma("the text") &&
               readControlId(control.id) && expectComma("the control id") &&
               readRect(control.rect, "the " + owner) && readTrailingStyles(control, extended);
    }

    bool readIconControl(DialogControl& control, bool extended) {
        control.kind = ControlKind::Icon;
        control.className = "Static";
        if (token_.kind != TokenKind::Number && token_.kind != TokenKind::String &&
            token_.kind != TokenKind::Word)
            return fail("expected the icon an ICON control shows, found " + quoted(token_));
        control.text = token_.text;
        if (!advance() || !expectComma("the icon") || !readControlId(control.id) ||
            !expectComma("the control id") ||
            !readNumber(control.rect.x, "the x of the ICON control") || !expectComma("x") ||
            !readNumber(control.rect.y, "the y of the ICON control"))
            return false;
        if (!isPunct(',')) return true;
        // An icon control takes the size of its icon: the width and height
        // written are not kept in the compiled template either.
        int ignored = 0;
        if (!advance() || !readNumber(ignored, "the width of the ICON control") ||
            !expectComma("the width") || !readNumber(ignored, "the height of the ICON control"))
            return false;
        return readTrailingStyles(control, extended);
    }

    bool readComboBox(DialogControl& control, bool extended) {
        control.kind = ControlKind::ComboBox;
        control.className = "ComboBox";
        return readControlId(control.id) && expectComma("the control id") &&
               readRect(control.rect, "the COMBOBOX control") &&
               readTrailingStyles(control, extended);
    }

    bool readCustomControl(DialogControl& control, bool extended) {
        control.kind = ControlKind::Custom;
        if (!readString(control.text, "the text of the CONTROL") || !expectComma("the text") ||
            !readControlId(control.id) || !expectComma("the control id"))
            return false;
        if (token_.kind != TokenKind::String && token_.kind != TokenKind::Word)
            return fail("expected the window class of the CONTROL, found " + quoted(token_));
        control.className = token_.text;
        if (!advance() || !expectComma("the window class") ||
            !readStyle(control.styles, "the style of the CONTROL") || !expectComma("the style") ||
            !readRect(control.rect, "the CONTROL"))
            return false;
        if (!isPunct(',')) return true;
        if (!advance() || !readStyle(control.extendedStyles, "the extended style of the CONTROL"))
            return false;
        if (extended && isPunct(',')) {
            int helpId = 0;
            return advance() && readNumber(helpId, "the help id of the CONTROL");
        }
        return true;
    }

    Lexer lexer_;
    Token token_;
    ScriptReading reading_;
};

}  // namespace

ScriptReading readResourceScript(std::string_view text, std::string sourceName) {
    return Parser(text, std::move(sourceName)).run();
}

ScriptReading readResourceScriptFile(const std::filesystem::path& path) {
    std::vector<std::uint8_t> bytes;
    if (!firmware::readWholeFile(path.string(), bytes)) {
        ScriptReading reading;
        reading.script.sourceName = path.filename().string();
        reading.error = ScriptError{reading.script.sourceName, 0, "cannot be opened"};
        return reading;
    }
    const std::string text(bytes.begin(), bytes.end());
    return readResourceScript(text, path.filename().string());
}

}  // namespace sim

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/resource_script.h"
#include "support/case_names.h"

namespace sim {
namespace {

using testsupport::PrintTo;

ResourceScript readOk(const char* text) {
    ScriptReading reading = readResourceScript(text, "test.rc");
    EXPECT_TRUE(reading.ok()) << reading.error->describe();
    return reading.script;
}

TEST(ResourceScriptReader, ReadsADialogWithEveryControlStatement) {
    const ResourceScript script = readOk(R"rc(#pragma code_page(65001)
#include <winresrc.h>
#include "ids.h"
LANGUAGE LANG_ENGLISH, SUBLANG_ENGLISH_US

/* A dialog
   over two comment lines */
0x84 DIALOGEX 0, 0, 260, 90   // trailing comment
STYLE DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU | NOT WS_VISIBLE | 0x10
EXSTYLE WS_EX_TOOLWINDOW
CAPTION "Pick the ""right"" drive"
FONT 8, "MS Shell Dlg", 400, 0, 0x1
BEGIN
    ICON            156, IDC_STATIC, 10, 10
    ICON            "APP", -1, 10, 10, 20, 20, SS_ICON
    LTEXT           "Left\ttext\nnext", -1, 40, 10, 200, 18
    CTEXT           "Centred", -1, 40, 30, 200, 8
    RTEXT           "Right", -1, 40, 40, 200, 8, SS_NOPREFIX, WS_EX_TRANSPARENT
    COMBOBOX        1000, 40, 50, 120, 80, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
    CONTROL         "", 1003, "msctls_progress32", WS_BORDER, 10, 60, 240, 12
    CONTROL         "Check", 1004, BUTTON, BS_AUTOCHECKBOX | WS_TABSTOP, 10, 62, 60, 10, WS_EX_CLIENTEDGE
    DEFPUSHBUTTON   "&OK", IDOK, 124, 70, 60, 14, WS_GROUP
    PUSHBUTTON      "Cancel", IDCANCEL, 190, 70, 60, 14
END
)rc");
    EXPECT_EQ(script.codePage, 65001);
    EXPECT_EQ(script.includes, (std::vector<std::string>{"winresrc.h", "ids.h"}));
    EXPECT_EQ(script.languages, std::vector<std::string>{"LANG_ENGLISH, SUBLANG_ENGLISH_US"});
    const DialogTemplate* dialog = script.dialog(0x84);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->extended);
    EXPECT_EQ(dialog->line, 8);
    EXPECT_EQ(dialog->caption, "Pick the \"right\" drive");
    EXPECT_EQ(dialog->styles, (std::vector<std::string>{"DS_MODALFRAME", "WS_POPUP", "WS_CAPTION",
                                                        "WS_SYSMENU", "NOT WS_VISIBLE", "0x10"}));
    EXPECT_TRUE(dialog->hasStyle("ws_sysmenu"));
    EXPECT_FALSE(dialog->hasStyle("WS_VISIBLE")) << "NOT WS_VISIBLE is no WS_VISIBLE";
    EXPECT_EQ(dialog->extendedStyles, std::vector<std::string>{"WS_EX_TOOLWINDOW"});
    ASSERT_TRUE(dialog->font.has_value());
    EXPECT_EQ(dialog->font->pointSize, 8);
    EXPECT_EQ(dialog->font->face, "MS Shell Dlg");
    EXPECT_EQ(dialog->rect.width, 260);
    EXPECT_EQ(dialog->rect.height, 90);

    struct Expected {
        ControlKind kind;
        int id;
        const char* className;
        const char* text;
        DialogRect rect;
    };
    const Expected expected[] = {
        {ControlKind::Icon, kIdStatic, "Static", "156", {10, 10, 0, 0}},
        {ControlKind::Icon, kIdStatic, "Static", "APP", {10, 10, 0, 0}},
        {ControlKind::Text, kIdStatic, "Static", "Left\ttext\nnext", {40, 10, 200, 18}},
        {ControlKind::Text, kIdStatic, "Static", "Centred", {40, 30, 200, 8}},
        {ControlKind::Text, kIdStatic, "Static", "Right", {40, 40, 200, 8}},
        {ControlKind::ComboBox, 1000, "ComboBox", "", {40, 50, 120, 80}},
        {ControlKind::Custom, 1003, "msctls_progress32", "", {10, 60, 240, 12}},
        {ControlKind::Custom, 1004, "BUTTON", "Check", {10, 62, 60, 10}},
        {ControlKind::DefaultButton, kIdOk, "Button", "&OK", {124, 70, 60, 14}},
        {ControlKind::Button, kIdCancel, "Button", "Cancel", {190, 70, 60, 14}},
    };
    ASSERT_EQ(dialog->controls.size(), std::size(expected));
    for (std::size_t index = 0; index < std::size(expected); ++index) {
        SCOPED_TRACE("control " + std::to_string(index));
        const DialogControl& control = dialog->controls[index];
        EXPECT_EQ(control.kind, expected[index].kind);
        EXPECT_EQ(control.id, expected[index].id);
        EXPECT_EQ(control.className, expected[index].className);
        EXPECT_EQ(control.text, expected[index].text);
        EXPECT_EQ(control.rect.x, expected[index].rect.x);
        EXPECT_EQ(control.rect.y, expected[index].rect.y);
        EXPECT_EQ(control.rect.width, expected[index].rect.width);
        EXPECT_EQ(control.rect.height, expected[index].rect.height);
        EXPECT_EQ(control.line, 14 + static_cast<int>(index));
    }
    EXPECT_EQ(dialog->controls[0].iconId(), 156);
    EXPECT_EQ(dialog->controls[1].iconId(), std::nullopt);
    EXPECT_EQ(dialog->controls[4].extendedStyles, std::vector<std::string>{"WS_EX_TRANSPARENT"});
    EXPECT_TRUE(dialog->controls[5].hasStyle("CBS_DROPDOWNLIST"));
    EXPECT_EQ(dialog->buttons().size(), 2u) << "a CONTROL of class BUTTON is no push button";
    EXPECT_EQ(dialog->defaultButtonId(), kIdOk);
}

TEST(ResourceScriptReader, ReadsPlainDialogsBracesStringsAndIcons) {
    const ResourceScript script = readOk(R"rc(
7 DIALOG 10, 20, 100, 40
FONT 8, "MS Sans Serif"
{
    PUSHBUTTON "Stop", 1, 5, 5, 40, 14
    DEFPUSHBUTTON "Go on", 2, 50, 5, 40, 14
}
8 DIALOGEX 0, 0, 10, 10
BEGIN
END
STRINGTABLE
BEGIN
    101, "&About Velcrest..."
    102  "Größe – ✓"
    103  "tab\there ""quoted"" back\\slash"
END
156 ICON "icons/velcrest.ico"
)rc");
    const DialogTemplate* plain = script.dialog(7);
    ASSERT_NE(plain, nullptr);
    EXPECT_FALSE(plain->extended);
    EXPECT_EQ(plain->rect.x, 10);
    EXPECT_EQ(plain->rect.y, 20);
    EXPECT_EQ(plain->defaultButtonId(), kIdCancel) << "Enter presses the DEFPUSHBUTTON";
    EXPECT_TRUE(script.dialog(8)->controls.empty());
    EXPECT_EQ(script.dialog(8)->defaultButtonId(), kIdOk) << "no default button: IDOK";
    EXPECT_EQ(script.dialog(9), nullptr);
    ASSERT_NE(script.string(102), nullptr);
    EXPECT_EQ(*script.string(101), "&About Velcrest...");
    EXPECT_EQ(*script.string(102), "Größe – ✓") << "UTF-8 passes through as it is";
    EXPECT_EQ(*script.string(103), "tab\there \"quoted\" back\\slash");
    EXPECT_EQ(script.string(104), nullptr);
    ASSERT_TRUE(script.hasIcon(156));
    EXPECT_EQ(script.icons.at(156).fileName, "icons/velcrest.ico");
    EXPECT_FALSE(script.hasIcon(128));
}

struct ErrorCase {
    const char* name;
    const char* script;
    int line;
    const char* message;
};

class ResourceScriptError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ResourceScriptError, IsReportedWithItsLine) {
    const ScriptReading reading = readResourceScript(GetParam().script, "bad.rc");
    ASSERT_FALSE(reading.ok());
    EXPECT_EQ(reading.error->line, GetParam().line) << reading.error->describe();
    EXPECT_NE(reading.error->message.find(GetParam().message), std::string::npos)
        << reading.error->describe();
    EXPECT_EQ(
        reading.error->describe().rfind("bad.rc:" + std::to_string(GetParam().line) + ": ", 0), 0u);
    EXPECT_TRUE(reading.script.dialogs.empty() && reading.script.strings.empty())
        << "a script that cannot be read gives nothing half-read";
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, ResourceScriptError,
    ::testing::Values(
        ErrorCase{"UnsupportedResourceType", "\n100 MENU\nBEGIN\nEND\n", 2,
                  "unsupported resource type 'MENU'"},
        ErrorCase{"NamedResource", "IDD_MAIN DIALOGEX 0, 0, 10, 10\n", 1,
                  "unsupported statement 'IDD_MAIN'"},
        ErrorCase{"UnsupportedControl",
                  "100 DIALOGEX 0, 0, 10, 10\nBEGIN\n    GROUPBOX \"x\", -1, 0, 0, 5, 5\nEND\n", 3,
                  "unsupported control statement 'GROUPBOX'"},
        ErrorCase{"MissingComma",
                  "100 DIALOGEX 0, 0, 10, 10\nBEGIN\n    LTEXT \"x\" -1, 0, 0, 5, 5\nEND\n", 3,
                  "expected ',' after the text"},
        ErrorCase{"MissingRectangle", "100 DIALOGEX 0, 0, 10\nBEGIN\nEND\n", 2,
                  "expected ',' after the width"},
        ErrorCase{"UnclosedString", "STRINGTABLE\nBEGIN\n    101 \"About\nEND\n", 3, "not closed"},
        ErrorCase{"UnclosedComment", "// fine\n/* never\nclosed\n", 2, "never closed"},
        ErrorCase{"MissingEnd",
                  "\n\n100 DIALOGEX 0, 0, 10, 10\nBEGIN\n    LTEXT \"x\", -1, 0, 0, 5, 5\n", 3,
                  "dialog 100 has no END"},
        ErrorCase{"StringTableWithoutEnd", "STRINGTABLE\nBEGIN\n    101 \"x\"\n", 1,
                  "STRINGTABLE has no END"},
        ErrorCase{"StringTableWithoutBegin", "STRINGTABLE\n101 \"x\"\n", 2, "expected BEGIN"},
        ErrorCase{"DialogTwice",
                  "100 DIALOGEX 0, 0, 10, 10\nBEGIN\nEND\n100 DIALOGEX 0, 0, 10, 10\nBEGIN\nEND\n",
                  4, "dialog 100 is defined twice"},
        ErrorCase{"StringTwice", "STRINGTABLE\nBEGIN\n    101 \"a\"\n    101 \"b\"\nEND\n", 4,
                  "string 101 is defined twice"},
        ErrorCase{"IconTwice", "156 ICON \"a.ico\"\n156 ICON \"b.ico\"\n", 2,
                  "icon 156 is defined twice"},
        ErrorCase{"Define", "#include <winresrc.h>\n#define IDD_MAIN 102\n", 2,
                  "unsupported preprocessor directive '#define'"},
        ErrorCase{"OtherPragma", "#pragma once\n", 1, "only #pragma code_page"},
        ErrorCase{
            "UnknownControlId",
            "100 DIALOGEX 0, 0, 10, 10\nBEGIN\n    PUSHBUTTON \"x\", IDC_GO, 0, 0, 5, 5\nEND\n", 3,
            "unknown control id 'IDC_GO'"},
        ErrorCase{"BadNumber", "100 DIALOGEX 0, 0, 10, 1O\n", 1, "'1O' is not a number"},
        ErrorCase{"HugeNumber", "4294967296 ICON \"a.ico\"\n", 1, "too large"},
        ErrorCase{"UnknownEscape", "STRINGTABLE\nBEGIN\n    101 \"a\\qb\"\nEND\n", 3,
                  "unknown escape '\\q'"},
        ErrorCase{"UnsupportedDialogOption", "100 DIALOGEX 0, 0, 10, 10\nMENU 5\nBEGIN\nEND\n", 2,
                  "unsupported option 'MENU' in dialog 100"},
        ErrorCase{"StyleWithoutWord", "100 DIALOGEX 0, 0, 10, 10\nSTYLE WS_POPUP |\nBEGIN\nEND\n",
                  3, "expected a style word for the STYLE of dialog 100"},
        ErrorCase{
            "ControlWithoutClass",
            "100 DIALOGEX 0, 0, 10, 10\nBEGIN\n    CONTROL \"\", 1003, , 0, 0, 0, 5, 5\nEND\n", 3,
            "expected the window class of the CONTROL"},
        ErrorCase{"StrayCharacter", "100 DIALOGEX 0, 0, 10, 10 ;\n", 1, "unexpected character ';'"},
        ErrorCase{"IconWithoutFile", "156 ICON icons/velcrest.ico\n", 1,
                  "expected a quoted string for the icon file"}),
    testsupport::NameOfCase{});

TEST(ResourceScriptReader, MissingFileIsAnError) {
    const ScriptReading reading = readResourceScriptFile("/nonexistent/KELDRA_XXX.rc");
    ASSERT_FALSE(reading.ok());
    EXPECT_EQ(reading.error->describe(), "KELDRA_XXX.rc:0: cannot be opened");
}

TEST(ResourceScriptReader, MnemonicsDisappearFromShownText) {
    const std::pair<const char*, const char*> cases[] = {{"&OK", "OK"},
                                                         {"Save && quit", "Save & quit"},
                                                         {"&&&Go", "&Go"},
                                                         {"plain", "plain"},
                                                         {"end&", "end"}};
    for (const auto& [written, shown] : cases)
        EXPECT_EQ(withoutMnemonics(written), shown) << written;
}

}  // namespace
}  // namespace sim

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "script_files.h"
#include "sim/resource_script.h"
#include "support/case_names.h"

// A translated library is the English one with other words: the same
// dialogs, controls, ids, styles and buttons, so that a program behaves the
// same in every language. Only texts, positions and sizes may differ.
namespace resources {
namespace {

using testsupport::PrintTo;

using sim::DialogControl;
using sim::DialogTemplate;
using sim::ResourceScript;

constexpr int kUtf8CodePage = 65001;
constexpr std::string_view kEnglish = "ENG";
constexpr std::string_view kUpdatePrefix = "KELDRA_";
constexpr std::string_view kFormatPrefix = "FORMAT_";

// Every code the language choice can pick, with what its libraries declare:
// the resource language Windows files them under and a dialog font that the
// old systems of that language carry.
struct Language {
    std::string_view code;
    std::string_view language;
    std::string_view fontFace;
    int pointSize;
};

constexpr Language kLanguages[] = {
    {"JPN", "LANG_JAPANESE, SUBLANG_DEFAULT", "MS UI Gothic", 9},
    {"ENG", "LANG_ENGLISH, SUBLANG_ENGLISH_US", "MS Shell Dlg", 8},
    {"FRA", "LANG_FRENCH, SUBLANG_FRENCH", "MS Shell Dlg", 8},
    {"GER", "LANG_GERMAN, SUBLANG_GERMAN", "MS Shell Dlg", 8},
    {"ITA", "LANG_ITALIAN, SUBLANG_ITALIAN", "MS Shell Dlg", 8},
    {"ESP", "LANG_SPANISH, SUBLANG_SPANISH_MODERN", "MS Shell Dlg", 8},
    {"CHS", "LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED", "SimSun", 9},
    {"CHT", "LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL", "PMingLiU", 9},
    {"KOR", "LANG_KOREAN, SUBLANG_KOREAN", "Gulim", 9},
};

bool sameWord(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::toupper(static_cast<unsigned char>(a)) ==
                      std::toupper(static_cast<unsigned char>(b));
           });
}

bool sameWords(const std::vector<std::string>& left, const std::vector<std::string>& right) {
    return std::equal(left.begin(), left.end(), right.begin(), right.end(),
                      [](const std::string& a, const std::string& b) { return sameWord(a, b); });
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " | ") + word;
    return text;
}

void compareControl(const DialogControl& english, const DialogControl& translated,
                    const std::string& where, std::vector<std::string>& differences) {
    if (!sameWord(english.statement, translated.statement))
        differences.push_back(where + " is a " + translated.statement + ", not a " +
                              english.statement);
    if (english.id != translated.id)
        differences.push_back(where + " has id " + std::to_string(translated.id) + ", not " +
                              std::to_string(english.id));
    if (!sameWord(english.className, translated.className))
        differences.push_back(where + " is of class " + translated.className + ", not " +
                              english.className);
    if (!sameWords(english.styles, translated.styles) ||
        !sameWords(english.extendedStyles, translated.extendedStyles))
        differences.push_back(where + " has the style " + joined(translated.styles) + ", not " +
                              joined(english.styles));
    if (english.kind == sim::ControlKind::Icon && english.text != translated.text)
        differences.push_back(where + " shows icon " + translated.text + ", not " + english.text);
}

void compareDialog(const DialogTemplate& english, const DialogTemplate& translated,
                   std::vector<std::string>& differences) {
    const std::string dialog = "dialog " + std::to_string(english.id);
    if (english.extended != translated.extended)
        differences.push_back(dialog + ": DIALOG and DIALOGEX differ");
    if (!sameWords(english.styles, translated.styles) ||
        !sameWords(english.extendedStyles, translated.extendedStyles))
        differences.push_back(dialog + " has the style " + joined(translated.styles) + ", not " +
                              joined(english.styles));
    if (english.defaultButtonId() != translated.defaultButtonId())
        differences.push_back(dialog + ": Enter presses button " +
                              std::to_string(translated.defaultButtonId()) + ", not " +
                              std::to_string(english.defaultButtonId()));
    if (english.controls.size() != translated.controls.size()) {
        differences.push_back(dialog + " has " + std::to_string(translated.controls.size()) +
                              " controls, not " + std::to_string(english.controls.size()));
        return;
    }
    for (std::size_t index = 0; index < english.controls.size(); ++index)
        compareControl(english.controls[index], translated.controls[index],
                       dialog + ", control " + std::to_string(index + 1), differences);
}

// Every way the translated library is built differently from the English one.
std::vector<std::string> differencesFromEnglish(const ResourceScript& english,
                                                const ResourceScript& translated) {
    std::vector<std::string> differences;
    for (const auto& [id, dialog] : english.dialogs) {
        const DialogTemplate* counterpart = translated.dialog(id);
        if (counterpart == nullptr) {
            differences.push_back("dialog " + std::to_string(id) + " is missing");
            continue;
        }
        compareDialog(dialog, *counterpart, differences);
    }
    for (const auto& [id, dialog] : translated.dialogs)
        if (english.dialog(id) == nullptr)
            differences.push_back("dialog " + std::to_string(id) + " is not in English");
    for (const auto& [id, text] : english.strings)
        if (translated.string(id) == nullptr)
            differences.push_back("string " + std::to_string(id) + " is missing");
    for (const auto& [id, text] : translated.strings)
        if (english.string(id) == nullptr)
            differences.push_back("string " + std::to_string(id) + " is not in English");
    for (const auto& [id, icon] : english.icons) {
        const auto found = translated.icons.find(id);
        if (found == translated.icons.end() || found->second.fileName != icon.fileName)
            differences.push_back("icon " + std::to_string(id) + " is not " + icon.fileName);
    }
    if (translated.icons.size() != english.icons.size())
        differences.push_back("the icons differ in number");
    return differences;
}

// A sentence left in English: a text of a few words exactly as the English
// library has it in the same place. Single words and names ("OK", "Ardlow")
// may well stay as they are.
constexpr int kWordsOfASentence = 4;

bool isSentence(const std::string& text) {
    return std::count(text.begin(), text.end(), ' ') + 1 >= kWordsOfASentence;
}

std::vector<std::string> englishLeftOver(const ResourceScript& english,
                                         const ResourceScript& translated) {
    std::vector<std::string> leftOver;
    const auto check = [&](const std::string& englishText, const std::string& text) {
        if (text == englishText && isSentence(text)) leftOver.push_back("\"" + text + "\"");
    };
    for (const auto& [id, dialog] : english.dialogs) {
        const DialogTemplate* counterpart = translated.dialog(id);
        if (counterpart == nullptr) continue;
        check(dialog.caption, counterpart->caption);
        const std::size_t shared = std::min(dialog.controls.size(), counterpart->controls.size());
        for (std::size_t index = 0; index < shared; ++index)
            check(dialog.controls[index].text, counterpart->controls[index].text);
    }
    for (const auto& [id, text] : english.strings)
        if (const std::string* counterpart = translated.string(id)) check(text, *counterpart);
    return leftOver;
}

std::filesystem::path libraryPath(std::string_view prefix, std::string_view code) {
    return resourcesFolder() / (std::string(prefix) + std::string(code) + ".rc");
}

// "KELDRA_FRA.rc" -> "FRA"; empty for a script that is no language library.
std::string libraryCode(const ScriptFile& script, std::string_view& prefix) {
    if (script.required != &kUpdateLibrary && script.required != &kFormatLibrary) return {};
    prefix = script.required == &kUpdateLibrary ? kUpdatePrefix : kFormatPrefix;
    return script.path.stem().string().substr(prefix.size());
}

TEST(LanguageLibraries, EveryCodeOfTheLanguageChoiceHasBothLibraries) {
    for (const Language& language : kLanguages) {
        for (const std::string_view prefix : {kUpdatePrefix, kFormatPrefix}) {
            EXPECT_TRUE(std::filesystem::is_regular_file(libraryPath(prefix, language.code)))
                << libraryPath(prefix, language.code).filename();
        }
    }
}

class LanguageLibrary : public ::testing::TestWithParam<ScriptFile> {
  protected:
    void SetUp() override {
        code_ = libraryCode(GetParam(), prefix_);
        if (code_.empty()) GTEST_SKIP() << "not a language library";
        reading_ = sim::readResourceScriptFile(GetParam().path);
        ASSERT_TRUE(reading_.ok()) << reading_.error->describe();
    }

    const ResourceScript& script() const { return reading_.script; }

    std::string_view prefix_;
    std::string code_;
    sim::ScriptReading reading_;
};

TEST_P(LanguageLibrary, DeclaresTheLanguageAndFontOfItsCode) {
    const auto language = std::find_if(std::begin(kLanguages), std::end(kLanguages),
                                       [&](const Language& each) { return each.code == code_; });
    ASSERT_NE(language, std::end(kLanguages))
        << code_ << " is no code the language choice can pick, so no program loads it";
    EXPECT_EQ(script().codePage, kUtf8CodePage) << "the texts are UTF-8";
    EXPECT_EQ(script().languages, std::vector<std::string>{std::string(language->language)});
    for (const auto& [id, dialog] : script().dialogs) {
        ASSERT_TRUE(dialog.font.has_value()) << "dialog " << id;
        EXPECT_EQ(dialog.font->face, language->fontFace) << "dialog " << id;
        EXPECT_EQ(dialog.font->pointSize, language->pointSize) << "dialog " << id;
    }
}

TEST_P(LanguageLibrary, IsTheEnglishLibraryInOtherWords) {
    if (code_ == kEnglish) GTEST_SKIP() << "the English library is the model";
    const sim::ScriptReading english = sim::readResourceScriptFile(libraryPath(prefix_, kEnglish));
    ASSERT_TRUE(english.ok()) << english.error->describe();
    for (const std::string& difference : differencesFromEnglish(english.script, script()))
        ADD_FAILURE() << difference;
    for (const std::string& text : englishLeftOver(english.script, script()))
        ADD_FAILURE() << "left in English: " << text;
}

INSTANTIATE_TEST_SUITE_P(Resources, LanguageLibrary, ::testing::ValuesIn(scriptFiles()),
                         testsupport::NameOfCase{});

// The comparison finds each way a translation can drift from the English.
constexpr const char* kEnglishModel = R"rc(
100 DIALOGEX 0, 0, 200, 60
STYLE WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "About"
BEGIN
    ICON 156, -1, 10, 10
    LTEXT "Click OK to close the program.", -1, 40, 10, 150, 9
    DEFPUSHBUTTON "OK", IDOK, 70, 40, 60, 14
    PUSHBUTTON "Cancel", IDCANCEL, 130, 40, 60, 14
END
STRINGTABLE
BEGIN
    101 "&About..."
END
156 ICON "icons/velcrest.ico"
)rc";

struct Drift {
    const char* name;
    const char* from;   // a line of the English model
    const char* to;     // what the translation has instead
    const char* found;  // part of the one difference expected; empty: none
};

const Drift kDrifts[] = {
    {"OnlyWordsAndPlaces", "\"Click OK to close the program.\", -1, 40, 10, 150, 9",
     "\"Cliquez sur OK pour fermer.\", -1, 40, 12, 150, 18", ""},
    {"ControlId", "IDCANCEL, 130", "3, 130", "has id 3"},
    {"ControlStatement", "PUSHBUTTON \"Cancel\"", "LTEXT \"Cancel\"", "is a LTEXT"},
    {"DefaultButton", "DEFPUSHBUTTON \"OK\", IDOK, 70, 40, 60, 14\n    PUSHBUTTON \"Cancel\"",
     "PUSHBUTTON \"OK\", IDOK, 70, 40, 60, 14\n    DEFPUSHBUTTON \"Cancel\"",
     "Enter presses button 2, not 1"},
    {"DialogStyle", "WS_CAPTION | WS_SYSMENU", "WS_CAPTION", "has the style"},
    {"ControlStyle", "130, 40, 60, 14", "130, 40, 60, 14, WS_DISABLED", "has the style"},
    {"IconShown", "ICON 156", "ICON 128", "shows icon 128"},
    {"ControlMissing", "    PUSHBUTTON \"Cancel\", IDCANCEL, 130, 40, 60, 14\n", "",
     "has 3 controls, not 4"},
    {"StringMissing", "    101 \"&About...\"\n", "    102 \"&About...\"\n", "string 101"},
    {"DialogMissing", "100 DIALOGEX", "101 DIALOGEX", "dialog 100"},
    {"IconFile", "icons/velcrest.ico", "icons/ardlow.ico", "icon 156"},
};

class EnglishComparison : public ::testing::TestWithParam<Drift> {};

TEST_P(EnglishComparison, FindsTheDrift) {
    const Drift& drift = GetParam();
    std::string translated = kEnglishModel;
    const std::size_t at = translated.find(drift.from);
    ASSERT_NE(at, std::string::npos) << drift.from;
    translated.replace(at, std::string_view(drift.from).size(), drift.to);
    const sim::ScriptReading english = sim::readResourceScript(kEnglishModel, "english.rc");
    const sim::ScriptReading other = sim::readResourceScript(translated, "translated.rc");
    ASSERT_TRUE(english.ok()) << english.error->describe();
    ASSERT_TRUE(other.ok()) << other.error->describe();
    std::vector<std::string> differences = differencesFromEnglish(english.script, other.script);
    if (std::string_view(drift.found).empty()) {
        EXPECT_TRUE(differences.empty()) << differences.front();
        EXPECT_TRUE(englishLeftOver(english.script, other.script).empty());
        return;
    }
    ASSERT_FALSE(differences.empty());
    const bool named = std::any_of(differences.begin(), differences.end(), [&](const auto& each) {
        return each.find(drift.found) != std::string::npos;
    });
    EXPECT_TRUE(named) << differences.front();
}

INSTANTIATE_TEST_SUITE_P(Drifts, EnglishComparison, ::testing::ValuesIn(kDrifts),
                         testsupport::NameOfCase{});

TEST(EnglishComparison, FindsASentenceLeftInEnglish) {
    const sim::ScriptReading english = sim::readResourceScript(kEnglishModel, "english.rc");
    ASSERT_TRUE(english.ok()) << english.error->describe();
    const std::vector<std::string> leftOver = englishLeftOver(english.script, english.script);
    EXPECT_EQ(leftOver, std::vector<std::string>{"\"Click OK to close the program.\""})
        << "short words such as \"OK\" and \"About\" may stay as they are";
}

}  // namespace
}  // namespace resources

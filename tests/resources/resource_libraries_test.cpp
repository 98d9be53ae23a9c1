#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>
#include <string>

#include "script_files.h"
#include "sim/resource_script.h"
#include "support/case_names.h"

namespace resources {
namespace {

using sim::ControlKind;
using sim::DialogControl;
using sim::DialogTemplate;

bool equalsIgnoringCase(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

TEST(ResourceFolder, HoldsTheScriptsOfBothProgramsAndNothingUnknown) {
    std::set<std::string> names;
    for (const ScriptFile& script : scriptFiles()) {
        names.insert(script.path.filename().string());
        EXPECT_NE(script.required, nullptr)
            << script.path.filename() << " is no library (KELDRA_<LNG>.rc, FORMAT_<LNG>.rc) and no "
            << "program script (velcrest.rc, ardlow.rc), so nothing checks it";
    }
    for (const char* expected : {"KELDRA_ENG.rc", "FORMAT_ENG.rc", "velcrest.rc", "ardlow.rc"})
        EXPECT_EQ(names.count(expected), 1u) << expected;
}

class ResourceScriptFile : public ::testing::TestWithParam<ScriptFile> {
  protected:
    void SetUp() override {
        if (GetParam().required == nullptr) GTEST_SKIP() << "not a script of a known kind";
        reading = sim::readResourceScriptFile(GetParam().path);
        ASSERT_TRUE(reading.ok()) << reading.error->describe();
    }

    const RequiredResources& required() const { return *GetParam().required; }
    const sim::ResourceScript& script() const { return reading.script; }

    sim::ScriptReading reading;
};

void checkButtons(const DialogTemplate& dialog, const RequiredDialog& need) {
    std::set<int> present;
    int defaults = 0;
    for (const DialogControl* button : dialog.buttons()) {
        present.insert(button->id);
        if (button->kind == ControlKind::DefaultButton) ++defaults;
        EXPECT_TRUE(button->id == kOk || button->id == kCancel)
            << "button \"" << button->text << "\" (id " << button->id
            << ") does nothing: the programs read only OK (1) and Cancel (2)";
        EXPECT_FALSE(sim::withoutMnemonics(button->text).empty())
            << "button " << button->id << " has no label";
    }
    EXPECT_EQ(present, std::set<int>(need.buttons.begin(), need.buttons.end()))
        << "the buttons the dialog offers";
    EXPECT_LE(defaults, 1) << "more than one default button";
    if (!need.buttons.empty()) {
        EXPECT_EQ(defaults, 1) << "Enter needs a default button";
    }
}

void checkControls(const DialogTemplate& dialog, const RequiredDialog& need) {
    for (const RequiredControl& control : need.controls) {
        const DialogControl* found = dialog.control(control.id);
        ASSERT_NE(found, nullptr) << "control " << control.id;
        EXPECT_TRUE(equalsIgnoringCase(found->className, control.className))
            << "control " << control.id << " is a " << found->className << ", not a "
            << control.className;
    }
}

void checkTexts(const DialogTemplate& dialog, const RequiredDialog& need) {
    EXPECT_FALSE(dialog.caption.empty()) << "no caption";
    const bool hasText = std::any_of(
        dialog.controls.begin(), dialog.controls.end(),
        [](const DialogControl& c) { return c.kind == ControlKind::Text && !c.text.empty(); });
    EXPECT_TRUE(hasText) << "the dialog tells the user nothing";
    if (!need.caption.empty()) {
        EXPECT_EQ(dialog.caption, need.caption);
    }
    if (!need.text.empty()) {
        const bool shown = std::any_of(
            dialog.controls.begin(), dialog.controls.end(), [&](const DialogControl& c) {
                return c.kind == ControlKind::Text && c.text == need.text;
            });
        EXPECT_TRUE(shown) << "no line \"" << need.text << "\"";
    }
}

TEST_P(ResourceScriptFile, HoldsEveryDialogWithItsButtonsAndControls) {
    for (const RequiredDialog& need : required().dialogs) {
        SCOPED_TRACE("dialog " + std::to_string(need.id) + " (" + std::string(need.role) + ")");
        const DialogTemplate* dialog = script().dialog(need.id);
        ASSERT_NE(dialog, nullptr) << "missing from " << required().name;
        checkButtons(*dialog, need);
        checkControls(*dialog, need);
        checkTexts(*dialog, need);
        if (need.systemMenu == SystemMenu::Required) {
            EXPECT_TRUE(dialog->hasStyle("WS_SYSMENU")) << "the About entry needs a system menu";
        }
        if (need.systemMenu == SystemMenu::Forbidden) {
            EXPECT_FALSE(dialog->hasStyle("WS_SYSMENU"))
                << "a close box would hide the window mid-work";
        }
        if (need.iconControl != 0) {
            const bool named =
                std::any_of(dialog->controls.begin(), dialog->controls.end(),
                            [&](const DialogControl& c) { return c.iconId() == need.iconControl; });
            EXPECT_TRUE(named) << "no ICON control naming icon " << need.iconControl;
        }
    }
}

TEST_P(ResourceScriptFile, HoldsEveryStringAndIcon) {
    for (const int id : required().strings) {
        const std::string* text = script().string(id);
        ASSERT_NE(text, nullptr) << "string " << id;
        EXPECT_FALSE(text->empty()) << "string " << id << " is empty, so nothing would be shown";
    }
    for (const int id : required().icons) EXPECT_TRUE(script().hasIcon(id)) << "icon " << id;
}

TEST_P(ResourceScriptFile, IconsAreIconFilesAndIconControlsNameHeldIcons) {
    constexpr unsigned char kIconFileStart[] = {0, 0, 1, 0};
    for (const auto& [id, icon] : script().icons) {
        std::ifstream file(GetParam().path.parent_path() / icon.fileName, std::ios::binary);
        ASSERT_TRUE(file) << "icon " << id << ": " << icon.fileName << " is missing";
        unsigned char start[sizeof kIconFileStart] = {};
        file.read(reinterpret_cast<char*>(start), sizeof start);
        EXPECT_TRUE(std::equal(std::begin(start), std::end(start), std::begin(kIconFileStart)))
            << icon.fileName << " is not an .ico file";
    }
    for (const auto& [id, dialog] : script().dialogs) {
        for (const DialogControl& control : dialog.controls) {
            if (control.kind != ControlKind::Icon) continue;
            ASSERT_TRUE(control.iconId().has_value())
                << "dialog " << id << " names icon " << control.text;
            EXPECT_TRUE(script().hasIcon(*control.iconId()))
                << "dialog " << id << " shows icon " << *control.iconId()
                << ", which the script lacks";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Resources, ResourceScriptFile, ::testing::ValuesIn(scriptFiles()),
                         testsupport::NameOfCase{});

}  // namespace
}  // namespace resources

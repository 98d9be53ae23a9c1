#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "compiled_resources.h"
#include "script_files.h"
#include "sim/resource_script.h"
#include "support/case_names.h"
#include "support/scratch_folder.h"

namespace resources {
namespace {

bool sameClass(std::string_view left, std::string_view right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string quotedForShell(const std::filesystem::path& path) {
    std::string quoted = "'";
    for (const char c : path.string())
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

class WindresCompiles : public ::testing::TestWithParam<ScriptFile> {
  protected:
    // Compiles the script as the Windows build does and decodes the result.
    void SetUp() override {
        const auto windres = findWindres();
        if (!windres)
            GTEST_SKIP() << "no mingw-w64 windres on this machine (scripts/setup installs it)";
        scratch_.emplace("windres");
        const std::filesystem::path output = scratch_->path() / (GetParam().name + ".res");
        const std::filesystem::path log = output.string() + ".log";
        const std::string command = quotedForShell(*windres) + " -I " +
                                    quotedForShell(resourcesFolder()) + " " +
                                    quotedForShell(GetParam().path) + " -O res -o " +
                                    quotedForShell(output) + " > " + quotedForShell(log) + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command << "\n" << fileText(log);
        const std::string bytes = fileText(output);
        std::string error;
        auto decoded = decodeResFile(std::vector<std::uint8_t>(bytes.begin(), bytes.end()), error);
        ASSERT_TRUE(decoded.has_value()) << error;
        compiled = std::move(*decoded);
        reading = sim::readResourceScriptFile(GetParam().path);
        ASSERT_TRUE(reading.ok()) << reading.error->describe();
    }

    CompiledResources compiled;
    sim::ScriptReading reading;

  private:
    std::optional<testsupport::ScratchFolder> scratch_;
};

// What Windows will show is what the simulator shows: the same dialogs,
// controls, texts and places, the same strings and icons.
TEST_P(WindresCompiles, AndReadsAsTheSimulatorReadsIt) {
    const sim::ResourceScript& script = reading.script;
    ASSERT_EQ(compiled.dialogs.size(), script.dialogs.size());
    for (const auto& [id, dialog] : script.dialogs) {
        SCOPED_TRACE("dialog " + std::to_string(id));
        ASSERT_EQ(compiled.dialogs.count(id), 1u);
        const CompiledDialog& built = compiled.dialogs.at(id);
        EXPECT_EQ(built.extended, dialog.extended);
        EXPECT_EQ(built.caption, dialog.caption);
        EXPECT_EQ(built.rect.width, dialog.rect.width);
        EXPECT_EQ(built.rect.height, dialog.rect.height);
        ASSERT_EQ(built.controls.size(), dialog.controls.size());
        for (std::size_t index = 0; index < dialog.controls.size(); ++index) {
            const sim::DialogControl& control = dialog.controls[index];
            const CompiledControl& compiledControl = built.controls[index];
            SCOPED_TRACE("line " + std::to_string(control.line));
            EXPECT_EQ(compiledControl.id, control.id);
            EXPECT_TRUE(sameClass(compiledControl.className, control.className))
                << compiledControl.className << " / " << control.className;
            EXPECT_EQ(compiledControl.text, control.text);
            EXPECT_EQ(compiledControl.rect.x, control.rect.x);
            EXPECT_EQ(compiledControl.rect.y, control.rect.y);
            EXPECT_EQ(compiledControl.rect.width, control.rect.width);
            EXPECT_EQ(compiledControl.rect.height, control.rect.height);
        }
    }
    EXPECT_EQ(compiled.strings, script.strings);
    std::set<int> icons;
    for (const auto& [id, icon] : script.icons) icons.insert(id);
    EXPECT_EQ(compiled.iconGroups, icons);
}

INSTANTIATE_TEST_SUITE_P(Resources, WindresCompiles, ::testing::ValuesIn(scriptFiles()),
                         testsupport::NameOfCase{});

}  // namespace
}  // namespace resources

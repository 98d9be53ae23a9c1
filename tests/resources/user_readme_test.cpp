#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "script_files.h"
#include "sim/resource_script.h"

namespace resources {
namespace {

// The end users' README names the notices by the captions a person sees in
// English; a caption changed in the library and not there leaves the reader
// of the README looking for a message that never appears.
std::set<std::string> englishCaptions() {
    std::set<std::string> captions;
    for (const char* library : {"KELDRA_ENG.rc", "FORMAT_ENG.rc"}) {
        const sim::ScriptReading reading = sim::readResourceScriptFile(resourcesFolder() / library);
        EXPECT_TRUE(reading.ok()) << library;
        for (const auto& [id, dialog] : reading.script.dialogs) captions.insert(dialog.caption);
    }
    return captions;
}

std::string readText(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

TEST(UserReadme, NamesOnlyNoticesTheProgramsShow) {
    const std::string readme =
        readText(std::filesystem::path(VELCREST_SOURCE_DIR) / "packaging" / "README.txt");
    ASSERT_FALSE(readme.empty());
    const std::set<std::string> captions = englishCaptions();

    const std::regex quoted("\"([^\"]+)\"");
    int named = 0;
    for (auto match = std::sregex_iterator(readme.begin(), readme.end(), quoted);
         match != std::sregex_iterator(); ++match) {
        const std::string caption = (*match)[1];
        EXPECT_EQ(captions.count(caption), 1u)
            << "README.txt names \"" << caption << "\", the caption of no English notice";
        ++named;
    }
    EXPECT_GT(named, 0) << "README.txt names no notice at all";
}

}  // namespace
}  // namespace resources

#include "shell/language_library.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "support/sim_process.h"

namespace {

struct CodeCase {
    const char* abbreviatedName;
    std::optional<std::string_view> code;
};

void PrintTo(const CodeCase& c, std::ostream* out) {
    *out << '"' << c.abbreviatedName << '"';
}

// Every abbreviated name of the table, and the near misses that must not
// match: other letter case, a prefix, a longer name, an empty one.
const CodeCase kCodeCases[] = {
    {"JPN", "JPN"},
    {"ENA", "ENG"},
    {"ENB", "ENG"},
    {"ENC", "ENG"},
    {"ENG", "ENG"},
    {"ENJ", "ENG"},
    {"ENL", "ENG"},
    {"ENP", "ENG"},
    {"ENS", "ENG"},
    {"ENT", "ENG"},
    {"ENU", "ENG"},
    {"ENW", "ENG"},
    {"ENZ", "ENG"},
    {"ENI", "ENG"},
    {"FRA", "FRA"},
    {"FRB", "FRA"},
    {"FRC", "FRA"},
    {"FRL", "FRA"},
    {"FRM", "FRA"},
    {"FRS", "FRA"},
    {"DEA", "GER"},
    {"DEU", "GER"},
    {"DES", "GER"},
    {"ITA", "ITA"},
    {"ITS", "ITA"},
    {"ESC", "ESP"},
    {"ESA", "ESP"},
    {"ESB", "ESP"},
    {"ESD", "ESP"},
    {"ESE", "ESP"},
    {"ESF", "ESP"},
    {"ESG", "ESP"},
    {"ESH", "ESP"},
    {"ESI", "ESP"},
    {"ESL", "ESP"},
    {"ESM", "ESP"},
    {"ESN", "ESP"},
    {"ESO", "ESP"},
    {"ESP", "ESP"},
    {"ESR", "ESP"},
    {"ESS", "ESP"},
    {"ESU", "ESP"},
    {"ESV", "ESP"},
    {"ESY", "ESP"},
    {"ESZ", "ESP"},
    {"CHS", "CHS"},
    {"ZHH", "CHT"},
    {"CHT", "CHT"},
    {"KOR", "KOR"},
    // Not in the table.
    {"enu", std::nullopt},
    {"Enu", std::nullopt},
    {"EN", std::nullopt},
    {"ENUS", std::nullopt},
    {"", std::nullopt},
    {"NLD", std::nullopt},
    {"GER", std::nullopt},
    {"ESX", std::nullopt},
    {"ZHI", std::nullopt},
    {"ENU ", std::nullopt},
};

class LanguageCodeTest : public testing::TestWithParam<CodeCase> {};

TEST_P(LanguageCodeTest, MapsTheWholeNameCaseSensitively) {
    const CodeCase& c = GetParam();
    EXPECT_EQ(shell::languageCode(c.abbreviatedName), c.code) << "name " << c.abbreviatedName;
}

INSTANTIATE_TEST_SUITE_P(Table, LanguageCodeTest, testing::ValuesIn(kCodeCases));

TEST(LanguageLibraryName, JoinsPrefixCodeAndExtension) {
    EXPECT_EQ(shell::languageLibraryName(shell::kUpdateLibraryPrefix, "ENG"), "KELDRA_ENG.dll");
    EXPECT_EQ(shell::languageLibraryName(shell::kFormatLibraryPrefix, "CHT"), "FORMAT_CHT.dll");
}

struct LoadCase {
    const char* description;
    std::optional<std::string> localeName;  // none: the look-up fails
    std::string_view prefix;
    bool libraryPresent;
    std::vector<std::string> expectedRequests;
    bool expectLoaded;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.description;
}

const LoadCase kLoadCases[] = {
    {.description = "english locale, library present",
     .localeName = "ENU",
     .prefix = shell::kUpdateLibraryPrefix,
     .libraryPresent = true,
     .expectedRequests = {"KELDRA_ENG.dll"},
     .expectLoaded = true},
    {.description = "german locale, format program",
     .localeName = "DEU",
     .prefix = shell::kFormatLibraryPrefix,
     .libraryPresent = true,
     .expectedRequests = {"FORMAT_GER.dll"},
     .expectLoaded = true},
    {.description = "library missing",
     .localeName = "FRA",
     .prefix = shell::kUpdateLibraryPrefix,
     .libraryPresent = false,
     .expectedRequests = {"KELDRA_FRA.dll"},
     .expectLoaded = false},
    {.description = "unknown locale loads nothing",
     .localeName = "NLD",
     .prefix = shell::kUpdateLibraryPrefix,
     .libraryPresent = true,
     .expectedRequests = {},
     .expectLoaded = false},
    {.description = "locale lookup fails",
     .localeName = std::nullopt,
     .prefix = shell::kUpdateLibraryPrefix,
     .libraryPresent = true,
     .expectedRequests = {},
     .expectLoaded = false},
};

class LoadLanguageLibraryTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadLanguageLibraryTest, LoadsByBareNameAndSetsTheResourceModule) {
    const LoadCase& c = GetParam();
    testsupport::SimProcess process;
    process.setup.localeAbbreviation = c.localeName.value_or("ENU");
    process.setup.faults.failLocaleLookup = !c.localeName.has_value();
    if (c.libraryPresent && !c.expectedRequests.empty()) {
        process.offerLibrary(c.expectedRequests.front(),
                             testsupport::parsedScript("STRINGTABLE\nBEGIN\n 101 \"x\"\nEND\n"));
    }

    const win::HMODULE loaded = shell::loadLanguageLibrary(process.system, process.ui, c.prefix);

    EXPECT_EQ(process.system.argumentsOf("LoadLibraryA"), c.expectedRequests) << c.description;
    const win::HMODULE module =
        c.expectLoaded ? process.loadedModule(c.expectedRequests.front()) : nullptr;
    EXPECT_EQ(loaded, module) << c.description;
    if (c.expectLoaded) {
        EXPECT_NE(module, nullptr) << c.description;
    }
    const std::vector<testsupport::UiCall> chosen = process.ui.callsNamed("setResourceModule");
    ASSERT_EQ(chosen.size(), c.expectLoaded ? 1u : 0u) << c.description;
    if (c.expectLoaded) {
        EXPECT_EQ(chosen[0].lParam, reinterpret_cast<win::LPARAM>(module)) << c.description;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadLanguageLibraryTest, testing::ValuesIn(kLoadCases));

}  // namespace

#include "shell/language_library.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "support/fake_system.h"
#include "support/fake_ui.h"

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
    std::optional<std::string> localeName;
    std::string_view prefix;
    bool libraryPresent;
    std::vector<std::string> expectedRequests;
    bool expectLoaded;
};

void PrintTo(const LoadCase& c, std::ostream* out) {
    *out << c.description;
}

const LoadCase kLoadCases[] = {
    {"english locale, library present",
     "ENU",
     shell::kUpdateLibraryPrefix,
     true,
     {"KELDRA_ENG.dll"},
     true},
    {"german locale, format program",
     "DEU",
     shell::kFormatLibraryPrefix,
     true,
     {"FORMAT_GER.dll"},
     true},
    {"library missing", "FRA", shell::kUpdateLibraryPrefix, false, {"KELDRA_FRA.dll"}, false},
    {"unknown locale loads nothing", "NLD", shell::kUpdateLibraryPrefix, true, {}, false},
    {"locale lookup fails", std::nullopt, shell::kUpdateLibraryPrefix, true, {}, false},
};

class LoadLanguageLibraryTest : public testing::TestWithParam<LoadCase> {};

TEST_P(LoadLanguageLibraryTest, LoadsByBareNameAndSetsTheResourceModule) {
    const LoadCase& c = GetParam();
    testsupport::FakeSystem system;
    testsupport::FakeUi ui;
    system.localeName = c.localeName;
    const win::HMODULE module = testsupport::FakeSystem::moduleHandle(0x7000);
    if (c.libraryPresent && !c.expectedRequests.empty()) {
        system.libraries[c.expectedRequests.front()] = module;
    }

    const win::HMODULE loaded = shell::loadLanguageLibrary(system, ui, c.prefix);

    EXPECT_EQ(system.loadRequests, c.expectedRequests) << c.description;
    EXPECT_EQ(loaded, c.expectLoaded ? module : nullptr) << c.description;
    EXPECT_EQ(ui.resourceModule(), c.expectLoaded ? module : nullptr) << c.description;
    EXPECT_EQ(ui.callsNamed("setResourceModule").size(), c.expectLoaded ? 1u : 0u) << c.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, LoadLanguageLibraryTest, testing::ValuesIn(kLoadCases));

}  // namespace

#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/system.h"
#include "platform/ui.h"

namespace shell {

inline constexpr std::string_view kUpdateLibraryPrefix = "KELDRA_";
inline constexpr std::string_view kFormatLibraryPrefix = "FORMAT_";

// The library code (JPN, ENG, FRA, GER, ITA, ESP, CHS, CHT, KOR) for a
// locale's abbreviated language name, compared whole and case-sensitively;
// none for a name that is not in the table.
std::optional<std::string_view> languageCode(std::string_view abbreviatedName);

// "KELDRA_ENG.dll" from the prefix and the code.
std::string languageLibraryName(std::string_view prefix, std::string_view code);

// Reads the system default locale, loads the matching library by bare file
// name and makes it the resource module; null when no library was loaded
// (the program then runs on its own resources).
win::HMODULE loadLanguageLibrary(platform::System& system, platform::Ui& ui,
                                 std::string_view prefix);

}  // namespace shell

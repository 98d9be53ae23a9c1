#include "shell/language_library.h"

#include <algorithm>
#include <array>

namespace shell {

namespace {

// GetLocaleInfoA writes the abbreviated language name into a buffer of this
// size; a name that does not fit is not one of ours anyway.
constexpr int kLocaleNameBufferSize = 260;

struct LanguageCodes {
    std::string_view code;
    std::array<std::string_view, 20> abbreviatedNames;
};

// Tested in this order; the names do not overlap between rows.
constexpr std::array<LanguageCodes, 9> kLanguageTable{{
    {"JPN", {"JPN"}},
    {"ENG",
     {"ENA", "ENB", "ENC", "ENG", "ENJ", "ENL", "ENP", "ENS", "ENT", "ENU", "ENW", "ENZ", "ENI"}},
    {"FRA", {"FRA", "FRB", "FRC", "FRL", "FRM", "FRS"}},
    {"GER", {"DEA", "DEU", "DES"}},
    {"ITA", {"ITA", "ITS"}},
    {"ESP", {"ESC", "ESA", "ESB", "ESD", "ESE", "ESF", "ESG", "ESH", "ESI", "ESL",
             "ESM", "ESN", "ESO", "ESP", "ESR", "ESS", "ESU", "ESV", "ESY", "ESZ"}},
    {"CHS", {"CHS"}},
    {"CHT", {"ZHH", "CHT"}},
    {"KOR", {"KOR"}},
}};

constexpr std::string_view kLibraryExtension = ".dll";

}  // namespace

std::optional<std::string_view> languageCode(std::string_view abbreviatedName) {
    if (abbreviatedName.empty()) return std::nullopt;
    for (const LanguageCodes& row : kLanguageTable) {
        for (const std::string_view name : row.abbreviatedNames) {
            if (!name.empty() && name == abbreviatedName) return row.code;
        }
    }
    return std::nullopt;
}

std::string languageLibraryName(std::string_view prefix, std::string_view code) {
    std::string name(prefix);
    name += code;
    name += kLibraryExtension;
    return name;
}

win::HMODULE loadLanguageLibrary(platform::System& system, platform::Ui& ui,
                                 std::string_view prefix) {
    std::array<char, kLocaleNameBufferSize> localeName{};
    system.GetLocaleInfoA(win::LOCALE_SYSTEM_DEFAULT, win::LOCALE_SABBREVLANGNAME,
                          localeName.data(), kLocaleNameBufferSize);
    // The buffer started zero-filled and a well-behaved call ends the name
    // with a zero; the last byte is never read as part of the name either way.
    const auto nameEnd = std::find(localeName.begin(), localeName.end() - 1, '\0');
    const std::string_view name(localeName.data(),
                                static_cast<std::size_t>(nameEnd - localeName.begin()));
    const std::optional<std::string_view> code = languageCode(name);
    if (!code) return nullptr;
    const win::HMODULE library = system.LoadLibraryA(languageLibraryName(prefix, *code).c_str());
    if (library != nullptr) ui.setResourceModule(library);
    return library;
}

}  // namespace shell

#pragma once

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "required_resources.h"

namespace resources {

struct ScriptFile {
    std::filesystem::path path;
    const RequiredResources* required;  // null for a script of no known kind
    std::string name;                   // the file's stem, which names its test cases
};

// Names the script in test output.
inline void PrintTo(const ScriptFile& script, std::ostream* out) {
    *out << script.path.filename();
}

inline std::filesystem::path resourcesFolder() {
    return std::filesystem::path(VELCREST_SOURCE_DIR) / "resources";
}

// Which table a script must satisfy follows from its name, so a language
// library added later is checked without touching the tests.
inline const RequiredResources* requirementsFor(const std::string& fileName) {
    static const std::regex updateLibrary("KELDRA_[A-Z]{3}\\.rc");
    static const std::regex formatLibrary("FORMAT_[A-Z]{3}\\.rc");
    if (std::regex_match(fileName, updateLibrary)) return &kUpdateLibrary;
    if (std::regex_match(fileName, formatLibrary)) return &kFormatLibrary;
    if (fileName == "velcrest.rc") return &kUpdateProgram;
    if (fileName == "ardlow.rc") return &kFormatProgram;
    return nullptr;
}

inline std::vector<ScriptFile> scriptFiles() {
    std::vector<ScriptFile> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(resourcesFolder(), error)) {
        if (entry.path().extension() != ".rc") continue;
        found.push_back({entry.path(), requirementsFor(entry.path().filename().string()),
                         entry.path().stem().string()});
    }
    std::sort(found.begin(), found.end(),
              [](const ScriptFile& a, const ScriptFile& b) { return a.path < b.path; });
    return found;
}

}  // namespace resources

#include "program_table.h"

#include <algorithm>
#include <cctype>

#include "format/format_app.h"
#include "shell/language_library.h"
#include "update/update_app.h"

namespace simrun {

namespace {

void runUpdateProgram(const platform::Services& services) {
    update::UpdateApp app(services);
    app.InitInstance();
    app.ExitInstance();
}

void runFormatProgram(const platform::Services& services) {
    format::FormatApp app(services);
    app.InitInstance();
    app.ExitInstance();
}

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

const std::vector<ProgramEntry>& programTable() {
    static const std::vector<ProgramEntry> table = {
        {{std::string(kUpdateProgramFile), "velcrest.rc"},
         shell::kUpdateLibraryPrefix,
         runUpdateProgram},
        {{std::string(kFormatProgramFile), "ardlow.rc"},
         shell::kFormatLibraryPrefix,
         runFormatProgram},
    };
    return table;
}

const ProgramEntry* findProgram(std::string_view fileName) {
    for (const ProgramEntry& entry : programTable()) {
        if (sameName(entry.file.fileName, fileName)) return &entry;
    }
    return nullptr;
}

std::vector<sim::ProgramFile> programFiles() {
    std::vector<sim::ProgramFile> files;
    for (const ProgramEntry& entry : programTable()) files.push_back(entry.file);
    return files;
}

}  // namespace simrun

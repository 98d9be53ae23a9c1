#include "program_table.h"

#include "format/format_app.h"
#include "shell/language_library.h"
#include "sim/windows_names.h"
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
        if (sim::sameName(entry.file.fileName, fileName)) return &entry;
    }
    return nullptr;
}

std::vector<sim::ProgramFile> programFiles() {
    std::vector<sim::ProgramFile> files;
    for (const ProgramEntry& entry : programTable()) files.push_back(entry.file);
    return files;
}

}  // namespace simrun

#pragma once

#include <functional>
#include <string_view>
#include <vector>

#include "platform/services.h"
#include "sim/machine.h"

namespace simrun {

// Which program file runs which application object. It lives here and not in
// the simulated machine, which knows programs only as files it can start.
struct ProgramEntry {
    sim::ProgramFile file;
    // The start of its language libraries' names ("KELDRA_" for KELDRA_ENG.dll).
    std::string_view libraryPrefix;
    // What the platform's entry point does: construct the application
    // object, start it up, and let it exit.
    std::function<void(const platform::Services&)> run;
};

inline constexpr std::string_view kUpdateProgramFile = "Velcrest.exe";
inline constexpr std::string_view kFormatProgramFile = "Ardlow.exe";

const std::vector<ProgramEntry>& programTable();
// Compared without regard to case, as Windows names files.
const ProgramEntry* findProgram(std::string_view fileName);
std::vector<sim::ProgramFile> programFiles();

}  // namespace simrun

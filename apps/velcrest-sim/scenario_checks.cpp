#include "scenario_checks.h"

#include <filesystem>
#include <set>

#include "program_table.h"
#include "scenario_run.h"
#include "shell/language_library.h"
#include "sim/resource_script.h"

namespace simrun {

namespace {

// The language library whose templates stand for every language's: the
// libraries differ in their words, not in their dialogs.
constexpr std::string_view kReferenceLanguage = "ENG";
constexpr std::string_view kScriptExtension = ".rc";

std::string driveText(char letter) {
    return std::string(1, letter) + ":";
}

template <class Numbers>
std::string listed(const Numbers& numbers, const std::string& separator = ", ") {
    std::string text;
    for (const auto& number : numbers) {
        if (!text.empty()) text += separator;
        if constexpr (std::is_same_v<std::decay_t<decltype(number)>, char>) {
            text += driveText(number);
        } else {
            text += std::to_string(number);
        }
    }
    return text;
}

bool movesADrive(sim::IncidentKind kind) {
    return kind == sim::IncidentKind::PullMedium || kind == sim::IncidentKind::InsertMedium ||
           kind == sim::IncidentKind::SetWriteProtect;
}

void checkIncidentDrives(const sim::Scenario& scenario, std::vector<std::string>& warnings) {
    std::set<char> readers;
    for (const sim::ScenarioReader& reader : scenario.machine.readers)
        readers.insert(reader.letter);
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const sim::Incident& incident = scenario.incidents[i];
        if (!movesADrive(incident.kind) || readers.count(incident.drive) != 0) continue;
        warnings.push_back("incidents[" + std::to_string(i) + "].drive: no reader on " +
                           driveText(incident.drive) + " (readers: " +
                           (readers.empty() ? std::string("none") : listed(readers)) + ")");
    }
}

// Every dialog template the program carries: its own resources and its
// language library.
std::set<int> templatesOf(const ProgramEntry& program) {
    const std::filesystem::path resources =
        std::filesystem::path(VELCREST_SOURCE_DIR) / "resources";
    std::set<int> templates;
    const std::string library = std::string(program.libraryPrefix) +
                                std::string(kReferenceLanguage) + std::string(kScriptExtension);
    for (const std::string& script : {program.file.resourceScript, library}) {
        const sim::ScriptReading reading = sim::readResourceScriptFile(resources / script);
        for (const auto& [id, dialog] : reading.script.dialogs) templates.insert(id);
    }
    return templates;
}

void checkAnswers(const sim::Scenario& scenario, std::vector<std::string>& warnings) {
    for (const auto& [name, answers] : scenario.user.programs) {
        const ProgramEntry* program = findProgram(name);
        if (program == nullptr) continue;
        const std::set<int> templates = templatesOf(*program);
        const auto check = [&](const char* kind, int templateId) {
            if (templates.count(templateId) != 0) return;
            warnings.push_back("user.programs." + name + "." + kind + "." +
                               std::to_string(templateId) + ": " + program->file.fileName +
                               " never shows template " + std::to_string(templateId) +
                               " (its templates: " + listed(templates) + ")");
        };
        for (const auto& [templateId, queue] : answers.queued) check("answers", templateId);
        for (const auto& [templateId, action] : answers.defaults) check("defaults", templateId);
    }
}

void checkLocale(const sim::Scenario& scenario, std::vector<std::string>& warnings) {
    if (shell::languageCode(scenario.machine.locale)) return;
    warnings.push_back("machine.locale: \"" + scenario.machine.locale +
                       "\" is none of the names the programs compare whole against their "
                       "language table, so they run without a language library (see "
                       "docs/scenarios.md for the names)");
}

}  // namespace

ScenarioCheck checkScenario(const sim::Scenario& scenario) {
    ScenarioCheck check;
    check.error = checkProgramNames(scenario);
    if (check.error) return check;
    checkIncidentDrives(scenario, check.warnings);
    checkAnswers(scenario, check.warnings);
    checkLocale(scenario, check.warnings);
    return check;
}

}  // namespace simrun

#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "sim/scenario.h"

namespace sim {

// A scenario read from its file, or the one-line reason it could not be: the
// field that is wrong and what it should have been
// ("machine.readers[0].usb.vid: expected a string of 4 hexadecimal digits"),
// or where the text stops being JSON. Unknown fields are errors too, so a
// misspelt field never passes as a default.
struct ScenarioReading {
    Scenario scenario;
    std::optional<std::string> error;

    bool ok() const { return !error.has_value(); }
};

// Relative folders in the text are taken from `baseFolder`, the scenario
// file's own folder.
ScenarioReading readScenarioText(std::string_view text, const std::filesystem::path& baseFolder);
ScenarioReading readScenarioFile(const std::filesystem::path& file);

}  // namespace sim

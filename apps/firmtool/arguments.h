#pragma once

#include <span>
#include <string>
#include <string_view>

#include "firmtool.h"

namespace firmtool {

// What a command accepts: an exact number of positionals and named options
// that each take a value ("--out FILE" or "--out=FILE").
struct OptionSpec {
    std::string_view name;
    bool required = false;
};

struct CommandSpec {
    std::string_view name;
    std::string_view synopsis;  // the usage line after "firmtool "
    std::size_t positionalCount = 0;
    std::span<const OptionSpec> options;
    int (*run)(const Arguments&) = nullptr;
};

// Splits the words after the command name. "--" ends the options, so a
// positional may itself start with "--". False with a one-line reason when
// the words do not fit the command.
bool parseArguments(std::span<const std::string_view> words, const CommandSpec& command,
                    Arguments& arguments, std::string& error);

}  // namespace firmtool

#include "arguments.h"

#include <algorithm>

namespace firmtool {

namespace {

constexpr std::string_view kOptionPrefix = "--";
constexpr std::string_view kEndOfOptions = "--";

const OptionSpec* findOption(const CommandSpec& command, std::string_view name) {
    const auto found = std::find_if(command.options.begin(), command.options.end(),
                                    [name](const OptionSpec& spec) { return spec.name == name; });
    return found == command.options.end() ? nullptr : &*found;
}

bool isOptionWord(std::string_view word) {
    return word.size() > kOptionPrefix.size() && word.starts_with(kOptionPrefix);
}

// Takes the option at words[index] (and its value, which may be the next word).
bool takeOption(std::span<const std::string_view> words, std::size_t& index,
                const CommandSpec& command, Arguments& arguments, std::string& error) {
    std::string_view name = words[index].substr(kOptionPrefix.size());
    std::string_view value;
    bool hasValue = false;
    if (const auto equals = name.find('='); equals != std::string_view::npos) {
        value = name.substr(equals + 1);
        name = name.substr(0, equals);
        hasValue = true;
    }
    if (findOption(command, name) == nullptr) {
        error = "unknown option --" + std::string(name);
        return false;
    }
    if (!hasValue) {
        if (index + 1 == words.size()) {
            error = "option --" + std::string(name) + " needs a value";
            return false;
        }
        value = words[++index];
    }
    arguments.options.insert_or_assign(std::string(name), std::string(value));
    return true;
}

bool checkRequiredOptions(const CommandSpec& command, const Arguments& arguments,
                          std::string& error) {
    for (const OptionSpec& spec : command.options) {
        if (spec.required && arguments.option(spec.name) == nullptr) {
            error = "missing option --" + std::string(spec.name);
            return false;
        }
    }
    return true;
}

}  // namespace

const std::string* Arguments::option(std::string_view name) const {
    const auto found = options.find(name);
    return found == options.end() ? nullptr : &found->second;
}

bool parseArguments(std::span<const std::string_view> words, const CommandSpec& command,
                    Arguments& arguments, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t index = 0; index < words.size(); ++index) {
        const std::string_view word = words[index];
        if (!optionsEnded && word == kEndOfOptions) {
            optionsEnded = true;
        } else if (!optionsEnded && isOptionWord(word)) {
            if (!takeOption(words, index, command, arguments, error)) return false;
        } else {
            arguments.positionals.emplace_back(word);
        }
    }
    if (arguments.positionals.size() != command.positionalCount) {
        error = "expected " + std::to_string(command.positionalCount) + " argument" +
                (command.positionalCount == 1 ? "" : "s") + ", got " +
                std::to_string(arguments.positionals.size());
        return false;
    }
    return checkRequiredOptions(command, arguments, error);
}

}  // namespace firmtool

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "firmtool.h"

namespace {

using firmtool::Arguments;

// Where every command, its results and its exit statuses are described.
constexpr const char* kDocsPointer =
    "Documentation: docs/firmtool.md (the table's row format, every command, exit statuses).";

constexpr const char* kToolExitStatuses =
    "Exit status: 0 done; 1 the answer is no (see each command's --help); 2 usage error;\n"
    "3 a file that cannot be read or written.";

struct Verb {
    const char* name;
    const char* description;
    std::vector<const char*> positionals;
    const char* exitStatuses;
    int (*run)(const Arguments&);
};

const std::vector<Verb>& verbs() {
    static const std::vector<Verb> all = {
        {"decode",
         "Decodes a line-chained XOR file, every line, into plain text.",
         {"IN", "OUT"},
         "Exit status: 0 written; 2 usage error; 3 IN unreadable or OUT unwritable.",
         firmtool::runDecode},
        {"encode",
         "Encodes a plain file line by line (a fixed key sequence, or --key for every line). "
         "Refuses an input that already looks encoded unless --force is given.",
         {"IN", "OUT"},
         "Exit status: 0 written; 1 IN already looks encoded (nothing written); 2 usage error;\n"
         "3 IN unreadable or OUT unwritable.",
         firmtool::runEncode},
        {"table",
         "Prints every row of an encoded table as the update program cuts it, "
         "tab-separated; control characters in a field show as \\r, \\t, \\xNN.",
         {"TABLE"},
         "Exit status: 0 printed; 2 usage error; 3 TABLE unreadable.",
         firmtool::runTable},
        {"match",
         "Prints the row the update program picks for a reader, as key=value lines.",
         {"TABLE", "VID", "PID", "REV", "PRODUCT"},
         "Exit status: 0 a row matches; 1 no row matches; 2 usage error; 3 TABLE unreadable.",
         firmtool::runMatch},
        {"image",
         "Loads an encoded firmware file as the update program does and prints the "
         "load result and address range; --out writes the 256 KiB image.",
         {"FIRMWARE"},
         "Exit status: 0 loaded (result=0); 1 the load result is 1 or 2 (result= still printed);\n"
         "2 usage error; 3 FIRMWARE unreadable or the image unwritable.",
         firmtool::runImage},
        {"stream",
         "Writes the header block and data blocks a reader receives for the row "
         "matching it; firmware names are taken from the current directory as the "
         "update program takes them.",
         {"TABLE", "VID", "PID", "REV", "PRODUCT"},
         "Exit status: 0 written; 1 no row matches or the firmware does not load or holds no data\n"
         "(nothing written), or the stream is written but the reader will not take it (a warning\n"
         "says why); 2 usage error; 3 a file unreadable or OUT unwritable.",
         firmtool::runStream},
        {"check",
         "Checks a package folder: DIR/firmtable.txt and the firmware file of every "
         "row, opened as the update program started from DIR opens them.",
         {"DIR"},
         "Exit status: 0 every row can work; 1 a row can never work or the table has no rows;\n"
         "2 usage error; 3 DIR or its firmtable.txt unreadable.",
         firmtool::runCheck},
    };
    return all;
}

// What each positional stands for, in every command that takes it.
const char* positionalDescription(std::string_view name) {
    static const std::vector<std::pair<std::string_view, const char*>> descriptions = {
        {"IN", "the file to read"},
        {"OUT", "the file to write"},
        {"TABLE", "an encoded firmware table"},
        {"VID", "the reader's USB vendor id, spelt as the registry spells it"},
        {"PID", "the reader's USB product id, spelt as the registry spells it"},
        {"REV", "the reader's USB revision, spelt as the registry spells it"},
        {"PRODUCT", "the reader's INQUIRY product, trailing blanks removed"},
        {"FIRMWARE", "an encoded S-record firmware file"},
        {"DIR", "a package folder"},
    };
    for (const auto& [key, description] : descriptions) {
        if (key == name) return description;
    }
    return "";
}

std::string footer(const char* exitStatuses) {
    return std::string(exitStatuses) + "\n" + kDocsPointer;
}

// The named options each verb takes besides its positionals.
void addOptions(CLI::App& command, const std::string& name, Arguments& arguments) {
    const auto value = [&arguments](const char* option) { return &arguments.options[option]; };
    if (name == "encode") {
        command.add_option("--key", *value("key"), "one key byte for every line, e.g. 0x5a");
        command.add_flag_callback(
            "--force", [&arguments] { arguments.options["force"] = ""; },
            "encode even an input that already looks encoded");
    } else if (name == "image") {
        command.add_option("--out", *value("out"), "write the image (0x40000 bytes) to this file");
    } else if (name == "stream") {
        command.add_option("--out", *value("out"), "the file the stream is written to")->required();
    }
}

// Options a command line did not give are taken out again, so that a command
// sees only what was given.
void keepGivenOptions(const CLI::App& command, Arguments& arguments) {
    for (auto it = arguments.options.begin(); it != arguments.options.end();) {
        const CLI::Option* option = command.get_option_no_throw("--" + it->first);
        if (option == nullptr || option->count() == 0) {
            it = arguments.options.erase(it);
        } else {
            ++it;
        }
    }
}

// A usage error in one line, whatever the parser's text.
std::string oneLine(std::string text) {
    std::replace(text.begin(), text.end(), '\n', ' ');
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

// One subcommand per verb, each filling `arguments` and naming itself in
// `chosen` when it is the one parsed.
std::vector<CLI::App*> addVerbs(CLI::App& app, Arguments& arguments, const Verb*& chosen) {
    // Every verb binds the same positional list, so it is sized for the
    // longest before any is bound: the parser keeps references into it.
    for (const Verb& verb : verbs()) {
        arguments.positionals.resize(
            std::max(arguments.positionals.size(), verb.positionals.size()));
    }
    std::vector<CLI::App*> commands;
    for (const Verb& verb : verbs()) {
        CLI::App* command = app.add_subcommand(verb.name, verb.description);
        command->footer(footer(verb.exitStatuses));
        command->callback([&chosen, &verb] { chosen = &verb; });
        for (std::size_t position = 0; position < verb.positionals.size(); ++position) {
            command
                ->add_option(verb.positionals[position], arguments.positionals[position],
                             positionalDescription(verb.positionals[position]))
                ->required();
        }
        addOptions(*command, verb.name, arguments);
        commands.push_back(command);
    }
    return commands;
}

bool isVerb(std::string_view word) {
    return std::any_of(verbs().begin(), verbs().end(),
                       [word](const Verb& verb) { return word == verb.name; });
}

// The usage error's one line, pointing at the help of the verb it concerns.
int usageError(const CLI::App& app, const CLI::ParseError& error) {
    std::string help = "firmtool --help";
    for (const CLI::App* command : app.get_subcommands()) {
        help = "firmtool " + command->get_name() + " --help";
    }
    return firmtool::fail(firmtool::kExitUsage, oneLine(error.what()) + "; try " + help);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app("firmtool: prepares and checks firmware packages for the update program.",
                 "firmtool");
    app.footer(footer(kToolExitStatuses));
    app.require_subcommand(1);
    Arguments arguments;
    const Verb* chosen = nullptr;
    const std::vector<CLI::App*> commands = addVerbs(app, arguments, chosen);

    // The parser would only say that a command is required.
    if (argc > 1 && argv[1][0] != '-' && !isVerb(argv[1])) {
        return firmtool::fail(firmtool::kExitUsage,
                              "unknown command " + std::string(argv[1]) + "; try firmtool --help");
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& help) {
        return app.exit(help);
    } catch (const CLI::CallForAllHelp& help) {
        return app.exit(help);
    } catch (const CLI::ParseError& error) {
        return usageError(app, error);
    }
    if (chosen == nullptr) {
        return firmtool::fail(firmtool::kExitUsage, "no command given; try firmtool --help");
    }
    for (const CLI::App* command : commands) {
        if (command->parsed()) keepGivenOptions(*command, arguments);
    }
    arguments.positionals.resize(chosen->positionals.size());
    return chosen->run(arguments);
}

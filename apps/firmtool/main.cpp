#include <array>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.h"
#include "firmtool.h"

namespace {

using firmtool::CommandSpec;
using firmtool::OptionSpec;

constexpr std::array kEncodeOptions{OptionSpec{"key"}};
constexpr std::array kImageOptions{OptionSpec{"out"}};
constexpr std::array kStreamOptions{OptionSpec{"out", true}};

constexpr std::array kCommands{
    CommandSpec{"decode", "decode IN OUT", 2, {}, firmtool::runDecode},
    CommandSpec{"encode", "encode IN OUT [--key 0xNN]", 2, kEncodeOptions, firmtool::runEncode},
    CommandSpec{"table", "table TABLE", 1, {}, firmtool::runTable},
    CommandSpec{"match", "match TABLE VID PID REV PRODUCT", 5, {}, firmtool::runMatch},
    CommandSpec{"image", "image FIRMWARE [--out IMAGE]", 1, kImageOptions, firmtool::runImage},
    CommandSpec{"stream", "stream TABLE VID PID REV PRODUCT --out FILE", 5, kStreamOptions,
                firmtool::runStream},
    CommandSpec{"check", "check DIR", 1, {}, firmtool::runCheck},
};

constexpr std::string_view kHelpText =
    "Exit status: 0 done; 1 no matching row, a package row that can never work, or a\n"
    "firmware file the stream refuses; 2 usage error; 3 a file that cannot be read or\n"
    "written. Results are key=value lines on standard output, numbers in hexadecimal.\n"
    "Firmware files named by a table are opened relative to the current directory, as\n"
    "the update program opens them; check DIR reads DIR/firmtable.txt and opens the\n"
    "files its rows name relative to DIR, as the update program started from DIR would.\n";

bool isHelpWord(std::string_view word) {
    return word == "--help" || word == "-h";
}

void printUsage(std::FILE* stream) {
    for (const CommandSpec& command : kCommands) {
        std::fprintf(stream, "usage: firmtool %.*s\n", static_cast<int>(command.synopsis.size()),
                     command.synopsis.data());
    }
    std::fputs(kHelpText.data(), stream);
}

const CommandSpec* findCommand(std::string_view name) {
    for (const CommandSpec& command : kCommands) {
        if (command.name == name) return &command;
    }
    return nullptr;
}

int runCommand(const CommandSpec& command, const std::vector<std::string_view>& words) {
    for (const std::string_view word : words) {
        if (word == "--") break;
        if (isHelpWord(word)) {
            std::printf("usage: firmtool %.*s\n", static_cast<int>(command.synopsis.size()),
                        command.synopsis.data());
            return firmtool::kExitSuccess;
        }
    }
    firmtool::Arguments arguments;
    std::string error;
    if (!firmtool::parseArguments(words, command, arguments, error)) {
        return firmtool::fail(firmtool::kExitUsage,
                              error + "; usage: firmtool " + std::string(command.synopsis));
    }
    return command.run(arguments);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string_view> words(argv + (argc > 0 ? 1 : 0), argv + argc);
    if (words.empty()) {
        return firmtool::fail(firmtool::kExitUsage, "no command given; try firmtool --help");
    }
    if (isHelpWord(words.front())) {
        printUsage(stdout);
        return firmtool::kExitSuccess;
    }
    const CommandSpec* command = findCommand(words.front());
    if (command == nullptr) {
        return firmtool::fail(
            firmtool::kExitUsage,
            "unknown command " + std::string(words.front()) + "; try firmtool --help");
    }
    return runCommand(*command, {words.begin() + 1, words.end()});
}

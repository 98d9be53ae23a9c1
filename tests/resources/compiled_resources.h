#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// A compiled resource file (.res) as windres writes it, decoded far enough to
// compare with what the simulator's reader makes of the same script: the
// dialogs with their controls, the strings and the icon groups.
namespace resources {

struct CompiledRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
};

struct CompiledControl {
    int id = 0;
    std::string className;  // "Button", "Static", ... or the class as written
    std::string text;       // an ordinal (an ICON control's icon) as its number
    CompiledRect rect;
    std::uint32_t style = 0;
};

struct CompiledDialog {
    int id = 0;
    bool extended = false;
    std::string caption;
    CompiledRect rect;
    std::uint32_t style = 0;
    std::vector<CompiledControl> controls;
};

struct CompiledResources {
    std::map<int, CompiledDialog> dialogs;
    std::map<int, std::string> strings;
    std::set<int> iconGroups;
};

// None, with `error` set, for a file that is not a well-formed .res.
std::optional<CompiledResources> decodeResFile(const std::vector<std::uint8_t>& bytes,
                                               std::string& error);

// The resource compiler on this machine, if any.
std::optional<std::filesystem::path> findWindres();

}  // namespace resources

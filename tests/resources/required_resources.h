#pragma once

#include <string_view>
#include <vector>

// What each program takes from its resources, kept in one place: the
// libraries of every language and the programs' own resources must hold all
// of it. A program reads only buttons 1 (OK) and 2 (Cancel).
namespace resources {

inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr std::string_view kProgressBarClass = "msctls_progress32";
inline constexpr std::string_view kComboBoxClass = "ComboBox";

struct RequiredControl {
    int id;
    std::string_view className;
};

struct RequiredDialog {
    int id;
    std::string_view role;
    std::vector<int> buttons;
    std::vector<RequiredControl> controls = {};
    // The main dialogs carry the About entry in their system menu, which
    // needs WS_SYSMENU; a progress window must not offer a close box that
    // would hide it while the work goes on.
    enum class SystemMenu { Any, Required, Forbidden } systemMenu = SystemMenu::Any;
    // The programs' own About box: its caption, a line it shows and the icon
    // its ICON control names.
    std::string_view caption = {};
    std::string_view text = {};
    int iconControl = 0;
};

struct RequiredResources {
    std::string_view name;
    std::vector<RequiredDialog> dialogs;
    std::vector<int> strings;
    std::vector<int> icons;
};

using SystemMenu = RequiredDialog::SystemMenu;

// KELDRA_<LNG>.rc
inline const RequiredResources kUpdateLibrary{
    "Velcrest's language library",
    {
        {100, "About box", {kOk}},
        {102,
         "main dialog: OK starts the update, Cancel closes",
         {kOk, kCancel},
         {},
         SystemMenu::Required},
        {132, "flash progress", {}, {{1002, kProgressBarClass}}, SystemMenu::Forbidden},
        {133, "not NT 5: OK ends, Cancel continues", {kOk, kCancel}},
        {134, "not administrator: OK ends, Cancel continues", {kOk, kCancel}},
        {136, "no reader: OK ends", {kOk}},
        {137, "reader not ready: OK switches off, Cancel returns", {kOk, kCancel}},
        {140, "update complete", {kOk}},
        {142, "power-off prompt: OK switches off", {kOk, kCancel}},
        {146, "more than one reader", {kOk}},
        {147, "write-protected: OK retries", {kOk}},
        {150, "start notice: Cancel ends", {kOk, kCancel}},
        {151, "before the update: Cancel ends", {kOk, kCancel}},
        {152, "reader unreachable: OK releases and retries", {kOk}},
        {153, "no firmware for this reader", {kOk}},
        {154, "refused block: OK stops, Cancel goes on", {kOk, kCancel}},
        {155, "a file cannot be opened", {kOk}},
    },
    {101},
    {156},
};

// FORMAT_<LNG>.rc
inline const RequiredResources kFormatLibrary{
    "Ardlow's language library",
    {
        {100, "About box", {kOk}},
        {102, "main dialog: OK formats, Cancel closes", {kOk, kCancel}, {}, SystemMenu::Required},
        {137, "write-protected: OK retries", {kOk}},
        {138, "no medium: OK retries, Cancel gives up", {kOk, kCancel}},
        {139, "after-update closing notice, revision differs", {kOk}},
        {140, "after-update closing notice, revision confirmed", {kOk}},
        {142, "not NT 5: OK ends, Cancel continues", {kOk, kCancel}},
        {143, "not administrator: OK ends, Cancel continues", {kOk, kCancel}},
        {144, "drive selection", {kOk, kCancel}, {{1000, kComboBoxClass}}},
        {145, "nothing selected", {kOk}},
        {149, "confirm the drive: OK formats, Cancel goes back", {kOk, kCancel}},
        {150, "no reader / stand-alone closing notice", {kOk}},
        {152, "medium absent during the format: OK finishes, Cancel carries on", {kOk, kCancel}},
        {153, "format progress", {}, {{1003, kProgressBarClass}}, SystemMenu::Forbidden},
        {154, "format not seen to finish: the card could not be formatted", {kOk}},
    },
    {101},
    {156},
};

// velcrest.rc
inline const RequiredResources kUpdateProgram{
    "Velcrest's own resources",
    {{100, "About box", {kOk}, {}, SystemMenu::Any, "About Version", "Velcrest Version 1.0", 128}},
    {101},
    {156, 128},
};

// ardlow.rc
inline const RequiredResources kFormatProgram{
    "Ardlow's own resources",
    {{100, "About box", {kOk}, {}, SystemMenu::Any, "About Version", "Ardlow Version 1.0", 128}},
    {101},
    {156, 128},
};

}  // namespace resources

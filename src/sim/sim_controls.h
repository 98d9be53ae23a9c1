#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/win_ui_api.h"

// The common controls the programs' dialogs hold, as state and the messages
// that change it. The window manager (SimUi) owns one state per control and
// hands each control message here.
namespace sim {

// A progress bar's state, with the platform's defaults.
struct ProgressBarState {
    int low = 0;
    int high = 100;
    int position = 0;
    int step = 10;
};

struct ComboBoxState {
    std::vector<std::string> items;
    int selection = -1;
    bool sorted = false;  // CBS_SORT
};

// The controls that have a model here; every other class is plain.
enum class ControlModel { Plain, ProgressBar, ComboBox };
ControlModel controlModelOf(std::string_view className);

// What a control message returns, and whether it changed what the control
// shows (the observer is told then).
struct ControlAnswer {
    win::LRESULT result = 0;
    bool changed = false;
};

ControlAnswer progressBarMessage(ProgressBarState& bar, win::UINT message, win::WPARAM wParam,
                                 win::LPARAM lParam);
ControlAnswer comboBoxMessage(ComboBoxState& combo, win::UINT message, win::WPARAM wParam,
                              win::LPARAM lParam);

}  // namespace sim

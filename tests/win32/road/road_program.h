#pragma once

// The entry point of a road program: the application on the real Windows
// backend, except that its volumes are those of the road's virtual reader,
// whose state comes from the file the environment names and goes back there
// when the program ends.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/services.h"
#include "road_reader.h"
#include "win32/win_clock.h"
#include "win32/win_registry.h"
#include "win32/win_system.h"
#include "win32/win_ui.h"

namespace road {

// A road program started without a readable state file has no reader to
// run against; it says so and ends without showing anything.
inline constexpr int kNoReaderState = 3;

template <typename Application>
int runOnTheRoad() {
    const char* statePath = std::getenv(kStateVariable);
    ReaderState state;
    std::string error = std::string(kStateVariable) + " is not set";
    if (statePath == nullptr || !loadState(statePath, state, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return kNoReaderState;
    }
    win32::WinUi ui;
    win32::WinSystem system;
    win32::WinRegistry registry;
    win32::WinClock clock;
    RoadReader reader(clock, std::move(state));
    const platform::Services services{ui, system, registry, reader.volumes(), clock};
    Application app(services);
    app.InitInstance();
    const int exitCode = app.ExitInstance();
    if (!saveState(statePath, reader.state())) {
        std::fprintf(stderr, "cannot write the reader's state to %s\n", statePath);
        return kNoReaderState;
    }
    return exitCode;
}

}  // namespace road

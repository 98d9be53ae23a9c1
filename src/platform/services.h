#pragma once

#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/volumes.h"

namespace platform {

// Everything of the machine a program run reaches, handed to the application
// object by the entry point: the Windows backend on Windows, the simulated
// machine under velcrest-sim and the tests.
struct Services {
    Ui& ui;
    System& system;
    Registry& registry;
    Volumes& volumes;
    Clock& clock;
};

}  // namespace platform

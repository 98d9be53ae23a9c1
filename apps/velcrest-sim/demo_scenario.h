#pragma once

#include "sim/scenario.h"

namespace simrun {

// The built-in demonstration: the demo reader "Kavo" "TKW-5 CardRW" on E:
// with a medium holding a few files, the example package, and a careful
// user who reads each dialog and goes ahead; the update runs, the machine
// switches off and on, and Ardlow formats the medium after the log-on.
sim::Scenario demoScenario();

}  // namespace simrun

#pragma once

#include <gtest/gtest.h>

#include <string>

#include "device/device_link.h"
#include "sim/sim_registry.h"
#include "sim/sim_volumes.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"
#include "support/case_names.h"

namespace device_test {

using testsupport::NameOfCase;

inline constexpr char kReaderLetter = 'E';
inline constexpr const char* kReaderRoot = "E:\\";

// A reader on drive E: of a simulated machine and the link that talks to it.
// Every test must leave no handle open and close no handle twice.
template <class Base = ::testing::Test>
class SimulatedDrive : public Base {
  protected:
    SimulatedDrive() { volumes.attach(kReaderLetter, reader); }

    void TearDown() override {
        EXPECT_EQ(volumes.openHandleCount(), 0u) << "a volume handle was left open";
        EXPECT_EQ(volumes.badCloseCount(), 0u) << "a handle was closed that was not open";
    }

    sim::VirtualClock clock;
    sim::VirtualReader reader{clock, sim::ReaderIdentity{"Kavo", "TKW-5 Reader", "1.00"}};
    sim::SimVolumes volumes{clock};
    sim::SimRegistry registry;  // empty: the transport never reads it
    device::DeviceLink link{volumes, registry, clock, device::WriteProtectRule::AnyBitProtects};
};

}  // namespace device_test

#include "sim/registry_records.h"

#include <gtest/gtest.h>

#include <string>

#include "sim/sim_registry.h"
#include "sim/usb_registry_builder.h"

namespace {

using sim::SeamRecords;
using sim::SimRegistry;
using sim::UsbRegistryBuilder;

sim::UsbStorageDevice reader() {
    return {.driveLetter = 'E',
            .vendor = "Kavo",
            .product = "TKW-5 CardRW",
            .revision = "1.00",
            .vendorId = 0x0d9f,
            .productId = 0x1001,
            .deviceRevision = 0x0100,
            .serialNumber = ""};
}

// The road under wine lays the reader's records through the registry seam;
// what it lays must be what the simulated machine holds, value for value,
// and it must leave no key open.
TEST(SeamRecordsTest, TheBuilderLaysTheSameRecordsThroughTheSeam) {
    SimRegistry direct;
    UsbRegistryBuilder(direct).layBaseMachine();
    UsbRegistryBuilder(direct).attach(reader());

    SimRegistry behindTheSeam;
    SeamRecords seam(behindTheSeam);
    UsbRegistryBuilder(seam).layBaseMachine();
    UsbRegistryBuilder(seam).attach(reader());

    EXPECT_FALSE(direct.dump().empty());
    EXPECT_EQ(behindTheSeam.dump(), direct.dump());
    EXPECT_EQ(behindTheSeam.openKeyCount(), 0u);
}

// A registry that refuses the key or the value: the record counts as not
// laid, and the key opened for it is closed again.
TEST(SeamRecordsTest, AFailedCallIsReportedAndLeavesNoKeyOpen) {
    for (const sim::RegistryCall call : {sim::RegistryCall::Create, sim::RegistryCall::SetValue}) {
        SCOPED_TRACE(static_cast<int>(call));
        SimRegistry registry;
        sim::RegistryFault fault;
        fault.call = call;
        fault.keyPath = "SYSTEM\\MountedDevices";
        registry.injectFault(fault);
        SeamRecords seam(registry);
        EXPECT_FALSE(seam.setString("SYSTEM\\MountedDevices", "\\DosDevices\\E:", "x"));
        EXPECT_EQ(registry.openKeyCount(), 0u);
        EXPECT_FALSE(registry.value("SYSTEM\\MountedDevices", "\\DosDevices\\E:").has_value());
    }
}

}  // namespace

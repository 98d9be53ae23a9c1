#pragma once

#include <gtest/gtest.h>

#include <string>

#include "device/device_link.h"
#include "platform/registry.h"
#include "sim/sim_volumes.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"

namespace device_test {

// The transport never touches the registry; the link only needs one to exist.
class UnusedRegistry final : public platform::Registry {
  public:
    win::LONG RegOpenKeyExA(win::HKEY, const char*, win::DWORD, win::REGSAM, win::HKEY*) override {
        return win::ERROR_FILE_NOT_FOUND;
    }
    win::LONG RegCreateKeyExA(win::HKEY, const char*, win::DWORD, win::REGSAM, win::HKEY*,
                              win::DWORD*) override {
        return win::ERROR_ACCESS_DENIED;
    }
    win::LONG RegEnumValueA(win::HKEY, win::DWORD, char*, win::DWORD*, win::DWORD*, win::BYTE*,
                            win::DWORD*) override {
        return win::ERROR_INVALID_HANDLE;
    }
    win::LONG RegEnumKeyExA(win::HKEY, win::DWORD, char*, win::DWORD*) override {
        return win::ERROR_INVALID_HANDLE;
    }
    win::LONG RegQueryValueExA(win::HKEY, const char*, win::DWORD*, win::BYTE*,
                               win::DWORD*) override {
        return win::ERROR_INVALID_HANDLE;
    }
    win::LONG RegSetValueExA(win::HKEY, const char*, win::DWORD, const win::BYTE*,
                             win::DWORD) override {
        return win::ERROR_INVALID_HANDLE;
    }
    win::LONG RegDeleteKeyA(win::HKEY, const char*) override { return win::ERROR_INVALID_HANDLE; }
    win::LONG RegCloseKey(win::HKEY) override { return win::ERROR_INVALID_HANDLE; }
};

// Names parameterised cases after their `name` field.
struct NameOfCase {
    template <class Case>
    std::string operator()(const ::testing::TestParamInfo<Case>& testInfo) const {
        return testInfo.param.name;
    }
};

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
    UnusedRegistry registry;
    device::DeviceLink link{volumes, registry, clock, device::WriteProtectRule::AnyBitProtects};
};

}  // namespace device_test

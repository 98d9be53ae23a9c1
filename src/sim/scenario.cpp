#include "sim/scenario.h"

#include <array>
#include <utility>

namespace sim {

namespace {

constexpr std::array<std::pair<DeviceCall, const char*>, 10> kDeviceCallNames = {{
    {DeviceCall::Open, "open"},
    {DeviceCall::Lock, "lock"},
    {DeviceCall::Unlock, "unlock"},
    {DeviceCall::TestUnitReady, "testUnitReady"},
    {DeviceCall::RequestSense, "requestSense"},
    {DeviceCall::Inquiry, "inquiry"},
    {DeviceCall::ModeSense, "modeSense"},
    {DeviceCall::WriteBlock, "writeBlock"},
    {DeviceCall::Format, "format"},
    {DeviceCall::Operation, "operation"},
}};

constexpr std::array<std::pair<IncidentKind, const char*>, 6> kIncidentNames = {{
    {IncidentKind::PullMedium, "pullMedium"},
    {IncidentKind::InsertMedium, "insertMedium"},
    {IncidentKind::SetWriteProtect, "writeProtect"},
    {IncidentKind::QuerySuspend, "querySuspend"},
    {IncidentKind::PostQuit, "quit"},
    {IncidentKind::StartProgram, "start"},
}};

}  // namespace

const char* deviceCallName(DeviceCall call) {
    for (const auto& [known, name] : kDeviceCallNames) {
        if (known == call) return name;
    }
    return "?";
}

std::optional<DeviceCall> deviceCallNamed(std::string_view name) {
    for (const auto& [call, known] : kDeviceCallNames) {
        if (name == known) return call;
    }
    return std::nullopt;
}

const char* incidentName(IncidentKind kind) {
    for (const auto& [known, name] : kIncidentNames) {
        if (known == kind) return name;
    }
    return "?";
}

std::optional<IncidentKind> incidentNamed(std::string_view name) {
    for (const auto& [kind, known] : kIncidentNames) {
        if (name == known) return kind;
    }
    return std::nullopt;
}

}  // namespace sim

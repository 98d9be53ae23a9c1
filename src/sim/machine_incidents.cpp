#include <memory>

#include "sim/machine_impl.h"
#include "sim/windows_names.h"

// The scenario's incidents: at a moment of virtual time, at a dialog, at a
// command or a poll of a running format.
namespace sim {

namespace {

// Sleep advances virtual time, and whatever the scenario set for a moment on
// the way happens at that moment.
class MachineClock final : public platform::Clock {
  public:
    MachineClock(Machine::Impl& machine, VirtualClock& clock) : machine_(machine), clock_(clock) {}

    void Sleep(win::DWORD milliseconds) override {
        const std::uint64_t target = clock_.now() + milliseconds;
        while (const std::optional<std::uint64_t> next = machine_.nextTimeIncident(target)) {
            if (*next > clock_.now()) clock_.advance(*next - clock_.now());
            machine_.fireDueTimeIncidents();
        }
        clock_.Sleep(static_cast<win::DWORD>(target > clock_.now() ? target - clock_.now() : 0));
        machine_.fireDueTimeIncidents();
    }
    win::DWORD GetTickCount() override { return clock_.GetTickCount(); }

  private:
    Machine::Impl& machine_;
    VirtualClock& clock_;
};

}  // namespace

std::unique_ptr<platform::Clock> makeIncidentClock(Machine::Impl& machine, VirtualClock& clock) {
    return std::make_unique<MachineClock>(machine, clock);
}

bool Machine::Impl::programMatches(const std::optional<std::string>& wanted) const {
    return !wanted || sameName(*wanted, currentProgram());
}

void Machine::Impl::fire(std::size_t index) {
    IncidentState& state = incidentStates[index];
    if (state.fired) return;
    state.fired = true;
    const Incident& incident = scenario.incidents[index];
    std::vector<EventField> fields{{field::kDo, std::string(incidentName(incident.kind))}};
    ReaderState* reader = readerOn(incident.drive);
    switch (incident.kind) {
        case IncidentKind::PullMedium:
        case IncidentKind::InsertMedium: {
            const bool present = incident.kind == IncidentKind::InsertMedium;
            fields.push_back({field::kDrive, driveText(incident.drive)});
            if (reader != nullptr) {
                if (present) {
                    reader->device->insertMedium();
                } else {
                    reader->device->removeMedium();
                }
            } else {
                plainMedium[incident.drive] = present;
            }
            record(EventKind::Incident, std::move(fields));
            break;
        }
        case IncidentKind::SetWriteProtect:
            fields.push_back({field::kDrive, driveText(incident.drive)});
            fields.push_back({field::kBits, std::int64_t{incident.bits}});
            if (reader != nullptr) {
                reader->device->setDeviceSpecificParameter(incident.bits);
            } else {
                fields.push_back({field::kProblem, std::string("no reader on this drive")});
            }
            record(EventKind::Incident, std::move(fields));
            break;
        case IncidentKind::QuerySuspend:
            record(EventKind::Incident, std::move(fields));
            if (!processes.empty()) processes.back()->ui().querySuspend();
            break;
        case IncidentKind::PostQuit:
            record(EventKind::Incident, std::move(fields));
            if (!processes.empty()) processes.back()->ui().postMessage(nullptr, win::WM_QUIT, 0, 0);
            break;
        case IncidentKind::StartProgram:
            fields.push_back({field::kProgram, incident.program});
            record(EventKind::Incident, std::move(fields));
            if (starter) starter(incident.program);
            break;
    }
}

void Machine::Impl::fireDueTimeIncidents() {
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind == TriggerKind::Time && at.timeMs <= virtualClock.now()) fire(i);
    }
}

std::optional<std::uint64_t> Machine::Impl::nextTimeIncident(std::uint64_t until) const {
    std::optional<std::uint64_t> next;
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind != TriggerKind::Time || incidentStates[i].fired || at.timeMs > until) continue;
        if (!next || at.timeMs < *next) next = at.timeMs;
    }
    return next;
}

void Machine::Impl::dialogShown(int templateId) {
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind != TriggerKind::Dialog || at.templateId != templateId ||
            !programMatches(at.program))
            continue;
        if (++incidentStates[i].seen == at.occurrence) fire(i);
    }
}

void Machine::Impl::commandComing(char letter, const Classified& call) {
    fireDueTimeIncidents();
    const bool isPoll =
        call.call == DeviceCall::RequestSense && pollsSinceFormat.count(letter) != 0;
    if (call.call == DeviceCall::Format) pollsSinceFormat[letter] = 0;
    if (isPoll) ++pollsSinceFormat[letter];
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        const bool driveMatches = !at.drive || *at.drive == letter;
        if (at.kind == TriggerKind::Poll && isPoll && driveMatches &&
            pollsSinceFormat[letter] == at.occurrence) {
            fire(i);
        } else if (at.kind == TriggerKind::Command && driveMatches && programMatches(at.program) &&
                   callMatches(at.call, at.operationCode, call)) {
            if (++incidentStates[i].seen == at.occurrence) fire(i);
        }
    }
}

}  // namespace sim

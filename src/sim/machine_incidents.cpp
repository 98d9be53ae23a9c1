#include "sim/machine_impl.h"
#include "sim/windows_names.h"

// The scenario's incidents: at a moment of virtual time, at a dialog, at a
// command or a poll of a running format.
namespace sim {

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

void Machine::Impl::dialogShown(int templateId) {
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        if (at.kind != TriggerKind::Dialog || at.templateId != templateId ||
            !programMatches(at.program))
            continue;
        if (++incidentStates[i].seen == at.occurrence) fire(i);
    }
}

bool Machine::Impl::isPoll(char letter, const Classified& call) const {
    return call.call == DeviceCall::RequestSense && pollsSinceFormat.count(letter) != 0;
}

void Machine::Impl::commandComing(char letter, const Classified& call) {
    virtualClock.runDue();
    if (call.call == DeviceCall::Format) pollsSinceFormat[letter] = 0;
    if (isPoll(letter, call)) ++pollsSinceFormat[letter];
    commandHooks.coming(letter, call);
}

// Each incident waits where its trigger says: time incidents on the virtual
// clock's timetable, command and poll incidents among the command hooks, in
// the scenario's order, so that two due at once happen in that order.
void Machine::Impl::scheduleIncidents() {
    for (std::size_t i = 0; i < scenario.incidents.size(); ++i) {
        const Trigger& at = scenario.incidents[i].at;
        const auto fireThis = [this, i] { fire(i); };
        const auto driveMatches = [drive = at.drive](char letter) {
            return !drive || *drive == letter;
        };
        switch (at.kind) {
            case TriggerKind::Time:
                virtualClock.at(at.timeMs, fireThis);
                break;
            case TriggerKind::Command:
                commandHooks.before(
                    [this, at, driveMatches](char letter, const Classified& call) {
                        return driveMatches(letter) && programMatches(at.program) &&
                               callMatches(at.call, at.operationCode, call);
                    },
                    at.occurrence, fireThis);
                break;
            case TriggerKind::Poll:
                // The count of polls starts again with each format, so the
                // hook waits for the first poll that is the wanted one.
                commandHooks.before(
                    [this, occurrence = at.occurrence, driveMatches](char letter,
                                                                     const Classified& call) {
                        return isPoll(letter, call) && driveMatches(letter) &&
                               pollsSinceFormat.at(letter) == occurrence;
                    },
                    1, fireThis);
                break;
            case TriggerKind::Dialog:
                break;  // counted as the dialogs open (dialogShown)
        }
    }
}

}  // namespace sim

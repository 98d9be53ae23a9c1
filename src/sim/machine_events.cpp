#include "sim/machine_events.h"

#include <stdexcept>

// The transcript's events: plain data, apart from the machine itself.
namespace sim {

// --- events -----------------------------------------------------------------------

const char* eventName(EventKind kind) {
    switch (kind) {
        case EventKind::ProcessStarted:
            return "process-started";
        case EventKind::ProcessEnded:
            return "process-ended";
        case EventKind::LibraryLoaded:
            return "library-loaded";
        case EventKind::LibraryMissing:
            return "library-missing";
        case EventKind::DialogShown:
            return "dialog";
        case EventKind::DialogAnswered:
            return "answer";
        case EventKind::AnswerRefused:
            return "answer-refused";
        case EventKind::DialogClosed:
            return "dialog-closed";
        case EventKind::TemplateMissing:
            return "template-missing";
        case EventKind::WindowCreated:
            return "window-created";
        case EventKind::WindowDestroyed:
            return "window-destroyed";
        case EventKind::Progress:
            return "progress";
        case EventKind::SuspendQuery:
            return "suspend-query";
        case EventKind::QuitPosted:
            return "quit-posted";
        case EventKind::LoopGuard:
            return "loop-guard";
        case EventKind::RegistryKeyCreated:
            return "registry-key-created";
        case EventKind::RegistryValueSet:
            return "registry-set";
        case EventKind::RegistryKeyDeleted:
            return "registry-key-deleted";
        case EventKind::FaultFired:
            return "fault";
        case EventKind::Incident:
            return "incident";
        case EventKind::MediumFormatted:
            return "medium-formatted";
        case EventKind::PowerOff:
            return "power-off";
        case EventKind::PowerOn:
            return "power-on";
        case EventKind::ReaderEnumerated:
            return "reader-enumerated";
        case EventKind::LogOn:
            return "log-on";
        case EventKind::RunOnce:
            return "run-once";
        case EventKind::ProgramOutput:
            return "output";
        case EventKind::FileOpened:
            return "file-opened";
        case EventKind::FirmwareLoaded:
            return "firmware-load";
        case EventKind::FirmwareHeader:
            return "firmware-header";
        case EventKind::VolumeOpened:
            return "volume-open";
        case EventKind::VolumeClosed:
            return "volume-close";
        case EventKind::VolumeLocked:
            return "volume-lock";
        case EventKind::VolumeUnlocked:
            return "volume-unlock";
        case EventKind::PassThrough:
            return "pass-through";
    }
    return "?";
}

const EventValue* MachineEvent::find(std::string_view name) const {
    for (const EventField& entry : fields) {
        if (entry.name == name) return &entry.value;
    }
    return nullptr;
}

void MachineEvent::missing(std::string_view name) const {
    throw std::logic_error(std::string("a ") + eventName(kind) + " event carries no field \"" +
                           std::string(name) + "\" of that type");
}

}  // namespace sim

#include <algorithm>
#include <cstddef>
#include <span>

#include "sim/machine.h"

// The transcript's events and what a reader makes of the firmware blocks it
// took: plain data, apart from the machine itself.
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

std::string MachineEvent::text(std::string_view name) const {
    const EventValue* value = find(name);
    const auto* held = value != nullptr ? std::get_if<std::string>(value) : nullptr;
    return held != nullptr ? *held : std::string();
}

std::int64_t MachineEvent::number(std::string_view name) const {
    const EventValue* value = find(name);
    const auto* held = value != nullptr ? std::get_if<std::int64_t>(value) : nullptr;
    return held != nullptr ? *held : 0;
}

bool MachineEvent::flag(std::string_view name) const {
    const EventValue* value = find(name);
    const auto* held = value != nullptr ? std::get_if<bool>(value) : nullptr;
    return held != nullptr && *held;
}

std::vector<std::string> MachineEvent::texts(std::string_view name) const {
    const EventValue* value = find(name);
    const auto* held = value != nullptr ? std::get_if<std::vector<std::string>>(value) : nullptr;
    return held != nullptr ? *held : std::vector<std::string>();
}

// --- what a reader made of the blocks ---------------------------------------------

FirmwareReception receptionOf(const std::vector<ReceivedBlock>& blocks) {
    FirmwareReception reception;
    if (blocks.empty() || blocks.front().number != 0 ||
        blocks.front().bytes.size() != firmware::kBlockSize) {
        return reception;
    }
    reception.headerReceived = true;
    const std::span<const std::uint8_t, firmware::kBlockSize> header(blocks.front().bytes.data(),
                                                                     firmware::kBlockSize);
    // The reader knows the sender scrambled when the header, read scrambled,
    // names the one header name that switches scrambling on.
    const firmware::HeaderBlockFields scrambled = firmware::parseHeaderBlock(header, true);
    reception.scrambled =
        scrambled.headerNameBytes == firmware::headerNameBytes(firmware::kScramblingHeaderName);
    reception.header = reception.scrambled ? scrambled : firmware::parseHeaderBlock(header, false);
    reception.blocksExpected = firmware::blockCount(reception.header.imageLength);

    std::vector<std::uint8_t> data;
    for (std::size_t k = 1; k < blocks.size(); ++k) {
        if (blocks[k].number != k || blocks[k].bytes.size() != firmware::kBlockSize) break;
        firmware::Block block{};
        std::copy(blocks[k].bytes.begin(), blocks[k].bytes.end(), block.begin());
        if (reception.scrambled) firmware::scrambleBlock(block);
        data.insert(data.end(), block.begin(), block.end());
        ++reception.blocksReceived;
    }
    reception.whole = reception.blocksReceived == reception.blocksExpected &&
                      blocks.size() == std::size_t{reception.blocksExpected} + 1;

    // The blocks hold the image from kFirstBlockIndex on; the checksum can be
    // verified when the range it covers lies inside them.
    const std::uint64_t start = reception.header.imageStart;
    const std::uint64_t end = start + reception.header.imageLength;
    if (reception.whole && start >= firmware::kFirstBlockIndex &&
        end <= firmware::kFirstBlockIndex + data.size()) {
        std::uint32_t sum = 0;
        for (std::uint64_t i = start; i < end; ++i) sum += data[i - firmware::kFirstBlockIndex];
        reception.checksumMatches =
            static_cast<std::uint16_t>(sum) == reception.header.imageChecksum;
    }
    return reception;
}

}  // namespace sim

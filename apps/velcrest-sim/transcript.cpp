#include "transcript.h"

#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "firmware/srecord_reader.h"
#include "transcript_text.h"

namespace simrun {

namespace {

using sim::EventKind;
namespace field = sim::field;
using sim::MachineEvent;

constexpr int kBarWidth = 20;
constexpr int kFullPercent = 100;
constexpr std::string_view kProgramExtension = ".exe";
constexpr const char* kIndent = "                          ";
// A firmware file that is not encoded gives a diagnostic for nearly every
// character; the text transcript shows the first few lines and a count.
constexpr std::int64_t kShownOutputLines = 5;

std::string programColumn(const MachineEvent& event) {
    std::string name = event.program.empty() ? std::string("Windows") : event.program;
    if (name.size() > kProgramExtension.size() &&
        name.compare(name.size() - kProgramExtension.size(), kProgramExtension.size(),
                     kProgramExtension) == 0) {
        name.resize(name.size() - kProgramExtension.size());
    }
    return name;
}

std::string lead(const MachineEvent& event) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(), "%9llu ms  %-9s ",
                  static_cast<unsigned long long>(event.timeMs), programColumn(event).c_str());
    return text.data();
}

std::string hex(std::int64_t value) {
    std::array<char, 24> text{};
    std::snprintf(text.data(), text.size(), "0x%02llX", static_cast<unsigned long long>(value));
    return text.data();
}

std::string registryValueText(const MachineEvent& event) {
    const std::string type = event.get(field::kType);
    if (type == "REG_SZ" || type == "REG_EXPAND_SZ") {
        return type + " " + quoted(event.get(field::kDataText)) +
               (event.get(field::kTerminated) ? "" : " (without its terminating zero)");
    }
    if (type == "REG_MULTI_SZ")
        return type + " [" + joined(event.get(field::kDataTexts), ", ") + "]";
    // A REG_DWORD of another size than four bytes is shown by its bytes.
    if (event.has(field::kDataNumber))
        return type + " " + std::to_string(event.get(field::kDataNumber));
    return type + " " + event.get(field::kDataText);
}

std::string dialogText(const MachineEvent& event, const std::string& what) {
    std::string text = what + " " + std::to_string(event.get(field::kTemplate)) + " " +
                       quoted(event.get(field::kCaption)) + "\n";
    for (const std::string& line : event.get(field::kTexts)) text += kIndent + ("| " + line) + "\n";
    if (event.has(field::kChoices)) {
        const std::vector<std::string>& choices = event.get(field::kChoices);
        const auto selected = event.get(field::kSelected);
        std::vector<std::string> shown;
        for (std::size_t i = 0; i < choices.size(); ++i) {
            shown.push_back(std::to_string(i + 1) + ". " + choices[i] +
                            (static_cast<std::int64_t>(i) == selected ? " (selected)" : ""));
        }
        text += kIndent + ("| choices: " + joined(shown, ", ")) + "\n";
    }
    std::vector<std::string> buttons;
    for (const std::string& button : event.get(field::kButtons))
        buttons.push_back("[" + button + "]");
    if (!buttons.empty()) text += kIndent + ("| " + joined(buttons, " ")) + "\n";
    if (event.has(field::kNote)) text += kIndent + ("| (" + event.get(field::kNote) + ")") + "\n";
    return text;
}

std::string progressText(const MachineEvent& event) {
    const int percent = static_cast<int>(event.get(field::kPercent));
    const int filled = percent * kBarWidth / kFullPercent;
    std::string bar(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(kBarWidth - filled), '.');
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "progress [%s] %3d %%  (%lld of %lld)", bar.c_str(),
                  percent,
                  static_cast<long long>(event.get(field::kPosition) - event.get(field::kLow)),
                  static_cast<long long>(event.get(field::kHigh) - event.get(field::kLow)));
    return text.data();
}

std::string faultText(const MachineEvent& event) {
    std::string text = "fault: " + event.get(field::kCommand);
    if (event.has(field::kBlock)) text += " of block " + std::to_string(event.get(field::kBlock));
    if (event.has(field::kOperation)) text += " " + hex(event.get(field::kOperation));
    text += " on " + event.get(field::kDrive) + " (#" +
            std::to_string(event.get(field::kOccurrence)) + ")";
    if (event.has(field::kFails)) {
        text += " fails with error " + std::to_string(event.get(field::kFails));
    } else {
        text += " is answered CHECK CONDITION, sense " + event.get(field::kSense);
    }
    return text;
}

std::string incidentText(const MachineEvent& event) {
    const std::string what = event.get(field::kDo);
    const std::string drive = event.has(field::kDrive) ? event.get(field::kDrive) : std::string();
    if (what == "pullMedium") return "incident: the medium is pulled out of " + drive;
    if (what == "insertMedium") return "incident: a medium goes into " + drive;
    if (what == "writeProtect") {
        return "incident: the write-protect byte of " + drive + " becomes " +
               hex(event.get(field::kBits)) +
               (event.has(field::kProblem) ? " (" + event.get(field::kProblem) + ")" : "");
    }
    if (what == "querySuspend") return "incident: Windows asks whether it may suspend";
    if (what == "quit") return "incident: a quit message arrives";
    if (what == "start") return "incident: the user starts " + event.get(field::kProgram);
    return "incident: " + what;
}

std::string readerText(const MachineEvent& event) {
    std::string text =
        "reader on " + event.get(field::kDrive) + " comes up as " + event.get(field::kIdentity);
    if (event.get(field::kChanged)) {
        text += "\n" + std::string(kIndent) + "| was " + event.get(field::kBefore);
        text += "\n" + std::string(kIndent) + "| Windows records " + event.get(field::kStorageKey);
        text += "\n" + std::string(kIndent) + "| and " + event.get(field::kUsbKey);
    }
    if (event.has(field::kFirmware) &&
        event.get(field::kFirmware).starts_with(sim::kFirmwareNotTaken)) {
        text += "\n" + std::string(kIndent) + "| the new firmware was not taken (" +
                event.get(field::kFirmware).substr(sim::kFirmwareNotTaken.size()) +
                "): the old firmware stays";
    }
    return text;
}

std::string runOnceText(const MachineEvent& event) {
    std::string text = "Windows runs run-once " + quoted(event.get(field::kName)) + ": " +
                       event.get(field::kCommand) + " (removed " + event.get(field::kRemoved) +
                       " it runs)";
    const std::string starts = event.get(field::kStarts);
    if (starts.empty()) return text + "\n" + kIndent + "| nothing by that name exists";
    text += "\n" + std::string(kIndent) + "| starts " + starts;
    if (!event.has(field::kProgram)) text += ", which is not a program of this package";
    return text;
}

std::string loadResultText(std::int64_t result) {
    switch (result) {
        case firmware::kLoadOk:
            return "0 (loaded)";
        case firmware::kLoadChecksumError:
            return "1 (a record is cut short or its checksum is wrong)";
        case firmware::kLoadAddressOutOfRange:
            return "2 (a record lies outside the addresses a reader takes)";
        default:
            return std::to_string(result);
    }
}

std::string firmwareLoadText(const MachineEvent& event) {
    std::string text = "loads firmware file " + quoted(event.get(field::kFile)) + ": result " +
                       loadResultText(event.get(field::kResult));
    if (event.get(field::kHoldsData)) {
        text += ", data " + hex(event.get(field::kLowAddress)) + " to " +
                hex(event.get(field::kHighAddress));
    } else {
        text += ", no data";
    }
    if (event.has(field::kRecordLine)) {
        text += "\n" + std::string(kIndent) + "| the load ended at line " +
                std::to_string(event.get(field::kRecordLine)) + ", an " +
                event.get(field::kRecordType) + " record at address " +
                hex(event.get(field::kRecordAddress));
    }
    if (event.has(field::kRow)) {
        std::vector<std::string> fields;
        for (const std::string& field : event.get(field::kRowFields))
            fields.push_back(quoted(field));
        text += "\n" + std::string(kIndent) + "| row " + std::to_string(event.get(field::kRow)) +
                " of the table (the reader on " + event.get(field::kDrive) +
                "): " + joined(fields, " ");
    }
    return text;
}

std::string firmwareHeaderText(const MachineEvent& event) {
    return event.get(field::kDrive) + " takes the header: header name " +
           quoted(event.get(field::kHeaderName)) +
           (event.get(field::kScrambled) ? ", blocks scrambled" : ", blocks not scrambled") + "\n" +
           kIndent + "| product " + hex(event.get(field::kProductId)) + " " +
           quoted(event.get(field::kProductName)) + ", image " +
           hex(event.get(field::kImageStart)) + " + " + hex(event.get(field::kImageLength)) +
           " bytes, checksum " + hex(event.get(field::kImageChecksum)) + ", " +
           std::to_string(event.get(field::kBlocks)) + " data blocks to follow";
}

std::string hiddenOutputText(std::int64_t lines) {
    if (lines <= kShownOutputLines) return std::string();
    return " (its other " + std::to_string(lines - kShownOutputLines) +
           " lines on standard output are not shown here; --json has each)";
}

std::string volumeText(const MachineEvent& event, const std::string& what) {
    const std::string drive = event.get(field::kDrive);
    if (event.get(field::kSucceeded)) return what + " " + drive;
    return what + " " + drive + " fails with error " + std::to_string(event.get(field::kError));
}

// The text of one event, without the time and program columns; empty for the
// events the text transcript leaves to --json.
std::string body(const MachineEvent& event) {
    switch (event.kind) {
        case EventKind::ProcessStarted:
            return "starts, current directory " + event.get(field::kDirectory);
        case EventKind::ProcessEnded:
            return (event.get(field::kKilled) ? std::string("is ended where it stands")
                                              : std::string("ends")) +
                   hiddenOutputText(event.get(field::kOutputLines));
        case EventKind::LibraryLoaded:
            return "loads " + event.get(field::kLibrary) + " (" + event.get(field::kScript) + ")";
        case EventKind::LibraryMissing:
            return "no " + event.get(field::kLibrary) + ": " + event.get(field::kReason);
        case EventKind::DialogShown:
            return dialogText(event, "dialog");
        case EventKind::DialogAnswered: {
            const std::string button =
                event.has(field::kButton) ? event.get(field::kButton) : std::string();
            return "  the user: " + event.get(field::kAnswer) +
                   (button.empty() ? "" : " (" + button + ")");
        }
        case EventKind::AnswerRefused:
            return "  the user tries " + event.get(field::kAnswer) + ": " +
                   event.get(field::kReason);
        case EventKind::DialogClosed:
            return "  dialog " + std::to_string(event.get(field::kTemplate)) + " ends with " +
                   std::to_string(event.get(field::kResult));
        case EventKind::TemplateMissing:
            return (event.get(field::kModal) ? "dialog " : "window ") +
                   std::to_string(event.get(field::kTemplate)) +
                   " cannot be shown: no such template in the resources";
        case EventKind::WindowCreated:
            return dialogText(event, "window");
        case EventKind::WindowDestroyed:
            return "window " + std::to_string(event.get(field::kTemplate)) + " closes";
        case EventKind::Progress:
            return progressText(event);
        case EventKind::SuspendQuery:
            return std::string("Windows asks to suspend: ") +
                   (event.get(field::kRefused) ? "refused" : "allowed");
        case EventKind::QuitPosted:
            return "posts a quit message";
        case EventKind::LoopGuard:
            return "LOOP GUARD: " + event.get(field::kReason) + "; the scenario is stopped";
        case EventKind::RegistryKeyCreated:
            return "registry: creates HKLM\\" + event.get(field::kKey);
        case EventKind::RegistryValueSet:
            return "registry: sets HKLM\\" + event.get(field::kKey) + " " +
                   quoted(event.get(field::kName)) + " = " + registryValueText(event);
        case EventKind::RegistryKeyDeleted:
            return "registry: deletes HKLM\\" + event.get(field::kKey);
        case EventKind::FaultFired:
            return faultText(event);
        case EventKind::Incident:
            return incidentText(event);
        case EventKind::MediumFormatted:
            return "the medium in " + event.get(field::kDrive) + " has been formatted";
        case EventKind::PowerOff:
            return event.get(field::kRestart)
                       ? std::string("== Windows restarts")
                       : "== Windows switches the machine off (ExitWindowsEx " +
                             hex(event.get(field::kFlags)) + ")";
        case EventKind::PowerOn:
            return "== the machine is switched on";
        case EventKind::ReaderEnumerated:
            return readerText(event);
        case EventKind::LogOn:
            return "== the user logs on";
        case EventKind::RunOnce:
            return runOnceText(event);
        case EventKind::ProgramOutput:
            if (event.has(field::kLine) && event.get(field::kLine) > kShownOutputLines)
                return std::string();
            return "standard output: " + event.get(field::kText);
        case EventKind::FileOpened:
            return event.has(field::kError)
                       ? "cannot open " + event.get(field::kPath) + " (error " +
                             std::to_string(event.get(field::kError)) + ")"
                       : "opens " + event.get(field::kPath);
        case EventKind::FirmwareLoaded:
            return firmwareLoadText(event);
        case EventKind::FirmwareHeader:
            return firmwareHeaderText(event);
        case EventKind::VolumeOpened:
            return event.get(field::kOpened)
                       ? std::string()
                       : "cannot open the volume " + event.get(field::kDrive) + " (error " +
                             std::to_string(event.get(field::kError)) + ")";
        case EventKind::VolumeClosed:
            return event.has(field::kAfterRefusal)
                       ? "releases the volume " + event.get(field::kDrive) + " after " +
                             event.get(field::kAfterRefusal) + "; closing the handle drops its lock"
                       : std::string();
        case EventKind::VolumeLocked:
            return volumeText(event, "locks the volume");
        case EventKind::VolumeUnlocked:
            return volumeText(event, "unlocks the volume");
        case EventKind::PassThrough:
            return std::string();
    }
    return eventName(event.kind);
}

}  // namespace

constexpr unsigned char kFirstPrintable = 0x20;
constexpr unsigned char kDelete = 0x7F;

// A string as JSON quotes it, so that a quote, a backslash, a CR or a
// missing character inside it can never be mistaken for anything else.
std::string quoted(const std::string& text) {
    std::string result(1, '"');
    for (const char c : text) {
        const auto code = static_cast<unsigned char>(c);
        switch (c) {
            case '"':
                result += "\\\"";
                break;
            case '\\':
                result += "\\\\";
                break;
            case '\r':
                result += "\\r";
                break;
            case '\n':
                result += "\\n";
                break;
            case '\t':
                result += "\\t";
                break;
            default:
                if (code < kFirstPrintable || code == kDelete) {
                    std::array<char, 8> escape{};
                    std::snprintf(escape.data(), escape.size(), "\\u%04x", unsigned{code});
                    result += escape.data();
                } else {
                    result += c;
                }
        }
    }
    result += '"';
    return result;
}

std::string joined(const std::vector<std::string>& parts, const std::string& separator) {
    std::string text;
    for (const std::string& part : parts) {
        if (!text.empty()) text += separator;
        text += part;
    }
    return text;
}

std::string transcriptText(const MachineEvent& event) {
    const std::string what = body(event);
    if (what.empty()) return what;
    std::string text = lead(event) + what;
    if (text.back() != '\n') text += '\n';
    return text;
}

std::string eventJson(const MachineEvent& event) {
    nlohmann::ordered_json line;
    line["event"] = eventName(event.kind);
    line["time"] = event.timeMs;
    line["program"] = event.program;
    for (const sim::EventField& entry : event.fields) {
        std::visit([&](const auto& value) { line[std::string(entry.name)] = value; }, entry.value);
    }
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace simrun

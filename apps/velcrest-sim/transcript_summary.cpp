#include <array>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "format/format_templates.h"
#include "program_table.h"
#include "transcript.h"
#include "transcript_text.h"

// The closing summary of a run, as text and as the last JSON line.
namespace simrun {

namespace {

std::string identityLine(const sim::DeviceIdentity& identity) {
    std::array<char, 32> usb{};
    std::snprintf(usb.data(), usb.size(), "%04x:%04x rev %04x", unsigned{identity.vendorId},
                  unsigned{identity.productId}, unsigned{identity.deviceRevision});
    return quoted(identity.inquiry.vendor) + " " + quoted(identity.inquiry.product) + " " +
           quoted(identity.inquiry.revision) + ", USB " + usb.data();
}

std::string firmwareLine(const sim::FirmwareReception& firmware) {
    if (!firmware.headerReceived) return "not sent";
    const std::string blocks = std::to_string(firmware.blocksReceived) + " of " +
                               std::to_string(firmware.blocksExpected) + " blocks";
    if (firmware.written()) {
        return "written (header and " + blocks +
               (firmware.checksumMatches ? ", checksum right)" : ")");
    }
    return "NOT written: " + firmware.failureReason;
}

std::string pairs(const std::vector<std::pair<std::string, std::string>>& values) {
    std::vector<std::string> parts;
    for (const auto& [name, data] : values) parts.push_back(name + "=" + quoted(data));
    return joined(parts, " ");
}

nlohmann::ordered_json identityJson(const sim::DeviceIdentity& identity) {
    std::array<char, 8> vid{};
    std::array<char, 8> pid{};
    std::array<char, 8> rev{};
    std::snprintf(vid.data(), vid.size(), "%04x", unsigned{identity.vendorId});
    std::snprintf(pid.data(), pid.size(), "%04x", unsigned{identity.productId});
    std::snprintf(rev.data(), rev.size(), "%04x", unsigned{identity.deviceRevision});
    return {{"vendor", identity.inquiry.vendor},
            {"product", identity.inquiry.product},
            {"revision", identity.inquiry.revision},
            {"vid", vid.data()},
            {"pid", pid.data()},
            {"rev", rev.data()}};
}

}  // namespace

std::string summaryText(const RunResult& result) {
    const RunSummary& summary = result.summary;
    const sim::MachineSummary& machine = summary.machine;
    std::ostringstream out;
    out << "\n== summary\n";
    for (const sim::ReaderSummary& reader : machine.readers) {
        out << "reader " << reader.letter << ":   firmware " << firmwareLine(reader.firmware)
            << "\n";
        out << "             before " << identityLine(reader.before) << "\n";
        out << "             after  " << identityLine(reader.after) << "\n";
        out << "             medium "
            << (reader.formatsCompleted > 0
                    ? "formatted (" + std::to_string(reader.formatsCompleted) + " format" +
                          (reader.formatsCompleted > 1 ? "s)" : ")")
                    : std::string("not formatted"))
            << (reader.formatsAborted > 0
                    ? ", " + std::to_string(reader.formatsAborted) + " format(s) cut short"
                    : std::string())
            << "\n";
    }
    if (machine.readers.empty()) out << "readers:     none\n";
    if (summary.showed(kFormatProgramFile,
                       format::templateNumber(format::FormatTemplate::NotFormatted))) {
        out << "format:      not seen to finish; Ardlow told the user so (notice 154)\n";
    }
    out << "marker:      ";
    if (machine.markerPresent) {
        out << "left: " << pairs(machine.markerValues) << "\n";
    } else {
        out << (machine.markerWritten ? "written, then removed" : "never written") << "\n";
    }
    out << "run-once:    "
        << (machine.runOnceValues.empty() ? std::string("none left")
                                          : "left: " + pairs(machine.runOnceValues))
        << "\n";
    out << "closing:     "
        << (summary.formatClosingNotice
                ? summary.formatClosingNotice->program + " showed notice " +
                      std::to_string(summary.formatClosingNotice->templateId) + " " +
                      quoted(summary.formatClosingNotice->caption)
                : std::string("the format program showed no closing notice"))
        << "\n";
    out << "power:       " << machine.powerCycles << " power cycle(s); the machine is "
        << (machine.poweredOff ? "off" : "on") << " at the end\n";
    std::string locked;
    for (const char letter : machine.lockedVolumes)
        locked += std::string(locked.empty() ? "" : ", ") + letter + ":";
    out << "left open:   " << machine.openRegistryKeys << " registry key(s), "
        << machine.openVolumeHandles
        << " volume handle(s), locked volumes: " << (locked.empty() ? "none" : locked) << "\n";
    out << "ended:       "
        << (summary.stoppedByLoopGuard
                ? "STOPPED by the loop guard (" + summary.loopGuardReason + ")"
                : std::string("the scenario ran to its end"))
        << "\n";
    return out.str();
}

std::string summaryJson(const RunResult& result) {
    const RunSummary& summary = result.summary;
    const sim::MachineSummary& machine = summary.machine;
    nlohmann::ordered_json line;
    line["event"] = "summary";
    line["exitStatus"] = result.exitStatus;
    line["stoppedByLoopGuard"] = summary.stoppedByLoopGuard;
    if (summary.stoppedByLoopGuard) line["loopGuardReason"] = summary.loopGuardReason;
    nlohmann::ordered_json readers = nlohmann::ordered_json::array();
    for (const sim::ReaderSummary& reader : machine.readers) {
        nlohmann::ordered_json entry;
        entry["drive"] = std::string(1, reader.letter) + ":";
        entry["before"] = identityJson(reader.before);
        entry["after"] = identityJson(reader.after);
        entry["firmwareWritten"] = reader.firmware.written();
        entry["headerReceived"] = reader.firmware.headerReceived;
        entry["blocksReceived"] = reader.firmware.blocksReceived;
        entry["blocksExpected"] = reader.firmware.blocksExpected;
        if (reader.firmware.checksumMatches) {
            entry["checksumMatches"] = *reader.firmware.checksumMatches;
        } else {
            entry["checksumMatches"] = nullptr;
        }
        entry["formatsCompleted"] = reader.formatsCompleted;
        entry["formatsAborted"] = reader.formatsAborted;
        readers.push_back(entry);
    }
    line["readers"] = readers;
    nlohmann::ordered_json marker;
    marker["written"] = machine.markerWritten;
    marker["present"] = machine.markerPresent;
    marker["values"] = nlohmann::ordered_json::object();
    for (const auto& [name, data] : machine.markerValues) marker["values"][name] = data;
    line["marker"] = marker;
    line["runOnce"] = nlohmann::ordered_json::object();
    for (const auto& [name, data] : machine.runOnceValues) line["runOnce"][name] = data;
    if (summary.formatClosingNotice) {
        line["closingNotice"] = {{"program", summary.formatClosingNotice->program},
                                 {"template", summary.formatClosingNotice->templateId},
                                 {"caption", summary.formatClosingNotice->caption}};
    } else {
        line["closingNotice"] = nullptr;
    }
    line["powerCycles"] = machine.powerCycles;
    line["poweredOff"] = machine.poweredOff;
    line["openRegistryKeys"] = machine.openRegistryKeys;
    line["openVolumeHandles"] = machine.openVolumeHandles;
    nlohmann::ordered_json locked = nlohmann::ordered_json::array();
    for (const char letter : machine.lockedVolumes) locked.push_back(std::string(1, letter) + ":");
    line["lockedVolumes"] = locked;
    nlohmann::ordered_json dialogs = nlohmann::ordered_json::array();
    for (const ShownDialog& dialog : summary.dialogs)
        dialogs.push_back({{"program", dialog.program}, {"template", dialog.templateId}});
    line["dialogs"] = dialogs;
    return line.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

}  // namespace simrun

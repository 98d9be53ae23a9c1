#pragma once

// What the end-to-end suites read out of a finished run: the dialogs a
// program showed and how they were answered, registry writes, and the block
// stream the example package puts on the wire.

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_table.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"
#include "format/format_templates.h"
#include "scenario_run.h"
#include "sim/machine.h"
#include "support/case_names.h"
#include "support/scratch_folder.h"
#include "update/update_templates.h"

namespace e2e {

inline constexpr char kUpdate[] = "Velcrest.exe";
inline constexpr char kFormat[] = "Ardlow.exe";

constexpr int id(update::UpdateTemplate t) {
    return update::templateNumber(t);
}
constexpr int id(format::FormatTemplate t) {
    return format::templateNumber(t);
}

using UT = update::UpdateTemplate;
using FT = format::FormatTemplate;

inline const std::filesystem::path kPackage =
    std::filesystem::path(VELCREST_SOURCE_DIR) / "examples" / "package";

// The suites name their table cases with the one case-name printer.
using testsupport::NameOfCase;

// The templates one program showed, in order.
inline std::vector<int> dialogsOf(const simrun::RunResult& result, std::string_view program) {
    std::vector<int> shown;
    for (const simrun::ShownDialog& dialog : result.summary.dialogs) {
        if (dialog.program == program) shown.push_back(dialog.templateId);
    }
    return shown;
}

inline std::size_t timesShown(const simrun::RunResult& result, std::string_view program,
                              int templateId) {
    const std::vector<int> shown = dialogsOf(result, program);
    return static_cast<std::size_t>(std::count(shown.begin(), shown.end(), templateId));
}

inline std::size_t countEvents(const simrun::RunResult& result, sim::EventKind kind,
                               std::string_view program = {}) {
    return static_cast<std::size_t>(
        std::count_if(result.events.begin(), result.events.end(), [&](const sim::MachineEvent& e) {
            return e.kind == kind && (program.empty() || e.program == program);
        }));
}

// How the dialogs of a template closed, in order (1 OK, 2 Cancel, ...).
inline std::vector<std::int64_t> resultsOf(const simrun::RunResult& result,
                                           std::string_view program, int templateId) {
    std::vector<std::int64_t> results;
    for (const sim::MachineEvent& event : result.events) {
        if (event.kind == sim::EventKind::DialogClosed && event.program == program &&
            event.get(sim::field::kTemplate) == templateId)
            results.push_back(event.get(sim::field::kResult));
    }
    return results;
}

// The data of the last write of a registry value, as text.
inline std::optional<std::string> lastWrite(const simrun::RunResult& result, std::string_view key,
                                            std::string_view name) {
    std::optional<std::string> data;
    for (const sim::MachineEvent& event : result.events) {
        if (event.kind == sim::EventKind::RegistryValueSet && event.get(sim::field::kKey) == key &&
            event.get(sim::field::kName) == name)
            data = event.get(sim::field::kDataText);
    }
    return data;
}

// The reader refuses the numbered firmware block with a write error, every
// time it comes.
inline sim::CommandFault refusedBlock(std::uint16_t block) {
    sim::CommandFault fault;
    fault.call = sim::DeviceCall::WriteBlock;
    fault.block = block;
    fault.times = sim::kForever;
    fault.failCall = false;
    fault.senseKey = sim::kSenseMediumError;
    fault.asc = sim::kAscWriteError;
    return fault;
}

inline bool started(const simrun::RunResult& result, std::string_view program) {
    return countEvents(result, sim::EventKind::ProcessStarted, program) > 0;
}

inline std::optional<bool> value(const std::vector<std::pair<std::string, std::string>>& values,
                                 std::string_view name, std::string_view expected) {
    for (const auto& [key, data] : values) {
        if (key == name) return data == expected;
    }
    return std::nullopt;
}

// What every run must leave behind, whatever happened in it.
inline void expectNothingLeftOpen(const simrun::RunResult& result) {
    const sim::MachineSummary& machine = result.summary.machine;
    EXPECT_EQ(machine.openRegistryKeys, 0u) << "registry keys left open";
    EXPECT_EQ(machine.openVolumeHandles, 0u) << "volume handles left open";
    EXPECT_TRUE(machine.lockedVolumes.empty()) << "a volume left locked";
}

inline std::vector<std::uint8_t> readHostFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The header and blocks the example package sends the demo reader, built
// from the package's own table row and firmware file by the firmware library.
inline std::vector<std::uint8_t> expectedDemoStream() {
    firmware::resetChainedDecoder();  // read as a program reads it, in a fresh process
    const std::vector<std::uint8_t> raw = readHostFile(kPackage / "firmtable.txt");
    const std::string text = firmware::decodeFirmwareTableText(raw);
    const std::optional<firmware::FirmwareTableRow> row =
        firmware::findFirmwareRow(text, {"0d9f", "1001", "0100", "TKW-5 CardRW"});
    if (!row) return {};
    firmware::FileByteSource file;
    if (!file.open((kPackage / row->firmwareFileName).string())) return {};
    firmware::FirmwareImage image;
    if (firmware::loadFirmwareImage(file, image) != firmware::kLoadOk) return {};
    const firmware::FlashPlan plan = firmware::planFlash(
        image, {"0d9f", row->newProductId, "0100", row->newProductName, row->headerName});
    return firmware::buildBlockStream(image, plan);
}

// Copies of the example package, changed, each in a scratch folder of its
// test and process. The copies go when the process ends, since a scenario
// reads its package only after its setUp has returned.
class PackageCopies {
  public:
    PackageCopies() = default;
    PackageCopies(const PackageCopies&) = delete;
    PackageCopies& operator=(const PackageCopies&) = delete;

    // A fresh copy for the running test; `kind` says what will be changed.
    std::filesystem::path copy(std::string_view kind) {
        const auto& scratch = made_.emplace_back(
            std::make_unique<testsupport::ScratchFolder>("velcrest_e2e_" + std::string(kind)));
        std::filesystem::copy(kPackage, scratch->path(), std::filesystem::copy_options::recursive);
        return scratch->path();
    }

  private:
    std::vector<std::unique_ptr<testsupport::ScratchFolder>> made_;
};

inline PackageCopies& packageCopies() {
    static PackageCopies copies;
    return copies;
}

inline void writeBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

inline void writeEncoded(const std::filesystem::path& path, const std::string& plain) {
    writeBytes(path,
               firmware::encodeChainedLines(std::vector<std::uint8_t>(plain.begin(), plain.end())));
}

// Turns the decoded table text into the copy's; no value: no table.
using TableEdit = std::function<std::optional<std::string>(const std::string&)>;

inline std::filesystem::path packageWithTable(std::string_view kind, const TableEdit& edit) {
    const std::filesystem::path folder = packageCopies().copy(kind);
    const std::filesystem::path table = folder / "firmtable.txt";
    const std::vector<std::uint8_t> plain = firmware::decodeChainedFile(readHostFile(table));
    std::filesystem::remove(table);
    const std::optional<std::string> edited = edit(std::string(plain.begin(), plain.end()));
    if (edited) writeEncoded(table, *edited);
    return folder;
}

inline std::filesystem::path packageWithoutTable() {
    return packageWithTable("no_table",
                            [](const std::string&) { return std::optional<std::string>(); });
}

// Every firmware file of the package replaced by `encoded`, as it is.
inline std::filesystem::path packageWithEveryFirmwareBytes(
    const std::vector<std::uint8_t>& encoded) {
    const std::filesystem::path folder = packageCopies().copy("firmware");
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string extension = entry.path().extension().string();
        if (extension == ".s28" || extension == ".s37") writeBytes(entry.path(), encoded);
    }
    return folder;
}

// Every firmware file of the package replaced by `plain`, encoded.
inline std::filesystem::path packageWithEveryFirmware(const std::string& plain) {
    return packageWithEveryFirmwareBytes(
        firmware::encodeChainedLines(std::vector<std::uint8_t>(plain.begin(), plain.end())));
}

// The example package with the key columns of every row (USB vendor id,
// product id and revision) in upper case, as Windows Vista and later spell
// them.
inline std::filesystem::path packageWithUpperCaseKeys() {
    return packageWithTable("upper_case_keys", [](const std::string& text) {
        constexpr std::size_t kKeyColumns[] = {0, 1, 5};
        std::string edited;
        std::size_t column = 0;
        for (const char c : text) {
            const bool key = std::find(std::begin(kKeyColumns), std::end(kKeyColumns), column) !=
                             std::end(kKeyColumns);
            edited += key ? static_cast<char>(std::toupper(static_cast<unsigned char>(c))) : c;
            if (c == ';') ++column;
            if (c == '\n') column = 0;
        }
        return std::optional<std::string>(edited);
    });
}

}  // namespace e2e

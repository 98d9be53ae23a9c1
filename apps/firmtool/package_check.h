#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmware/firmware_table.h"
#include "firmware/flash_layout.h"

// The checks of `firmtool check`: what can go wrong with a firmware package
// between the person who prepares it and the update program that reads it.
namespace firmtool {

enum class Severity {
    Warning,  // the row works, but probably not as meant
    Problem,  // the row can never work
};

struct Finding {
    Severity severity = Severity::Problem;
    std::string text;
};

// What loading a row's firmware file gave.
struct FirmwareFacts {
    std::uint8_t loadResult = 0;
    std::uint32_t lowAddress = 0;
    std::uint32_t highAddress = 0;
    bool holdsData = false;  // the image's own judgement: at least one byte was stored
    firmware::FlashPlan plan;
};

struct RowCheck {
    std::size_t lineNumber = 0;  // from 1, as an editor counts
    std::string line;            // the decoded line without its LF
    firmware::FirmwareTableRow row;
    bool readByProgram = true;  // false when the update program never reads it whole
    std::optional<FirmwareFacts> firmware;
    std::vector<Finding> findings;

    bool isEmptyLine() const { return line.empty(); }
    bool canWork() const;
    std::size_t count(Severity severity) const;
};

// Everything about the rows that needs no firmware file: their shape, rows the
// update program never reads, rows that an earlier row with the same key
// hides.
std::vector<RowCheck> checkTableRows(std::span<const std::uint8_t> rawTable);

// Whether the row's firmware file is worth opening: a row without a usable
// file name, or one the program never reads, is settled already.
bool firmwareIsCheckable(const RowCheck& check);

// Opens the row's firmware file relative to the current directory, as the
// update program does, loads it and adds what it found. The loader's
// diagnostics go to standard output as they come.
void checkRowFirmware(RowCheck& check);

}  // namespace firmtool

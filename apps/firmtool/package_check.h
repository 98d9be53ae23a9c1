#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "firmtool.h"
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
    std::string hint;  // what the file's form says, when it looks wrong
    CappedDiagnostics diagnostics;
    std::uint8_t loadResult = 0;
    std::uint32_t lowAddress = 0;
    std::uint32_t highAddress = 0;
    bool holdsData = false;  // the image's own judgement: at least one byte was stored
    firmware::FlashPlan plan;
};

// The Windows generations whose registry spelling of USB ids a row's key can
// equal: 2000 and XP write hexadecimal digits in lower case, Vista and later in
// upper case; ids of decimal digits only are spelt alike by both.
enum WindowsGeneration : unsigned {
    kNoGeneration = 0,
    kOlderWindows = 1,  // 2000, XP
    kNewerWindows = 2,  // Vista and later
    kEveryGeneration = kOlderWindows | kNewerWindows,
};

// "Windows 2000/XP", "Vista and later", "every Windows generation" or "no
// Windows generation".
std::string generationText(unsigned generations);

struct RowCheck {
    std::size_t lineNumber = 0;  // from 1, as an editor counts
    std::string line;            // the decoded line without its LF
    firmware::FirmwareTableRow row;
    bool readByProgram = true;             // false when the update program never reads it whole
    unsigned generations = kNoGeneration;  // WindowsGeneration bits its key can match on
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

// Opens the row's firmware file from the current directory, as the update
// program started there does on Windows, loads it and adds what it found. The
// loader's diagnostics are kept in the facts for the caller to print.
void checkRowFirmware(RowCheck& check);

}  // namespace firmtool

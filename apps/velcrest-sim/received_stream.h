#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "scenario_run.h"

namespace simrun {

// "E", "e" or "E:" as a drive letter.
std::optional<char> driveLetterOf(std::string_view text);

// The reader whose stream is wanted: the one on `drive`, or when none is
// named the first reader that took a header block, else the first reader.
// Null when the machine has no reader there.
const sim::ReaderSummary* streamReader(const RunResult& result, std::optional<char> drive);

// Writes the bytes the reader took since its last header block, exactly as
// they arrived (the header block, then the data blocks), to `file`; the
// problem when there is no such reader or the file cannot be written.
std::optional<std::string> writeReceivedStream(const RunResult& result, std::optional<char> drive,
                                               const std::filesystem::path& file);

}  // namespace simrun

#include "received_stream.h"

#include <fstream>

#include "sim/windows_names.h"

namespace simrun {

std::optional<char> driveLetterOf(std::string_view text) {
    constexpr std::size_t kLongestDrive = 2;  // "E:"
    if (text.size() > kLongestDrive) return std::nullopt;
    return sim::driveLetterOf(text);
}

const sim::ReaderSummary* streamReader(const RunResult& result, std::optional<char> drive) {
    const std::vector<sim::ReaderSummary>& readers = result.summary.machine.readers;
    for (const sim::ReaderSummary& reader : readers) {
        if (drive ? reader.letter == *drive : reader.firmware.headerReceived) return &reader;
    }
    if (drive || readers.empty()) return nullptr;
    return &readers.front();
}

std::optional<std::string> writeReceivedStream(const RunResult& result, std::optional<char> drive,
                                               const std::filesystem::path& file) {
    const sim::ReaderSummary* reader = streamReader(result, drive);
    if (reader == nullptr) {
        return drive ? "no reader on " + std::string(1, *drive) + ":"
                     : std::string("the machine has no reader");
    }
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(reader->receivedStream.data()),
              static_cast<std::streamsize>(reader->receivedStream.size()));
    out.close();
    if (!out) return "cannot write " + file.string();
    return std::nullopt;
}

}  // namespace simrun

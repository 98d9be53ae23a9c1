#include "received_stream.h"

#include <cctype>
#include <fstream>

namespace simrun {

std::optional<char> driveLetterOf(std::string_view text) {
    if (text.size() == 2 && text[1] == ':') text.remove_suffix(1);
    if (text.size() != 1 || std::isalpha(static_cast<unsigned char>(text[0])) == 0)
        return std::nullopt;
    return static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
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

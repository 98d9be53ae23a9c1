#include "road_reader.h"

#include <charconv>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string_view>
#include <utility>

#include "firmware/flash_layout.h"
#include "sim/reader_commands.h"
#include "sim/virtual_reader.h"

namespace road {

namespace {

constexpr int kHexBase = 16;
constexpr int kDecimalBase = 10;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr char kHexDigits[] = "0123456789abcdef";

std::string hexOf(const std::vector<std::uint8_t>& bytes) {
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const std::uint8_t byte : bytes) {
        text += kHexDigits[byte >> kNibbleBits];
        text += kHexDigits[byte & kNibbleMask];
    }
    return text;
}

std::optional<std::vector<std::uint8_t>> bytesOf(std::string_view hex) {
    if (hex.size() % 2 != 0) return std::nullopt;
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        unsigned value = 0;
        const auto parsed = std::from_chars(hex.data() + i, hex.data() + i + 2, value, kHexBase);
        if (parsed.ec != std::errc{} || parsed.ptr != hex.data() + i + 2) return std::nullopt;
        bytes.push_back(static_cast<std::uint8_t>(value));
    }
    return bytes;
}

template <typename Number>
bool numberOf(std::string_view text, Number& number, int base) {
    long long value = 0;
    const auto parsed = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (parsed.ec != std::errc{} || parsed.ptr != text.data() + text.size()) return false;
    number = static_cast<Number>(value);
    return true;
}

std::string fourHex(std::uint16_t value) {
    char text[8] = {};
    std::snprintf(text, sizeof text, "%04x", static_cast<unsigned>(value));
    return text;
}

std::string trimmedRight(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
    return text;
}

bool readLine(const std::string& key, const std::string& value, ReaderState& state) {
    if (key == "letter") {
        if (value.size() != 1) return false;
        state.letter = value[0];
        return true;
    }
    if (key == "vendor") return state.identity.inquiry.vendor = value, true;
    if (key == "product") return state.identity.inquiry.product = value, true;
    if (key == "revision") return state.identity.inquiry.revision = value, true;
    if (key == "becomesRevision") return state.becomesRevision = value, true;
    if (key == "vendorId") return numberOf(value, state.identity.vendorId, kHexBase);
    if (key == "productId") return numberOf(value, state.identity.productId, kHexBase);
    if (key == "deviceRevision") return numberOf(value, state.identity.deviceRevision, kHexBase);
    if (key == "becomesDeviceRevision")
        return numberOf(value, state.becomesDeviceRevision, kHexBase);
    if (key == "mediumPresent") return numberOf(value, state.mediumPresent, kDecimalBase);
    if (key == "writeProtectedChecks")
        return numberOf(value, state.writeProtectedChecks, kDecimalBase);
    if (key == "busyLocks") return numberOf(value, state.busyLocks, kDecimalBase);
    if (key == "blockDelayMs") return numberOf(value, state.blockDelayMs, kDecimalBase);
    if (key == "formatDurationMs") return numberOf(value, state.formatDurationMs, kDecimalBase);
    if (key == "pullAtFormatPoll") return numberOf(value, state.pullAtFormatPoll, kDecimalBase);
    if (key == "refuseBlock") {
        std::uint16_t number = 0;
        if (!numberOf(value, number, kDecimalBase)) return false;
        state.refusedBlocks.push_back(number);
        return true;
    }
    if (key == "block") {
        const auto blank = value.find(' ');
        sim::ReceivedBlock block;
        if (blank == std::string::npos ||
            !numberOf(std::string_view(value).substr(0, blank), block.number, kDecimalBase))
            return false;
        const auto bytes = bytesOf(std::string_view(value).substr(blank + 1));
        if (!bytes) return false;
        block.bytes = *bytes;
        state.received.push_back(std::move(block));
        return true;
    }
    return false;
}

}  // namespace

bool loadState(const std::string& path, ReaderState& state, std::string& error) {
    std::ifstream file(path);
    if (!file) {
        error = "cannot read " + path;
        return false;
    }
    state = ReaderState{};
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const auto blank = line.find(' ');
        const std::string key = line.substr(0, blank);
        const std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (!readLine(key, value, state)) {
            error = path + ": not a line of the reader's state: " + line.substr(0, 80);
            return false;
        }
    }
    return true;
}

bool saveState(const std::string& path, const ReaderState& state) {
    std::ostringstream out;
    out << "letter " << state.letter << '\n'
        << "vendor " << state.identity.inquiry.vendor << '\n'
        << "product " << state.identity.inquiry.product << '\n'
        << "revision " << state.identity.inquiry.revision << '\n'
        << "vendorId " << fourHex(state.identity.vendorId) << '\n'
        << "productId " << fourHex(state.identity.productId) << '\n'
        << "deviceRevision " << fourHex(state.identity.deviceRevision) << '\n'
        << "becomesDeviceRevision " << fourHex(state.becomesDeviceRevision) << '\n'
        << "becomesRevision " << state.becomesRevision << '\n'
        << "mediumPresent " << (state.mediumPresent ? 1 : 0) << '\n'
        << "writeProtectedChecks " << state.writeProtectedChecks << '\n'
        << "busyLocks " << state.busyLocks << '\n'
        << "blockDelayMs " << state.blockDelayMs << '\n'
        << "formatDurationMs " << state.formatDurationMs << '\n'
        << "pullAtFormatPoll " << state.pullAtFormatPoll << '\n';
    for (const std::uint16_t number : state.refusedBlocks) out << "refuseBlock " << number << '\n';
    for (const sim::ReceivedBlock& block : state.received)
        out << "block " << block.number << ' ' << hexOf(block.bytes) << '\n';
    std::ofstream file(path, std::ios::trunc);
    file << out.str();
    return static_cast<bool>(file);
}

bool powerCycle(ReaderState& state) {
    const sim::FirmwareReception reception = sim::receptionOf(state.received);
    if (!reception.written()) return false;
    const firmware::HeaderProductName& name = reception.header.headerProductName;
    state.identity.productId = reception.header.headerProductId;
    state.identity.inquiry.product = trimmedRight(std::string(name.begin(), name.end()));
    state.identity.deviceRevision = state.becomesDeviceRevision;
    state.identity.inquiry.revision = state.becomesRevision;
    state.received.clear();
    return true;
}

RoadReader::RoadReader(platform::Clock& clock, ReaderState state)
    : clock_(clock),
      state_(std::move(state)),
      reader_(clock, state_.identity.inquiry),
      volumes_(clock),
      protectedChecksLeft_(state_.writeProtectedChecks) {
    if (!state_.mediumPresent) reader_.removeMedium();
    reader_.setWriteProtected(protectedChecksLeft_ > 0);
    for (const std::uint16_t number : state_.refusedBlocks) reader_.refuseBlock(number);
    if (state_.formatDurationMs > 0) reader_.setFormatDuration(state_.formatDurationMs);
    reader_.restoreReceivedBlocks(state_.received);
    volumes_.attach(state_.letter, *this);
    if (state_.busyLocks != 0) volumes_.holdLockBusy(state_.letter, state_.busyLocks);
}

void RoadReader::beforeCommand(const sim::ScsiCommand& command) {
    if (command.cdb.empty()) return;
    const sim::ReaderCommand decoded = sim::decodeCommand(command.cdb).command;
    const bool blockWrite = decoded == sim::ReaderCommand::BlockWrite;
    if (blockWrite && state_.blockDelayMs > 0) clock_.Sleep(state_.blockDelayMs);
    if (decoded == sim::ReaderCommand::RequestSense && reader_.formatInProgress() &&
        ++formatPolls_ == state_.pullAtFormatPoll) {
        reader_.removeMedium();
    }
}

sim::ScsiReply RoadReader::execute(const sim::ScsiCommand& command) {
    beforeCommand(command);
    sim::ScsiReply reply = reader_.execute(command);
    // The user moves the switch while the notice about it is up.
    if (sim::decodeCommand(command.cdb).command == sim::ReaderCommand::ModeSense10 &&
        protectedChecksLeft_ > 0 && --protectedChecksLeft_ == 0) {
        reader_.setWriteProtected(false);
    }
    return reply;
}

ReaderState RoadReader::state() const {
    ReaderState now = state_;
    now.received = reader_.receivedBlocks();
    now.mediumPresent = reader_.mediumPresent();
    now.writeProtectedChecks = protectedChecksLeft_;
    return now;
}

}  // namespace road

// One command through the whole path — link, simulated driver, reader — with
// the command bytes, the direction, the length and an injected device answer
// taken from the input. Whatever arrives, nothing may be read or written out
// of bounds, no handle may be left open or closed twice, and lastSenseCode
// must say failure whenever the command failed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "device/device_link.h"
#include "sim/sim_registry.h"
#include "sim/sim_volumes.h"
#include "sim/virtual_clock.h"
#include "sim/virtual_reader.h"

namespace {

// Input layout.
constexpr std::size_t kHeaderSize = 7;
constexpr std::uint8_t kFlagHeld = 0x01;
constexpr std::uint8_t kFlagInjectAnswer = 0x02;
constexpr std::uint8_t kFlagInjectCallFailure = 0x04;
constexpr std::uint8_t kFlagNoMedium = 0x08;
constexpr std::uint8_t kFlagWriteProtected = 0x10;
constexpr std::uint8_t kFlagAnswerAfterData = 0x20;
// Longer than the record's CDB field, so the refusal of long CDBs is reached.
constexpr std::size_t kCdbBufferSize = 20;
constexpr std::size_t kDirections = 4;  // the three the platform knows and one it does not
constexpr std::size_t kMaxTransfer = 1024;
constexpr unsigned kByteBits = 8;

struct InputBytes {
    explicit InputBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    std::uint8_t next() { return at_ < size_ ? data_[at_++] : 0; }
    std::vector<std::uint8_t> take(std::size_t count) {
        std::vector<std::uint8_t> bytes;
        while (count-- > 0 && at_ < size_) bytes.push_back(data_[at_++]);
        return bytes;
    }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

void require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderSize) return 0;
    InputBytes input(data, size);
    const std::uint8_t flags = input.next();
    const auto cdbLength = static_cast<std::uint8_t>(input.next() % (kCdbBufferSize + 1));
    const auto direction = static_cast<std::uint8_t>(input.next() % kDirections);
    const std::uint8_t lengthHigh = input.next();
    const auto transferLength = static_cast<std::uint32_t>(
        ((unsigned{lengthHigh} << kByteBits) | input.next()) % kMaxTransfer);
    const std::uint8_t status = input.next();
    const std::uint8_t senseLength = input.next();
    const std::vector<std::uint8_t> sense = input.take(senseLength);
    std::vector<std::uint8_t> cdb = input.take(cdbLength);
    cdb.resize(kCdbBufferSize, 0);
    std::vector<std::uint8_t> buffer = input.take(transferLength);
    buffer.resize(transferLength, 0);

    sim::VirtualClock clock;
    sim::VirtualReader reader{clock, sim::ReaderIdentity{"Kavo", "TKW-5 Reader", "1.00"}};
    sim::SimVolumes volumes{clock};
    sim::SimRegistry registry;  // empty: the transport never reads it
    volumes.attach('E', reader);
    if ((flags & kFlagNoMedium) != 0) reader.removeMedium();
    reader.setWriteProtected((flags & kFlagWriteProtected) != 0);
    if ((flags & kFlagInjectCallFailure) != 0) {
        volumes.injectNext(sim::InjectedFault::callFails());
    } else if ((flags & kFlagInjectAnswer) != 0) {
        sim::ScsiReply answer;
        answer.status = status;
        answer.sense = sense;
        volumes.injectNext((flags & kFlagAnswerAfterData) != 0
                               ? sim::InjectedFault::answerAfterData(status, sense)
                               : sim::InjectedFault::answer(answer));
    }

    {
        device::DeviceLink link{volumes, registry, clock, device::WriteProtectRule::AnyBitProtects};
        void* dataBuffer = buffer.empty() ? nullptr : buffer.data();
        int result = 0;
        if ((flags & kFlagHeld) != 0) {
            link.lockVolume("E:\\");
            result =
                link.sendCommandHeld(cdb.data(), cdbLength, dataBuffer, direction, transferLength);
            require(link.holdsVolume() == (result == 1));
            link.unlockVolume();
        } else {
            result = link.sendCommandOnce(cdb.data(), cdbLength, "E:\\", dataBuffer, direction,
                                          transferLength);
        }
        const bool marked = (link.lastSenseCode & device::kCommandFailed) == device::kCommandFailed;
        require(result == 1 ? (link.lastSenseCode & device::kCommandFailed) == 0 : marked);
    }
    require(volumes.openHandleCount() == 0);
    require(volumes.badCloseCount() == 0);
    return 0;
}

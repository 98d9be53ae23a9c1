#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "firmware/flash_layout.h"
#include "platform/clock.h"
#include "platform/win_api.h"
#include "sim/scsi_device.h"

namespace sim {

// What the reader calls itself in its INQUIRY data; longer texts are cut to
// the field, shorter ones padded with blanks.
struct ReaderIdentity {
    std::string vendor;
    std::string product;
    std::string revision;

    bool operator==(const ReaderIdentity&) const = default;
};

// How a reader names itself, in INQUIRY and on the bus.
struct DeviceIdentity {
    ReaderIdentity inquiry;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t deviceRevision = 0;

    bool operator==(const DeviceIdentity&) const = default;
};

// One firmware block as the reader took it.
struct ReceivedBlock {
    std::uint16_t number = 0;
    std::vector<std::uint8_t> bytes;
};

// What a reader made of the firmware blocks it took since the last header. It
// checks the image against the header it received: every block the header
// announces, in order, and the claimed range (start, length) among the bytes
// it holds, with the checksum over them. An image that fails any of these is
// not taken: the reader keeps its old firmware.
struct FirmwareReception {
    bool headerReceived = false;
    bool scrambled = false;  // the header named the scrambling header name
    firmware::HeaderBlockFields header;
    std::uint16_t blocksExpected = 0;  // from the header's image length
    std::size_t blocksReceived = 0;    // data blocks after the header, in order
    // Header and every block, in order, and nothing more.
    bool whole = false;
    // The header's checksum against the bytes received, when the range it
    // claims lies within them.
    std::optional<bool> checksumMatches;
    // Why a received header did not lead to a new image, in words; empty when
    // it did (or when no header came).
    std::string failureReason;

    bool written() const { return headerReceived && failureReason.empty(); }
};

// The judgement on a sequence of received blocks, the header first.
FirmwareReception receptionOf(const std::vector<ReceivedBlock>& blocks);

inline constexpr std::size_t kReaderBlockSize = 512;
inline constexpr win::DWORD kDefaultFormatDurationMs = 20000;
inline constexpr std::uint8_t kModeWriteProtectBit = 0x80;
// The 16-bit progress indication counts in 65536ths; it shows 65535 at most.
inline constexpr std::uint32_t kProgressDenominator = 0x10000;
inline constexpr std::uint16_t kProgressMax = 0xFFFF;

// A USB flash-media reader as the programs meet it: standard INQUIRY, TEST
// UNIT READY, REQUEST SENSE and MODE SENSE(10) answers, and the two vendor
// commands, the firmware block write and the format. It is a plain device:
// anything that hands it a CDB and a data buffer can drive it, with or without
// the simulated volumes in between.
class VirtualReader final : public ScsiDevice {
  public:
    VirtualReader(platform::Clock& clock, ReaderIdentity identity);

    ScsiReply execute(const ScsiCommand& command) override;

    const ReaderIdentity& identity() const { return identity_; }
    void setIdentity(ReaderIdentity identity) { identity_ = std::move(identity); }

    // The medium. Taking it out stops a format that is running.
    void insertMedium() { mediumPresent_ = true; }
    void removeMedium();
    bool mediumPresent() const { return mediumPresent_; }
    // Byte 3 of the mode parameter header: bit 7 is the write-protect switch.
    void setDeviceSpecificParameter(std::uint8_t value) { deviceSpecificParameter_ = value; }
    void setWriteProtected(bool writeProtected);
    // Reported once, by the next command that reports unit attentions.
    void raiseUnitAttention(std::uint8_t asc = kAscMediumChanged, std::uint8_t ascq = 0);

    // Firmware blocks. A block 0 (the header) begins a new stream.
    void refuseBlock(std::uint16_t number) { refusedBlocks_.insert(number); }
    const std::vector<ReceivedBlock>& receivedBlocks() const { return received_; }
    // What the flash memory kept across a power cycle, taken back as received.
    void restoreReceivedBlocks(std::vector<ReceivedBlock> blocks) { received_ = std::move(blocks); }
    // The header and every block taken, in the order they came.
    std::vector<std::uint8_t> getReceivedStream() const;
    // What the reader made of the blocks since the last header; its
    // failureReason says why an image was not taken.
    FirmwareReception firmwareReception() const { return receptionOf(received_); }

    // The format: accepted at once, then NOT READY with rising progress for
    // the format's duration of (virtual) time, then ready again.
    void setFormatDuration(win::DWORD milliseconds) { formatDurationMs_ = milliseconds; }
    void refuseFormat(bool refuse) { refuseFormat_ = refuse; }
    bool formatInProgress();
    std::uint16_t formatProgress();
    int completedFormats();
    int abortedFormats() const { return abortedFormats_; }

  private:
    struct SenseTriple {
        std::uint8_t byte2;
        std::uint8_t asc;
        std::uint8_t ascq;
    };

    void settleFormat();
    win::DWORD formatElapsed() const;
    std::optional<SenseTriple> notReadyCondition();
    std::optional<ScsiReply> takeUnitAttention();

    ScsiReply testUnitReady();
    ScsiReply inquiry(const ScsiCommand& command);
    ScsiReply requestSense(const ScsiCommand& command);
    ScsiReply modeSense10(const ScsiCommand& command);
    ScsiReply writeFirmwareBlock(const ScsiCommand& command, std::uint16_t number);
    ScsiReply startFormat(const ScsiCommand& command);

    platform::Clock& clock_;
    ReaderIdentity identity_;
    bool mediumPresent_ = true;
    std::uint8_t deviceSpecificParameter_ = 0;
    std::optional<SenseTriple> unitAttention_;

    std::set<std::uint16_t> refusedBlocks_;
    std::vector<ReceivedBlock> received_;

    win::DWORD formatDurationMs_ = kDefaultFormatDurationMs;
    bool refuseFormat_ = false;
    bool formatting_ = false;
    win::DWORD formatStartTick_ = 0;
    int completedFormats_ = 0;
    int abortedFormats_ = 0;
};

}  // namespace sim

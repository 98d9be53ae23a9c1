#include "sim/virtual_reader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>
#include <utility>

#include "sim/reader_commands.h"

namespace sim {

namespace {

constexpr unsigned kByteBits = 8;
constexpr unsigned kByteMask = 0xFF;

// Standard INQUIRY data.
constexpr std::size_t kInquiryDataLength = 36;
constexpr std::uint8_t kDirectAccessDevice = 0x00;
constexpr std::uint8_t kRemovableMedium = 0x80;
constexpr std::uint8_t kInquiryVersion = 0x02;
constexpr std::uint8_t kResponseDataFormat = 0x02;
constexpr std::size_t kInquiryRemovableByte = 1;
constexpr std::size_t kInquiryVersionByte = 2;
constexpr std::size_t kInquiryFormatByte = 3;
constexpr std::size_t kInquiryAdditionalLengthByte = 4;
constexpr std::size_t kVendorStart = 8;
constexpr std::size_t kVendorLength = 8;
constexpr std::size_t kProductStart = 16;
constexpr std::size_t kProductLength = 16;
constexpr std::size_t kRevisionStart = 32;
constexpr std::size_t kRevisionLength = 4;
constexpr std::uint8_t kInquiryEvpdBit = 0x01;
constexpr char kBlank = ' ';

// REQUEST SENSE: descriptor-format sense is not offered.
constexpr std::uint8_t kRequestSenseDescBit = 0x01;

// MODE SENSE(10).
constexpr std::uint8_t kModeSenseDbdBit = 0x08;
constexpr std::uint8_t kPageCodeMask = 0x3F;
constexpr unsigned kPageControlShift = 6;
constexpr std::uint8_t kPageControlSaved = 3;
constexpr std::uint8_t kAllPages = 0x3F;
constexpr std::uint8_t kCachingPage = 0x08;
constexpr std::uint8_t kCachingPageLength = 0x12;
constexpr std::size_t kModeHeaderLength = 8;
constexpr std::size_t kDeviceSpecificParameterByte = 3;
constexpr std::size_t kBlockDescriptorLengthLowByte = 7;
constexpr std::size_t kBlockDescriptorLength = 8;
constexpr std::size_t kCachingPageBytes = 2 + kCachingPageLength;
constexpr std::uint32_t kMediumBlocks = 0x0003C000;  // 120 MiB of 512-byte blocks
constexpr std::size_t kBlockCountStart = 1;
constexpr std::size_t kBlockLengthStart = 5;
constexpr std::size_t kThreeBytes = 3;
constexpr std::size_t kAllocationLengthHigh10 = 7;
constexpr std::size_t kAllocationLengthLow10 = 8;
constexpr std::size_t kAllocationLengthHigh6 = 3;
constexpr std::size_t kAllocationLengthLow6 = 4;

constexpr std::uint8_t kAscFormatFailed = 0x31;
constexpr std::uint8_t kAscqFormatFailed = 0x01;

ScsiReply illegalRequest(std::uint8_t asc) {
    return checkCondition(kSenseIllegalRequest, asc, 0);
}

ScsiReply invalidField() {
    return illegalRequest(kAscInvalidFieldInCdb);
}

std::uint16_t bigEndian16(std::span<const std::uint8_t> cdb, std::size_t high, std::size_t low) {
    return static_cast<std::uint16_t>((cdb[high] << kByteBits) | cdb[low]);
}

void putBigEndian(std::span<std::uint8_t> out, std::uint32_t value) {
    for (std::size_t i = out.size(); i > 0; --i) {
        out[i - 1] = static_cast<std::uint8_t>(value & kByteMask);
        value >>= kByteBits;
    }
}

void putText(std::span<std::uint8_t> field, const std::string& text) {
    std::fill(field.begin(), field.end(), static_cast<std::uint8_t>(kBlank));
    const std::size_t length = std::min(field.size(), text.size());
    std::copy_n(text.begin(), length, field.begin());
}

// Moves as much of a reply as the allocation length and the host's buffer
// allow, as a device sending data in would.
ScsiReply sendIn(const ScsiCommand& command, std::span<const std::uint8_t> reply,
                 std::size_t allocationLength) {
    if (allocationLength > 0 && command.direction != win::SCSI_IOCTL_DATA_IN) {
        return invalidField();
    }
    const std::size_t length = std::min({reply.size(), allocationLength, command.data.size()});
    std::copy_n(reply.begin(), length, command.data.begin());
    return goodReply(static_cast<std::uint32_t>(length));
}

}  // namespace

VirtualReader::VirtualReader(platform::Clock& clock, ReaderIdentity identity)
    : clock_(clock), identity_(std::move(identity)) {}

void VirtualReader::removeMedium() {
    settleFormat();
    if (formatting_) {
        formatting_ = false;
        ++abortedFormats_;
    }
    mediumPresent_ = false;
}

void VirtualReader::setWriteProtected(bool writeProtected) {
    if (writeProtected) {
        deviceSpecificParameter_ |= kModeWriteProtectBit;
    } else {
        deviceSpecificParameter_ &= static_cast<std::uint8_t>(~kModeWriteProtectBit);
    }
}

void VirtualReader::raiseUnitAttention(std::uint8_t asc, std::uint8_t ascq) {
    unitAttention_ = SenseTriple{kSenseUnitAttention, asc, ascq};
}

std::vector<std::uint8_t> VirtualReader::getReceivedStream() const {
    std::vector<std::uint8_t> stream;
    stream.reserve(received_.size() * kReaderBlockSize);
    for (const ReceivedBlock& block : received_) {
        stream.insert(stream.end(), block.bytes.begin(), block.bytes.end());
    }
    return stream;
}

win::DWORD VirtualReader::formatElapsed() const {
    // Unsigned difference, so that a wrap of the tick count does no harm.
    return static_cast<win::DWORD>(clock_.GetTickCount() - formatStartTick_);
}

void VirtualReader::settleFormat() {
    if (formatting_ && formatElapsed() >= formatDurationMs_) {
        formatting_ = false;
        ++completedFormats_;
    }
}

bool VirtualReader::formatInProgress() {
    settleFormat();
    return formatting_;
}

std::uint16_t VirtualReader::formatProgress() {
    settleFormat();
    if (!formatting_) return 0;
    const std::uint64_t scaled =
        std::uint64_t{formatElapsed()} * kProgressDenominator / formatDurationMs_;
    return static_cast<std::uint16_t>(std::min<std::uint64_t>(scaled, kProgressMax));
}

int VirtualReader::completedFormats() {
    settleFormat();
    return completedFormats_;
}

std::optional<VirtualReader::SenseTriple> VirtualReader::notReadyCondition() {
    if (formatInProgress()) return SenseTriple{kSenseNotReady, kAscNotReady, kAscqFormatInProgress};
    if (!mediumPresent_) return SenseTriple{kSenseNotReady, kAscMediumNotPresent, 0};
    return std::nullopt;
}

std::optional<ScsiReply> VirtualReader::takeUnitAttention() {
    if (!unitAttention_) return std::nullopt;
    const SenseTriple sense = *unitAttention_;
    unitAttention_.reset();
    return checkCondition(sense.byte2, sense.asc, sense.ascq);
}

ScsiReply VirtualReader::execute(const ScsiCommand& command) {
    const DecodedCommand decoded = decodeCommand(command.cdb);
    if (decoded.command == ReaderCommand::Unknown) return illegalRequest(kAscInvalidOperationCode);
    if (command.cdb.size() < cdbLengthFor(decoded.operationCode)) return invalidField();

    // INQUIRY and REQUEST SENSE answer past a pending unit attention; every
    // other command reports it first.
    if (decoded.command == ReaderCommand::Inquiry) return inquiry(command);
    if (decoded.command == ReaderCommand::RequestSense) return requestSense(command);
    if (std::optional<ScsiReply> attention = takeUnitAttention()) return std::move(*attention);

    switch (decoded.command) {
        case ReaderCommand::TestUnitReady:
            return testUnitReady();
        case ReaderCommand::ModeSense10:
            return modeSense10(command);
        case ReaderCommand::BlockWrite:
            return writeFirmwareBlock(command, *decoded.block);
        case ReaderCommand::Format:
            return startFormat(command);
        default:
            return invalidField();
    }
}

ScsiReply VirtualReader::testUnitReady() {
    if (const std::optional<SenseTriple> notReady = notReadyCondition()) {
        return checkCondition(notReady->byte2, notReady->asc, notReady->ascq);
    }
    return goodReply();
}

ScsiReply VirtualReader::inquiry(const ScsiCommand& command) {
    // Only the standard data is offered, not the vital product data pages.
    if ((command.cdb[1] & kInquiryEvpdBit) != 0 || command.cdb[2] != 0) return invalidField();

    std::array<std::uint8_t, kInquiryDataLength> data{};
    data[0] = kDirectAccessDevice;
    data[kInquiryRemovableByte] = kRemovableMedium;
    data[kInquiryVersionByte] = kInquiryVersion;
    data[kInquiryFormatByte] = kResponseDataFormat;
    data[kInquiryAdditionalLengthByte] =
        static_cast<std::uint8_t>(kInquiryDataLength - kInquiryAdditionalLengthByte - 1);
    const std::span<std::uint8_t> bytes(data);
    putText(bytes.subspan(kVendorStart, kVendorLength), identity_.vendor);
    putText(bytes.subspan(kProductStart, kProductLength), identity_.product);
    putText(bytes.subspan(kRevisionStart, kRevisionLength), identity_.revision);
    return sendIn(command, data,
                  bigEndian16(command.cdb, kAllocationLengthHigh6, kAllocationLengthLow6));
}

ScsiReply VirtualReader::requestSense(const ScsiCommand& command) {
    if ((command.cdb[1] & kRequestSenseDescBit) != 0) return invalidField();

    std::vector<std::uint8_t> sense;
    if (unitAttention_) {
        sense = fixedSense(unitAttention_->byte2, unitAttention_->asc, unitAttention_->ascq);
        unitAttention_.reset();
    } else if (const std::optional<SenseTriple> notReady = notReadyCondition()) {
        sense = fixedSense(notReady->byte2, notReady->asc, notReady->ascq);
        if (formatting_) {
            const std::uint16_t progress = formatProgress();
            sense[kSenseKeySpecificByte] = kSenseKeySpecificValid;
            sense[kProgressHighByte] = static_cast<std::uint8_t>(progress >> kByteBits);
            sense[kProgressLowByte] = static_cast<std::uint8_t>(progress & kByteMask);
        }
    } else {
        sense = fixedSense(kSenseNoSense, kAscNone, 0);
    }
    return sendIn(command, sense, command.cdb[kAllocationLengthLow6]);
}

ScsiReply VirtualReader::modeSense10(const ScsiCommand& command) {
    const std::uint8_t pageCode = command.cdb[2] & kPageCodeMask;
    const auto pageControl = static_cast<std::uint8_t>(command.cdb[2] >> kPageControlShift);
    if (pageControl == kPageControlSaved) return invalidField();
    if (pageCode != kAllPages && pageCode != kCachingPage) return invalidField();
    if (const std::optional<SenseTriple> notReady = notReadyCondition()) {
        return checkCondition(notReady->byte2, notReady->asc, notReady->ascq);
    }

    const bool withDescriptor = (command.cdb[1] & kModeSenseDbdBit) == 0;
    std::vector<std::uint8_t> data(kModeHeaderLength, 0);
    data[kDeviceSpecificParameterByte] = deviceSpecificParameter_;
    if (withDescriptor) {
        data[kBlockDescriptorLengthLowByte] = static_cast<std::uint8_t>(kBlockDescriptorLength);
        std::vector<std::uint8_t> descriptor(kBlockDescriptorLength, 0);
        putBigEndian(std::span(descriptor).subspan(kBlockCountStart, kThreeBytes), kMediumBlocks);
        putBigEndian(std::span(descriptor).subspan(kBlockLengthStart, kThreeBytes),
                     static_cast<std::uint32_t>(kReaderBlockSize));
        data.insert(data.end(), descriptor.begin(), descriptor.end());
    }
    std::vector<std::uint8_t> caching(kCachingPageBytes, 0);
    caching[0] = kCachingPage;
    caching[1] = kCachingPageLength;
    data.insert(data.end(), caching.begin(), caching.end());
    // The mode data length counts the bytes after itself.
    putBigEndian(std::span(data).first(2), static_cast<std::uint32_t>(data.size() - 2));
    return sendIn(command, data,
                  bigEndian16(command.cdb, kAllocationLengthHigh10, kAllocationLengthLow10));
}

ScsiReply VirtualReader::writeFirmwareBlock(const ScsiCommand& command, std::uint16_t number) {
    if (command.direction != win::SCSI_IOCTL_DATA_OUT || command.data.size() != kReaderBlockSize) {
        return invalidField();
    }
    if (formatInProgress())
        return checkCondition(kSenseNotReady, kAscNotReady, kAscqFormatInProgress);
    if (refusedBlocks_.contains(number))
        return checkCondition(kSenseMediumError, kAscWriteError, 0);

    if (number == 0) received_.clear();
    received_.push_back(
        ReceivedBlock{number, std::vector<std::uint8_t>(command.data.begin(), command.data.end())});
    return goodReply(static_cast<std::uint32_t>(kReaderBlockSize));
}

ScsiReply VirtualReader::startFormat(const ScsiCommand& command) {
    if (!command.data.empty()) return invalidField();
    if (const std::optional<SenseTriple> notReady = notReadyCondition()) {
        return checkCondition(notReady->byte2, notReady->asc, notReady->ascq);
    }
    if ((deviceSpecificParameter_ & kModeWriteProtectBit) != 0) {
        return checkCondition(kSenseDataProtect, kAscWriteProtected, 0);
    }
    if (refuseFormat_)
        return checkCondition(kSenseMediumError, kAscFormatFailed, kAscqFormatFailed);

    formatting_ = true;
    formatStartTick_ = clock_.GetTickCount();
    settleFormat();  // a format of no duration is over at once
    return goodReply();
}

// --- what the reader makes of the blocks -------------------------------------------

namespace {

// Why the blocks after the header are not the image the header announced.
std::string incompleteReason(const FirmwareReception& reception,
                             const std::vector<ReceivedBlock>& blocks) {
    const std::size_t inOrder = reception.blocksReceived;
    if (inOrder + 1 < blocks.size()) {
        const ReceivedBlock& next = blocks[inOrder + 1];
        if (next.bytes.size() != firmware::kBlockSize) {
            return "block " + std::to_string(next.number) + " came with " +
                   std::to_string(next.bytes.size()) + " bytes";
        }
        return "after block " + std::to_string(inOrder) + " came block " +
               std::to_string(next.number);
    }
    const std::string expected = std::to_string(reception.blocksExpected);
    if (inOrder > reception.blocksExpected) {
        return std::to_string(inOrder) + " blocks arrived, the header announced " + expected;
    }
    return "only " + std::to_string(inOrder) + " of " + expected + " blocks arrived";
}

std::string checksumReason(const FirmwareReception& reception, std::uint16_t sum) {
    std::array<char, 64> text{};
    std::snprintf(text.data(), text.size(),
                  "the checksum of the bytes is 0x%04x, the header says 0x%04x", unsigned{sum},
                  unsigned{reception.header.imageChecksum});
    return text.data();
}

}  // namespace

FirmwareReception receptionOf(const std::vector<ReceivedBlock>& blocks) {
    FirmwareReception reception;
    if (blocks.empty() || blocks.front().number != 0 ||
        blocks.front().bytes.size() != firmware::kBlockSize) {
        return reception;
    }
    reception.headerReceived = true;
    const std::span<const std::uint8_t, firmware::kBlockSize> header(blocks.front().bytes.data(),
                                                                     firmware::kBlockSize);
    // The reader knows the sender scrambled when the header, read scrambled,
    // names the one header name that switches scrambling on.
    const firmware::HeaderBlockFields scrambled = firmware::parseHeaderBlock(header, true);
    reception.scrambled =
        scrambled.headerNameBytes == firmware::headerNameBytes(firmware::kScramblingHeaderName);
    reception.header = reception.scrambled ? scrambled : firmware::parseHeaderBlock(header, false);
    reception.blocksExpected = firmware::blockCount(reception.header.imageLength);

    std::vector<std::uint8_t> data;
    for (std::size_t k = 1; k < blocks.size(); ++k) {
        if (blocks[k].number != k || blocks[k].bytes.size() != firmware::kBlockSize) break;
        firmware::Block block{};
        std::copy(blocks[k].bytes.begin(), blocks[k].bytes.end(), block.begin());
        if (reception.scrambled) firmware::scrambleBlock(block);
        data.insert(data.end(), block.begin(), block.end());
        ++reception.blocksReceived;
    }
    reception.whole = reception.blocksReceived == reception.blocksExpected &&
                      blocks.size() == std::size_t{reception.blocksExpected} + 1;
    if (!reception.whole) {
        reception.failureReason = incompleteReason(reception, blocks);
        return reception;
    }

    const firmware::BlockReach reach =
        firmware::blockReach(reception.header, reception.blocksReceived);
    if (!reach.claimedRangeCarried()) {
        reception.failureReason = firmware::describeUncarriedRange(reach);
        return reception;
    }
    std::uint32_t sum = 0;
    for (std::uint64_t i = reach.claimedFirst; i < reach.claimedEnd; ++i) {
        sum += data[static_cast<std::size_t>(i - reach.carriedFirst)];
    }
    const auto checksum = static_cast<std::uint16_t>(sum);
    reception.checksumMatches = checksum == reception.header.imageChecksum;
    if (!*reception.checksumMatches) reception.failureReason = checksumReason(reception, checksum);
    return reception;
}

}  // namespace sim

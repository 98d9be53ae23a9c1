#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <numeric>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "device/device_link.h"
#include "simulated_drive.h"

namespace device_test {
namespace {

using testsupport::PrintTo;

using Bytes = std::vector<std::uint8_t>;

// The callers' buffers, each of the size its command moves.
struct Buffers {
    std::array<std::uint8_t, device::kInquiryLength> inquiry{};
    std::array<std::uint8_t, device::kRequestSenseLength> sense{};
    std::vector<std::uint8_t> mode = std::vector<std::uint8_t>(0x0102, 0);
    std::array<std::uint8_t, device::kFirmwareBlockSize> block{};
};

struct CommandCase {
    const char* name;
    std::function<int(device::DeviceLink&, Buffers&)> send;
    bool held;
    Bytes cdb;
    std::uint8_t direction;
    std::uint32_t length;
    std::function<const void*(const Buffers&)> dataBuffer;
};

const void* noBuffer(const Buffers&) {
    return nullptr;
}

const CommandCase kCommandCases[] = {
    {"TestUnitReady",
     [](auto& link, auto&) { return link.testUnitReady(kReaderRoot); },
     false,
     {0x00, 0x00, 0x00, 0x00, 0x00, 0x00},
     win::SCSI_IOCTL_DATA_UNSPECIFIED,
     0,
     noBuffer},
    {"Inquiry",
     [](auto& link, auto& b) { return link.inquiry(kReaderRoot, b.inquiry); },
     false,
     {0x12, 0x00, 0x00, 0x00, 0x24, 0x00},
     win::SCSI_IOCTL_DATA_IN,
     36,
     [](const Buffers& b) -> const void* { return b.inquiry.data(); }},
    {"RequestSense",
     [](auto& link, auto& b) { return link.requestSense(kReaderRoot, b.sense); },
     false,
     {0x03, 0x00, 0x00, 0x00, 0x12, 0x00},
     win::SCSI_IOCTL_DATA_IN,
     18,
     [](const Buffers& b) -> const void* { return b.sense.data(); }},
    {"ModeSenseHeader",
     [](auto& link, auto& b) { return link.modeSense10(0x3F, kReaderRoot, b.mode.data(), 8); },
     false,
     {0x5A, 0x08, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00},
     win::SCSI_IOCTL_DATA_IN,
     8,
     [](const Buffers& b) -> const void* { return b.mode.data(); }},
    // The page byte is taken whole, page-control bits included, and the
    // allocation length goes high byte first.
    {"ModeSenseWholePageByteBigEndianLength",
     [](auto& link, auto& b) { return link.modeSense10(0xBF, kReaderRoot, b.mode.data(), 0x0102); },
     false,
     {0x5A, 0x08, 0xBF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x02, 0x00},
     win::SCSI_IOCTL_DATA_IN,
     0x0102,
     [](const Buffers& b) -> const void* { return b.mode.data(); }},
    {"CheckWriteProtect",
     [](auto& link, auto&) {
         link.checkWriteProtect(kReaderRoot);
         return 1;
     },
     false,
     {0x5A, 0x08, 0x3F, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00},
     win::SCSI_IOCTL_DATA_IN,
     8,
     nullptr},
    {"FirmwareBlock0102",
     [](auto& link, auto& b) { return link.writeFirmwareBlock(b.block, 0x0102); },
     true,
     {0xFA, 0x00, 0xC0, 0x55, 0x44, 0x4D, 0x53, 0x01, 0x02, 0x00, 0x00, 0x00},
     win::SCSI_IOCTL_DATA_OUT,
     512,
     [](const Buffers& b) -> const void* { return b.block.data(); }},
    {"FirmwareBlock0",
     [](auto& link, auto& b) { return link.writeFirmwareBlock(b.block, 0); },
     true,
     {0xFA, 0x00, 0xC0, 0x55, 0x44, 0x4D, 0x53, 0x00, 0x00, 0x00, 0x00, 0x00},
     win::SCSI_IOCTL_DATA_OUT,
     512,
     [](const Buffers& b) -> const void* { return b.block.data(); }},
    {"FormatMedia",
     [](auto& link, auto&) { return link.formatMedia(kReaderRoot); },
     false,
     {0xFA, 0x00, 0xA0, 0x4D, 0x47, 0x66, 0x6D, 0x74, 0x00, 0x00, 0x00, 0x00},
     win::SCSI_IOCTL_DATA_UNSPECIFIED,
     0,
     noBuffer},
};

class CommandBytesTest : public SimulatedDrive<::testing::TestWithParam<CommandCase>> {};

TEST_P(CommandBytesTest, SendsTheExactCdbDirectionAndLength) {
    const CommandCase& c = GetParam();
    Buffers buffers;
    std::iota(buffers.block.begin(), buffers.block.end(), std::uint8_t{0});
    if (c.held) {
        ASSERT_EQ(link.lockVolume(kReaderRoot), 1);
    }

    // The reader takes each command as the link sends it.
    EXPECT_EQ(c.send(link, buffers), 1);
    EXPECT_EQ(link.holdsVolume(), c.held);
    if (c.held) link.unlockVolume();

    ASSERT_EQ(volumes.passThroughs().size(), 1u);
    const sim::PassThroughRecord& record = volumes.passThroughs()[0];
    EXPECT_EQ(record.cdb, c.cdb);
    EXPECT_EQ(record.direction, c.direction);
    EXPECT_EQ(record.transferLength, c.length);
    if (c.dataBuffer) {
        EXPECT_EQ(record.request.DataBuffer, c.dataBuffer(buffers));
    }
    if (c.direction == win::SCSI_IOCTL_DATA_OUT) {
        EXPECT_EQ(record.dataOut, Bytes(buffers.block.begin(), buffers.block.end()));
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandBytesTest, ::testing::ValuesIn(kCommandCases),
                         NameOfCase{});

// ---------------------------------------------------------------------------
// Results as the reader gives them, through the command set

struct OutcomeCase {
    const char* name;
    std::function<void(sim::VirtualReader&)> prepare;
    std::function<int(device::DeviceLink&)> send;
    int result;
    std::uint32_t code;
};

const OutcomeCase kOutcomeCases[] = {
    {"ReadyReader", [](auto&) {}, [](auto& link) { return link.testUnitReady(kReaderRoot); }, 1,
     0x00000000},
    {"NoMedium", [](auto& reader) { reader.removeMedium(); },
     [](auto& link) { return link.testUnitReady(kReaderRoot); }, 0, 0xFF023A00},
    {"MediumChanged", [](auto& reader) { reader.raiseUnitAttention(); },
     [](auto& link) { return link.testUnitReady(kReaderRoot); }, 0, 0xFF062800},
    {"FormatOfProtectedMedium", [](auto& reader) { reader.setWriteProtected(true); },
     [](auto& link) { return link.formatMedia(kReaderRoot); }, 0, 0xFF072700},
    {"ModeSenseWithoutMedium", [](auto& reader) { reader.removeMedium(); },
     [](auto& link) {
         std::array<std::uint8_t, 8> header{};
         return link.modeSense10(0x3F, kReaderRoot, header.data(), 8);
     },
     0, 0xFF023A00},
};

class CommandOutcomeTest : public SimulatedDrive<::testing::TestWithParam<OutcomeCase>> {};

TEST_P(CommandOutcomeTest, ReturnsTheTransportsJudgement) {
    GetParam().prepare(reader);
    EXPECT_EQ(GetParam().send(link), GetParam().result);
    EXPECT_EQ(link.lastSenseCode, GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(Replies, CommandOutcomeTest, ::testing::ValuesIn(kOutcomeCases),
                         NameOfCase{});

// ---------------------------------------------------------------------------
// The two write-protect rules

// FlagAfterData: the reader sends its header, then a sense byte 2 with only
// the ILI flag, which fails the command although the data arrived.
enum class ModeSense { Answered, MediumMissing, CallRejected, FlagAfterData };

struct WriteProtectCase {
    const char* name;
    device::WriteProtectRule rule;
    std::uint8_t deviceSpecificParameter;
    ModeSense modeSense;
    int mediaWritable;
};

using device::WriteProtectRule;

const WriteProtectCase kWriteProtectCases[] = {
    {"UpdateClear", WriteProtectRule::AnyBitProtects, 0x00, ModeSense::Answered, 1},
    {"UpdateOtherBit", WriteProtectRule::AnyBitProtects, 0x10, ModeSense::Answered, 0},
    {"UpdateWpBit", WriteProtectRule::AnyBitProtects, 0x80, ModeSense::Answered, 0},
    {"UpdateNoMedium", WriteProtectRule::AnyBitProtects, 0x80, ModeSense::MediumMissing, 1},
    {"UpdateRejected", WriteProtectRule::AnyBitProtects, 0x80, ModeSense::CallRejected, 1},
    {"UpdateFailedWithData", WriteProtectRule::AnyBitProtects, 0x80, ModeSense::FlagAfterData, 0},
    {"FormatClear", WriteProtectRule::WpBitOnly, 0x00, ModeSense::Answered, 1},
    {"FormatOtherBit", WriteProtectRule::WpBitOnly, 0x10, ModeSense::Answered, 1},
    {"FormatWpBit", WriteProtectRule::WpBitOnly, 0x80, ModeSense::Answered, 0},
    {"FormatWpAndOtherBit", WriteProtectRule::WpBitOnly, 0x90, ModeSense::Answered, 0},
    {"FormatNoMedium", WriteProtectRule::WpBitOnly, 0x80, ModeSense::MediumMissing, 1},
    {"FormatRejected", WriteProtectRule::WpBitOnly, 0x80, ModeSense::CallRejected, 1},
    {"FormatFailedWithData", WriteProtectRule::WpBitOnly, 0x80, ModeSense::FlagAfterData, 1},
};

class WriteProtectTest : public SimulatedDrive<::testing::TestWithParam<WriteProtectCase>> {};

TEST_P(WriteProtectTest, SetsMediaWritableByTheProgramsRule) {
    const WriteProtectCase& c = GetParam();
    device::DeviceLink ruled{volumes, registry, clock, c.rule};
    reader.setDeviceSpecificParameter(c.deviceSpecificParameter);
    if (c.modeSense == ModeSense::MediumMissing) reader.removeMedium();
    if (c.modeSense == ModeSense::CallRejected) volumes.injectNext(sim::InjectedFault::callFails());
    if (c.modeSense == ModeSense::FlagAfterData) {
        volumes.injectNext(sim::InjectedFault::answerAfterData(
            sim::kStatusGood, sim::fixedSense(sim::kSenseFlagIli, 0, 0)));
    }
    // Start from the opposite answer, so that both ways of setting it show.
    ruled.mediaWritable = 1 - c.mediaWritable;

    ruled.checkWriteProtect(kReaderRoot);

    EXPECT_EQ(ruled.mediaWritable, c.mediaWritable);
}

INSTANTIATE_TEST_SUITE_P(Rules, WriteProtectTest, ::testing::ValuesIn(kWriteProtectCases),
                         NameOfCase{});

// ---------------------------------------------------------------------------
// What the reader receives and reports over a whole exchange

using CommandSetTest = SimulatedDrive<>;

TEST_F(CommandSetTest, ReaderReceivesTheBlocksAsSent) {
    ASSERT_EQ(link.lockVolume(kReaderRoot), 1);
    Bytes sent;
    for (std::uint16_t number = 0; number < 4; ++number) {
        std::array<std::uint8_t, device::kFirmwareBlockSize> block;
        for (std::size_t i = 0; i < block.size(); ++i) {
            block[i] = static_cast<std::uint8_t>(i * 7 + number);
        }
        ASSERT_EQ(link.writeFirmwareBlock(block, number), 1);
        sent.insert(sent.end(), block.begin(), block.end());
    }
    EXPECT_EQ(link.unlockVolume(), 1);

    EXPECT_EQ(reader.getReceivedStream(), sent);
    ASSERT_EQ(reader.receivedBlocks().size(), 4u);
    EXPECT_EQ(reader.receivedBlocks()[3].number, 3);
}

TEST_F(CommandSetTest, FormatProgressShowsInTheSensePolls) {
    reader.setFormatDuration(8000);
    ASSERT_EQ(link.formatMedia(kReaderRoot), 1);

    // The polls as the format program makes them: sense, then readiness.
    std::vector<unsigned> progress;
    for (int poll = 0; poll < 10; ++poll) {
        std::array<std::uint8_t, device::kRequestSenseLength> sense{};
        ASSERT_EQ(link.requestSense(kReaderRoot, sense), 1);
        const int ready = link.testUnitReady(kReaderRoot);
        if ((sense[2] & 0x0F) != 2) {
            EXPECT_EQ(ready, 1);
            break;
        }
        EXPECT_EQ(ready, 0);
        EXPECT_EQ(link.lastSenseCode, 0xFF020404u);
        progress.push_back(sense[16] * 256u + sense[17]);
        clock.Sleep(2000);
    }
    EXPECT_EQ(progress, (std::vector<unsigned>{0, 16384, 32768, 49152}));
    EXPECT_EQ(reader.completedFormats(), 1);
}

// ---------------------------------------------------------------------------
// INQUIRY replies

struct InquiryCase {
    const char* name;
    std::string vendor;    // 8 bytes
    std::string product;   // 16 bytes
    std::string revision;  // 4 bytes
    device::InquiryStrings expected;
};

const InquiryCase kInquiryCases[] = {
    {"PaddedVendor", "ABC     ", "TKW-5 Reader    ", "1.00", {"ABC", "TKW-5 Reader", "1.00"}},
    {"FullFields",
     "ABCDEFGH",
     "0123456789ABCDEF",
     "R1.2",
     {"ABCDEFGH", "0123456789ABCDEF", "R1.2"}},
    {"OtherWhiteSpace", "AB\t\r\n \v\f", "X \t             ", "1  \t", {"AB", "X", "1"}},
    {"InnerAndLeadingBlanksKept",
     " A B    ",
     "TKW 5  Reader   ",
     " 1  ",
     {" A B", "TKW 5  Reader", " 1"}},
    {"AllBlank", "        ", "                ", "    ", {"", "", ""}},
};

class InquiryParseTest : public ::testing::TestWithParam<InquiryCase> {};

TEST_P(InquiryParseTest, TakesTheThreeFieldsTrimmedAtTheEnd) {
    const InquiryCase& c = GetParam();
    ASSERT_EQ(c.vendor.size(), 8u);
    ASSERT_EQ(c.product.size(), 16u);
    ASSERT_EQ(c.revision.size(), 4u);
    std::array<std::uint8_t, device::kInquiryLength> reply{};
    reply.fill(0xA5);  // bytes outside the fields must not leak in
    std::copy_n(c.vendor.begin(), 8, reply.begin() + 8);
    std::copy_n(c.product.begin(), 16, reply.begin() + 16);
    std::copy_n(c.revision.begin(), 4, reply.begin() + 32);

    const device::InquiryStrings strings = device::parseInquiryReply(reply);
    EXPECT_EQ(strings.vendor, c.expected.vendor);
    EXPECT_EQ(strings.product, c.expected.product);
    EXPECT_EQ(strings.revision, c.expected.revision);
}

INSTANTIATE_TEST_SUITE_P(Replies, InquiryParseTest, ::testing::ValuesIn(kInquiryCases),
                         NameOfCase{});

TEST_F(CommandSetTest, StoresTheReadersIdentityFromItsInquiry) {
    reader.setIdentity({"Kavo", "TKW-5 Card Reader Long", "2.1"});
    std::array<std::uint8_t, device::kInquiryLength> reply{};
    ASSERT_EQ(link.inquiry(kReaderRoot, reply), 1);

    link.storeInquiry(reply);
    EXPECT_EQ(link.inquiryVendor, "Kavo");
    EXPECT_EQ(link.inquiryProduct, "TKW-5 Card Reade");
    EXPECT_EQ(link.inquiryRevision, "2.1");
}

}  // namespace
}  // namespace device_test

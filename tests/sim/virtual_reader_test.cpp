#include "sim/virtual_reader.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <functional>
#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/scsi_device.h"
#include "sim/virtual_clock.h"
#include "support/case_names.h"

namespace {

using testsupport::NameOfCase;
using testsupport::PrintTo;

using Bytes = std::vector<std::uint8_t>;

const Bytes kTestUnitReady{0x00, 0, 0, 0, 0, 0};
const Bytes kRequestSense{0x03, 0, 0, 0, 18, 0};
const Bytes kInquiry{0x12, 0, 0, 0, 36, 0};
const Bytes kModeSenseHeader{0x5A, 0x08, 0x3F, 0, 0, 0, 0, 0, 8, 0};
const Bytes kFormat{0xFA, 0x00, 0xA0, 0x4D, 0x47, 0x66, 0x6D, 0x74, 0, 0, 0, 0};

Bytes blockWrite(std::uint16_t number) {
    return {0xFA,
            0x00,
            0xC0,
            0x55,
            0x44,
            0x4D,
            0x53,
            static_cast<std::uint8_t>(number >> 8),
            static_cast<std::uint8_t>(number & 0xFF),
            0,
            0,
            0};
}

struct Triple {
    std::uint8_t key;
    std::uint8_t asc;
    std::uint8_t ascq;
    bool operator==(const Triple&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Triple& t) {
    return out << std::hex << int{t.key} << "/" << int{t.asc} << "/" << int{t.ascq};
}

Triple senseOf(const sim::ScsiReply& reply) {
    if (reply.sense.size() < sim::kFixedSenseLength) return {0xFF, 0xFF, 0xFF};
    return {reply.sense[2], reply.sense[12], reply.sense[13]};
}

constexpr Triple kNoMedium{sim::kSenseNotReady, sim::kAscMediumNotPresent, 0};
constexpr Triple kFormatting{sim::kSenseNotReady, sim::kAscNotReady, sim::kAscqFormatInProgress};
constexpr Triple kInvalidField{sim::kSenseIllegalRequest, sim::kAscInvalidFieldInCdb, 0};
constexpr Triple kInvalidOperation{sim::kSenseIllegalRequest, sim::kAscInvalidOperationCode, 0};

class VirtualReaderTest : public ::testing::Test {
  protected:
    sim::ScsiReply run(const Bytes& cdb, std::uint8_t direction = win::SCSI_IOCTL_DATA_UNSPECIFIED,
                       std::span<std::uint8_t> data = {}) {
        return reader.execute(sim::ScsiCommand{cdb, direction, data});
    }
    sim::ScsiReply runIn(const Bytes& cdb, Bytes& data) {
        return run(cdb, win::SCSI_IOCTL_DATA_IN, data);
    }
    void expectCheckCondition(const sim::ScsiReply& reply, Triple expected) {
        EXPECT_EQ(reply.status, sim::kStatusCheckCondition);
        EXPECT_EQ(senseOf(reply), expected);
    }
    // The sense data a REQUEST SENSE returns now.
    Bytes currentSense() {
        Bytes sense(18, 0xEE);
        const sim::ScsiReply reply = runIn(kRequestSense, sense);
        EXPECT_EQ(reply.status, sim::kStatusGood);
        EXPECT_EQ(reply.transferred, 18u);
        return sense;
    }

    sim::VirtualClock clock;
    sim::VirtualReader reader{clock, sim::ReaderIdentity{"Kavo", "TKW-5 Reader", "1.00"}};
};

// ---------------------------------------------------------------------------
// INQUIRY

TEST_F(VirtualReaderTest, InquiryGivesStandardDataPaddedWithBlanks) {
    Bytes data(36, 0xEE);
    const sim::ScsiReply reply = runIn(kInquiry, data);
    EXPECT_EQ(reply.status, sim::kStatusGood);
    EXPECT_EQ(reply.transferred, 36u);

    EXPECT_EQ(data[0], 0x00);  // a direct-access device, connected
    EXPECT_EQ(data[1], 0x80);  // removable medium
    EXPECT_EQ(data[4], 31);    // additional length: the rest of the 36 bytes
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "Kavo    ");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "TKW-5 Reader    ");
    EXPECT_EQ(std::string(data.begin() + 32, data.begin() + 36), "1.00");
}

TEST_F(VirtualReaderTest, InquiryCutsLongTextsAndHonoursTheAllocationLength) {
    reader.setIdentity({"VendorTooLong", "Product name far too long", "12345"});
    Bytes data(36, 0);
    runIn(kInquiry, data);
    EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "VendorTo");
    EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "Product name far");
    EXPECT_EQ(std::string(data.begin() + 32, data.begin() + 36), "1234");

    Bytes shortData(36, 0xEE);
    const sim::ScsiReply reply = runIn({0x12, 0, 0, 0, 5, 0}, shortData);
    EXPECT_EQ(reply.transferred, 5u);
    EXPECT_EQ(shortData[5], 0xEE);
}

TEST_F(VirtualReaderTest, InquiryAnswersPastAPendingUnitAttention) {
    reader.raiseUnitAttention();
    Bytes data(36, 0);
    EXPECT_EQ(runIn(kInquiry, data).status, sim::kStatusGood);
    expectCheckCondition(run(kTestUnitReady),
                         {sim::kSenseUnitAttention, sim::kAscMediumChanged, 0});
    EXPECT_EQ(run(kTestUnitReady).status, sim::kStatusGood);
}

// ---------------------------------------------------------------------------
// TEST UNIT READY and REQUEST SENSE

struct StateCase {
    const char* name;
    bool ready;
    Triple sense;
    std::function<void(sim::VirtualReader&)> prepare;
};

const StateCase kStateCases[] = {
    {.name = "Ready", .ready = true, .sense = {0, 0, 0}, .prepare = [](auto&) {}},
    {.name = "NoMedium",
     .ready = false,
     .sense = kNoMedium,
     .prepare = [](auto& r) { r.removeMedium(); }},
    {.name = "MediumBackIn",
     .ready = true,
     .sense = {0, 0, 0},
     .prepare =
         [](auto& r) {
             r.removeMedium();
             r.insertMedium();
         }},
    {.name = "UnitAttention",
     .ready = false,
     .sense = {sim::kSenseUnitAttention, sim::kAscMediumChanged, 0},
     .prepare = [](auto& r) { r.raiseUnitAttention(); }},
};

class ReaderStateTest : public VirtualReaderTest,
                        public ::testing::WithParamInterface<StateCase> {};

TEST_P(ReaderStateTest, TestUnitReadyAndRequestSenseAgree) {
    GetParam().prepare(reader);
    const Bytes sense = currentSense();
    EXPECT_EQ(sense[0], sim::kFixedSenseCurrent);
    EXPECT_EQ(sense[7], 10);  // additional length of the 18-byte form
    EXPECT_EQ((Triple{sense[2], sense[12], sense[13]}), GetParam().sense);

    // REQUEST SENSE has taken a unit attention away; the other states remain.
    GetParam().prepare(reader);
    const sim::ScsiReply reply = run(kTestUnitReady);
    if (GetParam().ready) {
        EXPECT_EQ(reply.status, sim::kStatusGood);
        EXPECT_TRUE(reply.sense.empty());
    } else {
        expectCheckCondition(reply, GetParam().sense);
    }
}

INSTANTIATE_TEST_SUITE_P(States, ReaderStateTest, ::testing::ValuesIn(kStateCases), NameOfCase{});

// ---------------------------------------------------------------------------
// MODE SENSE(10)

class ModeSenseParameterTest : public VirtualReaderTest,
                               public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(ModeSenseParameterTest, HeaderCarriesTheDeviceSpecificParameter) {
    reader.setDeviceSpecificParameter(GetParam());
    Bytes header(8, 0xEE);
    const sim::ScsiReply reply = runIn(kModeSenseHeader, header);
    EXPECT_EQ(reply.status, sim::kStatusGood);
    EXPECT_EQ(reply.transferred, 8u);
    EXPECT_EQ(header[3], GetParam());
    EXPECT_EQ(header[6], 0);  // no block descriptor asked for
    EXPECT_EQ(header[7], 0);
}

INSTANTIATE_TEST_SUITE_P(Bits, ModeSenseParameterTest,
                         ::testing::Values(std::uint8_t{0x00}, std::uint8_t{0x10},
                                           std::uint8_t{0x80}, std::uint8_t{0x90}));

TEST_F(VirtualReaderTest, ModeDataLengthCountsEverythingAfterItself) {
    for (const std::uint8_t dbd : {std::uint8_t{0x08}, std::uint8_t{0x00}}) {
        Bytes data(255, 0);
        const sim::ScsiReply reply = runIn({0x5A, dbd, 0x3F, 0, 0, 0, 0, 0, 255, 0}, data);
        ASSERT_EQ(reply.status, sim::kStatusGood);
        EXPECT_EQ(data[0] * 256u + data[1], reply.transferred - 2) << "DBD " << int{dbd};
        EXPECT_EQ(data[7], dbd == 0 ? 8 : 0);
    }
}

TEST_F(VirtualReaderTest, WriteProtectSwitchSetsOnlyBit7) {
    reader.setDeviceSpecificParameter(0x10);
    reader.setWriteProtected(true);
    Bytes header(8, 0);
    runIn(kModeSenseHeader, header);
    EXPECT_EQ(header[3], 0x90);
    reader.setWriteProtected(false);
    runIn(kModeSenseHeader, header);
    EXPECT_EQ(header[3], 0x10);
}

TEST_F(VirtualReaderTest, ModeSenseFailsWithoutMediumAndForUnknownPages) {
    Bytes header(8, 0);
    expectCheckCondition(runIn({0x5A, 0x08, 0x01, 0, 0, 0, 0, 0, 8, 0}, header), kInvalidField);
    reader.removeMedium();
    expectCheckCondition(runIn(kModeSenseHeader, header), kNoMedium);
}

// ---------------------------------------------------------------------------
// Command bytes the reader refuses

struct RefusedCase {
    const char* name;
    Bytes cdb;
    std::uint8_t direction;
    std::size_t dataLength;
    Triple sense;
};

Bytes withByte(Bytes cdb, std::size_t index, std::uint8_t value) {
    cdb[index] = value;
    return cdb;
}

std::vector<RefusedCase> refusedCases() {
    std::vector<RefusedCase> cases = {
        {"ReadTen",
         {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0},
         win::SCSI_IOCTL_DATA_IN,
         512,
         kInvalidOperation},
        {"ModeSenseSix",
         {0x1A, 0x08, 0x3F, 0, 8, 0},
         win::SCSI_IOCTL_DATA_IN,
         8,
         kInvalidOperation},
        {"OtherVendorCode", withByte(kFormat, 0, 0xFB), win::SCSI_IOCTL_DATA_UNSPECIFIED, 0,
         kInvalidOperation},
        {"ShortVendorCdb", Bytes(kFormat.begin(), kFormat.begin() + 10),
         win::SCSI_IOCTL_DATA_UNSPECIFIED, 0, kInvalidField},
        {"InquiryVitalProductData",
         {0x12, 0x01, 0x80, 0, 36, 0},
         win::SCSI_IOCTL_DATA_IN,
         36,
         kInvalidField},
        {"InquiryDataOut", kInquiry, win::SCSI_IOCTL_DATA_OUT, 36, kInvalidField},
        {"BlockWriteDataIn", blockWrite(1), win::SCSI_IOCTL_DATA_IN, 512, kInvalidField},
        {"BlockWriteShortData", blockWrite(1), win::SCSI_IOCTL_DATA_OUT, 511, kInvalidField},
        {"BlockWriteReservedByte", withByte(blockWrite(1), 11, 1), win::SCSI_IOCTL_DATA_OUT, 512,
         kInvalidField},
        {"FormatWithData", kFormat, win::SCSI_IOCTL_DATA_OUT, 512, kInvalidField},
        {"FormatReservedByte", withByte(kFormat, 8, 1), win::SCSI_IOCTL_DATA_UNSPECIFIED, 0,
         kInvalidField},
    };
    // Every signature byte counts, and the byte before it too.
    for (std::size_t i = 1; i <= 6; ++i) {
        cases.push_back(
            {"BlockWriteSignatureByte",
             withByte(blockWrite(1), i, static_cast<std::uint8_t>(blockWrite(1)[i] ^ 1)),
             win::SCSI_IOCTL_DATA_OUT, 512, kInvalidField});
    }
    for (std::size_t i = 1; i <= 7; ++i) {
        cases.push_back({"FormatSignatureByte",
                         withByte(kFormat, i, static_cast<std::uint8_t>(kFormat[i] ^ 1)),
                         win::SCSI_IOCTL_DATA_UNSPECIFIED, 0, kInvalidField});
    }
    return cases;
}

class RefusedCommandTest : public VirtualReaderTest,
                           public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedCommandTest, IsAnIllegalRequestThatChangesNothing) {
    Bytes data(GetParam().dataLength, 0);
    expectCheckCondition(run(GetParam().cdb, GetParam().direction, data), GetParam().sense);
    EXPECT_TRUE(reader.receivedBlocks().empty());
    EXPECT_FALSE(reader.formatInProgress());
}

INSTANTIATE_TEST_SUITE_P(Cdbs, RefusedCommandTest, ::testing::ValuesIn(refusedCases()),
                         [](const auto& testInfo) {
                             return std::string(testInfo.param.name) +
                                    std::to_string(testInfo.index);
                         });

// ---------------------------------------------------------------------------
// Firmware blocks

Bytes blockOf(std::uint8_t fill) {
    return Bytes(sim::kReaderBlockSize, fill);
}

TEST_F(VirtualReaderTest, RefusedBlockIsNotKeptAndTheOthersAre) {
    reader.refuseBlock(2);
    const std::uint8_t statuses[] = {sim::kStatusGood, sim::kStatusGood, sim::kStatusCheckCondition,
                                     sim::kStatusGood};
    for (std::uint16_t number = 0; number < 4; ++number) {
        Bytes block = blockOf(static_cast<std::uint8_t>(0xA0 + number));
        const sim::ScsiReply reply = run(blockWrite(number), win::SCSI_IOCTL_DATA_OUT, block);
        EXPECT_EQ(reply.status, statuses[number]) << "block " << number;
        if (number == 2) {
            EXPECT_EQ(senseOf(reply), (Triple{sim::kSenseMediumError, sim::kAscWriteError, 0}));
        }
    }

    ASSERT_EQ(reader.receivedBlocks().size(), 3u);
    EXPECT_EQ(reader.receivedBlocks()[2].number, 3);
    Bytes expected = blockOf(0xA0);
    for (std::uint8_t fill : std::initializer_list<std::uint8_t>{0xA1, 0xA3}) {
        const Bytes block = blockOf(fill);
        expected.insert(expected.end(), block.begin(), block.end());
    }
    EXPECT_EQ(reader.getReceivedStream(), expected);
}

TEST_F(VirtualReaderTest, HeaderBlockBeginsANewStream) {
    for (std::uint16_t number : std::initializer_list<std::uint16_t>{0, 1, 0}) {
        Bytes block = blockOf(static_cast<std::uint8_t>(number + 1));
        ASSERT_EQ(run(blockWrite(number), win::SCSI_IOCTL_DATA_OUT, block).status,
                  sim::kStatusGood);
    }
    EXPECT_EQ(reader.getReceivedStream(), blockOf(1));
}

// ---------------------------------------------------------------------------
// The format

struct ProgressCase {
    const char* name;
    win::DWORD elapsedMs;
    bool formatting;
    std::uint16_t progress;
};

class FormatProgressTest : public VirtualReaderTest,
                           public ::testing::WithParamInterface<ProgressCase> {};

TEST_P(FormatProgressTest, RisesOverTheFormatsDuration) {
    reader.setFormatDuration(10000);
    ASSERT_EQ(run(kFormat).status, sim::kStatusGood);
    clock.Sleep(GetParam().elapsedMs);

    const Bytes sense = currentSense();
    if (GetParam().formatting) {
        EXPECT_EQ((Triple{sense[2], sense[12], sense[13]}), kFormatting);
        EXPECT_EQ(sense[15], sim::kSenseKeySpecificValid);
        EXPECT_EQ(sense[16] * 256 + sense[17], GetParam().progress);
        expectCheckCondition(run(kTestUnitReady), kFormatting);
    } else {
        EXPECT_EQ((Triple{sense[2], sense[12], sense[13]}), (Triple{0, 0, 0}));
        EXPECT_EQ(sense[15], 0);
        EXPECT_EQ(run(kTestUnitReady).status, sim::kStatusGood);
        EXPECT_EQ(reader.completedFormats(), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Times, FormatProgressTest,
    ::testing::Values(
        ProgressCase{.name = "After0ms", .elapsedMs = 0, .formatting = true, .progress = 0},
        ProgressCase{
            .name = "After2500ms", .elapsedMs = 2500, .formatting = true, .progress = 16384},
        ProgressCase{
            .name = "After5000ms", .elapsedMs = 5000, .formatting = true, .progress = 32768},
        ProgressCase{
            .name = "After9999ms", .elapsedMs = 9999, .formatting = true, .progress = 65529},
        ProgressCase{
            .name = "After10000ms", .elapsedMs = 10000, .formatting = false, .progress = 0},
        ProgressCase{
            .name = "After60000ms", .elapsedMs = 60000, .formatting = false, .progress = 0}),
    NameOfCase{});

TEST_F(VirtualReaderTest, FormatProgressSurvivesTheTickCountWrapping) {
    clock.Sleep(0xFFFFFFFFu - 1000);
    reader.setFormatDuration(4000);
    ASSERT_EQ(run(kFormat).status, sim::kStatusGood);
    clock.Sleep(2000);
    EXPECT_TRUE(reader.formatInProgress());
    EXPECT_EQ(reader.formatProgress(), 32768);
    clock.Sleep(2000);
    EXPECT_FALSE(reader.formatInProgress());
}

TEST_F(VirtualReaderTest, MediumRemovalStopsTheFormat) {
    reader.setFormatDuration(10000);
    ASSERT_EQ(run(kFormat).status, sim::kStatusGood);
    clock.Sleep(3000);
    reader.removeMedium();

    expectCheckCondition(run(kTestUnitReady), kNoMedium);
    const Bytes sense = currentSense();
    EXPECT_EQ((Triple{sense[2], sense[12], sense[13]}), kNoMedium);
    EXPECT_EQ(sense[15], 0);
    EXPECT_EQ(reader.abortedFormats(), 1);

    reader.insertMedium();
    clock.Sleep(10000);
    EXPECT_EQ(run(kTestUnitReady).status, sim::kStatusGood);
    EXPECT_EQ(reader.completedFormats(), 0);
}

TEST_F(VirtualReaderTest, CommandsWaitWhileTheFormatRuns) {
    ASSERT_EQ(run(kFormat).status, sim::kStatusGood);
    Bytes header(8, 0);
    expectCheckCondition(runIn(kModeSenseHeader, header), kFormatting);
    expectCheckCondition(run(kFormat), kFormatting);
    Bytes block = blockOf(0);
    expectCheckCondition(run(blockWrite(0), win::SCSI_IOCTL_DATA_OUT, block), kFormatting);
    Bytes inquiry(36, 0);
    EXPECT_EQ(runIn(kInquiry, inquiry).status, sim::kStatusGood);
}

struct FormatRefusalCase {
    const char* name;
    std::function<void(sim::VirtualReader&)> prepare;
    Triple sense;
};

class FormatRefusalTest : public VirtualReaderTest,
                          public ::testing::WithParamInterface<FormatRefusalCase> {};

TEST_P(FormatRefusalTest, LeavesTheReaderReadyWithoutFormatting) {
    GetParam().prepare(reader);
    expectCheckCondition(run(kFormat), GetParam().sense);
    EXPECT_FALSE(reader.formatInProgress());
    EXPECT_EQ(reader.completedFormats(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, FormatRefusalTest,
    ::testing::Values(FormatRefusalCase{"NoMedium", [](auto& r) { r.removeMedium(); }, kNoMedium},
                      FormatRefusalCase{"WriteProtected",
                                        [](auto& r) { r.setWriteProtected(true); },
                                        {sim::kSenseDataProtect, sim::kAscWriteProtected, 0}},
                      FormatRefusalCase{"FormatFails",
                                        [](auto& r) { r.refuseFormat(true); },
                                        {sim::kSenseMediumError, 0x31, 0x01}}),
    NameOfCase{});

}  // namespace

#include "sim/reader_commands.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/scsi_device.h"

namespace {

using sim::ReaderCommand;
using Bytes = std::vector<std::uint8_t>;

// The vendor commands as the reader takes them: FA 00, signature, parameters, zeros.
Bytes blockWrite(std::uint8_t high, std::uint8_t low) {
    return {0xFA, 0x00, 0xC0, 0x55, 0x44, 0x4D, 0x53, high, low, 0x00, 0x00, 0x00};
}
Bytes format() {
    return {0xFA, 0x00, 0xA0, 0x4D, 0x47, 0x66, 0x6D, 0x74, 0x00, 0x00, 0x00, 0x00};
}
Bytes changed(Bytes cdb, std::size_t index, std::uint8_t value) {
    cdb[index] = value;
    return cdb;
}

TEST(ReaderCommands, DecodesTheCommandSetAsTheReaderTakesIt) {
    struct Case {
        const char* name;
        Bytes cdb;
        ReaderCommand command;
        std::uint8_t operationCode;
        std::optional<std::uint16_t> block;
    };
    const Case cases[] = {
        {"no CDB", {}, ReaderCommand::Unknown, 0x00, std::nullopt},
        {"test unit ready", Bytes(6, 0x00), ReaderCommand::TestUnitReady, 0x00, std::nullopt},
        {"request sense", {0x03, 0, 0, 0, 18, 0}, ReaderCommand::RequestSense, 0x03, std::nullopt},
        {"inquiry", {0x12, 0, 0, 0, 36, 0}, ReaderCommand::Inquiry, 0x12, std::nullopt},
        {"mode sense",
         {0x5A, 0x08, 0x3F, 0, 0, 0, 0, 0, 0xFF, 0},
         ReaderCommand::ModeSense10,
         0x5A,
         std::nullopt},
        {"block write", blockWrite(0x01, 0x02), ReaderCommand::BlockWrite, 0xFA, 0x0102},
        {"header block", blockWrite(0x00, 0x00), ReaderCommand::BlockWrite, 0xFA, 0x0000},
        {"format", format(), ReaderCommand::Format, 0xFA, std::nullopt},
        {"block write, signature wrong", changed(blockWrite(0, 1), 4, 0x45),
         ReaderCommand::VendorOther, 0xFA, std::nullopt},
        {"block write, reserved byte set", changed(blockWrite(0, 1), 11, 0x01),
         ReaderCommand::VendorOther, 0xFA, std::nullopt},
        {"format, byte 1 set", changed(format(), 1, 0x01), ReaderCommand::VendorOther, 0xFA,
         std::nullopt},
        {"vendor command cut short",
         {0xFA, 0x00, 0xC0, 0x55, 0x44, 0x4D},
         ReaderCommand::VendorOther,
         0xFA,
         std::nullopt},
        {"read(10)", Bytes{0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, ReaderCommand::Unknown, 0x28,
         std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const sim::DecodedCommand decoded = sim::decodeCommand(c.cdb);
        EXPECT_EQ(decoded.command, c.command);
        EXPECT_EQ(decoded.operationCode, c.operationCode);
        EXPECT_EQ(decoded.block, c.block);
    }
}

}  // namespace

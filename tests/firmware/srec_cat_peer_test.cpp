// Our loader against an independent S-record tool: files that the tool writes
// from binary ranges must load into exactly the bytes the tool itself reads
// back from them, with the words swapped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/srecord_reader.h"
#include "support/case_names.h"
#include "support/scratch_folder.h"

namespace firmware {
namespace {

using testsupport::PrintTo;

namespace fs = std::filesystem;

constexpr std::uint32_t kRangeStart = 0x10000;
constexpr std::uint32_t kRangeEnd = 0x40000;  // one past the last address

struct ByteRange {
    std::uint32_t address;
    std::uint32_t length;
};

struct PeerCase {
    const char* name;
    int addressLength;  // 3 for S2 records, 4 for S3
    std::vector<ByteRange> ranges;
    int blockSize;      // data bytes per record; 0 for the tool's default
    bool startAddress;  // whether the tool writes an S8/S7 start record
};

// Deterministic bytes, different for every range.
std::vector<std::uint8_t> pseudoRandomBytes(std::uint32_t seed, std::uint32_t length) {
    std::vector<std::uint8_t> bytes(length);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::uint8_t& byte : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

bool writeFile(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

std::vector<std::uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string hex(std::uint32_t value) {
    std::ostringstream text;
    text << "0x" << std::hex << value;
    return text.str();
}

std::string quoted(const fs::path& path) {
    return "'" + path.string() + "'";
}

bool toolAvailable() {
    return std::system("srec_cat -version > /dev/null 2>&1") == 0;
}

using testsupport::ScratchFolder;

class SrecCatPeer : public testing::TestWithParam<PeerCase> {
  protected:
    void SetUp() override {
        if (!toolAvailable())
            GTEST_SKIP() << "srec_cat is not installed (scripts/setup installs it)";
        resetChainedDecoder();
    }
    void TearDown() override { resetChainedDecoder(); }

    int run(const std::string& command) {
        return std::system((command + " 2> " + quoted(scratch.path() / "tool.log")).c_str());
    }

    ScratchFolder scratch{GetParam().name};
};

TEST_P(SrecCatPeer, LoadsWhatTheToolReadsBack) {
    const PeerCase& c = GetParam();
    const fs::path srecPath = scratch.path() / "image.srec";
    const fs::path binPath = scratch.path() / "image.bin";
    const fs::path encodedPath = scratch.path() / "image.enc";

    std::string writeCommand = "srec_cat";
    std::uint32_t low = kRangeEnd;
    std::uint32_t high = 0;
    for (std::size_t i = 0; i < c.ranges.size(); ++i) {
        const ByteRange& range = c.ranges[i];
        ASSERT_GE(range.address, kRangeStart);
        ASSERT_LE(range.address + range.length, kRangeEnd);
        const fs::path part = scratch.path() / ("part" + std::to_string(i) + ".bin");
        ASSERT_TRUE(
            writeFile(part, pseudoRandomBytes(static_cast<std::uint32_t>(i + 1), range.length)));
        writeCommand += " " + quoted(part) + " -binary -offset " + hex(range.address);
        low = std::min(low, range.address);
        high = std::max(high, range.address + range.length - 1);
    }
    writeCommand +=
        " -o " + quoted(srecPath) + " -motorola -Address_Length " + std::to_string(c.addressLength);
    if (c.blockSize != 0) writeCommand += " -Output_Block_Size " + std::to_string(c.blockSize);
    if (c.startAddress) writeCommand += " -Execution_Start_Address " + hex(low);
    ASSERT_EQ(run(writeCommand), 0) << writeCommand;

    // The tool's own reading of its file, as a flat image of the load range.
    const std::string readCommand = "srec_cat " + quoted(srecPath) + " -motorola -fill 0xFF " +
                                    hex(kRangeStart) + " " + hex(kRangeEnd) + " -offset -" +
                                    hex(kRangeStart) + " -o " + quoted(binPath) + " -binary";
    ASSERT_EQ(run(readCommand), 0) << readCommand;
    const std::vector<std::uint8_t> flat = readFile(binPath);
    ASSERT_EQ(flat.size(), kRangeEnd - kRangeStart);

    const std::vector<std::uint8_t> text = readFile(srecPath);
    const std::string recordStart = c.addressLength == 3 ? "\nS2" : "\nS3";
    const std::string otherStart = c.addressLength == 3 ? "\nS3" : "\nS2";
    const std::string textString(text.begin(), text.end());
    ASSERT_NE(textString.find(recordStart), std::string::npos) << "the tool wrote other records";
    ASSERT_EQ(textString.find(otherStart), std::string::npos);

    ASSERT_TRUE(writeFile(encodedPath, encodeChainedLines(text)));
    FileByteSource file;
    ASSERT_TRUE(file.open(encodedPath.string()));
    auto image = std::make_unique<FirmwareImage>();
    testing::internal::CaptureStdout();
    const std::uint8_t result = loadFirmwareImage(file, *image);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    ASSERT_EQ(result, kLoadOk);

    EXPECT_EQ(image->imageLowAddress, low);
    EXPECT_EQ(image->imageHighAddress, high);
    std::size_t mismatches = 0;
    for (std::uint32_t address = kRangeStart; address < kRangeEnd; ++address) {
        const std::uint8_t expected = flat[address - kRangeStart];
        if (image->imageBytes[address ^ 1] != expected && mismatches++ < 5) {
            ADD_FAILURE() << "address " << hex(address) << ": loaded "
                          << static_cast<int>(image->imageBytes[address ^ 1]) << ", tool read "
                          << static_cast<int>(expected);
        }
    }
    EXPECT_EQ(mismatches, 0u);
    EXPECT_TRUE(std::all_of(image->imageBytes.begin(), image->imageBytes.begin() + kRangeStart,
                            [](std::uint8_t byte) { return byte == kUnsetImageByte; }));
}

INSTANTIATE_TEST_SUITE_P(
    Images, SrecCatPeer,
    testing::Values(PeerCase{"S2Dense", 3, {{kRangeStart, kRangeEnd - kRangeStart}}, 0, false},
                    PeerCase{"S3Dense", 4, {{kRangeStart, kRangeEnd - kRangeStart}}, 0, true},
                    PeerCase{"S2DenseLongRecords", 3, {{0x10000, 0x20001}}, 251, true},
                    PeerCase{"S2Sparse",
                             3,
                             {{0x10000, 0x100}, {0x12345, 0x777}, {0x20001, 0x3}, {0x3FF00, 0x100}},
                             0,
                             false},
                    PeerCase{"S3SparseLongRecords",
                             4,
                             {{0x10001, 0x1FF}, {0x18000, 0x1}, {0x2ABCD, 0x1234}, {0x3FFFD, 0x3}},
                             250,
                             true},
                    PeerCase{
                        "S3SparseShortRecords", 4, {{0x11111, 0x222}, {0x33333, 0x444}}, 1, false}),
    testsupport::NameOfCase{});

}  // namespace
}  // namespace firmware

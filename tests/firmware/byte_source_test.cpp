#include "firmware/byte_source.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "support/scratch_folder.h"

namespace firmware {
namespace {

namespace fs = std::filesystem;

// A patterned run of bytes, so that a byte out of place or repeated shows.
std::vector<std::uint8_t> patternBytes(std::size_t length) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

// Every byte readByte hands out until it first reports the end.
std::vector<std::uint8_t> drain(ByteSource& source) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t byte = 0;
    while (source.readByte(byte)) bytes.push_back(byte);
    return bytes;
}

// Hands its bytes out in windows of a fixed size and keeps account of the
// windows asked for after the last one.
class ChunkedSource final : public ByteSource {
  public:
    ChunkedSource(std::vector<std::uint8_t> bytes, std::size_t chunk)
        : bytes_(std::move(bytes)), chunk_(chunk) {}
    ChunkedSource(const ChunkedSource&) = delete;
    ChunkedSource& operator=(const ChunkedSource&) = delete;

    std::size_t requestsAfterEnd() const { return requestsAfterEnd_; }

  private:
    std::span<const std::uint8_t> refill() override {
        if (offset_ == bytes_.size()) {
            ++requestsAfterEnd_;
            return {};
        }
        const std::size_t length = std::min(chunk_, bytes_.size() - offset_);
        const auto window = std::span<const std::uint8_t>(bytes_).subspan(offset_, length);
        offset_ += length;
        return window;
    }

    std::vector<std::uint8_t> bytes_;
    std::size_t chunk_;
    std::size_t offset_ = 0;
    std::size_t requestsAfterEnd_ = 0;
};

TEST(ByteSource, HandsOutEveryByteOnceAcrossWindowsAndAsksAgainOnEachReadAtTheEnd) {
    struct Case {
        std::size_t length;
        std::size_t chunk;
    };
    const Case cases[] = {{0, 1}, {1, 1}, {5, 1}, {10, 3}, {9, 3}, {9, 100}, {1000, 64}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.length << " bytes in windows of " << c.chunk);
        const std::vector<std::uint8_t> bytes = patternBytes(c.length);
        ChunkedSource source(bytes, c.chunk);
        EXPECT_EQ(drain(source), bytes);
        EXPECT_EQ(source.requestsAfterEnd(), 1u);
        std::uint8_t byte = 0xA5;
        EXPECT_FALSE(source.readByte(byte));
        EXPECT_FALSE(source.readByte(byte));
        EXPECT_EQ(byte, 0xA5) << "a refused read leaves the byte alone";
        EXPECT_EQ(source.requestsAfterEnd(), 3u);
    }
}

TEST(MemoryByteSource, DeliversItsBytesAndThenStaysAtTheEnd) {
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{300}}) {
        SCOPED_TRACE(length);
        const std::vector<std::uint8_t> bytes = patternBytes(length);
        MemoryByteSource source(bytes);
        EXPECT_EQ(drain(source), bytes);
        std::uint8_t byte = 0;
        EXPECT_FALSE(source.readByte(byte));
    }
}

class FileByteSourceTest : public testing::Test {
  protected:
    // The size of the reader's buffer, so that the files below end at, just
    // before and just after its refills.
    static constexpr std::size_t kBufferSize = 64 * 1024;

    std::string writeFile(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = scratch_.path() / name;
        std::FILE* file = std::fopen(path.string().c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file == nullptr) return path.string();
        const std::size_t written =
            bytes.empty() ? 0 : std::fwrite(bytes.data(), 1, bytes.size(), file);
        EXPECT_EQ(written, bytes.size());
        std::fclose(file);
        return path.string();
    }

  private:
    testsupport::ScratchFolder scratch_{"byte_source"};
};

TEST_F(FileByteSourceTest, ReadsTheWholeFileWhateverItsLengthAgainstTheBuffer) {
    const std::size_t lengths[] = {
        0, 1, kBufferSize - 1, kBufferSize, kBufferSize + 1, 2 * kBufferSize + 17};
    for (const std::size_t length : lengths) {
        SCOPED_TRACE(length);
        const std::vector<std::uint8_t> bytes = patternBytes(length);
        FileByteSource file;
        ASSERT_TRUE(file.open(writeFile("whole", bytes)));
        EXPECT_EQ(drain(file), bytes);
        std::uint8_t byte = 0;
        EXPECT_FALSE(file.readByte(byte));
    }
}

TEST_F(FileByteSourceTest, ClosingDropsTheBytesNotYetReadAndReopeningStartsAfresh) {
    const std::vector<std::uint8_t> first = patternBytes(100);
    std::vector<std::uint8_t> second = patternBytes(50);
    for (std::uint8_t& byte : second) byte = static_cast<std::uint8_t>(~byte);
    const std::string firstPath = writeFile("first", first);
    const std::string secondPath = writeFile("second", second);

    FileByteSource file;
    ASSERT_TRUE(file.open(firstPath));
    std::uint8_t byte = 0;
    ASSERT_TRUE(file.readByte(byte));
    EXPECT_EQ(byte, first[0]);
    file.close();
    EXPECT_FALSE(file.isOpen());
    EXPECT_FALSE(file.readByte(byte)) << "a closed file has nothing left to read";

    ASSERT_TRUE(file.open(firstPath));
    ASSERT_TRUE(file.readByte(byte));
    ASSERT_TRUE(file.open(secondPath)) << "opening again closes the first file";
    EXPECT_EQ(drain(file), second);
}

TEST_F(FileByteSourceTest, AFileThatCannotBeOpenedReadsNothing) {
    FileByteSource file;
    EXPECT_FALSE(
        file.open((fs::path(testing::TempDir()) / "byte_source_missing_dir" / "x").string()));
    std::uint8_t byte = 0;
    EXPECT_FALSE(file.readByte(byte));
}

}  // namespace
}  // namespace firmware

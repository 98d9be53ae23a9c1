#include "update/system_file.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/sim_process.h"

namespace {

// The size of the file object's buffer, so that the files below end at, just
// before and just after its refills.
constexpr std::size_t kBufferSize = 4096;
constexpr auto kFile = sim::SimSystem::HandleKind::File;

std::vector<std::uint8_t> patternBytes(std::size_t length, std::uint8_t flip = 0) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 13 + i / 241) ^ flip);
    }
    return bytes;
}

std::vector<std::uint8_t> drain(update::SystemFile& file) {
    std::vector<std::uint8_t> bytes;
    std::uint8_t byte = 0;
    while (file.readByte(byte)) bytes.push_back(byte);
    return bytes;
}

TEST(SystemFile, ReadsTheBytesUpToTheEndOrTheFirstFailedRead) {
    struct Case {
        std::size_t length;
        std::optional<std::size_t> failReadsAfter;
        std::size_t delivered;
        bool readFailed;
    };
    const Case cases[] = {
        {1, std::nullopt, 1, false},
        {kBufferSize - 1, std::nullopt, kBufferSize - 1, false},
        {kBufferSize, std::nullopt, kBufferSize, false},
        {kBufferSize + 1, std::nullopt, kBufferSize + 1, false},
        {3 * kBufferSize + 17, std::nullopt, 3 * kBufferSize + 17, false},
        // The system delivers a short read up to the fault, then fails.
        {3 * kBufferSize, kBufferSize + 10, kBufferSize + 10, true},
        {3 * kBufferSize, 2 * kBufferSize, 2 * kBufferSize, true},
        {100, 0, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.length << " bytes, fault after " << c.failReadsAfter.value_or(0));
        testsupport::SimProcess process;
        const std::vector<std::uint8_t> content = patternBytes(c.length);
        process.setup.programFiles["firmware.s37"] = content;
        process.setup.faults.failReadsAfter = c.failReadsAfter;
        update::SystemFile file(process.system);
        ASSERT_TRUE(file.open(".\\firmware.s37"));
        const std::vector<std::uint8_t> expected(content.begin(),
                                                 content.begin() + static_cast<long>(c.delivered));
        EXPECT_EQ(drain(file), expected);
        std::uint8_t byte = 0;
        EXPECT_FALSE(file.readByte(byte)) << "the end stays the end";
        EXPECT_EQ(file.readFailed(), c.readFailed);
        file.close();
        EXPECT_EQ(process.simSystem.openHandleCount(kFile), 0u);
    }
}

TEST(SystemFile, ClosingDropsTheBytesNotYetReadAndReopeningStartsAfresh) {
    testsupport::SimProcess process;
    const std::vector<std::uint8_t> first = patternBytes(2 * kBufferSize);
    const std::vector<std::uint8_t> second = patternBytes(100, 0xFF);
    process.setup.programFiles["first.s37"] = first;
    process.setup.programFiles["second.s37"] = second;
    update::SystemFile file(process.system);

    ASSERT_TRUE(file.open("first.s37"));
    std::uint8_t byte = 0;
    ASSERT_TRUE(file.readByte(byte));
    EXPECT_EQ(byte, first[0]);
    file.close();
    EXPECT_FALSE(file.readByte(byte)) << "a closed file has nothing left to read";

    ASSERT_TRUE(file.open("first.s37"));
    ASSERT_TRUE(file.readByte(byte));
    ASSERT_TRUE(file.open("second.s37")) << "opening again closes the first file";
    EXPECT_EQ(drain(file), second);
    EXPECT_EQ(process.simSystem.openHandleCount(kFile), 1u);
}

TEST(SystemFile, AReadFailureIsForgottenWhenTheFileIsClosed) {
    testsupport::SimProcess process;
    process.setup.programFiles["firmware.s37"] = patternBytes(10);
    process.setup.faults.failReadsAfter = 0;
    update::SystemFile file(process.system);
    ASSERT_TRUE(file.open("firmware.s37"));
    EXPECT_EQ(drain(file), std::vector<std::uint8_t>{});
    EXPECT_TRUE(file.readFailed());
    file.close();
    EXPECT_FALSE(file.readFailed());
    process.setup.faults.failReadsAfter.reset();
    ASSERT_TRUE(file.open("firmware.s37"));
    EXPECT_EQ(drain(file), patternBytes(10));
}

}  // namespace

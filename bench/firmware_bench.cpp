#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "firmware/byte_source.h"
#include "firmware/chained_xor.h"
#include "firmware/firmware_image.h"
#include "firmware/flash_layout.h"
#include "firmware/srecord_reader.h"

namespace {

// The largest firmware the reader takes: every byte from 0x10000 to the end
// of the image, in S3 records of 32 data bytes, as package tools write them.
constexpr std::uint32_t kFirstAddress = 0x10000;
constexpr std::uint32_t kDataLength = 0x30000;
constexpr std::uint32_t kRecordDataBytes = 32;
constexpr std::uint32_t kS3AddressBytes = 4;
constexpr std::uint32_t kChecksumBytes = 1;
constexpr unsigned kByteBits = 8;
constexpr std::uint8_t kByteMask = 0xFF;
constexpr unsigned kNibbleBits = 4;
constexpr unsigned kNibbleMask = 0xF;
constexpr std::uint32_t kS0AddressBytes = 2;
// A fixed linear congruential generator, so every run loads the same bytes.
constexpr std::uint32_t kGeneratorSeed = 0x2545F491u;
constexpr std::uint32_t kGeneratorMultiplier = 1664525u;
constexpr std::uint32_t kGeneratorIncrement = 1013904223u;
constexpr unsigned kGeneratorOutputShift = 24;

void appendHexByte(std::string& text, std::uint8_t value, std::uint8_t& sum) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text += kDigits[value >> kNibbleBits];
    text += kDigits[value & kNibbleMask];
    sum = static_cast<std::uint8_t>(sum + value);
}

// One S-record line: type, count, the given address bytes and data, checksum.
void appendRecord(std::string& text, char type, std::uint32_t address, unsigned addressBytes,
                  const std::uint8_t* data, std::uint32_t dataLength) {
    std::uint8_t sum = 0;
    text += 'S';
    text += type;
    appendHexByte(text, static_cast<std::uint8_t>(addressBytes + dataLength + kChecksumBytes), sum);
    for (unsigned index = addressBytes; index-- > 0;) {
        appendHexByte(text, static_cast<std::uint8_t>((address >> (index * kByteBits)) & kByteMask),
                      sum);
    }
    for (std::uint32_t index = 0; index < dataLength; ++index)
        appendHexByte(text, data[index], sum);
    std::uint8_t ignored = 0;
    appendHexByte(text, static_cast<std::uint8_t>(sum ^ kByteMask), ignored);
    text += '\n';
}

std::vector<std::uint8_t> firmwareBytes() {
    std::vector<std::uint8_t> bytes(kDataLength);
    std::uint32_t state = kGeneratorSeed;
    for (std::uint8_t& byte : bytes) {
        state = state * kGeneratorMultiplier + kGeneratorIncrement;
        byte = static_cast<std::uint8_t>(state >> kGeneratorOutputShift);
    }
    return bytes;
}

std::vector<std::uint8_t> encodedMaximalFirmware() {
    const std::vector<std::uint8_t> data = firmwareBytes();
    std::string text;
    const std::uint8_t title[] = {'b', 'e', 'n', 'c', 'h'};
    appendRecord(text, '0', 0, kS0AddressBytes, title, sizeof title);
    for (std::uint32_t offset = 0; offset < kDataLength; offset += kRecordDataBytes) {
        appendRecord(text, '3', kFirstAddress + offset, kS3AddressBytes, data.data() + offset,
                     kRecordDataBytes);
    }
    appendRecord(text, '7', kFirstAddress, kS3AddressBytes, nullptr, 0);
    const std::vector<std::uint8_t> plain(text.begin(), text.end());
    return firmware::encodeChainedLines(plain);
}

const std::vector<std::uint8_t>& maximalFirmware() {
    static const std::vector<std::uint8_t> encoded = encodedMaximalFirmware();
    return encoded;
}

// The encoded file on disk, so the load goes through the buffered file reader
// as it does in the programs.
const std::string& maximalFirmwarePath() {
    static const std::string path = [] {
        const auto file = std::filesystem::temp_directory_path() / "firmware_bench_maximal.s37";
        std::FILE* out = std::fopen(file.string().c_str(), "wb");
        if (out != nullptr) {
            std::fwrite(maximalFirmware().data(), 1, maximalFirmware().size(), out);
            std::fclose(out);
        }
        return file.string();
    }();
    return path;
}

const firmware::HeaderIdentity kIdentity{"0d9f", "1002", "0100", "TKW-5 CardRW",
                                         std::string(firmware::kScramblingHeaderName)};

bool loadFile(benchmark::State& state, firmware::FirmwareImage& image) {
    firmware::FileByteSource file;
    if (!file.open(maximalFirmwarePath())) {
        state.SkipWithError("cannot open the generated firmware file");
        return false;
    }
    firmware::resetChainedDecoder();
    if (firmware::loadFirmwareImage(file, image) != firmware::kLoadOk || !image.holdsData()) {
        state.SkipWithError("the generated firmware does not load");
        return false;
    }
    return true;
}

void BM_LoadMaximalFirmware(benchmark::State& state) {
    auto image = std::make_unique<firmware::FirmwareImage>();
    for (auto _ : state) {
        if (!loadFile(state, *image)) return;
        benchmark::DoNotOptimize(image->imageHighAddress);
    }
    state.SetBytesProcessed(state.iterations() *
                            static_cast<std::int64_t>(maximalFirmware().size()));
}
BENCHMARK(BM_LoadMaximalFirmware)->Unit(benchmark::kMillisecond);

void BM_BuildMaximalStream(benchmark::State& state) {
    auto image = std::make_unique<firmware::FirmwareImage>();
    if (!loadFile(state, *image)) return;
    if (firmware::planFlash(*image, kIdentity).blockCount != firmware::kMaxBlockCount) {
        state.SkipWithError("the generated firmware is not maximal");
        return;
    }
    for (auto _ : state) {
        const firmware::FlashPlan plan = firmware::planFlash(*image, kIdentity);
        std::vector<std::uint8_t> stream = firmware::buildBlockStream(*image, plan);
        benchmark::DoNotOptimize(stream.data());
    }
}
BENCHMARK(BM_BuildMaximalStream)->Unit(benchmark::kMicrosecond);

void BM_LoadAndStreamMaximalFirmware(benchmark::State& state) {
    auto image = std::make_unique<firmware::FirmwareImage>();
    for (auto _ : state) {
        if (!loadFile(state, *image)) return;
        const firmware::FlashPlan plan = firmware::planFlash(*image, kIdentity);
        std::vector<std::uint8_t> stream = firmware::buildBlockStream(*image, plan);
        benchmark::DoNotOptimize(stream.data());
    }
}
BENCHMARK(BM_LoadAndStreamMaximalFirmware)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();

#include "firmware/byte_source.h"

namespace firmware {

namespace {
constexpr std::size_t kWholeFileChunkSize = 64 * 1024;
}

bool ByteSource::takeNextWindow() {
    const std::span<const std::uint8_t> window = refill();
    next_ = window.data();
    end_ = window.data() + window.size();
    return !window.empty();
}

bool FileByteSource::open(const std::string& path) {
    close();
    file_ = std::fopen(path.c_str(), "rb");
    if (file_ == nullptr) return false;
    buffer_.resize(kBufferSize);
    return true;
}

void FileByteSource::close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
    discardWindow();
}

std::span<const std::uint8_t> FileByteSource::refill() {
    if (file_ == nullptr) return {};
    const std::size_t got = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    return std::span<const std::uint8_t>(buffer_).first(got);
}

bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    bytes.clear();
    std::uint8_t chunk[kWholeFileChunkSize];
    std::size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) != 0) {
        bytes.insert(bytes.end(), chunk, chunk + got);
    }
    const bool ok = std::ferror(file) == 0;
    std::fclose(file);
    return ok;
}

}  // namespace firmware

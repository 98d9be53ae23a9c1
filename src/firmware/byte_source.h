#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

namespace firmware {

// The raw bytes of an opened file, handed out one at a time. The decoders work
// byte by byte; where the bytes come from (a host file, a simulated medium, a
// buffer in a test) is the caller's business.
class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // The next raw byte; false once the data is used up.
    virtual bool readByte(std::uint8_t& byte) = 0;
};

// Bytes held in memory; the span must outlive the source.
class MemoryByteSource final : public ByteSource {
  public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool readByte(std::uint8_t& byte) override {
        if (position_ == bytes_.size()) return false;
        byte = bytes_[position_++];
        return true;
    }

  private:
    std::span<const std::uint8_t> bytes_;
    std::size_t position_ = 0;
};

// A host file read through a buffer: a firmware file is read one byte at a
// time, and one read call per byte is needlessly slow.
class FileByteSource final : public ByteSource {
  public:
    FileByteSource() = default;
    ~FileByteSource() override { close(); }
    FileByteSource(const FileByteSource&) = delete;
    FileByteSource& operator=(const FileByteSource&) = delete;

    // Opens the file for reading as raw bytes; false when it cannot be opened.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return file_ != nullptr; }

    bool readByte(std::uint8_t& byte) override {
        if (position_ == filled_ && !refill()) return false;
        byte = buffer_[position_++];
        return true;
    }

  private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    bool refill();

    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    std::size_t position_ = 0;
    std::size_t filled_ = 0;
};

// The whole content of a host file; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes);

}  // namespace firmware

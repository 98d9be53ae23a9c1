#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace firmware {

// The raw bytes of an opened file, handed out one at a time. The decoders work
// byte by byte; where the bytes come from (a host file, a simulated medium, a
// buffer in a test) is the caller's business.
//
// A firmware file is read one byte per call, hundreds of thousands of times,
// so the read itself is not virtual: it hands out the bytes of a window that
// the source last supplied, and only when the window is used up does it ask
// the source for the next one.
class ByteSource {
  public:
    virtual ~ByteSource() = default;

    // The next raw byte; false once the data is used up. Every read after the
    // end asks the source again, so a source sees each refused read.
    bool readByte(std::uint8_t& byte) {
        if (next_ == end_ && !takeNextWindow()) return false;
        byte = *next_++;
        return true;
    }

  protected:
    ByteSource() = default;
    ByteSource(const ByteSource&) = default;
    ByteSource& operator=(const ByteSource&) = default;

    // Forgets the bytes not yet read, for a source whose buffer goes away
    // (closed, reopened); the next read asks for a new window.
    void discardWindow() {
        next_ = nullptr;
        end_ = nullptr;
    }

  private:
    // The bytes that follow the current window; empty at the end of the
    // data. The span must stay valid until the next call or until
    // discardWindow.
    virtual std::span<const std::uint8_t> refill() = 0;

    // Out of line: it runs once per window, and the read it serves is
    // inlined at every call.
    bool takeNextWindow();

    const std::uint8_t* next_ = nullptr;
    const std::uint8_t* end_ = nullptr;
};

// Bytes held in memory; the span must outlive the source.
class MemoryByteSource final : public ByteSource {
  public:
    explicit MemoryByteSource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  private:
    // All the bytes are one window; after it there is nothing left.
    std::span<const std::uint8_t> refill() override { return std::exchange(bytes_, {}); }

    std::span<const std::uint8_t> bytes_;
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

  private:
    static constexpr std::size_t kBufferSize = 64 * 1024;

    std::span<const std::uint8_t> refill() override;

    std::FILE* file_ = nullptr;
    std::vector<std::uint8_t> buffer_;
};

// The whole content of a host file; false when it cannot be opened or read.
bool readWholeFile(const std::string& path, std::vector<std::uint8_t>& bytes);

}  // namespace firmware

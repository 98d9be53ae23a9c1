#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "firmware/byte_source.h"
#include "platform/system.h"

namespace update {

// A file of the program directory (the firmware table, a firmware file) read
// through the System seam: opened for reading as raw bytes, read whole or one
// byte at a time through a buffer, closed when done or when it goes away.
class SystemFile final : public firmware::ByteSource {
  public:
    explicit SystemFile(platform::System& system) : system_(system) {}
    ~SystemFile() override { close(); }
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;

    // False when the file cannot be opened; a relative path is taken
    // relative to the current directory.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    // The first `limit` bytes of the file at most, from its start; false when
    // the file cannot be read.
    bool readFromStart(std::size_t limit, std::vector<std::uint8_t>& bytes);

    // A read of the file failed: readByte has reported the end since then,
    // and what it delivered before is not the whole file.
    bool readFailed() const { return readFailed_; }

  private:
    static constexpr std::size_t kBufferSize = 4096;

    std::span<const std::uint8_t> refill() override;

    platform::System& system_;
    win::HANDLE handle_ = nullptr;
    std::vector<std::uint8_t> buffer_;
    bool atEnd_ = false;
    bool readFailed_ = false;
};

}  // namespace update

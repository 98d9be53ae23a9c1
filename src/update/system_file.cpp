#include "update/system_file.h"

#include <algorithm>

namespace update {

namespace {
// CFile-style read access: others may read and write the file meanwhile.
constexpr win::DWORD kShareAll = win::FILE_SHARE_READ | win::FILE_SHARE_WRITE;
constexpr win::DWORD kInvalidFileSize = 0xFFFFFFFF;
}  // namespace

bool SystemFile::open(const std::string& path) {
    close();
    const win::HANDLE opened = system_.CreateFileA(path.c_str(), win::GENERIC_READ, kShareAll,
                                                   win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
    if (opened == win::invalidHandleValue() || opened == nullptr) return false;
    handle_ = opened;
    return true;
}

void SystemFile::close() {
    if (handle_ != nullptr) system_.CloseHandle(handle_);
    handle_ = nullptr;
    buffer_.clear();
    position_ = 0;
    filled_ = 0;
    atEnd_ = false;
    readFailed_ = false;
}

bool SystemFile::readFromStart(std::size_t limit, std::vector<std::uint8_t>& bytes) {
    bytes.clear();
    if (handle_ == nullptr) return false;
    win::DWORD sizeHigh = 0;
    const win::DWORD size = system_.GetFileSize(handle_, &sizeHigh);
    if (size == kInvalidFileSize && system_.GetLastError() != 0) return false;
    const std::size_t wanted =
        sizeHigh != 0 ? limit : std::min(limit, static_cast<std::size_t>(size));
    bytes.resize(wanted);
    std::size_t got = 0;
    while (got < wanted) {
        win::DWORD read = 0;
        if (system_.ReadFile(handle_, bytes.data() + got, static_cast<win::DWORD>(wanted - got),
                             &read) == win::FALSE) {
            bytes.clear();
            return false;
        }
        if (read == 0) break;  // the file became shorter than its size said
        got += read;
    }
    bytes.resize(got);
    return true;
}

bool SystemFile::readByte(std::uint8_t& byte) {
    if (position_ == filled_ && !refill()) return false;
    byte = buffer_[position_++];
    return true;
}

bool SystemFile::refill() {
    if (handle_ == nullptr || atEnd_) return false;
    buffer_.resize(kBufferSize);
    win::DWORD read = 0;
    if (system_.ReadFile(handle_, buffer_.data(), static_cast<win::DWORD>(buffer_.size()), &read) ==
        win::FALSE) {
        readFailed_ = true;
        atEnd_ = true;
        return false;
    }
    position_ = 0;
    filled_ = read;
    if (read == 0) atEnd_ = true;
    return read != 0;
}

}  // namespace update

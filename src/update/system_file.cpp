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
    discardWindow();
    buffer_.clear();
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

std::span<const std::uint8_t> SystemFile::refill() {
    if (handle_ == nullptr || atEnd_) return {};
    buffer_.resize(kBufferSize);
    win::DWORD read = 0;
    if (system_.ReadFile(handle_, buffer_.data(), static_cast<win::DWORD>(buffer_.size()), &read) ==
        win::FALSE) {
        readFailed_ = true;
        atEnd_ = true;
        return {};
    }
    if (read == 0) atEnd_ = true;
    // The count comes from the backend; never hand out more than was asked for.
    const std::size_t got = std::min(static_cast<std::size_t>(read), buffer_.size());
    return std::span<const std::uint8_t>(buffer_).first(got);
}

}  // namespace update

#include <cstring>
#include <string>
#include <string_view>

#include "device/device_link.h"
#include "device/pass_through_request.h"

namespace device {

namespace {

constexpr std::string_view kDevicePathTemplate = "\\\\.\\A:";
constexpr std::size_t kDevicePathLetterIndex = 4;

constexpr int kLockAttempts = 6;
constexpr win::DWORD kLockRetryPauseMs = 1000;

// Where the judgement looks in the fixed-format sense data.
constexpr std::size_t kSenseByte2 = 2;
constexpr std::size_t kSenseAsc = 12;
constexpr std::size_t kSenseAscq = 13;
constexpr unsigned kSenseByte2Shift = 16;
constexpr unsigned kAscShift = 8;

constexpr win::BYTE kScsiStatusGood = 0;
constexpr std::size_t kMaxCdbLength = sizeof(win::SCSI_PASS_THROUGH_DIRECT::Cdb);

std::uint32_t senseCode(const PassThroughRequest& request) {
    return (std::uint32_t{request.senseArea[kSenseByte2]} << kSenseByte2Shift) |
           (std::uint32_t{request.senseArea[kSenseAsc]} << kAscShift) |
           std::uint32_t{request.senseArea[kSenseAscq]};
}

}  // namespace

std::string devicePath(std::string_view driveRoot) {
    std::string path(kDevicePathTemplate);
    // An empty root names no drive: the path keeps no letter and opens nothing.
    if (driveRoot.empty()) {
        path.erase(kDevicePathLetterIndex, 1);
    } else {
        path[kDevicePathLetterIndex] = driveRoot.front();
    }
    return path;
}

win::HANDLE DeviceLink::openVolume(std::string_view driveRoot) {
    const std::string path = devicePath(driveRoot);
    const win::HANDLE handle =
        volumes_.CreateFileA(path.c_str(), win::GENERIC_READ | win::GENERIC_WRITE,
                             win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, win::OPEN_EXISTING, 0);
    if (handle == win::invalidHandleValue()) {
        // The reason is of no use to the owner, who only learns that it failed.
        static_cast<void>(volumes_.GetLastError());
        if (openFailureAction_) openFailureAction_();
    }
    return handle;
}

int DeviceLink::sendRequest(win::HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                            void* dataBuffer, std::uint8_t dataDirection,
                            std::uint32_t transferLength) {
    PassThroughRequest request;
    std::memset(&request, 0, sizeof(request));
    lastSenseCode = kCommandFailed;
    // A CDB longer than the record's field cannot be delivered; copying it
    // would run over the rest of the request.
    if (cdbLength > kMaxCdbLength) return 0;

    request.sptd.Length = static_cast<win::WORD>(sizeof(win::SCSI_PASS_THROUGH_DIRECT));
    request.sptd.TargetId = kTargetId;
    request.sptd.CdbLength = cdbLength;
    request.sptd.SenseInfoLength = kSenseInfoLength;
    request.sptd.DataIn = dataDirection;
    request.sptd.DataTransferLength = transferLength;
    request.sptd.TimeOutValue = kTimeOutSeconds;
    request.sptd.DataBuffer = dataBuffer;
    request.sptd.SenseInfoOffset = kSenseInfoOffset;
    if (cdbLength > 0) std::memcpy(request.sptd.Cdb, cdb, cdbLength);

    win::DWORD bytesReturned = 0;
    const win::BOOL delivered =
        volumes_.DeviceIoControl(handle, win::IOCTL_SCSI_PASS_THROUGH_DIRECT, &request,
                                 sizeof(request), &request, sizeof(request), &bytesReturned);
    if (delivered == win::FALSE) return 0;

    const std::uint32_t code = senseCode(request);
    lastSenseCode = code;
    // The whole of byte 2 counts: FILEMARK, EOM or ILI alone fail a command too.
    if (request.sptd.ScsiStatus != kScsiStatusGood || request.senseArea[kSenseByte2] != 0) {
        lastSenseCode = code | kCommandFailed;
        return 0;
    }
    return 1;
}

int DeviceLink::sendCommandOnce(const std::uint8_t* cdb, std::uint8_t cdbLength,
                                std::string_view driveRoot, void* dataBuffer,
                                std::uint8_t dataDirection, std::uint32_t transferLength) {
    const win::HANDLE handle = openVolume(driveRoot);
    // A one-shot command sent during a held period must not lose the held
    // handle, so it then keeps its own handle to itself.
    if (!holding_) volumeHandle = handle;
    if (handle == win::invalidHandleValue()) return 0;

    const int result =
        sendRequest(handle, cdb, cdbLength, dataBuffer, dataDirection, transferLength);
    volumes_.CloseHandle(handle);
    if (!holding_) volumeHandle = win::invalidHandleValue();
    return result;
}

int DeviceLink::lockWithRetries(win::HANDLE handle) {
    win::BOOL locked = win::FALSE;
    for (int attempt = 1; attempt <= kLockAttempts; ++attempt) {
        if (attempt > 1) clock_.Sleep(kLockRetryPauseMs);
        win::DWORD bytesReturned = 0;
        locked = volumes_.DeviceIoControl(handle, win::FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0,
                                          &bytesReturned);
        if (locked != win::FALSE) break;
    }
    return locked != win::FALSE ? 1 : 0;
}

int DeviceLink::lockVolume(std::string_view driveRoot) {
    // One held handle at most: a second handle on the volume would also keep
    // the new lock from being granted.
    if (holding_) releaseHeldHandle();

    volumeHandle = openVolume(driveRoot);
    if (volumeHandle == win::invalidHandleValue()) return 0;
    holding_ = true;
    return lockWithRetries(volumeHandle);
}

int DeviceLink::sendCommandHeld(const std::uint8_t* cdb, std::uint8_t cdbLength, void* dataBuffer,
                                std::uint8_t dataDirection, std::uint32_t transferLength) {
    lastSenseCode = kCommandFailed;
    if (!holding_) return 0;

    const int result =
        sendRequest(volumeHandle, cdb, cdbLength, dataBuffer, dataDirection, transferLength);
    // A refused command ends the held period: closing also drops the lock.
    if (result == 0) releaseHeldHandle();
    return result;
}

int DeviceLink::unlockVolume() {
    if (!holding_) return 0;
    win::DWORD bytesReturned = 0;
    volumes_.DeviceIoControl(volumeHandle, win::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0,
                             &bytesReturned);
    return releaseHeldHandle() != win::FALSE ? 1 : 0;
}

win::BOOL DeviceLink::releaseHeldHandle() {
    const win::BOOL closed = volumes_.CloseHandle(volumeHandle);
    volumeHandle = win::invalidHandleValue();
    holding_ = false;
    return closed;
}

}  // namespace device

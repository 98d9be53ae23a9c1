#include "sim/sim_volumes.h"

#include <algorithm>
#include <cstring>
#include <span>
#include <string_view>
#include <utility>

#include "sim/windows_names.h"

namespace sim {

namespace {

using win::SCSI_PASS_THROUGH_DIRECT;

// Handle values look like the platform's: small multiples of four.
constexpr std::uintptr_t kFirstHandle = 0x100;
constexpr std::uintptr_t kHandleStep = 4;

constexpr std::size_t kMaxCdbLength = sizeof(SCSI_PASS_THROUGH_DIRECT::Cdb);
constexpr win::DWORD kRecordSize = sizeof(SCSI_PASS_THROUGH_DIRECT);
constexpr win::DWORD kReadWrite = win::GENERIC_READ | win::GENERIC_WRITE;

// A letter as the volumes file it; a letter that names no drive stays as it is.
char driveLetter(char letter) {
    return driveLetterOf(std::string_view(&letter, 1)).value_or(letter);
}

// The letter of a path of the form \\.\X:, or kAnyVolume for any other path.
char letterOfPath(std::string_view path) {
    return volumeLetterOf(path).value_or(kAnyVolume);
}

bool validDirection(std::uint8_t direction) {
    return direction == win::SCSI_IOCTL_DATA_OUT || direction == win::SCSI_IOCTL_DATA_IN ||
           direction == win::SCSI_IOCTL_DATA_UNSPECIFIED;
}

// The checks a driver makes before it lets a record go to the device.
bool requestIsWellFormed(const SCSI_PASS_THROUGH_DIRECT& request, win::DWORD outBufferSize) {
    if (request.Length != kRecordSize) return false;
    if (request.CdbLength == 0 || request.CdbLength > kMaxCdbLength) return false;
    if (!validDirection(request.DataIn)) return false;
    if (request.DataTransferLength > 0 && request.DataIn != win::SCSI_IOCTL_DATA_UNSPECIFIED &&
        request.DataBuffer == nullptr) {
        return false;
    }
    if (request.SenseInfoLength > 0) {
        // The sense area must lie behind the header and inside the output.
        const std::uint64_t senseEnd =
            std::uint64_t{request.SenseInfoOffset} + request.SenseInfoLength;
        if (request.SenseInfoOffset < kRecordSize || senseEnd > outBufferSize) return false;
    }
    return true;
}

std::span<std::uint8_t> dataOf(const SCSI_PASS_THROUGH_DIRECT& request) {
    if (request.DataIn == win::SCSI_IOCTL_DATA_UNSPECIFIED || request.DataBuffer == nullptr) {
        return {};
    }
    return {static_cast<std::uint8_t*>(request.DataBuffer), request.DataTransferLength};
}

}  // namespace

InjectedFault InjectedFault::callFails(win::DWORD error) {
    InjectedFault fault;
    fault.callReturnsFalse = true;
    fault.error = error;
    return fault;
}

InjectedFault InjectedFault::answer(ScsiReply reply) {
    InjectedFault fault;
    fault.reply = std::move(reply);
    return fault;
}

InjectedFault InjectedFault::answerAfterData(std::uint8_t status, std::vector<std::uint8_t> sense) {
    InjectedFault fault;
    fault.deviceMovesData = true;
    fault.reply.status = status;
    fault.reply.sense = std::move(sense);
    return fault;
}

InjectedFault InjectedFault::checkCondition(std::uint8_t byte2, std::uint8_t asc,
                                            std::uint8_t ascq) {
    return answer(sim::checkCondition(byte2, asc, ascq));
}

InjectedFault InjectedFault::checkConditionWithoutSense() {
    ScsiReply reply;
    reply.status = kStatusCheckCondition;
    return answer(reply);
}

InjectedFault InjectedFault::senseFlagsOnly(std::uint8_t flags) {
    ScsiReply reply;
    reply.sense = fixedSense(flags, kAscNone, 0);
    return answer(reply);
}

SimVolumes::SimVolumes(platform::Clock& clock) : clock_(clock), nextHandle_(kFirstHandle) {}

void SimVolumes::addVolume(char letter, ScsiDevice* device) {
    detach(letter);
    Volume volume;
    volume.letter = driveLetter(letter);
    volume.device = device;
    volumes_.push_back(volume);
}

void SimVolumes::attach(char letter, ScsiDevice& device) {
    addVolume(letter, &device);
}

void SimVolumes::attachPlainDisk(char letter) {
    addVolume(letter, nullptr);
}

void SimVolumes::detach(char letter) {
    if (Volume* volume = attachedVolume(letter)) {
        volume->attached = false;
        volume->lockHolder = nullptr;
    }
}

SimVolumes::Volume* SimVolumes::attachedVolume(char letter) {
    const char wanted = driveLetter(letter);
    for (Volume& volume : volumes_) {
        if (volume.attached && volume.letter == wanted) return &volume;
    }
    return nullptr;
}

bool SimVolumes::isLocked(char letter) const {
    const char wanted = driveLetter(letter);
    return std::any_of(volumes_.begin(), volumes_.end(), [wanted](const Volume& volume) {
        return volume.attached && volume.letter == wanted && volume.lockHolder != nullptr;
    });
}

void SimVolumes::failOpens(win::DWORD error, int times) {
    openFailureError_ = error;
    openFailuresLeft_ = times;
}

void SimVolumes::holdLockBusy(char letter, int attempts) {
    if (Volume* volume = attachedVolume(letter)) volume->busyLockAttempts = attempts;
}

void SimVolumes::injectNext(InjectedFault fault) {
    nextFaults_.push_back(std::move(fault));
}

void SimVolumes::injectForCommand(ReaderCommand command, InjectedFault fault, int times,
                                  char letter) {
    CommandInjection entry;
    entry.command = command;
    entry.letter = letter == kAnyVolume ? kAnyVolume : driveLetter(letter);
    entry.fault = std::move(fault);
    entry.remaining = times;
    commandFaults_.push_back(std::move(entry));
}

void SimVolumes::before(char letter, ReaderCommand command, int occurrence,
                        std::function<void()> action) {
    const char drive = driveLetter(letter);
    hooks_.before(
        [drive, command](char on, const DecodedCommand& decoded) {
            return on == drive && decoded.command == command;
        },
        occurrence, std::move(action));
}

bool SimVolumes::takeFault(ReaderCommand command, char letter, InjectedFault& fault) {
    if (!nextFaults_.empty()) {
        fault = std::move(nextFaults_.front());
        nextFaults_.erase(nextFaults_.begin());
        return true;
    }
    for (auto it = commandFaults_.begin(); it != commandFaults_.end(); ++it) {
        if (it->command != command) continue;
        if (it->letter != kAnyVolume && it->letter != letter) continue;
        fault = it->fault;
        if (it->remaining != kForever && --it->remaining == 0) commandFaults_.erase(it);
        return true;
    }
    return false;
}

win::BOOL SimVolumes::fail(win::DWORD error) {
    lastError_ = error;
    return win::FALSE;
}

bool SimVolumes::otherHandlesOpen(std::size_t volume, win::HANDLE except) const {
    return std::any_of(handles_.begin(), handles_.end(), [&](const auto& entry) {
        return entry.first != except && entry.second.volume == volume;
    });
}

win::HANDLE SimVolumes::CreateFileA(const char* path, win::DWORD desiredAccess,
                                    win::DWORD shareMode, win::DWORD creationDisposition,
                                    win::DWORD flagsAndAttributes) {
    OpenRecord record{path != nullptr ? path : "", desiredAccess,      shareMode,
                      creationDisposition,         flagsAndAttributes, false};
    Volume* volume = attachedVolume(letterOfPath(record.path));
    if (openFailuresLeft_ != 0) {
        if (openFailuresLeft_ != kForever) --openFailuresLeft_;
        opens_.push_back(std::move(record));
        fail(openFailureError_);
        return win::invalidHandleValue();
    }
    if (volume == nullptr) {
        opens_.push_back(std::move(record));
        fail(static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
        return win::invalidHandleValue();
    }
    // A volume can only be opened as it is, never created or truncated.
    if (creationDisposition != win::OPEN_EXISTING) {
        opens_.push_back(std::move(record));
        fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
        return win::invalidHandleValue();
    }

    const win::HANDLE handle = reinterpret_cast<win::HANDLE>(nextHandle_);
    nextHandle_ += kHandleStep;
    handles_[handle] =
        OpenHandle{static_cast<std::size_t>(volume - volumes_.data()), desiredAccess};
    record.opened = true;
    opens_.push_back(std::move(record));
    lastError_ = 0;
    return handle;
}

win::BOOL SimVolumes::DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                                      win::DWORD inBufferSize, void* outBuffer,
                                      win::DWORD outBufferSize, win::DWORD* bytesReturned) {
    const auto found = handles_.find(device);
    if (found == handles_.end()) return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    if (bytesReturned == nullptr) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    *bytesReturned = 0;
    Volume& volume = volumes_[found->second.volume];
    if (!volume.attached) return fail(kErrorDeviceNotConnected);

    switch (controlCode) {
        case win::IOCTL_SCSI_PASS_THROUGH_DIRECT:
            return passThrough(PassThroughCall{device, found->second, volume, inBuffer,
                                               inBufferSize, outBuffer, outBufferSize,
                                               bytesReturned});
        case win::FSCTL_LOCK_VOLUME:
            return lock(device, volume);
        case win::FSCTL_UNLOCK_VOLUME:
            return unlock(device, volume);
        default:
            return fail(kErrorInvalidFunction);
    }
}

win::BOOL SimVolumes::passThrough(const PassThroughCall& call) {
    if (call.inBuffer == nullptr || call.outBuffer == nullptr || call.inBufferSize < kRecordSize ||
        call.outBufferSize < kRecordSize) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    // A driver copies the record in before it trusts any of it.
    SCSI_PASS_THROUGH_DIRECT request;
    std::memcpy(&request, call.inBuffer, kRecordSize);
    if (!requestIsWellFormed(request, call.outBufferSize)) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    if ((call.open.desiredAccess & kReadWrite) != kReadWrite) {
        return fail(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    }

    const std::span<std::uint8_t> data = dataOf(request);
    const auto* in = static_cast<const std::uint8_t*>(call.inBuffer);
    PassThroughRecord record;
    record.letter = call.volume.letter;
    record.cdb.assign(request.Cdb, request.Cdb + request.CdbLength);
    record.direction = request.DataIn;
    record.transferLength = request.DataTransferLength;
    if (request.DataIn == win::SCSI_IOCTL_DATA_OUT) record.dataOut.assign(data.begin(), data.end());
    record.request = request;
    record.inputBytes.assign(in, in + call.inBufferSize);
    record.inBufferSize = call.inBufferSize;
    record.outBufferSize = call.outBufferSize;
    passThroughs_.push_back(std::move(record));

    // A locked volume answers only the handle that locked it.
    if (call.volume.lockHolder != nullptr && call.volume.lockHolder != call.handle) {
        return fail(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    }
    if (call.volume.device == nullptr) return fail(kErrorInvalidFunction);

    const std::span<const std::uint8_t> cdb(request.Cdb, request.CdbLength);
    const DecodedCommand decoded = decodeCommand(cdb);
    InjectedFault fault;
    const bool faulty = takeFault(decoded.command, call.volume.letter, fault);
    if (faulty && fault.callReturnsFalse) return fail(fault.error);
    ScsiReply reply;
    if (!faulty || fault.deviceMovesData) {
        hooks_.coming(call.volume.letter, decoded);
        reply = call.volume.device->execute(ScsiCommand{cdb, request.DataIn, data});
    }
    if (faulty) {
        reply.status = fault.reply.status;
        reply.sense = std::move(fault.reply.sense);
        if (!fault.deviceMovesData) reply.transferred = fault.reply.transferred;
    }

    const std::size_t senseLength =
        std::min<std::size_t>(request.SenseInfoLength, reply.sense.size());
    request.ScsiStatus = reply.status;
    request.SenseInfoLength = static_cast<win::BYTE>(senseLength);
    request.DataTransferLength = std::min(reply.transferred, request.DataTransferLength);
    auto* out = static_cast<std::uint8_t*>(call.outBuffer);
    std::memcpy(out, &request, kRecordSize);
    if (senseLength > 0) {
        std::memcpy(out + request.SenseInfoOffset, reply.sense.data(), senseLength);
        *call.bytesReturned = request.SenseInfoOffset + static_cast<win::DWORD>(senseLength);
    } else {
        *call.bytesReturned = kRecordSize;
    }
    return win::TRUE;
}

win::BOOL SimVolumes::lock(win::HANDLE handle, Volume& volume) {
    bool granted = false;
    if (volume.busyLockAttempts != 0) {
        if (volume.busyLockAttempts != kForever) --volume.busyLockAttempts;
    } else if (volume.lockHolder == nullptr || volume.lockHolder == handle) {
        // Another handle on the volume keeps the lock from being granted.
        granted = !otherHandlesOpen(static_cast<std::size_t>(&volume - volumes_.data()), handle);
    }
    recordControl(volume, win::FSCTL_LOCK_VOLUME, granted);
    if (!granted) return fail(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
    volume.lockHolder = handle;
    return win::TRUE;
}

win::BOOL SimVolumes::unlock(win::HANDLE handle, Volume& volume) {
    const bool held = volume.lockHolder == handle;
    recordControl(volume, win::FSCTL_UNLOCK_VOLUME, held);
    if (!held) return fail(kErrorNotLocked);
    volume.lockHolder = nullptr;
    return win::TRUE;
}

void SimVolumes::recordControl(const Volume& volume, win::DWORD controlCode, bool succeeded) {
    controls_.push_back(
        ControlRecord{volume.letter, controlCode, clock_.GetTickCount(), succeeded});
}

win::BOOL SimVolumes::CloseHandle(win::HANDLE handle) {
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        ++badCloses_;
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    }
    Volume& volume = volumes_[found->second.volume];
    if (volume.lockHolder == handle) volume.lockHolder = nullptr;
    handles_.erase(found);
    return win::TRUE;
}

win::DWORD SimVolumes::GetLastError() {
    ++lastErrorReads_;
    return lastError_;
}

}  // namespace sim

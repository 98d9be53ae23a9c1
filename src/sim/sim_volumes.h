#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/volumes.h"
#include "platform/win_api.h"
#include "sim/command_hooks.h"
#include "sim/reader_commands.h"
#include "sim/scsi_device.h"

namespace sim {

// A count of times that never runs out.
inline constexpr int kForever = -1;
// Any volume, where a fault may be limited to one drive letter.
inline constexpr char kAnyVolume = '\0';

// Error codes the simulated volumes give that the programs never name.
inline constexpr win::DWORD kErrorInvalidFunction = 1;
inline constexpr win::DWORD kErrorNotLocked = 158;
inline constexpr win::DWORD kErrorDeviceNotConnected = 1167;

// One CreateFileA call as it arrived.
struct OpenRecord {
    std::string path;
    win::DWORD desiredAccess = 0;
    win::DWORD shareMode = 0;
    win::DWORD creationDisposition = 0;
    win::DWORD flagsAndAttributes = 0;
    bool opened = false;
};

// One pass-through request as the driver received it, before the device saw it.
struct PassThroughRecord {
    char letter = kAnyVolume;
    std::vector<std::uint8_t> cdb;  // CdbLength bytes
    std::uint8_t direction = 0;
    std::uint32_t transferLength = 0;
    std::vector<std::uint8_t> dataOut;        // the data sent, for data-out commands
    win::SCSI_PASS_THROUGH_DIRECT request{};  // the record's header as read
    std::vector<std::uint8_t> inputBytes;     // the whole input buffer as read
    win::DWORD inBufferSize = 0;
    win::DWORD outBufferSize = 0;
};

// One lock or unlock request, with the machine's time when it came.
struct ControlRecord {
    char letter = kAnyVolume;
    win::DWORD controlCode = 0;
    win::DWORD tick = 0;
    bool succeeded = false;
};

// What a fault puts in place of the device's answer: either the call itself
// fails, or the given status and sense come back as if the device had sent
// them, with or without the device having moved its data first.
struct InjectedFault {
    static InjectedFault callFails(
        win::DWORD error = static_cast<win::DWORD>(win::ERROR_IO_DEVICE));
    static InjectedFault answer(ScsiReply reply);
    static InjectedFault answerAfterData(std::uint8_t status, std::vector<std::uint8_t> sense);
    // The usual ones by name.
    static InjectedFault checkCondition(std::uint8_t byte2, std::uint8_t asc, std::uint8_t ascq);
    static InjectedFault checkConditionWithoutSense();
    // Good status, but a sense byte 2 that holds only FILEMARK, EOM or ILI.
    static InjectedFault senseFlagsOnly(std::uint8_t flags);

    bool callReturnsFalse = false;
    bool deviceMovesData = false;
    win::DWORD error = 0;
    ScsiReply reply;
};

// The machine's volumes: device paths \\.\X: of attached devices, a driver
// that reads pass-through records as the platform's would, volume locks, and
// faults injected at this level. Handle values are never reused, so a stale
// handle shows as a bad one.
class SimVolumes final : public platform::Volumes {
  public:
    explicit SimVolumes(platform::Clock& clock);

    // A reader (or any SCSI device) behind drive letter `letter`.
    void attach(char letter, ScsiDevice& device);
    // A volume that is no reader: it opens and locks, but refuses pass-through.
    void attachPlainDisk(char letter);
    // The device goes away; handles still open on it fail from now on.
    void detach(char letter);

    // Faults.
    void failOpens(win::DWORD error, int times = 1);
    void holdLockBusy(char letter, int attempts = kForever);
    void injectNext(InjectedFault fault);
    void injectForCommand(ReaderCommand command, InjectedFault fault, int times = kForever,
                          char letter = kAnyVolume);

    // `action` runs just before the reader behind `letter` sees its
    // `occurrence`-th command (counted from 1) of the kind, as though a hand
    // on its plug or its switch moved at that moment. A command a fault stops
    // in the driver never reaches the reader and is not counted.
    void before(char letter, ReaderCommand command, int occurrence, std::function<void()> action);

    // The platform calls.
    win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                            win::DWORD creationDisposition, win::DWORD flagsAndAttributes) override;
    win::BOOL DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                              win::DWORD inBufferSize, void* outBuffer, win::DWORD outBufferSize,
                              win::DWORD* bytesReturned) override;
    win::BOOL CloseHandle(win::HANDLE handle) override;
    win::DWORD GetLastError() override;

    // What happened.
    std::size_t openHandleCount() const { return handles_.size(); }
    std::size_t badCloseCount() const { return badCloses_; }
    std::size_t lastErrorReads() const { return lastErrorReads_; }
    bool isLocked(char letter) const;
    const std::vector<OpenRecord>& opens() const { return opens_; }
    const std::vector<PassThroughRecord>& passThroughs() const { return passThroughs_; }
    const std::vector<ControlRecord>& controls() const { return controls_; }

  private:
    struct Volume {
        char letter = kAnyVolume;
        ScsiDevice* device = nullptr;  // null: a plain disk
        bool attached = true;
        win::HANDLE lockHolder = nullptr;
        int busyLockAttempts = 0;
    };
    struct OpenHandle {
        std::size_t volume = 0;
        win::DWORD desiredAccess = 0;
    };
    struct CommandInjection {
        ReaderCommand command = ReaderCommand::Unknown;
        char letter = kAnyVolume;
        InjectedFault fault;
        int remaining = kForever;
    };
    struct PassThroughCall {
        win::HANDLE handle;
        const OpenHandle& open;
        Volume& volume;
        void* inBuffer;
        win::DWORD inBufferSize;
        void* outBuffer;
        win::DWORD outBufferSize;
        win::DWORD* bytesReturned;
    };

    win::BOOL fail(win::DWORD error);
    Volume* attachedVolume(char letter);
    void addVolume(char letter, ScsiDevice* device);
    bool otherHandlesOpen(std::size_t volume, win::HANDLE except) const;
    bool takeFault(ReaderCommand command, char letter, InjectedFault& fault);

    win::BOOL passThrough(const PassThroughCall& call);
    win::BOOL lock(win::HANDLE handle, Volume& volume);
    win::BOOL unlock(win::HANDLE handle, Volume& volume);
    void recordControl(const Volume& volume, win::DWORD controlCode, bool succeeded);

    platform::Clock& clock_;
    std::vector<Volume> volumes_;
    std::map<win::HANDLE, OpenHandle> handles_;
    std::uintptr_t nextHandle_;
    win::DWORD lastError_ = 0;

    win::DWORD openFailureError_ = 0;
    int openFailuresLeft_ = 0;
    std::vector<InjectedFault> nextFaults_;
    std::vector<CommandInjection> commandFaults_;
    CommandHooks<DecodedCommand> hooks_;

    std::vector<OpenRecord> opens_;
    std::vector<PassThroughRecord> passThroughs_;
    std::vector<ControlRecord> controls_;
    std::size_t badCloses_ = 0;
    std::size_t lastErrorReads_ = 0;
};

}  // namespace sim

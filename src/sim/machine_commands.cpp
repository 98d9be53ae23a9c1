#include <algorithm>
#include <cstring>
#include <map>
#include <span>

#include "sim/machine_impl.h"
#include "sim/windows_names.h"

// The command faults of a scenario and the device that answers in the
// reader's place when one fires; every volume call is told as an event here.
namespace sim {

namespace {

constexpr std::uint16_t kHeaderBlockNumber = 0;

// Where the answer lies in fixed-format sense data.
constexpr std::uint8_t kSenseKeyMask = 0x0F;
constexpr std::uint8_t kScsiStatusGood = 0;

const char* directionName(std::uint8_t direction) {
    switch (direction) {
        case win::SCSI_IOCTL_DATA_OUT:
            return "out";
        case win::SCSI_IOCTL_DATA_IN:
            return "in";
        default:
            return "none";
    }
}

DeviceCall deviceCallOf(ReaderCommand command) {
    switch (command) {
        case ReaderCommand::TestUnitReady:
            return DeviceCall::TestUnitReady;
        case ReaderCommand::RequestSense:
            return DeviceCall::RequestSense;
        case ReaderCommand::Inquiry:
            return DeviceCall::Inquiry;
        case ReaderCommand::ModeSense10:
            return DeviceCall::ModeSense;
        case ReaderCommand::BlockWrite:
            return DeviceCall::WriteBlock;
        case ReaderCommand::Format:
            return DeviceCall::Format;
        case ReaderCommand::VendorOther:
        case ReaderCommand::Unknown:
            break;
    }
    return DeviceCall::Operation;
}

// The volumes as the programs reach them: the machine's volumes, with the
// scenario's command faults and command-bound incidents in front.
class FaultingVolumes final : public platform::Volumes {
  public:
    FaultingVolumes(Machine::Impl& machine, SimVolumes& volumes)
        : machine_(machine), volumes_(volumes) {}

    win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                            win::DWORD creationDisposition,
                            win::DWORD flagsAndAttributes) override {
        const char letter = letterOf(path);
        const Classified call{DeviceCall::Open, 0, std::nullopt};
        machine_.commandComing(letter, call);
        ownError_ = false;
        win::HANDLE handle = win::invalidHandleValue();
        if (const CommandFault* fault = machine_.faultFor(letter, call)) {
            failWith(fault->error);
        } else {
            handle = volumes_.CreateFileA(path, desiredAccess, shareMode, creationDisposition,
                                          flagsAndAttributes);
        }
        std::vector<EventField> fields{{field::kDrive, volumeText(letter)},
                                       {field::kPath, std::string(path != nullptr ? path : "")}};
        if (handle != win::invalidHandleValue()) {
            letters_[handle] = letter;
            machine_.releasedAfterRefusal.erase(letter);
            fields.push_back({field::kOpened, true});
        } else {
            fields.push_back({field::kOpened, false});
            fields.push_back({field::kError, static_cast<std::int64_t>(GetLastError())});
        }
        machine_.record(EventKind::VolumeOpened, std::move(fields));
        return handle;
    }

    win::BOOL DeviceIoControl(win::HANDLE device, win::DWORD controlCode, void* inBuffer,
                              win::DWORD inBufferSize, void* outBuffer, win::DWORD outBufferSize,
                              win::DWORD* bytesReturned) override {
        const auto known = letters_.find(device);
        const char letter = known != letters_.end() ? known->second : kAnyVolume;
        const std::optional<Classified> call = classifyControl(controlCode, inBuffer, inBufferSize);
        ownError_ = false;
        AnsweringDevice* front = nullptr;
        win::BOOL result = win::FALSE;
        bool faulted = false;
        // The request as the program made it: the driver writes its answer over it.
        win::SCSI_PASS_THROUGH_DIRECT asked{};
        if (call && inBuffer != nullptr && inBufferSize >= sizeof asked)
            std::memcpy(&asked, inBuffer, sizeof asked);
        if (call) {
            machine_.commandComing(letter, *call);
            if (const CommandFault* fault = machine_.faultFor(letter, *call)) {
                if (fault->failCall) {
                    failWith(fault->error);
                    faulted = true;
                } else {
                    front = machine_.frontOf(letter);
                    if (front != nullptr) {
                        ScsiReply reply = checkCondition(fault->senseKey, fault->asc, fault->ascq);
                        if (!fault->withSense) reply.sense.clear();
                        front->answerNextWith(std::move(reply));
                    }
                }
            }
        }
        if (!faulted) {
            result = volumes_.DeviceIoControl(device, controlCode, inBuffer, inBufferSize,
                                              outBuffer, outBufferSize, bytesReturned);
        }
        // An answer that never reached the device (the driver refused the
        // request first) is not kept for the next command.
        if (front != nullptr) front->forgetAnswer();
        if (call) {
            const bool answerOut =
                outBuffer != nullptr && outBufferSize >= sizeof(win::SCSI_PASS_THROUGH_DIRECT);
            tell(device, letter, *call, result, asked, answerOut ? outBuffer : inBuffer,
                 answerOut ? outBufferSize : inBufferSize);
        }
        return result;
    }

    win::BOOL CloseHandle(win::HANDLE handle) override {
        const auto known = letters_.find(handle);
        if (known != letters_.end()) {
            std::vector<EventField> fields{{field::kDrive, driveText(known->second)}};
            const auto refused = refusedOn_.find(handle);
            if (refused != refusedOn_.end()) {
                fields.push_back({field::kAfterRefusal, refused->second});
                machine_.releasedAfterRefusal[known->second] = refused->second;
                refusedOn_.erase(refused);
            }
            machine_.record(EventKind::VolumeClosed, std::move(fields));
            letters_.erase(known);
        }
        ownError_ = false;
        return volumes_.CloseHandle(handle);
    }

    win::DWORD GetLastError() override { return ownError_ ? error_ : volumes_.GetLastError(); }

  private:
    // A volume path or handle that names no drive letter shows as "?".
    static std::string volumeText(char letter) {
        return letter == kAnyVolume ? std::string("?") : driveText(letter);
    }

    static char letterOf(const char* path) {
        if (path == nullptr) return kAnyVolume;
        return volumeLetterOf(path).value_or(kAnyVolume);
    }

    static std::optional<Classified> classifyControl(win::DWORD controlCode, const void* inBuffer,
                                                     win::DWORD inBufferSize) {
        if (controlCode == win::FSCTL_LOCK_VOLUME) return Classified{DeviceCall::Lock, 0, {}};
        if (controlCode == win::FSCTL_UNLOCK_VOLUME) return Classified{DeviceCall::Unlock, 0, {}};
        if (controlCode != win::IOCTL_SCSI_PASS_THROUGH_DIRECT || inBuffer == nullptr ||
            inBufferSize < sizeof(win::SCSI_PASS_THROUGH_DIRECT)) {
            return std::nullopt;
        }
        win::SCSI_PASS_THROUGH_DIRECT request;
        std::memcpy(&request, inBuffer, sizeof request);
        const std::size_t length = std::min<std::size_t>(request.CdbLength, sizeof request.Cdb);
        return classifyCdb(std::span<const std::uint8_t>(request.Cdb, length));
    }

    win::BOOL failWith(win::DWORD error) {
        ownError_ = true;
        error_ = error;
        return win::FALSE;
    }

    // The call as the transcript tells it, once its answer is known.
    void tell(win::HANDLE device, char letter, const Classified& call, win::BOOL result,
              const win::SCSI_PASS_THROUGH_DIRECT& asked, const void* answer,
              win::DWORD answerSize) {
        const bool delivered = result != win::FALSE;
        if (call.call == DeviceCall::Lock || call.call == DeviceCall::Unlock) {
            std::vector<EventField> fields{{field::kDrive, volumeText(letter)},
                                           {field::kSucceeded, delivered}};
            if (!delivered)
                fields.push_back({field::kError, static_cast<std::int64_t>(GetLastError())});
            machine_.record(
                call.call == DeviceCall::Lock ? EventKind::VolumeLocked : EventKind::VolumeUnlocked,
                std::move(fields));
            return;
        }
        const std::size_t cdbLength = std::min<std::size_t>(asked.CdbLength, sizeof asked.Cdb);
        std::vector<EventField> fields{
            {field::kDrive, volumeText(letter)},
            {field::kCommand, std::string(deviceCallName(call.call))},
            {field::kCdb, hexBytes(std::vector<win::BYTE>(asked.Cdb, asked.Cdb + cdbLength))},
            {field::kDirection, std::string(directionName(asked.DataIn))},
            {field::kLength, static_cast<std::int64_t>(asked.DataTransferLength)}};
        if (call.block) fields.push_back({field::kBlock, std::int64_t{*call.block}});
        bool accepted = false;
        if (!delivered) {
            fields.push_back({field::kDelivered, false});
            fields.push_back({field::kError, static_cast<std::int64_t>(GetLastError())});
        } else {
            win::SCSI_PASS_THROUGH_DIRECT sptd;
            std::memcpy(&sptd, answer, sizeof sptd);
            fields.push_back({field::kDelivered, true});
            fields.push_back({field::kStatus, std::int64_t{sptd.ScsiStatus}});
            accepted = sptd.ScsiStatus == kScsiStatusGood;
            const std::size_t senseEnd = std::size_t{sptd.SenseInfoOffset} + kAscqByte + 1;
            if (!accepted && sptd.SenseInfoLength > kAscqByte && senseEnd <= answerSize) {
                const auto* sense = static_cast<const std::uint8_t*>(answer) + sptd.SenseInfoOffset;
                fields.push_back({field::kSense, senseText(sense[kSenseKeyByte] & kSenseKeyMask,
                                                           sense[kAscByte], sense[kAscqByte])});
            }
        }
        machine_.record(EventKind::PassThrough, std::move(fields));
        if (call.call != DeviceCall::WriteBlock || !call.block) return;
        if (!accepted) {
            refusedOn_[device] = "block " + std::to_string(*call.block) + " was refused";
        } else if (*call.block == kHeaderBlockNumber) {
            machine_.headerTaken(letter);
        }
    }

    Machine::Impl& machine_;
    SimVolumes& volumes_;
    std::map<win::HANDLE, char> letters_;
    std::map<win::HANDLE, std::string> refusedOn_;  // the refused block a handle saw last
    bool ownError_ = false;
    win::DWORD error_ = 0;
};

}  // namespace

std::string hexBytes(const std::vector<win::BYTE>& data) {
    std::string text;
    for (const win::BYTE b : data) {
        std::array<char, 4> digits{};
        std::snprintf(digits.data(), digits.size(), "%02x", static_cast<unsigned>(b));
        if (!text.empty()) text += ' ';
        text += digits.data();
    }
    return text;
}

std::string senseText(std::uint8_t key, std::uint8_t asc, std::uint8_t ascq) {
    std::array<char, 16> text{};
    std::snprintf(text.data(), text.size(), "%02X/%02X/%02X", unsigned{key}, unsigned{asc},
                  unsigned{ascq});
    return text.data();
}

Classified classifyCdb(std::span<const std::uint8_t> cdb) {
    const DecodedCommand decoded = decodeCommand(cdb);
    return Classified{deviceCallOf(decoded.command), decoded.operationCode, decoded.block};
}

bool callMatches(DeviceCall wanted, std::uint8_t wantedCode, const Classified& call) {
    if (wanted == DeviceCall::Operation) {
        return call.call != DeviceCall::Open && call.call != DeviceCall::Lock &&
               call.call != DeviceCall::Unlock && call.operationCode == wantedCode;
    }
    return wanted == call.call;
}

ScsiReply AnsweringDevice::execute(const ScsiCommand& command) {
    if (!answer_) return device_.execute(command);
    ScsiReply reply = std::move(*answer_);
    answer_.reset();
    return reply;
}

std::unique_ptr<platform::Volumes> makeFaultingVolumes(Machine::Impl& machine,
                                                       SimVolumes& volumes) {
    return std::make_unique<FaultingVolumes>(machine, volumes);
}

const CommandFault* Machine::Impl::faultFor(char letter, const Classified& call) {
    for (std::size_t i = 0; i < scenario.faults.size(); ++i) {
        const CommandFault& fault = scenario.faults[i];
        if (!callMatches(fault.call, fault.operationCode, call)) continue;
        if ((fault.drive && *fault.drive != letter) || !programMatches(fault.program)) continue;
        if (fault.block && (!call.block || *call.block != *fault.block)) continue;
        const int seen = ++faultSeen[i];
        const bool due = seen >= fault.occurrence &&
                         (fault.times == kForever || seen < fault.occurrence + fault.times);
        if (!due) continue;
        std::vector<EventField> fields{{field::kCommand, std::string(deviceCallName(call.call))},
                                       {field::kDrive, driveText(letter)},
                                       {field::kOccurrence, std::int64_t{seen}}};
        if (call.block) fields.push_back({field::kBlock, std::int64_t{*call.block}});
        if (call.call == DeviceCall::Operation)
            fields.push_back({field::kOperation, std::int64_t{call.operationCode}});
        if (fault.failCall) {
            fields.push_back({field::kFails, static_cast<std::int64_t>(fault.error)});
        } else if (!fault.withSense) {
            fields.push_back({field::kSense, std::string("none")});
        } else {
            fields.push_back({field::kSense, senseText(fault.senseKey, fault.asc, fault.ascq)});
        }
        record(EventKind::FaultFired, std::move(fields));
        return &fault;
    }
    return nullptr;
}

}  // namespace sim

#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "device/pass_through_request.h"
#include "platform/clock.h"
#include "platform/registry.h"
#include "platform/volumes.h"

namespace device {

// lastSenseCode: 0xFF in bits 31..24 when the command failed, then sense
// byte 2, ASC and ASCQ.
inline constexpr std::uint32_t kCommandFailed = 0xFF000000;
inline constexpr std::uint32_t kSenseBitsMask = 0x00FFFFFF;
inline constexpr std::uint32_t kMediumNotPresent = 0x023A00;

inline constexpr std::size_t kInquiryLength = 36;
inline constexpr std::size_t kRequestSenseLength = 18;
inline constexpr std::size_t kModeHeaderLength = 8;
inline constexpr std::size_t kFirmwareBlockSize = 512;
inline constexpr std::uint8_t kAllPagesCurrent = 0x3F;

// The write-protect rule differs between the programs: the update program
// takes any bit of the device-specific parameter as protection, the format
// program only the WP bit and only when MODE SENSE succeeded.
enum class WriteProtectRule { AnyBitProtects, WpBitOnly };

// The three text fields of an INQUIRY reply, trailing white space removed.
struct InquiryStrings {
    std::string vendor;
    std::string product;
    std::string revision;
};
InquiryStrings parseInquiryReply(const std::array<std::uint8_t, kInquiryLength>& reply);

// "\\.\E:" from "E:\": only the first character of the drive root is used.
std::string devicePath(std::string_view driveRoot);

// The device-access state of one program run, owned by its main dialog; every
// device operation is an operation of it.
class DeviceLink {
  public:
    DeviceLink(platform::Volumes& volumes, platform::Registry& registry, platform::Clock& clock,
               WriteProtectRule writeProtectRule);
    DeviceLink(const DeviceLink&) = delete;
    DeviceLink& operator=(const DeviceLink&) = delete;
    ~DeviceLink();

    // What the owner does when a volume cannot be opened (the update program
    // shows a notice; the format program does nothing).
    void setOpenFailureAction(std::function<void()> action) {
        openFailureAction_ = std::move(action);
    }

    // Transport.
    int sendCommandOnce(const std::uint8_t* cdb, std::uint8_t cdbLength, std::string_view driveRoot,
                        void* dataBuffer, std::uint8_t dataDirection, std::uint32_t transferLength);
    int lockVolume(std::string_view driveRoot);
    int sendCommandHeld(const std::uint8_t* cdb, std::uint8_t cdbLength, void* dataBuffer,
                        std::uint8_t dataDirection, std::uint32_t transferLength);
    int unlockVolume();
    bool holdsVolume() const;

    // Command set.
    int testUnitReady(std::string_view driveRoot);
    int inquiry(std::string_view driveRoot, std::array<std::uint8_t, kInquiryLength>& buffer);
    int requestSense(std::string_view driveRoot,
                     std::array<std::uint8_t, kRequestSenseLength>& buffer);
    int modeSense10(std::uint8_t pageCode, std::string_view driveRoot, std::uint8_t* buffer,
                    std::uint16_t length);
    void checkWriteProtect(std::string_view driveRoot);
    int writeFirmwareBlock(std::array<std::uint8_t, kFirmwareBlockSize>& buffer,
                           std::uint16_t blockNumber);
    int formatMedia(std::string_view driveRoot);

    // Stores an INQUIRY reply's strings as this link's identity.
    void storeInquiry(const std::array<std::uint8_t, kInquiryLength>& reply);

    // The registry walk from a drive letter to the USB parent's hardware id.
    void identifyUsbParent(std::string_view driveRoot);

    win::HANDLE volumeHandle;
    std::uint32_t lastSenseCode = 0;
    std::string inquiryVendor;
    std::string inquiryProduct;
    std::string inquiryRevision;
    std::string usbVendorId;
    std::string usbProductId;
    std::string usbRevision;
    int mediaWritable = 1;

  private:
    // Opens the volume of driveRoot as every command needs it; on failure runs
    // the owner's open-failure action and gives the invalid handle.
    win::HANDLE openVolume(std::string_view driveRoot);
    // Fills, sends and judges one request over an open handle, leaving the
    // outcome in lastSenseCode; the handle stays open either way.
    int sendRequest(win::HANDLE handle, const std::uint8_t* cdb, std::uint8_t cdbLength,
                    void* dataBuffer, std::uint8_t dataDirection, std::uint32_t transferLength);
    int lockWithRetries(win::HANDLE handle);
    win::BOOL releaseHeldHandle();

    platform::Volumes& volumes_;
    platform::Registry& registry_;
    platform::Clock& clock_;
    WriteProtectRule writeProtectRule_;
    std::function<void()> openFailureAction_;
    bool holding_ = false;
};

}  // namespace device

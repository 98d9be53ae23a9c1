#pragma once

#include <cstddef>

#include "platform/win_api.h"

namespace device {

inline constexpr std::size_t kSenseAreaSize = 32;
inline constexpr win::BYTE kSenseInfoLength = 18;
inline constexpr win::BYTE kTargetId = 1;
inline constexpr win::DWORD kTimeOutSeconds = 5;

// One pass-through call's record, input and output at once: the platform's
// SCSI_PASS_THROUGH_DIRECT, a 4-byte filler and the sense area the driver
// fills. On 32-bit Windows this is the 80-byte record with the sense area at
// offset 48; on 64-bit Windows the platform's own layout, with SenseInfoOffset
// pointing wherever the sense area lies.
struct PassThroughRequest {
    win::SCSI_PASS_THROUGH_DIRECT sptd;
    win::DWORD filler;
    win::BYTE senseArea[kSenseAreaSize];
};

inline constexpr win::DWORD kSenseInfoOffset =
    static_cast<win::DWORD>(offsetof(PassThroughRequest, senseArea));

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(PassThroughRequest) == 80, "the 32-bit record is 80 bytes");
static_assert(sizeof(win::SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(kSenseInfoOffset == 48);
#endif

}  // namespace device

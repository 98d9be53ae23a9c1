// The record the transport hands to DeviceIoControl, held against the
// platform's own SCSI_PASS_THROUGH_DIRECT: the driver reads the platform's
// record, finds the sense area through SenseInfoOffset and writes at most
// SenseInfoLength bytes there. Checked when the Windows build compiles.
#include <cstddef>

#include "device/pass_through_request.h"
#include "win32/windows_api.h"

// After <windows.h>, which it builds on.
#include <ntddscsi.h>

namespace {

using device::PassThroughRequest;

static_assert(sizeof(win::SCSI_PASS_THROUGH_DIRECT) == sizeof(::SCSI_PASS_THROUGH_DIRECT));
static_assert(offsetof(PassThroughRequest, sptd) == 0);
static_assert(offsetof(PassThroughRequest, filler) == sizeof(::SCSI_PASS_THROUGH_DIRECT));
static_assert(device::kSenseInfoOffset == offsetof(PassThroughRequest, senseArea));
static_assert(device::kSenseInfoOffset == sizeof(::SCSI_PASS_THROUGH_DIRECT) + sizeof(::ULONG));
static_assert(device::kSenseInfoLength <= device::kSenseAreaSize);
static_assert(device::kSenseInfoOffset + device::kSenseAreaSize <= sizeof(PassThroughRequest));

#if defined(_WIN64)
// The platform's native 64-bit layout: the data pointer is aligned to 8.
static_assert(sizeof(::SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(PassThroughRequest, sptd.DataBuffer) == 24);
static_assert(device::kSenseInfoOffset == 60);
#else
// The 80-byte record of 32-bit Windows, offset for offset.
static_assert(sizeof(PassThroughRequest) == 80);
static_assert(offsetof(PassThroughRequest, sptd.Length) == 0);
static_assert(offsetof(PassThroughRequest, sptd.ScsiStatus) == 2);
static_assert(offsetof(PassThroughRequest, sptd.PathId) == 3);
static_assert(offsetof(PassThroughRequest, sptd.TargetId) == 4);
static_assert(offsetof(PassThroughRequest, sptd.Lun) == 5);
static_assert(offsetof(PassThroughRequest, sptd.CdbLength) == 6);
static_assert(offsetof(PassThroughRequest, sptd.SenseInfoLength) == 7);
static_assert(offsetof(PassThroughRequest, sptd.DataIn) == 8);
static_assert(offsetof(PassThroughRequest, sptd.DataTransferLength) == 12);
static_assert(offsetof(PassThroughRequest, sptd.TimeOutValue) == 16);
static_assert(offsetof(PassThroughRequest, sptd.DataBuffer) == 20);
static_assert(offsetof(PassThroughRequest, sptd.SenseInfoOffset) == 24);
static_assert(offsetof(PassThroughRequest, sptd.Cdb) == 28);
static_assert(offsetof(PassThroughRequest, filler) == 44);
static_assert(device::kSenseInfoOffset == 48);
#endif

}  // namespace

#pragma once

#include <cstddef>
#include <cstdint>

// The platform's types and constants, spelled as the platform spells them and
// with the platform's values, inside a namespace of ours so that portable code
// never needs <windows.h>. A Windows-only test pins that the values agree.
namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using REGSAM = DWORD;
using ULONG_PTR = std::uintptr_t;

inline constexpr BOOL FALSE = 0;
inline constexpr BOOL TRUE = 1;

// Handles are opaque to portable code; each backend gives them its meaning.
struct HandleTag;
using HANDLE = HandleTag*;
struct HKeyTag;
using HKEY = HKeyTag*;

inline HANDLE invalidHandleValue() {
    return reinterpret_cast<HANDLE>(~ULONG_PTR{0});  // (HANDLE)-1
}
// The platform widens its predefined keys from a 32-bit LONG with the sign,
// so on 64-bit Windows this is 0xFFFFFFFF80000002, not 0x80000002.
inline constexpr LONG kHkeyLocalMachineValue = static_cast<LONG>(0x80000002u);
inline HKEY hkeyLocalMachine() {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(std::intptr_t{kHkeyLocalMachineValue}));
}

// Error codes (GetLastError, registry results).
inline constexpr LONG ERROR_SUCCESS = 0;
inline constexpr LONG ERROR_FILE_NOT_FOUND = 2;
inline constexpr LONG ERROR_PATH_NOT_FOUND = 3;
inline constexpr LONG ERROR_ACCESS_DENIED = 5;
inline constexpr LONG ERROR_INVALID_HANDLE = 6;
inline constexpr LONG ERROR_NOT_READY = 21;
inline constexpr LONG ERROR_SHARING_VIOLATION = 32;
inline constexpr LONG ERROR_INVALID_PARAMETER = 87;
inline constexpr LONG ERROR_ALREADY_EXISTS = 183;
inline constexpr LONG ERROR_MORE_DATA = 234;
inline constexpr LONG ERROR_NO_MORE_ITEMS = 259;
inline constexpr LONG ERROR_KEY_DELETED = 1018;
inline constexpr LONG ERROR_IO_DEVICE = 1117;

// Registry access rights.
inline constexpr REGSAM KEY_QUERY_VALUE = 0x0001;
inline constexpr REGSAM KEY_SET_VALUE = 0x0002;
inline constexpr REGSAM KEY_CREATE_SUB_KEY = 0x0004;
inline constexpr REGSAM KEY_ENUMERATE_SUB_KEYS = 0x0008;
inline constexpr REGSAM KEY_NOTIFY = 0x0010;
inline constexpr REGSAM KEY_CREATE_LINK = 0x0020;
inline constexpr REGSAM KEY_READ = 0x20019;
inline constexpr REGSAM KEY_WRITE = 0x20006;
inline constexpr REGSAM KEY_ALL_ACCESS = 0xF003F;

// Registry value types, options and dispositions.
inline constexpr DWORD REG_NONE = 0;
inline constexpr DWORD REG_SZ = 1;
inline constexpr DWORD REG_EXPAND_SZ = 2;
inline constexpr DWORD REG_BINARY = 3;
inline constexpr DWORD REG_DWORD = 4;
inline constexpr DWORD REG_MULTI_SZ = 7;
inline constexpr DWORD REG_OPTION_NON_VOLATILE = 0;
inline constexpr DWORD REG_CREATED_NEW_KEY = 1;
inline constexpr DWORD REG_OPENED_EXISTING_KEY = 2;

// Opening volumes.
inline constexpr DWORD GENERIC_READ = 0x80000000;
inline constexpr DWORD GENERIC_WRITE = 0x40000000;
inline constexpr DWORD FILE_SHARE_READ = 0x00000001;
inline constexpr DWORD FILE_SHARE_WRITE = 0x00000002;
inline constexpr DWORD OPEN_EXISTING = 3;

// Device control codes.
inline constexpr DWORD IOCTL_SCSI_PASS_THROUGH_DIRECT = 0x0004D014;
inline constexpr DWORD FSCTL_LOCK_VOLUME = 0x00090018;
inline constexpr DWORD FSCTL_UNLOCK_VOLUME = 0x0009001C;

// Data directions of a pass-through request.
inline constexpr BYTE SCSI_IOCTL_DATA_OUT = 0;
inline constexpr BYTE SCSI_IOCTL_DATA_IN = 1;
inline constexpr BYTE SCSI_IOCTL_DATA_UNSPECIFIED = 2;

// The platform's pass-through record, in the platform's natural layout: 44
// bytes on 32-bit Windows, 56 on 64-bit. A driver reads exactly this.
struct SCSI_PASS_THROUGH_DIRECT {
    WORD Length;
    BYTE ScsiStatus;
    BYTE PathId;
    BYTE TargetId;
    BYTE Lun;
    BYTE CdbLength;
    BYTE SenseInfoLength;
    BYTE DataIn;
    DWORD DataTransferLength;
    DWORD TimeOutValue;
    void* DataBuffer;
    DWORD SenseInfoOffset;
    BYTE Cdb[16];
};

}  // namespace win

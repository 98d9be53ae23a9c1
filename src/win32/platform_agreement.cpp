// Portable code names the platform's constants and records in namespace win
// without <windows.h>; the backend hands them to the platform as they are.
// Here the two are held side by side: every constant of win_api.h and
// win_ui_api.h must equal the platform's, every type must have the
// platform's size and signedness, and every record the platform's layout,
// or the Windows build does not compile.

// The platform defines most of these names as macros, so ours are read and
// captured under other names before its headers come in.
// clang-format off
#include "win32/platform_agreement.h"
#include "platform/win_api.h"
#include "platform/win_ui_api.h"
// clang-format on

#include <cstddef>
#include <string_view>
#include <type_traits>

// clang-format off
#define VELCREST_PLATFORM_CONSTANTS(CHECK) \
    CHECK(FALSE) CHECK(TRUE) \
    CHECK(ERROR_SUCCESS) CHECK(ERROR_FILE_NOT_FOUND) CHECK(ERROR_PATH_NOT_FOUND) \
    CHECK(ERROR_ACCESS_DENIED) CHECK(ERROR_INVALID_HANDLE) CHECK(ERROR_NOT_READY) \
    CHECK(ERROR_SHARING_VIOLATION) CHECK(ERROR_INVALID_PARAMETER) CHECK(ERROR_ALREADY_EXISTS) \
    CHECK(ERROR_MORE_DATA) CHECK(ERROR_NO_MORE_ITEMS) CHECK(ERROR_KEY_DELETED) \
    CHECK(ERROR_IO_DEVICE) \
    CHECK(KEY_QUERY_VALUE) CHECK(KEY_SET_VALUE) CHECK(KEY_CREATE_SUB_KEY) \
    CHECK(KEY_ENUMERATE_SUB_KEYS) CHECK(KEY_NOTIFY) CHECK(KEY_CREATE_LINK) CHECK(KEY_READ) \
    CHECK(KEY_WRITE) CHECK(KEY_ALL_ACCESS) \
    CHECK(REG_NONE) CHECK(REG_SZ) CHECK(REG_EXPAND_SZ) CHECK(REG_BINARY) CHECK(REG_DWORD) \
    CHECK(REG_MULTI_SZ) CHECK(REG_OPTION_NON_VOLATILE) CHECK(REG_CREATED_NEW_KEY) \
    CHECK(REG_OPENED_EXISTING_KEY) \
    CHECK(GENERIC_READ) CHECK(GENERIC_WRITE) CHECK(FILE_SHARE_READ) CHECK(FILE_SHARE_WRITE) \
    CHECK(OPEN_EXISTING) \
    CHECK(IOCTL_SCSI_PASS_THROUGH_DIRECT) CHECK(FSCTL_LOCK_VOLUME) CHECK(FSCTL_UNLOCK_VOLUME) \
    CHECK(SCSI_IOCTL_DATA_OUT) CHECK(SCSI_IOCTL_DATA_IN) CHECK(SCSI_IOCTL_DATA_UNSPECIFIED) \
    CHECK(IDOK) CHECK(IDCANCEL) \
    CHECK(WM_PAINT) CHECK(WM_CLOSE) CHECK(WM_QUIT) CHECK(WM_ICONERASEBKGND) \
    CHECK(WM_QUERYDRAGICON) CHECK(WM_SETICON) CHECK(WM_KEYDOWN) CHECK(WM_INITDIALOG) \
    CHECK(WM_COMMAND) CHECK(WM_SYSCOMMAND) CHECK(WM_POWERBROADCAST) \
    CHECK(VK_RETURN) CHECK(VK_ESCAPE) CHECK(SC_CLOSE) CHECK(ICON_SMALL) CHECK(ICON_BIG) \
    CHECK(PBT_APMQUERYSUSPEND) CHECK(BROADCAST_QUERY_DENY) CHECK(DWLP_MSGRESULT) \
    CHECK(PBM_SETRANGE) CHECK(PBM_SETPOS) CHECK(PBM_SETSTEP) CHECK(PBM_STEPIT) \
    CHECK(PBM_SETRANGE32) \
    CHECK(CB_GETLBTEXT) CHECK(CB_GETLBTEXTLEN) CHECK(CB_ADDSTRING) CHECK(CB_GETCURSEL) \
    CHECK(CB_GETCOUNT) CHECK(CB_SETCURSEL) CHECK(CB_ERR) \
    CHECK(SW_HIDE) CHECK(SW_SHOW) CHECK(RDW_INVALIDATE) CHECK(RDW_ERASE) CHECK(RDW_UPDATENOW) \
    CHECK(MF_STRING) CHECK(MF_SEPARATOR) CHECK(SM_CXICON) CHECK(SM_CYICON) CHECK(GA_ROOT) \
    CHECK(PM_NOREMOVE) CHECK(PM_REMOVE) \
    CHECK(DRIVE_UNKNOWN) CHECK(DRIVE_NO_ROOT_DIR) CHECK(DRIVE_REMOVABLE) CHECK(DRIVE_FIXED) \
    CHECK(DRIVE_REMOTE) CHECK(DRIVE_CDROM) CHECK(DRIVE_RAMDISK) \
    CHECK(FILE_ATTRIBUTE_NORMAL) \
    CHECK(MAX_PATH) \
    CHECK(VER_PLATFORM_WIN32_WINDOWS) CHECK(VER_PLATFORM_WIN32_NT) \
    CHECK(LOCALE_SYSTEM_DEFAULT) CHECK(LOCALE_SABBREVLANGNAME) \
    CHECK(TOKEN_ADJUST_PRIVILEGES) CHECK(TOKEN_QUERY) CHECK(TokenGroups) \
    CHECK(ERROR_INSUFFICIENT_BUFFER) \
    CHECK(SE_GROUP_ENABLED) CHECK(SE_GROUP_USE_FOR_DENY_ONLY) CHECK(SE_PRIVILEGE_ENABLED) \
    CHECK(SECURITY_BUILTIN_DOMAIN_RID) CHECK(DOMAIN_ALIAS_RID_ADMINS) \
    CHECK(DOMAIN_ALIAS_RID_USERS) CHECK(GMEM_ZEROINIT) CHECK(EWX_FORCE) CHECK(EWX_POWEROFF)
// clang-format on

namespace {

// Ours, captured while their names are still ours. A value is kept with its
// signedness, wide enough for any of them.
#define VELCREST_CAPTURE(name) constexpr long long our_##name = static_cast<long long>(win::name);
VELCREST_PLATFORM_CONSTANTS(VELCREST_CAPTURE)
#undef VELCREST_CAPTURE

constexpr std::string_view ourShutdownPrivilegeName = win::SE_SHUTDOWN_NAME;
constexpr win::SID_IDENTIFIER_AUTHORITY ourNtAuthority = win::SECURITY_NT_AUTHORITY;
const win::HKEY ourLocalMachine = win::hkeyLocalMachine();
const win::HANDLE ourInvalidHandle = win::invalidHandleValue();

}  // namespace

#include "win32/windows_api.h"

// Included after <windows.h>, which they build on.
#include <commctrl.h>
#include <ntddscsi.h>
#include <winioctl.h>

#define VELCREST_AGREE(name)                                        \
    static_assert(our_##name == static_cast<long long>(name), #name \
                  " differs from the "                              \
                  "platform's");
VELCREST_PLATFORM_CONSTANTS(VELCREST_AGREE)
#undef VELCREST_AGREE

static_assert(ourShutdownPrivilegeName == SE_SHUTDOWN_NAME);

namespace {

constexpr bool sameAuthority(const win::SID_IDENTIFIER_AUTHORITY& ours,
                             const ::SID_IDENTIFIER_AUTHORITY& theirs) {
    for (std::size_t i = 0; i < sizeof ours.Value; ++i) {
        if (ours.Value[i] != theirs.Value[i]) return false;
    }
    return true;
}
constexpr ::SID_IDENTIFIER_AUTHORITY theirNtAuthority = SECURITY_NT_AUTHORITY;
static_assert(sameAuthority(ourNtAuthority, theirNtAuthority));

// Same width and signedness: a value means the same on both sides.
template <typename Ours, typename Theirs>
constexpr bool sameScalar() {
    return sizeof(Ours) == sizeof(Theirs) && std::is_signed_v<Ours> == std::is_signed_v<Theirs>;
}
static_assert(sameScalar<win::BYTE, ::BYTE>());
static_assert(sameScalar<win::WORD, ::WORD>());
static_assert(sameScalar<win::DWORD, ::DWORD>());
static_assert(sameScalar<win::LONG, ::LONG>());
static_assert(sameScalar<win::BOOL, ::BOOL>());
static_assert(sameScalar<win::REGSAM, ::REGSAM>());
static_assert(sameScalar<win::ULONG_PTR, ::ULONG_PTR>());
static_assert(sameScalar<win::UINT, ::UINT>());
static_assert(sameScalar<win::INT_PTR, ::INT_PTR>());
static_assert(sameScalar<win::UINT_PTR, ::UINT_PTR>());
static_assert(sameScalar<win::WPARAM, ::WPARAM>());
static_assert(sameScalar<win::LPARAM, ::LPARAM>());
static_assert(sameScalar<win::LRESULT, ::LRESULT>());
static_assert(sameScalar<win::LCID, ::LCID>());
static_assert(sameScalar<win::LCTYPE, ::LCTYPE>());

// Handles travel as pointers of our own tag types.
static_assert(sizeof(win::HANDLE) == sizeof(::HANDLE));
static_assert(sizeof(win::HKEY) == sizeof(::HKEY));
static_assert(sizeof(win::HWND) == sizeof(::HWND));
static_assert(sizeof(win::HMENU) == sizeof(::HMENU));
static_assert(sizeof(win::HICON) == sizeof(::HICON));
static_assert(sizeof(win::HDC) == sizeof(::HDC));
static_assert(sizeof(win::HMODULE) == sizeof(::HMODULE));
static_assert(sizeof(win::PSID) == sizeof(::PSID));

}  // namespace

// A record agrees when it has the platform's size and alignment and each of
// its fields the platform's offset and size.
#define VELCREST_SAME_RECORD(record)                                                          \
    static_assert(                                                                            \
        sizeof(win::record) == sizeof(::record) && alignof(win::record) == alignof(::record), \
        #record " differs in size from the platform's");
#define VELCREST_SAME_FIELD(record, field)                                     \
    static_assert(offsetof(win::record, field) == offsetof(::record, field) && \
                      sizeof(win::record::field) == sizeof(::record::field),   \
                  #record "::" #field " differs from the platform's");

VELCREST_SAME_RECORD(SCSI_PASS_THROUGH_DIRECT)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, Length)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, ScsiStatus)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, PathId)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, TargetId)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, Lun)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, CdbLength)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, SenseInfoLength)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, DataIn)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, DataTransferLength)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, TimeOutValue)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, DataBuffer)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, SenseInfoOffset)
VELCREST_SAME_FIELD(SCSI_PASS_THROUGH_DIRECT, Cdb)

VELCREST_SAME_RECORD(OSVERSIONINFOA)
VELCREST_SAME_FIELD(OSVERSIONINFOA, dwOSVersionInfoSize)
VELCREST_SAME_FIELD(OSVERSIONINFOA, dwMajorVersion)
VELCREST_SAME_FIELD(OSVERSIONINFOA, dwMinorVersion)
VELCREST_SAME_FIELD(OSVERSIONINFOA, dwBuildNumber)
VELCREST_SAME_FIELD(OSVERSIONINFOA, dwPlatformId)
VELCREST_SAME_FIELD(OSVERSIONINFOA, szCSDVersion)

VELCREST_SAME_RECORD(FILETIME)
VELCREST_SAME_FIELD(FILETIME, dwLowDateTime)
VELCREST_SAME_FIELD(FILETIME, dwHighDateTime)

VELCREST_SAME_RECORD(WIN32_FIND_DATAA)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, dwFileAttributes)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, ftCreationTime)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, ftLastAccessTime)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, ftLastWriteTime)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, nFileSizeHigh)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, nFileSizeLow)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, dwReserved0)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, dwReserved1)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, cFileName)
VELCREST_SAME_FIELD(WIN32_FIND_DATAA, cAlternateFileName)

VELCREST_SAME_RECORD(SID_IDENTIFIER_AUTHORITY)
VELCREST_SAME_FIELD(SID_IDENTIFIER_AUTHORITY, Value)

VELCREST_SAME_RECORD(SID_AND_ATTRIBUTES)
VELCREST_SAME_FIELD(SID_AND_ATTRIBUTES, Sid)
VELCREST_SAME_FIELD(SID_AND_ATTRIBUTES, Attributes)

VELCREST_SAME_RECORD(TOKEN_GROUPS)
VELCREST_SAME_FIELD(TOKEN_GROUPS, GroupCount)
VELCREST_SAME_FIELD(TOKEN_GROUPS, Groups)

VELCREST_SAME_RECORD(LUID)
VELCREST_SAME_FIELD(LUID, LowPart)
VELCREST_SAME_FIELD(LUID, HighPart)

VELCREST_SAME_RECORD(LUID_AND_ATTRIBUTES)
VELCREST_SAME_FIELD(LUID_AND_ATTRIBUTES, Luid)
VELCREST_SAME_FIELD(LUID_AND_ATTRIBUTES, Attributes)

VELCREST_SAME_RECORD(TOKEN_PRIVILEGES)
VELCREST_SAME_FIELD(TOKEN_PRIVILEGES, PrivilegeCount)
VELCREST_SAME_FIELD(TOKEN_PRIVILEGES, Privileges)

VELCREST_SAME_RECORD(POINT)
VELCREST_SAME_FIELD(POINT, x)
VELCREST_SAME_FIELD(POINT, y)

VELCREST_SAME_RECORD(RECT)
VELCREST_SAME_FIELD(RECT, left)
VELCREST_SAME_FIELD(RECT, top)
VELCREST_SAME_FIELD(RECT, right)
VELCREST_SAME_FIELD(RECT, bottom)

VELCREST_SAME_RECORD(MSG)
VELCREST_SAME_FIELD(MSG, hwnd)
VELCREST_SAME_FIELD(MSG, message)
VELCREST_SAME_FIELD(MSG, wParam)
VELCREST_SAME_FIELD(MSG, lParam)
VELCREST_SAME_FIELD(MSG, time)
VELCREST_SAME_FIELD(MSG, pt)

VELCREST_SAME_RECORD(PAINTSTRUCT)
VELCREST_SAME_FIELD(PAINTSTRUCT, hdc)
VELCREST_SAME_FIELD(PAINTSTRUCT, fErase)
VELCREST_SAME_FIELD(PAINTSTRUCT, rcPaint)
VELCREST_SAME_FIELD(PAINTSTRUCT, fRestore)
VELCREST_SAME_FIELD(PAINTSTRUCT, fIncUpdate)
VELCREST_SAME_FIELD(PAINTSTRUCT, rgbReserved)

#undef VELCREST_SAME_FIELD
#undef VELCREST_SAME_RECORD

namespace win32 {

// The two handle values portable code makes itself must be the platform's
// own: a key it opens below ours is opened below the platform's.
bool predefinedValuesAgree() {
    return toNative(ourLocalMachine) == HKEY_LOCAL_MACHINE &&
           toNative(ourInvalidHandle) == INVALID_HANDLE_VALUE;
}

}  // namespace win32

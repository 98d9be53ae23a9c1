// The window and message values that portable code spells in namespace win
// must be the platform's: WinUi passes them through untouched, so a wrong
// one would reach Windows as a different message. Checked at compile time,
// here where both spellings can be seen.
//
// The platform's names are macros, so once <windows.h> is in, win::WM_PAINT
// reads as win::0x000F. Our values are taken first, under names of their
// own, and compared after the platform's header has come in.

// clang-format off
#include <cstddef>

#include "platform/win_ui_api.h"

#define VELCREST_UI_CONSTANTS(X) \
    X(IDOK) \
    X(IDCANCEL) \
    X(WM_PAINT) \
    X(WM_CLOSE) \
    X(WM_QUIT) \
    X(WM_ICONERASEBKGND) \
    X(WM_QUERYDRAGICON) \
    X(WM_SETICON) \
    X(WM_KEYDOWN) \
    X(WM_INITDIALOG) \
    X(WM_COMMAND) \
    X(WM_SYSCOMMAND) \
    X(WM_POWERBROADCAST) \
    X(VK_RETURN) \
    X(VK_ESCAPE) \
    X(SC_CLOSE) \
    X(ICON_SMALL) \
    X(ICON_BIG) \
    X(PBT_APMQUERYSUSPEND) \
    X(BROADCAST_QUERY_DENY) \
    X(DWLP_MSGRESULT) \
    X(PBM_SETRANGE) \
    X(PBM_SETPOS) \
    X(PBM_SETSTEP) \
    X(PBM_STEPIT) \
    X(PBM_SETRANGE32) \
    X(CB_GETLBTEXT) \
    X(CB_GETLBTEXTLEN) \
    X(CB_ADDSTRING) \
    X(CB_GETCURSEL) \
    X(CB_GETCOUNT) \
    X(CB_SETCURSEL) \
    X(CB_ERR) \
    X(SW_HIDE) \
    X(SW_SHOW) \
    X(RDW_INVALIDATE) \
    X(RDW_ERASE) \
    X(RDW_UPDATENOW) \
    X(MF_STRING) \
    X(MF_SEPARATOR) \
    X(SM_CXICON) \
    X(SM_CYICON) \
    X(GA_ROOT) \
    X(PM_NOREMOVE) \
    X(PM_REMOVE)

namespace win32::portable_values {
#define VELCREST_TAKE(name) constexpr long long name##_ = static_cast<long long>(win::name);
VELCREST_UI_CONSTANTS(VELCREST_TAKE)
#undef VELCREST_TAKE

// The records WinUi converts field by field, taken with the same care.
constexpr std::size_t msgSize = sizeof(win::MSG);
constexpr std::size_t msgPointOffset = offsetof(win::MSG, pt);
constexpr std::size_t rectSize = sizeof(win::RECT);
constexpr std::size_t pointSize = sizeof(win::POINT);
constexpr std::size_t paintSize = sizeof(win::PAINTSTRUCT);
constexpr std::size_t paintReservedOffset = offsetof(win::PAINTSTRUCT, rgbReserved);
constexpr std::size_t wParamSize = sizeof(win::WPARAM);
constexpr std::size_t lParamSize = sizeof(win::LPARAM);
constexpr std::size_t resultSize = sizeof(win::LRESULT);
constexpr std::size_t intPtrSize = sizeof(win::INT_PTR);
}  // namespace win32::portable_values

#include <windows.h>
#include <commctrl.h>
// clang-format on

namespace win32::portable_values {

#define VELCREST_PIN(name) \
    static_assert(name##_ == static_cast<long long>(name), #name " differs from the platform's");
VELCREST_UI_CONSTANTS(VELCREST_PIN)
#undef VELCREST_PIN
#undef VELCREST_UI_CONSTANTS

static_assert(msgSize == sizeof(::MSG));
static_assert(msgPointOffset == offsetof(::MSG, pt));
static_assert(rectSize == sizeof(::RECT));
static_assert(pointSize == sizeof(::POINT));
static_assert(paintSize == sizeof(::PAINTSTRUCT));
static_assert(paintReservedOffset == offsetof(::PAINTSTRUCT, rgbReserved));
static_assert(wParamSize == sizeof(::WPARAM));
static_assert(lParamSize == sizeof(::LPARAM));
static_assert(resultSize == sizeof(::LRESULT));
static_assert(intPtrSize == sizeof(::INT_PTR));

}  // namespace win32::portable_values

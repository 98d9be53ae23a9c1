#pragma once

// The one way into the platform's own headers. Many names our win::
// constants carry (ERROR_SUCCESS, KEY_READ, IDOK, WM_PAINT, ...) are macros
// there, so our headers must have been read before <windows.h> is: this
// header reads them first, and every file of the backend includes it last.
// After it, the platform's macros stand for those names; the backend passes
// values through and does not need ours.

// clang-format off
#include "platform/win_api.h"
#include "platform/win_ui_api.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// clang-format on

#include <utility>

namespace win32 {

// Handles and keys are the platform's own values behind our opaque tags; the
// conversions only change the type.
inline ::HANDLE toNative(win::HANDLE handle) {
    return reinterpret_cast<::HANDLE>(handle);
}
inline win::HANDLE toPortable(::HANDLE handle) {
    return reinterpret_cast<win::HANDLE>(handle);
}
inline ::HKEY toNative(win::HKEY key) {
    return reinterpret_cast<::HKEY>(key);
}
inline win::HKEY toPortable(::HKEY key) {
    return reinterpret_cast<win::HKEY>(key);
}
inline ::HMODULE toNative(win::HMODULE module) {
    return reinterpret_cast<::HMODULE>(module);
}
inline win::HMODULE toPortable(::HMODULE module) {
    return reinterpret_cast<win::HMODULE>(module);
}
inline ::HWND toNative(win::HWND window) {
    return reinterpret_cast<::HWND>(window);
}
inline win::HWND toPortable(::HWND window) {
    return reinterpret_cast<win::HWND>(window);
}
inline ::HMENU toNative(win::HMENU menu) {
    return reinterpret_cast<::HMENU>(menu);
}
inline win::HMENU toPortable(::HMENU menu) {
    return reinterpret_cast<win::HMENU>(menu);
}
inline ::HICON toNative(win::HICON icon) {
    return reinterpret_cast<::HICON>(icon);
}
inline win::HICON toPortable(::HICON icon) {
    return reinterpret_cast<win::HICON>(icon);
}
inline ::HDC toNative(win::HDC dc) {
    return reinterpret_cast<::HDC>(dc);
}
inline win::HDC toPortable(::HDC dc) {
    return reinterpret_cast<win::HDC>(dc);
}

// Our DWORD is a 32-bit unsigned int, the platform's a 32-bit unsigned long:
// the same bits under another type.
inline ::DWORD toNative(win::DWORD value) {
    return value;
}
inline win::DWORD toPortable(::DWORD value) {
    return static_cast<win::DWORD>(value);
}

inline ::LUID toNative(win::LUID luid) {
    return {luid.LowPart, luid.HighPart};
}
inline win::LUID toPortable(::LUID luid) {
    return {toPortable(luid.LowPart), static_cast<win::LONG>(luid.HighPart)};
}

// A record the platform fills or reads in place (a version record, a file
// search result, a privilege list that may run past its declared one entry):
// ours has the platform's layout, field for field, which platform_agreement.cpp
// pins, so the platform is handed the caller's own memory.
template <typename Native, typename Portable>
Native* asNative(Portable* record) {
    static_assert(sizeof(Native) == sizeof(Portable) && alignof(Native) == alignof(Portable));
    return reinterpret_cast<Native*>(record);
}

// An argument the platform reads and writes through a pointer (a length, a
// returned handle or key): the call gets a platform-typed copy of the
// caller's value, and what the call leaves there goes back to the caller when
// the copy goes away. A null pointer stays null.
template <typename Portable>
class Carried {
  public:
    using Native = decltype(toNative(std::declval<Portable>()));

    explicit Carried(Portable* value)
        : value_(value), copy_(value != nullptr ? toNative(*value) : Native{}) {}
    ~Carried() {
        if (value_ != nullptr) *value_ = toPortable(copy_);
    }
    Carried(const Carried&) = delete;
    Carried& operator=(const Carried&) = delete;

    Native* get() { return value_ != nullptr ? &copy_ : nullptr; }

  private:
    Portable* value_;
    Native copy_;
};

}  // namespace win32

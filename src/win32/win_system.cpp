#include "win32/win_system.h"

#include <cstring>
#include <string>
#include <vector>

#include "win32/windows_api.h"

namespace win32 {

namespace {

// SetDllDirectoryA came with Windows XP Service Pack 1, so it is looked up
// rather than imported: the programs must still start without it.
using SetDllDirectoryFunction = ::BOOL(WINAPI*)(const char*);
constexpr const char* kKernelLibrary = "kernel32.dll";
constexpr const char* kSetDllDirectoryName = "SetDllDirectoryA";
// On Windows an empty folder, unlike none, takes the current directory out
// of the search; a folder given in its place does so too, also under wine,
// which ignores the empty one.
constexpr const char* kNoExtraFolder = "";
constexpr char kPathSeparator = '\\';
// Long enough for any path GetModuleFileNameA can give.
constexpr ::DWORD kFirstModulePathSize = MAX_PATH;
constexpr ::DWORD kLongestModulePath = 32768;

SetDllDirectoryFunction findSetDllDirectory() {
    const ::HMODULE kernel = ::GetModuleHandleA(kKernelLibrary);
    if (kernel == nullptr) return nullptr;
    // The detour through a function type without arguments is the one cast
    // between function types that the compiler accepts without a word.
    return reinterpret_cast<SetDllDirectoryFunction>(
        reinterpret_cast<void (*)()>(::GetProcAddress(kernel, kSetDllDirectoryName)));
}

// The folder of the program file, without the trailing separator; empty
// when it cannot be had. Windows XP fills a buffer that is too small to the
// last byte without a terminator, so the buffer grows until the name fits
// with room to spare.
std::string programFolder() {
    for (::DWORD size = kFirstModulePathSize; size <= kLongestModulePath; size *= 2) {
        std::vector<char> path(size, '\0');
        const ::DWORD length = ::GetModuleFileNameA(nullptr, path.data(), size);
        if (length == 0) return {};
        if (length < size) {
            const std::string file(path.data(), length);
            const std::size_t separator = file.rfind(kPathSeparator);
            return separator == std::string::npos ? std::string() : file.substr(0, separator);
        }
    }
    return {};
}

}  // namespace

bool removeCurrentDirectoryFromLibrarySearch() {
    const SetDllDirectoryFunction setDllDirectory = findSetDllDirectory();
    if (setDllDirectory == nullptr) return false;
    // The program's folder is searched first anyway; naming it again only
    // puts it where the current directory was.
    const std::string folder = programFolder();
    return setDllDirectory(folder.empty() ? kNoExtraFolder : folder.c_str()) != FALSE;
}

win::BOOL WinSystem::GetVersionExA(win::OSVERSIONINFOA* version) {
    return ::GetVersionExA(asNative<::OSVERSIONINFOA>(version));
}

win::BOOL WinSystem::OpenProcessToken(win::DWORD desiredAccess, win::HANDLE* token) {
    Carried<win::HANDLE> opened(token);
    return ::OpenProcessToken(::GetCurrentProcess(), desiredAccess, opened.get());
}

win::BOOL WinSystem::GetTokenInformation(win::HANDLE token, int informationClass, void* information,
                                         win::DWORD informationLength, win::DWORD* returnLength) {
    Carried<win::DWORD> length(returnLength);
    return ::GetTokenInformation(toNative(token),
                                 static_cast<::TOKEN_INFORMATION_CLASS>(informationClass),
                                 information, informationLength, length.get());
}

win::BOOL WinSystem::AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                              win::BYTE subAuthorityCount, win::DWORD subAuthority0,
                                              win::DWORD subAuthority1, win::PSID* sid) {
    // The platform takes the authority as a non-const record of its own type.
    ::SID_IDENTIFIER_AUTHORITY nativeAuthority{};
    if (authority != nullptr) {
        std::memcpy(nativeAuthority.Value, authority->Value, sizeof nativeAuthority.Value);
    }
    return ::AllocateAndInitializeSid(authority != nullptr ? &nativeAuthority : nullptr,
                                      subAuthorityCount, subAuthority0, subAuthority1, 0, 0, 0, 0,
                                      0, 0, sid);
}

win::BOOL WinSystem::EqualSid(win::PSID first, win::PSID second) {
    return ::EqualSid(first, second);
}

void WinSystem::FreeSid(win::PSID sid) {
    ::FreeSid(sid);
}

win::BOOL WinSystem::LookupPrivilegeValueA(const char* name, win::LUID* luid) {
    Carried<win::LUID> found(luid);
    return ::LookupPrivilegeValueA(nullptr, name, found.get());
}

win::BOOL WinSystem::AdjustTokenPrivileges(win::HANDLE token, win::BOOL disableAll,
                                           win::TOKEN_PRIVILEGES* newState,
                                           win::DWORD bufferLength) {
    return ::AdjustTokenPrivileges(toNative(token), disableAll,
                                   asNative<::TOKEN_PRIVILEGES>(newState), bufferLength, nullptr,
                                   nullptr);
}

win::BOOL WinSystem::ExitWindowsEx(win::UINT flags, win::DWORD reason) {
    return ::ExitWindowsEx(flags, reason);
}

int WinSystem::GetLocaleInfoA(win::LCID locale, win::LCTYPE type, char* data, int dataLength) {
    return ::GetLocaleInfoA(locale, type, data, dataLength);
}

win::HANDLE WinSystem::CreateMutexA(const char* name) {
    return toPortable(::CreateMutexA(nullptr, FALSE, name));
}

win::BOOL WinSystem::CloseHandle(win::HANDLE handle) {
    return ::CloseHandle(toNative(handle));
}

win::DWORD WinSystem::GetLastError() {
    return toPortable(::GetLastError());
}

win::DWORD WinSystem::GetLogicalDrives() {
    return toPortable(::GetLogicalDrives());
}

win::UINT WinSystem::GetDriveTypeA(const char* rootPath) {
    return ::GetDriveTypeA(rootPath);
}

win::HANDLE WinSystem::FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) {
    return toPortable(::FindFirstFileA(pattern, asNative<::WIN32_FIND_DATAA>(found)));
}

win::BOOL WinSystem::FindClose(win::HANDLE search) {
    return ::FindClose(toNative(search));
}

win::DWORD WinSystem::GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) {
    return toPortable(::GetCurrentDirectoryA(bufferLength, buffer));
}

win::HANDLE WinSystem::CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                                   win::DWORD creationDisposition, win::DWORD flagsAndAttributes) {
    return toPortable(::CreateFileA(path, desiredAccess, shareMode, nullptr, creationDisposition,
                                    flagsAndAttributes, nullptr));
}

win::BOOL WinSystem::ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                              win::DWORD* bytesRead) {
    // A synchronous read must be given somewhere to put the count.
    win::DWORD ignoredCount = 0;
    Carried<win::DWORD> count(bytesRead != nullptr ? bytesRead : &ignoredCount);
    return ::ReadFile(toNative(file), buffer, bytesToRead, count.get(), nullptr);
}

win::DWORD WinSystem::GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) {
    Carried<win::DWORD> high(fileSizeHigh);
    return toPortable(::GetFileSize(toNative(file), high.get()));
}

win::HMODULE WinSystem::LoadLibraryA(const char* fileName) {
    removeCurrentDirectoryFromLibrarySearch();
    return toPortable(::LoadLibraryA(fileName));
}

win::BOOL WinSystem::FreeLibrary(win::HMODULE module) {
    return ::FreeLibrary(toNative(module));
}

}  // namespace win32

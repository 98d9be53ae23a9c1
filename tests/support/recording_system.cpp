#include "support/recording_system.h"

#include <algorithm>
#include <cstdint>

namespace testsupport {

namespace {

std::string number(std::uint64_t value) {
    return std::to_string(value);
}

std::string text(const char* value) {
    return value == nullptr ? std::string("null") : std::string(value);
}

std::string_view nameOf(std::string_view call) {
    return call.substr(0, call.find('('));
}

}  // namespace

void RecordingSystem::record(std::string_view name, std::initializer_list<std::string> arguments) {
    std::string call(name);
    call += '(';
    bool first = true;
    for (const std::string& argument : arguments) {
        if (!first) call += ',';
        call += argument;
        first = false;
    }
    calls_.push_back(call + ')');
}

std::vector<std::string> RecordingSystem::callsNamed(
    std::initializer_list<std::string_view> names) const {
    std::vector<std::string> found;
    for (const std::string& call : calls_) {
        if (std::find(names.begin(), names.end(), nameOf(call)) != names.end()) {
            found.push_back(call);
        }
    }
    return found;
}

std::vector<std::string> RecordingSystem::argumentsOf(std::string_view name) const {
    std::vector<std::string> found;
    for (const std::string& call : calls_) {
        if (nameOf(call) != name) continue;
        const std::size_t open = call.find('(');
        found.push_back(call.substr(open + 1, call.size() - open - 2));
    }
    return found;
}

int RecordingSystem::count(std::string_view name) const {
    return static_cast<int>(
        std::count_if(calls_.begin(), calls_.end(),
                      [&](const std::string& call) { return nameOf(call) == name; }));
}

win::BOOL RecordingSystem::GetVersionExA(win::OSVERSIONINFOA* info) {
    record("GetVersionExA", {number(info == nullptr ? 0 : info->dwOSVersionInfoSize)});
    return target_.GetVersionExA(info);
}

win::BOOL RecordingSystem::OpenProcessToken(win::DWORD desiredAccess, win::HANDLE* token) {
    record("OpenProcessToken", {number(desiredAccess)});
    return target_.OpenProcessToken(desiredAccess, token);
}

win::BOOL RecordingSystem::GetTokenInformation(win::HANDLE token, int informationClass,
                                               void* information, win::DWORD informationLength,
                                               win::DWORD* returnLength) {
    record("GetTokenInformation",
           {number(static_cast<std::uint64_t>(informationClass)), number(informationLength)});
    return target_.GetTokenInformation(token, informationClass, information, informationLength,
                                       returnLength);
}

win::BOOL RecordingSystem::AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                                    win::BYTE subAuthorityCount,
                                                    win::DWORD subAuthority0,
                                                    win::DWORD subAuthority1, win::PSID* sid) {
    record("AllocateAndInitializeSid",
           {number(subAuthorityCount), number(subAuthority0), number(subAuthority1)});
    return target_.AllocateAndInitializeSid(authority, subAuthorityCount, subAuthority0,
                                            subAuthority1, sid);
}

win::BOOL RecordingSystem::EqualSid(win::PSID first, win::PSID second) {
    record("EqualSid");
    return target_.EqualSid(first, second);
}

void RecordingSystem::FreeSid(win::PSID sid) {
    record("FreeSid");
    target_.FreeSid(sid);
}

win::BOOL RecordingSystem::LookupPrivilegeValueA(const char* name, win::LUID* luid) {
    record("LookupPrivilegeValueA", {text(name)});
    return target_.LookupPrivilegeValueA(name, luid);
}

// The privilege count, the first entry's attributes and the length given.
win::BOOL RecordingSystem::AdjustTokenPrivileges(win::HANDLE token, win::BOOL disableAll,
                                                 win::TOKEN_PRIVILEGES* newState,
                                                 win::DWORD bufferLength) {
    if (newState == nullptr || newState->PrivilegeCount == 0) {
        record("AdjustTokenPrivileges",
               {number(static_cast<std::uint64_t>(disableAll)), "none", number(bufferLength)});
    } else {
        record("AdjustTokenPrivileges",
               {number(static_cast<std::uint64_t>(disableAll)), number(newState->PrivilegeCount),
                number(newState->Privileges[0].Attributes), number(bufferLength)});
    }
    return target_.AdjustTokenPrivileges(token, disableAll, newState, bufferLength);
}

win::BOOL RecordingSystem::ExitWindowsEx(win::UINT flags, win::DWORD reason) {
    record("ExitWindowsEx", {number(flags), number(reason)});
    return target_.ExitWindowsEx(flags, reason);
}

int RecordingSystem::GetLocaleInfoA(win::LCID locale, win::LCTYPE type, char* data,
                                    int dataLength) {
    record("GetLocaleInfoA", {number(locale), number(type)});
    return target_.GetLocaleInfoA(locale, type, data, dataLength);
}

win::HANDLE RecordingSystem::CreateMutexA(const char* name) {
    record("CreateMutexA", {text(name)});
    return target_.CreateMutexA(name);
}

win::BOOL RecordingSystem::CloseHandle(win::HANDLE handle) {
    record("CloseHandle");
    return target_.CloseHandle(handle);
}

win::DWORD RecordingSystem::GetLastError() {
    record("GetLastError");
    return target_.GetLastError();
}

win::DWORD RecordingSystem::GetLogicalDrives() {
    record("GetLogicalDrives");
    return target_.GetLogicalDrives();
}

win::UINT RecordingSystem::GetDriveTypeA(const char* rootPath) {
    record("GetDriveTypeA", {text(rootPath)});
    return target_.GetDriveTypeA(rootPath);
}

win::HANDLE RecordingSystem::FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) {
    record("FindFirstFileA", {text(pattern)});
    return target_.FindFirstFileA(pattern, found);
}

win::BOOL RecordingSystem::FindClose(win::HANDLE search) {
    record("FindClose");
    return target_.FindClose(search);
}

win::DWORD RecordingSystem::GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) {
    record("GetCurrentDirectoryA", {number(bufferLength)});
    return target_.GetCurrentDirectoryA(bufferLength, buffer);
}

win::HANDLE RecordingSystem::CreateFileA(const char* path, win::DWORD desiredAccess,
                                         win::DWORD shareMode, win::DWORD creationDisposition,
                                         win::DWORD flagsAndAttributes) {
    record("CreateFileA", {text(path)});
    return target_.CreateFileA(path, desiredAccess, shareMode, creationDisposition,
                               flagsAndAttributes);
}

win::BOOL RecordingSystem::ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                                    win::DWORD* bytesRead) {
    record("ReadFile", {number(bytesToRead)});
    return target_.ReadFile(file, buffer, bytesToRead, bytesRead);
}

win::DWORD RecordingSystem::GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) {
    record("GetFileSize");
    return target_.GetFileSize(file, fileSizeHigh);
}

win::HMODULE RecordingSystem::LoadLibraryA(const char* fileName) {
    record("LoadLibraryA", {text(fileName)});
    return target_.LoadLibraryA(fileName);
}

win::BOOL RecordingSystem::FreeLibrary(win::HMODULE module) {
    record("FreeLibrary", {number(reinterpret_cast<std::uintptr_t>(module))});
    return target_.FreeLibrary(module);
}

}  // namespace testsupport

#include "fake_system.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace testsupport {

namespace {
constexpr win::DWORD kWindowsXpMajor = 5;
constexpr win::DWORD kWindowsXpMinor = 1;
constexpr char kFirstDrive = 'A';
constexpr char kLastDrive = 'Z';
constexpr std::string_view kCurrentDirectoryPrefix = ".\\";
constexpr std::size_t kGroupCountOverstatement = 1000;
}  // namespace

FakeSystem::FakeSystem() {
    version.dwMajorVersion = kWindowsXpMajor;
    version.dwMinorVersion = kWindowsXpMinor;
    version.dwPlatformId = win::VER_PLATFORM_WIN32_NT;
    groups = {{win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED},
              {win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED}};
}

FakeSystem::~FakeSystem() {
    for (Sid* sid : liveSids_) delete sid;
}

win::HANDLE FakeSystem::newHandle(HandleKind kind, std::string name) {
    const auto handle = reinterpret_cast<win::HANDLE>(nextHandle_);
    nextHandle_ += 4;
    handles_[handle] = OpenHandle{kind, std::move(name)};
    return handle;
}

int FakeSystem::countHandles(HandleKind kind) const {
    return static_cast<int>(std::count_if(handles_.begin(), handles_.end(), [&](const auto& entry) {
        return entry.second.kind == kind;
    }));
}

std::string FakeSystem::fileKey(const char* path) {
    std::string key(path);
    if (key.starts_with(kCurrentDirectoryPrefix)) key.erase(0, kCurrentDirectoryPrefix.size());
    return key;
}

win::BOOL FakeSystem::GetVersionExA(win::OSVERSIONINFOA* info) {
    if (info->dwOSVersionInfoSize != sizeof(win::OSVERSIONINFOA)) return win::FALSE;
    const win::DWORD size = info->dwOSVersionInfoSize;
    *info = version;
    info->dwOSVersionInfoSize = size;
    return win::TRUE;
}

win::BOOL FakeSystem::OpenProcessToken(win::DWORD desiredAccess, win::HANDLE* token) {
    powerCalls.push_back("OpenProcessToken(" + std::to_string(desiredAccess) + ")");
    if (tokenFault == TokenFault::OpenToken) return win::FALSE;
    *token = newHandle(HandleKind::Token, "token");
    return win::TRUE;
}

win::BOOL FakeSystem::GetTokenInformation(win::HANDLE token, int informationClass,
                                          void* information, win::DWORD informationLength,
                                          win::DWORD* returnLength) {
    const auto found = handles_.find(token);
    if (found == handles_.end() || found->second.kind != HandleKind::Token ||
        informationClass != win::TokenGroups) {
        lastError_ = static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE);
        return win::FALSE;
    }
    constexpr std::size_t entriesOffset = offsetof(win::TOKEN_GROUPS, Groups);
    const std::size_t needed = entriesOffset + groups.size() * sizeof(win::SID_AND_ATTRIBUTES);
    *returnLength = static_cast<win::DWORD>(needed);
    if (information == nullptr) {
        lastError_ = tokenFault == TokenFault::SizeQuery
                         ? static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED)
                         : sizeQueryError;
        return win::FALSE;
    }
    if (tokenFault == TokenFault::ReadGroups || informationLength < needed) {
        lastError_ = static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER);
        return win::FALSE;
    }
    auto* block = static_cast<std::byte*>(information);
    const auto count = static_cast<win::DWORD>(
        overstateGroupCount ? groups.size() + kGroupCountOverstatement : groups.size());
    std::memcpy(block, &count, sizeof count);
    for (std::size_t index = 0; index < groups.size(); ++index) {
        auto sid = std::make_unique<Sid>();
        sid->authority = win::SECURITY_NT_AUTHORITY;
        sid->count = 2;
        sid->sub0 = groups[index].domainRid;
        sid->sub1 = groups[index].rid;
        const win::SID_AND_ATTRIBUTES entry{sid.get(), groups[index].attributes};
        tokenSids_.push_back(std::move(sid));
        std::memcpy(block + entriesOffset + index * sizeof entry, &entry, sizeof entry);
    }
    return win::TRUE;
}

win::BOOL FakeSystem::AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                               win::BYTE subAuthorityCount,
                                               win::DWORD subAuthority0, win::DWORD subAuthority1,
                                               win::PSID* sid) {
    if (tokenFault == TokenFault::AllocateSid) return win::FALSE;
    auto* made = new Sid{*authority, subAuthorityCount, subAuthority0, subAuthority1};
    liveSids_.insert(made);
    *sid = made;
    return win::TRUE;
}

win::BOOL FakeSystem::EqualSid(win::PSID first, win::PSID second) {
    const auto* a = static_cast<const Sid*>(first);
    const auto* b = static_cast<const Sid*>(second);
    const bool equal = std::memcmp(a->authority.Value, b->authority.Value, 6) == 0 &&
                       a->count == b->count && a->sub0 == b->sub0 && a->sub1 == b->sub1;
    return equal ? win::TRUE : win::FALSE;
}

void FakeSystem::FreeSid(win::PSID sid) {
    auto* made = static_cast<Sid*>(sid);
    if (liveSids_.erase(made) != 0) delete made;
}

win::BOOL FakeSystem::LookupPrivilegeValueA(const char* name, win::LUID* luid) {
    powerCalls.push_back(std::string("LookupPrivilegeValueA(") + name + ")");
    if (failPrivilegeLookup || std::string(name) != win::SE_SHUTDOWN_NAME) return win::FALSE;
    *luid = win::LUID{kShutdownLuid, 0};
    return win::TRUE;
}

win::BOOL FakeSystem::AdjustTokenPrivileges(win::HANDLE token, win::BOOL /*disableAll*/,
                                            win::TOKEN_PRIVILEGES* newState,
                                            win::DWORD bufferLength) {
    powerCalls.push_back("AdjustTokenPrivileges");
    if (handles_.count(token) == 0) return win::FALSE;
    adjustedPrivilegeCount = newState->PrivilegeCount;
    adjustedAttributes = newState->Privileges[0].Attributes;
    adjustBufferLength = bufferLength;
    return newState->Privileges[0].Luid.LowPart == kShutdownLuid ? win::TRUE : win::FALSE;
}

win::BOOL FakeSystem::ExitWindowsEx(win::UINT flags, win::DWORD reason) {
    powerCalls.push_back("ExitWindowsEx(" + std::to_string(flags) + "," + std::to_string(reason) +
                         ")");
    exitWindowsFlags = flags;
    return win::TRUE;
}

int FakeSystem::GetLocaleInfoA(win::LCID locale, win::LCTYPE type, char* data, int dataLength) {
    if (!localeName || locale != win::LOCALE_SYSTEM_DEFAULT ||
        type != win::LOCALE_SABBREVLANGNAME) {
        return 0;
    }
    if (static_cast<std::size_t>(dataLength) <= localeName->size()) return 0;
    std::memcpy(data, localeName->c_str(), localeName->size() + 1);
    return static_cast<int>(localeName->size() + 1);
}

win::HANDLE FakeSystem::CreateMutexA(const char* name) {
    createdMutexes.emplace_back(name);
    lastError_ =
        existingMutexes.count(name) != 0 ? static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS) : 0;
    return newHandle(HandleKind::Mutex, name);
}

win::BOOL FakeSystem::CloseHandle(win::HANDLE handle) {
    ++closeHandleCalls_;
    return handles_.erase(handle) != 0 ? win::TRUE : win::FALSE;
}

win::DWORD FakeSystem::GetLogicalDrives() {
    win::DWORD mask = 0;
    for (const auto& [letter, type] : driveTypes) {
        if (letter >= kFirstDrive && letter <= kLastDrive) mask |= 1u << (letter - kFirstDrive);
    }
    return mask;
}

win::UINT FakeSystem::GetDriveTypeA(const char* rootPath) {
    const auto found = driveTypes.find(rootPath[0]);
    return found == driveTypes.end() ? win::DRIVE_NO_ROOT_DIR : found->second;
}

win::HANDLE FakeSystem::FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) {
    searchedPatterns.emplace_back(pattern);
    const auto onDrive = driveFiles.find(pattern[0]);
    if (onDrive == driveFiles.end() || onDrive->second.empty()) {
        lastError_ = static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND);
        return win::invalidHandleValue();
    }
    *found = win::WIN32_FIND_DATAA{};
    const std::string& first = onDrive->second.front();
    std::memcpy(found->cFileName, first.c_str(),
                std::min(first.size(), sizeof found->cFileName - 1));
    return newHandle(HandleKind::Search, pattern);
}

win::BOOL FakeSystem::FindClose(win::HANDLE search) {
    const auto found = handles_.find(search);
    if (found == handles_.end() || found->second.kind != HandleKind::Search) return win::FALSE;
    handles_.erase(found);
    return win::TRUE;
}

win::DWORD FakeSystem::GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) {
    currentDirectoryBufferSizes.push_back(bufferLength);
    if (!currentDirectory) return 0;
    const auto needed = static_cast<win::DWORD>(currentDirectory->size() + 1);
    if (bufferLength < needed) return needed;
    std::memcpy(buffer, currentDirectory->c_str(), needed);
    return needed - 1;
}

win::HANDLE FakeSystem::CreateFileA(const char* path, win::DWORD /*desiredAccess*/,
                                    win::DWORD /*shareMode*/, win::DWORD /*creationDisposition*/,
                                    win::DWORD /*flagsAndAttributes*/) {
    openedFiles.emplace_back(path);
    const std::string key = fileKey(path);
    if (files.count(key) == 0) {
        lastError_ = static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND);
        return win::invalidHandleValue();
    }
    return newHandle(HandleKind::File, key);
}

win::BOOL FakeSystem::ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                               win::DWORD* bytesRead) {
    *bytesRead = 0;
    const auto found = handles_.find(file);
    if (found == handles_.end() || found->second.kind != HandleKind::File) return win::FALSE;
    OpenHandle& open = found->second;
    const std::vector<std::uint8_t>& content = files.at(open.name);
    std::size_t end = std::min(content.size(), open.position + bytesToRead);
    if (failReadsAfter) {
        if (open.position >= *failReadsAfter) {
            lastError_ = static_cast<win::DWORD>(win::ERROR_IO_DEVICE);
            return win::FALSE;
        }
        end = std::min(end, *failReadsAfter);
    }
    const std::size_t count = end > open.position ? end - open.position : 0;
    if (count != 0) std::memcpy(buffer, content.data() + open.position, count);
    open.position += count;
    *bytesRead = static_cast<win::DWORD>(count);
    return win::TRUE;
}

win::DWORD FakeSystem::GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) {
    if (fileSizeHigh != nullptr) *fileSizeHigh = 0;
    const auto found = handles_.find(file);
    if (found == handles_.end() || found->second.kind != HandleKind::File) return 0xFFFFFFFF;
    return static_cast<win::DWORD>(files.at(found->second.name).size());
}

win::HMODULE FakeSystem::LoadLibraryA(const char* fileName) {
    loadRequests.emplace_back(fileName);
    const auto found = libraries.find(fileName);
    return found == libraries.end() ? nullptr : found->second;
}

win::BOOL FakeSystem::FreeLibrary(win::HMODULE module) {
    ++freeCounts[module];
    return win::TRUE;
}

}  // namespace testsupport

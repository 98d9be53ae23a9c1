#include "sim/sim_system.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "firmware/byte_source.h"
#include "firmware/windows_file_name.h"
#include "sim/windows_names.h"

namespace sim {

namespace {

constexpr win::DWORD ERROR_INVALID_NAME = 123;
constexpr win::DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr win::DWORD ERROR_PRIVILEGE_NOT_HELD = 1314;
constexpr win::DWORD ERROR_NO_TOKEN = 1008;
constexpr win::DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr win::DWORD ERROR_NO_SUCH_PRIVILEGE = 1313;
// How many groups more than it holds an overstating group block claims.
constexpr win::DWORD kGroupCountOverstatement = 1000;
constexpr int kDriveCount = 26;
constexpr win::LUID kShutdownLuid = {19, 0};

// A SID as the platform lays it out: revision, sub-authority count, the
// six-byte authority, then the 32-bit sub-authorities.
constexpr std::size_t kSidHeaderSize = 8;
constexpr win::BYTE kSidRevision = 1;
constexpr win::SID_IDENTIFIER_AUTHORITY kWorldAuthority = {{0, 0, 0, 0, 0, 1}};

std::vector<std::uint8_t> makeSid(const win::SID_IDENTIFIER_AUTHORITY& authority,
                                  std::initializer_list<win::DWORD> subAuthorities) {
    constexpr int kBitsPerByte = 8;
    std::vector<std::uint8_t> sid;
    sid.reserve(kSidHeaderSize + sizeof(win::DWORD) * subAuthorities.size());
    sid.push_back(kSidRevision);
    sid.push_back(static_cast<std::uint8_t>(subAuthorities.size()));
    sid.insert(sid.end(), std::begin(authority.Value), std::end(authority.Value));
    // Sub-authorities are stored in the platform's (little-endian) order.
    for (const win::DWORD value : subAuthorities) {
        for (std::size_t byte = 0; byte < sizeof value; ++byte) {
            sid.push_back(static_cast<std::uint8_t>(value >> (kBitsPerByte * byte)));
        }
    }
    return sid;
}

std::size_t sidLength(const void* sid) {
    return kSidHeaderSize + 4 * static_cast<const std::uint8_t*>(sid)[1];
}

}  // namespace

SimSystem::SimSystem(const SystemSetup& setup, MutexTable& mutexes)
    : setup_(setup), mutexes_(mutexes) {}

SimSystem::~SimSystem() {
    // Process exit: every handle the run still holds is closed.
    for (auto& [value, handle] : handles_) {
        if (handle.kind == HandleKind::Mutex) mutexes_.close(handle.mutexName);
    }
    for (void* sid : liveSids_) delete[] static_cast<std::uint8_t*>(sid);
}

void SimSystem::setLibraryLoader(LibraryLoader load, LibraryFreer free) {
    loadLibrary_ = std::move(load);
    freeLibrary_ = std::move(free);
}

win::BOOL SimSystem::fail(win::DWORD error) {
    lastError_ = error;
    return win::FALSE;
}

win::HANDLE SimSystem::addHandle(Handle handle) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_.emplace(value, std::move(handle));
    return reinterpret_cast<win::HANDLE>(value);
}

SimSystem::Handle* SimSystem::findHandle(win::HANDLE handle, HandleKind kind) {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end() || found->second.kind != kind) return nullptr;
    return &found->second;
}

std::size_t SimSystem::openHandleCount(HandleKind kind) const {
    return static_cast<std::size_t>(
        std::count_if(handles_.begin(), handles_.end(),
                      [kind](const auto& each) { return each.second.kind == kind; }));
}

win::BOOL SimSystem::GetVersionExA(win::OSVERSIONINFOA* version) {
    if (version == nullptr || version->dwOSVersionInfoSize != sizeof(win::OSVERSIONINFOA)) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    version->dwMajorVersion = setup_.majorVersion;
    version->dwMinorVersion = setup_.minorVersion;
    version->dwBuildNumber = setup_.buildNumber;
    version->dwPlatformId = setup_.platformId;
    std::memset(version->szCSDVersion, 0, sizeof version->szCSDVersion);
    std::strncpy(version->szCSDVersion, setup_.servicePack.c_str(),
                 sizeof version->szCSDVersion - 1);
    return win::TRUE;
}

win::BOOL SimSystem::OpenProcessToken(win::DWORD /*desiredAccess*/, win::HANDLE* token) {
    if (token == nullptr) return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    if (tokenFails(TokenFault::OpenToken)) return fail(ERROR_NO_TOKEN);
    *token = addHandle(Handle{HandleKind::Token, {}, {}, 0});
    return win::TRUE;
}

win::BOOL SimSystem::GetTokenInformation(win::HANDLE token, int informationClass, void* information,
                                         win::DWORD informationLength, win::DWORD* returnLength) {
    if (findHandle(token, HandleKind::Token) == nullptr) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    }
    if (informationClass != win::TokenGroups || returnLength == nullptr) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }

    // Everyone comes first, as in a real token, so the walk must compare
    // SIDs of different lengths.
    std::vector<std::pair<std::vector<std::uint8_t>, win::DWORD>> groups;
    groups.emplace_back(makeSid(kWorldAuthority, {0}), win::SE_GROUP_ENABLED);
    for (const TokenGroup& group : setup_.tokenGroups) {
        groups.emplace_back(makeSid(win::SECURITY_NT_AUTHORITY, {group.domainRid, group.rid}),
                            group.attributes);
    }
    const std::size_t arrayEnd =
        offsetof(win::TOKEN_GROUPS, Groups) + groups.size() * sizeof(win::SID_AND_ATTRIBUTES);
    // A block that overstates its count holds nothing but the entries (their
    // SIDs live elsewhere), so a walk that believed the count would run past it.
    const bool sidsInBlock = !setup_.faults.overstateGroupCount;
    std::size_t needed = arrayEnd;
    if (sidsInBlock) {
        for (const auto& group : groups) needed += group.first.size();
    }
    *returnLength = static_cast<win::DWORD>(needed);
    if (information == nullptr && tokenFails(TokenFault::SizeQuery)) {
        return fail(setup_.faults.sizeQueryError);
    }
    // A token whose groups grew between the two calls answers so.
    if (information == nullptr || informationLength < needed ||
        tokenFails(TokenFault::ReadGroups)) {
        return fail(static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER));
    }

    auto* bytes = static_cast<std::uint8_t*>(information);
    auto* table = static_cast<win::TOKEN_GROUPS*>(information);
    table->GroupCount = static_cast<win::DWORD>(groups.size()) +
                        (setup_.faults.overstateGroupCount ? kGroupCountOverstatement : 0);
    auto* entries =
        reinterpret_cast<win::SID_AND_ATTRIBUTES*>(bytes + offsetof(win::TOKEN_GROUPS, Groups));
    std::size_t sidOffset = arrayEnd;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        entries[i].Attributes = groups[i].second;
        if (!sidsInBlock) {
            entries[i].Sid = sidsOutsideBlocks_.emplace_back(std::move(groups[i].first)).data();
            continue;
        }
        std::memcpy(bytes + sidOffset, groups[i].first.data(), groups[i].first.size());
        entries[i].Sid = bytes + sidOffset;
        sidOffset += groups[i].first.size();
    }
    return win::TRUE;
}

win::BOOL SimSystem::AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                              win::BYTE subAuthorityCount, win::DWORD subAuthority0,
                                              win::DWORD subAuthority1, win::PSID* sid) {
    constexpr win::BYTE kMaxSubAuthorities = 2;  // as many as the seam passes
    if (authority == nullptr || sid == nullptr || subAuthorityCount == 0 ||
        subAuthorityCount > kMaxSubAuthorities) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    if (tokenFails(TokenFault::AllocateSid)) return fail(ERROR_NOT_ENOUGH_MEMORY);
    const std::vector<std::uint8_t> built =
        subAuthorityCount == 1 ? makeSid(*authority, {subAuthority0})
                               : makeSid(*authority, {subAuthority0, subAuthority1});
    auto* stored = new std::uint8_t[built.size()];
    std::memcpy(stored, built.data(), built.size());
    liveSids_.insert(stored);
    *sid = stored;
    return win::TRUE;
}

win::BOOL SimSystem::EqualSid(win::PSID first, win::PSID second) {
    if (first == nullptr || second == nullptr) return win::FALSE;
    const std::size_t length = sidLength(first);
    if (length != sidLength(second)) return win::FALSE;
    return std::memcmp(first, second, length) == 0 ? win::TRUE : win::FALSE;
}

void SimSystem::FreeSid(win::PSID sid) {
    if (liveSids_.erase(sid) != 0) delete[] static_cast<std::uint8_t*>(sid);
}

win::BOOL SimSystem::LookupPrivilegeValueA(const char* name, win::LUID* luid) {
    if (name == nullptr || luid == nullptr || std::strcmp(name, win::SE_SHUTDOWN_NAME) != 0) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    if (setup_.faults.failPrivilegeLookup) return fail(ERROR_NO_SUCH_PRIVILEGE);
    *luid = kShutdownLuid;
    return win::TRUE;
}

win::BOOL SimSystem::AdjustTokenPrivileges(win::HANDLE token, win::BOOL disableAll,
                                           win::TOKEN_PRIVILEGES* newState,
                                           win::DWORD /*bufferLength*/) {
    if (findHandle(token, HandleKind::Token) == nullptr) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    }
    if (disableAll != win::FALSE) {
        shutdownPrivilegeEnabled_ = false;
        return win::TRUE;
    }
    if (newState == nullptr) return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    for (win::DWORD i = 0; i < newState->PrivilegeCount && i < 1; ++i) {
        const win::LUID_AND_ATTRIBUTES& entry = newState->Privileges[i];
        if (entry.Luid.LowPart == kShutdownLuid.LowPart &&
            entry.Luid.HighPart == kShutdownLuid.HighPart) {
            const bool enable = (entry.Attributes & win::SE_PRIVILEGE_ENABLED) != 0;
            if (enable && !setup_.shutdownPrivilegeGrantable) {
                lastError_ =
                    1300;  // ERROR_NOT_ALL_ASSIGNED: the call succeeds, the privilege doesn't
                return win::TRUE;
            }
            shutdownPrivilegeEnabled_ = enable;
        }
    }
    lastError_ = 0;
    return win::TRUE;
}

win::BOOL SimSystem::ExitWindowsEx(win::UINT flags, win::DWORD /*reason*/) {
    if (!shutdownPrivilegeEnabled_) return fail(ERROR_PRIVILEGE_NOT_HELD);
    powerOffRequested_ = true;
    powerOffFlags_ = flags;
    return win::TRUE;
}

int SimSystem::GetLocaleInfoA(win::LCID /*locale*/, win::LCTYPE type, char* data, int dataLength) {
    if (type != win::LOCALE_SABBREVLANGNAME || setup_.faults.failLocaleLookup) {
        fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
        return 0;
    }
    const std::string& value = setup_.localeAbbreviation;
    const int needed = static_cast<int>(value.size()) + 1;
    if (dataLength == 0) return needed;
    if (data == nullptr || dataLength < needed) {
        fail(static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER));
        return 0;
    }
    std::memcpy(data, value.c_str(), value.size() + 1);
    return needed;
}

win::HANDLE SimSystem::CreateMutexA(const char* name) {
    const std::string mutexName = name == nullptr ? std::string() : name;
    const bool created = mutexes_.open(mutexName);
    lastError_ = created ? 0 : static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS);
    return addHandle(Handle{HandleKind::Mutex, mutexName, {}, 0});
}

win::BOOL SimSystem::CloseHandle(win::HANDLE handle) {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end() || found->second.kind == HandleKind::Search) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    }
    if (found->second.kind == HandleKind::Mutex) mutexes_.close(found->second.mutexName);
    handles_.erase(found);
    return win::TRUE;
}

win::DWORD SimSystem::GetLogicalDrives() {
    win::DWORD mask = 0;
    for (const auto& [letter, drive] : setup_.drives) {
        const std::optional<char> upper = driveLetterOf(std::string_view(&letter, 1));
        const int index = upper ? *upper - 'A' : kDriveCount;
        if (index < kDriveCount) mask |= win::DWORD{1} << index;
    }
    return mask;
}

const SimDrive* SimSystem::driveFor(const char* rootPath) const {
    const std::optional<char> letter =
        rootPath != nullptr ? driveLetterOf(rootPath) : std::optional<char>();
    if (!letter || std::strlen(rootPath) < 2) return nullptr;
    const auto found = setup_.drives.find(*letter);
    return found == setup_.drives.end() ? nullptr : &found->second;
}

win::UINT SimSystem::GetDriveTypeA(const char* rootPath) {
    const SimDrive* drive = driveFor(rootPath);
    if (drive == nullptr) return win::DRIVE_NO_ROOT_DIR;
    const std::string root = rootPath;
    if (root.size() != 3 || root[2] != '\\') return win::DRIVE_NO_ROOT_DIR;
    return drive->type;
}

win::HANDLE SimSystem::FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) {
    const SimDrive* drive = driveFor(pattern);
    if (drive == nullptr || found == nullptr || std::strlen(pattern) < 3 || pattern[2] != '\\') {
        fail(static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND));
        return win::invalidHandleValue();
    }
    if (!drive->mediumPresent()) {
        fail(static_cast<win::DWORD>(win::ERROR_NOT_READY));
        return win::invalidHandleValue();
    }
    const std::string filePattern = pattern + 3;
    for (const std::string& name : drive->files) {
        if (!matchesFilePattern(name, filePattern)) continue;
        std::memset(found, 0, sizeof *found);
        found->dwFileAttributes = win::FILE_ATTRIBUTE_NORMAL;
        std::strncpy(found->cFileName, name.c_str(), sizeof found->cFileName - 1);
        lastError_ = 0;
        return addHandle(Handle{HandleKind::Search, {}, {}, 0});
    }
    fail(static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
    return win::invalidHandleValue();
}

win::BOOL SimSystem::FindClose(win::HANDLE search) {
    if (findHandle(search, HandleKind::Search) == nullptr) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    }
    handles_.erase(reinterpret_cast<std::uintptr_t>(search));
    return win::TRUE;
}

win::DWORD SimSystem::GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) {
    if (setup_.faults.failCurrentDirectory) {
        fail(static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
        return 0;
    }
    const std::string& directory = setup_.currentDirectory;
    const auto length = static_cast<win::DWORD>(directory.size());
    if (buffer == nullptr || bufferLength <= length) return length + 1;
    std::memcpy(buffer, directory.c_str(), directory.size() + 1);
    return length;
}

std::optional<std::string> SimSystem::hostPathFor(const std::string& windowsPath) const {
    const auto host = hostFileFor({setup_.currentDirectory, setup_.hostProgramFolder}, windowsPath,
                                  setup_.currentDirectory);
    if (!host) return std::nullopt;
    return host->string();
}

// A file given as bytes is named by the same rule as a host file: the whole
// path, component by component, without regard to letter case.
const std::vector<std::uint8_t>* SimSystem::programFileBytes(const std::string& windowsPath) const {
    const std::vector<std::string> wanted =
        fullPathComponents(windowsPath, setup_.currentDirectory);
    for (const auto& [name, bytes] : setup_.programFiles) {
        if (sameComponents(fullPathComponents(name, setup_.currentDirectory), wanted)) {
            return &bytes;
        }
    }
    return nullptr;
}

win::HANDLE SimSystem::CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                                   win::DWORD creationDisposition, win::DWORD flagsAndAttributes) {
    const win::HANDLE handle =
        openProgramFile(path, desiredAccess, shareMode, creationDisposition, flagsAndAttributes);
    if (watchFiles_ && path != nullptr) {
        const Handle* opened = findHandle(handle, HandleKind::File);
        watchFiles_(path, opened != nullptr ? hostPathFor(path) : std::nullopt, lastError_,
                    opened != nullptr ? readableContent(*opened) : std::span<const std::uint8_t>());
    }
    return handle;
}

// What the program can read of a file before its reads fail: a watcher told
// more would say the program read what it never got.
std::span<const std::uint8_t> SimSystem::readableContent(const Handle& file) const {
    const std::span<const std::uint8_t> content(file.content);
    const std::optional<std::size_t> limit = setup_.faults.failReadsAfter;
    return limit && *limit < content.size() ? content.first(*limit) : content;
}

win::HANDLE SimSystem::openProgramFile(const char* path, win::DWORD desiredAccess,
                                       win::DWORD /*shareMode*/, win::DWORD creationDisposition,
                                       win::DWORD /*flagsAndAttributes*/) {
    // The program folder is read-only to the programs: they only read files.
    if (path == nullptr || desiredAccess != win::GENERIC_READ ||
        creationDisposition != win::OPEN_EXISTING) {
        fail(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
        return win::invalidHandleValue();
    }
    const std::string windowsPath = path;
    if (!firmware::isValidWindowsName(windowsPath)) {
        fail(ERROR_INVALID_NAME);
        return win::invalidHandleValue();
    }
    if (const std::vector<std::uint8_t>* bytes = programFileBytes(windowsPath)) {
        lastError_ = 0;
        return addHandle(Handle{HandleKind::File, {}, *bytes, 0});
    }
    const std::optional<std::string> host = hostPathFor(windowsPath);
    if (!host) {
        fail(static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND));
        return win::invalidHandleValue();
    }
    std::vector<std::uint8_t> content;
    if (!firmware::readWholeFile(*host, content)) {
        fail(static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED));
        return win::invalidHandleValue();
    }
    lastError_ = 0;
    return addHandle(Handle{HandleKind::File, {}, std::move(content), 0});
}

win::BOOL SimSystem::ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                              win::DWORD* bytesRead) {
    Handle* handle = findHandle(file, HandleKind::File);
    if (handle == nullptr) return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_PARAMETER));
    }
    *bytesRead = 0;
    std::size_t end = handle->content.size();
    if (const std::optional<std::size_t> limit = setup_.faults.failReadsAfter) {
        if (handle->position >= *limit) return fail(static_cast<win::DWORD>(win::ERROR_IO_DEVICE));
        end = std::min(end, *limit);
    }
    const std::size_t available = end > handle->position ? end - handle->position : 0;
    const std::size_t count = std::min<std::size_t>(available, bytesToRead);
    if (count != 0) std::memcpy(buffer, handle->content.data() + handle->position, count);
    handle->position += count;
    *bytesRead = static_cast<win::DWORD>(count);
    return win::TRUE;
}

win::DWORD SimSystem::GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) {
    constexpr win::DWORD kInvalidFileSize = 0xFFFFFFFF;
    Handle* handle = findHandle(file, HandleKind::File);
    if (handle == nullptr) {
        fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
        return kInvalidFileSize;
    }
    if (fileSizeHigh != nullptr) *fileSizeHigh = 0;
    return static_cast<win::DWORD>(handle->content.size());
}

win::HMODULE SimSystem::LoadLibraryA(const char* fileName) {
    const std::string name = fileName == nullptr ? std::string() : fileName;
    librariesLoaded_.push_back(name);
    const win::HMODULE module = loadLibrary_ ? loadLibrary_(name) : nullptr;
    if (module == nullptr) fail(ERROR_MOD_NOT_FOUND);
    return module;
}

win::BOOL SimSystem::FreeLibrary(win::HMODULE module) {
    if (module == nullptr || !freeLibrary_ || !freeLibrary_(module)) {
        return fail(static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE));
    }
    ++librariesFreed_;
    return win::TRUE;
}

}  // namespace sim

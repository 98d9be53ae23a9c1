#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/system.h"

namespace testsupport {

// A group of the process token: a builtin-domain alias (544 Administrators,
// 545 Users, ...) with its attributes.
struct FakeGroup {
    win::DWORD rid = 0;
    win::DWORD attributes = 0;
    win::DWORD domainRid = win::SECURITY_BUILTIN_DOMAIN_RID;
};

// The step of the administrator test that the fake lets fail.
enum class TokenFault { None, OpenToken, SizeQuery, ReadGroups, AllocateSid };

// A small stand-in for the operating system: a version, a process token with
// groups, named mutexes, drives with files, a current directory, files to
// read and libraries to load. It keeps account of every handle, search, SID
// and library so that a test can tell that everything acquired was released.
class FakeSystem final : public platform::System {
  public:
    FakeSystem();
    ~FakeSystem() override;
    FakeSystem(const FakeSystem&) = delete;
    FakeSystem& operator=(const FakeSystem&) = delete;

    // Version.
    win::OSVERSIONINFOA version{};

    // Token.
    std::vector<FakeGroup> groups;
    TokenFault tokenFault = TokenFault::None;
    // The error the size query fails with (the normal answer is
    // ERROR_INSUFFICIENT_BUFFER).
    win::DWORD sizeQueryError = static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER);
    // Writes a group count larger than the block holds, as a broken system
    // might.
    bool overstateGroupCount = false;
    // Power.
    bool failPrivilegeLookup = false;
    std::vector<std::string> powerCalls;  // in call order
    std::optional<win::UINT> exitWindowsFlags;
    win::DWORD adjustedPrivilegeCount = 0;
    win::DWORD adjustedAttributes = 0;
    win::DWORD adjustBufferLength = 0;

    // Locale; nullopt makes GetLocaleInfoA fail.
    std::optional<std::string> localeName = std::string("ENU");

    // Named mutexes held by other processes.
    std::set<std::string> existingMutexes;
    std::vector<std::string> createdMutexes;

    // Drives: letter to type, and the names on each root's medium.
    std::map<char, win::UINT> driveTypes;
    std::map<char, std::vector<std::string>> driveFiles;
    std::vector<std::string> searchedPatterns;

    // Current directory; GetCurrentDirectoryA fails when it is nullopt.
    std::optional<std::string> currentDirectory = std::string("C:\\Velcrest");
    std::vector<win::DWORD> currentDirectoryBufferSizes;

    // Files by the path the program passes (a leading ".\" is ignored).
    std::map<std::string, std::vector<std::uint8_t>> files;
    // ReadFile fails once this many bytes of a file have been read.
    std::optional<std::size_t> failReadsAfter;
    std::vector<std::string> openedFiles;

    // Libraries that LoadLibraryA finds, by bare file name.
    std::map<std::string, win::HMODULE> libraries;
    std::vector<std::string> loadRequests;
    std::map<win::HMODULE, int> freeCounts;

    // Accounting.
    int openHandleCount() const { return static_cast<int>(handles_.size()); }
    int openTokenCount() const { return countHandles(HandleKind::Token); }
    int openFileCount() const { return countHandles(HandleKind::File); }
    int openSearchCount() const { return countHandles(HandleKind::Search); }
    int liveSidCount() const { return static_cast<int>(liveSids_.size()); }
    int closeHandleCalls() const { return closeHandleCalls_; }

    static win::HMODULE moduleHandle(std::uintptr_t value) {
        return reinterpret_cast<win::HMODULE>(value);
    }

    // platform::System
    win::BOOL GetVersionExA(win::OSVERSIONINFOA* info) override;
    win::BOOL OpenProcessToken(win::DWORD desiredAccess, win::HANDLE* token) override;
    win::BOOL GetTokenInformation(win::HANDLE token, int informationClass, void* information,
                                  win::DWORD informationLength, win::DWORD* returnLength) override;
    win::BOOL AllocateAndInitializeSid(const win::SID_IDENTIFIER_AUTHORITY* authority,
                                       win::BYTE subAuthorityCount, win::DWORD subAuthority0,
                                       win::DWORD subAuthority1, win::PSID* sid) override;
    win::BOOL EqualSid(win::PSID first, win::PSID second) override;
    void FreeSid(win::PSID sid) override;
    win::BOOL LookupPrivilegeValueA(const char* name, win::LUID* luid) override;
    win::BOOL AdjustTokenPrivileges(win::HANDLE token, win::BOOL disableAll,
                                    win::TOKEN_PRIVILEGES* newState,
                                    win::DWORD bufferLength) override;
    win::BOOL ExitWindowsEx(win::UINT flags, win::DWORD reason) override;
    int GetLocaleInfoA(win::LCID locale, win::LCTYPE type, char* data, int dataLength) override;
    win::HANDLE CreateMutexA(const char* name) override;
    win::BOOL CloseHandle(win::HANDLE handle) override;
    win::DWORD GetLastError() override { return lastError_; }
    win::DWORD GetLogicalDrives() override;
    win::UINT GetDriveTypeA(const char* rootPath) override;
    win::HANDLE FindFirstFileA(const char* pattern, win::WIN32_FIND_DATAA* found) override;
    win::BOOL FindClose(win::HANDLE search) override;
    win::DWORD GetCurrentDirectoryA(win::DWORD bufferLength, char* buffer) override;
    win::HANDLE CreateFileA(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                            win::DWORD creationDisposition, win::DWORD flagsAndAttributes) override;
    win::BOOL ReadFile(win::HANDLE file, void* buffer, win::DWORD bytesToRead,
                       win::DWORD* bytesRead) override;
    win::DWORD GetFileSize(win::HANDLE file, win::DWORD* fileSizeHigh) override;
    win::HMODULE LoadLibraryA(const char* fileName) override;
    win::BOOL FreeLibrary(win::HMODULE module) override;

    // The shutdown privilege's identifier as this system reports it.
    static constexpr win::DWORD kShutdownLuid = 0x13;

  private:
    enum class HandleKind { Token, Mutex, File, Search };
    struct OpenHandle {
        HandleKind kind;
        std::string name;
        std::size_t position = 0;
    };
    struct Sid {
        win::SID_IDENTIFIER_AUTHORITY authority{};
        win::BYTE count = 0;
        win::DWORD sub0 = 0;
        win::DWORD sub1 = 0;
    };

    win::HANDLE newHandle(HandleKind kind, std::string name);
    int countHandles(HandleKind kind) const;
    static std::string fileKey(const char* path);

    std::map<win::HANDLE, OpenHandle> handles_;
    std::uintptr_t nextHandle_ = 0x100;
    win::DWORD lastError_ = 0;
    int closeHandleCalls_ = 0;
    // The token's own SIDs stay alive for the fake's lifetime; the ones the
    // program allocates are counted until freed.
    std::vector<std::unique_ptr<Sid>> tokenSids_;
    std::set<Sid*> liveSids_;
};

}  // namespace testsupport

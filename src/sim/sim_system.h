#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "platform/system.h"

namespace sim {

// Named mutexes live in the machine, not in one program run, so that a
// second instance started while the first runs finds the name taken.
// A mutex exists while any process holds a handle to it.
class MutexTable {
  public:
    // Opens a handle to the named mutex; true when this created it.
    bool open(const std::string& name) { return references_[name]++ == 0; }
    void close(const std::string& name) {
        const auto found = references_.find(name);
        if (found != references_.end() && --found->second == 0) references_.erase(found);
    }
    bool exists(const std::string& name) const { return references_.count(name) != 0; }

  private:
    std::map<std::string, int> references_;
};

// One group of the process token: a relative id in a domain (the builtin
// one unless told otherwise, where 544 is Administrators and 545 Users).
struct TokenGroup {
    win::DWORD rid = 0;
    win::DWORD attributes = 0;
    win::DWORD domainRid = win::SECURITY_BUILTIN_DOMAIN_RID;
};

// The step of reading the process token that fails.
enum class TokenFault { None, OpenToken, SizeQuery, ReadGroups, AllocateSid };

// How the system misbehaves, for the programs' handling of a broken or
// unusual Windows. Nothing fails by default.
struct SystemFaults {
    TokenFault token = TokenFault::None;
    // What the failing size query reports (its normal failure,
    // ERROR_INSUFFICIENT_BUFFER, is no fault).
    win::DWORD sizeQueryError = static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED);
    // The group block claims more groups than it holds.
    bool overstateGroupCount = false;
    bool failPrivilegeLookup = false;
    bool failLocaleLookup = false;
    // GetCurrentDirectoryA fails, as it does for a folder removed under the
    // process.
    bool failCurrentDirectory = false;
    // ReadFile fails once this many bytes of a file have been read.
    std::optional<std::size_t> failReadsAfter;
};

// A drive letter of the machine.
struct SimDrive {
    win::UINT type = win::DRIVE_FIXED;
    // Whether a medium can be read right now (asked at every probe, so a
    // medium pulled out mid-run is seen at once).
    std::function<bool()> mediumPresent = [] { return true; };
    std::vector<std::string> files;  // names in the root directory
};

// What the machine is like for the programs: version, account, locale,
// drives, the program folder. Kept apart from SimSystem so a scenario can
// describe it and several program runs share it.
struct SystemSetup {
    win::DWORD majorVersion = 5;
    win::DWORD minorVersion = 1;
    win::DWORD buildNumber = 2600;
    win::DWORD platformId = win::VER_PLATFORM_WIN32_NT;
    std::string servicePack = "Service Pack 3";
    std::vector<TokenGroup> tokenGroups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED},
                                           {win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED}};
    bool shutdownPrivilegeGrantable = true;
    std::string localeAbbreviation = "ENU";
    std::map<char, SimDrive> drives;  // upper-case letter -> drive
    // The current directory as Windows names it, and the host folder behind it.
    std::string currentDirectory = "C:\\Program Files\\Kavo\\Velcrest";
    std::string hostProgramFolder;
    // Files of the program folder given as bytes, by their path in it
    // ("firmtable.txt", "fw\\tkw5.s19"); found before the host folder's.
    std::map<std::string, std::vector<std::uint8_t>> programFiles;
    SystemFaults faults;
};

// The operating system of the simulated machine for one program run (one
// process): its handles, its last error, the mutexes it holds. Ending the run
// (destroying it) releases what the process held, as process exit does.
class SimSystem final : public platform::System {
  public:
    // Loads a language library by bare file name; null when none is found.
    using LibraryLoader = std::function<win::HMODULE(const std::string& fileName)>;
    using LibraryFreer = std::function<bool(win::HMODULE module)>;
    // Told of every file the program asks to open: the Windows path, the host
    // file behind it (none when it names nothing there), the error given and
    // the bytes the program will read (empty when it opened nothing).
    using FileWatcher = std::function<void(
        const std::string& windowsPath, const std::optional<std::string>& hostPath,
        win::DWORD error, std::span<const std::uint8_t> content)>;

    SimSystem(const SystemSetup& setup, MutexTable& mutexes);
    ~SimSystem() override;
    SimSystem(const SimSystem&) = delete;
    SimSystem& operator=(const SimSystem&) = delete;

    void setLibraryLoader(LibraryLoader load, LibraryFreer free);
    void setFileWatcher(FileWatcher watcher) { watchFiles_ = std::move(watcher); }

    enum class HandleKind { Token, Mutex, Search, File };

    // What the run did that the machine acts on or a test checks.
    bool powerOffRequested() const { return powerOffRequested_; }
    win::UINT powerOffFlags() const { return powerOffFlags_; }
    std::size_t openHandleCount() const { return handles_.size(); }
    std::size_t openHandleCount(HandleKind kind) const;
    std::size_t liveSidCount() const { return liveSids_.size(); }
    const std::vector<std::string>& librariesLoaded() const { return librariesLoaded_; }
    std::size_t librariesFreed() const { return librariesFreed_; }

    win::BOOL GetVersionExA(win::OSVERSIONINFOA* version) override;
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

    // The host file behind a Windows path of the program folder; none when
    // the path does not lie in it or names no file there. Names are compared
    // without regard to letter case, as the platform's file system does.
    std::optional<std::string> hostPathFor(const std::string& windowsPath) const;

  private:
    struct Handle {
        HandleKind kind;
        std::string mutexName;
        std::vector<std::uint8_t> content;  // a file's bytes
        std::size_t position = 0;
    };

    win::HANDLE openProgramFile(const char* path, win::DWORD desiredAccess, win::DWORD shareMode,
                                win::DWORD creationDisposition, win::DWORD flagsAndAttributes);
    win::HANDLE addHandle(Handle handle);
    Handle* findHandle(win::HANDLE handle, HandleKind kind);
    std::span<const std::uint8_t> readableContent(const Handle& file) const;
    const SimDrive* driveFor(const char* rootPath) const;
    const std::vector<std::uint8_t>* programFileBytes(const std::string& windowsPath) const;
    bool tokenFails(TokenFault step) const { return setup_.faults.token == step; }
    win::BOOL fail(win::DWORD error);

    const SystemSetup& setup_;
    MutexTable& mutexes_;
    LibraryLoader loadLibrary_;
    LibraryFreer freeLibrary_;
    FileWatcher watchFiles_;
    std::map<std::uintptr_t, Handle> handles_;
    std::uintptr_t nextHandle_ = 0x100;
    std::set<void*> liveSids_;
    // The SIDs of group blocks that keep them outside the block.
    std::deque<std::vector<std::uint8_t>> sidsOutsideBlocks_;
    win::DWORD lastError_ = 0;
    bool shutdownPrivilegeEnabled_ = false;
    bool powerOffRequested_ = false;
    win::UINT powerOffFlags_ = 0;
    std::vector<std::string> librariesLoaded_;
    std::size_t librariesFreed_ = 0;
};

}  // namespace sim

#include "win32/win_system.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "shell/administrator.h"
#include "update/system_file.h"
#include "win32/windows_api.h"
#include "windows_test_support.h"

namespace {

using win32_test::runProbe;

TEST(DriveTest, EveryLetterOfTheDriveMaskHasARootAndNoOtherDoes) {
    win32::WinSystem system;
    const win::DWORD drives = system.GetLogicalDrives();
    ASSERT_NE(drives & (1u << ('C' - 'A')), 0u) << "the system drive";
    EXPECT_EQ(system.GetDriveTypeA("C:\\"), static_cast<win::UINT>(DRIVE_FIXED));
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::string root{letter, ':', '\\'};
        const bool present = (drives >> (letter - 'A') & 1u) != 0;
        EXPECT_EQ(system.GetDriveTypeA(root.c_str()) != DRIVE_NO_ROOT_DIR, present) << root;
    }
}

// The hand-off asks for the size first and then reads: the platform counts
// the terminator only when the buffer is too small.
TEST(CurrentDirectoryTest, LengthWithoutTerminatorWhenItFitsSizeWithTerminatorWhenNot) {
    win32::WinSystem system;
    const win::DWORD needed = system.GetCurrentDirectoryA(0, nullptr);
    ASSERT_GT(needed, 1u);
    const win::DWORD length = needed - 1;

    std::vector<char> buffer(needed + 1, 'x');
    EXPECT_EQ(system.GetCurrentDirectoryA(needed, buffer.data()), length);
    EXPECT_EQ(buffer[length], '\0');
    EXPECT_EQ(system.GetCurrentDirectoryA(length, buffer.data()), needed);

    std::vector<char> native(needed);
    GetCurrentDirectoryA(needed, native.data());
    EXPECT_EQ(std::string(buffer.data()), std::string(native.data()));
}

class FileTest : public testing::Test {
  protected:
    void SetUp() override {
        folder = win32_test::programFolder() + "\\files" + std::to_string(GetCurrentProcessId());
        ASSERT_NE(CreateDirectoryA(folder.c_str(), nullptr), FALSE);
        std::ofstream(folder + "\\table.txt", std::ios::binary) << content;
    }
    void TearDown() override {
        DeleteFileA((folder + "\\table.txt").c_str());
        RemoveDirectoryA(folder.c_str());
    }

    std::string folder;
    // Longer than the reader's buffer, so it is refilled.
    const std::string content = std::string(5000, 'a') + "\r\nend";
};

TEST_F(FileTest, AFileIsReadWholeAndToItsEnd) {
    win32::WinSystem system;
    update::SystemFile file(system);
    ASSERT_TRUE(file.open(folder + "\\table.txt"));
    std::vector<std::uint8_t> start;
    ASSERT_TRUE(file.readFromStart(10, start));
    EXPECT_EQ(std::string(start.begin(), start.end()), content.substr(0, 10));

    std::string read;
    std::uint8_t byte = 0;
    while (file.readByte(byte)) read += static_cast<char>(byte);
    EXPECT_EQ(read, content.substr(10));
    EXPECT_FALSE(file.readFailed());
}

TEST_F(FileTest, AMissingFileDoesNotOpen) {
    win32::WinSystem system;
    EXPECT_EQ(system.CreateFileA((folder + "\\absent.txt").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL),
              win::invalidHandleValue());
    EXPECT_EQ(system.GetLastError(), static_cast<win::DWORD>(ERROR_FILE_NOT_FOUND));
    update::SystemFile file(system);
    EXPECT_FALSE(file.open(folder + "\\absent.txt"));
}

TEST_F(FileTest, ASearchFindsTheFilesOfAFolderAndNothingWhereThereAreNone) {
    win32::WinSystem system;
    win::WIN32_FIND_DATAA found{};
    const win::HANDLE search = system.FindFirstFileA((folder + "\\*.txt").c_str(), &found);
    ASSERT_NE(search, win::invalidHandleValue());
    EXPECT_STREQ(found.cFileName, "table.txt");
    EXPECT_EQ(found.nFileSizeLow, content.size());
    EXPECT_NE(system.FindClose(search), 0);

    EXPECT_EQ(system.FindFirstFileA((folder + "\\*.bin").c_str(), &found),
              win::invalidHandleValue());
    EXPECT_EQ(system.GetLastError(), static_cast<win::DWORD>(ERROR_FILE_NOT_FOUND));
}

struct MembershipCase {
    const char* name;
    win::DWORD rid;
    int isMember;
};
void PrintTo(const MembershipCase& c, std::ostream* out) {
    *out << c.name;
}

class MembershipTest : public testing::TestWithParam<MembershipCase> {};

// Wine runs every program with an administrator's token.
TEST_P(MembershipTest, ReadsTheProcessToken) {
    win32::WinSystem system;
    int isMember = -1;
    EXPECT_EQ(shell::isBuiltinGroupMember(system, GetParam().rid, &isMember), 1);
    EXPECT_EQ(isMember, GetParam().isMember);
}

INSTANTIATE_TEST_SUITE_P(Groups, MembershipTest,
                         testing::Values(MembershipCase{"Administrators", DOMAIN_ALIAS_RID_ADMINS,
                                                        1},
                                         MembershipCase{"Guests", DOMAIN_ALIAS_RID_GUESTS, 0}),
                         win32_test::CaseName());

bool shutdownPrivilegeEnabled(const ::LUID& luid) {
    HANDLE token = nullptr;
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token) == FALSE) return false;
    DWORD needed = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &needed);
    std::vector<std::uint8_t> block(needed);
    const BOOL read = GetTokenInformation(token, TokenPrivileges, block.data(), needed, &needed);
    CloseHandle(token);
    if (read == FALSE) return false;
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(block.data());
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
        const LUID_AND_ATTRIBUTES& entry = privileges->Privileges[i];
        if (entry.Luid.LowPart == luid.LowPart && entry.Luid.HighPart == luid.HighPart) {
            return (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
        }
    }
    return false;
}

// The power-off's first three steps; ExitWindowsEx itself is not called.
TEST(ShutdownPrivilegeTest, IsLookedUpAndEnabledInTheProcessToken) {
    win32::WinSystem system;
    win::LUID luid{};
    ASSERT_NE(system.LookupPrivilegeValueA(SE_SHUTDOWN_NAME, &luid), 0);
    const ::LUID native = win32::toNative(luid);
    ::LUID expected{};
    ASSERT_NE(LookupPrivilegeValueA(nullptr, SE_SHUTDOWN_NAME, &expected), FALSE);
    EXPECT_EQ(native.LowPart, expected.LowPart);

    win::HANDLE token = nullptr;
    ASSERT_NE(system.OpenProcessToken(TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token), 0);
    win::TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Luid = luid;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    EXPECT_NE(system.AdjustTokenPrivileges(token, 0, &privileges, sizeof privileges), 0);
    EXPECT_EQ(system.GetLastError(), static_cast<win::DWORD>(ERROR_SUCCESS));
    EXPECT_NE(system.CloseHandle(token), 0);
    EXPECT_TRUE(shutdownPrivilegeEnabled(native));
}

// What the version notice decides on, with wine pretending to be another
// Windows for the probe program only.
struct VersionCase {
    const char* name;  // as wine calls that Windows
    const char* record;
};
void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << c.name;
}

class VersionTest : public testing::TestWithParam<VersionCase> {
  protected:
    static constexpr const char* kProbeDefaults = "Software\\Wine\\AppDefaults\\win32_probe.exe";

    void SetUp() override {
        ASSERT_EQ(RegCreateKeyExA(HKEY_CURRENT_USER, kProbeDefaults, 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, &key, nullptr),
                  ERROR_SUCCESS);
        const std::string version = GetParam().name;
        ASSERT_EQ(RegSetValueExA(key, "Version", 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(version.c_str()),
                                 static_cast<DWORD>(version.size() + 1)),
                  ERROR_SUCCESS);
    }
    void TearDown() override {
        if (key != nullptr) RegCloseKey(key);
        RegDeleteKeyA(HKEY_CURRENT_USER, kProbeDefaults);
    }

    HKEY key = nullptr;
};

TEST_P(VersionTest, TheRecordIsTheOneOfThatWindows) {
    const win32_test::ProbeRun run = runProbe("version");
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_EQ(run.output, std::string(GetParam().record) + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Windows, VersionTest,
    testing::Values(VersionCase{"winxp",
                                "read=1 major=5 minor=1 build=2600 platform=2 nt=1 "
                                "csd=Service Pack 3"},
                    VersionCase{"win7",
                                "read=1 major=6 minor=1 build=7601 platform=2 nt=1 "
                                "csd=Service Pack 1"}),
    win32_test::CaseName());

// The single-instance test of both programs: the name is taken while
// another process holds it, free again once that process lets go.
TEST(InstanceMutexTest, IsTakenWhileAnotherProcessHoldsIt) {
    const std::string name = "VelcrestBackendTest" + std::to_string(GetCurrentProcessId());
    win32::WinSystem system;
    const win::HANDLE held = system.CreateMutexA(name.c_str());
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(system.GetLastError(), static_cast<win::DWORD>(ERROR_SUCCESS));

    EXPECT_EQ(runProbe("mutex " + name).output, "created=1 error=183\n");
    EXPECT_NE(system.CloseHandle(held), 0);
    EXPECT_EQ(runProbe("mutex " + name).output, "created=1 error=0\n");
}

// A library is loaded by bare file name. One planted in the current
// directory must not be, one beside the program must.
using SetDllDirectoryFunction = BOOL(WINAPI*)(const char*);

SetDllDirectoryFunction setDllDirectory() {
    return reinterpret_cast<SetDllDirectoryFunction>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "SetDllDirectoryA")));
}

class CurrentDirectory {
  public:
    explicit CurrentDirectory(const std::string& folder) : previous_(MAX_PATH, '\0') {
        previous_.resize(GetCurrentDirectoryA(MAX_PATH, previous_.data()));
        SetCurrentDirectoryA(folder.c_str());
    }
    ~CurrentDirectory() { SetCurrentDirectoryA(previous_.c_str()); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

  private:
    std::string previous_;
};

constexpr const char* kPlantedLibrary = "velcrest_planted.dll";

TEST(LibrarySearchTest, ALibraryPlantedInTheCurrentDirectoryIsNotLoaded) {
    const std::string folder = win32_test::programFolder();
    const CurrentDirectory planted(folder + "\\planted");
    const SetDllDirectoryFunction reset = setDllDirectory();
    ASSERT_NE(reset, nullptr);

    // With the platform's default search the planted library is found.
    reset(nullptr);
    const HMODULE found = LoadLibraryA(kPlantedLibrary);
    ASSERT_NE(found, nullptr);
    FreeLibrary(found);

    win32::WinSystem system;
    EXPECT_EQ(system.LoadLibraryA(kPlantedLibrary), nullptr);
    EXPECT_TRUE(win32::removeCurrentDirectoryFromLibrarySearch());
    reset(nullptr);
}

TEST(LibrarySearchTest, ALibraryBesideTheProgramIsLoaded) {
    const std::string folder = win32_test::programFolder();
    const std::string beside = folder + "\\velcrest_beside.dll";
    ASSERT_NE(CopyFileA((folder + "\\planted\\" + kPlantedLibrary).c_str(), beside.c_str(), FALSE),
              FALSE);
    {
        const CurrentDirectory planted(folder + "\\planted");
        win32::WinSystem system;
        const win::HMODULE loaded = system.LoadLibraryA("velcrest_beside.dll");
        EXPECT_NE(loaded, nullptr);
        if (loaded != nullptr) {
            EXPECT_NE(system.FreeLibrary(loaded), 0);
        }
        setDllDirectory()(nullptr);
    }
    DeleteFileA(beside.c_str());
}

}  // namespace

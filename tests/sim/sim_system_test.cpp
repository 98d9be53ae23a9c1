#include "sim/sim_system.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <vector>

#include "support/scratch_folder.h"

namespace {

using sim::SimSystem;
using sim::SystemSetup;

class SimSystemTest : public ::testing::Test {
  protected:
    void SetUp() override {
        scratch_.emplace("sim_system");
        folder_ = scratch_->path();
        std::ofstream(folder_ / "firmtable.txt", std::ios::binary) << "table bytes";
        std::filesystem::create_directories(folder_ / "fw");
        std::ofstream(folder_ / "fw" / "mini.s28", std::ios::binary) << "table bytes";
        setup_.hostProgramFolder = folder_.string();
        setup_.currentDirectory = "C:\\Tools\\Kavo";
    }
    std::optional<testsupport::ScratchFolder> scratch_;
    std::filesystem::path folder_;
    SystemSetup setup_;
    sim::MutexTable mutexes_;
};

// Asks the token for its groups the way the administrator test does and
// tells whether the builtin group is there enabled.
bool tokenHoldsEnabled(SimSystem& system, win::DWORD rid) {
    win::HANDLE token = nullptr;
    EXPECT_EQ(system.OpenProcessToken(win::TOKEN_QUERY, &token), win::TRUE);
    win::DWORD needed = 0;
    EXPECT_EQ(system.GetTokenInformation(token, win::TokenGroups, nullptr, 0, &needed), win::FALSE);
    EXPECT_EQ(system.GetLastError(), static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER));
    std::vector<std::uint64_t> block((needed + 7) / 8);
    EXPECT_EQ(system.GetTokenInformation(token, win::TokenGroups, block.data(), needed, &needed),
              win::TRUE);
    win::PSID wanted = nullptr;
    EXPECT_EQ(system.AllocateAndInitializeSid(&win::SECURITY_NT_AUTHORITY, 2,
                                              win::SECURITY_BUILTIN_DOMAIN_RID, rid, &wanted),
              win::TRUE);
    const auto* groups = reinterpret_cast<const win::TOKEN_GROUPS*>(block.data());
    bool member = false;
    for (win::DWORD i = 0; i < groups->GroupCount; ++i) {
        if (system.EqualSid(wanted, groups->Groups[i].Sid) &&
            (groups->Groups[i].Attributes & win::SE_GROUP_ENABLED) != 0) {
            member = true;
        }
    }
    system.FreeSid(wanted);
    system.CloseHandle(token);
    return member;
}

TEST_F(SimSystemTest, TokenGroupsTellEnabledFromDenyOnlyMembership) {
    struct Case {
        const char* name;
        std::vector<sim::TokenGroup> groups;
        bool administrator;
    };
    const Case cases[] = {
        {"enabled", {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED}}, true},
        {"deny only", {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_USE_FOR_DENY_ONLY}}, false},
        {"users only", {{win::DOMAIN_ALIAS_RID_USERS, win::SE_GROUP_ENABLED}}, false},
        {"none", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setup_.tokenGroups = c.groups;
        SimSystem system(setup_, mutexes_);
        EXPECT_EQ(tokenHoldsEnabled(system, win::DOMAIN_ALIAS_RID_ADMINS), c.administrator);
        EXPECT_EQ(system.openHandleCount(), 0u);
        EXPECT_EQ(system.liveSidCount(), 0u);
    }
}

TEST_F(SimSystemTest, MutexNameStaysTakenUntilEveryHolderEnds) {
    auto first = std::make_unique<SimSystem>(setup_, mutexes_);
    first->CreateMutexA("Velcrest");
    EXPECT_EQ(first->GetLastError(), 0u);
    {
        SimSystem second(setup_, mutexes_);
        second.CreateMutexA("Velcrest");
        EXPECT_EQ(second.GetLastError(), static_cast<win::DWORD>(win::ERROR_ALREADY_EXISTS));
        second.CreateMutexA("Ardlow");
        EXPECT_EQ(second.GetLastError(), 0u);
    }
    EXPECT_FALSE(mutexes_.exists("Ardlow"));
    first.reset();
    EXPECT_FALSE(mutexes_.exists("Velcrest"));
}

TEST_F(SimSystemTest, PowerOffNeedsTheShutdownPrivilegeEnabled) {
    SimSystem system(setup_, mutexes_);
    EXPECT_EQ(system.ExitWindowsEx(win::EWX_POWEROFF | win::EWX_FORCE, 0), win::FALSE);
    EXPECT_FALSE(system.powerOffRequested());

    win::HANDLE token = nullptr;
    ASSERT_EQ(system.OpenProcessToken(win::TOKEN_ADJUST_PRIVILEGES | win::TOKEN_QUERY, &token),
              win::TRUE);
    win::TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    ASSERT_EQ(system.LookupPrivilegeValueA(win::SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid),
              win::TRUE);
    privileges.Privileges[0].Attributes = win::SE_PRIVILEGE_ENABLED;
    EXPECT_EQ(system.AdjustTokenPrivileges(token, win::FALSE, &privileges, sizeof privileges),
              win::TRUE);
    system.CloseHandle(token);
    EXPECT_EQ(system.ExitWindowsEx(win::EWX_POWEROFF | win::EWX_FORCE, 0), win::TRUE);
    EXPECT_TRUE(system.powerOffRequested());
    EXPECT_EQ(system.powerOffFlags(), win::EWX_POWEROFF | win::EWX_FORCE);
}

TEST_F(SimSystemTest, FileProbeOnADriveRoot) {
    bool present = true;
    setup_.drives['E'] = {win::DRIVE_REMOVABLE, [&] { return present; }, {"DCIM", "photo.jpg"}};
    setup_.drives['F'] = {win::DRIVE_REMOVABLE, [] { return true; }, {}};
    SimSystem system(setup_, mutexes_);
    win::WIN32_FIND_DATAA found{};

    const win::HANDLE search = system.FindFirstFileA("E:\\*.*", &found);
    ASSERT_NE(search, win::invalidHandleValue());
    EXPECT_STREQ(found.cFileName, "DCIM");
    EXPECT_EQ(system.FindClose(search), win::TRUE);
    const win::HANDLE photos = system.FindFirstFileA("e:\\*.JPG", &found);
    ASSERT_NE(photos, win::invalidHandleValue());
    EXPECT_STREQ(found.cFileName, "photo.jpg");
    EXPECT_EQ(system.FindClose(photos), win::TRUE);

    struct Case {
        const char* pattern;
        bool mediumPresent;
        win::DWORD error;
    };
    const Case failures[] = {
        {"F:\\*.*", true, static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND)},
        {"E:\\*.*", false, static_cast<win::DWORD>(win::ERROR_NOT_READY)},
        {"Q:\\*.*", true, static_cast<win::DWORD>(win::ERROR_PATH_NOT_FOUND)},
    };
    for (const Case& c : failures) {
        SCOPED_TRACE(c.pattern);
        present = c.mediumPresent;
        EXPECT_EQ(system.FindFirstFileA(c.pattern, &found), win::invalidHandleValue());
        EXPECT_EQ(system.GetLastError(), c.error);
    }
    EXPECT_EQ(system.openHandleCount(), 0u);
}

TEST_F(SimSystemTest, DrivesAndTheirTypes) {
    setup_.drives['C'] = {win::DRIVE_FIXED, [] { return true; }, {}};
    setup_.drives['E'] = {win::DRIVE_REMOVABLE, [] { return true; }, {}};
    SimSystem system(setup_, mutexes_);
    EXPECT_EQ(system.GetLogicalDrives(), (1u << 2) | (1u << 4));
    EXPECT_EQ(system.GetDriveTypeA("E:\\"), win::DRIVE_REMOVABLE);
    EXPECT_EQ(system.GetDriveTypeA("e:\\"), win::DRIVE_REMOVABLE);
    EXPECT_EQ(system.GetDriveTypeA("C:\\"), win::DRIVE_FIXED);
    EXPECT_EQ(system.GetDriveTypeA("G:\\"), win::DRIVE_NO_ROOT_DIR);
}

TEST_F(SimSystemTest, CurrentDirectoryReportsTheSizeItNeeds) {
    SimSystem system(setup_, mutexes_);
    char small[4] = {};
    EXPECT_EQ(system.GetCurrentDirectoryA(sizeof small, small), setup_.currentDirectory.size() + 1);
    std::vector<char> enough(setup_.currentDirectory.size() + 1);
    EXPECT_EQ(system.GetCurrentDirectoryA(static_cast<win::DWORD>(enough.size()), enough.data()),
              setup_.currentDirectory.size());
    EXPECT_STREQ(enough.data(), "C:\\Tools\\Kavo");
}

TEST_F(SimSystemTest, CurrentDirectoryFaultFailsEveryAsk) {
    setup_.faults.failCurrentDirectory = true;
    SimSystem system(setup_, mutexes_);
    std::vector<char> enough(setup_.currentDirectory.size() + 1);
    EXPECT_EQ(system.GetCurrentDirectoryA(0, nullptr), 0u);
    EXPECT_EQ(system.GetCurrentDirectoryA(static_cast<win::DWORD>(enough.size()), enough.data()),
              0u);
    EXPECT_NE(system.GetLastError(), 0u);
}

TEST_F(SimSystemTest, FilesOfTheProgramFolderAreFoundAsWindowsWouldFindThem) {
    SimSystem system(setup_, mutexes_);
    struct Case {
        const char* path;
        bool opens;
        win::DWORD error;
    };
    const Case cases[] = {
        {".\\firmtable.txt", true, 0},
        {"FIRMTABLE.TXT", true, 0},
        {"C:\\tools\\KAVO\\firmtable.txt", true, 0},
        {"sub\\..\\firmtable.txt", true, 0},
        {"FW\\Mini.S28", true, 0},
        {"fw/mini.s28", true, 0},
        {"fw\\gone.s28", false, static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND)},
        {"firmtable.txt\r", false, 123},
        {"missing.s28", false, static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND)},
        {"C:\\Other\\firmtable.txt", false, static_cast<win::DWORD>(win::ERROR_FILE_NOT_FOUND)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const win::HANDLE file = system.CreateFileA(c.path, win::GENERIC_READ, win::FILE_SHARE_READ,
                                                    win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
        if (!c.opens) {
            EXPECT_EQ(file, win::invalidHandleValue());
            EXPECT_EQ(system.GetLastError(), c.error);
            continue;
        }
        ASSERT_NE(file, win::invalidHandleValue());
        EXPECT_EQ(system.GetFileSize(file, nullptr), 11u);
        char bytes[32] = {};
        win::DWORD read = 0;
        EXPECT_EQ(system.ReadFile(file, bytes, 5, &read), win::TRUE);
        EXPECT_EQ(read, 5u);
        EXPECT_EQ(system.ReadFile(file, bytes + 5, sizeof bytes, &read), win::TRUE);
        EXPECT_EQ(read, 6u);
        EXPECT_STREQ(bytes, "table bytes");
        EXPECT_EQ(system.CloseHandle(file), win::TRUE);
    }
    EXPECT_EQ(system.openHandleCount(), 0u);
}

TEST_F(SimSystemTest, LibrariesComeFromTheMachinesLoader) {
    SimSystem system(setup_, mutexes_);
    const auto english = reinterpret_cast<win::HMODULE>(std::uintptr_t{0x1000});
    system.setLibraryLoader(
        [&](const std::string& name) { return name == "KELDRA_ENG.dll" ? english : nullptr; },
        [&](win::HMODULE module) { return module == english; });
    EXPECT_EQ(system.LoadLibraryA("KELDRA_FRA.dll"), nullptr);
    EXPECT_EQ(system.LoadLibraryA("KELDRA_ENG.dll"), english);
    EXPECT_EQ(system.FreeLibrary(english), win::TRUE);
    EXPECT_EQ(system.librariesFreed(), 1u);
    EXPECT_EQ(system.librariesLoaded(),
              (std::vector<std::string>{"KELDRA_FRA.dll", "KELDRA_ENG.dll"}));
}

// The steps of reading the token as the administrator test takes them; the
// first that fails, and its error (none when all pass).
struct TokenWalk {
    int failedStep = -1;  // 0 open, 1 size query, 2 read groups, 3 allocate the SID
    win::DWORD error = 0;
};

TokenWalk walkToken(SimSystem& system) {
    TokenWalk walk;
    win::HANDLE token = nullptr;
    win::DWORD needed = 0;
    std::vector<std::uint64_t> block;
    win::PSID sid = nullptr;
    const std::function<bool()> steps[] = {
        [&] { return system.OpenProcessToken(win::TOKEN_QUERY, &token) == win::TRUE; },
        [&] {
            return system.GetTokenInformation(token, win::TokenGroups, nullptr, 0, &needed) ==
                       win::FALSE &&
                   system.GetLastError() == static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER);
        },
        [&] {
            block.resize((needed + 7) / 8);
            return system.GetTokenInformation(token, win::TokenGroups, block.data(), needed,
                                              &needed) == win::TRUE;
        },
        [&] {
            return system.AllocateAndInitializeSid(&win::SECURITY_NT_AUTHORITY, 2,
                                                   win::SECURITY_BUILTIN_DOMAIN_RID,
                                                   win::DOMAIN_ALIAS_RID_ADMINS, &sid) == win::TRUE;
        },
    };
    for (int step = 0; step < static_cast<int>(std::size(steps)); ++step) {
        if (!steps[step]()) {
            walk.failedStep = step;
            walk.error = system.GetLastError();
            break;
        }
    }
    if (sid != nullptr) system.FreeSid(sid);
    if (token != nullptr) system.CloseHandle(token);
    return walk;
}

TEST_F(SimSystemTest, TokenFaultsFailTheirOwnStepWithItsError) {
    struct Case {
        const char* name;
        sim::TokenFault fault;
        win::DWORD sizeQueryError;
        int failedStep;
        win::DWORD error;
    };
    constexpr win::DWORD kAccessDenied = static_cast<win::DWORD>(win::ERROR_ACCESS_DENIED);
    constexpr win::DWORD kNoToken = 1008;
    constexpr win::DWORD kNotEnoughMemory = 8;
    constexpr win::DWORD kInvalidHandle = static_cast<win::DWORD>(win::ERROR_INVALID_HANDLE);
    const Case cases[] = {
        {"none", sim::TokenFault::None, kAccessDenied, -1, 0},
        {"open", sim::TokenFault::OpenToken, kAccessDenied, 0, kNoToken},
        {"size query", sim::TokenFault::SizeQuery, kAccessDenied, 1, kAccessDenied},
        {"size query, own error", sim::TokenFault::SizeQuery, kInvalidHandle, 1, kInvalidHandle},
        {"read groups", sim::TokenFault::ReadGroups, kAccessDenied, 2,
         static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER)},
        {"allocate SID", sim::TokenFault::AllocateSid, kAccessDenied, 3, kNotEnoughMemory},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        setup_.faults.token = c.fault;
        setup_.faults.sizeQueryError = c.sizeQueryError;
        SimSystem system(setup_, mutexes_);
        const TokenWalk walk = walkToken(system);
        EXPECT_EQ(walk.failedStep, c.failedStep);
        EXPECT_EQ(walk.error, c.error);
        EXPECT_EQ(system.openHandleCount(), 0u);
        EXPECT_EQ(system.liveSidCount(), 0u);
    }
}

// Only the builtin domain's 544 is the Administrators group.
TEST_F(SimSystemTest, GroupOfAnotherDomainIsNotTheBuiltinOne) {
    constexpr win::DWORD kOtherDomain = 21;
    setup_.tokenGroups = {{win::DOMAIN_ALIAS_RID_ADMINS, win::SE_GROUP_ENABLED, kOtherDomain}};
    SimSystem system(setup_, mutexes_);
    EXPECT_FALSE(tokenHoldsEnabled(system, win::DOMAIN_ALIAS_RID_ADMINS));
}

TEST_F(SimSystemTest, OverstatedGroupCountClaimsMoreThanTheBlockHolds) {
    setup_.faults.overstateGroupCount = true;
    SimSystem system(setup_, mutexes_);
    win::HANDLE token = nullptr;
    ASSERT_EQ(system.OpenProcessToken(win::TOKEN_QUERY, &token), win::TRUE);
    win::DWORD needed = 0;
    system.GetTokenInformation(token, win::TokenGroups, nullptr, 0, &needed);
    std::vector<std::uint64_t> block((needed + 7) / 8);
    ASSERT_EQ(system.GetTokenInformation(token, win::TokenGroups, block.data(), needed, &needed),
              win::TRUE);
    const auto* groups = reinterpret_cast<const win::TOKEN_GROUPS*>(block.data());
    EXPECT_GT(
        offsetof(win::TOKEN_GROUPS, Groups) + groups->GroupCount * sizeof(win::SID_AND_ATTRIBUTES),
        needed);
    system.CloseHandle(token);
}

TEST_F(SimSystemTest, LookUpFaultsFailThePrivilegeAndTheLocale) {
    setup_.faults.failPrivilegeLookup = true;
    setup_.faults.failLocaleLookup = true;
    SimSystem system(setup_, mutexes_);
    win::LUID luid{};
    EXPECT_EQ(system.LookupPrivilegeValueA(win::SE_SHUTDOWN_NAME, &luid), win::FALSE);
    EXPECT_NE(system.GetLastError(), 0u);
    char name[8] = {};
    EXPECT_EQ(system.GetLocaleInfoA(win::LOCALE_SYSTEM_DEFAULT, win::LOCALE_SABBREVLANGNAME, name,
                                    sizeof name),
              0);
}

// Bytes given for a file of the program folder are found as a host file is
// (any letter case, through "." and the full path) and before it.
TEST_F(SimSystemTest, ProgramFilesGivenAsBytesComeBeforeTheHostFolder) {
    setup_.programFiles["FirmTable.txt"] = {'b', 'y', 't', 'e', 's'};
    setup_.programFiles["fw\\New.s28"] = {'n', 'e', 'w'};
    SimSystem system(setup_, mutexes_);
    struct Case {
        const char* path;
        const char* content;  // null: not found
    };
    const Case cases[] = {
        {"firmtable.txt", "bytes"},
        {".\\FIRMTABLE.TXT", "bytes"},
        {"C:\\Tools\\Kavo\\fw\\new.S28", "new"},
        {"fw\\mini.s28", "table bytes"},
        {"new.s28", nullptr},
        {"C:\\Other\\firmtable.txt", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const win::HANDLE file = system.CreateFileA(c.path, win::GENERIC_READ, win::FILE_SHARE_READ,
                                                    win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
        if (c.content == nullptr) {
            EXPECT_EQ(file, win::invalidHandleValue());
            continue;
        }
        ASSERT_NE(file, win::invalidHandleValue());
        char bytes[32] = {};
        win::DWORD read = 0;
        EXPECT_EQ(system.ReadFile(file, bytes, sizeof bytes - 1, &read), win::TRUE);
        EXPECT_STREQ(bytes, c.content);
        EXPECT_EQ(system.openHandleCount(SimSystem::HandleKind::File), 1u);
        system.CloseHandle(file);
    }
    EXPECT_EQ(system.openHandleCount(), 0u);
}

TEST_F(SimSystemTest, ReadsFailOnceTheFaultsByteCountIsReached) {
    setup_.faults.failReadsAfter = 7;
    SimSystem system(setup_, mutexes_);
    std::string watched;
    system.setFileWatcher([&watched](const std::string&, const std::optional<std::string>&,
                                     win::DWORD, std::span<const std::uint8_t> content) {
        watched.assign(content.begin(), content.end());
    });
    const win::HANDLE file =
        system.CreateFileA("firmtable.txt", win::GENERIC_READ, win::FILE_SHARE_READ,
                           win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL);
    ASSERT_NE(file, win::invalidHandleValue());
    char bytes[32] = {};
    win::DWORD read = 0;
    EXPECT_EQ(system.ReadFile(file, bytes, 5, &read), win::TRUE);
    EXPECT_EQ(read, 5u);
    EXPECT_EQ(system.ReadFile(file, bytes + 5, 10, &read), win::TRUE);
    EXPECT_EQ(read, 2u) << "a read that reaches the fault stops at it";
    EXPECT_EQ(system.ReadFile(file, bytes + 7, 10, &read), win::FALSE);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(system.GetLastError(), static_cast<win::DWORD>(win::ERROR_IO_DEVICE));
    EXPECT_STREQ(bytes, "table b");
    EXPECT_EQ(watched, "table b") << "the watcher is told only what the program can read";
    system.CloseHandle(file);
}

}  // namespace

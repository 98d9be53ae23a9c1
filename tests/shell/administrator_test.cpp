#include "shell/administrator.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "support/fake_system.h"

namespace {

using testsupport::FakeGroup;
using testsupport::TokenFault;

constexpr win::DWORD kEnabled = win::SE_GROUP_ENABLED;
constexpr win::DWORD kDenyOnly = win::SE_GROUP_USE_FOR_DENY_ONLY;
constexpr win::DWORD kAdmins = win::DOMAIN_ALIAS_RID_ADMINS;
constexpr win::DWORD kUsers = win::DOMAIN_ALIAS_RID_USERS;
// A result the test could not have made: shows whether it was touched.
constexpr int kUntouched = 7;

struct MembershipCase {
    const char* description;
    std::vector<FakeGroup> groups;
    TokenFault fault;
    win::DWORD platformId;
    int expectedReturn;
    int expectedMember;
};

void PrintTo(const MembershipCase& c, std::ostream* out) {
    *out << c.description;
}

const MembershipCase kMembershipCases[] = {
    {"enabled administrator",
     {{kUsers, kEnabled}, {kAdmins, kEnabled}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_NT,
     1,
     1},
    {"administrators for deny only",
     {{kUsers, kEnabled}, {kAdmins, kDenyOnly}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_NT,
     1,
     0},
    {"administrators with no attribute",
     {{kAdmins, 0}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_NT,
     1,
     0},
    {"no administrators group",
     {{kUsers, kEnabled}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_NT,
     1,
     0},
    {"no groups at all", {}, TokenFault::None, win::VER_PLATFORM_WIN32_NT, 1, 0},
    {"544 of another domain",
     {{kAdmins, kEnabled, 21}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_NT,
     1,
     0},
    {"deny-only entry before an enabled one",
     {{kAdmins, kDenyOnly}, {kAdmins, kEnabled}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_NT,
     1,
     1},
    {"token cannot be opened",
     {{kAdmins, kEnabled}},
     TokenFault::OpenToken,
     win::VER_PLATFORM_WIN32_NT,
     0,
     0},
    {"size query fails otherwise",
     {{kAdmins, kEnabled}},
     TokenFault::SizeQuery,
     win::VER_PLATFORM_WIN32_NT,
     0,
     0},
    {"groups cannot be read",
     {{kAdmins, kEnabled}},
     TokenFault::ReadGroups,
     win::VER_PLATFORM_WIN32_NT,
     0,
     0},
    {"SID cannot be built",
     {{kAdmins, kEnabled}},
     TokenFault::AllocateSid,
     win::VER_PLATFORM_WIN32_NT,
     0,
     0},
    {"not the NT family",
     {{kAdmins, kEnabled}},
     TokenFault::None,
     win::VER_PLATFORM_WIN32_WINDOWS,
     0,
     kUntouched},
};

class MembershipTest : public testing::TestWithParam<MembershipCase> {};

TEST_P(MembershipTest, JudgesTheTokenAndReleasesEverything) {
    const MembershipCase& c = GetParam();
    testsupport::FakeSystem system;
    system.groups = c.groups;
    system.tokenFault = c.fault;
    system.version.dwPlatformId = c.platformId;
    int isMember = kUntouched;

    EXPECT_EQ(shell::isAdministrator(system, &isMember), c.expectedReturn) << c.description;
    EXPECT_EQ(isMember, c.expectedMember) << c.description;
    EXPECT_EQ(system.openHandleCount(), 0) << c.description;
    EXPECT_EQ(system.liveSidCount(), 0) << c.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, MembershipTest, testing::ValuesIn(kMembershipCases));

TEST(Membership, AsksForTheGivenBuiltinGroup) {
    testsupport::FakeSystem system;
    system.groups = {{kUsers, kEnabled}};
    int isMember = 0;
    EXPECT_EQ(shell::isBuiltinGroupMember(system, kUsers, &isMember), 1);
    EXPECT_EQ(isMember, 1);
    EXPECT_EQ(shell::isBuiltinGroupMember(system, kAdmins, &isMember), 1);
    EXPECT_EQ(isMember, 0);
}

TEST(Membership, OpensTheTokenForQueryOnly) {
    testsupport::FakeSystem system;
    int isMember = 0;
    shell::isAdministrator(system, &isMember);
    ASSERT_FALSE(system.powerCalls.empty());
    EXPECT_EQ(system.powerCalls.front(), "OpenProcessToken(8)");
}

TEST(Membership, NullResultPointerIsRefused) {
    testsupport::FakeSystem system;
    EXPECT_EQ(shell::isAdministrator(system, nullptr), 0);
    EXPECT_EQ(system.openHandleCount(), 0);
}

// A system that claims more groups than its block holds must not make the
// walk read past the block (the sanitizer build shows an over-read).
TEST(Membership, GroupCountLargerThanTheBlockIsBounded) {
    testsupport::FakeSystem system;
    system.groups = {{kUsers, kEnabled}};
    system.overstateGroupCount = true;
    int isMember = kUntouched;
    EXPECT_EQ(shell::isAdministrator(system, &isMember), 1);
    EXPECT_EQ(isMember, 0);
    EXPECT_EQ(system.liveSidCount(), 0);
}

struct VersionCase {
    win::DWORD platformId;
    int expected;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << "platform " << c.platformId;
}

class WindowsNtTest : public testing::TestWithParam<VersionCase> {};

// The fake answers only a record whose size field is that of OSVERSIONINFOA.
TEST_P(WindowsNtTest, ReadsThePlatformIdFromAFullSizedRecord) {
    testsupport::FakeSystem system;
    system.version.dwPlatformId = GetParam().platformId;
    EXPECT_EQ(shell::isWindowsNt(system), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Platforms, WindowsNtTest,
                         testing::Values(VersionCase{win::VER_PLATFORM_WIN32_NT, 1},
                                         VersionCase{win::VER_PLATFORM_WIN32_WINDOWS, 0},
                                         VersionCase{0, 0}, VersionCase{3, 0}));

}  // namespace

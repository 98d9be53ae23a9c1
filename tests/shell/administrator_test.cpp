#include "shell/administrator.h"

#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "support/sim_process.h"

namespace {

using sim::TokenFault;
using sim::TokenGroup;
using testsupport::SimProcess;

constexpr win::DWORD kEnabled = win::SE_GROUP_ENABLED;
constexpr win::DWORD kDenyOnly = win::SE_GROUP_USE_FOR_DENY_ONLY;
constexpr win::DWORD kAdmins = win::DOMAIN_ALIAS_RID_ADMINS;
constexpr win::DWORD kUsers = win::DOMAIN_ALIAS_RID_USERS;
constexpr win::DWORD kAnotherDomain = 21;
constexpr win::DWORD kNt = win::VER_PLATFORM_WIN32_NT;
// A result the test could not have made: shows whether it was touched.
constexpr int kUntouched = 7;

struct MembershipCase {
    const char* description;
    std::vector<TokenGroup> groups;
    TokenFault fault = TokenFault::None;
    win::DWORD platformId = kNt;
    int expectedReturn = 1;
    int expectedMember = 0;
};

void PrintTo(const MembershipCase& c, std::ostream* out) {
    *out << c.description;
}

const MembershipCase kMembershipCases[] = {
    {.description = "enabled administrator",
     .groups = {{kUsers, kEnabled}, {kAdmins, kEnabled}},
     .expectedMember = 1},
    {.description = "administrators for deny only",
     .groups = {{kUsers, kEnabled}, {kAdmins, kDenyOnly}}},
    {.description = "administrators with no attribute", .groups = {{kAdmins, 0}}},
    {.description = "no administrators group", .groups = {{kUsers, kEnabled}}},
    {.description = "no groups at all", .groups = {}},
    {.description = "544 of another domain", .groups = {{kAdmins, kEnabled, kAnotherDomain}}},
    {.description = "deny-only entry before an enabled one",
     .groups = {{kAdmins, kDenyOnly}, {kAdmins, kEnabled}},
     .expectedMember = 1},
    {.description = "token cannot be opened",
     .groups = {{kAdmins, kEnabled}},
     .fault = TokenFault::OpenToken,
     .expectedReturn = 0},
    {.description = "size query fails otherwise",
     .groups = {{kAdmins, kEnabled}},
     .fault = TokenFault::SizeQuery,
     .expectedReturn = 0},
    {.description = "groups cannot be read",
     .groups = {{kAdmins, kEnabled}},
     .fault = TokenFault::ReadGroups,
     .expectedReturn = 0},
    {.description = "SID cannot be built",
     .groups = {{kAdmins, kEnabled}},
     .fault = TokenFault::AllocateSid,
     .expectedReturn = 0},
    {.description = "not the NT family",
     .groups = {{kAdmins, kEnabled}},
     .platformId = win::VER_PLATFORM_WIN32_WINDOWS,
     .expectedReturn = 0,
     .expectedMember = kUntouched},
};

class MembershipTest : public testing::TestWithParam<MembershipCase> {};

TEST_P(MembershipTest, JudgesTheTokenAndReleasesEverything) {
    const MembershipCase& c = GetParam();
    SimProcess process;
    process.setup.tokenGroups = c.groups;
    process.setup.faults.token = c.fault;
    process.setup.platformId = c.platformId;
    int isMember = kUntouched;

    EXPECT_EQ(shell::isAdministrator(process.system, &isMember), c.expectedReturn) << c.description;
    EXPECT_EQ(isMember, c.expectedMember) << c.description;
    EXPECT_EQ(process.simSystem.openHandleCount(), 0u) << c.description;
    EXPECT_EQ(process.simSystem.liveSidCount(), 0u) << c.description;
}

INSTANTIATE_TEST_SUITE_P(Cases, MembershipTest, testing::ValuesIn(kMembershipCases));

TEST(Membership, AsksForTheGivenBuiltinGroup) {
    SimProcess process;
    process.setup.tokenGroups = {{kUsers, kEnabled}};
    int isMember = 0;
    EXPECT_EQ(shell::isBuiltinGroupMember(process.system, kUsers, &isMember), 1);
    EXPECT_EQ(isMember, 1);
    EXPECT_EQ(shell::isBuiltinGroupMember(process.system, kAdmins, &isMember), 1);
    EXPECT_EQ(isMember, 0);
}

TEST(Membership, OpensTheTokenForQueryOnly) {
    SimProcess process;
    int isMember = 0;
    shell::isAdministrator(process.system, &isMember);
    EXPECT_EQ(process.system.callsNamed({"OpenProcessToken"}),
              std::vector<std::string>{"OpenProcessToken(8)"});
}

TEST(Membership, NullResultPointerIsRefused) {
    SimProcess process;
    EXPECT_EQ(shell::isAdministrator(process.system, nullptr), 0);
    EXPECT_EQ(process.simSystem.openHandleCount(), 0u);
}

// A system that claims more groups than its block holds must not make the
// walk read past the block (the sanitizer build shows an over-read).
TEST(Membership, GroupCountLargerThanTheBlockIsBounded) {
    SimProcess process;
    process.setup.tokenGroups = {{kUsers, kEnabled}};
    process.setup.faults.overstateGroupCount = true;
    int isMember = kUntouched;
    EXPECT_EQ(shell::isAdministrator(process.system, &isMember), 1);
    EXPECT_EQ(isMember, 0);
    EXPECT_EQ(process.simSystem.liveSidCount(), 0u);
}

struct VersionCase {
    win::DWORD platformId;
    int expected;
};

void PrintTo(const VersionCase& c, std::ostream* out) {
    *out << "platform " << c.platformId;
}

class WindowsNtTest : public testing::TestWithParam<VersionCase> {};

// The system answers only a record whose size field is that of OSVERSIONINFOA.
TEST_P(WindowsNtTest, ReadsThePlatformIdFromAFullSizedRecord) {
    SimProcess process;
    process.setup.platformId = GetParam().platformId;
    EXPECT_EQ(shell::isWindowsNt(process.system), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Platforms, WindowsNtTest,
                         testing::Values(VersionCase{win::VER_PLATFORM_WIN32_NT, 1},
                                         VersionCase{win::VER_PLATFORM_WIN32_WINDOWS, 0},
                                         VersionCase{0, 0}, VersionCase{3, 0}));

}  // namespace

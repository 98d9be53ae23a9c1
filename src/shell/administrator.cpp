#include "shell/administrator.h"

#include <cstddef>
#include <cstring>
#include <vector>

namespace shell {

namespace {

constexpr win::BYTE kBuiltinSubAuthorityCount = 2;

// The token's groups as GetTokenInformation leaves them: a count followed by
// that many entries. The entries are read by copying them out of the block,
// and only those that lie wholly inside it: a count larger than the block
// must not make the walk read past its end.
class TokenGroupsBlock {
  public:
    explicit TokenGroupsBlock(const std::vector<std::byte>& block) : block_(block) {}

    std::size_t entryCount() const {
        if (block_.size() < sizeof(win::DWORD)) return 0;
        win::DWORD count = 0;
        std::memcpy(&count, block_.data(), sizeof count);
        const std::size_t room =
            block_.size() < kEntriesOffset ? 0 : (block_.size() - kEntriesOffset) / kEntrySize;
        return count < room ? count : room;
    }

    win::SID_AND_ATTRIBUTES entry(std::size_t index) const {
        win::SID_AND_ATTRIBUTES group{};
        std::memcpy(&group, block_.data() + kEntriesOffset + index * kEntrySize, kEntrySize);
        return group;
    }

  private:
    static constexpr std::size_t kEntriesOffset = offsetof(win::TOKEN_GROUPS, Groups);
    static constexpr std::size_t kEntrySize = sizeof(win::SID_AND_ATTRIBUTES);

    const std::vector<std::byte>& block_;
};

bool holdsEnabledGroup(platform::System& system, const TokenGroupsBlock& groups, win::PSID wanted) {
    for (std::size_t index = 0; index < groups.entryCount(); ++index) {
        const win::SID_AND_ATTRIBUTES group = groups.entry(index);
        // A group present only for deny matches the SID but is not enabled.
        if (system.EqualSid(wanted, group.Sid) != win::FALSE &&
            (group.Attributes & win::SE_GROUP_ENABLED) != 0) {
            return true;
        }
    }
    return false;
}

// Everything after the token is open; the caller closes the token on every
// path.
int testTokenGroups(platform::System& system, win::HANDLE token, win::DWORD rid, int* isMember) {
    win::DWORD needed = 0;
    if (system.GetTokenInformation(token, win::TokenGroups, nullptr, 0, &needed) == win::FALSE &&
        system.GetLastError() != static_cast<win::DWORD>(win::ERROR_INSUFFICIENT_BUFFER)) {
        return 0;
    }
    // Stands for the zero-filled global block; it is released on every path.
    std::vector<std::byte> block(needed);
    if (system.GetTokenInformation(token, win::TokenGroups, block.data(), needed, &needed) ==
        win::FALSE) {
        return 0;
    }
    win::PSID groupSid = nullptr;
    if (system.AllocateAndInitializeSid(&win::SECURITY_NT_AUTHORITY, kBuiltinSubAuthorityCount,
                                        win::SECURITY_BUILTIN_DOMAIN_RID, rid,
                                        &groupSid) == win::FALSE) {
        return 0;
    }
    if (holdsEnabledGroup(system, TokenGroupsBlock(block), groupSid)) *isMember = 1;
    system.FreeSid(groupSid);
    return 1;
}

}  // namespace

int isWindowsNt(platform::System& system) {
    win::OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    system.GetVersionExA(&version);
    return version.dwPlatformId == win::VER_PLATFORM_WIN32_NT ? 1 : 0;
}

int isBuiltinGroupMember(platform::System& system, win::DWORD rid, int* isMember) {
    if (isMember == nullptr || isWindowsNt(system) == 0) return 0;
    *isMember = 0;
    win::HANDLE token = nullptr;
    if (system.OpenProcessToken(win::TOKEN_QUERY, &token) == win::FALSE) return 0;
    const int tested = testTokenGroups(system, token, rid, isMember);
    system.CloseHandle(token);
    return tested;
}

int isAdministrator(platform::System& system, int* isMember) {
    return isBuiltinGroupMember(system, win::DOMAIN_ALIAS_RID_ADMINS, isMember);
}

}  // namespace shell

#include "support/conformance.h"

#include <cstring>
#include <vector>

// Identity: the engine decides whether the user is an administrator by
// impersonating itself and running an access check against a descriptor
// that grants access to BUILTIN\Administrators only.
namespace {

PSID NewSid(std::initializer_list<DWORD> subs) {
    SID_IDENTIFIER_AUTHORITY nt = SECURITY_NT_AUTHORITY;
    DWORD s[8] = {0};
    BYTE n = 0;
    for (DWORD sub : subs)
        s[n++] = sub;
    PSID sid = nullptr;
    EXPECT_TRUE(
        AllocateAndInitializeSid(&nt, n, s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], &sid));
    return sid;
}

// A descriptor whose DACL holds one access-allowed entry per (sid, mask);
// owner and group are the first SID. Owns everything it allocates.
class Descriptor {
public:
    Descriptor(std::vector<std::pair<PSID, DWORD>> entries, bool withDacl = true,
               bool withOwner = true) {
        m_sd = LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH);
        EXPECT_TRUE(InitializeSecurityDescriptor(m_sd, SECURITY_DESCRIPTOR_REVISION));
        DWORD size = sizeof(ACL);
        for (const auto& entry : entries)
            size += GetLengthSid(entry.first) + 8;
        m_acl = static_cast<PACL>(LocalAlloc(LPTR, size));
        EXPECT_TRUE(InitializeAcl(m_acl, size, ACL_REVISION2));
        for (const auto& entry : entries)
            EXPECT_TRUE(AddAccessAllowedAce(m_acl, ACL_REVISION2, entry.second, entry.first));
        EXPECT_TRUE(SetSecurityDescriptorDacl(m_sd, TRUE, withDacl ? m_acl : nullptr, FALSE));
        m_owner = NewSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
        if (withOwner) {
            EXPECT_TRUE(SetSecurityDescriptorOwner(m_sd, m_owner, FALSE));
            EXPECT_TRUE(SetSecurityDescriptorGroup(m_sd, m_owner, FALSE));
        }
    }
    ~Descriptor() {
        FreeSid(m_owner);
        LocalFree(m_acl);
        LocalFree(m_sd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    PSECURITY_DESCRIPTOR Get() const { return m_sd; }

private:
    PSECURITY_DESCRIPTOR m_sd = nullptr;
    PACL m_acl = nullptr;
    PSID m_owner = nullptr;
};

struct CheckResult {
    BOOL ok;
    DWORD error;
    DWORD granted;
    BOOL status;
};

CheckResult RunAccessCheck(PSECURITY_DESCRIPTOR sd, HANDLE token, DWORD desired) {
    GENERIC_MAPPING mapping = {1, 2, 0, 3};
    alignas(8) BYTE privileges[20] = {0};
    DWORD privilegesLength = sizeof(privileges);
    CheckResult r = {FALSE, 0, 0xdeadbeef, 0xdead};
    SetLastError(0xdeadbeef);
    r.ok = AccessCheck(sd, token, desired, &mapping, reinterpret_cast<PPRIVILEGE_SET>(privileges),
                       &privilegesLength, &r.granted, &r.status);
    r.error = GetLastError();
    return r;
}

// Holds an impersonation token of the calling thread for one test.
class SelfImpersonation {
public:
    SelfImpersonation() {
        EXPECT_TRUE(ImpersonateSelf(SecurityImpersonation));
        EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &m_token));
    }
    ~SelfImpersonation() {
        CloseHandle(m_token);
        RevertToSelf();
    }
    SelfImpersonation(const SelfImpersonation&) = delete;
    SelfImpersonation& operator=(const SelfImpersonation&) = delete;
    HANDLE Token() const { return m_token; }

private:
    HANDLE m_token = nullptr;
};

} // namespace

TEST(Identity, VersionOfAnUnmanifestedProgram) {
    OSVERSIONINFOA version;
    std::memset(&version, 0xcc, sizeof(version));
    version.dwOSVersionInfoSize = sizeof(version);
    ASSERT_TRUE(GetVersionExA(&version));
    EXPECT_EQ(DWORD(VER_PLATFORM_WIN32_NT), version.dwPlatformId);
    EXPECT_GE(version.dwMajorVersion, 6u);
    if (hmtest::RunningOnStandIn()) {
        EXPECT_EQ(6u, version.dwMajorVersion);
        EXPECT_EQ(2u, version.dwMinorVersion);
        EXPECT_EQ(9200u, version.dwBuildNumber);
    } else {
        std::printf("note: Wine reports version %u.%u build %u\n", unsigned(version.dwMajorVersion),
                    unsigned(version.dwMinorVersion), unsigned(version.dwBuildNumber));
    }

    version.dwOSVersionInfoSize = sizeof(version) - 1;
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(GetVersionExA(&version));
    EXPECT_EQ(unsigned(ERROR_INSUFFICIENT_BUFFER), GetLastError());
}

TEST(Identity, AclSizedForOneEntryHoldsExactlyOne) {
    PSID sid = NewSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
    const DWORD size = GetLengthSid(sid) + 16;
    std::vector<DWORD> storage(size / 4 + 1, 0xdeadbeef);
    auto* acl = reinterpret_cast<PACL>(storage.data());
    ASSERT_TRUE(InitializeAcl(acl, size, ACL_REVISION2));
    EXPECT_EQ(size, acl->AclSize);
    EXPECT_EQ(0, acl->AceCount);
    SetLastError(0xdeadbeef);
    EXPECT_TRUE(AddAccessAllowedAce(acl, ACL_REVISION2, 3, sid));
    EXPECT_EQ(1, acl->AceCount);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(AddAccessAllowedAce(acl, ACL_REVISION2, 3, sid));
    EXPECT_EQ(unsigned(ERROR_ALLOTTED_SPACE_EXCEEDED), GetLastError());
    EXPECT_EQ(1, acl->AceCount);
    EXPECT_EQ(0xdeadbeefu, storage[size / 4]) << "wrote past the ACL";

    SetLastError(0xdeadbeef);
    EXPECT_FALSE(InitializeAcl(acl, 4, ACL_REVISION2));
    EXPECT_EQ(unsigned(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    FreeSid(sid);
}

TEST(Identity, AccessCheckNeedsAnImpersonationToken) {
    HANDLE threadToken = reinterpret_cast<HANDLE>(0xdeadbeef);
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &threadToken));
    EXPECT_EQ(unsigned(ERROR_NO_TOKEN), GetLastError()) << "no token before impersonating";
    {
        SelfImpersonation self;
        EXPECT_NE(nullptr, self.Token());
    }
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, FALSE, &threadToken));
    EXPECT_EQ(unsigned(ERROR_NO_TOKEN), GetLastError()) << "nor after reverting";

    PSID admins = NewSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
    Descriptor sd({{admins, 3}});
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    const CheckResult r = RunAccessCheck(sd.Get(), token, 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(unsigned(ERROR_NO_IMPERSONATION_TOKEN), r.error);
    EXPECT_TRUE(CloseHandle(token));
    FreeSid(admins);
}

// Runs with the test user's own token: an administrator under Wine and on
// the default simulated machine.
TEST(Identity, AccessCheckFollowsTheDacl) {
    PSID admins = NewSid({SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
    PSID localSystem = NewSid({18});
    SelfImpersonation self;
    struct Case {
        const char* what;
        std::vector<std::pair<PSID, DWORD>> entries;
        bool withDacl;
        DWORD desired;
        BOOL status;
        DWORD granted;
        DWORD error;
    } cases[] = {
        {"read granted to administrators", {{admins, 3}}, true, 1, TRUE, 1, 0xdeadbeef},
        {"read and write", {{admins, 3}}, true, 3, TRUE, 3, 0xdeadbeef},
        {"write not granted", {{admins, 1}}, true, 2, FALSE, 0, ERROR_ACCESS_DENIED},
        {"other principal only", {{localSystem, 3}}, true, 1, FALSE, 0, ERROR_ACCESS_DENIED},
        {"empty DACL", {}, true, 1, FALSE, 0, ERROR_ACCESS_DENIED},
        {"null DACL grants all", {}, false, 1, TRUE, 1, 0xdeadbeef},
    };
    for (const auto& c : cases) {
        Descriptor sd(c.entries, c.withDacl);
        const CheckResult r = RunAccessCheck(sd.Get(), self.Token(), c.desired);
        EXPECT_TRUE(r.ok) << c.what << ", error " << r.error;
        EXPECT_EQ(c.status, r.status) << c.what;
        EXPECT_EQ(c.granted, r.granted) << c.what;
        EXPECT_EQ(c.error, r.error) << c.what;
    }

    Descriptor ownerless({{admins, 3}}, true, false);
    const CheckResult r = RunAccessCheck(ownerless.Get(), self.Token(), 1);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(unsigned(ERROR_INVALID_SECURITY_DESCR), r.error);
    FreeSid(localSystem);
    FreeSid(admins);
}

#include "registry/reg_key.h"

#include <memory>

namespace {

// The test asks AccessCheck whether the caller's token could read a
// descriptor whose only entry grants read to BUILTIN\Administrators: that
// answers group membership the same way for elevated, filtered and
// impersonation tokens.
constexpr DWORD kAccessRead = 1;
constexpr DWORD kAccessWrite = 2;
constexpr DWORD kPrivilegeSetBytes = 20;

struct SidDeleter {
    void operator()(void* sid) const { FreeSid(sid); }
};
struct LocalDeleter {
    void operator()(void* memory) const { LocalFree(memory); }
};
using OwnedSid = std::unique_ptr<void, SidDeleter>;
using OwnedLocal = std::unique_ptr<void, LocalDeleter>;

bool IsNtPlatform() {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof(version);
    // Without an answer, or on a system without access control, everyone
    // counts as an administrator.
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// The check runs under the thread's own impersonation token, and no path out
// of it may leave the thread impersonating: a worker would go on with a
// token it never asked for.
class CSelfImpersonation {
public:
    CSelfImpersonation() noexcept : m_active(ImpersonateSelf(SecurityImpersonation) != FALSE) {}
    ~CSelfImpersonation() {
        if (m_active)
            RevertToSelf();
    }
    CSelfImpersonation(const CSelfImpersonation&) = delete;
    CSelfImpersonation& operator=(const CSelfImpersonation&) = delete;

private:
    const bool m_active;
};

Orvel::THandle CallerToken() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token))
        return Orvel::THandle(token);
    if (GetLastError() != ERROR_NO_TOKEN)
        return Orvel::THandle();
    if (OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token))
        return Orvel::THandle(token);
    return Orvel::THandle();
}

OwnedSid AdministratorsSid() {
    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid))
        return nullptr;
    return OwnedSid(sid);
}

struct Descriptor {
    OwnedLocal descriptor;
    OwnedLocal acl;
};

// An absolute descriptor owned by the SID whose DACL grants it read and write.
bool BuildDescriptor(PSID sid, Descriptor& out) {
    out.descriptor.reset(LocalAlloc(LPTR, SECURITY_DESCRIPTOR_MIN_LENGTH));
    if (!out.descriptor ||
        !InitializeSecurityDescriptor(out.descriptor.get(), SECURITY_DESCRIPTOR_REVISION))
        return false;
    const DWORD aclBytes = GetLengthSid(sid) + 16;
    out.acl.reset(LocalAlloc(LPTR, aclBytes));
    PACL acl = static_cast<PACL>(out.acl.get());
    if (acl == nullptr || !InitializeAcl(acl, aclBytes, ACL_REVISION2) ||
        !AddAccessAllowedAce(acl, ACL_REVISION2, kAccessRead | kAccessWrite, sid))
        return false;
    PSECURITY_DESCRIPTOR descriptor = out.descriptor.get();
    return SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE) &&
           SetSecurityDescriptorOwner(descriptor, sid, FALSE) &&
           SetSecurityDescriptorGroup(descriptor, sid, FALSE) &&
           IsValidSecurityDescriptor(descriptor);
}

bool TokenMayRead(HANDLE token, PSECURITY_DESCRIPTOR descriptor) {
    GENERIC_MAPPING mapping = {kAccessRead, kAccessWrite, 0, kAccessRead | kAccessWrite};
    alignas(DWORD) BYTE privileges[kPrivilegeSetBytes] = {};
    DWORD privilegesLength = kPrivilegeSetBytes;
    DWORD granted = 0;
    BOOL status = FALSE;
    return AccessCheck(descriptor, token, kAccessRead, &mapping,
                       reinterpret_cast<PPRIVILEGE_SET>(privileges), &privilegesLength, &granted,
                       &status) &&
           status != FALSE;
}

} // namespace

bool IsAdministrator() {
    if (!IsNtPlatform())
        return true;
    const CSelfImpersonation impersonation;
    Orvel::THandle token = CallerToken();
    if (!token)
        return false;
    OwnedSid sid = AdministratorsSid();
    if (!sid)
        return false;
    Descriptor descriptor;
    if (!BuildDescriptor(sid.get(), descriptor))
        return false;
    return TokenMayRead(token.Get(), descriptor.descriptor.get());
}

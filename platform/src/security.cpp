// Identity: the version, tokens, SIDs, ACLs, security descriptors and the
// access check, over the simulated machine's administrator flag.
//
// SIDs, ACLs and descriptors use Windows' binary layouts, because callers
// size and fill them by hand (an ACL sized as SID length + 16 must hold
// exactly one access-allowed entry). A token carries the groups of the
// simulated user: Everyone, Users, Authenticated Users, and
// BUILTIN\Administrators when the machine says the user is an administrator.
// The flag is read when the token is opened.
#include "handles.h"

#include <win32sim/machine.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

// --- SIDs -----------------------------------------------------------------

constexpr BYTE kSidRevision = 1;
constexpr BYTE kMaxSubAuthorities = 15;
constexpr size_t kSidHeader = 8; // revision, count, 6-byte authority

struct SidBytes {
    BYTE revision;
    BYTE subAuthorityCount;
    BYTE authority[6];
    // DWORD subAuthority[subAuthorityCount] follows
};

DWORD SidLength(BYTE subAuthorities) {
    return static_cast<DWORD>(kSidHeader + 4 * subAuthorities);
}

bool IsValidSidBytes(const void* sid) {
    const auto* s = static_cast<const SidBytes*>(sid);
    return s && s->revision == kSidRevision && s->subAuthorityCount <= kMaxSubAuthorities;
}

bool EqualSids(const void* a, const void* b) {
    const auto* sa = static_cast<const SidBytes*>(a);
    const auto* sb = static_cast<const SidBytes*>(b);
    return sa->subAuthorityCount == sb->subAuthorityCount &&
           std::memcmp(a, b, SidLength(sa->subAuthorityCount)) == 0;
}

// A well-known SID as bytes: NT or world authority and its sub-authorities.
std::vector<BYTE> MakeSid(BYTE authority, std::initializer_list<DWORD> subAuthorities) {
    std::vector<BYTE> sid(SidLength(static_cast<BYTE>(subAuthorities.size())));
    sid[0] = kSidRevision;
    sid[1] = static_cast<BYTE>(subAuthorities.size());
    sid[7] = authority;
    size_t offset = kSidHeader;
    for (DWORD sub : subAuthorities) {
        std::memcpy(&sid[offset], &sub, sizeof(sub));
        offset += sizeof(sub);
    }
    return sid;
}

// --- tokens ---------------------------------------------------------------

class Token : public win32sim::detail::KernelObject {
public:
    Token(bool impersonation, bool administrator) : m_impersonation(impersonation) {
        m_groups.push_back(MakeSid(1, {0}));       // Everyone S-1-1-0
        m_groups.push_back(MakeSid(5, {11}));      // Authenticated Users S-1-5-11
        m_groups.push_back(MakeSid(5, {32, 545})); // BUILTIN\Users
        if (administrator)
            m_groups.push_back(MakeSid(5, {32, 544})); // BUILTIN\Administrators
    }

    bool IsImpersonation() const { return m_impersonation; }

    bool HasGroup(const void* sid) const {
        for (const auto& group : m_groups) {
            if (EqualSids(group.data(), sid))
                return true;
        }
        return false;
    }

private:
    bool m_impersonation;
    std::vector<std::vector<BYTE>> m_groups;
};

// Whether this thread runs under its own impersonation token.
thread_local bool t_impersonating = false;

std::atomic<win32sim::SecurityFault> g_fault{win32sim::SecurityFault::None};
std::atomic<unsigned long> g_impersonations{0};

// True (with the step's error set) when a test has made `step` fail.
bool Faulted(win32sim::SecurityFault step, DWORD error) {
    if (g_fault.load() != step)
        return false;
    SetLastError(error);
    return true;
}

HANDLE CurrentProcessPseudoHandle() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));
}
HANDLE CurrentThreadPseudoHandle() {
    return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-2));
}

BOOL OpenToken(bool impersonation, PHANDLE tokenHandle) {
    if (!tokenHandle) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool administrator = win32sim::CurrentConfig().administrator;
    *tokenHandle =
        win32sim::detail::InsertHandle(std::make_shared<Token>(impersonation, administrator));
    return TRUE;
}

// --- ACLs -----------------------------------------------------------------

constexpr BYTE kAccessAllowedAceType = 0;
constexpr BYTE kAccessDeniedAceType = 1;
constexpr BYTE kMinAclRevision = 2;
constexpr BYTE kMaxAclRevision = 4;

struct AceHeader {
    BYTE type;
    BYTE flags;
    WORD size;
};
// An access entry: header, mask, then the SID.
constexpr size_t kAceSidOffset = sizeof(AceHeader) + sizeof(ACCESS_MASK);

bool IsValidAclBytes(const ACL* acl) {
    if (!acl || acl->AclRevision < kMinAclRevision || acl->AclRevision > kMaxAclRevision ||
        acl->AclSize < sizeof(ACL))
        return false;
    size_t offset = sizeof(ACL);
    const auto* bytes = reinterpret_cast<const BYTE*>(acl);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        if (offset + sizeof(AceHeader) > acl->AclSize)
            return false;
        AceHeader header;
        std::memcpy(&header, bytes + offset, sizeof(header));
        if (header.size < sizeof(AceHeader) || offset + header.size > acl->AclSize)
            return false;
        offset += header.size;
    }
    return true;
}

// Offset of the free space after the last entry.
size_t EndOfAces(const ACL* acl) {
    size_t offset = sizeof(ACL);
    const auto* bytes = reinterpret_cast<const BYTE*>(acl);
    for (WORD i = 0; i < acl->AceCount; ++i) {
        AceHeader header;
        std::memcpy(&header, bytes + offset, sizeof(header));
        offset += header.size;
    }
    return offset;
}

// --- security descriptors ---------------------------------------------------

constexpr SECURITY_DESCRIPTOR_CONTROL kOwnerDefaulted = 0x0001;
constexpr SECURITY_DESCRIPTOR_CONTROL kGroupDefaulted = 0x0002;
constexpr SECURITY_DESCRIPTOR_CONTROL kDaclPresent = 0x0004;
constexpr SECURITY_DESCRIPTOR_CONTROL kDaclDefaulted = 0x0008;
constexpr SECURITY_DESCRIPTOR_CONTROL kSelfRelative = 0x8000;

// Checks a descriptor that the Set* functions may change: absolute form,
// revision 1. Sets the last error when it is not.
SECURITY_DESCRIPTOR* WritableDescriptor(PSECURITY_DESCRIPTOR descriptor) {
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(descriptor);
    if (!sd) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (sd->Revision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return nullptr;
    }
    if (sd->Control & kSelfRelative) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return nullptr;
    }
    return sd;
}

void SetControlBit(SECURITY_DESCRIPTOR* sd, SECURITY_DESCRIPTOR_CONTROL bit, bool on) {
    sd->Control =
        static_cast<SECURITY_DESCRIPTOR_CONTROL>(on ? (sd->Control | bit) : (sd->Control & ~bit));
}

bool IsValidDescriptor(const SECURITY_DESCRIPTOR* sd) {
    if (!sd || sd->Revision != SECURITY_DESCRIPTOR_REVISION || (sd->Control & kSelfRelative))
        return false;
    if (sd->Owner && !IsValidSidBytes(sd->Owner))
        return false;
    if (sd->Group && !IsValidSidBytes(sd->Group))
        return false;
    if ((sd->Control & kDaclPresent) && sd->Dacl && !IsValidAclBytes(sd->Dacl))
        return false;
    return true;
}

ACCESS_MASK MapGeneric(ACCESS_MASK mask, const GENERIC_MAPPING* mapping) {
    if (mask & GENERIC_READ)
        mask |= mapping->GenericRead;
    if (mask & GENERIC_WRITE)
        mask |= mapping->GenericWrite;
    if (mask & GENERIC_EXECUTE)
        mask |= mapping->GenericExecute;
    if (mask & GENERIC_ALL)
        mask |= mapping->GenericAll;
    return mask & ~(GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL);
}

// Walks the DACL in order: the first entry to decide a bit decides it.
ACCESS_MASK GrantedByDacl(const ACL* dacl, const Token& token, ACCESS_MASK wanted,
                          const GENERIC_MAPPING* mapping) {
    ACCESS_MASK granted = 0;
    ACCESS_MASK denied = 0;
    const auto* bytes = reinterpret_cast<const BYTE*>(dacl);
    size_t offset = sizeof(ACL);
    for (WORD i = 0; i < dacl->AceCount; ++i) {
        AceHeader header;
        std::memcpy(&header, bytes + offset, sizeof(header));
        if (header.size >= kAceSidOffset + kSidHeader &&
            (header.type == kAccessAllowedAceType || header.type == kAccessDeniedAceType) &&
            token.HasGroup(bytes + offset + kAceSidOffset)) {
            ACCESS_MASK mask;
            std::memcpy(&mask, bytes + offset + sizeof(AceHeader), sizeof(mask));
            mask = MapGeneric(mask, mapping);
            if (header.type == kAccessAllowedAceType)
                granted |= mask & ~denied;
            else
                denied |= mask & ~granted;
        }
        offset += header.size;
    }
    return granted & wanted;
}

} // namespace

extern "C" {

BOOL WINAPI GetVersionExA(LPOSVERSIONINFOA lpVersionInformation) {
    // Windows 10 reports itself as 6.2 to programs without a manifest.
    constexpr DWORD kExtendedSize = sizeof(OSVERSIONINFOA) + 8; // OSVERSIONINFOEXA
    if (!lpVersionInformation ||
        (lpVersionInformation->dwOSVersionInfoSize != sizeof(OSVERSIONINFOA) &&
         lpVersionInformation->dwOSVersionInfoSize != kExtendedSize)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    const DWORD size = lpVersionInformation->dwOSVersionInfoSize;
    std::memset(reinterpret_cast<BYTE*>(lpVersionInformation) + sizeof(DWORD), 0,
                size - sizeof(DWORD));
    lpVersionInformation->dwMajorVersion = 6;
    lpVersionInformation->dwMinorVersion = 2;
    lpVersionInformation->dwBuildNumber = 9200;
    lpVersionInformation->dwPlatformId = VER_PLATFORM_WIN32_NT;
    if (size == kExtendedSize) {
        constexpr BYTE kWorkstation = 1; // wProductType
        reinterpret_cast<BYTE*>(lpVersionInformation)[sizeof(OSVERSIONINFOA) + 6] = kWorkstation;
    }
    return TRUE;
}

BOOL WINAPI ImpersonateSelf(SECURITY_IMPERSONATION_LEVEL ImpersonationLevel) {
    if (ImpersonationLevel < SecurityAnonymous || ImpersonationLevel > SecurityDelegation) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    t_impersonating = true;
    ++g_impersonations;
    return TRUE;
}

BOOL WINAPI RevertToSelf(void) {
    t_impersonating = false;
    return TRUE;
}

HANDLE WINAPI GetCurrentThread(void) {
    return CurrentThreadPseudoHandle();
}

HANDLE WINAPI GetCurrentProcess(void) {
    return CurrentProcessPseudoHandle();
}

BOOL WINAPI OpenThreadToken(HANDLE ThreadHandle, DWORD DesiredAccess, BOOL OpenAsSelf,
                            PHANDLE TokenHandle) {
    (void)DesiredAccess;
    (void)OpenAsSelf;
    if (Faulted(win32sim::SecurityFault::OpenThreadToken, ERROR_ACCESS_DENIED))
        return FALSE;
    // Only the calling thread can impersonate here; other threads of ours
    // never hold a token of their own.
    if (ThreadHandle != CurrentThreadPseudoHandle()) {
        SetLastError(win32sim::detail::LookupHandle(ThreadHandle) ? ERROR_NO_TOKEN
                                                                  : ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (!t_impersonating) {
        SetLastError(ERROR_NO_TOKEN);
        return FALSE;
    }
    return OpenToken(true, TokenHandle);
}

BOOL WINAPI OpenProcessToken(HANDLE ProcessHandle, DWORD DesiredAccess, PHANDLE TokenHandle) {
    (void)DesiredAccess;
    if (ProcessHandle != CurrentProcessPseudoHandle()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    return OpenToken(false, TokenHandle);
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY pIdentifierAuthority,
                                     BYTE nSubAuthorityCount, DWORD nSubAuthority0,
                                     DWORD nSubAuthority1, DWORD nSubAuthority2,
                                     DWORD nSubAuthority3, DWORD nSubAuthority4,
                                     DWORD nSubAuthority5, DWORD nSubAuthority6,
                                     DWORD nSubAuthority7, PSID* pSid) {
    if (Faulted(win32sim::SecurityFault::AllocateAndInitializeSid, ERROR_NOT_ENOUGH_MEMORY))
        return FALSE;
    if (!pIdentifierAuthority || !pSid || nSubAuthorityCount > 8) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const DWORD sub[8] = {nSubAuthority0, nSubAuthority1, nSubAuthority2, nSubAuthority3,
                          nSubAuthority4, nSubAuthority5, nSubAuthority6, nSubAuthority7};
    auto* sid = static_cast<BYTE*>(std::calloc(1, SidLength(nSubAuthorityCount)));
    if (!sid) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    sid[0] = kSidRevision;
    sid[1] = nSubAuthorityCount;
    std::memcpy(sid + 2, pIdentifierAuthority->Value, 6);
    std::memcpy(sid + kSidHeader, sub, 4 * nSubAuthorityCount);
    *pSid = sid;
    return TRUE;
}

PVOID WINAPI FreeSid(PSID pSid) {
    std::free(pSid);
    return nullptr;
}

DWORD WINAPI GetLengthSid(PSID pSid) {
    return SidLength(static_cast<const SidBytes*>(pSid)->subAuthorityCount);
}

BOOL WINAPI InitializeAcl(PACL pAcl, DWORD nAclLength, DWORD dwAclRevision) {
    if (nAclLength < sizeof(ACL)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    if (!pAcl || nAclLength > 0xFFFF || dwAclRevision < kMinAclRevision ||
        dwAclRevision > kMaxAclRevision) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    pAcl->AclRevision = static_cast<BYTE>(dwAclRevision);
    pAcl->Sbz1 = 0;
    pAcl->AclSize = static_cast<WORD>(nAclLength & ~3u); // entries stay DWORD-aligned
    pAcl->AceCount = 0;
    pAcl->Sbz2 = 0;
    return TRUE;
}

BOOL WINAPI AddAccessAllowedAce(PACL pAcl, DWORD dwAceRevision, DWORD AccessMask, PSID pSid) {
    if (!IsValidAclBytes(pAcl)) {
        SetLastError(ERROR_INVALID_ACL);
        return FALSE;
    }
    if (!IsValidSidBytes(pSid)) {
        SetLastError(ERROR_INVALID_SID);
        return FALSE;
    }
    if (dwAceRevision < kMinAclRevision || dwAceRevision > kMaxAclRevision) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    const DWORD sidLength = GetLengthSid(pSid);
    const size_t aceSize = kAceSidOffset + sidLength;
    const size_t offset = EndOfAces(pAcl);
    if (offset + aceSize > pAcl->AclSize) {
        SetLastError(ERROR_ALLOTTED_SPACE_EXCEEDED);
        return FALSE;
    }
    auto* ace = reinterpret_cast<BYTE*>(pAcl) + offset;
    const AceHeader header{kAccessAllowedAceType, 0, static_cast<WORD>(aceSize)};
    std::memcpy(ace, &header, sizeof(header));
    std::memcpy(ace + sizeof(header), &AccessMask, sizeof(AccessMask));
    std::memcpy(ace + kAceSidOffset, pSid, sidLength);
    ++pAcl->AceCount;
    if (dwAceRevision > pAcl->AclRevision)
        pAcl->AclRevision = static_cast<BYTE>(dwAceRevision);
    return TRUE;
}

BOOL WINAPI InitializeSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor,
                                         DWORD dwRevision) {
    if (dwRevision != SECURITY_DESCRIPTOR_REVISION) {
        SetLastError(ERROR_UNKNOWN_REVISION);
        return FALSE;
    }
    auto* sd = static_cast<SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    std::memset(sd, 0, sizeof(*sd));
    sd->Revision = SECURITY_DESCRIPTOR_REVISION;
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorDacl(PSECURITY_DESCRIPTOR pSecurityDescriptor, BOOL bDaclPresent,
                                      PACL pDacl, BOOL bDaclDefaulted) {
    SECURITY_DESCRIPTOR* sd = WritableDescriptor(pSecurityDescriptor);
    if (!sd)
        return FALSE;
    SetControlBit(sd, kDaclPresent, bDaclPresent);
    sd->Dacl = bDaclPresent ? pDacl : nullptr;
    SetControlBit(sd, kDaclDefaulted, bDaclPresent && bDaclDefaulted);
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorOwner(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pOwner,
                                       BOOL bOwnerDefaulted) {
    SECURITY_DESCRIPTOR* sd = WritableDescriptor(pSecurityDescriptor);
    if (!sd)
        return FALSE;
    sd->Owner = pOwner;
    SetControlBit(sd, kOwnerDefaulted, bOwnerDefaulted);
    return TRUE;
}

BOOL WINAPI SetSecurityDescriptorGroup(PSECURITY_DESCRIPTOR pSecurityDescriptor, PSID pGroup,
                                       BOOL bGroupDefaulted) {
    SECURITY_DESCRIPTOR* sd = WritableDescriptor(pSecurityDescriptor);
    if (!sd)
        return FALSE;
    sd->Group = pGroup;
    SetControlBit(sd, kGroupDefaulted, bGroupDefaulted);
    return TRUE;
}

BOOL WINAPI IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR pSecurityDescriptor) {
    if (!IsValidDescriptor(static_cast<const SECURITY_DESCRIPTOR*>(pSecurityDescriptor))) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    return TRUE;
}

BOOL WINAPI AccessCheck(PSECURITY_DESCRIPTOR pSecurityDescriptor, HANDLE ClientToken,
                        DWORD DesiredAccess, PGENERIC_MAPPING GenericMapping,
                        PPRIVILEGE_SET PrivilegeSet, LPDWORD PrivilegeSetLength,
                        LPDWORD GrantedAccess, LPBOOL AccessStatus) {
    if (Faulted(win32sim::SecurityFault::AccessCheck, ERROR_ACCESS_DENIED))
        return FALSE;
    auto token = win32sim::detail::LookupHandleAs<Token>(ClientToken);
    if (!token) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    // Only a thread's impersonation token can be checked, never the
    // process's primary token.
    if (!token->IsImpersonation()) {
        SetLastError(ERROR_NO_IMPERSONATION_TOKEN);
        return FALSE;
    }
    const auto* sd = static_cast<const SECURITY_DESCRIPTOR*>(pSecurityDescriptor);
    if (!IsValidDescriptor(sd) || !sd->Owner || !sd->Group) {
        SetLastError(ERROR_INVALID_SECURITY_DESCR);
        return FALSE;
    }
    if (DesiredAccess & (GENERIC_READ | GENERIC_WRITE | GENERIC_EXECUTE | GENERIC_ALL)) {
        SetLastError(ERROR_GENERIC_NOT_MAPPED);
        return FALSE;
    }
    if (!PrivilegeSetLength || *PrivilegeSetLength < sizeof(PRIVILEGE_SET)) {
        if (PrivilegeSetLength)
            *PrivilegeSetLength = sizeof(PRIVILEGE_SET);
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    PrivilegeSet->PrivilegeCount = 0;
    PrivilegeSet->Control = 0;
    *PrivilegeSetLength = sizeof(PRIVILEGE_SET) - sizeof(LUID_AND_ATTRIBUTES);

    const bool everything = !(sd->Control & kDaclPresent) || !sd->Dacl;
    const ACCESS_MASK allBits = MapGeneric(GENERIC_ALL, GenericMapping) | 0x001F0000u;
    const bool maximum = DesiredAccess & MAXIMUM_ALLOWED;
    const ACCESS_MASK wanted = maximum ? allBits : DesiredAccess;
    const ACCESS_MASK granted =
        everything ? wanted : GrantedByDacl(sd->Dacl, *token, wanted, GenericMapping);
    const bool allowed = maximum ? granted != 0 : granted == DesiredAccess;
    *GrantedAccess = allowed ? granted : 0;
    *AccessStatus = allowed ? TRUE : FALSE;
    if (!allowed)
        SetLastError(ERROR_ACCESS_DENIED);
    return TRUE;
}

} // extern "C"

namespace win32sim {

void SetSecurityFault(SecurityFault fault) {
    g_fault = fault;
}

unsigned long ImpersonationCount() {
    return g_impersonations.load();
}

} // namespace win32sim

extern "C" {

HANDLE WINAPI LocalAlloc(UINT uFlags, SIZE_T uBytes) {
    (void)uFlags; // always zeroed: LMEM_ZEROINIT or not, callers see no garbage
    void* block = std::calloc(1, uBytes ? uBytes : 1);
    if (!block)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

HANDLE WINAPI LocalFree(HANDLE hMem) {
    std::free(hMem);
    return nullptr;
}

} // extern "C"

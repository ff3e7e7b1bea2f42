#include "platform/Administrator.h"

#include <windows.h>

#include <memory>
#include <type_traits>

// Asks the system whether the caller's token would be granted access that a small security
// descriptor reserves to the Administrators group. Unlike a look at the token's groups, this
// refuses a token in which the group is present but disabled (a console that was not
// elevated).

namespace {

struct HandleCloser {
    void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle = std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

struct SidFreer {
    void operator()(PSID sid) const { FreeSid(sid); }
};
using UniqueSid = std::unique_ptr<void, SidFreer>;

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};
using UniqueLocal = std::unique_ptr<void, LocalFreer>;

// The check's own rights; the descriptor grants both, the check asks for read.
constexpr DWORD kReadRight = 1;
constexpr DWORD kWriteRight = 2;
constexpr DWORD kTokenAccess = TOKEN_DUPLICATE | TOKEN_QUERY;  // 0x000A
constexpr SIZE_T kDescriptorSize = 40;
static_assert(kDescriptorSize >= SECURITY_DESCRIPTOR_MIN_LENGTH);
// The list header and one access-allowed entry, whose first identifier word overlaps the
// identifier that follows it.
constexpr DWORD kAclOverhead = sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD);
static_assert(kAclOverhead == 16);
static_assert(sizeof(PRIVILEGE_SET) == 20);

// The thread's token when it impersonates someone, the process's otherwise.
UniqueHandle OpenCallerToken() {
    HANDLE token = nullptr;
    if (OpenThreadToken(GetCurrentThread(), kTokenAccess, TRUE, &token)) {
        return UniqueHandle(token);
    }
    if (GetLastError() != ERROR_NO_TOKEN) {
        return nullptr;
    }
    if (OpenProcessToken(GetCurrentProcess(), kTokenAccess, &token)) {
        return UniqueHandle(token);
    }
    return nullptr;
}

}  // namespace

bool IsAdministrator() {
    // Declared in the reverse of their release order: the access list goes first, the
    // caller's token last.
    const UniqueHandle token = OpenCallerToken();
    if (!token) {
        return false;
    }

    HANDLE duplicate = nullptr;
    if (!DuplicateToken(token.get(), SecurityImpersonation, &duplicate)) {
        return false;
    }
    const UniqueHandle impersonation(duplicate);

    SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
    PSID sid = nullptr;
    if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                  DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &sid)) {
        return false;
    }
    const UniqueSid administrators(sid);

    const UniqueLocal descriptorMemory(LocalAlloc(LPTR, kDescriptorSize));
    if (!descriptorMemory) {
        return false;
    }
    const PSECURITY_DESCRIPTOR descriptor = descriptorMemory.get();
    if (!InitializeSecurityDescriptor(descriptor, SECURITY_DESCRIPTOR_REVISION)) {
        return false;
    }

    const DWORD aclSize = GetLengthSid(administrators.get()) + kAclOverhead;
    const UniqueLocal aclMemory(LocalAlloc(LPTR, aclSize));
    if (!aclMemory) {
        return false;
    }
    const PACL acl = static_cast<PACL>(aclMemory.get());
    if (!InitializeAcl(acl, aclSize, ACL_REVISION2)) {
        return false;
    }
    if (!AddAccessAllowedAce(acl, ACL_REVISION2, kReadRight | kWriteRight, administrators.get())) {
        return false;
    }
    if (!SetSecurityDescriptorDacl(descriptor, TRUE, acl, FALSE)) {
        return false;
    }
    // An owner and a group make the descriptor complete for AccessCheck; if they fail, the
    // validity check below decides.
    SetSecurityDescriptorGroup(descriptor, administrators.get(), FALSE);
    SetSecurityDescriptorOwner(descriptor, administrators.get(), FALSE);
    if (!IsValidSecurityDescriptor(descriptor)) {
        return false;
    }

    GENERIC_MAPPING mapping{kReadRight, kWriteRight, 0, kReadRight | kWriteRight};
    PRIVILEGE_SET privileges{};
    DWORD privilegesLength = sizeof(privileges);
    DWORD granted = 0;
    BOOL accessStatus = FALSE;
    if (!AccessCheck(descriptor, impersonation.get(), kReadRight, &mapping, &privileges,
                     &privilegesLength, &granted, &accessStatus)) {
        return false;
    }
    return accessStatus != FALSE;
}

#include "package/AccessControl_win.h"

#include <sddl.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <new>
#include <vector>

#include "common/LinkSafe.h"
#include "common/PathText.h"
#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinFile.h"
#include "common/WinResult.h"
#include "package/AccessControl.h"

namespace quarry {

namespace {

// DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION: the new
// list with inheritance from the parent switched on.
constexpr SECURITY_INFORMATION kResetInformation = 0x20000004;
static_assert(kResetInformation ==
                  (DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION),
              "reset information");
constexpr DWORD kMaxTrusteeName = 256;
// SECURITY_MAX_SID_SIZE.
constexpr DWORD kMaxSidSize = 68;

// A well-known SID built in place.
struct SidBuffer {
    alignas(DWORD) BYTE bytes[kMaxSidSize] = {};
    PSID Get() { return bytes; }
};

bool MakeSid(SidBuffer& sid, BYTE authorityValue, std::initializer_list<DWORD> subAuthorities) {
    SID_IDENTIFIER_AUTHORITY authority = {{0, 0, 0, 0, 0, authorityValue}};
    if (!::InitializeSid(sid.Get(), &authority, static_cast<BYTE>(subAuthorities.size()))) {
        return false;
    }
    DWORD index = 0;
    for (const DWORD sub : subAuthorities) *::GetSidSubAuthority(sid.Get(), index++) = sub;
    return true;
}

enum class WellKnown { System, Administrators, Users, OwnerRights, CreatorOwner };

bool MakeWellKnownSid(SidBuffer& sid, WellKnown which) {
    switch (which) {
    case WellKnown::System: return MakeSid(sid, 5, {18});                // S-1-5-18
    case WellKnown::Administrators: return MakeSid(sid, 5, {32, 544});   // S-1-5-32-544
    case WellKnown::Users: return MakeSid(sid, 5, {32, 545});            // S-1-5-32-545
    case WellKnown::OwnerRights: return MakeSid(sid, 3, {4});            // S-1-3-4
    case WellKnown::CreatorOwner: return MakeSid(sid, 3, {0});           // S-1-3-0
    }
    return false;
}

bool IsWellKnown(PSID sid, WellKnown which) {
    SidBuffer known;
    return sid && ::IsValidSid(sid) && MakeWellKnownSid(known, which) &&
           ::EqualSid(sid, known.Get());
}

bool IsAccount(const RunIdentity& run, PSID sid) {
    return sid && !run.account.empty() && ::IsValidSid(sid) &&
           ::EqualSid(sid, const_cast<BYTE*>(run.account.data()));
}

bool IsSystemOrAdministrators(PSID sid) {
    return IsWellKnown(sid, WellKnown::System) || IsWellKnown(sid, WellKnown::Administrators);
}

// The DACL of a file or folder and the descriptor that holds it. `dacl` is
// null when the object has a null DACL, which grants everyone everything.
struct DaclRead {
    UniqueLocal descriptor;
    PACL dacl = nullptr;
};

HResult ReadDacl(const std::u16string& path, DaclRead& read,
                 const AccessControlFunctions& functions) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    RETURN_IF_WIN32_ERROR(functions.readSecurity(Wide(path), SE_FILE_OBJECT,
                                                 DACL_SECURITY_INFORMATION, nullptr, nullptr,
                                                 &read.dacl, nullptr, &descriptor));
    read.descriptor.Reset(descriptor);
    return kResultOk;
}

AccessEntryKind KindOf(BYTE aceType) {
    switch (aceType) {
    case ACCESS_ALLOWED_ACE_TYPE: return AccessEntryKind::Allowed;
    case ACCESS_DENIED_ACE_TYPE: return AccessEntryKind::Denied;
    case ACCESS_ALLOWED_OBJECT_ACE_TYPE: return AccessEntryKind::ObjectAllowed;
    case ACCESS_DENIED_OBJECT_ACE_TYPE: return AccessEntryKind::ObjectDenied;
    default: return AccessEntryKind::Other;
    }
}

// The entries of `dacl` as the rules see them, with the identifier of each
// plain allow or deny entry (null for the other kinds).
void DescribeDacl(PACL dacl, std::vector<AccessEntryView>& views, std::vector<PSID>& sids) {
    ACL_SIZE_INFORMATION size = {};
    if (!::GetAclInformation(dacl, &size, sizeof(size), AclSizeInformation)) return;
    for (DWORD i = 0; i < size.AceCount; ++i) {
        void* ace = nullptr;
        if (!::GetAce(dacl, i, &ace)) continue;
        const auto* header = static_cast<const ACE_HEADER*>(ace);
        AccessEntryView view;
        view.kind = KindOf(header->AceType);
        view.flags = header->AceFlags;
        PSID sid = nullptr;
        if (view.kind != AccessEntryKind::Other) {
            // Every one of the four starts with header and mask; the plain
            // two go on with the identifier.
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            view.mask = allowed->Mask;
            if (view.kind == AccessEntryKind::Allowed || view.kind == AccessEntryKind::Denied) {
                sid = &allowed->SidStart;
            }
        }
        views.push_back(view);
        sids.push_back(sid);
    }
}

// Entries whose identifier has no account name are skipped: no account to
// write an entry for.
bool HasAccountName(PSID sid) {
    if (!sid || !::IsValidSid(sid)) return false;
    wchar_t name[kMaxTrusteeName + 1];
    wchar_t domain[kMaxTrusteeName + 1];
    DWORD nameLength = kMaxTrusteeName + 1;
    DWORD domainLength = kMaxTrusteeName + 1;
    SID_NAME_USE use;
    return ::LookupAccountSidW(nullptr, sid, name, &nameLength, domain, &domainLength, &use) != 0;
}

DWORD ResetTree(const std::u16string& path, PACL dacl, const AccessControlFunctions& functions) {
    const TreeResetNamedSecurityInfoFn reset = functions.findTreeReset();
    if (!reset) return ERROR_CALL_NOT_IMPLEMENTED;  // 120: nothing was changed
    // The reset walks the tree by name and would follow a link in it, giving
    // the folder a link points at (anywhere on the machine) the new list. So
    // the tree is held open, without links, for as long as the reset runs.
    std::vector<UniqueFile> held;
    if (!HoldTreeWithoutLinks(path, held, SystemLinkSafeFunctions())) {
        return ERROR_CANT_ACCESS_FILE;
    }
    std::u16string target = path;
    return reset(reinterpret_cast<LPWSTR>(&target[0]), SE_FILE_OBJECT, kResetInformation, nullptr,
                 nullptr, dacl, nullptr, FALSE, nullptr, ProgressInvokeNever, nullptr);
}

// An empty ACL of revision 2: no explicit entries, everything inherited.
struct EmptyAcl {
    ACL acl;
    bool Initialize() { return ::InitializeAcl(&acl, sizeof(acl), ACL_REVISION) != 0; }
};

// Writes deny (lock) or set (unlock) entries for the write-type rights that
// `path` inherits, and resets the tree below it to inherit them.
HResult ApplyWriteEntries(const std::u16string& path, bool denyMode,
                          const AccessControlFunctions& functions) {
    DaclRead read;
    RETURN_IF_FAILED(ReadDacl(path, read, functions));
    // A null DACL grants everyone everything and has no inherited entries to
    // turn into denies: locking it would mean inventing who may write. The
    // tree is left as it is, the lock is reported as failed, and the
    // integrity check that follows still guards the run.
    if (!read.dacl) return kResultTreeNotLocked;

    std::vector<AccessEntryView> views;
    std::vector<PSID> sids;
    DescribeDacl(read.dacl, views, sids);
    const RunIdentity run = functions.runIdentity();
    for (std::size_t i = 0; i < views.size(); ++i) {
        views[i].trusteeKnown = HasAccountName(sids[i]);
        // CREATOR OWNER stands for whoever makes each object below: the run.
        views[i].trusteeIsRun = sids[i] && (IsRunTrustee(run, sids[i]) ||
                                            IsWellKnown(sids[i], WellKnown::CreatorOwner));
        views[i].trusteeIsOwnerRights = IsWellKnown(sids[i], WellKnown::OwnerRights);
    }

    // A folder the run created with its own protected list inherits nothing
    // to turn into denies: it is locked already when none but the run can
    // write it, and cannot be locked by this means otherwise. A reset would
    // make it inherit from its parent, whoever may write there.
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    if (denyMode &&
        ::GetSecurityDescriptorControl(read.descriptor.Get(), &control, &revision) &&
        (control & SE_DACL_PROTECTED)) {
        return OnlyRunCanWrite(true, true, views) ? kResultOk : kResultTreeNotLocked;
    }
    const std::vector<WriteEntry> planned = PlanWriteEntries(views, denyMode);

    // The trustee is the identifier itself: an account name without its
    // domain may name another account of the same name.
    SidBuffer ownerRights;
    RETURN_IF_WIN32_BOOL_FALSE(MakeWellKnownSid(ownerRights, WellKnown::OwnerRights));
    std::vector<EXPLICIT_ACCESSW> entries(planned.size());
    for (std::size_t i = 0; i < planned.size(); ++i) {
        EXPLICIT_ACCESSW& entry = entries[i];
        entry = EXPLICIT_ACCESSW{};
        entry.grfAccessPermissions = planned[i].rights;
        entry.grfAccessMode = planned[i].ownerRights ? GRANT_ACCESS
                              : denyMode             ? DENY_ACCESS
                                                     : SET_ACCESS;
        entry.grfInheritance = planned[i].inheritance;
        ::BuildTrusteeWithSidW(&entry.Trustee, planned[i].ownerRights
                                                   ? ownerRights.Get()
                                                   : sids[planned[i].source]);
    }

    PACL newDacl = nullptr;
    UniqueLocal newDaclOwner;
    EmptyAcl empty;
    if (!entries.empty()) {
        RETURN_IF_WIN32_ERROR(::SetEntriesInAclW(static_cast<ULONG>(entries.size()),
                                                 entries.data(), nullptr, &newDacl));
        newDaclOwner.Reset(newDacl);
    } else {
        RETURN_IF_WIN32_BOOL_FALSE(empty.Initialize());
        newDacl = &empty.acl;
    }
    const DWORD error = ResetTree(path, newDacl, functions);
    ::SetLastError(error);
    if (error == ERROR_SUCCESS) return kResultOk;
    if (!denyMode || PlanDeniesAnyone(planned)) return ResultFromWin32(error);
    // A lock that had no one to deny holds even when the reset could not be
    // made (Windows XP has none), unless the list itself lets others write:
    // its own entries, which the reset would have removed, stay. The run's
    // account counts as the run here: the reset is missing, not the list.
    for (std::size_t i = 0; i < views.size(); ++i) {
        if (sids[i] && IsAccount(run, sids[i])) views[i].trusteeIsRun = true;
    }
    const bool closed = OnlyRunCanWrite(true, true, views);
    ::SetLastError(error);
    return closed ? kResultOk : ResultFromWin32(error);
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

RunIdentity CurrentRunIdentity() {
    RunIdentity run;
    UniqueHandle token;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.Put())) return run;
    DWORD size = 0;
    ::GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
    std::vector<BYTE> buffer(size);
    if (size != 0 &&
        ::GetTokenInformation(token.Get(), TokenUser, buffer.data(), size, &size)) {
        const PSID user = reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid;
        if (::IsValidSid(user)) {
            run.account.assign(static_cast<BYTE*>(user),
                               static_cast<BYTE*>(user) + ::GetLengthSid(user));
        }
    }
    SidBuffer administrators;
    BOOL member = FALSE;
    // Enabled only: in an unelevated token of an administrator the group is
    // there for deny entries alone.
    if (MakeWellKnownSid(administrators, WellKnown::Administrators) &&
        ::CheckTokenMembership(nullptr, administrators.Get(), &member) && member) {
        run.privileged = true;
    }
    if (!run.account.empty() && IsWellKnown(run.account.data(), WellKnown::System)) {
        run.privileged = true;
    }
    return run;
}

bool IsRunTrustee(const RunIdentity& run, PSID sid) {
    return IsSystemOrAdministrators(sid) || (!run.privileged && IsAccount(run, sid));
}

namespace {

// The well-known group of a trustee other than the run's own account.
WellKnown WellKnownTrustee(CreationTrustee trustee) {
    switch (trustee) {
    case CreationTrustee::System:
        return WellKnown::System;
    case CreationTrustee::Administrators:
        return WellKnown::Administrators;
    case CreationTrustee::OwnerRights:
        return WellKnown::OwnerRights;
    default:
        return WellKnown::Users;
    }
}

}  // namespace

FolderSecurity::FolderSecurity(const RunIdentity& run, bool userReadable) {
    const std::vector<CreationGrant> grants = CreationGrants(run.privileged, userReadable);
    std::vector<SidBuffer> sids(grants.size());
    std::vector<EXPLICIT_ACCESSW> entries(grants.size());
    for (std::size_t i = 0; i < grants.size(); ++i) {
        PSID sid = sids[i].Get();
        const CreationTrustee trustee = grants[i].trustee;
        if (trustee == CreationTrustee::RunAccount) {
            if (run.account.empty() || run.account.size() > kMaxSidSize) return;
            std::copy(run.account.begin(), run.account.end(), sids[i].bytes);
        } else if (!MakeWellKnownSid(sids[i], WellKnownTrustee(trustee))) {
            return;
        }
        entries[i] = EXPLICIT_ACCESSW{};
        entries[i].grfAccessPermissions = grants[i].rights;
        entries[i].grfAccessMode = GRANT_ACCESS;
        entries[i].grfInheritance = grants[i].inheritance;
        ::BuildTrusteeWithSidW(&entries[i].Trustee, sid);
    }
    PACL acl = nullptr;
    if (::SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr, &acl) !=
        ERROR_SUCCESS) {
        return;
    }
    acl_.Reset(acl);
    // Protected: nothing is inherited from the folder above, whoever may
    // write there.
    valid_ = ::InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
             ::SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
             ::SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
    attributes_.nLength = sizeof(attributes_);
    attributes_.lpSecurityDescriptor = &descriptor_;
    attributes_.bInheritHandle = FALSE;
}

bool OnlyRunCanWriteFolder(const std::u16string& path, const RunIdentity& run,
                           const AccessControlFunctions& functions) {
    PSID owner = nullptr;
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (functions.readSecurity(
            Wide(path), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION,
            &owner, nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    UniqueLocal hold(descriptor);
    std::vector<AccessEntryView> views;
    std::vector<PSID> sids;
    if (dacl) DescribeDacl(dacl, views, sids);
    for (std::size_t i = 0; i < views.size(); ++i) {
        // OWNER RIGHTS stands for the owner, CREATOR OWNER for whoever makes
        // something inside; both are checked as the owner is, or could only
        // make something with the rights checked here.
        views[i].trusteeIsRun = sids[i] && (IsSystemOrAdministrators(sids[i]) ||
                                            IsAccount(run, sids[i]) ||
                                            IsWellKnown(sids[i], WellKnown::OwnerRights) ||
                                            IsWellKnown(sids[i], WellKnown::CreatorOwner));
    }
    const bool ownerIsRun = owner && (IsSystemOrAdministrators(owner) || IsAccount(run, owner));
    return OnlyRunCanWrite(dacl != nullptr, ownerIsRun, views);
}

TreeResetNamedSecurityInfoFn FindTreeResetNamedSecurityInfo() {
    HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    if (!advapi) return nullptr;
    return reinterpret_cast<TreeResetNamedSecurityInfoFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(advapi, "TreeResetNamedSecurityInfoW")));
}

HResult SetTreeAccess(const std::u16string& path, bool unlock,
                      const AccessControlFunctions& functions) {
    {
        DaclRead read;
        if (Succeeded(ReadDacl(path, read, functions)) && read.dacl) {
            std::vector<AccessEntryView> views;
            std::vector<PSID> sids;
            DescribeDacl(read.dacl, views, sids);
            if (!ExplicitEntriesInOrder(views)) {
                // Explicit entries out of the canonical order would make the
                // denies below land behind them: start from pure inheritance.
                EmptyAcl empty;
                if (empty.Initialize()) ResetTree(path, &empty.acl, functions);
            }
        }
    }
    return ApplyWriteEntries(path, !unlock, functions);
}

void CreateWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems,
                         std::vector<ExtractedFileRecord>& destinationFiles) {
    const std::u16string folder = WithTrailingBackslash(destinationFolder);
    for (const std::u16string& item : writableItems) {
        if (!IsSafeWritableItem(item)) continue;
        const std::u16string path = folder + item;
        if (Exists(path)) continue;
        if (item.back() == u'\\') {
            CreateFolderTree(path.substr(0, path.size() - 1));
            continue;
        }
        {
            UniqueFile file(::CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
            if (!file) continue;
            ::SetEndOfFile(file.Get());
        }
        if (Exists(path)) destinationFiles.push_back({item, 0});
    }
}

void UnlockWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems,
                         const AccessControlFunctions& functions) {
    const std::u16string folder = WithTrailingBackslash(destinationFolder);
    for (const std::u16string& item : writableItems) {
        if (!IsSafeWritableItem(item)) continue;
        const std::u16string path = folder + item;
        if (!Exists(path) || IsFolder(path) != (item.back() == u'\\')) continue;
        SetTreeAccess(path, true, functions);
    }
}

}  // namespace quarry

#include "package/AccessControl_win.h"

#include <sddl.h>

#include <memory>
#include <new>
#include <vector>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinResult.h"
#include "workflow/FolderRules.h"
#include "package/AccessControl.h"
#include "workflow/Folders.h"

namespace quarry {

AccessControlFunctions gAccessControlFunctions;

namespace {

// DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION: the new
// list with inheritance from the parent switched on.
constexpr SECURITY_INFORMATION kResetInformation = 0x20000004;
static_assert(kResetInformation ==
                  (DACL_SECURITY_INFORMATION | UNPROTECTED_DACL_SECURITY_INFORMATION),
              "reset information");
constexpr DWORD kMaxTrusteeName = 256;

// The DACL of a file or folder and the descriptor that holds it. `dacl` is
// null when the object has a null DACL, which grants everyone everything.
struct DaclRead {
    UniqueLocal descriptor;
    PACL dacl = nullptr;
};

bool ReadDacl(const std::u16string& path, DaclRead& read) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    const DWORD error =
        gAccessControlFunctions.readSecurity(Wide(path), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                nullptr, &read.dacl, nullptr, &descriptor);
    if (error != ERROR_SUCCESS) return false;
    read.descriptor.Reset(descriptor);
    return true;
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
        if (view.kind == AccessEntryKind::Allowed || view.kind == AccessEntryKind::Denied) {
            // Both layouts are the same: header, mask, identifier.
            auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
            view.mask = allowed->Mask;
            sid = &allowed->SidStart;
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

DWORD ResetTree(const std::u16string& path, PACL dacl) {
    const TreeResetNamedSecurityInfoFn reset = gAccessControlFunctions.findTreeReset();
    if (!reset) return ERROR_CALL_NOT_IMPLEMENTED;  // 120: nothing was changed
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
bool ApplyWriteEntries(const std::u16string& path, bool denyMode) {
    DaclRead read;
    if (!ReadDacl(path, read)) return false;
    // A null DACL grants everyone everything and has no inherited entries to
    // turn into denies: locking it would mean inventing who may write. The
    // tree is left as it is, the lock is reported as failed, and the
    // integrity check that follows still guards the run.
    if (!read.dacl) return false;

    std::vector<AccessEntryView> views;
    std::vector<PSID> sids;
    DescribeDacl(read.dacl, views, sids);
    for (std::size_t i = 0; i < views.size(); ++i) views[i].trusteeKnown = HasAccountName(sids[i]);
    const std::vector<WriteEntry> planned = PlanWriteEntries(views, denyMode);

    // The trustee is the identifier itself: an account name without its
    // domain may name another account of the same name.
    std::vector<EXPLICIT_ACCESSW> entries(planned.size());
    for (std::size_t i = 0; i < planned.size(); ++i) {
        EXPLICIT_ACCESSW& entry = entries[i];
        entry = EXPLICIT_ACCESSW{};
        entry.grfAccessPermissions = planned[i].rights;
        entry.grfAccessMode = denyMode ? DENY_ACCESS : SET_ACCESS;
        entry.grfInheritance = planned[i].inheritance;
        ::BuildTrusteeWithSidW(&entry.Trustee, sids[planned[i].source]);
    }

    PACL newDacl = nullptr;
    UniqueLocal newDaclOwner;
    EmptyAcl empty;
    if (!entries.empty()) {
        if (::SetEntriesInAclW(static_cast<ULONG>(entries.size()), entries.data(), nullptr,
                               &newDacl) != ERROR_SUCCESS) {
            return false;
        }
        newDaclOwner.Reset(newDacl);
    } else {
        if (!empty.Initialize()) return false;
        newDacl = &empty.acl;
    }
    const DWORD error = ResetTree(path, newDacl);
    ::SetLastError(error);
    return error == ERROR_SUCCESS;
}

bool IsFolder(const std::u16string& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::u16string& path) {
    return ::GetFileAttributesW(Wide(path)) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

TreeResetNamedSecurityInfoFn FindTreeResetNamedSecurityInfo() {
    HMODULE advapi = ::GetModuleHandleW(L"advapi32.dll");
    if (!advapi) return nullptr;
    return reinterpret_cast<TreeResetNamedSecurityInfoFn>(
        reinterpret_cast<void (*)()>(::GetProcAddress(advapi, "TreeResetNamedSecurityInfoW")));
}

bool SetTreeAccess(const std::u16string& path, bool unlock) {
    {
        DaclRead read;
        if (ReadDacl(path, read) && read.dacl) {
            std::vector<AccessEntryView> views;
            std::vector<PSID> sids;
            DescribeDacl(read.dacl, views, sids);
            if (!ExplicitEntriesInOrder(views)) {
                // Explicit entries out of the canonical order would make the
                // denies below land behind them: start from pure inheritance.
                EmptyAcl empty;
                if (empty.Initialize()) ResetTree(path, &empty.acl);
            }
        }
    }
    return ApplyWriteEntries(path, !unlock);
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
                         const std::vector<std::u16string>& writableItems) {
    const std::u16string folder = WithTrailingBackslash(destinationFolder);
    for (const std::u16string& item : writableItems) {
        if (!IsSafeWritableItem(item)) continue;
        const std::u16string path = folder + item;
        if (!Exists(path) || IsFolder(path) != (item.back() == u'\\')) continue;
        SetTreeAccess(path, true);
    }
}

}  // namespace quarry

#include "package/AccessControl.h"

namespace quarry {

namespace {

constexpr std::uint32_t kGenericRead = 0x80000000;
constexpr std::uint32_t kGenericWrite = 0x40000000;
constexpr std::uint32_t kGenericExecute = 0x20000000;
constexpr std::uint32_t kGenericAll = 0x10000000;

// FILE_ALL_ACCESS. The value 0x1201BF, which lacks WRITE_DAC, WRITE_OWNER and
// DELETE, would leave a trustee whose inherited entry says GENERIC_ALL free
// to change the permissions of a locked file and then write it.
constexpr std::uint32_t kFileAllAccess = 0x1F01FF;
constexpr std::uint32_t kFileGenericRead = 0x120089;
constexpr std::uint32_t kFileGenericWrite = 0x120116;
constexpr std::uint32_t kFileGenericExecute = 0x1200A0;

bool IsDeny(AccessEntryKind kind) {
    return kind == AccessEntryKind::Denied || kind == AccessEntryKind::ObjectDenied;
}

bool IsAllow(AccessEntryKind kind) {
    return kind == AccessEntryKind::Allowed || kind == AccessEntryKind::ObjectAllowed;
}

}  // namespace

std::uint32_t MapGenericFileRights(std::uint32_t mask) {
    struct Mapping {
        std::uint32_t generic;
        std::uint32_t specific;
    };
    static constexpr Mapping kMappings[] = {{kGenericAll, kFileAllAccess},
                                            {kGenericRead, kFileGenericRead},
                                            {kGenericWrite, kFileGenericWrite},
                                            {kGenericExecute, kFileGenericExecute}};
    std::uint32_t mapped = mask;
    for (const Mapping& mapping : kMappings) {
        if (mask & mapping.generic) mapped = (mapped & ~mapping.generic) | mapping.specific;
    }
    return mapped;
}

bool ExplicitEntriesInOrder(const std::vector<AccessEntryView>& entries) {
    bool seenInherited = false;
    bool seenExplicitAllow = false;
    for (const AccessEntryView& entry : entries) {
        if (entry.Inherited()) {
            seenInherited = true;
            continue;
        }
        if (seenInherited) return false;
        if (IsDeny(entry.kind) && seenExplicitAllow) return false;
        if (IsAllow(entry.kind)) seenExplicitAllow = true;
    }
    return true;
}

std::vector<WriteEntry> PlanWriteEntries(const std::vector<AccessEntryView>& entries,
                                         bool denyMode) {
    std::vector<WriteEntry> planned;
    bool inheritedDeny = false;
    bool ownerRightsPresent = false;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const AccessEntryView& entry = entries[i];
        if (entry.trusteeIsOwnerRights) ownerRightsPresent = true;
        if (!entry.trusteeKnown || !entry.Inherited()) continue;
        if (entry.kind == AccessEntryKind::Denied) {
            inheritedDeny = true;
        } else if (entry.kind == AccessEntryKind::Allowed) {
            if (denyMode && entry.trusteeIsRun) continue;
            const std::uint32_t rights = MapGenericFileRights(entry.mask) & kLockedRights;
            if (rights != 0) {
                planned.push_back({i, rights,
                                   static_cast<std::uint8_t>(entry.flags & ~kInheritedEntryFlag)});
            }
        }
    }
    // Granting write back only makes sense where a deny is inherited; an
    // unlock elsewhere leaves the object with pure inheritance.
    if (!denyMode && !inheritedDeny) planned.clear();
    if (denyMode && !ownerRightsPresent) {
        planned.push_back({0, kOwnerRightsAccess, kInheritToAll, true});
    }
    return planned;
}

bool PlanDeniesAnyone(const std::vector<WriteEntry>& plan) {
    for (const WriteEntry& entry : plan) {
        if (!entry.ownerRights) return true;
    }
    return false;
}

bool OnlyRunCanWrite(bool hasDacl, bool ownerIsRun, const std::vector<AccessEntryView>& entries) {
    if (!hasDacl || !ownerIsRun) return false;
    for (const AccessEntryView& entry : entries) {
        if (!IsAllow(entry.kind) || entry.trusteeIsRun) continue;
        if (MapGenericFileRights(entry.mask) & kLockedRights) return false;
    }
    return true;
}

std::vector<CreationGrant> CreationGrants(bool accountIsAdministrator, bool userReadable) {
    std::vector<CreationGrant> grants;
    if (!accountIsAdministrator) {
        grants.push_back({CreationTrustee::RunAccount, kFullControl, kInheritToAll});
    }
    grants.push_back({CreationTrustee::System, kFullControl, kInheritToAll});
    grants.push_back({CreationTrustee::Administrators, kFullControl, kInheritToAll});
    grants.push_back({CreationTrustee::OwnerRights, kOwnerRightsAccess, kInheritToAll});
    if (userReadable) grants.push_back({CreationTrustee::Users, kOwnerRightsAccess, kInheritToAll});
    return grants;
}

bool IsSafeWritableItem(const std::u16string& item) {
    std::u16string_view path(item);
    if (!path.empty() && path.back() == u'\\') path.remove_suffix(1);
    return IsSafeRelativePath(path);
}

}  // namespace quarry

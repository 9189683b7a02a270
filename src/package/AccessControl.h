// Access control on the extracted tree: lock it against writing, then give
// write access back to the package's writable items, and unlock it again
// before it is deleted.
//
// The rules that decide which entries a lock or an unlock writes are pure
// functions over a described access list (below), so that they can be tested
// without a file system that enforces them; AccessControl_win.cpp reads and
// writes the real lists.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/PackageFormat.h"

namespace quarry {

// WRITE_OWNER | WRITE_DAC | FILE_WRITE_EA | FILE_APPEND_DATA | FILE_WRITE_DATA.
constexpr std::uint32_t kWriteTypeRights = 0xC0016;

// What a lock denies and an unlock grants back: the write-type rights and
// DELETE, FILE_DELETE_CHILD and FILE_WRITE_ATTRIBUTES. Without the last three
// a locked file or folder could still be renamed away and another put in its
// place, a locked folder emptied, or a file's read-only mark taken off.
constexpr std::uint32_t kLockedRights = kWriteTypeRights | 0x10000 | 0x40 | 0x100;

// What an OWNER RIGHTS entry gives the owner: reading and running
// (FILE_GENERIC_READ | FILE_GENERIC_EXECUTE). An owner otherwise holds
// READ_CONTROL and WRITE_DAC whatever the list says, and could take any deny
// entry off; with such an entry present it holds only what the entry gives.
constexpr std::uint32_t kOwnerRightsAccess = 0x1200A9;

// Access-entry flag that marks an entry inherited from a parent (INHERITED_ACE).
constexpr std::uint8_t kInheritedEntryFlag = 0x10;
// OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE: files and folders below inherit.
constexpr std::uint8_t kInheritToAll = 0x03;

enum class AccessEntryKind { Allowed, Denied, ObjectAllowed, ObjectDenied, Other };

// One entry of a DACL as the rules need it. `trusteeKnown` is false when the
// entry's security identifier has no account name; such entries take no
// part in building write entries.
struct AccessEntryView {
    AccessEntryKind kind = AccessEntryKind::Other;
    std::uint8_t flags = 0;  // the entry's AceFlags
    std::uint32_t mask = 0;
    bool trusteeKnown = true;
    // The trustee is one of the run's own identities (see the Windows layer:
    // SYSTEM, Administrators, and the account of a run that is not
    // elevated); the work-root check counts the owner stand-ins OWNER RIGHTS
    // and CREATOR OWNER among them.
    bool trusteeIsRun = false;
    // The trustee is OWNER RIGHTS (S-1-3-4).
    bool trusteeIsOwnerRights = false;

    bool Inherited() const { return (flags & kInheritedEntryFlag) != 0; }
};

// Replaces each generic bit of `mask` with the file rights it stands for:
// GENERIC_ALL 0x1F01FF (FILE_ALL_ACCESS), GENERIC_READ 0x120089, GENERIC_WRITE 0x120116,
// GENERIC_EXECUTE 0x1200A0.
std::uint32_t MapGenericFileRights(std::uint32_t mask);

// False when an explicit entry follows an inherited one, or an explicit deny
// entry (plain or object) follows an explicit allow entry. An empty list is
// in order.
bool ExplicitEntriesInOrder(const std::vector<AccessEntryView>& entries);

// One explicit entry to write: the trustee of `entries[source]` with
// `rights`, and `inheritance` = that entry's flags without the inherited one.
// With `ownerRights` set it is instead an allow entry for OWNER RIGHTS, not
// taken from the list (`source` unused).
struct WriteEntry {
    std::size_t source = 0;
    std::uint32_t rights = 0;
    std::uint8_t inheritance = 0;
    bool ownerRights = false;
};

// The entries a lock (deny mode) or an unlock (set mode) writes on an object
// with `entries`: one per inherited allow entry of a known trustee whose
// mapped rights include any of kLockedRights, with those rights. A lock
// denies none of the run's own identities: it must be able to undo the lock
// and delete the tree, and those identities can override any list anyway.
// A lock also gives OWNER RIGHTS kOwnerRightsAccess to all below (last in
// the plan) unless the object has an OWNER RIGHTS entry already, so that an
// owner keeps no implicit WRITE_DAC. An unlock writes entries only when the
// object also inherits a deny entry of a known trustee; otherwise it writes
// none, so the object is left with an empty explicit list.
std::vector<WriteEntry> PlanWriteEntries(const std::vector<AccessEntryView>& entries,
                                         bool denyMode);

// True when a plan denies anyone: an object whose lock plan denies no one
// is closed to all but the run already, whether or not the plan is applied.
bool PlanDeniesAnyone(const std::vector<WriteEntry>& plan);

// Whether a folder that is there already may serve as the work root: it has
// a list (`hasDacl`; a null list lets everyone in), its owner is one of the
// run's own identities (`ownerIsRun`), and no allow entry of any other
// trustee grants any of kLockedRights, whether to the folder or to what is
// made in it. Entries of the run's own identities carry trusteeIsRun.
bool OnlyRunCanWrite(bool hasDacl, bool ownerIsRun, const std::vector<AccessEntryView>& entries);

// The trustees of the list a run's folder gets at creation.
enum class CreationTrustee { RunAccount, System, Administrators, OwnerRights, Users };

struct CreationGrant {
    CreationTrustee trustee;
    std::uint32_t rights;
    std::uint8_t inheritance;
};

// Full control for everything below.
constexpr std::uint32_t kFullControl = 0x1F01FF;  // FILE_ALL_ACCESS

// The protected list (no entries inherited from above) that the work root,
// the GUID work folder and the extract folder are created with, in order:
// SYSTEM and Administrators with full control, and the run's account too
// unless `accountIsAdministrator` (an elevated or SYSTEM run reaches its
// folders as Administrators or SYSTEM; granting the account itself would let
// the same user's unelevated programs in); OWNER RIGHTS with
// kOwnerRightsAccess, so that an owner holds no implicit WRITE_DAC; and
// with `userReadable` (the extract folder, which the user opens afterwards)
// Users with kOwnerRightsAccess. Every entry is inherited by files and
// folders below.
std::vector<CreationGrant> CreationGrants(bool accountIsAdministrator, bool userReadable);

// A writable item from the settings, judged before it is joined to the
// destination folder: a relative path that stays below it (a folder item
// ends in "\"). Anything else, an empty item included, is left alone, since
// unlocking it would grant write access outside the extracted tree.
bool IsSafeWritableItem(const std::u16string& item);

}  // namespace quarry

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

// Access-entry flag that marks an entry inherited from a parent (INHERITED_ACE).
constexpr std::uint8_t kInheritedEntryFlag = 0x10;

enum class AccessEntryKind { Allowed, Denied, ObjectAllowed, ObjectDenied, Other };

// One entry of a DACL as the rules need it. `trusteeKnown` is false when the
// entry's security identifier has no account name; such entries take no
// part in building write entries.
struct AccessEntryView {
    AccessEntryKind kind = AccessEntryKind::Other;
    std::uint8_t flags = 0;  // the entry's AceFlags
    std::uint32_t mask = 0;
    bool trusteeKnown = true;

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
struct WriteEntry {
    std::size_t source = 0;
    std::uint32_t rights = 0;
    std::uint8_t inheritance = 0;
};

// The entries a lock (deny mode) or an unlock (set mode) writes on an object
// with `entries`: one per inherited allow entry of a known trustee whose
// mapped rights include write-type rights. An unlock writes them only when
// the object also inherits a deny entry of a known trustee; otherwise it
// writes none, so the object is left with an empty explicit list.
std::vector<WriteEntry> PlanWriteEntries(const std::vector<AccessEntryView>& entries,
                                         bool denyMode);

// A writable item from the settings, judged before it is joined to the
// destination folder: a relative path that stays below it (a folder item
// ends in "\"). Anything else, an empty item included, is left alone, since
// unlocking it would grant write access outside the extracted tree.
bool IsSafeWritableItem(const std::u16string& item);

// Locks (unlock false) or unlocks (unlock true) the tree at `path`. True when
// the new list was applied. A path without a DACL (a null DACL, as on file
// systems without security) is not changed and gives false.
bool SetTreeAccess(const std::u16string& path, bool unlock);

// Makes sure every writable item exists below `destinationFolder`: folder
// items are created with their parents, file items empty (without creating
// their parent); each file created is appended to `destinationFiles` with
// size 0. Failures of single items are not reported.
void CreateWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems,
                         std::vector<ExtractedFileRecord>& destinationFiles);

// Unlocks every writable item that exists as the kind it names.
void UnlockWritableItems(const std::u16string& destinationFolder,
                         const std::vector<std::u16string>& writableItems);

}  // namespace quarry

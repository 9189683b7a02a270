// Which entries a lock or an unlock writes, over described access lists.
#include "package/AccessControl.h"

#include <gtest/gtest.h>

#include "common/Text.h"

namespace quarry {
namespace {

constexpr std::uint8_t kObjectInherit = 0x01, kContainerInherit = 0x02, kInheritOnly = 0x08;
constexpr std::uint8_t kInherited = kInheritedEntryFlag;

AccessEntryView Entry(AccessEntryKind kind, std::uint8_t flags, std::uint32_t mask,
                      bool known = true) {
    AccessEntryView view;
    view.kind = kind;
    view.flags = flags;
    view.mask = mask;
    view.trusteeKnown = known;
    return view;
}

TEST(AccessControl, MapsEachGenericBitToItsFileRights) {
    struct Case {
        std::uint32_t mask, mapped;
    };
    const Case cases[] = {
        {0x10000000, 0x1F01FF},               // GENERIC_ALL: every write-type right
        {0x80000000, 0x120089},               // GENERIC_READ
        {0x40000000, 0x120116},               // GENERIC_WRITE
        {0x20000000, 0x1200A0},               // GENERIC_EXECUTE
        {0xA0000000, 0x120089 | 0x1200A0},    // read and execute
        {0x40000001, 0x120116 | 0x1},         // specific bits stay
        {0x001F01FF, 0x001F01FF},             // FILE_ALL_ACCESS, nothing generic
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.mapped, MapGenericFileRights(c.mask)) << std::hex << c.mask;
        // Only write-type rights become entries: read and execute give none.
        EXPECT_EQ(c.mapped & 0xC0016, MapGenericFileRights(c.mask) & kWriteTypeRights);
    }
    EXPECT_EQ(0u, MapGenericFileRights(0xA0000000) & kWriteTypeRights);
}

TEST(AccessControl, ExplicitEntriesOutOfOrder) {
    using K = AccessEntryKind;
    struct Case {
        const char* name;
        std::vector<AccessEntryView> entries;
        bool inOrder;
    };
    const Case cases[] = {
        {"empty", {}, true},
        {"inherited only", {Entry(K::Allowed, kInherited, 1), Entry(K::Denied, kInherited, 1)},
         true},
        {"deny, allow, inherited",
         {Entry(K::Denied, 0, 1), Entry(K::Allowed, 0, 1), Entry(K::Allowed, kInherited, 1)},
         true},
        {"explicit after inherited",
         {Entry(K::Allowed, kInherited, 1), Entry(K::Allowed, 0, 1)}, false},
        {"explicit deny after explicit allow", {Entry(K::Allowed, 0, 1), Entry(K::Denied, 0, 1)},
         false},
        {"object deny after object allow",
         {Entry(K::ObjectAllowed, 0, 1), Entry(K::ObjectDenied, 0, 1)}, false},
        {"other explicit kind after inherited",
         {Entry(K::Denied, kInherited, 1), Entry(K::Other, 0, 1)}, false},
        {"inherited deny after inherited allow",
         {Entry(K::Allowed, kInherited, 1), Entry(K::Denied, kInherited, 1)}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.inOrder, ExplicitEntriesInOrder(c.entries)) << c.name;
    }
}

TEST(AccessControl, LockDeniesTheInheritedWriteRightsOfKnownTrustees) {
    using K = AccessEntryKind;
    const std::vector<AccessEntryView> entries = {
        Entry(K::Allowed, 0, 0x1F01FF),  // explicit: not carried over
        Entry(K::Allowed, kInherited | kObjectInherit | kContainerInherit, 0x10000000),
        Entry(K::Allowed, kInherited | kContainerInherit, 0x1200A9),  // read and execute only
        Entry(K::Allowed, kInherited | kObjectInherit | kInheritOnly, 0x40000000),
        Entry(K::Allowed, kInherited, 0x1F01FF, false),  // orphaned identifier
        Entry(K::Denied, kInherited, 0x40000000),
        Entry(K::ObjectAllowed, kInherited, 0x1F01FF),
    };
    const std::vector<WriteEntry> planned = PlanWriteEntries(entries, true);
    ASSERT_EQ(3u, planned.size());
    EXPECT_EQ(1u, planned[0].source);
    EXPECT_EQ(kLockedRights, planned[0].rights);
    EXPECT_EQ(0xD0156u, planned[0].rights);  // writing, deleting, renaming, re-permitting
    EXPECT_EQ(kObjectInherit | kContainerInherit, planned[0].inheritance);
    EXPECT_EQ(3u, planned[1].source);
    // GENERIC_WRITE: the data, the extended and plain attributes.
    EXPECT_EQ(0x120116u & kLockedRights, planned[1].rights);
    EXPECT_EQ(0x116u, planned[1].rights);
    EXPECT_EQ(kObjectInherit | kInheritOnly, planned[1].inheritance);
    // No OWNER RIGHTS entry there: one that leaves the owner reading only.
    EXPECT_TRUE(planned[2].ownerRights);
    EXPECT_EQ(kOwnerRightsAccess, planned[2].rights);
    EXPECT_EQ(kInheritToAll, planned[2].inheritance);
    EXPECT_TRUE(PlanDeniesAnyone(planned));
}

TEST(AccessControl, LockDeniesNoneOfTheRunsOwnAndKeepsAnOwnerRightsEntry) {
    using K = AccessEntryKind;
    AccessEntryView run = Entry(K::Allowed, kInherited | kObjectInherit, 0x1F01FF);
    run.trusteeIsRun = true;
    AccessEntryView ownerRights = Entry(K::Allowed, kInherited | kObjectInherit, 0x1200A9);
    ownerRights.trusteeIsOwnerRights = true;
    const AccessEntryView other = Entry(K::Allowed, kInherited | kObjectInherit, 0x1F01FF);

    // Only the run and an owner entry: no one to deny, nothing to add.
    const std::vector<WriteEntry> closed = PlanWriteEntries({run, ownerRights}, true);
    EXPECT_TRUE(closed.empty());
    EXPECT_FALSE(PlanDeniesAnyone(closed));
    // The run alone: OWNER RIGHTS is added, still no one denied.
    const std::vector<WriteEntry> ownerOnly = PlanWriteEntries({run}, true);
    ASSERT_EQ(1u, ownerOnly.size());
    EXPECT_TRUE(ownerOnly[0].ownerRights);
    EXPECT_FALSE(PlanDeniesAnyone(ownerOnly));
    // Someone else: denied, the run still not.
    const std::vector<WriteEntry> denied = PlanWriteEntries({run, other, ownerRights}, true);
    ASSERT_EQ(1u, denied.size());
    EXPECT_EQ(1u, denied[0].source);
    EXPECT_TRUE(PlanDeniesAnyone(denied));
    // An unlock grants back to whoever a deny comes from, run or not.
    EXPECT_EQ(2u, PlanWriteEntries({run, other, Entry(K::Denied, kInherited, 0xD0156)}, false)
                      .size());
}

TEST(AccessControl, OnlyTheRunMayOwnOrWriteATrustedFolder) {
    using K = AccessEntryKind;
    auto runEntry = [](K kind, std::uint8_t flags, std::uint32_t mask) {
        AccessEntryView view = Entry(kind, flags, mask);
        view.trusteeIsRun = true;
        return view;
    };
    struct Case {
        const char* name;
        bool hasDacl, ownerIsRun;
        std::vector<AccessEntryView> entries;
        bool trusted;
    };
    const Case cases[] = {
        {"run only", true, true, {runEntry(K::Allowed, 0x03, 0x1F01FF)}, true},
        {"empty list", true, true, {}, true},
        {"null list", false, true, {}, false},
        {"another owner", true, false, {runEntry(K::Allowed, 0x03, 0x1F01FF)}, false},
        {"others read and run", true, true, {Entry(K::Allowed, 0x03, 0xA0000000)}, true},
        {"others write", true, true, {Entry(K::Allowed, 0x03, 0x40000000)}, false},
        {"others write what is made", true, true, {Entry(K::Allowed, 0x0B, 0x2)}, false},
        {"others delete children", true, true, {Entry(K::Allowed, 0, 0x40)}, false},
        {"others delete", true, true, {Entry(K::Allowed, 0, 0x10000)}, false},
        {"others change the list", true, true, {Entry(K::Allowed, 0, 0x40000)}, false},
        {"others set attributes", true, true, {Entry(K::Allowed, 0, 0x100)}, false},
        {"others full, object entry", true, true, {Entry(K::ObjectAllowed, 0, 0x1F01FF)}, false},
        {"others denied", true, true, {Entry(K::Denied, 0, 0x1F01FF)}, true},
        {"unknown account writes", true, true, {Entry(K::Allowed, 0, 0x1F01FF, false)}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.trusted, OnlyRunCanWrite(c.hasDacl, c.ownerIsRun, c.entries)) << c.name;
    }
}

TEST(AccessControl, CreationListGivesTheAccountFullControlOnlyWhenNotElevated) {
    using T = CreationTrustee;
    struct Case {
        bool administrator, userReadable;
        std::vector<T> trustees;
    };
    const Case cases[] = {
        {false, false, {T::RunAccount, T::System, T::Administrators, T::OwnerRights}},
        {true, false, {T::System, T::Administrators, T::OwnerRights}},
        {false, true, {T::RunAccount, T::System, T::Administrators, T::OwnerRights, T::Users}},
        {true, true, {T::System, T::Administrators, T::OwnerRights, T::Users}},
    };
    for (const Case& c : cases) {
        const std::vector<CreationGrant> grants = CreationGrants(c.administrator, c.userReadable);
        std::vector<T> trustees;
        for (const CreationGrant& grant : grants) {
            trustees.push_back(grant.trustee);
            EXPECT_EQ(kInheritToAll, grant.inheritance);
            const bool reads = grant.trustee == T::OwnerRights || grant.trustee == T::Users;
            EXPECT_EQ(reads ? kOwnerRightsAccess : kFullControl, grant.rights);
            // Whoever only reads can neither write, delete nor re-permit.
            if (reads) EXPECT_EQ(0u, grant.rights & kLockedRights);
        }
        EXPECT_EQ(c.trustees, trustees);
    }
}

TEST(AccessControl, UnlockGrantsBackOnlyWhereADenyIsInherited) {
    using K = AccessEntryKind;
    const AccessEntryView allow = Entry(K::Allowed, kInherited | kObjectInherit, 0x1F01FF);
    // Below a locked folder: the deny and the allow both arrive inherited.
    const std::vector<WriteEntry> grant =
        PlanWriteEntries({allow, Entry(K::Denied, kInherited, 0xD0156)}, false);
    ASSERT_EQ(1u, grant.size());
    EXPECT_EQ(kLockedRights, grant[0].rights);
    // Above the locked folders nothing is denied: an empty explicit list,
    // whose reset removes the denies below.
    EXPECT_TRUE(PlanWriteEntries({allow}, false).empty());
    // A deny of a trustee without a name does not count, nor does an
    // explicit one.
    EXPECT_TRUE(PlanWriteEntries({allow, Entry(K::Denied, kInherited, 0xC0016, false)}, false)
                    .empty());
    EXPECT_TRUE(PlanWriteEntries({Entry(K::Denied, 0, 0xC0016), allow}, false).empty());
}

TEST(AccessControl, OnlyRelativeWritableItemsBelowTheDestinationAreSafe) {
    for (const char16_t* item : {u"log.txt", u"data\\", u"data\\cache\\", u"a b\\c.ini"}) {
        EXPECT_TRUE(IsSafeWritableItem(item)) << Utf16ToUtf8(item);
    }
    for (const char16_t* item : {u"", u"\\", u"..\\x", u"sub\\..\\..\\x", u"C:\\Windows\\",
                                 u"\\\\server\\share\\", u"c:x", u"sub\\.\\x"}) {
        EXPECT_FALSE(IsSafeWritableItem(item)) << Utf16ToUtf8(item);
    }
}

}  // namespace
}  // namespace quarry

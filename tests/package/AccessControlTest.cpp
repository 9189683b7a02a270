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
    ASSERT_EQ(2u, planned.size());
    EXPECT_EQ(1u, planned[0].source);
    EXPECT_EQ(kWriteTypeRights, planned[0].rights);
    EXPECT_EQ(kObjectInherit | kContainerInherit, planned[0].inheritance);
    EXPECT_EQ(3u, planned[1].source);
    EXPECT_EQ(0x120116u & kWriteTypeRights, planned[1].rights);
    EXPECT_EQ(kObjectInherit | kInheritOnly, planned[1].inheritance);
}

TEST(AccessControl, UnlockGrantsBackOnlyWhereADenyIsInherited) {
    using K = AccessEntryKind;
    const AccessEntryView allow = Entry(K::Allowed, kInherited | kObjectInherit, 0x1F01FF);
    // Below a locked folder: the deny and the allow both arrive inherited.
    EXPECT_EQ(1u, PlanWriteEntries({allow, Entry(K::Denied, kInherited, 0xC0016)}, false).size());
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

#include "package/PackageLayout.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

PackageGroup Group(std::u16string name, std::vector<std::u16string> entries) {
    PackageGroup group;
    group.name = std::move(name);
    for (std::u16string& entry : entries) {
        group.entries.push_back(PackageEntry{std::move(entry), group.entries.size() + 1, 0, 0});
    }
    group.entryCount = static_cast<std::uint32_t>(group.entries.size());
    return group;
}

TEST(PackageLayout, GroupsAreClassifiedWithoutRegardToCase) {
    EXPECT_EQ(GroupKind::Main, ClassifyGroup(u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a"));
    EXPECT_EQ(GroupKind::Flat, ClassifyGroup(u"!!!E8FF0748-2339-49F9-9A79-824D7561736C"));
    EXPECT_EQ(GroupKind::Other, ClassifyGroup(u"!!!53AAED7C-68E7-413C-A5FD-D9F76477D66"));
    EXPECT_EQ(GroupKind::Other, ClassifyGroup(u"Drivers"));
}

TEST(PackageLayout, OnlyNamedGroupsGoBelowASubfolderOfTheirName) {
    const struct {
        std::u16string group;
        std::u16string prefix;
    } cases[] = {
        {kMainGroupName, u""},
        {u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a", u""},
        {kFlatGroupName, u""},
        {u"Drivers", u"Drivers\\"},
        {u"Drivers\\x64", u"Drivers\\x64\\"},
        {u"!!!E8FF0748-2339-49f9-9A79-824D7561736", u"!!!E8FF0748-2339-49f9-9A79-824D7561736\\"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.prefix, GroupDestinationPrefix(c.group));
    }
}

TEST(PackageLayout, FindsTheFirstMainEntryOfANameInDirectoryOrder) {
    PackageDirectory directory;
    directory.groups.push_back(Group(kFlatGroupName, {u"Settings.ini", u"setup.exe"}));
    directory.groups.push_back(Group(u"Drivers", {u"settings.INI"}));
    directory.groups.push_back(Group(u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a",
                                     {u"readme.txt", u"SETTINGS.ini", u"Settings.ini"}));
    directory.groups.push_back(Group(kMainGroupName, {u"Settings.ini"}));

    const PackageEntry* settings = FindMainEntry(directory, kSettingsEntryName);
    ASSERT_NE(nullptr, settings);
    EXPECT_EQ(&directory.groups[2].entries[1], settings);
    EXPECT_EQ(&directory.groups[2].entries[0], FindMainEntry(directory, u"README.TXT"));
    // Entries of the flat and named groups never count.
    EXPECT_EQ(nullptr, FindMainEntry(directory, u"setup.exe"));
    EXPECT_EQ(nullptr, FindMainEntry(directory, kCabinetEntryName));
    EXPECT_EQ(nullptr, FindMainEntry(PackageDirectory(), kSettingsEntryName));
}

TEST(PackageLayout, OnlyTheFirstCabinetOfAMainGroupIsItsPayload) {
    const PackageGroup main = Group(u"!!!53aaed7c-68e7-413c-a5fd-d9f76477d66a",
                                    {u"Settings.ini", u"e8ff0748-2339-49f9-9a79-824d7561736c.CAB",
                                     kCabinetEntryName});
    EXPECT_EQ(&main.entries[1], GroupPayloadCabinet(main));
    EXPECT_EQ(nullptr, GroupPayloadCabinet(Group(kMainGroupName, {u"Settings.ini"})));
    EXPECT_EQ(nullptr, GroupPayloadCabinet(Group(kFlatGroupName, {kCabinetEntryName})));
    EXPECT_EQ(nullptr, GroupPayloadCabinet(Group(u"Drivers", {kCabinetEntryName})));
}

}  // namespace
}  // namespace quarry

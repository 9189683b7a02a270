// The lists of the library-search guard and the version that picks each.
#include "common/LibrarySearchGuard.h"

#include <gtest/gtest.h>

#include <string>

namespace quarry {
namespace {

std::u16string At(const LibraryList& list, std::size_t index) {
    return index < list.count ? std::u16string(list.names[index]) : u"(none)";
}

std::u16string Last(const LibraryList& list) { return list.count ? At(list, list.count - 1) : u""; }

// Each version's lists: their lengths and their ends, which show that the
// right list was picked and that none lost a name on the way.
TEST(LibrarySearchLists, EachVersionGetsItsOwnGroups) {
    const struct {
        unsigned major, minor;
        std::size_t base, shell, explorer;
        const char16_t* baseFirst;
        const char16_t* baseLast;
        const char16_t* shellFirst;
        const char16_t* shellLast;
    } cases[] = {
        {4, 0, 64, 30, 0, u"lpk.dll", u"rasadhlp.dll", u"mpr.dll", u"wiashext.dll"},
        {5, 0, 64, 30, 0, u"lpk.dll", u"rasadhlp.dll", u"mpr.dll", u"wiashext.dll"},
        {5, 2, 64, 30, 0, u"lpk.dll", u"rasadhlp.dll", u"mpr.dll", u"wiashext.dll"},
        {6, 0, 65, 26, 8, u"ole32.dll", u"mpr.dll", u"normaliz.dll", u"dtsh.dll"},
        {6, 1, 76, 44, 0, u"ole32.dll", u"mpr.dll", u"psapi.dll", u"dtsh.dll"},
        {6, 3, 76, 44, 0, u"ole32.dll", u"mpr.dll", u"psapi.dll", u"dtsh.dll"},
        {10, 0, 76, 44, 0, u"ole32.dll", u"mpr.dll", u"psapi.dll", u"dtsh.dll"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + "." + std::to_string(c.minor));
        const LibraryList base = BaseGroup(c.major, c.minor);
        const LibraryList shell = ShellGroup(c.major, c.minor);
        EXPECT_EQ(c.base, base.count);
        EXPECT_EQ(c.shell, shell.count);
        EXPECT_EQ(c.explorer, ExplorerGroup(c.major, c.minor).count);
        EXPECT_EQ(c.baseFirst, At(base, 0));
        EXPECT_EQ(c.baseLast, Last(base));
        EXPECT_EQ(c.shellFirst, At(shell, 0));
        EXPECT_EQ(c.shellLast, Last(shell));
    }
}

TEST(LibrarySearchLists, KeepNamesWithSubfoldersAndRepeatsAsWritten) {
    const LibraryList xp = BaseGroup(5, 1);
    EXPECT_EQ(u"..\\ime\\imjp8_1\\dicts\\imjpcd.dic", At(xp, 37));
    EXPECT_EQ(u"wbem\\wbemcomn.dll", At(xp, 49));
    // The 6.0 base group names rasadhlp.dll twice.
    const LibraryList vista = BaseGroup(6, 0);
    EXPECT_EQ(u"rasadhlp.dll", At(vista, 51));
    EXPECT_EQ(u"rasadhlp.dll", At(vista, 59));
    EXPECT_EQ(u"ime\\imejp10\\imjptip.dll", At(vista, 42));
    const LibraryList explorer = ExplorerGroup(6, 0);
    EXPECT_EQ(u"explorerFrame.dll", At(explorer, 4));
    EXPECT_EQ(u"ieframe.dll", Last(explorer));
}

TEST(LibrarySearchLists, NeighbourAndCryptoLists) {
    const LibraryList neighbours = NeighbourFiles();
    ASSERT_EQ(9u, neighbours.count);
    EXPECT_EQ(u"api-ms-win-core-synch-l1-2-0.dll", At(neighbours, 0));
    EXPECT_EQ(u"rsaenh.dll", At(neighbours, 5));
    EXPECT_EQ(u"imageres.dll", At(neighbours, 6));
    EXPECT_EQ(u"msTracer.dll", Last(neighbours));
    ASSERT_EQ(1u, NeighbourFilesBefore60().count);
    EXPECT_EQ(u"shell32.dll", At(NeighbourFilesBefore60(), 0));
    ASSERT_EQ(2u, LegacyCryptoGroup().count);
    EXPECT_EQ(u"rsaenh.dll", At(LegacyCryptoGroup(), 0));
    EXPECT_EQ(u"bcrypt.dll", At(LegacyCryptoGroup(), 1));
}

TEST(LibrarySearchLists, Before61MeansMajorBelow6Or60) {
    const struct {
        unsigned major, minor;
        bool before;
    } cases[] = {{5, 1, true}, {5, 9, true}, {6, 0, true}, {6, 1, false}, {6, 2, false},
                 {10, 0, false}, {7, 0, false}};
    for (const auto& c : cases) {
        EXPECT_EQ(c.before, IsBeforeWindows61(c.major, c.minor)) << c.major << "." << c.minor;
    }
}

}  // namespace
}  // namespace quarry

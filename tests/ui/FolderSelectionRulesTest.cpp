#include "ui/FolderSelectionRules.h"

#include <gtest/gtest.h>

namespace quarry {
namespace {

TEST(ShortenProductName, KeepsFiftyCharactersAndCutsLongerNamesToFortySevenPlusDots) {
    const std::u16string fifty(50, u'a');
    EXPECT_EQ(ShortenProductName(fifty), fifty);
    EXPECT_EQ(ShortenProductName(u""), u"");

    const std::u16string fiftyOne = std::u16string(47, u'b') + u"cdef";
    EXPECT_EQ(ShortenProductName(fiftyOne), std::u16string(47, u'b') + u"...");
    EXPECT_EQ(ShortenProductName(std::u16string(300, u'x')).size(), 50u);
}

}  // namespace
}  // namespace quarry

#include "IniText.h"

#include <gtest/gtest.h>

#include "ToolTestSupport.h"

namespace quarry::pack {
namespace {

using test::Bytes;

Bytes Utf16(const std::u16string& text, bool bigEndian) {
    Bytes bytes = bigEndian ? Bytes{0xFE, 0xFF} : Bytes{0xFF, 0xFE};
    for (char16_t c : text) {
        const auto low = static_cast<std::uint8_t>(c & 0xFF);
        const auto high = static_cast<std::uint8_t>(c >> 8);
        bytes.push_back(bigEndian ? high : low);
        bytes.push_back(bigEndian ? low : high);
    }
    return bytes;
}

TEST(IniText, DecodesEveryAcceptedEncoding) {
    const std::u16string expected = u"[Package]\r\nProductName=Caf\u00e9 \u20ac \U0001F600\r\n";
    const std::string utf8 =
        "[Package]\r\nProductName=Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80\r\n";
    struct Case {
        Bytes input;
        TextEncoding encoding;
    } cases[] = {
        {test::ToBytes(utf8), TextEncoding::Utf8},
        {test::ToBytes("\xEF\xBB\xBF" + utf8), TextEncoding::Utf8WithBom},
        {Utf16(expected, false), TextEncoding::Utf16LE},
        {Utf16(expected, true), TextEncoding::Utf16BE},
    };
    for (const Case& c : cases) {
        std::u16string text;
        TextEncoding encoding;
        ASSERT_TRUE(DecodeSettingsText(c.input, text, encoding).Ok());
        EXPECT_EQ(c.encoding, encoding);
        EXPECT_EQ(expected, text);
    }
}

TEST(IniText, RefusesTextItCannotDecode) {
    const Bytes cases[] = {
        test::ToBytes("[Package]\nName=\xE9t\xE9\n"),  // Latin-1, not UTF-8
        test::ToBytes("\xEF\xBB\xBF\xC0\xAF"),         // overlong form after a BOM
        Bytes{0xFF, 0xFE, 'A', 0, 'B'},                // odd UTF-16 length
        Bytes{'[', 0, 'P', 0, ']', 0},                 // UTF-16 without a BOM
        Bytes{0xFF, 0xFE, 'A', 0, 0, 0},               // NUL character
    };
    for (const Bytes& input : cases) {
        std::u16string text;
        TextEncoding encoding;
        EXPECT_FALSE(DecodeSettingsText(input, text, encoding).Ok());
    }
}

TEST(IniText, EncodesUtf16LittleEndianWithByteOrderMark) {
    EXPECT_EQ((Bytes{0xFF, 0xFE, 'A', 0, 0xAC, 0x20}), EncodeUtf16LeWithBom(u"A\u20ac"));
    EXPECT_EQ((Bytes{0xFF, 0xFE}), EncodeUtf16LeWithBom(u""));
}

TEST(IniText, FindsKeysLikeTheProfileReader) {
    const std::u16string text =
        u"[Other]\nTotalFileSize=1\n"
        u" [ package ] \n  totalfilesize  = 5\n"
        u"[Package]\nProductName=x\n";
    EXPECT_TRUE(HasProfileKey(text, u"Package", u"TotalFileSize"));
    EXPECT_TRUE(HasProfileKey(u"[Package]\nTotalFileSize\n", u"Package", u"TotalFileSize"));
    EXPECT_TRUE(HasProfileKey(u"[Package]\nTotalFileSize=\n", u"Package", u"TotalFileSize"));
    // Only the first section of the name counts, and a key elsewhere does not.
    EXPECT_FALSE(HasProfileKey(u"[Package]\nA=1\n[Package]\nTotalFileSize=5\n", u"Package",
                               u"TotalFileSize"));
    EXPECT_FALSE(HasProfileKey(u"[Other]\nTotalFileSize=1\n", u"Package", u"TotalFileSize"));
    EXPECT_FALSE(HasProfileKey(u"[Package]\nTotalFileSizeX=1\n", u"Package", u"TotalFileSize"));
    EXPECT_FALSE(HasProfileKey(u"[Package\nTotalFileSize=1\n", u"Package", u"TotalFileSize"));
    EXPECT_TRUE(HasProfileKey(u"[Package]\rTotalFileSize=1\r", u"Package", u"TotalFileSize"));
    EXPECT_FALSE(HasProfileKey(u"[Package]\rA=1\r[B]\rTotalFileSize=1", u"Package",
                               u"TotalFileSize"));
}

TEST(IniText, AddsTheKeyAtTheEndOfTheSection) {
    struct Case {
        std::u16string before;
        std::u16string after;
    } cases[] = {
        // Before the blank line that ends the section; CR LF kept.
        {u"[Package]\r\nProductName=Demo\r\n\r\n[Execution_x86]\r\nFileName=a.exe\r\n",
         u"[Package]\r\nProductName=Demo\r\nTotalFileSize=42\r\n\r\n[Execution_x86]\r\n"
         u"FileName=a.exe\r\n"},
        // LF only; the section is not the first one.
        {u"[A]\nx=1\n[package]\ny=2\n[B]\n", u"[A]\nx=1\n[package]\ny=2\nTotalFileSize=42\n[B]\n"},
        // Last section without a final line end.
        {u"[Package]\nx=1", u"[Package]\nx=1\nTotalFileSize=42\n"},
        // Empty section.
        {u"[Package]\r\n", u"[Package]\r\nTotalFileSize=42\r\n"},
        // No section: added at the end.
        {u"[Extraction]\r\nA=1", u"[Extraction]\r\nA=1\r\n\r\n[Package]\r\nTotalFileSize=42\r\n"},
        {u"", u"[Package]\r\nTotalFileSize=42\r\n"},
        // CR alone ends a line for the profile reader: kept, and the key
        // lands inside the section, not after the whole text.
        {u"[Package]\rProductName=Demo\r\r[B]\rx=1\r",
         u"[Package]\rProductName=Demo\rTotalFileSize=42\r\r[B]\rx=1\r"},
        {u"[B]\rx=1\r", u"[B]\rx=1\r\r[Package]\rTotalFileSize=42\r"},
    };
    for (const Case& c : cases) {
        std::u16string text = c.before;
        AddProfileKey(text, u"Package", u"TotalFileSize", u"42");
        EXPECT_EQ(c.after, text);
        EXPECT_TRUE(HasProfileKey(text, u"Package", u"TotalFileSize"));
    }
}

}  // namespace
}  // namespace quarry::pack

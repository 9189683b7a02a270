#include "ui/DialogTemplate.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "DialogTemplateReading.h"

namespace quarry {
namespace {

using testing::ItemBytes;
using testing::Read;

constexpr std::uint32_t kProgressStyle = 0x90C808C0;  // popup, caption, modal frame, DS_SETFONT

// Writes templates the way the resource compiler lays them out.
class TemplateWriter {
public:
    void Word(std::uint16_t value) {
        bytes.push_back(static_cast<std::uint8_t>(value & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    }
    void Dword(std::uint32_t value) {
        Word(static_cast<std::uint16_t>(value & 0xFFFF));
        Word(static_cast<std::uint16_t>(value >> 16));
    }
    void Text(std::u16string_view text) {
        for (char16_t c : text) Word(c);
        Word(0);
    }
    void Ordinal(std::uint16_t ordinal) {
        Word(0xFFFF);
        Word(ordinal);
    }
    void Align() {
        while (bytes.size() % 4) bytes.push_back(0);
    }
    std::vector<std::uint8_t> bytes;
};

struct TemplateShape {
    bool extended = true;
    std::uint32_t style = kProgressStyle;
    std::u16string faceName = u"Segoe UI";
    std::uint16_t pointSize = 9;
};

// A progress-dialog template with three items: a static (class ordinal), a
// progress bar (class name, creation data of odd length) and a button. The
// classic layout also names a menu and a window class. Ends with the last
// item, unpadded, so that every shorter prefix cuts something off.
std::vector<std::uint8_t> MakeTemplate(const TemplateShape& shape) {
    TemplateWriter w;
    if (shape.extended) {
        w.Word(1);
        w.Word(0xFFFF);
        w.Dword(77);       // help id
        w.Dword(0x40000);  // WS_EX_APPWINDOW
        w.Dword(shape.style);
    } else {
        w.Dword(shape.style);
        w.Dword(0x40000);
    }
    w.Word(3);
    for (std::uint16_t value : {0, 0, 245, 69}) w.Word(value);
    if (shape.extended) {
        w.Word(0);  // no menu
        w.Word(0);  // standard dialog class
    } else {
        w.Ordinal(5);
        w.Text(u"QuarryDialog");
    }
    w.Text(u"Norvik Quarry Tool");
    if (shape.style & kDialogStyleSetFont) {
        w.Word(shape.pointSize);
        if (shape.pointSize != kDialogMessageFontSize) {
            if (shape.extended) {
                w.Word(700);
                w.bytes.push_back(1);    // italic
                w.bytes.push_back(128);  // SHIFTJIS_CHARSET
            }
            w.Text(shape.faceName);
        }
    }
    struct Item {
        std::uint32_t style;
        std::int16_t x, y, cx, cy;
        std::uint16_t id;
        std::uint16_t classOrdinal;
        std::u16string className;
        std::u16string text;
        std::vector<std::uint8_t> creationData;
    };
    const Item items[] = {
        {0x50020000, 12, 12, 222, 12, 1011, 0x82, u"", u"Extracting...", {}},
        {0x50800000, 12, 30, 222, 14, 1010, 0, u"msctls_progress32", u"", {1, 2, 3}},
        {0x50010000, 168, 48, 66, 14, 2, 0x80, u"", u"Cancel", {}},
    };
    for (const Item& item : items) {
        w.Align();
        if (shape.extended) {
            w.Dword(0);  // help id
            w.Dword(0);  // extended style
            w.Dword(item.style);
        } else {
            w.Dword(item.style);
            w.Dword(0);
        }
        for (std::int16_t value : {item.x, item.y, item.cx, item.cy}) {
            w.Word(static_cast<std::uint16_t>(value));
        }
        if (shape.extended) {
            w.Dword(item.id);
        } else {
            w.Word(item.id);
        }
        if (item.classOrdinal) {
            w.Ordinal(item.classOrdinal);
        } else {
            w.Text(item.className);
        }
        w.Text(item.text);
        w.Word(static_cast<std::uint16_t>(item.creationData.size()));
        w.bytes.insert(w.bytes.end(), item.creationData.begin(), item.creationData.end());
    }
    return w.bytes;
}

std::vector<std::uint8_t> Copy(const std::vector<std::uint8_t>& bytes, std::u16string_view face) {
    return CopyDialogTemplateWithFont(bytes.data(), bytes.size(), face);
}

std::size_t AlignUp4(std::size_t value) { return (value + 3) / 4 * 4; }

TEST(DialogTemplate, ReadsBothLayouts) {
    for (bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        const DialogTemplateLayout layout = Read(MakeTemplate({extended}));
        EXPECT_EQ(layout.extended, extended);
        EXPECT_EQ(layout.helpId, extended ? 77u : 0u);
        EXPECT_EQ(layout.style, kProgressStyle);
        EXPECT_EQ(layout.exStyle, 0x40000u);
        EXPECT_EQ(layout.styleOffset, extended ? 12u : 0u);
        EXPECT_EQ(layout.cx, 245);
        EXPECT_EQ(layout.cy, 69);
        EXPECT_EQ(layout.menu.ordinal, extended ? 0 : 5);
        EXPECT_EQ(layout.windowClass.name, extended ? u"" : u"QuarryDialog");
        EXPECT_EQ(layout.title, u"Norvik Quarry Tool");
        EXPECT_EQ(layout.pointSize, 9);
        EXPECT_EQ(layout.weight, extended ? 700 : 0);
        EXPECT_EQ(layout.italic, extended ? 1 : 0);
        EXPECT_EQ(layout.charset, extended ? 128 : 0);
        EXPECT_TRUE(layout.hasFaceName);
        EXPECT_EQ(layout.faceName, u"Segoe UI");
        EXPECT_EQ(layout.faceOffset, layout.fontOffset + (extended ? 6 : 2));
        EXPECT_EQ(layout.itemsOffset % 4, 0u);
        ASSERT_EQ(layout.items.size(), 3u);
        EXPECT_EQ(layout.items[0].windowClass.ordinal, 0x82);
        EXPECT_EQ(layout.items[0].text.name, u"Extracting...");
        EXPECT_EQ(layout.items[0].id, 1011u);
        EXPECT_EQ(layout.items[1].windowClass.name, u"msctls_progress32");
        EXPECT_EQ(layout.items[1].creationDataSize, 3);
        EXPECT_EQ(layout.items[1].style, 0x50800000u);
        EXPECT_EQ(layout.items[2].id, 2u);
        EXPECT_EQ(layout.items[2].x, 168);
        EXPECT_EQ(layout.items[2].text.name, u"Cancel");
    }
}

TEST(DialogTemplate, ReplacesAnotherFaceAndMovesTheItemsToTheNextBoundary) {
    // Names of every length modulo 4 units, shorter and longer than the
    // template's, so that the items land on each possible boundary.
    for (bool extended : {true, false}) {
        for (std::u16string face : {u"A", u"Tahoma", u"Meiryo UI", u"MS UI Gothic",
                                    u"Microsoft JhengHei"}) {
            SCOPED_TRACE(std::string(extended ? "extended " : "classic ") +
                         std::string(face.begin(), face.end()));
            const std::vector<std::uint8_t> original = MakeTemplate({extended});
            const DialogTemplateLayout before = Read(original);
            const std::vector<std::uint8_t> copy = Copy(original, face);
            const DialogTemplateLayout after = Read(copy);
            EXPECT_EQ(after.faceName, face);
            EXPECT_EQ(after.faceOffset, before.faceOffset);
            // The font fields before the name stay.
            EXPECT_EQ(after.pointSize, 9);
            EXPECT_EQ(after.weight, before.weight);
            EXPECT_EQ(after.italic, before.italic);
            EXPECT_EQ(after.charset, before.charset);
            EXPECT_EQ(std::vector<std::uint8_t>(copy.begin(), copy.begin() + before.faceOffset),
                      std::vector<std::uint8_t>(original.begin(),
                                                original.begin() + before.faceOffset));
            EXPECT_EQ(after.itemsOffset, AlignUp4(before.faceOffset + 2 * (face.size() + 1)));
            EXPECT_EQ(ItemBytes(copy), ItemBytes(original));
            EXPECT_EQ(copy.size(), after.itemsOffset + ItemBytes(original).size());
        }
    }
}

TEST(DialogTemplate, AddsAFontBlockAfterTheTitleWhenThereIsNone) {
    const std::u16string face = u"Meiryo UI";
    for (bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        const std::vector<std::uint8_t> original =
            MakeTemplate({extended, kProgressStyle & ~kDialogStyleSetFont});
        const DialogTemplateLayout before = Read(original);
        ASSERT_FALSE(before.hasFaceName);
        const std::vector<std::uint8_t> copy = Copy(original, face);
        const DialogTemplateLayout after = Read(copy);
        EXPECT_EQ(after.style, kProgressStyle);
        EXPECT_EQ(after.fontOffset, before.fontOffset);
        EXPECT_EQ(after.pointSize, 9);
        EXPECT_EQ(after.weight, extended ? 400 : 0);
        EXPECT_EQ(after.italic, 0);
        EXPECT_EQ(after.charset, 0);
        EXPECT_EQ(after.faceName, face);
        EXPECT_EQ(after.title, u"Norvik Quarry Tool");
        EXPECT_EQ(ItemBytes(copy), ItemBytes(original));
        EXPECT_EQ(copy.size(), after.itemsOffset + ItemBytes(original).size());
        if (extended) {
            // Six bytes of font fields besides the name and its padding: more
            // than the template's size plus twice the name plus 4.
            EXPECT_GT(copy.size(), original.size() + 2 * face.size() + 4);
        }
    }
}

TEST(DialogTemplate, ReplacesTheMessageFontLikeAMissingFont) {
    const std::vector<std::uint8_t> original =
        MakeTemplate({true, kProgressStyle, u"", kDialogMessageFontSize});
    const DialogTemplateLayout before = Read(original);
    EXPECT_FALSE(before.hasFaceName);
    EXPECT_EQ(before.pointSize, kDialogMessageFontSize);
    const DialogTemplateLayout after = Read(Copy(original, u"Segoe UI"));
    EXPECT_EQ(after.pointSize, 9);
    EXPECT_EQ(after.weight, 400);
    EXPECT_EQ(after.faceName, u"Segoe UI");
    EXPECT_EQ(after.items.size(), 3u);
}

TEST(DialogTemplate, CopiesATemplateThatAlreadyNamesTheFaceUnchanged) {
    for (bool extended : {true, false}) {
        SCOPED_TRACE(extended ? "extended" : "classic");
        const std::vector<std::uint8_t> original = MakeTemplate({extended});
        EXPECT_EQ(Copy(original, u"Segoe UI"), original);
        // The comparison is case-sensitive.
        const std::vector<std::uint8_t> otherCase = Copy(original, u"segoe UI");
        EXPECT_NE(otherCase, original);
        EXPECT_EQ(Read(otherCase).faceName, u"segoe UI");
    }
}

TEST(DialogTemplate, SetsTheFontStylesForTheNewFace) {
    struct Case {
        std::uint32_t style;
        std::u16string templateFace;
        std::u16string newFace;
        std::uint32_t expected;
    };
    const std::uint32_t base = kProgressStyle & ~kDialogStyleSetFont;
    const Case cases[] = {
        // DS_FIXEDSYS goes, DS_SETFONT stays or comes.
        {base | kDialogStyleShellFont, u"MS Shell Dlg", u"Segoe UI", base | kDialogStyleSetFont},
        {base | kDialogStyleShellFont, u"Segoe UI", u"Segoe UI", base | kDialogStyleSetFont},
        {base, u"", u"Tahoma", base | kDialogStyleSetFont},
        // Exactly "MS Shell Dlg" gets DS_SHELLFONT, also from an unchanged copy.
        {base | kDialogStyleSetFont, u"Segoe UI", u"MS Shell Dlg", base | kDialogStyleShellFont},
        {base, u"", u"MS Shell Dlg", base | kDialogStyleShellFont},
        {base | kDialogStyleShellFont, u"MS Shell Dlg", u"MS Shell Dlg", base | kDialogStyleShellFont},
        {base | kDialogStyleSetFont, u"Segoe UI", u"ms shell dlg", base | kDialogStyleSetFont},
        {base | kDialogStyleSetFont, u"Segoe UI", u"MS Shell Dlg 2", base | kDialogStyleSetFont},
    };
    for (bool extended : {true, false}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(extended ? "extended " : "classic ") +
                         std::string(c.newFace.begin(), c.newFace.end()) + " over " +
                         std::to_string(c.style));
            const std::vector<std::uint8_t> copy =
                Copy(MakeTemplate({extended, c.style, c.templateFace}), c.newFace);
            EXPECT_EQ(Read(copy).style, c.expected);
        }
    }
}

TEST(DialogTemplate, RejectsEveryTruncatedTemplate) {
    for (bool extended : {true, false}) {
        for (std::uint32_t style : {kProgressStyle, kProgressStyle & ~kDialogStyleSetFont}) {
            const std::vector<std::uint8_t> whole = MakeTemplate({extended, style});
            ASSERT_TRUE(ReadDialogTemplate(whole.data(), whole.size()).has_value());
            for (std::size_t size = 0; size < whole.size(); ++size) {
                // A copy, so that the sanitizer sees any read past `size`.
                const std::vector<std::uint8_t> cut(whole.begin(), whole.begin() + size);
                EXPECT_FALSE(ReadDialogTemplate(cut.data(), cut.size()).has_value())
                    << "size " << size;
                EXPECT_TRUE(CopyDialogTemplateWithFont(cut.data(), cut.size(), u"Tahoma").empty())
                    << "size " << size;
            }
        }
    }
}

TEST(DialogTemplate, KeepsPaddingAfterTheLastItem) {
    std::vector<std::uint8_t> padded = MakeTemplate({true});
    padded.resize(AlignUp4(padded.size()) + 4, 0);
    const std::vector<std::uint8_t> copy = Copy(padded, u"Meiryo UI");
    EXPECT_EQ(ItemBytes(copy), ItemBytes(padded));
}

TEST(DialogTemplate, RejectsMalformedInputsAndFaceNames) {
    std::vector<std::uint8_t> wrongVersion = MakeTemplate({true});
    wrongVersion[0] = 2;
    EXPECT_FALSE(ReadDialogTemplate(wrongVersion.data(), wrongVersion.size()).has_value());
    EXPECT_FALSE(ReadDialogTemplate(nullptr, 0).has_value());

    // An item count larger than the items present.
    std::vector<std::uint8_t> moreItems = MakeTemplate({true});
    moreItems[16] = 4;  // the item count follows the style
    EXPECT_TRUE(Copy(moreItems, u"Tahoma").empty());

    const std::vector<std::uint8_t> good = MakeTemplate({true});
    EXPECT_TRUE(Copy(good, u"").empty());
    EXPECT_TRUE(Copy(good, std::u16string(u"Seg\0oe", 6)).empty());
}

}  // namespace
}  // namespace quarry

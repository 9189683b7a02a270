#include "ui/XmlParser.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "common/Text.h"
#include "common/Unique.h"
#include "common/WinTestSupport.h"

namespace quarry {
namespace {

using nsCommon::CXMLParser;
using nsCommon::NodeText;
using testing::ScratchFolder;
using testing::WriteBytes;
using testing::WriteUtf16File;

std::string Narrow(const std::u16string& text) { return Utf16ToUtf8(text); }

bool WriteUtf8File(const std::u16string& path, const std::u16string& text) {
    const std::string utf8 = Utf16ToUtf8(text);
    return WriteBytes(path, std::vector<std::uint8_t>(utf8.begin(), utf8.end()));
}

// The text of the first node `query` selects, or "<none>" when nothing does.
std::string Select(const CXMLParser& parser, const std::u16string& query,
                   IXMLDOMNode* context = nullptr) {
    ComPtr<IXMLDOMNode> node = parser.SelectNode(query, context);
    return node ? Narrow(NodeText(node.Get())) : std::string("<none>");
}

// The document's "SelectionNamespaces" property as Load set it. (Wine 8's
// msxml3 keeps the text even though it refuses the blank before "=".)
std::u16string SelectionNamespaces(const CXMLParser& parser) {
    BSTR name = ::SysAllocString(L"SelectionNamespaces");
    VARIANT value;
    ::VariantInit(&value);
    std::u16string text;
    if (SUCCEEDED(parser.document->getProperty(name, &value)) && value.vt == VT_BSTR) {
        text = FromWide(value.bstrVal);
    }
    ::VariantClear(&value);
    ::SysFreeString(name);
    return text;
}

const char16_t kJapaneseTitle[] = u"\u30BB\u30C3\u30C8\u30A2\u30C3\u30D7";  // セットアップ
const char16_t kJapaneseMessage[] =
    u"\u30D5\u30A1\u30A4\u30EB\u3092\u5C55\u958B\u3057\u307E\u3059\u3002";  // ファイルを展開します。

std::u16string TwoLanguages(const std::u16string& rootAttributes) {
    return u"<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
           u"<MessageInfo" + rootAttributes + u">\r\n"
           u"  <en-US>\r\n"
           u"    <Title>English title</Title>\r\n"
           u"    <Message>Read <b>this</b> first.</Message>\r\n"
           u"  </en-US>\r\n"
           u"  <ja-JP>\r\n"
           u"    <Title>" + std::u16string(kJapaneseTitle) + u"</Title>\r\n"
           u"    <Message>" + std::u16string(kJapaneseMessage) + u"</Message>\r\n"
           u"  </ja-JP>\r\n"
           u"</MessageInfo>\r\n";
}

// The program initialises COM multithreaded before the reader is used.
class XmlParserTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    }
    void TearDown() override { ::CoUninitialize(); }

    ScratchFolder scratch;
};

TEST_F(XmlParserTest, WithoutNamespaceSelectsLanguageAndItsOwnChildren) {
    const std::u16string path = scratch / u"MessageInfo.xml";
    ASSERT_TRUE(WriteUtf8File(path, TwoLanguages(u"")));

    CXMLParser parser;
    ASSERT_TRUE(parser.document);
    ASSERT_TRUE(parser.Load(path));
    EXPECT_EQ(parser.queryPrefix, u"");

    ComPtr<IXMLDOMNode> english = parser.SelectNode(u"MessageInfo/en-US", nullptr);
    ASSERT_TRUE(english);
    ComPtr<IXMLDOMNode> japanese = parser.SelectNode(u"MessageInfo/ja-JP", nullptr);
    ASSERT_TRUE(japanese);

    EXPECT_EQ(Select(parser, u"Title", english.Get()), "English title");
    // The text of a node is all of its descendant text.
    EXPECT_EQ(Select(parser, u"Message", english.Get()), "Read this first.");
    EXPECT_EQ(Select(parser, u"Title", japanese.Get()), Narrow(kJapaneseTitle));
    EXPECT_EQ(Select(parser, u"Message", japanese.Get()), Narrow(kJapaneseMessage));

    // Without a context the relative query starts at the document, which has
    // no Title child.
    EXPECT_EQ(Select(parser, u"Title"), "<none>");
    EXPECT_EQ(Select(parser, u"MessageInfo/de-DE"), "<none>");
    EXPECT_EQ(Select(parser, u"MessageInfo/EN-US"), "<none>");  // names are case-sensitive
}

TEST_F(XmlParserTest, ReadsUtf8AndUtf16WithByteOrderMarkIncludingJapaneseText) {
    const std::u16string utf8Path = scratch / u"Utf8Bom.xml";
    const std::string utf8 = "\xEF\xBB\xBF" + Utf16ToUtf8(TwoLanguages(u""));
    ASSERT_TRUE(WriteBytes(utf8Path, std::vector<std::uint8_t>(utf8.begin(), utf8.end())));
    const std::u16string utf16Path = scratch / u"Utf16Bom.xml";
    std::u16string utf16 = TwoLanguages(u"");
    utf16.replace(utf16.find(u"UTF-8"), 5, u"UTF-16");
    ASSERT_TRUE(WriteUtf16File(utf16Path, utf16));  // writes the BOM

    for (const std::u16string& path : {utf8Path, utf16Path}) {
        SCOPED_TRACE(Narrow(path));
        CXMLParser parser;
        ASSERT_TRUE(parser.Load(path));
        ComPtr<IXMLDOMNode> japanese = parser.SelectNode(u"MessageInfo/ja-JP", nullptr);
        ASSERT_TRUE(japanese);
        ComPtr<IXMLDOMNode> title = parser.SelectNode(u"Title", japanese.Get());
        ASSERT_TRUE(title);
        EXPECT_EQ(NodeText(title.Get()), kJapaneseTitle);
        ComPtr<IXMLDOMNode> message = parser.SelectNode(u"Message", japanese.Get());
        ASSERT_TRUE(message);
        EXPECT_EQ(NodeText(message.Get()), kJapaneseMessage);
    }
}

TEST_F(XmlParserTest, UsesLanguageTextWhenItHasNoTitleOrMessage) {
    const std::u16string path = scratch / u"MessageInfo.xml";
    ASSERT_TRUE(WriteUtf8File(path, u"<MessageInfo><en>Plain message</en>"
                                    u"<JPN>" + std::u16string(kJapaneseMessage) +
                                    u"</JPN></MessageInfo>"));

    CXMLParser parser;
    ASSERT_TRUE(parser.Load(path));
    ComPtr<IXMLDOMNode> english = parser.SelectNode(u"MessageInfo/en", nullptr);
    ASSERT_TRUE(english);
    EXPECT_EQ(NodeText(english.Get()), u"Plain message");
    EXPECT_EQ(Select(parser, u"Title", english.Get()), "<none>");
    EXPECT_EQ(Select(parser, u"Message", english.Get()), "<none>");
    EXPECT_EQ(Select(parser, u"MessageInfo/JPN"), Narrow(kJapaneseMessage));
}

TEST_F(XmlParserTest, WithDefaultNamespaceBindsBkAndMissesLanguageStep) {
    const std::u16string path = scratch / u"MessageInfo.xml";
    ASSERT_TRUE(WriteUtf8File(path, TwoLanguages(u" xmlns=\"urn:quarry:messages\"")));

    CXMLParser parser;
    ASSERT_TRUE(parser.Load(path));
    EXPECT_EQ(parser.queryPrefix, u"//bk:");
    EXPECT_EQ(SelectionNamespaces(parser), u"xmlns:bk ='urn:quarry:messages'");

    // Only the first step is in the namespace; the language children inherit
    // the default namespace, so the unprefixed language step misses them.
    EXPECT_EQ(Select(parser, u"MessageInfo/en-US"), "<none>");
    EXPECT_EQ(Select(parser, u"MessageInfo/ja-JP"), "<none>");
}

// With the namespace's own prefix "bk" in the file, the first step matches
// bk:MessageInfo, the language step only a language element in no namespace,
// and "Title" and "Message" become "//bk:Title" and "//bk:Message": the first
// such element in the whole document, not the one below the context.
TEST_F(XmlParserTest, WithNamespaceTitleAndMessageAreLookedUpAnywhere) {
    const std::u16string path = scratch / u"MessageInfo.xml";
    ASSERT_TRUE(WriteUtf8File(path, u"<bk:MessageInfo xmlns:bk='urn:quarry:messages'>"
                                    u"<bk:en-US><bk:Title>Namespaced title</bk:Title>"
                                    u"<bk:Message>Namespaced message</bk:Message></bk:en-US>"
                                    u"<bk:ja-JP><bk:Title>Namespaced ja-JP</bk:Title></bk:ja-JP>"
                                    u"<ja-JP><Title>Plain title</Title>"
                                    u"<Message>Plain message</Message></ja-JP>"
                                    u"</bk:MessageInfo>"));

    CXMLParser parser;
    ASSERT_TRUE(parser.Load(path));
    EXPECT_EQ(parser.queryPrefix, u"//bk:");
    EXPECT_EQ(SelectionNamespaces(parser), u"xmlns:bk ='urn:quarry:messages'");

    EXPECT_EQ(Select(parser, u"MessageInfo/en-US"), "<none>");
    ComPtr<IXMLDOMNode> japanese = parser.SelectNode(u"MessageInfo/ja-JP", nullptr);
    ASSERT_TRUE(japanese);
    EXPECT_EQ(NodeText(japanese.Get()), u"Plain titlePlain message");

    EXPECT_EQ(Select(parser, u"Title", japanese.Get()), "Namespaced title");
    EXPECT_EQ(Select(parser, u"Message", japanese.Get()), "Namespaced message");
    EXPECT_EQ(Select(parser, u"Title"), "Namespaced title");
}

TEST_F(XmlParserTest, LoadFailsForMissingMalformedOrNoFile) {
    const std::u16string good = scratch / u"Good.xml";
    ASSERT_TRUE(WriteUtf8File(good, TwoLanguages(u" xmlns=\"urn:quarry:messages\"")));
    const std::u16string malformed = scratch / u"Malformed.xml";
    ASSERT_TRUE(WriteUtf8File(malformed, u"<MessageInfo><en-US><Title>x</en-US></MessageInfo>"));
    const std::u16string notXml = scratch / u"NotXml.xml";
    ASSERT_TRUE(WriteBytes(notXml, {'h', 'e', 'l', 'l', 'o'}));
    const std::u16string empty = scratch / u"Empty.xml";
    ASSERT_TRUE(WriteBytes(empty, {}));

    CXMLParser parser;
    ASSERT_TRUE(parser.document);
    EXPECT_FALSE(parser.Load(scratch / u"Missing.xml"));
    EXPECT_FALSE(parser.Load(malformed));
    EXPECT_FALSE(parser.Load(notXml));
    EXPECT_FALSE(parser.Load(empty));
    EXPECT_FALSE(parser.Load(u""));
    EXPECT_FALSE(parser.Load(static_cast<const char16_t*>(nullptr)));

    // A failed load after a namespaced one leaves no prefix behind.
    ASSERT_TRUE(parser.Load(good.c_str()));
    EXPECT_EQ(parser.queryPrefix, u"//bk:");
    EXPECT_FALSE(parser.Load(malformed));
    EXPECT_EQ(parser.queryPrefix, u"");
}

TEST_F(XmlParserTest, NodeTextOfNullIsEmpty) {
    EXPECT_EQ(NodeText(nullptr), u"");
    CXMLParser parser;
    // Before any load the document is empty and matches nothing.
    EXPECT_FALSE(parser.SelectNode(u"MessageInfo", nullptr));
}

}  // namespace
}  // namespace quarry

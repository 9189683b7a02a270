#include "Check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "XmlCheck.h"
#include "common/Text.h"

namespace quarry::pack {
namespace {

std::vector<std::uint8_t> Bytes(const std::string& text) {
    return std::vector<std::uint8_t>(text.begin(), text.end());
}

// A package with setup.exe and docs\readme.txt in its payload, a flat file
// and a driver group, checked with the given settings text.
CheckInputs Inputs(const std::string& settings) {
    CheckInputs inputs;
    inputs.settingsFile = "Settings.ini";
    inputs.settingsText = Utf8ToUtf16(settings);
    inputs.destinationFiles = {u"setup.exe", u"docs\\readme.txt", u"flat.txt", u"Drivers\\a.inf"};
    inputs.destinationFolders = {u"docs", u"Drivers"};
    inputs.payloadBytes = 1000;
    return inputs;
}

std::vector<std::string> Lines(const std::vector<Finding>& findings) {
    std::vector<std::string> lines;
    for (const Finding& finding : findings) lines.push_back(FormatFinding(finding));
    return lines;
}

std::string Joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\n";
    return text;
}

const char kRunsSetup[] = "[Execution_x86]\nFileName=setup.exe\n[Execution_x64]\nFileName=setup.exe\n";

TEST(Check, CleanSettingsGiveNoFinding) {
    const std::string settings = std::string("; comment\n[Package]\nProductName=Widget\n") +
                                 "PackageDateTime=2020\n[Restriction]\nOSVersionMin=0x00060001\n"
                                 "OSBuildMin=0x1DB10000\n[Extraction]\nWritableItems=.\\docs\\|"
                                 "docs\\readme.txt|logs\\\n" +
                                 "[execution_X86]\nfilename=\"Drivers\\A.INF\"\nWaitMode=3\n"
                                 "WaitTimeout=60\nOptions=/log \"%QUARRYTOOLTEMP%\\x.log\"\n"
                                 "[Execution_x64]\nFileName=flat.txt\n";
    // A writable folder that the package does not hold is created: no finding.
    EXPECT_EQ(std::vector<std::string>{}, Lines(CheckPackageInputs(Inputs(settings))));
}

// The profile reader ends lines at CR LF, LF and a CR alone: the same
// settings give the same findings (line numbers included) in each form.
TEST(Check, EveryLineEndIsReadAlike) {
    const std::string settings =
        "[Package]\nWindowTitle=Error\n[Execution_x86]\nFileName=setup.exe\n"
        "[Execution_x64]\nFileName=missing.exe\n";
    const std::vector<std::string> expected = Lines(CheckPackageInputs(Inputs(settings)));
    ASSERT_EQ(2u, expected.size()) << Joined(expected);
    EXPECT_NE(std::string::npos, expected[1].find("Settings.ini:6: error: FileName")) << expected[1];
    for (const char* end : {"\r\n", "\r"}) {
        std::string converted;
        for (char c : settings) converted += c == '\n' ? std::string(end) : std::string(1, c);
        EXPECT_EQ(expected, Lines(CheckPackageInputs(Inputs(converted)))) << end[1];
    }
}

// `""Widget Tool.msi" /qn"` is the documented way to begin a value with a
// quoted word: the reader takes the outer pair away and the inner quotes
// arrive. Only quotes that would be lost are warned about.
TEST(Check, DoubledLeadingQuoteKeepsTheInnerQuotesWithoutAWarning) {
    for (const char* value : {"\"\"Widget Tool.msi\" /qn\"", "\"\"a\" \"b\"\"", "'x' y"}) {
        const std::string settings = std::string(kRunsSetup) + "Options=" + value + "\n";
        EXPECT_EQ(std::vector<std::string>{}, Lines(CheckPackageInputs(Inputs(settings)))) << value;
    }
    const std::string lost = std::string(kRunsSetup) + "Options='a b' 'c'\n";
    EXPECT_EQ(1u, CheckPackageInputs(Inputs(lost)).size());
}

// Each broken file and one line its findings must hold, word for word.
TEST(Check, BrokenSettingsProduceTheirLine) {
    const struct {
        std::string settings;
        std::string line;
    } cases[] = {
        {"[Execution_x86]\nFileNmae=setup.exe\n",
         "Settings.ini:2: error: FileNmae: unknown key in [Execution_x86]; did you mean FileName?"},
        {"[Package]\nFileName=setup.exe\n",
         "Settings.ini:2: error: FileName: unknown key in [Package]; FileName belongs in "
         "[Execution_x86]"},
        {"[Exection_x64]\nFileName=setup.exe\n",
         "Settings.ini:1: error: [Exection_x64]: unknown section; did you mean [Execution_x64]?"},
        {"[Vendor]\nAnything=1\n", "Settings.ini:1: warning: [Vendor]: unknown section; nothing "
                                   "reads it"},
        {"ProductName=x\n", "Settings.ini:1: warning: ProductName: outside any section; nothing "
                            "reads it"},
        {"[Message]\nShowMessageBox=yes\n",
         "Settings.ini:2: error: ShowMessageBox: \"yes\" is not true or false; the program reads "
         "false (write true, false, 1 or 0)"},
        {"[Execution_x86]\nWaitTimeout=10min\nWaitMode=1\n",
         "Settings.ini:2: error: WaitTimeout: \"10min\" is not an unsigned whole number; the "
         "program reads 10 (decimal, 0x for hexadecimal)"},
        {"[Execution_x86]\nWaitMode=-1\n",
         "Settings.ini:2: error: WaitMode: \"-1\" is out of range; the program reads 4294967295"},
        {"[Extraction]\nSpecifiedExtractFolder=1\nTargetParentFolderType=010\n",
         "Settings.ini:3: warning: TargetParentFolderType: \"010\" has a leading 0 and is read as "
         "octal: 8"},
        {"[Package]\nTotalFileSize=99999999999999999999\n",
         "Settings.ini:2: error: TotalFileSize: \"99999999999999999999\" is out of range; the "
         "program reads 9223372036854775807"},
        {"[Restriction]\nOSBuildMin=0x1DB10000\n",
         "Settings.ini:2: error: OSBuildMin: read only together with OSVersionMin, which is "
         "missing; the build is ignored"},
        {"[Restriction]\nOSVersionMin=10\n",
         "Settings.ini:2: error: OSVersionMin: 0x0000000A means Windows 0.10, which every Windows "
         "passes; the word is major << 16 | minor (Windows 10 is 0x000A0000, Windows 7 is "
         "0x00060001)"},
        {"[Restriction]\nOSVersionMin=0x000B0000\n",
         "Settings.ini:2: error: OSVersionMin: 0x000B0000 means Windows 11.0, which no Windows "
         "reports (Windows 11 is 10.0 from build 22000): the package can never run"},
        {"[Restriction]\nOSVersionMin=0x00060001\nOSBuildMin=7601\n",
         "Settings.ini:3: warning: OSBuildMin: 0x00001DB1 means build 0 with service pack 7601; "
         "build 7601 is written 0x1DB10000 (build << 16 | service pack)"},
        {"[Restriction]\nCheckDigitalSignature=true\n",
         "Settings.ini:2: warning: CheckDigitalSignature: sign the packed program before it "
         "ships; unsigned it ends with 0x80040007"},
        {"[Restriction]\nDigitalSignatureSignerName=Norvik\n",
         "Settings.ini:2: warning: DigitalSignatureSignerName: has no effect unless "
         "CheckDigitalSignature is true"},
        {"[Restriction]\nCheckManufacturer=1\n",
         "Settings.ini:2: warning: CheckManufacturer: no ManufacturerName: only computers that "
         "report no manufacturer pass"},
        {"[Extraction]\nSpecifiedExtractFolder=true\nTargetParentFolderType=3\n",
         "Settings.ini:3: error: TargetParentFolderType: 3 is none of 0 (the program's folder), 1 "
         "(the desktop) and 2 (Downloads); the folder would go to the root of the current drive"},
        {"[Extraction]\nTargetFolderName=Widget\n",
         "Settings.ini:2: warning: TargetFolderName: has no effect unless SpecifiedExtractFolder "
         "is true"},
        {"[Extraction]\nSpecifiedExtractFolder=true\nTargetFolderName=..\\Windows\n",
         "Settings.ini:3: error: TargetFolderName: not a relative path that stays inside the "
         "package's folder (no drive, no leading \"\\\", no \".\" or \"..\" parts)"},
        {"[Extraction]\nWritableItems=docs|C:\\Windows\\\n",
         "Settings.ini:2: error: WritableItems: \"docs\" is a folder of the package; end it with "
         "\"\\\" or it is left locked"},
        {"[Extraction]\nWritableItems=docs|C:\\Windows\\\n",
         "Settings.ini:2: error: WritableItems: \"C:\\Windows\\\": not a relative path that stays "
         "inside the package's folder (no drive, no leading \"\\\", no \".\" or \"..\" parts)"},
        {"[Extraction]\nWritableItems=setup.exe\\|..\\\n",
         "Settings.ini:2: error: WritableItems: a piece made only of dots and backslashes names "
         "no item"},
        {"[Extraction]\nWritableItems=cache\\state.dat\n",
         "Settings.ini:2: warning: WritableItems: \"cache\\state.dat\" is not in the package and "
         "neither is its folder, so nothing is created"},
        {"[Execution_x86]\nFileName=setup.exe\n[Execution_x64]\n",
         "Settings.ini:3: warning: FileName: [Execution_x64] names no file: on 64-bit Windows "
         "nothing is started (there is no fallback to [Execution_x86])"},
        {"[Package]\nProductName=x\n",
         "Settings.ini: warning: FileName: neither [Execution_x86] nor [Execution_x64] names a "
         "file: the package is extracted and nothing is started"},
        {"[Execution_x86]\nFileName=Setup.msi\n",
         "Settings.ini:2: error: FileName: \"Setup.msi\" [Execution_x86] is not in the payload or "
         "a flat or named group; nothing would be started and the run would end with 0"},
        {"[Execution_x64]\nFileName=%QUARRYTOOLROOT%\\setup.exe\n",
         "Settings.ini:2: error: FileName: placeholders are replaced in the arguments only, not in "
         "FileName"},
        {"[Execution_x64]\nFileName=setup.exe\nOptions=/dir %QuarryToolRoot% /t %QUARRYTOOLTEMP\n",
         "Settings.ini:3: error: Options: \"%QuarryToolRoot%\" is left as it is: the placeholders "
         "are %QUARRYTOOLROOT% and %QUARRYTOOLTEMP%, in capitals"},
        {"[Execution_x64]\nFileName=setup.exe\nOptions=/dir %QuarryToolRoot% /t %QUARRYTOOLTEMP\n",
         "Settings.ini:3: error: Options: \"%QUARRYTOOLTEMP\" is left as it is: the placeholders "
         "are %QUARRYTOOLROOT% and %QUARRYTOOLTEMP%, in capitals"},
        {"[Execution_x86]\nWaitTimeout=60\n",
         "Settings.ini:2: warning: WaitTimeout: has no effect unless WaitMode has bit 0 set "
         "(WaitMode=1 or 3)"},
        {"[Execution_x86]\nWaitMode=4\n",
         "Settings.ini:2: warning: WaitMode: only bits 0 (1: wait for the program and its "
         "processes) and 1 (2: wait for the files to be released) mean anything; the rest are "
         "ignored"},
        {"[Message]\nDialogButtonType=2\n",
         "Settings.ini:2: warning: DialogButtonType: 2 gives OK and Cancel like 0; only 1 gives "
         "OK alone"},
        {"[Message]\nShowMessageBox=1\n",
         "Settings.ini:2: warning: ShowMessageBox: the package carries no MessageInfo.xml, so "
         "nothing is shown"},
        {"[Package]\nTotalFileSize=10\n",
         "Settings.ini:2: warning: TotalFileSize: 10 is less than the payload's 1000 bytes: the "
         "free-space check asks for too little (leave the key out and quarrypack fills it in)"},
        {"[Package]\nProductName=a\nproductname=b\n",
         "Settings.ini:3: warning: productname: given again in [Package] (first at line 2); the "
         "program reads the first"},
        {"[Package]\n[Execution_x86]\nFileName=setup.exe\n[package]\nProductName=b\n",
         "Settings.ini:4: warning: [package]: given again (first at line 1); the program reads "
         "only the first, so the keys below are ignored"},
        {"[Execution_x86]\nFileName=setup.exe\nOptions=\"a b\" \"c\"\n",
         "Settings.ini:3: warning: Options: the reader removes the quotes at both ends, so the "
         "program reads a b\" \"c; begin the value with something other than a quote"},
        {"[Package]\nWindowTitle=Error\n",
         "Settings.ini:2: warning: WindowTitle: a value of exactly \"Error\" reads as absent"},
        {"[Package]\nWindowTitle\n", "Settings.ini:2: warning: WindowTitle: no \"=\"; the key "
                                     "reads as absent"},
        {"[Package]\nWindowTitle=" + std::string(600, 'x') + "\n",
         "Settings.ini:2: error: WindowTitle: the value is 600 characters long; the program reads "
         "only the first 511"},
        {"[Package\nProductName=x\n", "Settings.ini:1: warning: a section header without \"]\"; "
                                      "the lines below belong to the section before it"},
    };
    for (const auto& c : cases) {
        const std::vector<std::string> lines = Lines(CheckPackageInputs(Inputs(c.settings)));
        EXPECT_NE(lines.end(), std::find(lines.begin(), lines.end(), c.line))
            << "settings:\n" << c.settings << "findings:\n" << Joined(lines);
    }
}

TEST(Check, SettingsOfAPackedProgramAreJudgedByItsSignature) {
    CheckInputs inputs = Inputs(std::string("[Restriction]\nCheckDigitalSignature=1\n") + kRunsSetup);
    inputs.programSigned = false;
    EXPECT_EQ((std::vector<std::string>{"Settings.ini:2: error: CheckDigitalSignature: the program "
                                        "file carries no signature: it will end with 0x80040007"}),
              Lines(CheckPackageInputs(inputs)));
    inputs.programSigned = true;
    EXPECT_TRUE(CheckPackageInputs(inputs).empty());
}

TEST(Check, SuggestsOnlyNamesCloseEnoughToBeATypingMistake) {
    const std::vector<std::u16string> known = {u"FileName", u"Options", u"WaitMode", u"WaitTimeout"};
    EXPECT_EQ(u"FileName", NearestName(u"FileNmae", known));
    EXPECT_EQ(u"FileName", NearestName(u"filename2", known));
    EXPECT_EQ(u"WaitTimeout", NearestName(u"WaitTimeOut", known));
    EXPECT_EQ(u"WaitTimeout", NearestName(u"WaitTime", known));
    EXPECT_EQ(u"", NearestName(u"Compression", known));
    EXPECT_EQ(u"", NearestName(u"X", known));
}

std::string MessageLines(const std::string& xml, const char* settings = "[Message]\nShowMessageBox=1\n") {
    CheckInputs inputs = Inputs(std::string(settings) + kRunsSetup);
    inputs.messageFile = "MessageInfo.xml";
    inputs.messageBytes = Bytes(xml);
    return Joined(Lines(CheckPackageInputs(inputs)));
}

TEST(Check, MessageFileContentIsJudgedAsTheProgramLooksItUp) {
    EXPECT_EQ("", MessageLines("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<MessageInfo>\n"
                               "<en-US><Title>T</Title><Message>M</Message></en-US>\n"
                               "<JPN>text only</JPN><zh-HANT-TW><Message>M</Message></zh-HANT-TW>\n"
                               "</MessageInfo>\n"));
    const struct {
        std::string xml;
        std::string line;
    } cases[] = {
        {"<Messages><en-US/></Messages>",
         "MessageInfo.xml:1: error: Messages: the root element must be <MessageInfo>; the program "
         "shows no message"},
        {"<MessageInfo>\n<en-us><Message>M</Message></en-us>\n</MessageInfo>",
         "MessageInfo.xml:2: warning: en-us: the program never asks for this name (names are "
         "matched exactly: write en-US)"},
        {"<MessageInfo>\n<en-us><Message>M</Message></en-us>\n</MessageInfo>",
         "MessageInfo.xml:1: error: MessageInfo: no language element the program would pick; it "
         "shows no message"},
        {"<MessageInfo><jpn>x</jpn><English>x</English><en-US>x</en-US></MessageInfo>",
         "MessageInfo.xml:1: warning: jpn: the program never asks for this name (names are "
         "matched exactly: write JPN)"},
        {"<MessageInfo><jpn>x</jpn><English>x</English><en-US>x</en-US></MessageInfo>",
         "MessageInfo.xml:1: warning: English: the program never asks for this name (a language "
         "name such as en-US or en, or a code such as ENG)"},
        {"<MessageInfo><ja-JP><Message>M</Message></ja-JP></MessageInfo>",
         "MessageInfo.xml:1: warning: MessageInfo: no en-US, en or ENG element: a user whose "
         "languages are all missing sees no message"},
        {"<MessageInfo><en><Note/></en></MessageInfo>",
         "MessageInfo.xml:1: warning: en: holds neither Title nor Message nor text"},
        {"<MessageInfo xmlns=\"urn:m\"><en-US>x</en-US></MessageInfo>",
         "MessageInfo.xml:1: error: MessageInfo: the default namespace of the root element applies "
         "to the language elements too, which the program looks up without a namespace: it finds "
         "none and shows no message; remove xmlns"},
        {"<m:MessageInfo xmlns:m=\"urn:m\"><en-US>x</en-US></m:MessageInfo>",
         "MessageInfo.xml:1: warning: m:MessageInfo: with a namespace the program looks for Title "
         "and Message anywhere in the file, so every language gets the first of each; write the "
         "file without one"},
        {"<MessageInfo>\n  <en-US><Message>Fish & chips</Message></en-US>\n</MessageInfo>",
         "MessageInfo.xml:2: error: not well-formed: expected an entity name after \"&\" (write "
         "&amp; for \"&\"); the program shows no message"},
    };
    for (const auto& c : cases) {
        const std::string lines = MessageLines(c.xml);
        EXPECT_NE(std::string::npos, lines.find(c.line + "\n")) << c.xml << "\n" << lines;
    }
    EXPECT_EQ("MessageInfo.xml: warning: never shown: [Message] sets neither ShowMessageBox nor "
              "ShowMessageBoxWhenSilent\n",
              MessageLines("<MessageInfo><en>x</en></MessageInfo>", "[Package]\n"));
}

// Well-formedness: each document and the first problem it must give.
TEST(XmlCheck, FindsTheFirstFaultWithItsLine) {
    const struct {
        std::string xml;
        int line;
        std::string text;
    } cases[] = {
        {"<a>\n<b>\n</a>", 3, "</a> closes <b>"},
        {"<a>\n  Fish & chips\n</a>", 2, "expected an entity name after \"&\" (write &amp; for \"&\")"},
        {"<a>AT&T</a>", 1, "\"&T\" without \";\" (write &amp; for \"&\")"},
        {"<a>&nbsp;</a>", 1, "the undefined entity &nbsp;"},
        {"<a>&#0;</a>", 1, "a character reference to a character XML does not allow"},
        {"<a>&#xZZ;</a>", 1, "a malformed character reference"},
        {"<a b='1' b='2'/>", 1, "the attribute b given twice"},
        {"<a b=1/>", 1, "an attribute value without quotes"},
        {"<a b='<'/>", 1, "\"<\" inside an attribute value"},
        {"<a\n><p:b/></a>", 2, "the prefix \"p\" of <p:b> is not declared"},
        {"<a x:y='1'/>", 1, "the prefix \"x\" of the attribute x:y is not declared"},
        {"<a/><b/>", 1, "text after the root element"},
        {"", 1, "no root element"},
        {"text", 1, "no root element"},
        {"<a><!-- x -- y --></a>", 1, "\"--\" inside a comment"},
        {"<a>]]></a>", 1, "\"]]>\" in text"},
        {"<a><![CDATA[x</a>", 1, "unterminated CDATA section"},
        {" <?xml version='1.0'?><a/>", 1,
         "an XML declaration that is not at the very start of the file"},
        {"<a>\n<b>", 2, "<b> is not closed"},
        {"<a>\x01</a>", 1, "a character that XML does not allow (U+0001)"},
        {"<a>\xC3\x28</a>", 1, "not UTF-8 text (declare the encoding the file is written in)"},
        {"<1a/>", 1, "expected an element name"},
        {"<a:b:c xmlns:a='u'/>", 1, "the name \"a:b:c\" is not a valid qualified name"},
    };
    for (const auto& c : cases) {
        XmlDocument document;
        XmlProblem problem;
        EXPECT_FALSE(ParseXml(Bytes(c.xml), document, problem)) << c.xml;
        EXPECT_EQ(c.line, problem.line) << c.xml;
        EXPECT_EQ(c.text, problem.text) << c.xml;
    }
}

TEST(XmlCheck, ReadsWhatMsxmlReadsAndKeepsTheTree) {
    const std::string utf8 =
        "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<!DOCTYPE MessageInfo [ <!ELEMENT MessageInfo ANY> ]>\n"
        "<!-- head --><?tool go?>\n"
        "<MessageInfo xmlns:x=\"urn:x\" x:v='1'>\n"
        "  <ja-JP><Title>\xE6\x9B\xB4\xE6\x96\xB0</Title><Message><![CDATA[a < b]]> &amp; "
        "&#x263A;</Message></ja-JP>\n"
        "  <x:en/>\n"
        "</MessageInfo>\n";
    XmlDocument document;
    XmlProblem problem;
    ASSERT_TRUE(ParseXml(Bytes(utf8), document, problem)) << problem.text;
    EXPECT_TRUE(document.hasDocumentType);
    const XmlElement& root = document.root;
    EXPECT_EQ(u"MessageInfo", root.name);
    EXPECT_EQ(4, root.line);
    ASSERT_EQ(2u, root.children.size());
    EXPECT_EQ(u"\u66F4\u65B0", root.children[0].children[0].text);
    EXPECT_EQ(u"a < b & \u263A", root.children[0].children[1].text);
    EXPECT_EQ(u"en", root.children[1].localName);
    EXPECT_EQ(u"urn:x", root.children[1].namespaceUri);

    // The same document in UTF-16 of either byte order, and Latin-1 when declared.
    for (bool little : {true, false}) {
        std::vector<std::uint8_t> utf16 = little ? std::vector<std::uint8_t>{0xFF, 0xFE}
                                                 : std::vector<std::uint8_t>{0xFE, 0xFF};
        for (char16_t c : Utf8ToUtf16(utf8.substr(3))) {
            const std::uint8_t low = static_cast<std::uint8_t>(c & 0xFF);
            const std::uint8_t high = static_cast<std::uint8_t>(c >> 8);
            utf16.push_back(little ? low : high);
            utf16.push_back(little ? high : low);
        }
        XmlDocument again;
        ASSERT_TRUE(ParseXml(utf16, again, problem)) << problem.text;
        EXPECT_EQ(u"a < b & \u263A", again.root.children[0].children[1].text);
    }
    ASSERT_TRUE(ParseXml(Bytes("<?xml version='1.0' encoding='ISO-8859-1'?><a>caf\xE9</a>"),
                         document, problem));
    EXPECT_EQ(u"caf\u00E9", document.root.text);

    // An encoding it cannot read is said so, with line 0.
    EXPECT_FALSE(ParseXml(Bytes("<?xml version='1.0' encoding='Shift_JIS'?><a/>"), document, problem));
    EXPECT_EQ(0, problem.line);
}

}  // namespace
}  // namespace quarry::pack

// The program file's resources as create rewrites them: the resource
// directory, the version block, icons, and the PE fields that follow the
// resource section. The shipped quarry.exe, packed and read back by an
// independent PE reader, is check-program-resources.py's.
#include "ProgramResources.h"

#include <gtest/gtest.h>

#include <fcntl.h>

#include <algorithm>
#include <cstring>
#include <functional>

#include "FileIo.h"
#include "IconFile.h"
#include "LittleEndian.h"
#include "ResourceTree.h"
#include "ToolTestSupport.h"
#include "VersionBlock.h"

namespace quarry::pack {
namespace {

using test::Bytes;

Resource Make(ResourceKey type, ResourceKey name, std::uint16_t language, Bytes data,
              std::uint32_t codePage = 0) {
    Resource resource;
    resource.type = std::move(type);
    resource.name = std::move(name);
    resource.language = ResourceKey::Id(language);
    resource.codePage = codePage;
    resource.data = std::move(data);
    return resource;
}

ResourceKey Named(const std::u16string& name) { return ResourceKey{true, 0, name}; }
ResourceKey Id(std::uint16_t id) { return ResourceKey::Id(id); }

// "type/name/language" for comparisons.
std::string Path(const Resource& r) {
    const auto key = [](const ResourceKey& k) {
        return k.named ? std::string(k.name.begin(), k.name.end()) : std::to_string(k.id);
    };
    return key(r.type) + "/" + key(r.name) + "/" + key(r.language);
}

// Data that the directory's own bytes cannot contain: a marker, a number,
// then `extra` more bytes (odd lengths test the alignment).
Bytes Marked(std::uint8_t number, std::size_t extra) {
    Bytes data = {0xDE, 0xAD, 0xBE, number};
    data.resize(4 + extra, 0x77);
    return data;
}

TEST(ResourceTree, BuildsWhatItParsesInTheLoadersOrder) {
    const std::vector<Resource> given = {
        Make(Id(16), Id(1), 0x409, Marked(1, 3), 1200),
        Make(Named(u"ZDATA"), Named(u"B"), 0, Marked(2, 0)),
        Make(Named(u"ZDATA"), Named(u"A"), 0, Marked(3, 5)),
        Make(Id(3), Id(2), 0, Marked(4, 300)),
        Make(Id(3), Id(1), 0, {}),
        Make(Id(6), Id(1), 0x411, Marked(5, 1)),
        Make(Id(6), Id(1), 0x409, Marked(6, 2)),
        Make(Named(u"AFIRST"), Id(7), 0, Marked(7, 7)),
    };
    Bytes section;
    ASSERT_TRUE(BuildResourceSection(given, 0x5000, section).Ok());
    std::vector<Resource> read;
    ASSERT_TRUE(ParseResourceSection(section.data(), section.size(), 0x5000, read).Ok());
    const std::vector<std::string> order = {"AFIRST/7/0", "ZDATA/A/0", "ZDATA/B/0", "3/1/0",
                                            "3/2/0",      "6/1/1033", "6/1/1041", "16/1/1033"};
    ASSERT_EQ(order.size(), read.size());
    for (std::size_t i = 0; i < read.size(); ++i) {
        EXPECT_EQ(order[i], Path(read[i]));
        const auto same = std::find_if(given.begin(), given.end(),
                                       [&](const Resource& g) { return Path(g) == order[i]; });
        EXPECT_EQ(same->data, read[i].data) << order[i];
        EXPECT_EQ(same->codePage, read[i].codePage) << order[i];
    }
    // Data entries hold image addresses on 8-byte boundaries: the same
    // bytes read as a section at another address point outside it.
    EXPECT_FALSE(ParseResourceSection(section.data(), section.size(), 0x6000, read).Ok());
    for (const Resource& r : given) {
        const auto at = std::search(section.begin(), section.end(), r.data.begin(), r.data.end());
        if (!r.data.empty()) {
            EXPECT_EQ(0, (at - section.begin()) % 8) << Path(r);
        }
    }

    const std::vector<Resource> twice = {Make(Id(6), Id(1), 0x409, {1}), Make(Id(6), Id(1), 0x409, {2})};
    EXPECT_FALSE(BuildResourceSection(twice, 0x5000, section).Ok());
}

TEST(ResourceTree, RefusesDirectoriesThatPointOutsideTheSection) {
    Bytes good;
    ASSERT_TRUE(BuildResourceSection({Make(Named(u"N"), Id(1), 0, {1, 2, 3, 4})}, 0x1000, good).Ok());
    // Root table, the type's table, the name's table, the data entry, the name.
    const std::size_t dataEntry = 3 * 24;
    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"cut inside the root", [](Bytes& b) { b.resize(10); }},
        {"more entries than bytes", [](Bytes& b) { Store16(&b[14], 0x4000); }},
        {"subtable outside", [](Bytes& b) { Store32(&b[16 + 4], 0x80000000u | 0xFFFF0); }},
        {"name outside", [](Bytes& b) { Store32(&b[16], 0x80000000u | 0xFFFF0); }},
        {"name longer than the section", [dataEntry](Bytes& b) { Store16(&b[dataEntry + 16], 0x7000); }},
        {"data before the section", [dataEntry](Bytes& b) { Store32(&b[dataEntry], 0x0FF0); }},
        {"data past the section", [dataEntry](Bytes& b) { Store32(&b[dataEntry + 4], 0x10000); }},
        {"a fourth level", [](Bytes& b) { Store32(&b[2 * 24 + 16 + 4], 0x80000000u); }},
        {"a table reached twice", [](Bytes& b) { Store32(&b[24 + 16 + 4], 0x80000000u | 24); }},
    };
    for (const auto& c : cases) {
        Bytes section = good;
        c.damage(section);
        std::vector<Resource> read;
        const Status status = ParseResourceSection(section.data(), section.size(), 0x1000, read);
        EXPECT_FALSE(status.Ok()) << c.name;
        EXPECT_EQ(0u, status.Message().find("resource directory: ")) << c.name;
    }
}

TEST(VersionBlock, ParseVersionNumberTakesOneToFourParts) {
    const struct {
        const char* text;
        bool ok;
        VersionNumber number;
    } cases[] = {
        {"1.2.3.4", true, {1, 2, 3, 4}},     {"2.3", true, {2, 3, 0, 0}},
        {"65535.0.0.65535", true, {65535, 0, 0, 65535}}, {"7", true, {7, 0, 0, 0}},
        {"65536", false, {}}, {"1.2.3.4.5", false, {}}, {"1..2", false, {}}, {"", false, {}},
        {"1.2.", false, {}},  {"v1", false, {}},        {"1.-2", false, {}}, {"000001", false, {}},
    };
    for (const auto& c : cases) {
        VersionNumber number = {9, 9, 9, 9};
        EXPECT_EQ(c.ok, ParseVersionNumber(c.text, number)) << c.text;
        if (c.ok) {
            EXPECT_EQ(c.number, number) << c.text;
        }
    }
}

TEST(VersionBlock, WritesTheLayoutThatItReadsBack) {
    VersionBlock block = VersionBlock::Empty(0x0407, 1252);
    block.SetString(u"CompanyName", u"Norvik");
    block.SetString(u"ProductName", u"Contoso Driver");
    block.SetString(u"productname", u"Widget");  // keys match without regard to case
    block.SetFileVersion({2, 3, 4, 5});
    block.SetProductVersion({6, 0, 0, 1});
    Bytes bytes;
    ASSERT_TRUE(block.Serialize(bytes).Ok());
    EXPECT_EQ(bytes.size(), Load16(&bytes[0]));
    EXPECT_EQ(52u, Load16(&bytes[2]));
    const char16_t key[] = u"VS_VERSION_INFO";
    for (std::size_t i = 0; i < 15; ++i) EXPECT_EQ(key[i], Load16(&bytes[6 + 2 * i]));
    EXPECT_EQ(0xFEEF04BDu, LoadLE32(&bytes[40]));  // after the key, on a 4-byte boundary
    EXPECT_EQ(0x00020003u, LoadLE32(&bytes[48]));
    EXPECT_EQ(0x00040005u, LoadLE32(&bytes[52]));

    VersionBlock read;
    ASSERT_TRUE(VersionBlock::Parse(bytes.data(), bytes.size(), read).Ok());
    Bytes again;
    ASSERT_TRUE(read.Serialize(again).Ok());
    EXPECT_EQ(bytes, again);
    ASSERT_EQ(1u, read.StringTables().size());
    EXPECT_EQ(u"040704e4", read.StringTables()[0].key);
    const std::vector<std::pair<std::u16string, std::u16string>> strings = {
        {u"CompanyName", u"Norvik"}, {u"ProductName", u"Widget"}};
    EXPECT_EQ(strings, read.StringTables()[0].strings);
    EXPECT_EQ(std::vector<std::uint32_t>{0x04E40407u}, read.Translations());
    EXPECT_EQ((VersionNumber{2, 3, 4, 5}), read.FileVersion());
    EXPECT_EQ((VersionNumber{6, 0, 0, 1}), read.ProductVersion());
}

// A string node: wLength, wValueLength, wType 1, key, value.
Bytes StringNode(const std::u16string& key, const std::u16string& value, std::uint16_t valueLength) {
    Bytes node(6);
    for (char16_t c : key + u'\0') Append16(node, c);
    while (node.size() % 4) node.push_back(0);
    for (char16_t c : value + u'\0') Append16(node, c);
    Store16(&node[0], static_cast<std::uint16_t>(node.size()));
    Store16(&node[2], valueLength);
    Store16(&node[4], 1);
    return node;
}

TEST(VersionBlock, KeepsUnknownNodesAndReadsStringLengthsCountedInBytes) {
    Bytes base;
    ASSERT_TRUE(VersionBlock::Empty(0x0409, 1200).Serialize(base).Ok());
    // An extra child of the root, and a string whose length counts bytes.
    Bytes extra = StringNode(u"Extra", u"kept", 5);
    Bytes bytes = base;
    while (bytes.size() % 4) bytes.push_back(0);
    bytes.insert(bytes.end(), extra.begin(), extra.end());
    Store16(&bytes[0], static_cast<std::uint16_t>(bytes.size()));
    VersionBlock block;
    ASSERT_TRUE(VersionBlock::Parse(bytes.data(), bytes.size(), block).Ok());
    Bytes again;
    ASSERT_TRUE(block.Serialize(again).Ok());
    EXPECT_EQ(bytes, again);

    Bytes quirky = base;
    VersionBlock withTable = VersionBlock::Empty(0x0409, 1200);
    withTable.SetString(u"ProductName", u"placeholder");
    ASSERT_TRUE(withTable.Serialize(quirky).Ok());
    Bytes good = StringNode(u"ProductName", u"placeholder", 12);
    const auto at = std::search(quirky.begin(), quirky.end(), good.begin(), good.end());
    ASSERT_NE(quirky.end(), at);
    Store16(&*(at + 2), 100);  // counted in bytes, or wrongly: it runs past its node
    ASSERT_TRUE(VersionBlock::Parse(quirky.data(), quirky.size(), block).Ok());
    EXPECT_EQ(u"placeholder", block.StringTables()[0].strings[0].second);

    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"cut short", [](Bytes& b) { b.resize(4); }},
        {"longer than the data", [](Bytes& b) { Store16(&b[0], static_cast<std::uint16_t>(b.size() + 2)); }},
        {"another root", [](Bytes& b) { b[6] = 'X'; }},
        {"no fixed information", [](Bytes& b) { Store32(&b[40], 0); }},
    };
    for (const auto& c : cases) {
        Bytes damaged = base;
        c.damage(damaged);
        EXPECT_FALSE(VersionBlock::Parse(damaged.data(), damaged.size(), block).Ok()) << c.name;
    }
}

Bytes IconFileBytes(const std::vector<Bytes>& images, std::uint16_t planes, std::uint16_t bits) {
    Bytes file;
    Append16(file, 0);
    Append16(file, 1);
    Append16(file, static_cast<std::uint16_t>(images.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * images.size());
    for (std::size_t i = 0; i < images.size(); ++i) {
        file.insert(file.end(), {static_cast<std::uint8_t>(16 * (i + 1)), static_cast<std::uint8_t>(16 * (i + 1)), 0, 0});
        Append16(file, planes);
        Append16(file, bits);
        Append32(file, static_cast<std::uint32_t>(images[i].size()));
        Append32(file, offset);
        offset += static_cast<std::uint32_t>(images[i].size());
    }
    for (const Bytes& image : images) file.insert(file.end(), image.begin(), image.end());
    return file;
}

// A BITMAPINFOHEADER with planes 1 and `bits`, and some pixels.
Bytes Dib(std::uint16_t bits) {
    Bytes dib(40 + 64, 0x11);
    Store32(&dib[0], 40);
    Store16(&dib[12], 1);
    Store16(&dib[14], bits);
    return dib;
}

TEST(IconFile, ReadsEveryImageAndRefusesWhatIsNoIcon) {
    std::vector<IconImage> images;
    ASSERT_TRUE(ParseIconFile(IconFileBytes({Dib(32), Dib(8)}, 0, 0), images).Ok());
    ASSERT_EQ(2u, images.size());
    EXPECT_EQ(32, images[1].width);
    EXPECT_EQ(1, images[0].planes);  // from the image: the file gave 0
    EXPECT_EQ(32, images[0].bitCount);
    EXPECT_EQ(8, images[1].bitCount);
    EXPECT_EQ(Dib(8), images[1].data);
    ASSERT_TRUE(ParseIconFile(IconFileBytes({Dib(32)}, 1, 24), images).Ok());
    EXPECT_EQ(24, images[0].bitCount);  // the file's own value stands

    const Bytes good = IconFileBytes({Dib(32)}, 1, 32);
    const struct {
        const char* name;
        std::function<void(Bytes&)> damage;
    } cases[] = {
        {"empty", [](Bytes& b) { b.clear(); }},
        {"a cursor", [](Bytes& b) { b[2] = 2; }},
        {"no image", [](Bytes& b) { b[4] = 0; }},
        {"directory past the end", [](Bytes& b) { b[4] = 200; }},
        {"image past the end", [](Bytes& b) { Store32(&b[6 + 8], 4096); }},
        {"image offset past the end", [](Bytes& b) { Store32(&b[6 + 12], 0xFFFFFFF0u); }},
        {"empty image", [](Bytes& b) { Store32(&b[6 + 8], 0); }},
    };
    for (const auto& c : cases) {
        Bytes file = good;
        c.damage(file);
        const Status status = ParseIconFile(file, images);
        EXPECT_FALSE(status.Ok()) << c.name;
        EXPECT_EQ(0u, status.Message().find("not an icon file")) << c.name;
    }
}

Bytes Group(const std::vector<std::uint16_t>& ids) {
    Bytes group;
    Append16(group, 0);
    Append16(group, 1);
    Append16(group, static_cast<std::uint16_t>(ids.size()));
    for (std::uint16_t id : ids) {
        group.insert(group.end(), {32, 32, 0, 0, 1, 0, 32, 0, 4, 0, 0, 0});
        Append16(group, id);
    }
    return group;
}

TEST(IconFile, ReplacesTheFirstGroupAndTheImagesOnlyItNames) {
    std::vector<Resource> resources = {
        Make(Id(kResourceIcon), Id(1), 0, {1}), Make(Id(kResourceIcon), Id(2), 0, {2}),
        Make(Id(kResourceIcon), Id(3), 0, {3}), Make(Id(kResourceIcon), Id(5), 0, {5}),
        Make(Id(kResourceGroupIcon), Id(200), 0, Group({3, 5})),
        Make(Id(kResourceGroupIcon), Id(100), 0x409, Group({1, 2, 3})),
        Make(Id(kResourceGroupIcon), Id(100), 0x407, Group({1, 2, 3})),
        Make(Id(6), Id(1), 0x409, {9}),
    };
    std::vector<IconImage> images;
    ASSERT_TRUE(ParseIconFile(IconFileBytes({Dib(32), Dib(4), Dib(8)}, 0, 0), images).Ok());
    ASSERT_TRUE(ReplaceIcon(resources, images).Ok());

    std::vector<std::string> paths;
    for (const Resource& r : resources) paths.push_back(Path(r));
    std::sort(paths.begin(), paths.end());
    // 1 and 2 go; 3 stays for group 200; the new images take 1, 2 and 4.
    const std::vector<std::string> expected = {"14/100/1031", "14/100/1033", "14/200/0", "3/1/1033",
                                               "3/2/1033",    "3/3/0",       "3/4/1033", "3/5/0",
                                               "6/1/1033"};
    EXPECT_EQ(expected, paths);
    for (const Resource& r : resources) {
        if (r.type == Id(kResourceIcon) && r.language == Id(0x409)) {
            EXPECT_EQ(images[r.name.id == 4 ? 2 : r.name.id - 1].data, r.data) << Path(r);
        }
        if (r.type == Id(kResourceGroupIcon) && r.name == Id(100)) {
            ASSERT_EQ(6u + 3 * 14, r.data.size());
            EXPECT_EQ(3, Load16(&r.data[4]));
            const std::uint8_t second[] = {32, 32, 0, 0, 1, 0, 4, 0};
            EXPECT_EQ(0, std::memcmp(second, &r.data[6 + 14], sizeof second));
            EXPECT_EQ(Dib(4).size(), LoadLE32(&r.data[6 + 14 + 8]));
            EXPECT_EQ(2, Load16(&r.data[6 + 14 + 12]));
            EXPECT_EQ(4, Load16(&r.data[6 + 28 + 12]));
        }
    }

    // Without any group: group 1, neutral.
    std::vector<Resource> bare = {Make(Id(6), Id(1), 0x409, {9})};
    ASSERT_TRUE(ReplaceIcon(bare, images).Ok());
    EXPECT_EQ("14/1/0", Path(bare.back()));
}

TEST(PeChecksum, SumsWordsWithTheCarryAndAddsTheLength) {
    const Bytes ones = {0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(0xFFFFu + 4, PeChecksum(ones.data(), ones.size(), 1000));  // 0x1FFFE folds to 0xFFFF
    const Bytes odd = {0x01, 0x02, 0x03};
    EXPECT_EQ(0x0204u + 3, PeChecksum(odd.data(), odd.size(), 1000));
    // The field counts as zero wherever it lies.
    const Bytes field = {0x01, 0x02, 0xAA, 0xBB, 0xCC, 0xDD, 0x03, 0x00};
    EXPECT_EQ(0x0204u + 8, PeChecksum(field.data(), field.size(), 2));
    const Bytes shifted = {0x01, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x03, 0x00};
    EXPECT_EQ(0x0001u + 0x0200 + 0x0003 + 8, PeChecksum(shifted.data(), shifted.size(), 1));
}

// A stub with an .rsrc section holding `resources` at 0x2000 (file offset
// 0x400), after MinimalPe's .text; `behind` adds a section after it.
Bytes StubWithResources(const std::vector<Resource>& resources, bool behind = false) {
    Bytes image = test::MinimalPe();
    const std::size_t optional = 0x80 + 24;
    const std::size_t table = optional + 224;
    Store32(&image[optional + 32], 0x1000);  // section alignment
    Store32(&image[optional + 36], 0x200);   // file alignment
    Store32(&image[optional + 56], 0x3000);  // SizeOfImage
    Bytes section;
    EXPECT_TRUE(BuildResourceSection(resources, 0x2000, section).Ok());
    const std::uint32_t raw = static_cast<std::uint32_t>((section.size() + 0x1FF) & ~0x1FFu);
    image[0x86] = behind ? 3 : 2;
    std::memcpy(&image[table + 40], ".rsrc", 5);
    Store32(&image[table + 40 + 8], static_cast<std::uint32_t>(section.size()));
    Store32(&image[table + 40 + 12], 0x2000);
    Store32(&image[table + 40 + 16], raw);
    Store32(&image[table + 40 + 20], 0x400);
    Store32(&image[table + 40 + 36], 0x40000040);  // initialised data, readable
    Store32(&image[optional + 96 + 16], 0x2000);
    Store32(&image[optional + 96 + 20], static_cast<std::uint32_t>(section.size()));
    section.resize(raw, 0);
    image.insert(image.end(), section.begin(), section.end());
    if (behind) {
        std::memcpy(&image[table + 80], ".reloc", 6);
        Store32(&image[table + 80 + 8], 0x200);
        Store32(&image[table + 80 + 12], 0x2000 + ((raw + 0xFFF) & ~0xFFFu));
        Store32(&image[table + 80 + 16], 0x200);
        Store32(&image[table + 80 + 20], static_cast<std::uint32_t>(image.size()));
        image.resize(image.size() + 0x200, 0x5A);
    }
    return image;
}

std::vector<Resource> StubResources() {
    Bytes version;
    VersionBlock block = VersionBlock::Empty(0x0409, 1200);
    block.SetString(u"CompanyName", u"Norvik Corporation");
    block.SetString(u"ProductName", u"Norvik Quarry Tool");
    EXPECT_TRUE(block.Serialize(version).Ok());
    return {Make(Id(24), Id(1), 0x409, test::ToBytes("<assembly/>")),
            Make(Id(6), Id(8), 0x409, Bytes(700, 0x42)),
            Make(Id(kResourceVersion), Id(1), 0x409, version)};
}

TEST(ProgramResources, RewritesTheLastSectionAndTheFieldsThatFollowIt) {
    Bytes stub = StubWithResources(StubResources());
    const std::size_t optional = 0x80 + 24;
    const std::size_t header = optional + 224 + 40;
    const std::uint32_t rawBefore = LoadLE32(&stub[header + 16]);
    ProgramResourceOptions options;
    options.company = "Contoso Ltd";
    options.fileVersion = "3.1";
    const std::u16string longName(1000, u'n');  // the section grows by more than one block
    bool rewritten = false;
    ASSERT_TRUE(SetProgramResources(stub, "stub.exe", options, longName, "Setup.exe", rewritten).Ok());
    ASSERT_TRUE(rewritten);

    const std::uint32_t virtualSize = LoadLE32(&stub[header + 8]);
    const std::uint32_t raw = LoadLE32(&stub[header + 16]);
    EXPECT_EQ(0x400u + raw, stub.size());
    EXPECT_EQ(0u, raw % 0x200);
    EXPECT_GE(raw, virtualSize);
    EXPECT_LT(raw - virtualSize, 0x200u);
    EXPECT_EQ(virtualSize, LoadLE32(&stub[optional + 96 + 20]));
    EXPECT_EQ((0x2000 + virtualSize + 0xFFFu) & ~0xFFFu, LoadLE32(&stub[optional + 56]));
    EXPECT_GT(raw, rawBefore);
    EXPECT_EQ(raw - rawBefore, LoadLE32(&stub[optional + 8]));  // initialised data grew with it
    EXPECT_EQ(PeChecksum(stub.data(), stub.size(), optional + 64), LoadLE32(&stub[optional + 64]));

    std::vector<Resource> read;
    ASSERT_TRUE(ParseResourceSection(&stub[0x400], raw, 0x2000, read).Ok());
    const std::vector<Resource> before = StubResources();
    ASSERT_EQ(3u, read.size());
    EXPECT_EQ(before[1].data, read[0].data);  // the string table, then the version, the manifest
    EXPECT_EQ(before[0].data, read[2].data);
    VersionBlock block;
    ASSERT_TRUE(VersionBlock::Parse(read[1].data.data(), read[1].data.size(), block).Ok());
    const std::vector<std::pair<std::u16string, std::u16string>> strings = {
        {u"CompanyName", u"Contoso Ltd"}, {u"ProductName", longName},
        {u"FileDescription", longName},   {u"FileVersion", u"3.1"},
        {u"OriginalFilename", u"Setup.exe"}, {u"InternalName", u"Setup"}};
    EXPECT_EQ(strings, block.StringTables()[0].strings);
    EXPECT_EQ((VersionNumber{3, 1, 0, 0}), block.FileVersion());
}

TEST(ProgramResources, RefusesStubsWhoseResourcesItCannotReplace) {
    ProgramResourceOptions named;
    named.productName = "Contoso";
    const struct {
        const char* name;
        Bytes stub;
        ProgramResourceOptions options;
        const char* message;
    } cases[] = {
        {"section behind", StubWithResources(StubResources(), true), named,
         "its resource section is not the last section"},
        {"no resources", test::MinimalPe(), named, "has no resource section"},
        {"short optional header", [] { Bytes b = test::MinimalPe(); b[0x80 + 20] = 64; return b; }(),
         named, "optional header too short"},
        {"bad version", StubWithResources(StubResources()),
         [] { ProgramResourceOptions o; o.productVersion = "1.x"; return o; }(),
         "--product-version: \"1.x\" is not a version"},
        {"icon missing", StubWithResources(StubResources()),
         [] { ProgramResourceOptions o; o.iconPath = "/nonexistent/a.ico"; return o; }(),
         "/nonexistent/a.ico"},
    };
    for (const auto& c : cases) {
        Bytes stub = c.stub;
        bool rewritten = true;
        const Status status = SetProgramResources(stub, "stub.exe", c.options, u"", "out.exe", rewritten);
        EXPECT_FALSE(status.Ok()) << c.name;
        EXPECT_NE(std::string::npos, status.Message().find(c.message)) << c.name << ": " << status.Message();
        EXPECT_EQ(c.stub, stub) << c.name;
    }
    // The product name of the settings alone leaves a stub without any
    // resources, and a stub when there is nothing to set, as they are.
    for (const std::u16string& settingsName : {std::u16string(u"Widget"), std::u16string()}) {
        Bytes stub = settingsName.empty() ? StubWithResources(StubResources()) : test::MinimalPe();
        const Bytes before = stub;
        bool rewritten = true;
        EXPECT_TRUE(SetProgramResources(stub, "stub.exe", {}, settingsName, "out.exe", rewritten).Ok());
        EXPECT_FALSE(rewritten);
        EXPECT_EQ(before, stub);
    }
}

TEST(ProgramResources, ChecksumOfAFileEqualsTheOneInMemory) {
    test::ScratchFolder dir;
    Bytes file = StubWithResources(StubResources());
    file.resize(3 * 1024 * 1024 + 1);  // more than one block, and odd
    for (std::size_t i = 0x1000; i < file.size(); ++i) file[i] = static_cast<std::uint8_t>(i * 131);
    test::WriteFile(dir / "a.exe", file);
    UniqueFd fd(::open((dir / "a.exe").c_str(), O_RDWR | O_CLOEXEC));
    ASSERT_TRUE(fd.Valid());
    ASSERT_TRUE(UpdateImageChecksum(fd.Get(), dir / "a.exe").Ok());
    const Bytes written = test::ReadFile(dir / "a.exe");
    const std::size_t field = 0x80 + 24 + 64;
    EXPECT_EQ(PeChecksum(file.data(), file.size(), field), LoadLE32(&written[field]));
    EXPECT_NE(0u, LoadLE32(&written[field]));
}

TEST(ProgramResources, CreateOptionsReachTheStubOrAreUsageErrors) {
    test::ScratchFolder dir;
    test::WriteFile(dir / "stub.exe", test::MinimalPe());
    test::WriteFile(dir / "Settings.ini", "[Package]\r\nProductName=Widget\r\n");
    test::WriteFile(dir / "payload/a.txt", "a");
    const std::vector<std::string> base = {"create", "--stub", dir / "stub.exe", "--settings",
                                           dir / "Settings.ini", "--payload", dir / "payload",
                                           "-o", dir / "out.exe"};
    // The settings' product name alone: the stand-in stub is packed as it is.
    EXPECT_EQ(0, test::RunTool(base).exitCode);
    std::vector<std::string> args = base;
    args.insert(args.end(), {"--product-name", "Contoso"});
    test::ToolRun run = test::RunTool(args);
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("stub.exe: has no resource section")) << run.err;
    args = base;
    args.insert(args.end(), {"--file-version=1.2.3.4.5"});
    run = test::RunTool(args);
    EXPECT_EQ(2, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("--file-version: \"1.2.3.4.5\" is not a version")) << run.err;
    run = test::RunTool({"check", "--settings", dir / "Settings.ini", "--payload", dir / "payload",
                         "--icon", dir / "a.ico"});
    EXPECT_EQ(2, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("--icon belongs to create")) << run.err;
}

}  // namespace
}  // namespace quarry::pack

#include "VersionBlock.h"

#include <cstdio>

#include "LittleEndian.h"
#include "package/PackageFormat.h"

namespace quarry::pack {

namespace {

constexpr std::size_t kNodeHeaderSize = 6;
constexpr std::size_t kFixedInfoSize = 52;
constexpr std::uint32_t kFixedSignature = 0xFEEF04BDu;
constexpr int kMaxDepth = 8;
const char16_t kRootKey[] = u"VS_VERSION_INFO";
const char16_t kStringFileInfo[] = u"StringFileInfo";
const char16_t kVarFileInfo[] = u"VarFileInfo";
const char16_t kTranslation[] = u"Translation";

void Pad4(std::vector<std::uint8_t>& out) {
    while (out.size() % 4 != 0) out.push_back(0);
}

std::size_t Align4(std::size_t value) { return (value + 3) & ~std::size_t{3}; }

Status Bad(const std::string& what) { return Status::Error("version block: " + what); }

std::vector<std::uint8_t> TextValue(const std::u16string& text) {
    std::vector<std::uint8_t> value;
    for (char16_t c : text) Append16(value, c);
    Append16(value, 0);
    return value;
}

std::u16string ValueText(const VersionNode& node) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < node.value.size(); i += 2) {
        const char16_t c = Load16(&node.value[i]);
        if (c == 0) break;
        text.push_back(c);
    }
    return text;
}

bool SameKey(const std::u16string& a, const std::u16string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char16_t x = a[i], y = b[i];
        if (x >= u'A' && x <= u'Z') x = static_cast<char16_t>(x + 32);
        if (y >= u'A' && y <= u'Z') y = static_cast<char16_t>(y + 32);
        if (x != y) return false;
    }
    return true;
}

VersionNode* Child(VersionNode& node, const std::u16string& key) {
    for (VersionNode& child : node.children) {
        if (SameKey(child.key, key)) return &child;
    }
    return nullptr;
}

const VersionNode* Child(const VersionNode& node, const std::u16string& key) {
    return Child(const_cast<VersionNode&>(node), key);
}

// `data` is the whole block, so that alignment is counted from its start.
Status ParseNode(const std::uint8_t* data, std::size_t at, std::size_t end, int depth,
                 VersionNode& node, std::size_t& nodeEnd) {
    if (depth > kMaxDepth) return Bad("nested too deeply");
    if (end - at < kNodeHeaderSize) return Bad("a node is cut short");
    const std::size_t length = Load16(data + at);
    const std::size_t valueLength = Load16(data + at + 2);
    const std::uint16_t type = Load16(data + at + 4);
    if (length < kNodeHeaderSize || length > end - at) return Bad("a node's length is out of range");
    nodeEnd = at + length;
    node.text = type == 1;
    std::size_t pos = at + kNodeHeaderSize;
    for (;;) {
        if (nodeEnd - pos < 2) return Bad("a key without its end");
        const char16_t c = Load16(data + pos);
        pos += 2;
        if (c == 0) break;
        node.key.push_back(c);
    }
    pos = std::min(Align4(pos), nodeEnd);
    // Some writers count a string's value in bytes rather than characters;
    // a value that would run past its node ends with the node.
    const std::size_t valueBytes = std::min(node.text ? 2 * valueLength : valueLength, nodeEnd - pos);
    node.value.assign(data + pos, data + pos + valueBytes);
    // A string is kept up to its first NUL, which is added when missing.
    if (node.text && valueBytes > 0) node.value = TextValue(ValueText(node));
    pos = std::min(Align4(pos + valueBytes), nodeEnd);
    while (nodeEnd - pos >= kNodeHeaderSize) {
        VersionNode child;
        std::size_t childEnd = 0;
        RETURN_IF_ERROR(ParseNode(data, pos, nodeEnd, depth + 1, child, childEnd));
        node.children.push_back(std::move(child));
        pos = std::min(Align4(childEnd), nodeEnd);
    }
    return Status();
}

// False when a node outgrows its 16-bit length.
bool SerializeNode(const VersionNode& node, std::vector<std::uint8_t>& out) {
    const std::size_t start = out.size();
    Append16(out, 0);
    Append16(out, static_cast<std::uint16_t>(node.text ? node.value.size() / 2 : node.value.size()));
    Append16(out, node.text ? 1 : 0);
    for (char16_t c : node.key) Append16(out, c);
    Append16(out, 0);
    Pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        Pad4(out);
        if (!SerializeNode(child, out)) return false;
    }
    const std::size_t length = out.size() - start;
    if (length > 0xFFFF || node.value.size() > 0xFFFF) return false;
    out[start] = static_cast<std::uint8_t>(length);
    out[start + 1] = static_cast<std::uint8_t>(length >> 8);
    return true;
}

std::uint32_t FixedField(const VersionNode& root, std::size_t offset) {
    return root.value.size() >= offset + 4 ? LoadLE32(&root.value[offset]) : 0;
}

void SetFixedField(VersionNode& root, std::size_t offset, std::uint32_t value) {
    Store32(&root.value[offset], value);
}

VersionNumber FixedVersion(const VersionNode& root, std::size_t offset) {
    const std::uint32_t high = FixedField(root, offset);
    const std::uint32_t low = FixedField(root, offset + 4);
    return {static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
            static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)};
}

void SetFixedVersion(VersionNode& root, std::size_t offset, const VersionNumber& number) {
    SetFixedField(root, offset, (std::uint32_t{number[0]} << 16) | number[1]);
    SetFixedField(root, offset + 4, (std::uint32_t{number[2]} << 16) | number[3]);
}

std::u16string TableKey(std::uint16_t language, std::uint16_t codePage) {
    char text[9];
    std::snprintf(text, sizeof text, "%04x%04x", language, codePage);
    return std::u16string(text, text + 8);
}

VersionNode Node(const std::u16string& key, bool text = false) {
    VersionNode node;
    node.key = key;
    node.text = text;
    return node;
}

}  // namespace

bool ParseVersionNumber(const std::string& text, VersionNumber& number) {
    VersionNumber parts = {0, 0, 0, 0};
    std::size_t part = 0;
    std::size_t digits = 0;
    std::uint32_t value = 0;
    for (std::size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == '.') {
            if (digits == 0 || part == 4) return false;
            parts[part++] = static_cast<std::uint16_t>(value);
            digits = 0;
            value = 0;
            continue;
        }
        if (text[i] < '0' || text[i] > '9' || ++digits > 5) return false;
        value = value * 10 + static_cast<std::uint32_t>(text[i] - '0');
        if (value > 0xFFFF) return false;
    }
    number = parts;
    return true;
}

VersionBlock VersionBlock::Empty(std::uint16_t language, std::uint16_t codePage) {
    VersionBlock block;
    block.root_ = Node(kRootKey);
    block.root_.value.assign(kFixedInfoSize, 0);
    SetFixedField(block.root_, 0, kFixedSignature);
    SetFixedField(block.root_, 4, 0x00010000);  // structure version 1.0
    SetFixedField(block.root_, 24, 0x3F);       // VS_FFI_FILEFLAGSMASK
    SetFixedField(block.root_, 32, 0x00040004);  // VOS_NT_WINDOWS32
    SetFixedField(block.root_, 36, 1);           // VFT_APP
    VersionNode strings = Node(kStringFileInfo, true);
    strings.children.push_back(Node(TableKey(language, codePage), true));
    block.root_.children.push_back(std::move(strings));
    VersionNode translation = Node(kTranslation);
    translation.value = {static_cast<std::uint8_t>(language), static_cast<std::uint8_t>(language >> 8),
                         static_cast<std::uint8_t>(codePage), static_cast<std::uint8_t>(codePage >> 8)};
    VersionNode variables = Node(kVarFileInfo, true);
    variables.children.push_back(std::move(translation));
    block.root_.children.push_back(std::move(variables));
    return block;
}

Status VersionBlock::Parse(const std::uint8_t* data, std::size_t size, VersionBlock& block) {
    block = VersionBlock();
    std::size_t end = 0;
    RETURN_IF_ERROR(ParseNode(data, 0, size, 0, block.root_, end));
    if (block.root_.key != kRootKey) return Bad("the root is not VS_VERSION_INFO");
    if (block.root_.value.size() < kFixedInfoSize || FixedField(block.root_, 0) != kFixedSignature) {
        return Bad("no fixed file information");
    }
    return Status();
}

Status VersionBlock::Serialize(std::vector<std::uint8_t>& out) const {
    out.clear();
    if (!SerializeNode(root_, out)) return Bad("longer than 65535 bytes");
    return Status();
}

void VersionBlock::SetString(const std::u16string& key, const std::u16string& value) {
    VersionNode* strings = Child(root_, kStringFileInfo);
    if (strings == nullptr) {
        // Before VarFileInfo, where resource compilers put it.
        root_.children.insert(root_.children.begin(), Node(kStringFileInfo, true));
        strings = &root_.children.front();
    }
    if (strings->children.empty()) {
        const std::vector<std::uint32_t> translations = Translations();
        const std::uint32_t first = translations.empty() ? 0x04B00409u : translations.front();
        strings->children.push_back(
            Node(TableKey(static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(first >> 16)), true));
    }
    for (VersionNode& table : strings->children) {
        VersionNode* entry = Child(table, key);
        if (entry == nullptr) {
            table.children.push_back(Node(key, true));
            entry = &table.children.back();
        }
        entry->text = true;
        entry->value = TextValue(value);
    }
}

void VersionBlock::SetFileVersion(const VersionNumber& number) { SetFixedVersion(root_, 8, number); }

void VersionBlock::SetProductVersion(const VersionNumber& number) {
    SetFixedVersion(root_, 16, number);
}

std::vector<VersionBlock::StringTable> VersionBlock::StringTables() const {
    std::vector<StringTable> tables;
    const VersionNode* strings = Child(root_, kStringFileInfo);
    if (strings == nullptr) return tables;
    for (const VersionNode& table : strings->children) {
        StringTable out;
        out.key = table.key;
        for (const VersionNode& entry : table.children) out.strings.emplace_back(entry.key, ValueText(entry));
        tables.push_back(std::move(out));
    }
    return tables;
}

std::vector<std::uint32_t> VersionBlock::Translations() const {
    std::vector<std::uint32_t> list;
    const VersionNode* variables = Child(root_, kVarFileInfo);
    const VersionNode* translation = variables ? Child(*variables, kTranslation) : nullptr;
    if (translation == nullptr) return list;
    for (std::size_t i = 0; i + 4 <= translation->value.size(); i += 4) {
        list.push_back(LoadLE32(&translation->value[i]));
    }
    return list;
}

VersionNumber VersionBlock::FileVersion() const { return FixedVersion(root_, 8); }

VersionNumber VersionBlock::ProductVersion() const { return FixedVersion(root_, 16); }

}  // namespace quarry::pack
